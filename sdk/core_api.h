#pragma once
// The meeting point of player and component: the player's core API object
// (handed to the component's entry), the component's client object (handed
// back) and the component's list of service factories.
#include <cstdint>

#include "service.h"

namespace kestrune_io { class abort_callback; }
class byte_reader;
class byte_writer;

// A class of services as the player resolved it; opaque to components.
typedef struct service_class_opaque* service_class_ref;

// The player's core API object. Operations in table order. The seventh is
// not used by components; it is fixed here as "is the player shutting down".
class kestrune_api {
public:
    // 1: resolves a class identifier (never null; an unknown class has no
    // instances).
    virtual service_class_ref service_class_find(const GUID& cls) = 0;
    // 2: instance number `index` of the class into `out` (referenced): true,
    // or false past the last one (then `out` is left alone).
    virtual bool service_instance_create(service_ptr& out, service_class_ref cls, std::uint32_t index) = 0;
    // 3: number of instances of the class.
    virtual std::uint32_t service_instance_count(service_class_ref cls) = 0;
    // 4: the player's main window, owner of the component's window.
    virtual host_window main_window() = 0;
    // 5: may the main-menu command open the component's window now.
    virtual bool may_open_window() = 0;
    // 6: true on the player's main thread, false on any other.
    virtual bool is_main_thread() = 0;
    // 7: true once the player has begun to shut down.
    virtual bool is_shutting_down() = 0;
    // 8: the profile folder, UTF-8, possibly prefixed "file://".
    virtual const char* profile_path() = 0;
protected:
    ~kestrune_api() = default;
};

// One entry of the component's factory list: its one operation makes (hands
// out) the service instance; then the link to the next entry and the class
// identifier of the service it makes.
class service_factory_base {
public:
    // Stores the instance in `out` (reference added, old one released).
    virtual void instance_create(service_ptr& out) = 0;

    service_factory_base* next() const { return m_next; }
    const GUID& class_guid() const { return *m_class; }

protected:
    // Links this entry at the head of `head`: the list reads in reverse
    // order of registration.
    service_factory_base(const GUID& cls, service_factory_base*& head) : m_next(head), m_class(&cls) { head = this; }
    ~service_factory_base() = default;
    service_factory_base(const service_factory_base&) = delete;
    service_factory_base& operator=(const service_factory_base&) = delete;

private:
    service_factory_base* m_next;
    const GUID* m_class;
};

// The component's client object. Operations in table order.
class component_client {
public:
    // 1: the interface version the component was built for.
    virtual std::uint32_t interface_version() = 0;
    // 2: head of the factory list.
    virtual service_factory_base* factory_list() = 0;
    // 3: writes the component's configuration variables.
    virtual void store_config(byte_writer* out, kestrune_io::abort_callback& abort) = 0;
    // 4: reads them back; errors of the reader propagate to the player.
    virtual void load_config(byte_reader* in, kestrune_io::abort_callback& abort) = 0;
    // 5: the module's full path and file name, UTF-8.
    virtual void take_library_path(const char* full_path, const char* file_name) = 0;
    // 6: services may be used from now on (true) or no longer (false).
    virtual void mark_services_ready(bool ready) = 0;
    // 7: fixed here as "is this a debug build"; components answer false.
    virtual bool is_debug() = 0;
protected:
    ~component_client() = default;
};

inline constexpr std::uint32_t component_interface_version = 78;

// The component's one export (ordinal 1 in the DLL). The second argument is
// not used.
typedef component_client* (*kestrune_get_interface_t)(kestrune_api* api, void* reserved);
extern "C" component_client* kestrune_get_interface(kestrune_api* api, void* reserved);
