#pragma once
// Raw standard-handle I/O for the test helper programs: no text-mode
// translation, and a read returns whatever is waiting.
#include <cstddef>
#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace helper {

// Bytes read from standard input; 0 at its end.
inline std::size_t readSome(char* buffer, std::size_t size) {
#if defined(_WIN32)
    DWORD got = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &got, nullptr))
        return 0;
    return got;
#else
    for (;;) {
        ssize_t r = ::read(0, buffer, size);
        if (r >= 0)
            return static_cast<std::size_t>(r);
        if (errno != EINTR)
            return 0;
    }
#endif
}

// Writes everything to standard output (stream 1) or error (stream 2).
inline bool writeAll(int stream, const char* data, std::size_t size) {
    while (size > 0) {
#if defined(_WIN32)
        DWORD done = 0;
        if (!WriteFile(GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), data,
                       static_cast<DWORD>(size), &done, nullptr))
            return false;
#else
        ssize_t done = ::write(stream, data, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
#endif
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

} // namespace helper
