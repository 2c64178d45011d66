#pragma once
// The component's side of the service machinery: the state the player hands
// over through the entry and the client object, service lookup by class
// identifier, and the static registration of the component's own services.
#include <cstdint>

#include "core_api.h"

// ---------------------------------------------------------------- state
// The player's core API object (null until the entry was called).
kestrune_api* core_api();
// Set by the player through the client object.
bool services_ready();
// The module's full path and file name ("" until the player gave them).
const char* library_path();
const char* library_name();

// Asks the player, once its services are ready; before that the answer is
// true (may open) or the comparison with the thread that loaded the module
// (main thread).
bool core_may_open_window();
bool core_is_main_thread();
// The player's main window (null before the entry was called).
host_window core_main_window();

// ---------------------------------------------------------------- lookup
// The one instance of the class into `out`; "Service not found" when there
// is none or the player refuses to create it, "Service duplicated" when
// there are several. `out` is left as it was when this throws.
void create_host_service(service_ptr& out, const GUID& cls);

// The same, narrowed to T ("Service extension not found" when the instance
// does not offer T).
template <class T>
void create_host_service(service_ptr_t<T>& out, const GUID& cls = T::class_guid) {
    service_ptr found;
    create_host_service(found, cls);
    if (!found.query(out)) throw exception_service_extension_not_found();
}

// Walks the instances of a class from index 0; stops at the first index the
// player refuses.
class service_class_enum {
public:
    explicit service_class_enum(const GUID& cls);
    bool next(service_ptr& out);
private:
    service_class_ref m_class = nullptr;
    std::uint32_t m_index = 0;
};

// The instances of a class that offer T; an instance that does not is
// skipped.
template <class T>
class service_enum_t {
public:
    explicit service_enum_t(const GUID& cls = T::class_guid) : m_raw(cls) {}
    bool next(service_ptr_t<T>& out) {
        service_ptr item;
        while (m_raw.next(item))
            if (item.query(out)) return true;
        return false;
    }
private:
    service_class_enum m_raw;
};

// ---------------------------------------------------------------- registration
// Head of the component's factory list, filled by static initialisers.
extern service_factory_base* g_factory_list;

// A factory entry with its service instance embedded; the instance lives as
// long as the module and counts no references.
template <class Impl>
class service_factory_single_t final : public service_factory_base {
public:
    template <class... Args>
    explicit service_factory_single_t(Args&&... args)
        : service_factory_base(Impl::class_guid, g_factory_list), m_instance(std::forward<Args>(args)...) {}

    void instance_create(service_ptr& out) override { out = static_cast<service_base*>(&m_instance); }
    Impl& get_static_instance() { return m_instance; }

private:
    service_impl_single_t<Impl> m_instance;
};
