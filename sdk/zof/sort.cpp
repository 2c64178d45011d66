// zof sorting engine and permutation applier.
#include "zof/sort.h"

#include <chrono>
#include <cstring>

#include "zof/bit_array.h"
#include "zof/exceptions.h"
#include "zof/memory.h"

#if defined(__i386__) || defined(__x86_64__)
#  include <x86intrin.h>
#endif

namespace zof {

namespace {
// The C runtime's linear congruential generator, kept per thread.
thread_local std::uint32_t t_random_state = 1;
} // namespace

void random_seed(std::uint32_t seed) { t_random_state = seed; }

int random_next() {
    t_random_state = t_random_state * 214013u + 2531011u;
    return static_cast<int>((t_random_state >> 16) & 0x7FFF);
}

std::uint64_t timestamp_counter() {
#if defined(__i386__) || defined(__x86_64__)
    return __rdtsc();
#else
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

namespace {

// A random index below n (n at least 1).
t_size random_index(t_size n) {
    std::uint64_t scale = 1;
    std::uint64_t sum = 0;
    while (scale < n) {
        sum += static_cast<std::uint64_t>(random_next()) * scale;
        scale *= 32768;
    }
    return static_cast<t_size>((sum ^ timestamp_counter()) % n);
}

// Median of three distinct random positions of the range.
t_size choose_pivot(sort_callback& cb, t_size start, t_size count) {
    const t_size a = random_index(count);
    const t_size b = random_index(count - 1);
    const t_size c = random_index(count - 2);
    const t_size b1 = b >= a ? b + 1 : b;
    const t_size c1 = c >= a ? c + 1 : c;
    const t_size c2 = c1 >= b1 ? c1 + 1 : c1;
    t_size low = start + a;
    t_size high = start + b1;
    const t_size third = start + c2;
    if (cb.compare(low, high) > 0) {
        const t_size t = low;
        low = high;
        high = t;
    }
    const t_size m = cb.compare(low, third) <= 0 ? third : low;
    return cb.compare(high, m) > 0 ? m : high;
}

void small_sort(sort_callback& cb, t_size start, t_size count) {
    const t_size end = start + count;
    for (t_size i = start + 1; i < end; ++i) {
        for (t_size j = start; j < i; ++j) {
            if (cb.compare(j, i) > 0) cb.swap(j, i);
        }
    }
}

void quicksort(sort_callback& cb, t_size start, t_size count) {
    while (count > 4) {
        const t_size last = start + count - 1;
        const t_size chosen = choose_pivot(cb, start, count);
        if (chosen != last) cb.swap(chosen, last);
        // Items equal to the pivot go alternately right and left, so that
        // runs of equal keys split evenly.
        t_size store = start;
        bool flip = false;
        for (t_size i = start; i < last; ++i) {
            const int r = cb.compare(i, last);
            if (r > 0) continue;
            if (r == 0) {
                flip = !flip;
                if (flip) continue;
            }
            if (i != store) cb.swap(i, store);
            ++store;
        }
        if (store != last) cb.swap(store, last);
        const t_size left = store - start;
        const t_size right = count - 1 - left;
        // Recurse into the smaller side so the stack stays logarithmic.
        if (left <= right) {
            quicksort(cb, start, left);
            start = store + 1;
            count = right;
        } else {
            quicksort(cb, store + 1, right);
            count = left;
        }
    }
    small_sort(cb, start, count);
}

class stable_wrap final : public sort_callback {
public:
    stable_wrap(sort_callback& inner, std::uint32_t* order) : m_inner(inner), m_order(order) {}
    int compare(t_size i, t_size j) override {
        const int r = m_inner.compare(i, j);
        if (r != 0) return r;
        return m_order[i] < m_order[j] ? -1 : (m_order[i] > m_order[j] ? 1 : 0);
    }
    void swap(t_size i, t_size j) override {
        m_inner.swap(i, j);
        const std::uint32_t t = m_order[i];
        m_order[i] = m_order[j];
        m_order[j] = t;
    }

private:
    sort_callback& m_inner;
    std::uint32_t* m_order;
};

// An index array released also when a comparison throws.
class order_array {
public:
    explicit order_array(t_size count) {
        array_set_size(m_data, count);
        for (t_size i = 0; i < count; ++i) m_data[i] = i;
    }
    ~order_array() { array_set_size(m_data, 0); }
    order_array(const order_array&) = delete;
    order_array& operator=(const order_array&) = delete;
    std::uint32_t* get() { return m_data; }

private:
    std::uint32_t* m_data = nullptr;
};

} // namespace

void sort(sort_callback& callback, t_size count) {
    random_seed(static_cast<std::uint32_t>(timestamp_counter()) ^ count);
    quicksort(callback, 0, count);
}

void sort_stable(sort_callback& callback, t_size count) {
    order_array order(count);
    stable_wrap wrap(callback, order.get());
    sort(wrap, count);
}

void reorder(reorder_callback& callback, const t_size* order, t_size count) {
    // Positions already placed: the first 8192 inside, the rest on the heap.
    constexpr t_size inline_bits = 8192;
    unsigned char inline_table[inline_bits / 8] = {};
    unsigned char* heap_table = nullptr;
    struct heap_guard {
        unsigned char*& p;
        ~heap_guard() { raw_realloc(p, 0); }
    } guard{heap_table};
    if (count > inline_bits) {
        const t_size bytes = static_cast<t_size>((std::uint64_t(count) + 7) / 8 - inline_bits / 8);
        heap_table = static_cast<unsigned char*>(alloc_or_throw(bytes));
        std::memset(heap_table, 0, bytes);
    }
    auto bit = [&](t_size n) -> unsigned char& {
        return n < inline_bits ? inline_table[n >> 3] : heap_table[(n - inline_bits) >> 3];
    };
    auto is_set = [&](t_size n) { return (bit(n) >> (n & 7) & 1) != 0; };
    auto set = [&](t_size n) { bit(n) |= static_cast<unsigned char>(1u << (n & 7)); };

    for (t_size i = 0; i < count; ++i) {
        if (order[i] == i || is_set(i)) continue;
        t_size j = i;
        t_size k = order[i];
        do {
            // A cycle that leaves the range or meets a placed position means
            // the order is no permutation: stop before looping or reading
            // out of bounds.
            if (k >= count || is_set(k)) throw exception_invalid_permutation();
            callback.swap(j, k);
            set(k);
            j = k;
            k = order[k];
        } while (k != i);
    }
}

namespace {

class memory_callback final : public sort_callback {
public:
    memory_callback(void* base, t_size size, compare_function compare)
        : m_base(static_cast<unsigned char*>(base)), m_size(size), m_compare(compare) {}
    int compare(t_size i, t_size j) override { return m_compare(at(i), at(j)); }
    void swap(t_size i, t_size j) override {
        unsigned char* a = at(i);
        unsigned char* b = at(j);
        for (t_size n = 0; n < m_size; ++n) {
            const unsigned char t = a[n];
            a[n] = b[n];
            b[n] = t;
        }
    }

private:
    unsigned char* at(t_size i) const { return m_base + std::size_t(i) * m_size; }
    unsigned char* m_base;
    t_size m_size;
    compare_function m_compare;
};

} // namespace

void sort_memory(void* base, t_size count, t_size size, compare_function compare, bool stable) {
    memory_callback cb(base, size, compare);
    if (stable) sort_stable(cb, count);
    else sort(cb, count);
}

} // namespace zof
