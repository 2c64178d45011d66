#pragma once
// Loads a component module into the player and unloads it again.
#include <string>
#include <utility>
#include <vector>

#include "player.h"

namespace kestrune_host {

class component_module {
public:
    // Loads the module, calls its entry (ordinal 1 on Windows), checks the
    // interface version, hands over its path, marks the services ready,
    // registers the services of its factory list with the player and calls
    // its start hooks. Throws std::runtime_error with the reason; nothing
    // stays loaded then.
    component_module(player& host, const std::string& path);
    // Calls the module's quit hooks, marks the services no longer ready,
    // drops the module's services from the player and unloads it. A play or capture callback registered
    // since the load and still there is reported on the console and
    // removed first, so that the player never calls into unloaded code.
    ~component_module();
    component_module(const component_module&) = delete;
    component_module& operator=(const component_module&) = delete;

    component_client& client() { return *m_client; }
    const std::string& full_path() const { return m_full_path; }
    const std::string& file_name() const { return m_file_name; }
    // The class of each factory entry, in list order.
    const std::vector<GUID>& factory_classes() const { return m_classes; }

private:
    void unload() noexcept;
    void check_callbacks() noexcept;

    player& m_host;
    void* m_module = nullptr;
    component_client* m_client = nullptr;
    std::string m_full_path;
    std::string m_file_name;
    std::vector<GUID> m_classes;
    std::vector<std::pair<GUID, service_ptr>> m_services;
    // The callbacks registered before the module came.
    std::vector<play_callback*> m_play_callbacks_before;
    std::vector<playback_stream_capture_callback*> m_capture_callbacks_before;
};

// The folder of the running program, with a trailing separator.
std::string program_folder();
// The component's file name on this system.
const char* component_file_name();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::string guid_text(const GUID& g);

} // namespace kestrune_host
