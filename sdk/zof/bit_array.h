#pragma once
// zof bit masks over item indexes.
#include <cstdint>

#include "zof/memory.h"
#include "zof/string_base.h"

namespace zof {

class bit_array {
public:
    virtual bool get(t_size n) const = 0;
    // Examines |count| positions from start, forward for a positive count
    // (start, start + 1, ...), backward for a negative one (start, start - 1,
    // ...); gives the first index whose bit equals `value`, or start + count
    // when none does.
    virtual t_size find(bool value, t_size start, std::int64_t count) const;

protected:
    ~bit_array() = default;
};

// Every bit true.
class bit_array_true : public bit_array {
public:
    bool get(t_size) const override { return true; }
    t_size find(bool value, t_size start, std::int64_t count) const override {
        return value ? start : static_cast<t_size>(std::int64_t(start) + count);
    }
};

// Every bit false.
class bit_array_false : public bit_array {
public:
    bool get(t_size) const override { return false; }
    t_size find(bool value, t_size start, std::int64_t count) const override {
        return value ? static_cast<t_size>(std::int64_t(start) + count) : start;
    }
};

// One bit.
class bit_array_one : public bit_array {
public:
    explicit bit_array_one(t_size index) : m_index(index) {}
    bool get(t_size n) const override { return n == m_index; }

private:
    t_size m_index;
};

// A table of `size` settable bits, all clear at first; bits beyond the size
// read false.
class bit_array_bittable : public bit_array {
public:
    explicit bit_array_bittable(t_size size = 0) { resize(size); }
    ~bit_array_bittable() { raw_realloc(m_bits, 0); }
    bit_array_bittable(const bit_array_bittable&) = delete;
    bit_array_bittable& operator=(const bit_array_bittable&) = delete;

    // Keeps the bits below the new size; new bits are clear.
    void resize(t_size size);
    t_size size() const { return m_size; }
    bool get(t_size n) const override {
        return n < m_size && (m_bits[n >> 3] >> (n & 7) & 1) != 0;
    }
    void set(t_size n, bool value) {
        if (n >= m_size) return;
        const unsigned char mask = static_cast<unsigned char>(1u << (n & 7));
        if (value) m_bits[n >> 3] |= mask;
        else m_bits[n >> 3] &= static_cast<unsigned char>(~mask);
    }

private:
    unsigned char* m_bits = nullptr;
    t_size m_size = 0;
};

} // namespace zof
