// Linux layer: anonymous pipes and child processes with the behaviour of
// their Win32 counterparts.
#include "win32/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iconv.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

DWORD win32Error(int error) {
    switch (error) {
    case EPIPE: return ERROR_NO_DATA;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
    }
}

BOOL fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

BOOL failErrno() { return fail(win32Error(errno)); }

// One end of a pipe. The descriptor is always close-on-exec.
class pipe_end : public platform::kernel_object {
public:
    pipe_end(int fd, bool read_end, bool nowait = false) : fd(fd), read_end(read_end), nowait(nowait) {}
    ~pipe_end() override {
        if (fd >= 0)
            ::close(fd);
    }
    int fd;
    bool read_end;
    // PIPE_NOWAIT as last set through this handle (or its original).
    bool nowait;
};

// The process handle. Exit status is collected once and kept, so a process
// id that the system has since given to another process is never waited on.
class process_object : public platform::kernel_object {
public:
    explicit process_object(pid_t pid) : pid(pid) {}
    ~process_object() override;

    // True when the process has ended (and is reaped).
    bool poll() {
        if (reaped)
            return true;
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == pid || (r < 0 && errno == ECHILD)) {
            record(r == pid ? status : 0);
            return true;
        }
        return false;
    }

    DWORD wait(DWORD milliseconds) override {
        if (poll())
            return WAIT_OBJECT_0;
        if (milliseconds == INFINITE) {
            int status = 0;
            pid_t r;
            do {
                r = ::waitpid(pid, &status, 0);
            } while (r < 0 && errno == EINTR);
            record(r == pid ? status : 0);
            return WAIT_OBJECT_0;
        }
        // Bounded wait: poll with short naps (1 ms growing to 10 ms).
        const DWORD start = GetTickCount();
        DWORD nap = 1;
        for (;;) {
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= milliseconds)
                return poll() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
            Sleep(std::min(nap, milliseconds - elapsed));
            if (poll())
                return WAIT_OBJECT_0;
            nap = std::min<DWORD>(nap * 2, 10);
        }
    }

    void record(int status) {
        reaped = true;
        if (terminated)
            return; // TerminateProcess's code stands
        if (WIFEXITED(status))
            exit_code = static_cast<DWORD>(WEXITSTATUS(status));
        else if (WIFSIGNALED(status)) {
            exit_code = 128u + static_cast<DWORD>(WTERMSIG(status));
            signal = WTERMSIG(status);
        } else {
            exit_code = 0;
        }
    }

    pid_t pid;
    bool reaped = false;
    bool terminated = false;
    DWORD exit_code = 0;
    // The signal that ended the process (0 when it exited).
    int signal = 0;
};

// Children whose handle was closed while they still ran: reaped later, so
// none stays a zombie for the life of the host.
std::mutex g_orphans_mutex;
std::vector<pid_t> g_orphans;

void reapOrphans() {
    std::lock_guard<std::mutex> lock(g_orphans_mutex);
    g_orphans.erase(std::remove_if(g_orphans.begin(), g_orphans.end(),
                                   [](pid_t pid) {
                                       int status;
                                       pid_t r = ::waitpid(pid, &status, WNOHANG);
                                       return r == pid || (r < 0 && errno == ECHILD);
                                   }),
                    g_orphans.end());
}

process_object::~process_object() {
    if (!poll()) {
        std::lock_guard<std::mutex> lock(g_orphans_mutex);
        g_orphans.push_back(pid);
    }
}

pipe_end* asPipe(HANDLE handle) {
    if (handle == nullptr || handle == GetCurrentProcess())
        return nullptr;
    return dynamic_cast<pipe_end*>(static_cast<platform::kernel_object*>(handle));
}

process_object* asProcess(HANDLE handle) {
    if (handle == nullptr || handle == GetCurrentProcess())
        return nullptr;
    return dynamic_cast<process_object*>(static_cast<platform::kernel_object*>(handle));
}

std::string narrow(const std::wstring& text, bool& ok) {
    ok = true;
    if (text.empty())
        return std::string();
    iconv_t cd = ::iconv_open("UTF-8", "WCHAR_T");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ok = false;
        return std::string();
    }
    std::string out(text.size() * 4, '\0');
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text.data()));
    std::size_t in_left = text.size() * sizeof(wchar_t);
    char* dst = &out[0];
    std::size_t out_left = out.size();
    if (::iconv(cd, &in, &in_left, &dst, &out_left) == static_cast<std::size_t>(-1))
        ok = false;
    ::iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

