// Loads the component beside this program and prints whether loading it
// started the system's sockets: "started" or "not started" (the library
// answers a cleanup without a start with WSANOTINITIALISED).
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>

#include <string>

int main() {
    wchar_t path[MAX_PATH];
    std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    folder.erase(folder.find_last_of(L"\\/") + 1);
    if (!LoadLibraryW((folder + L"velmora.dll").c_str()))
        return 4;
    HMODULE sockets = LoadLibraryW(L"ws2_32.dll");
    typedef int(WINAPI * cleanup_fn)();
    typedef int(WINAPI * error_fn)();
    auto cleanup = reinterpret_cast<cleanup_fn>(reinterpret_cast<void*>(GetProcAddress(sockets, "WSACleanup")));
    auto last_error = reinterpret_cast<error_fn>(reinterpret_cast<void*>(GetProcAddress(sockets, "WSAGetLastError")));
    if (!cleanup || !last_error)
        return 5;
    const int WSANOTINITIALISED_ = 10093;
    std::printf(cleanup() == 0 ? "started\n" : last_error() == WSANOTINITIALISED_ ? "not started\n" : "unknown\n");
    std::fflush(stdout);
    return 0;
}
#else
int main() {
    std::printf("not started\n");
    return 0;
}
#endif
