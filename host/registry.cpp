// The player's service registry and core API object.
#include "registry.h"

#include <algorithm>

namespace kestrune_host {

service_class_ref service_registry::find(const GUID& cls) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (auto& c : m_classes)
        if (guid_equal(c.guid, cls)) return &c;
    m_classes.push_back(service_class_opaque{cls, {}});
    return &m_classes.back();
}

void service_registry::add(const GUID& cls, service_ptr instance) {
    service_class_ref c = find(cls);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    c->instances.push_back(std::move(instance));
}

void service_registry::remove(const GUID& cls, service_base* instance) {
    std::vector<service_ptr> dropped;
    {
        service_class_ref c = find(cls);
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        auto& v = c->instances;
        for (auto it = v.begin(); it != v.end();) {
            if (it->get_ptr() == instance) {
                dropped.push_back(std::move(*it));
                it = v.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Released outside the lock: a release may call back into the player.
}

void service_registry::clear(const GUID& cls) {
    std::vector<service_ptr> dropped;
    service_class_ref c = find(cls);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    dropped.swap(c->instances);
}

void service_registry::clear_all() {
    std::vector<service_ptr> dropped;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        for (auto& c : m_classes)
            for (auto& p : c.instances) dropped.push_back(std::move(p));
        for (auto& c : m_classes) c.instances.clear();
    }
}

std::uint32_t service_registry::count(service_class_ref cls) {
    if (!cls) return 0;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return static_cast<std::uint32_t>(cls->instances.size());
}

bool service_registry::create(service_ptr& out, service_class_ref cls, std::uint32_t index) {
    service_ptr made;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (!cls || index >= cls->instances.size()) return false;
        made = cls->instances[index];
    }
    out = std::move(made);
    return true;
}

host_api::host_api(service_registry& registry) : m_registry(registry), m_main_thread(std::this_thread::get_id()) {}

service_class_ref host_api::service_class_find(const GUID& cls) { return m_registry.find(cls); }

bool host_api::service_instance_create(service_ptr& out, service_class_ref cls, std::uint32_t index) {
    return m_registry.create(out, cls, index);
}

std::uint32_t host_api::service_instance_count(service_class_ref cls) { return m_registry.count(cls); }

host_window host_api::main_window() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_main_window;
}

bool host_api::may_open_window() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_may_open_window;
}

bool host_api::is_main_thread() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::this_thread::get_id() == m_main_thread;
}

bool host_api::is_shutting_down() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shutting_down;
}

const char* host_api::profile_path() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_profile_path.c_str();
}

void host_api::set_main_thread(std::thread::id id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_main_thread = id;
}

std::thread::id host_api::main_thread() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_main_thread;
}

void host_api::set_may_open_window(bool may) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_may_open_window = may;
}

void host_api::set_main_window(host_window window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_main_window = window;
}

void host_api::set_profile_path(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_profile_path = path;
}

void host_api::set_shutting_down(bool shutting_down) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutting_down = shutting_down;
}

} // namespace kestrune_host
