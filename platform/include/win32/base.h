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
typedef const void* LPCVOID;
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

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
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_MR_MID_NOT_FOUND 317u
#define ERROR_INSUFFICIENT_BUFFER 122u

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

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

// Events: a manual- or auto-reset flag with a timed wait.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// The system's message text for an error code (FORMAT_MESSAGE_FROM_SYSTEM
// only). Texts end with CR LF as on Windows; a text with inserts ("%1")
// needs FORMAT_MESSAGE_IGNORE_INSERTS, since no argument list is supported.
// Gives the number of characters written, or 0 with the last error set.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPWSTR buffer, DWORD size,
                     void* arguments);
#endif
