#pragma once
// zof: the one reallocation primitive under every container and string.
// Sizes are 32-bit on both builds; a size that does not fit 32 bits is a
// "bad allocation", never a silent wrap.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "zof/exceptions.h"
#include "zof/string_base.h"

namespace zof {

// n = 0 frees the block and gives null; otherwise reallocates (or first
// allocates) keeping the contents. Throws "bad allocation" when the heap
// refuses, leaving the old block untouched.
void* raw_realloc(void* block, t_size n);

// raw_realloc storing the result in the holder (the holder is unchanged on
// failure).
template <typename T>
void realloc_bytes(T*& holder, t_size n) {
    holder = static_cast<T*>(raw_realloc(holder, n));
}

// count * element_size, or "bad allocation" when it does not fit 32 bits.
t_size multiply_size(t_size count, t_size element_size);
// a + b, or "bad allocation" when it does not fit 32 bits.
t_size add_size(t_size a, t_size b);

// Array sizing: the byte size is checked before anything is touched.
template <typename T>
void realloc_array(T*& holder, t_size count) {
    static_assert(std::is_trivially_copyable<T>::value, "raw reallocation moves bytes");
    const t_size bytes = multiply_size(count, static_cast<t_size>(sizeof(T)));
    holder = static_cast<T*>(raw_realloc(holder, bytes));
}
inline void array_set_size(std::uint32_t*& holder, t_size count) { realloc_array(holder, count); }
inline void chunk_array_reserve(std::uint64_t*& holder, t_size count) { realloc_array(holder, count); }

// n = 0 gives null; otherwise n bytes or "bad allocation".
void* alloc_or_throw(t_size n);
// "bad allocation" for a null pointer.
void check_non_null(const void* pointer);
// Tries to resize a block without moving it; never throws. A null block
// succeeds only for n = 0, n = 0 on a real block fails.
bool try_resize_in_place(void* block, t_size n);

// The heap function behind raw_realloc: realloc unless replaced. Tests
// replace it to count calls or to refuse memory; returns the previous one.
using realloc_function = void* (*)(void* block, std::size_t n);
realloc_function set_realloc_function(realloc_function fn);

// A block of T aligned to Alignment bytes (audio sample buffers).
void* aligned_realloc(void* block, t_size old_bytes, t_size new_bytes, t_size alignment);
void aligned_free(void* block);

template <typename T, unsigned Alignment>
class mem_block_aligned_t {
    static_assert(std::is_trivially_copyable<T>::value, "aligned blocks hold plain values");
    static_assert((Alignment & (Alignment - 1)) == 0 && Alignment >= alignof(void*), "power-of-two alignment");

public:
    mem_block_aligned_t() = default;
    mem_block_aligned_t(const mem_block_aligned_t&) = delete;
    mem_block_aligned_t& operator=(const mem_block_aligned_t&) = delete;
    mem_block_aligned_t(mem_block_aligned_t&& other) noexcept
        : m_data(other.m_data), m_bytes(other.m_bytes), m_room(other.m_room) {
        other.m_data = nullptr;
        other.m_bytes = 0;
        other.m_room = 0;
    }
    mem_block_aligned_t& operator=(mem_block_aligned_t&& other) noexcept {
        if (this != &other) {
            aligned_free(m_data);
            m_data = other.m_data;
            m_bytes = other.m_bytes;
            m_room = other.m_room;
            other.m_data = nullptr;
            other.m_bytes = 0;
            other.m_room = 0;
        }
        return *this;
    }
    ~mem_block_aligned_t() { aligned_free(m_data); }

    // Resizes to `count` elements keeping the contents up to the smaller
    // size. A byte size beyond 32 bits throws "Overflow"; a refused heap
    // "bad allocation" with the old block left in place. A size between
    // half and all of what the block was allocated with stays in the same
    // allocation (as realloc may shrink in place), so a chunk that holds
    // one resampled size and the next the source's allocates nothing.
    void set_size(t_size count) {
        const std::uint64_t wide = std::uint64_t(count) * sizeof(T);
        if (wide > 0xFFFFFFFFu) throw exception_overflow();
        const t_size bytes = static_cast<t_size>(wide);
        if (bytes == m_bytes) return;
        if (bytes == 0) {
            aligned_free(m_data);
            m_data = nullptr;
            m_bytes = 0;
            m_room = 0;
            return;
        }
        if (m_data != nullptr && bytes <= m_room && bytes >= m_room / 2) {
            m_bytes = bytes;
            return;
        }
        m_data = static_cast<T*>(aligned_realloc(m_data, m_bytes, bytes, Alignment));
        m_bytes = bytes;
        m_room = bytes;
    }

    T* get_ptr() { return m_data; }
    const T* get_ptr() const { return m_data; }
    t_size get_size() const { return m_bytes / static_cast<t_size>(sizeof(T)); }
    t_size get_size_bytes() const { return m_bytes; }

private:
    T* m_data = nullptr;
    t_size m_bytes = 0;
    // The size the block was allocated with.
    t_size m_room = 0;
};

} // namespace zof
