// The component's entry and client object, and the state the player hands
// over through them.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

#include "cfg_var.h"
#include "console.h"
#include "service_lookup.h"
#include "zof/exceptions.h"
#include "zof/memory.h"

service_factory_base* g_factory_list = nullptr;

namespace {

// Read from every thread of the component, written by the player's.
std::atomic<kestrune_api*> g_api{nullptr};
std::atomic<bool> g_services_ready{false};

// The thread that loaded the module: the player's main thread as far as we
// can tell before the player answers that question itself.
const std::thread::id g_load_thread = std::this_thread::get_id();

// An owned UTF-8 text: a block of exactly length + 1 bytes, or none.
class library_text {
public:
    library_text() = default;
    library_text(const library_text&) = delete;
    library_text& operator=(const library_text&) = delete;
    ~library_text() { zof::realloc_bytes(m_block, 0); }

    void set(const char* text) {
        const std::size_t n = text ? std::strlen(text) : 0;
        if (n == 0) {
            zof::realloc_bytes(m_block, 0);
            return;
        }
        if (n >= 0xFFFFFFFFu) throw zof::exception_overflow();
        const auto at = reinterpret_cast<std::uintptr_t>(text);
        const auto begin = reinterpret_cast<std::uintptr_t>(m_block);
        if (m_block && at >= begin && at <= begin + std::strlen(m_block)) {
            // Our own text (or a tail of it): it moves when the block does.
            std::memmove(m_block, text, n + 1);
            zof::realloc_bytes(m_block, static_cast<zof::t_size>(n + 1));
            return;
        }
        zof::realloc_bytes(m_block, static_cast<zof::t_size>(n + 1));
        std::memcpy(m_block, text, n);
        m_block[n] = 0;
    }
    const char* get() const { return m_block ? m_block : ""; }

private:
    char* m_block = nullptr;
};

library_text g_library_path;
library_text g_library_name;

void report(const char* what, const std::exception& e) { console_printf("velmora: %s: %s", what, e.what()); }

class component_client_impl final : public component_client {
public:
    std::uint32_t interface_version() override { return component_interface_version; }
    service_factory_base* factory_list() override { return g_factory_list; }
    void store_config(byte_writer* out, kestrune_io::abort_callback& abort) override {
        try {
            if (out) config_write(*out, abort);
        } catch (const std::exception& e) {
            report("store config", e);
        }
    }
    // Errors of the player's reader (and aborts) go back to the player.
    void load_config(byte_reader* in, kestrune_io::abort_callback& abort) override {
        if (in) config_read(*in, abort);
    }
    void take_library_path(const char* full_path, const char* file_name) override {
        try {
            g_library_path.set(full_path);
            g_library_name.set(file_name);
        } catch (const std::exception& e) {
            report("library path", e);
        }
    }
    void mark_services_ready(bool ready) override { g_services_ready = ready; }
    bool is_debug() override { return false; }
};

component_client_impl g_client;

} // namespace

extern "C" component_client* kestrune_get_interface(kestrune_api* api, void*) {
    g_api = api;
    return &g_client;
}

kestrune_api* core_api() { return g_api; }
bool services_ready() { return g_services_ready; }
const char* library_path() { return g_library_path.get(); }
const char* library_name() { return g_library_name.get(); }

bool core_may_open_window() {
    kestrune_api* api = g_api;
    if (!g_services_ready || !api) return true;
    return api->may_open_window();
}

bool core_is_main_thread() {
    kestrune_api* api = g_api;
    if (!g_services_ready || !api) return std::this_thread::get_id() == g_load_thread;
    return api->is_main_thread();
}

host_window core_main_window() {
    kestrune_api* api = g_api;
    return api ? api->main_window() : host_window();
}
