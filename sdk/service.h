#pragma once
// Services: reference-counted objects named by a class identifier, shared
// between the player and its components. Both sides compile this header
// with the same compiler, so the layout of every table of operations below
// is the contract.
#include <atomic>
#include <cstdint>
#include <cstddef>
#include <exception>
#include <type_traits>
#include <utility>

#include "guid.h"

template <class T> class service_ptr_t;

// Every service starts with these three operations, in this order.
class service_base {
public:
    // Release one reference; answers the count left (a static service
    // answers 1 and counts nothing).
    virtual int drop_reference() = 0;
    // Add one reference; answers the new count.
    virtual int add_reference() = 0;
    // When `cls` names this service's class (or one of the interfaces it
    // extends), store this service in `out` (reference added first, then
    // the old one released) and answer true; otherwise answer false and
    // leave `out` alone.
    virtual bool query_class(service_ptr_t<service_base>& out, const GUID& cls) = 0;

    // Interfaces name their class identifier and the interface they extend.
    typedef service_base parent_class;
protected:
    service_base() = default;
    ~service_base() = default;
    service_base(const service_base&) = default;
    service_base& operator=(const service_base&) = default;
};

// Holds one service or nothing. Assigning adds the new reference before the
// old one is released, so assigning a pointer to itself is safe.
template <class T>
class service_ptr_t {
public:
    service_ptr_t() noexcept = default;
    service_ptr_t(std::nullptr_t) noexcept {}
    service_ptr_t(T* p) noexcept : m_ptr(p) { if (m_ptr) m_ptr->add_reference(); }
    service_ptr_t(const service_ptr_t& other) noexcept : service_ptr_t(other.m_ptr) {}
    service_ptr_t(service_ptr_t&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
    template <class U>
    service_ptr_t(const service_ptr_t<U>& other) noexcept : service_ptr_t(static_cast<T*>(other.get_ptr())) {}
    ~service_ptr_t() { release(); }

    service_ptr_t& operator=(T* p) noexcept {
        if (p) p->add_reference();
        T* old = m_ptr;
        m_ptr = p;
        if (old) old->drop_reference();
        return *this;
    }
    service_ptr_t& operator=(const service_ptr_t& other) noexcept { return *this = other.m_ptr; }
    service_ptr_t& operator=(service_ptr_t&& other) noexcept {
        if (this != &other) {
            T* old = m_ptr;
            m_ptr = other.m_ptr;
            other.m_ptr = nullptr;
            if (old) old->drop_reference();
        }
        return *this;
    }
    template <class U>
    service_ptr_t& operator=(const service_ptr_t<U>& other) noexcept { return *this = static_cast<T*>(other.get_ptr()); }
    service_ptr_t& operator=(std::nullptr_t) noexcept { release(); return *this; }

    void release() noexcept {
        T* old = m_ptr;
        m_ptr = nullptr;
        if (old) old->drop_reference();
    }
    // Hands the reference over to the caller.
    T* detach() noexcept { T* p = m_ptr; m_ptr = nullptr; return p; }
    // Takes over a reference the caller already holds.
    void attach(T* p) noexcept { release(); m_ptr = p; }

    T* get_ptr() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    bool is_valid() const noexcept { return m_ptr != nullptr; }
    bool is_empty() const noexcept { return m_ptr == nullptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    // Narrows to another interface through query_class; false (and `out`
    // untouched) when the service does not offer it.
    template <class U>
    bool query(service_ptr_t<U>& out) const {
        if (!m_ptr) return false;
        service_ptr_t<service_base> found;
        if (!m_ptr->query_class(found, U::class_guid)) return false;
        out = static_cast<U*>(found.get_ptr());
        return true;
    }

private:
    T* m_ptr = nullptr;
};

typedef service_ptr_t<service_base> service_ptr;

// Fixed-text exceptions of service lookup.
class exception_service_not_found : public std::exception {
public:
    const char* what() const noexcept override { return "Service not found"; }
};
class exception_service_duplicated : public std::exception {
public:
    const char* what() const noexcept override { return "Service duplicated"; }
};
class exception_service_extension_not_found : public std::exception {
public:
    const char* what() const noexcept override { return "Service extension not found"; }
};

namespace service_detail {
// True when `cls` names T's class or any interface T extends.
template <class T>
bool class_matches(const GUID& cls) {
    if constexpr (std::is_same_v<T, service_base>) {
        return false;
    } else {
        return guid_equal(T::class_guid, cls) || class_matches<typename T::parent_class>(cls);
    }
}
} // namespace service_detail

// A service made dynamically: atomic reference count; the last release
// destroys the object (which releases any service it holds in turn).
// Construct with new and hand to a service_ptr_t straight away.
template <class Impl>
class service_impl_t final : public Impl {
public:
    template <class... Args>
    explicit service_impl_t(Args&&... args) : Impl(std::forward<Args>(args)...) {}

    int drop_reference() override {
        int left = --m_count;
        if (left == 0) delete this;
        return left;
    }
    int add_reference() override { return ++m_count; }
    bool query_class(service_ptr_t<service_base>& out, const GUID& cls) override {
        if (!service_detail::class_matches<Impl>(cls)) return false;
        out = static_cast<service_base*>(this);
        return true;
    }

private:
    std::atomic<int> m_count{0};
};

// A service that lives as long as its module: counts nothing.
template <class Impl>
class service_impl_single_t final : public Impl {
public:
    template <class... Args>
    explicit service_impl_single_t(Args&&... args) : Impl(std::forward<Args>(args)...) {}

    int drop_reference() override { return 1; }
    int add_reference() override { return 1; }
    bool query_class(service_ptr_t<service_base>& out, const GUID& cls) override {
        if (!service_detail::class_matches<Impl>(cls)) return false;
        out = static_cast<service_base*>(this);
        return true;
    }
};

// Makes a counted service and returns the first reference to it.
template <class Impl, class... Args>
service_ptr_t<Impl> make_service(Args&&... args) {
    return service_ptr_t<Impl>(new service_impl_t<Impl>(std::forward<Args>(args)...));
}