// Writes with SIGPIPE held back for this thread: a closed reader gives
// EPIPE (ERROR_NO_DATA), as on Windows, and never a signal. A thread that
// writes to pipes keeps SIGPIPE blocked from its first write to its end,
// so no mask calls surround every write; the signal that a failed write
// raises stays pending on the thread (it is taken from there before any
// of the process's) and is taken at once. Only this thread's mask
// changes, never the process's handling of the signal.
ssize_t writeWithoutSigpipe(int fd, const void* data, std::size_t count) {
    thread_local bool blocked = false;
    sigset_t pipe_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    if (!blocked) {
        pthread_sigmask(SIG_BLOCK, &pipe_set, nullptr);
        blocked = true;
    }
    ssize_t r;
    do {
        r = ::write(fd, data, count);
    } while (r < 0 && errno == EINTR);
    const int saved = errno;
    if (r < 0 && saved == EPIPE) {
        const timespec zero = {0, 0};
        while (sigtimedwait(&pipe_set, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    errno = saved;
    return r;
}

} // namespace

BOOL CreatePipe(PHANDLE read_end, PHANDLE write_end, LPSECURITY_ATTRIBUTES, DWORD size) {
    if (read_end == nullptr || write_end == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return failErrno();
    if (size > 0) {
        // The kernel may refuse (pipe-user-pages limits): then the default stays.
        (void)::fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(size));
    }
    *read_end = new pipe_end(fds[0], true);
    *write_end = new pipe_end(fds[1], false);
    return TRUE;
}

BOOL DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process, LPHANDLE target, DWORD,
                     BOOL, DWORD options) {
    if (source_process != GetCurrentProcess() || target_process != GetCurrentProcess() || target == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    pipe_end* pipe = asPipe(source);
    if (pipe == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    int fd = ::fcntl(pipe->fd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        return failErrno();
    *target = new pipe_end(fd, pipe->read_end, pipe->nowait);
    if (options & DUPLICATE_CLOSE_SOURCE)
        CloseHandle(source);
    return TRUE;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

void GetStartupInfoW(LPSTARTUPINFOW info) {
    std::memset(info, 0, sizeof(*info));
    info->cb = sizeof(*info);
}

BOOL CreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL inherit_handles, DWORD, LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                    LPPROCESS_INFORMATION information) {
    if (information == nullptr || startup == nullptr || environment != nullptr)
        return fail(environment != nullptr ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
    reapOrphans();

    std::vector<std::wstring> words = platform::splitCommandLine(command_line ? command_line : L"");
    if (application != nullptr) {
        if (words.empty())
            words.emplace_back();
        words[0] = application;
    }
    if (words.empty() || words[0].empty())
        return fail(ERROR_FILE_NOT_FOUND);
    std::vector<std::string> args;
    for (const std::wstring& word : words) {
        bool ok;
        args.push_back(narrow(word, ok));
        if (!ok)
            return fail(ERROR_INVALID_PARAMETER);
    }
    std::replace(args[0].begin(), args[0].end(), '\\', '/');
    std::string dir;
    if (directory != nullptr) {
        bool ok;
        dir = narrow(directory, ok);
        if (!ok)
            return fail(ERROR_INVALID_PARAMETER);
    }

    // The standard handles go to 0, 1 and 2 through temporary copies above
    // 2, so no descriptor is overwritten before it is copied; dup2 clears
    // close-on-exec on the targets alone.
    int temporaries[3] = {-1, -1, -1};
    auto closeTemporaries = [&temporaries] {
        for (int& fd : temporaries)
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
    };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inherit_handles && (startup->dwFlags & STARTF_USESTDHANDLES)) {
        const HANDLE std_handles[3] = {startup->hStdInput, startup->hStdOutput, startup->hStdError};
        for (int i = 0; i < 3; ++i) {
            pipe_end* pipe = asPipe(std_handles[i]);
            if (pipe == nullptr) {
                // A Windows child would get no such handle: give it /dev/null.
                posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0);
                continue;
            }
            temporaries[i] = ::fcntl(pipe->fd, F_DUPFD_CLOEXEC, 3);
            if (temporaries[i] < 0) {
                const DWORD code = win32Error(errno);
                closeTemporaries();
                posix_spawn_file_actions_destroy(&actions);
                return fail(code);
            }
            posix_spawn_file_actions_adddup2(&actions, temporaries[i], i);
        }
    }
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    // Nothing but the standard handles reaches the program, whatever
    // descriptor of this process lacks close-on-exec (a socket made by a
    // library, a file of the player's).
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // A fresh program: default SIGPIPE (it ends a writer whose reader went
    // away) and no blocked signals, whatever this thread has.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool search = args[0].find('/') == std::string::npos;
    const int r = search ? ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ)
                         : ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    closeTemporaries();
    if (r != 0)
        return fail(win32Error(r));

    information->hProcess = new process_object(pid);
    information->hThread = new platform::kernel_object();
    information->dwProcessId = static_cast<DWORD>(pid);
    information->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

BOOL SetNamedPipeHandleState(HANDLE handle, LPDWORD mode, LPDWORD, LPDWORD) {
    pipe_end* pipe = asPipe(handle);
    if (pipe == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if (mode == nullptr)
        return TRUE;
    int flags = ::fcntl(pipe->fd, F_GETFL);
    if (flags < 0)
        return failErrno();
    flags = (*mode & PIPE_NOWAIT) ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(pipe->fd, F_SETFL, flags) != 0)
        return failErrno();
    pipe->nowait = (*mode & PIPE_NOWAIT) != 0;
    return TRUE;
}

namespace {

// The pipe end behind a handle for a read or a write; clears the count of
// bytes moved. Null, with the last error set, for any other handle.
pipe_end* pipeFor(HANDLE handle, bool reading, LPDWORD moved) {
    if (moved != nullptr)
        *moved = 0;
    pipe_end* pipe = asPipe(handle);
    if (pipe == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (pipe->read_end != reading) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return pipe;
}

} // namespace

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
    pipe_end* pipe = pipeFor(handle, false, written);
    if (pipe == nullptr)
        return FALSE;
    const char* data = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < count) {
        ssize_t r = writeWithoutSigpipe(pipe->fd, data + done, count - done);
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break; // full pipe in no-wait mode: what was taken stands
            if (written != nullptr)
                *written = done;
            return failErrno();
        }
        done += static_cast<DWORD>(r);
        if (pipe->nowait)
            break;
    }
    if (written != nullptr)
        *written = done;
    return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) {
    pipe_end* pipe = pipeFor(handle, true, read);
    if (pipe == nullptr)
        return FALSE;
    if (count == 0)
        return TRUE;
    ssize_t r;
    do {
        r = ::read(pipe->fd, buffer, count);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return fail(ERROR_NO_DATA);
        return failErrno();
    }
    if (r == 0)
        return fail(ERROR_BROKEN_PIPE); // every writer has gone
    if (read != nullptr)
        *read = static_cast<DWORD>(r);
    return TRUE;
}

BOOL PeekNamedPipe(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, LPDWORD total_available,
                   LPDWORD left_this_message) {
    pipe_end* pipe = asPipe(handle);
    if (read != nullptr)
        *read = 0;
    if (left_this_message != nullptr)
        *left_this_message = 0;
    if (total_available != nullptr)
        *total_available = 0;
    if (pipe == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if (buffer != nullptr && size > 0)
        return fail(ERROR_NOT_SUPPORTED);
    int waiting = 0;
    if (::ioctl(pipe->fd, FIONREAD, &waiting) != 0)
        return failErrno();
    if (waiting == 0 && pipe->read_end) {
        // Empty and every writer gone: the pipe has ended.
        pollfd p = {pipe->fd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) && !(p.revents & POLLIN))
            return fail(ERROR_BROKEN_PIPE);
    }
    if (total_available != nullptr)
        *total_available = static_cast<DWORD>(waiting);
    return TRUE;
}

BOOL platform::waitForPipes(const HANDLE* pipes, DWORD count, DWORD milliseconds, bool* ready) {
    if (count > 8 || (count > 0 && (pipes == nullptr || ready == nullptr)))
        return fail(ERROR_INVALID_PARAMETER);
    pollfd fds[8];
    for (DWORD i = 0; i < count; ++i) {
        pipe_end* pipe = asPipe(pipes[i]);
        if (pipe == nullptr || !pipe->read_end)
            return fail(ERROR_INVALID_HANDLE);
        fds[i] = pollfd{pipe->fd, POLLIN, 0};
        ready[i] = false;
    }
    const int timeout = milliseconds == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(milliseconds, 0x7fffffff));
    int r;
    do {
        r = ::poll(fds, count, timeout);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return failErrno();
    for (DWORD i = 0; i < count; ++i)
        ready[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE handle) {
    pipe_end* pipe = asPipe(handle);
    if (pipe == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if (pipe->read_end)
        return TRUE;
    for (;;) {
        int waiting = 0;
        if (::ioctl(pipe->fd, FIONREAD, &waiting) != 0)
            return failErrno();
        if (waiting == 0)
            return TRUE;
        pollfd p = {pipe->fd, 0, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & POLLERR))
            return fail(ERROR_NO_DATA); // the reader has gone
        Sleep(1);
    }
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exit_code) {
    process_object* process = asProcess(handle);
    if (process == nullptr || exit_code == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    *exit_code = process->poll() ? process->exit_code : STILL_ACTIVE;
    return TRUE;
}

int platform::processSignal(HANDLE handle) {
    process_object* process = asProcess(handle);
    if (process == nullptr || !process->poll() || process->terminated)
        return 0;
    return process->signal;
}

BOOL TerminateProcess(HANDLE handle, unsigned int exit_code) {
    process_object* process = asProcess(handle);
    if (process == nullptr)
        return fail(ERROR_INVALID_HANDLE);
    if (process->poll())
        return fail(ERROR_ACCESS_DENIED); // it has already ended
    if (::kill(process->pid, SIGKILL) != 0)
        return failErrno();
    process->terminated = true;
    process->exit_code = exit_code;
    return TRUE;
}
