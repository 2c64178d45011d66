// Reads standard input to its end, then stays for a minute: a program that
// does not end when its input is closed.
#include "helper_io.h"

#include <chrono>
#include <thread>

int main() {
    static char buffer[4096];
    while (helper::readSome(buffer, sizeof(buffer)) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}
