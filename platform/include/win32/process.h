#pragma once
// Win32 processes and anonymous pipes. On Windows this is <windows.h>; on
// Linux a small layer of ours over posix_spawn and pipes with the same
// observable behaviour: non-blocking writes into a full pipe take 0 bytes,
// peeks report the bytes waiting, failures report Win32 error codes, and the
// command line is split into arguments exactly as a Windows program's C
// runtime splits it.
#include "win32/base.h"

#include <string>
#include <vector>

#if !defined(_WIN32)
#include <cstddef>

typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;

#ifndef ERROR_NOT_SUPPORTED
#  define ERROR_NOT_SUPPORTED 50u
#endif
#ifndef ERROR_GEN_FAILURE
#  define ERROR_GEN_FAILURE 31u
#endif

#define STARTF_USESTDHANDLES 0x00000100u
#define CREATE_NO_WINDOW 0x08000000u
#define PIPE_WAIT 0x00000000u
#define PIPE_NOWAIT 0x00000001u
#define PIPE_READMODE_BYTE 0x00000000u
#define DUPLICATE_CLOSE_SOURCE 0x00000001u
#define DUPLICATE_SAME_ACCESS 0x00000002u

// Declared in base.h.
struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// Pipes: both ends are close-on-exec; a child gets only the three handles
// named in its STARTUPINFOW. A size of 0 keeps the system's default.
BOOL CreatePipe(PHANDLE read_end, PHANDLE write_end, LPSECURITY_ATTRIBUTES attributes, DWORD size);
// Duplicates pipe ends within this process (the only use we have).
BOOL DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process, LPHANDLE target,
                     DWORD access, BOOL inheritable, DWORD options);
// A pseudo handle; never closed.
HANDLE GetCurrentProcess();
void GetStartupInfoW(LPSTARTUPINFOW info);
// No application name: the program is the first token of the command line
// (searched on PATH when it holds no slash; backslashes count as slashes).
// A non-null environment block is not supported.
BOOL CreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles, DWORD flags,
                    LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                    LPPROCESS_INFORMATION information);
// PIPE_NOWAIT on a write end: a write into a full pipe takes 0 bytes.
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD max_collection, LPDWORD timeout);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
// Reports the bytes waiting (total_available); copying bytes out without
// taking them is not supported (buffer must be null or size 0).
BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD read, LPDWORD total_available,
                   LPDWORD left_this_message);
// On a pipe's write end: waits until the reader has taken every byte.
BOOL FlushFileBuffers(HANDLE file);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code);
BOOL TerminateProcess(HANDLE process, unsigned int exit_code);

namespace platform {
// No Win32 counterpart: waits at most `milliseconds` (INFINITE for no
// limit) until one of the pipes' read ends has bytes waiting or has ended,
// in one system call, and sets `ready` for each; at most 8 pipes. A ready
// pipe's ReadFile then returns at once. FALSE with the last error set on
// failure.
BOOL waitForPipes(const HANDLE* pipes, DWORD count, DWORD milliseconds, bool* ready);
// The signal that ended a process which has ended; 0 when it exited by
// itself or was ended by TerminateProcess (its exit code then tells).
int processSignal(HANDLE process);
} // namespace platform
#endif

namespace platform {
// Splits a command line as the C runtime of a Windows program does: the
// first token is the program, where quotes only group; in the arguments
// after it 2n backslashes before a quote give n backslashes and the quote
// groups, 2n+1 give n backslashes and a literal quote, and "" inside a
// quoted part gives a literal quote. Blanks are spaces and tabs.
std::vector<std::wstring> splitCommandLine(const std::wstring& line);
// The same argument rules for every token (no program token). UTF-8 text
// splits the same way: the rules only look at ASCII characters.
std::vector<std::string> splitArguments(const std::string& text);
std::vector<std::wstring> splitArguments(const std::wstring& text);
// Quotes one argument so that the rules above give it back unchanged.
std::string quoteArgument(const std::string& argument);
std::wstring quoteArgument(const std::wstring& argument);
} // namespace platform
