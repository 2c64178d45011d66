// The component's registered services.
#include "components.h"

#include <cstring>
#include <exception>

#include "console.h"
#include "service_lookup.h"
#if defined(_WIN32)
#include "ui/main_dlg.h"
#else
#include "driver/stream_driver.h"
#endif

namespace {

// Every entry the player calls reports its failure on the console instead
// of throwing into the player.
template <class F>
void guarded(const char* what, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        console_printf("velmora: %s: %s", what, e.what());
    } catch (...) {
        console_printf("velmora: %s: unknown error", what);
    }
}

} // namespace

// ---------------------------------------------------------------- version
void componentversion_myimpl::module_file(zof::string_base& out) {
    guarded("component version", [&] { out.assign(library_name()); });
}
void componentversion_myimpl::display_name(zof::string_base& out) {
    guarded("component version", [&] { out.assign("Velmora"); });
}
void componentversion_myimpl::version_text(zof::string_base& out) {
    guarded("component version", [&] { out.assign("1.4.1"); });
}
void componentversion_myimpl::about_text(zof::string_base& out) {
    guarded("component version", [&] {
        out.assign("Velmora for kestrune\n"
                   "Streams what kestrune plays to Icecast2 and SHOUTcast servers.\n");
    });
}

// ---------------------------------------------------------------- validator
bool component_installation_validator_filename::name_matches(const char* path, const char* expected) {
    if (!path || !expected) return false;
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == '|' || *p == ':') name = p + 1;
    return std::strcmp(name, expected) == 0;
}

bool component_installation_validator_filename::file_name_matches() {
    return name_matches(library_path(), m_expected);
}

// ---------------------------------------------------------------- start/quit
void initquit_velmora::at_quit() {
#if !defined(_WIN32)
    // Without a window, the driver's streams end with the player.
    guarded("quit", [] { StreamDriver::close(); });
#endif
}

// ---------------------------------------------------------------- main menu
std::uint32_t mainmenu_commands_velmora::command_total() { return 1; }

GUID mainmenu_commands_velmora::command_guid(std::uint32_t index) {
    return index == 0 ? command_open_guid : guid_null;
}

void mainmenu_commands_velmora::command_label(std::uint32_t index, zof::string_base& out) {
    if (index != 0) return;
    guarded("menu command", [&] { out.assign("Velmora"); });
}

bool mainmenu_commands_velmora::command_help(std::uint32_t index, zof::string_base& out) {
    if (index != 0) return false;
    bool done = false;
    guarded("menu command", [&] {
        out.assign("Activates Velmora window.");
        done = true;
    });
    return done;
}

GUID mainmenu_commands_velmora::parent_menu_guid() { return menu_group_guid; }

std::uint32_t mainmenu_commands_velmora::menu_order() { return 0x80000000u; }

bool mainmenu_commands_velmora::display_state(std::uint32_t index, zof::string_base& out, std::uint32_t& flags) {
    flags = 0;
    command_label(index, out);
    return true;
}

void mainmenu_commands_velmora::run_command(std::uint32_t index, service_ptr callback) {
    guarded("main menu command", [&] {
        if (index != 0) return;
        if (!core_may_open_window()) return;
        velmora_show_main_window(core_main_window());
    });
    callback.release();
}

#if defined(_WIN32)
// The one main window: made (settings read, streams made) when there is
// none, its dialog created owned by the player's main window when it has
// none, and shown normally (which also brings back a window hidden by
// minimising).
void velmora_show_main_window(host_window owner) {
    CMainDlg* window = CMainDlg::getInstance();
    window->show(owner);
    if (window->m_hWnd) window->ShowWindow(SW_SHOWNORMAL);
}
#else
// On Linux, which has no window, the driver plays its part with the
// stand-in player.
void velmora_show_main_window(host_window) { StreamDriver::open(); }
#endif
