#pragma once
// zof counted objects: an object with an atomic reference count that
// deletes itself with the last release, and the counted reference to it.
#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

namespace zof {

class rc_object {
public:
    rc_object() noexcept = default;
    rc_object(const rc_object&) = delete;
    rc_object& operator=(const rc_object&) = delete;
    virtual ~rc_object() = default;

    void add_ref() noexcept { m_count.fetch_add(1); }
    // Deletes the object when the count falls from 1 to 0.
    void release() noexcept {
        if (m_count.fetch_sub(1) == 1) delete this;
    }
    std::uint32_t ref_count() const noexcept { return m_count.load(); }

private:
    std::atomic<std::uint32_t> m_count{0};
};

// A heap object of type Impl with a count in front of it.
template <typename Impl>
class rc_holder final : public rc_object, public Impl {
public:
    template <typename... Args>
    explicit rc_holder(Args&&... args) : Impl(std::forward<Args>(args)...) {}
};

// A counted reference: the counted object and the interface pointer of T
// into it. Assignment adds the new reference before it releases the old.
template <typename T>
class rcptr_t {
public:
    rcptr_t() noexcept = default;
    rcptr_t(const rcptr_t& other) noexcept : m_object(other.m_object), m_ptr(other.m_ptr) {
        if (m_object) m_object->add_ref();
    }
    template <typename U>
    rcptr_t(const rcptr_t<U>& other) noexcept : m_object(other.object()), m_ptr(other.get()) { // NOLINT: upcast
        if (m_object) m_object->add_ref();
    }
    rcptr_t(rcptr_t&& other) noexcept : m_object(other.m_object), m_ptr(other.m_ptr) {
        other.m_object = nullptr;
        other.m_ptr = nullptr;
    }
    ~rcptr_t() { release(); }

    rcptr_t& operator=(const rcptr_t& other) noexcept {
        rcptr_t(other).swap(*this);
        return *this;
    }
    rcptr_t& operator=(rcptr_t&& other) noexcept {
        rcptr_t(std::move(other)).swap(*this);
        return *this;
    }

    // A new Impl with one reference.
    template <typename Impl, typename... Args>
    static rcptr_t make(Args&&... args) {
        auto* holder = new rc_holder<Impl>(std::forward<Args>(args)...);
        rcptr_t result;
        result.m_object = holder;
        result.m_ptr = static_cast<Impl*>(holder);
        holder->add_ref();
        return result;
    }

    void release() noexcept {
        rc_object* object = m_object;
        m_object = nullptr;
        m_ptr = nullptr;
        if (object) object->release();
    }
    void swap(rcptr_t& other) noexcept {
        std::swap(m_object, other.m_object);
        std::swap(m_ptr, other.m_ptr);
    }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }
    bool is_valid() const noexcept { return m_ptr != nullptr; }
    rc_object* object() const noexcept { return m_object; }
    std::uint32_t use_count() const noexcept { return m_object ? m_object->ref_count() : 0; }

private:
    rc_object* m_object = nullptr;
    T* m_ptr = nullptr;
};

} // namespace zof
