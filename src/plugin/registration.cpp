// Static registration of the component's services. The order matters: each
// factory goes to the head of the list, so the player reads them as main
// menu, start/quit hook, installation validator, component version.
#include "components.h"
#include "service_lookup.h"

namespace {
// The file name the build gives the module.
#if defined(_WIN32)
const char kModuleFileName[] = "velmora.dll";
#else
const char kModuleFileName[] = "libvelmora.so";
#endif

service_factory_single_t<componentversion_myimpl> g_componentversion;
service_factory_single_t<component_installation_validator_filename> g_validator(kModuleFileName);
service_factory_single_t<initquit_velmora> g_initquit;
service_factory_single_t<mainmenu_commands_velmora> g_mainmenu;
} // namespace

// After the factories: the crash handlers, given back at unload.
#include "crash_handlers.h"
namespace {
struct crash_handler_scope {
    crash_handler_scope() { crash_handlers_install(); }
    ~crash_handler_scope() { crash_handlers_restore(); }
    crash_handler_scope(const crash_handler_scope&) = delete;
    crash_handler_scope& operator=(const crash_handler_scope&) = delete;
} g_crash_handler_scope;
} // namespace
