#pragma once
// zof arrays. Storage follows the fast policy: the capacity doubles from 1
// while below the count and halves while a quarter of it exceeds the count,
// so item-by-item growth is amortised constant and alternating growth and
// shrinking does not reallocate every time.
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "zof/memory.h"
#include "zof/string8.h"

namespace zof {

// The capacity for `count` elements when the current capacity is
// `capacity`; "bad allocation" when doubling leaves 32 bits.
t_size fast_capacity(t_size capacity, t_size count);

template <typename T, typename Alloc = alloc_fast>
class array_t {
public:
    array_t() noexcept = default;
    array_t(const array_t& other) { *this = other; }
    array_t(array_t&& other) noexcept { swap(other); }
    ~array_t() { free_all(); }

    array_t& operator=(const array_t& other) {
        if (this == &other) return *this;
        array_t copy;
        copy.set_size(other.m_count);
        for (t_size i = 0; i < other.m_count; ++i) copy.m_data[i] = other.m_data[i];
        swap(copy);
        return *this;
    }
    array_t& operator=(array_t&& other) noexcept {
        array_t(std::move(other)).swap(*this);
        return *this;
    }

    // Sets the count: new elements are value-initialised (zero), dropped
    // ones destroyed. Fails with "bad allocation" leaving storage and count
    // as they were.
    void set_size(t_size count) {
        const t_size target = fast_capacity(m_capacity, count);
        const t_size bytes = multiply_size(target, static_cast<t_size>(sizeof(T)));
        if (target > m_capacity) {
            move_storage(target, bytes);
            construct(m_count, count);
        } else {
            if (count < m_count) destroy(count, m_count);
            else construct(m_count, count);
            m_count = count;
            if (target != m_capacity) move_storage(target, bytes);
        }
        m_count = count;
    }

    t_size get_size() const { return m_count; }
    t_size get_capacity() const { return m_capacity; }
    T* get_ptr() { return m_data; }
    const T* get_ptr() const { return m_data; }
    T& operator[](t_size i) { return m_data[i]; }
    const T& operator[](t_size i) const { return m_data[i]; }

    t_size append(const T& item) {
        const t_size index = m_count;
        T copy(item); // the item may live in this array
        set_size(add_size(m_count, 1));
        m_data[index] = std::move(copy);
        return index;
    }
    void swap(array_t& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_count, other.m_count);
        std::swap(m_capacity, other.m_capacity);
    }
    // Releases every element and frees the storage.
    void free_all() noexcept {
        destroy(0, m_count);
        raw_realloc(m_data, 0);
        m_data = nullptr;
        m_count = 0;
        m_capacity = 0;
    }

private:
    void construct(t_size from, t_size to) {
        for (t_size i = from; i < to; ++i) new (&m_data[i]) T();
    }
    void destroy(t_size from, t_size to) noexcept {
        for (t_size i = from; i < to; ++i) m_data[i].~T();
    }
    // Moves the live elements into storage for `capacity` elements.
    void move_storage(t_size capacity, t_size bytes) {
        if (std::is_trivially_copyable<T>::value) {
            realloc_bytes(m_data, bytes);
        } else {
            T* fresh = static_cast<T*>(alloc_or_throw(bytes));
            const t_size live = m_count < capacity ? m_count : capacity;
            for (t_size i = 0; i < live; ++i) {
                new (&fresh[i]) T(std::move(m_data[i]));
                m_data[i].~T();
            }
            raw_realloc(m_data, 0);
            m_data = fresh;
        }
        m_capacity = capacity;
    }

    T* m_data = nullptr;
    t_size m_count = 0;
    t_size m_capacity = 0;
};

} // namespace zof
