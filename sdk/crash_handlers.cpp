// The SDK's crash handlers. On Windows, interrupt, termination, break and
// abort signals and the runtime's invalid-parameter and pure-call handlers
// become non-continuable structured exceptions, which the player's crash
// reporting catches. The previous handlers are saved at load and given back
// at unload, so nothing points into the unloaded module afterwards.
//
// On other systems nothing is installed: the player owns the process's
// signal dispositions, and signals 21 and 22 mean something else there.
#include "crash_handlers.h"

#if defined(_WIN32)
#include <windows.h>

#include <csignal>
#include <cstdlib>

namespace {

constexpr DWORD code_signal = 0x6F8E1DC8;
constexpr DWORD code_invalid_parameter = 0xF6538887;
constexpr DWORD code_pure_call = 0xD142B808;

constexpr int handled_signals[] = {SIGINT, SIGTERM, 21 /* break */, 22 /* abort */};
constexpr int signal_count = sizeof handled_signals / sizeof handled_signals[0];

void __cdecl on_signal(int sig) {
    ULONG_PTR argument = static_cast<ULONG_PTR>(sig);
    RaiseException(code_signal, EXCEPTION_NONCONTINUABLE, 1, &argument);
}

void __cdecl on_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {
    RaiseException(code_invalid_parameter, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

void __cdecl on_pure_call() {
    RaiseException(code_pure_call, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// The runtime's setters are looked up at run time in the C runtime DLL the
// module uses, so that they act process-wide where that runtime has them.
// mingw's import library has no _set_abort_behavior at all: without the
// runtime's own it is left out. The invalid-parameter and pure-call setters
// fall back to mingw's, which act within this module only.
template <class F>
F crt_function(const char* name) {
    HMODULE crt = GetModuleHandleW(L"msvcrt.dll");
    if (!crt) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(crt, name)));
}

typedef unsigned int(__cdecl* set_abort_behavior_t)(unsigned int flags, unsigned int mask);
typedef _invalid_parameter_handler(__cdecl* set_invalid_parameter_t)(_invalid_parameter_handler);
typedef _purecall_handler(__cdecl* set_purecall_t)(_purecall_handler);
constexpr unsigned int abort_flags_all = 0x1 /* write message */ | 0x2 /* report fault */ | 0x4 /* call report fault */;

typedef void(__cdecl* signal_handler_t)(int);

struct saved_handlers {
    signal_handler_t signals[signal_count];
    _invalid_parameter_handler invalid_parameter;
    _purecall_handler pure_call;
    set_invalid_parameter_t set_invalid_parameter;
    set_purecall_t set_purecall;
    set_abort_behavior_t set_abort_behavior;
    unsigned int abort_flags;
    bool installed;
};

saved_handlers g_saved{};

} // namespace

void crash_handlers_install() {
    if (g_saved.installed) return;
    for (int i = 0; i < signal_count; ++i) g_saved.signals[i] = std::signal(handled_signals[i], on_signal);
    g_saved.set_abort_behavior = crt_function<set_abort_behavior_t>("_set_abort_behavior");
    if (g_saved.set_abort_behavior) g_saved.abort_flags = g_saved.set_abort_behavior(0, abort_flags_all);
    g_saved.set_invalid_parameter = crt_function<set_invalid_parameter_t>("_set_invalid_parameter_handler");
    if (!g_saved.set_invalid_parameter) g_saved.set_invalid_parameter = &_set_invalid_parameter_handler;
    g_saved.set_purecall = crt_function<set_purecall_t>("_set_purecall_handler");
    if (!g_saved.set_purecall) g_saved.set_purecall = &_set_purecall_handler;
    g_saved.invalid_parameter = g_saved.set_invalid_parameter(on_invalid_parameter);
    g_saved.pure_call = g_saved.set_purecall(on_pure_call);
    g_saved.installed = true;
}

void crash_handlers_restore() {
    if (!g_saved.installed) return;
    // Give back what we replaced, unless someone replaced ours since.
    for (int i = 0; i < signal_count; ++i) {
        signal_handler_t now = std::signal(handled_signals[i], g_saved.signals[i]);
        if (now != on_signal && now != SIG_ERR) std::signal(handled_signals[i], now);
    }
    if (g_saved.set_abort_behavior) g_saved.set_abort_behavior(g_saved.abort_flags & abort_flags_all, abort_flags_all);
    _invalid_parameter_handler ip = g_saved.set_invalid_parameter(g_saved.invalid_parameter);
    if (ip != on_invalid_parameter) g_saved.set_invalid_parameter(ip);
    _purecall_handler pc = g_saved.set_purecall(g_saved.pure_call);
    if (pc != on_pure_call) g_saved.set_purecall(pc);
    g_saved.installed = false;
}

bool crash_handlers_installed() { return g_saved.installed; }

#else

void crash_handlers_install() {}
void crash_handlers_restore() {}
bool crash_handlers_installed() { return false; }

#endif
