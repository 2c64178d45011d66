// Stays for the number of seconds given as its first argument (default 60)
// without reading its input: a program that stops taking input but does not
// end.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    std::this_thread::sleep_for(std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 60));
    return 0;
}
