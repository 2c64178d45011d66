// An encoder whose tail comes late and that does not end: reads standard
// input to its end (writing nothing meanwhile), says "input ended" on
// standard error, waits DELAY milliseconds, writes TAIL bytes whose last
// ones are "END OF TAIL", then stays STAY milliseconds. A LABEL, when
// given, goes to standard output at once, with a line end: it tells which
// start of the program a stream carries.
// Arguments: DELAY TAIL STAY [LABEL] (default 0 0 60000).
#include "helper_io.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
#if !defined(_WIN32)
    // Stays though its error output is closed.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const long delay = argc > 1 ? std::atol(argv[1]) : 0;
    const std::size_t tail = argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 0;
    const long stay = argc > 3 ? std::atol(argv[3]) : 60000;
    if (argc > 4 && argv[4][0] != '\0') {
        const std::string label = std::string(argv[4]) + "\n";
        helper::writeAll(1, label.data(), label.size());
    }
    static char buffer[4096];
    while (helper::readSome(buffer, sizeof(buffer)) > 0) {
    }
    const std::string said = "input ended\n";
    helper::writeAll(2, said.data(), said.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (tail > 0) {
        const std::string end = "END OF TAIL";
        std::string bytes(tail > end.size() ? tail - end.size() : 0, 'x');
        bytes += end.substr(end.size() - std::min(tail, end.size()));
        helper::writeAll(1, bytes.data(), bytes.size());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(stay));
    return 0;
}
