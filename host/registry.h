#pragma once
// The player's service registry and core API object.
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core_api.h"

// A class of services: its identifier and its instances, in order.
struct service_class_opaque {
    GUID guid;
    std::vector<service_ptr> instances;
};

namespace kestrune_host {

// Every class the player knows, with 0, 1 or more instances each. Tests put
// any number of instances of any class here.
class service_registry {
public:
    service_registry() = default;
    service_registry(const service_registry&) = delete;
    service_registry& operator=(const service_registry&) = delete;

    // The class for an identifier, made (empty) on first use.
    service_class_ref find(const GUID& cls);
    void add(const GUID& cls, service_ptr instance);
    // Removes every instance of the class that is `instance`.
    void remove(const GUID& cls, service_base* instance);
    void clear(const GUID& cls);
    // Drops every instance of every class.
    void clear_all();
    std::uint32_t count(service_class_ref cls);
    std::uint32_t count(const GUID& cls) { return count(find(cls)); }
    bool create(service_ptr& out, service_class_ref cls, std::uint32_t index);
    // Instance `index` of T's class narrowed to T; empty when there is none
    // or it does not offer T.
    template <class T>
    service_ptr_t<T> get(std::uint32_t index = 0) {
        service_ptr raw;
        service_ptr_t<T> out;
        if (create(raw, find(T::class_guid), index)) raw.query(out);
        return out;
    }

private:
    std::recursive_mutex m_mutex;
    std::list<service_class_opaque> m_classes;
};

// The core API object the player hands to each component.
class host_api final : public kestrune_api {
public:
    explicit host_api(service_registry& registry);

    service_class_ref service_class_find(const GUID& cls) override;
    bool service_instance_create(service_ptr& out, service_class_ref cls, std::uint32_t index) override;
    std::uint32_t service_instance_count(service_class_ref cls) override;
    host_window main_window() override;
    bool may_open_window() override;
    bool is_main_thread() override;
    bool is_shutting_down() override;
    const char* profile_path() override;

    // What the player answers; the main thread is the one that made the
    // player unless a test says otherwise.
    void set_main_thread(std::thread::id id);
    std::thread::id main_thread() const;
    void set_may_open_window(bool may);
    void set_main_window(host_window window);
    void set_profile_path(const std::string& path);
    void set_shutting_down(bool shutting_down);

private:
    service_registry& m_registry;
    mutable std::mutex m_mutex;
    std::thread::id m_main_thread;
    bool m_may_open_window = true;
    bool m_shutting_down = false;
    host_window m_main_window{};
    std::string m_profile_path;
};

} // namespace kestrune_host
