// Linux stand-ins for the shell's path functions. Wide strings hold code
// points (wchar_t is 32 bits here); the file system sees UTF-8.
#include "win32/shell.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <codecvt>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <string>

namespace {

// A converter per call: the standard one keeps state between calls. On a
// name that does not convert it returns the error texts given here
// instead of throwing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
using Converter = std::wstring_convert<std::codecvt_utf8<wchar_t>>;

bool toNative(LPCWSTR path, std::string& out) {
    Converter converter("", L"");
    out = converter.to_bytes(path);
    if (out.empty()) return false;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return true;
}

bool fromNative(const char* path, std::wstring& out) {
    // The wide error text is a lone zero character, which no converted
    // name can hold.
    Converter converter("", std::wstring(1, L'\0'));
    out = converter.from_bytes(path);
    return !(out.size() == 1 && out[0] == L'\0');
}
#pragma GCC diagnostic pop

} // namespace

BOOL PathIsRelativeW(LPCWSTR path) {
    if (path == nullptr) return TRUE;
    return (path[0] == L'/' || path[0] == L'\\') ? FALSE : TRUE;
}

BOOL PathFileExistsW(LPCWSTR path) {
    if (path == nullptr) return FALSE;
    std::string native;
    if (!toNative(path, native)) return FALSE;
    struct stat info;
    return ::stat(native.c_str(), &info) == 0 ? TRUE : FALSE;
}

DWORD GetCurrentDirectoryW(DWORD length, LPWSTR buffer) {
    char* native = ::getcwd(nullptr, 0);
    if (native == nullptr) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return 0;
    }
    std::wstring wide;
    bool converted = fromNative(native, wide);
    std::free(native);
    if (!converted) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD needed = static_cast<DWORD>(wide.size());
    if (buffer == nullptr || length <= needed) return needed + 1;
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return needed;
}
