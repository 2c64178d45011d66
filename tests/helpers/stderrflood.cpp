// Writes the number of kilobytes given as its first argument (default 1024)
// to standard error before it reads anything, then copies standard input to
// standard output with one more line on standard error per read.
#include "helper_io.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const long kilobytes = argc > 1 ? std::atol(argv[1]) : 1024;
    char line[64];
    std::memset(line, 'e', sizeof(line));
    line[sizeof(line) - 1] = '\n';
    for (long i = 0; i < kilobytes * 16; ++i)
        if (!helper::writeAll(2, line, sizeof(line)))
            return 1;
    static char buffer[65536];
    for (;;) {
        std::size_t got = helper::readSome(buffer, sizeof(buffer));
        if (got == 0)
            return 0;
        if (!helper::writeAll(2, "read\n", 5) || !helper::writeAll(1, buffer, got))
            return 1;
    }
}
