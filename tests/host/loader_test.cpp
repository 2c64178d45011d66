// The real component loaded, listed and unloaded by the stand-in player.
#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <cstdlib>
#else
#include <dlfcn.h>
#include <signal.h>
#endif

#include "component_loader.h"
#include "host_string.h"

using namespace kestrune_host;

namespace {

std::string component_path() { return program_folder() + component_file_name(); }

template <class T>
service_ptr_t<T> only_service(player& host) {
    return host.registry().count(T::class_guid) == 1 ? host.registry().get<T>() : service_ptr_t<T>();
}

#if defined(_WIN32)
typedef void(__cdecl* handler_t)(int);
handler_t current_signal_handler(int sig) {
    handler_t h = std::signal(sig, SIG_DFL);
    std::signal(sig, h);
    return h;
}
// The runtime's process-wide setters, where the runtime has them (Wine's
// msvcrt does not; then only the module's own copies exist).
template <class F>
F crt_function(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), name)));
}
typedef _invalid_parameter_handler(__cdecl* set_ip_t)(_invalid_parameter_handler);
typedef _purecall_handler(__cdecl* set_pc_t)(_purecall_handler);
void* current_invalid_parameter_handler() {
    set_ip_t set = crt_function<set_ip_t>("_set_invalid_parameter_handler");
    if (!set) return nullptr;
    _invalid_parameter_handler h = set(nullptr);
    set(h);
    return reinterpret_cast<void*>(h);
}
void* current_purecall_handler() {
    set_pc_t set = crt_function<set_pc_t>("_set_purecall_handler");
    if (!set) return nullptr;
    _purecall_handler h = set(nullptr);
    set(h);
    return reinterpret_cast<void*>(h);
}
#else
void* current_signal_handler(int sig) {
    struct sigaction sa {};
    sigaction(sig, nullptr, &sa);
    return reinterpret_cast<void*>(sa.sa_handler);
}
#endif

} // namespace

TEST(ComponentLoading, ItsFactoriesAnswerThroughThePlayerAndLeaveWithTheModule) {
    player host;
    {
        component_module module(host, component_path());
        // The factory list reads main menu, start and quit, validator, version.
        ASSERT_EQ(module.factory_classes().size(), 4u);
        EXPECT_TRUE(guid_equal(module.factory_classes()[0], mainmenu_commands::class_guid));
        EXPECT_TRUE(guid_equal(module.factory_classes()[1], initquit::class_guid));
        EXPECT_TRUE(guid_equal(module.factory_classes()[2], component_installation_validator::class_guid));
        EXPECT_TRUE(guid_equal(module.factory_classes()[3], componentversion::class_guid));
        EXPECT_EQ(module.client().interface_version(), component_interface_version);
        auto version = only_service<componentversion>(host);
        ASSERT_TRUE(version.is_valid());
        host_string name, file;
        version->display_name(name);
        version->module_file(file);
        EXPECT_EQ(name.str(), "Velmora");
        EXPECT_EQ(file.str(), component_file_name());

        auto validator = only_service<component_installation_validator>(host);
        ASSERT_TRUE(validator.is_valid());
        // The module's own file name on each system.
        EXPECT_TRUE(validator->file_name_matches());

        auto menu = only_service<mainmenu_commands>(host);
        ASSERT_TRUE(menu.is_valid());
        menu->run_command(0, service_ptr());
#if !defined(_WIN32)
        // (On Windows the command opens the main window, tested on a
        // display.)
        EXPECT_TRUE(host.console_log().contains("velmora: 1 stream(s) from the settings file"));
#endif
    }
    EXPECT_EQ(host.registry().count(componentversion::class_guid), 0u);
    EXPECT_EQ(host.registry().count(mainmenu_commands::class_guid), 0u);
    EXPECT_EQ(host.registry().count(initquit::class_guid), 0u);
    EXPECT_EQ(host.registry().count(component_installation_validator::class_guid), 0u);
}

