// Copies standard input to standard output as it arrives.
#include "helper_io.h"

int main() {
    static char buffer[65536];
    for (;;) {
        std::size_t got = helper::readSome(buffer, sizeof(buffer));
        if (got == 0)
            return 0;
        if (!helper::writeAll(1, buffer, got))
            return 1;
    }
}
