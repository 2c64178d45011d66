// The component's entry and client object, and the state the player hands
// over through them.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

#include "console.h"
#include "service_lookup.h"

service_factory_base* g_factory_list = nullptr;

namespace {

kestrune_api* g_api = nullptr;
bool g_services_ready = false;

// The thread that loaded the module: the player's main thread as far as we
// can tell before the player answers that question itself.
const std::thread::id g_load_thread = std::this_thread::get_id();

// An owned UTF-8 text: a block of exactly length + 1 bytes, or none.
class library_text {
public:
    library_text() = default;
    library_text(const library_text&) = delete;
    library_text& operator=(const library_text&) = delete;
    ~library_text() { std::free(m_block); }

    void set(const char* text) {
        const std::size_t n = text ? std::strlen(text) : 0;
        if (n == 0) {
            std::free(m_block);
            m_block = nullptr;
            return;
        }
        char* block = static_cast<char*>(std::realloc(m_block, n + 1));
        if (!block) throw std::bad_alloc();
        std::memcpy(block, text, n);
        block[n] = 0;
        m_block = block;
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
    void store_config(byte_writer*, kestrune_io::abort_callback&) override {
        // The component keeps no configuration variables with the player:
        // its settings live in its own file. Nothing to write.
    }
    void load_config(byte_reader*, kestrune_io::abort_callback&) override {}
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
    if (!g_services_ready || !g_api) return true;
    return g_api->may_open_window();
}

bool core_is_main_thread() {
    if (!g_services_ready || !g_api) return std::this_thread::get_id() == g_load_thread;
    return g_api->is_main_thread();
}

host_window core_main_window() { return g_api ? g_api->main_window() : host_window(); }
