// The Win32 pipe and process calls as the engine uses them. On Windows these
// are the system's own (under Wine in our runs); on Linux our layer must
// answer the same.
#include "pipe_fixture.h"

#include "plugin/utils.h"
#include "win32/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#if !defined(_WIN32)
#include <csignal>
#endif

using namespace pipetest;

namespace {

struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    explicit Pipe(DWORD size) { EXPECT_TRUE(CreatePipe(&read, &write, nullptr, size)); }
    ~Pipe() {
        if (read)
            CloseHandle(read);
        if (write)
            CloseHandle(write);
    }
    void closeRead() {
        CloseHandle(read);
        read = nullptr;
    }
    void closeWrite() {
        CloseHandle(write);
        write = nullptr;
    }
};

DWORD waiting(HANDLE pipe) {
    DWORD available = 12345;
    EXPECT_TRUE(PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr));
    return available;
}

TEST(Win32Pipes, NoWaitWritesFillTheBufferThenTakeNothing) {
    Pipe pipe(16384);
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(pipe.write, &mode, nullptr, nullptr));
    const std::string piece(4096, 'p');
    DWORD total = 0, written = 0;
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(WriteFile(pipe.write, piece.data(), 4096, &written, nullptr));
        if (written == 0)
            break;
        total += written;
    }
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(total, 16384u);
    EXPECT_EQ(waiting(pipe.read), total);
    // Reading a piece makes room for a piece.
    std::string buffer(4096, '\0');
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(pipe.read, &buffer[0], 4096, &got, nullptr));
    EXPECT_EQ(got, 4096u);
    EXPECT_EQ(buffer, piece);
    ASSERT_TRUE(WriteFile(pipe.write, piece.data(), 4096, &written, nullptr));
    EXPECT_EQ(written, 4096u);
}

TEST(Win32Pipes, BytesComeOutAsTheyWentIn) {
    Pipe pipe(0);
    const std::string data = patternBytes(3000);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(pipe.write, data.data(), 1000, &written, nullptr));
    ASSERT_TRUE(WriteFile(pipe.write, data.data() + 1000, 2000, &written, nullptr));
    EXPECT_EQ(waiting(pipe.read), 3000u);
    std::string out(3000, '\0');
    DWORD got = 0, total = 0;
    while (total < 3000 && ReadFile(pipe.read, &out[total], 3000 - total, &got, nullptr))
        total += got;
    EXPECT_EQ(out, data);
    EXPECT_EQ(waiting(pipe.read), 0u);
}

TEST(Win32Pipes, AnEndedPipeAnswersWithWin32Codes) {
    {
        // No reader: the write fails with ERROR_NO_DATA, and nothing else
        // happens to this process (no signal, none left pending), every
        // time.
        Pipe pipe(0);
        pipe.closeRead();
        for (int i = 0; i < 2; ++i) {
            DWORD written = 7;
            EXPECT_FALSE(WriteFile(pipe.write, "abc", 3, &written, nullptr));
            EXPECT_EQ(GetLastError(), ERROR_NO_DATA);
            EXPECT_EQ(written, 0u);
#if !defined(_WIN32)
            sigset_t pending;
            sigpending(&pending);
            EXPECT_FALSE(sigismember(&pending, SIGPIPE));
#endif
        }
    }
    {
        // No writer: what was written can still be read, then the pipe has
        // ended for peeks and reads alike.
        Pipe pipe(0);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(pipe.write, "xyz", 3, &written, nullptr));
        pipe.closeWrite();
        EXPECT_EQ(waiting(pipe.read), 3u);
        char buffer[8];
        DWORD got = 0;
        ASSERT_TRUE(ReadFile(pipe.read, buffer, sizeof(buffer), &got, nullptr));
        EXPECT_EQ(std::string(buffer, got), "xyz");
        DWORD available = 0;
        EXPECT_FALSE(PeekNamedPipe(pipe.read, nullptr, 0, nullptr, &available, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
        EXPECT_FALSE(ReadFile(pipe.read, buffer, sizeof(buffer), &got, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
    }
}

TEST(Win32Pipes, DuplicatesKeepThePipeOpen) {
    Pipe pipe(0);
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), pipe.write, GetCurrentProcess(), &copy, 0, TRUE,
                                DUPLICATE_SAME_ACCESS));
    pipe.closeWrite();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(copy, "q", 1, &written, nullptr));
    EXPECT_EQ(waiting(pipe.read), 1u);
    CloseHandle(copy);
    char c;
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(pipe.read, &c, 1, &got, nullptr));
    DWORD available = 0;
    EXPECT_FALSE(PeekNamedPipe(pipe.read, nullptr, 0, nullptr, &available, nullptr));
}

