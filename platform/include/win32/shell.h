#pragma once
// Path functions of the Windows shell and kernel that the component uses.
// On Windows these are the system's own; on Linux a small layer of ours
// takes paths with either separator and reports what stat() sees.
#if defined(_WIN32)
#  include <windows.h>
#  include <shlwapi.h>
#else
#include "win32/base.h"

// TRUE unless the path begins with a separator ("/" or "\"). An empty or
// null path counts as relative.
BOOL PathIsRelativeW(LPCWSTR path);
// TRUE when a file, directory or other file-system object of that name
// exists; "\" counts as a separator.
BOOL PathFileExistsW(LPCWSTR path);
// Copies the current directory with its terminating zero into `buffer` and
// returns its length without the zero when it fits in `length` characters;
// otherwise returns the size the buffer needs, zero included, and leaves
// the buffer alone. Returns 0 and sets the last error when the directory
// cannot be read.
DWORD GetCurrentDirectoryW(DWORD length, LPWSTR buffer);
#endif
