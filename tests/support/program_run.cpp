#include "program_run.h"

#if !defined(_WIN32)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ProgramRun runWatched(const std::vector<std::string>& argv, const std::function<void(pid_t)>& started,
                      const std::function<void(pid_t, const std::string&)>& seen) {
    ProgramRun run;
    if (argv.empty())
        return run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (failed != 0) {
        close(out[0]);
        return run;
    }
    if (started)
        started(pid);
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
        run.output.append(buffer, std::size_t(n));
        if (seen)
            seen(pid, run.output);
    }
    close(out[0]);
    waitpid(pid, &run.raw_status, 0);
    return run;
}
#endif