// Starts a helper with its standard handles on fresh pipes.
struct Started {
    PROCESS_INFORMATION info = {};
    Pipe in{16384}, out{16384};
    HANDLE child_in = nullptr, child_out = nullptr;
    bool ok = false;
    explicit Started(const std::string& command_line) {
        DuplicateHandle(GetCurrentProcess(), in.read, GetCurrentProcess(), &child_in, 0, TRUE, DUPLICATE_SAME_ACCESS);
        DuplicateHandle(GetCurrentProcess(), out.write, GetCurrentProcess(), &child_out, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
        in.closeRead();
        out.closeWrite();
        STARTUPINFOW startup;
        GetStartupInfoW(&startup);
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = child_in;
        startup.hStdOutput = child_out;
        startup.hStdError = child_out;
        std::wstring line = fromUtf8(command_line);
        ok = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                            &info) != FALSE;
        // The parent needs no copy of the child's ends here.
        CloseHandle(child_in);
        CloseHandle(child_out);
    }
    ~Started() {
        if (ok) {
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
    }
};

TEST(Win32Processes, ExitCodesAndTheHandleState) {
    Started child(helper("exitnow") + " 42");
    ASSERT_TRUE(child.ok);
    EXPECT_EQ(WaitForSingleObject(child.info.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(child.info.hProcess, &code));
    EXPECT_EQ(code, 42u);
    // Asked again, the same answer (the process is collected once).
    ASSERT_TRUE(GetExitCodeProcess(child.info.hProcess, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(child.info.hProcess, 0), WAIT_OBJECT_0);
}

TEST(Win32Processes, TerminateEndsARunningProgramWithItsCode) {
    Started child(helper("passthrough"));
    ASSERT_TRUE(child.ok);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(child.info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(child.info.hProcess, 50), WAIT_TIMEOUT);
    ASSERT_TRUE(TerminateProcess(child.info.hProcess, 7));
    EXPECT_EQ(WaitForSingleObject(child.info.hProcess, 30000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeProcess(child.info.hProcess, &code));
    EXPECT_EQ(code, 7u);
}

TEST(Win32Processes, AChildGetsOnlyItsOwnPipes) {
    // Two children at once: the second must not hold the first one's input
    // open, or the first would never see the end of its input.
    Started first(helper("passthrough"));
    Started second(helper("passthrough"));
    ASSERT_TRUE(first.ok && second.ok);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(first.in.write, "hello", 5, &written, nullptr));
    first.in.closeWrite();
    EXPECT_EQ(WaitForSingleObject(first.info.hProcess, 30000), WAIT_OBJECT_0);
    char buffer[16];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(first.out.read, buffer, sizeof(buffer), &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "hello");
    // Its output has ended too: no one else holds its write end.
    EXPECT_FALSE(ReadFile(first.out.read, buffer, sizeof(buffer), &got, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
    EXPECT_EQ(WaitForSingleObject(second.info.hProcess, 0), WAIT_TIMEOUT);
    second.in.closeWrite();
    EXPECT_EQ(WaitForSingleObject(second.info.hProcess, 30000), WAIT_OBJECT_0);
}

TEST(Win32Processes, AMissingProgramIsFileNotFound) {
    Started child("velmora-no-such-program --x");
    EXPECT_FALSE(child.ok);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

} // namespace
