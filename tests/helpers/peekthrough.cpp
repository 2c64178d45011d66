// Copies standard input to standard output, reading only the bytes a peek
// reports as waiting (never waiting inside a read), as our own pump reads.
#include "helper_io.h"

#include <vector>
#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#include <sys/ioctl.h>
#endif

// Bytes waiting on standard input; -1 at its end.
static long waiting() {
#if defined(_WIN32)
    DWORD available = 0;
    if (!PeekNamedPipe(GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &available, nullptr))
        return -1;
    if (available == 0)
        Sleep(1);
    return static_cast<long>(available);
#else
    pollfd p = {0, POLLIN, 0};
    if (::poll(&p, 1, 1) < 0)
        return -1;
    int available = 0;
    if (::ioctl(0, FIONREAD, &available) != 0)
        return -1;
    if (available == 0 && (p.revents & POLLHUP))
        return -1;
    return available;
#endif
}

int main() {
    std::vector<char> buffer;
    for (;;) {
        const long available = waiting();
        if (available < 0)
            return 0;
        if (available == 0)
            continue;
        buffer.resize(static_cast<std::size_t>(available));
        const std::size_t got = helper::readSome(buffer.data(), buffer.size());
        if (got == 0 || !helper::writeAll(1, buffer.data(), got))
            return 1;
    }
}
