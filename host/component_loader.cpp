// Loads a component module into the player.
#include "component_loader.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace kestrune_host {

namespace {

#if defined(_WIN32)
std::wstring widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
    return w;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::string module_path(HMODULE m) {
    std::wstring buffer(260, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(m, &buffer[0], DWORD(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return narrow(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string last_error_text() {
    return "error " + std::to_string(static_cast<unsigned long>(GetLastError()));
}
#endif

std::string file_part(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

component_module::component_module(player& host, const std::string& path)
    : m_host(host), m_play_callbacks_before(host.play_callbacks().callbacks()),
      m_capture_callbacks_before(host.capture().callbacks()) {
    kestrune_get_interface_t entry = nullptr;
#if defined(_WIN32)
    HMODULE m = LoadLibraryW(widen(path).c_str());
    if (!m) throw std::runtime_error("cannot load " + path + ": " + last_error_text());
    m_module = m;
    // The entry is ordinal 1; a module whose ordinal 1 is something else
    // (any other DLL) is not a component.
    FARPROC by_ordinal = GetProcAddress(m, MAKEINTRESOURCEA(1));
    if (by_ordinal && by_ordinal == GetProcAddress(m, "kestrune_get_interface"))
        entry = reinterpret_cast<kestrune_get_interface_t>(reinterpret_cast<void*>(by_ordinal));
    m_full_path = module_path(m);
#else
    void* m = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m) {
        const char* e = dlerror();
        throw std::runtime_error("cannot load " + path + ": " + (e ? e : "unknown error"));
    }
    m_module = m;
    entry = reinterpret_cast<kestrune_get_interface_t>(dlsym(m, "kestrune_get_interface"));
    char resolved[PATH_MAX];
    m_full_path = realpath(path.c_str(), resolved) ? resolved : path;
#endif
    m_file_name = file_part(m_full_path);
    try {
        if (!entry) throw std::runtime_error(path + " has no component entry");
        m_client = entry(&host.api(), nullptr);
        if (!m_client) throw std::runtime_error(path + ": the entry gave no client object");
        const std::uint32_t version = m_client->interface_version();
        if (version != component_interface_version)
            throw std::runtime_error(path + ": interface version " + std::to_string(version) + ", expected " +
                                     std::to_string(component_interface_version));
        m_client->take_library_path(m_full_path.c_str(), m_file_name.c_str());
        m_client->mark_services_ready(true);
        for (service_factory_base* f = m_client->factory_list(); f; f = f->next()) {
            service_ptr instance;
            f->instance_create(instance);
            m_classes.push_back(f->class_guid());
            if (instance.is_empty()) continue;
            host.registry().add(f->class_guid(), instance);
            m_services.emplace_back(f->class_guid(), instance);
        }
        // The player has started: the module's start hooks run.
        for (auto& s : m_services) {
            service_ptr_t<initquit> hook;
            if (guid_equal(s.first, initquit::class_guid) && s.second.query(hook)) hook->at_start();
        }
    } catch (...) {
        unload();
        throw;
    }
}

component_module::~component_module() { unload(); }

void component_module::unload() noexcept {
    // The player quits: the module's quit hooks run while its services are
    // still ready.
    for (auto& s : m_services) {
        service_ptr_t<initquit> hook;
        if (!guid_equal(s.first, initquit::class_guid) || !s.second.query(hook)) continue;
        try {
            hook->at_quit();
        } catch (...) {
            m_host.report("kestrune: a component's quit hook threw");
        }
    }
    if (m_client) m_client->mark_services_ready(false);
    // The module's services must be gone before its code is.
    for (auto& s : m_services) m_host.registry().remove(s.first, s.second.get_ptr());
    m_services.clear();
    m_client = nullptr;
    if (!m_module) return;
    check_callbacks();
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(m_module));
#else
    dlclose(m_module);
#endif
    m_module = nullptr;
}

namespace {

// The entries of `now` that `before` does not hold.
template <class T>
std::vector<T*> added_since(const std::vector<T*>& before, const std::vector<T*>& now) {
    std::vector<T*> added;
    for (T* p : now)
        if (std::find(before.begin(), before.end(), p) == before.end()) added.push_back(p);
    return added;
}

std::string count_of(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

} // namespace

void component_module::check_callbacks() noexcept {
    try {
        const auto play = added_since(m_play_callbacks_before, m_host.play_callbacks().callbacks());
        const auto capture = added_since(m_capture_callbacks_before, m_host.capture().callbacks());
        if (play.empty() && capture.empty()) return;
        std::string left;
        if (!play.empty()) left = count_of(play.size(), "play callback");
        if (!capture.empty()) left += (left.empty() ? "" : " and ") + count_of(capture.size(), "capture callback");
        m_host.report("kestrune: " + m_file_name + " is unloaded with " + left + " still registered; removed");
        for (auto* cb : play) m_host.play_callbacks().unregister_callback(cb);
        for (auto* cb : capture) m_host.capture().remove_callback(cb);
    } catch (...) {
        m_host.report("kestrune: cannot check the callbacks of " + m_file_name);
    }
}

std::string program_folder() {
#if defined(_WIN32)
    std::string path = module_path(nullptr);
#else
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string path = n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
#endif
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const char* component_file_name() {
#if defined(_WIN32)
    return "velmora.dll";
#else
    return "libvelmora.so";
#endif
}

std::string guid_text(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), unsigned(g.Data2), unsigned(g.Data3), unsigned(g.Data4[0]),
                  unsigned(g.Data4[1]), unsigned(g.Data4[2]), unsigned(g.Data4[3]), unsigned(g.Data4[4]),
                  unsigned(g.Data4[5]), unsigned(g.Data4[6]), unsigned(g.Data4[7]));
    return text;
}

} // namespace kestrune_host