TEST(ComponentLoading, CallbacksLeftRegisteredAtUnloadAreReportedAndRemoved) {
    quiet_play_callback players_own, left_behind;
    class quiet_capture final : public playback_stream_capture_callback {
    public:
        void chunk_captured(const audio_chunk&) override {}
    } capture_a, capture_b;

    player host;
    host.play_callbacks().register_callback(&players_own, 0x96, false);
    for (int round = 0; round < 2; ++round) {
        // A clean unload says nothing, and the module loads again after it.
        component_module module(host, component_path());
        EXPECT_EQ(host.registry().count(componentversion::class_guid), 1u);
    }
    EXPECT_TRUE(host.console_log().lines().empty());
    {
        component_module module(host, component_path());
        // As if the module had registered these and forgotten them.
        host.play_callbacks().register_callback(&left_behind, 0x96, false);
        host.capture().add_callback(&capture_a);
        host.capture().add_callback(&capture_b);
    }
    EXPECT_TRUE(host.console_log().contains(std::string("kestrune: ") + component_file_name() +
                                            " is unloaded with 1 play callback and 2 capture callbacks still "
                                            "registered; removed"));
    EXPECT_EQ(host.play_callbacks().callbacks(), std::vector<play_callback*>{&players_own});
    EXPECT_EQ(host.capture().registered(), 0u);
    host.play_callbacks().unregister_callback(&players_own);
}

TEST(ComponentLoading, MissingModulesAndModulesWithoutTheEntryAreClearErrors) {
    player host;
    try {
        component_module module(host, program_folder() + "no-such-component.bin");
        FAIL() << "loaded a missing module";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot load"), std::string::npos) << e.what();
    }
#if defined(_WIN32)
    const std::string other = program_folder() + "kestrune_shared.dll";
#else
    const std::string other = program_folder() + "libkestrune_shared.so";
#endif
    EXPECT_THROW(component_module(host, other), std::runtime_error);
}

#if defined(_WIN32)
TEST(ComponentModule, ItsOneExportIsTheEntryAtOrdinalOne) {
    HMODULE m = LoadLibraryW(L"velmora.dll");
    ASSERT_NE(m, nullptr);
    const auto* base = reinterpret_cast<const unsigned char*>(m);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_EQ(exports->NumberOfFunctions, 1u);
    EXPECT_EQ(exports->NumberOfNames, 1u);
    EXPECT_EQ(exports->Base, 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + reinterpret_cast<const DWORD*>(base + exports->AddressOfNames)[0]),
                 "kestrune_get_interface");
    FreeLibrary(m);
}
#else
TEST(ComponentModule, ItsOneExportIsTheEntry) {
    // Everything else stays inside the library: no symbol of ours can bind
    // to, or be bound by, a namesake elsewhere in the player's process.
    void* m = dlopen(component_path().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m, nullptr) << dlerror();
    EXPECT_NE(dlsym(m, "kestrune_get_interface"), nullptr);
    for (const char* inner : {"g_factory_list", "_Z8core_apiv", "_Z13console_printPKc", "_Z11CloseHandlePv",
                              "_Z19create_host_serviceR13service_ptr_tI12service_baseERK4GUID"})
        EXPECT_EQ(dlsym(m, inner), nullptr) << inner;
    dlclose(m);
}
#endif

#if defined(_WIN32)
TEST(CrashHandlers, InstalledAtLoadAndGivenBackAtUnload) {
    const handler_t before_int = current_signal_handler(SIGINT);
    const handler_t before_abort = current_signal_handler(SIGABRT);
    const auto before_ip = current_invalid_parameter_handler();
    const auto before_pc = current_purecall_handler();
    player host;
    {
        component_module module(host, component_path());
        EXPECT_NE(current_signal_handler(SIGINT), before_int);
        EXPECT_NE(current_signal_handler(SIGABRT), before_abort);
        if (crt_function<set_ip_t>("_set_invalid_parameter_handler")) {
            EXPECT_NE(current_invalid_parameter_handler(), before_ip);
        }
        if (crt_function<set_pc_t>("_set_purecall_handler")) {
            EXPECT_NE(current_purecall_handler(), before_pc);
        }
    }
    EXPECT_EQ(current_signal_handler(SIGINT), before_int);
    EXPECT_EQ(current_signal_handler(SIGABRT), before_abort);
    EXPECT_EQ(current_invalid_parameter_handler(), before_ip);
    EXPECT_EQ(current_purecall_handler(), before_pc);
}
#else
TEST(CrashHandlers, NoneAreInstalledHere) {
    const int signals[] = {SIGINT, SIGTERM, SIGABRT, 21, 22};
    void* before[5];
    for (int i = 0; i < 5; ++i) before[i] = current_signal_handler(signals[i]);
    player host;
    component_module module(host, component_path());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(current_signal_handler(signals[i]), before[i]) << signals[i];
}
#endif
