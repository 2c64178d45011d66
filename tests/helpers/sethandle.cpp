// Signals the event whose handle value (decimal) is its first argument, as
// far as it holds such a handle, then reads its input to the end. A child
// that inherited the event signals its parent's event.
#include "helper_io.h"

#include <cstdlib>

int main(int argc, char** argv) {
#if defined(_WIN32)
    if (argc > 1)
        SetEvent(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::strtoul(argv[1], nullptr, 10))));
#else
    (void)argc;
    (void)argv;
#endif
    static char buffer[4096];
    while (helper::readSome(buffer, sizeof(buffer)) > 0) {
    }
    return 0;
}
