#pragma once
// A program run as a child process on POSIX builds, its standard output
// and error in one pipe. `started` learns its process id at once (a test
// may signal it from another thread); `seen` gets the id and all output so
// far after each read (a test may signal it on a line it waits for).
#if !defined(_WIN32)
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct ProgramRun {
    std::string output;
    // As waitpid gives it; -1 when the program did not start.
    int raw_status = -1;
};

ProgramRun runWatched(const std::vector<std::string>& argv, const std::function<void(pid_t)>& started,
                      const std::function<void(pid_t, const std::string&)>& seen);
#endif
