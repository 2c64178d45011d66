#pragma once
// The Win32 base names the component uses. On Windows this is <windows.h>;
// on Linux a small layer of ours gives the same observable behaviour.
#if defined(_WIN32)
#  include <windows.h>
#else
#include <cstdint>

typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef int BOOL;
typedef unsigned char BYTE;
typedef std::uint16_t WORD;
typedef void* HANDLE;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;

#ifndef TRUE
#  define TRUE 1
#  define FALSE 0
#endif

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_BAD_FORMAT 11u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_HANDLE_EOF 38u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BROKEN_PIPE 109u
#define ERROR_BAD_EXE_FORMAT 193u
#define ERROR_NO_DATA 232u
#define ERROR_MORE_DATA 234u
#define ERROR_PIPE_NOT_CONNECTED 233u

namespace platform {
// Everything a HANDLE can stand for on this build derives from this: events,
// pipe ends, processes. CloseHandle deletes the object.
class kernel_object {
public:
    virtual ~kernel_object();
    // WaitForSingleObject: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
    virtual DWORD wait(DWORD milliseconds);
};
} // namespace platform

DWORD GetLastError();
void SetLastError(DWORD code);
BOOL CloseHandle(HANDLE handle);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
void Sleep(DWORD milliseconds);
// Milliseconds of a monotonic clock, cut to 32 bits.
DWORD GetTickCount();
#endif
