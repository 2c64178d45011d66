// Loads the component beside this program and raises the signal given as
// the first argument. The first structured exception that follows is
// printed as "code flags argument-count first-argument" and ends the
// process with status 3. Without the component's handlers the signal's own
// default action ends it instead.
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>

#include <csignal>
#include <string>

namespace {

LONG CALLBACK first_exception(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    std::printf("%08lX %lu %lu %lu\n", static_cast<unsigned long>(r->ExceptionCode),
                static_cast<unsigned long>(r->ExceptionFlags), static_cast<unsigned long>(r->NumberParameters),
                r->NumberParameters ? static_cast<unsigned long>(r->ExceptionInformation[0]) : 0ul);
    std::fflush(stdout);
    ExitProcess(3);
    return EXCEPTION_CONTINUE_SEARCH;
}

std::wstring folder_of_program() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    const std::size_t slash = s.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (!LoadLibraryW((folder_of_program() + L"velmora.dll").c_str())) return 4;
    AddVectoredExceptionHandler(1, first_exception);
    std::raise(std::atoi(argv[1]));
    return 0;
}
#else
int main() { return 2; }
#endif
