// kestrune, the stand-in player: loads the Velmora component, shows what it
// registers and plays a list of tracks into it.
#include <cstdio>
#include <exception>
#include <string>

#include "program.h"

int main(int argc, char** argv) {
    using namespace kestrune_host;
    program_options options;
    std::string error;
    if (!parse_options(program_arguments(argc, argv), options, error)) {
        std::fprintf(stderr, "kestrune: %s\n%s", error.c_str(), usage_text());
        return 2;
    }
    if (options.help) {
        std::printf("%s", usage_text());
        return 0;
    }
    try {
        const int status = run_program(options);
        std::printf("unloaded\n");
        std::fflush(stdout);
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrune: %s\n", e.what());
        return 1;
    }
}
