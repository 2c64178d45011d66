#pragma once
// zof sorting and reordering: an in-place quicksort with random
// median-of-three pivots, its stable variant, and the permutation applier.
#include <cstdint>

#include "zof/string_base.h"

namespace zof {

// Compares and swaps items by index.
class sort_callback {
public:
    // Negative, zero or positive as item i sorts before, with or after j.
    virtual int compare(t_size i, t_size j) = 0;
    virtual void swap(t_size i, t_size j) = 0;

protected:
    ~sort_callback() = default;
};

class reorder_callback {
public:
    virtual void swap(t_size i, t_size j) = 0;

protected:
    ~reorder_callback() = default;
};

// Passes swaps on with a base index added to both indexes.
class reorder_callback_impl_delta : public reorder_callback {
public:
    reorder_callback_impl_delta(reorder_callback& inner, t_size base) : m_inner(inner), m_base(base) {}
    void swap(t_size i, t_size j) override { m_inner.swap(i + m_base, j + m_base); }

private:
    reorder_callback& m_inner;
    t_size m_base;
};

// Sorts items 0 .. count - 1 in place; the order of equal items is not fixed.
void sort(sort_callback& callback, t_size count);
// The same, keeping equal items in their order.
void sort_stable(sort_callback& callback, t_size count);
// Moves the item order[i] to position i for every i. An order that is not a
// permutation of 0 .. count - 1 throws exception_invalid_permutation.
void reorder(reorder_callback& callback, const t_size* order, t_size count);

// Sorts a plain memory array of `count` elements of `size` bytes.
using compare_function = int (*)(const void* a, const void* b);
void sort_memory(void* base, t_size count, t_size size, compare_function compare, bool stable = false);

// The sorts' random source: one generator per thread, with the same
// sequence on every build (15-bit results).
void random_seed(std::uint32_t seed);
int random_next();
// The processor's time-stamp counter (a fine clock where there is none).
std::uint64_t timestamp_counter();

} // namespace zof
