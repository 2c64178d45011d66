#pragma once
// A program started with its standard input, output and error on anonymous
// pipes; writes never block, reads take only what a peek reported.
#include "win32/process.h"

#include "server/deadline.h"

#include <Poco/FIFOBuffer.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class ChildProcess {
public:
    // Input and output pipe sizes unless set otherwise; standard error
    // keeps the system's default.
    static constexpr DWORD kPipeSize = 16384;
    // Largest single write on Windows: there a no-wait write larger than
    // the free space of the pipe may take nothing at all, however long the
    // reader works. A Linux pipe takes what fits of any write.
    static constexpr DWORD kMaxWrite = 4096;
    // How long close waits for the program after closing its input before
    // it ends the program.
    static constexpr DWORD kDefaultCloseTimeout = 5000;
    // How long a pump waits for a running program that takes no input and
    // writes no output before it gives up on it.
    static constexpr DWORD kDefaultStallTimeout = 10000;

    ChildProcess();
    // Closes the program when it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the command line (program, blank, parameters). A running
    // program is closed first. False when the program could not be started
    // (startFailure then says why).
    bool start(const std::wstring& command_line);
    // Why the last start failed: the program and the reason ("the file was
    // not found", "it is not executable", ...).
    std::string startFailure() const;
    // How the program ended ("lame ended with exit status 1", "... was
    // ended by signal 9 (Killed)"); only once it has ended.
    std::string exitDescription();
    // Closes the pipes and waits for the program; one that does not end in
    // time is ended by force, and a console line says so.
    void close();
    // True while the program runs (judged by the process handle's state,
    // never by an exit code, which may be any number).
    bool isRunning();
    // True from a start until the close, whether or not the program has
    // ended meanwhile.
    bool isOpen() const { return running_; }
    void setNonBlocking();

    // The pipe operations throw the Win32 error code (DWORD) on failure.
    DWORD write(const char* data, DWORD count);
    DWORD peekOutput();
    DWORD readOutput(char* buffer, DWORD count);
    DWORD peekError();
    DWORD readError(char* buffer, DWORD count);

    // Pushes `size` bytes into the program's standard input (on Windows a
    // piece no larger than the input pipe in one write, else in pieces of
    // at most kMaxWrite bytes). When a write takes nothing, a
    // program that has ended gives Poco::ApplicationException "<what>
    // process unexpectedly terminated." with how it ended (after its last
    // standard-error lines went on the console under the label), and one
    // that has taken no input and written no
    // output for the stall time-out, or that still has input to take when
    // the cut-off has passed, gives one that says so; otherwise
    // standard output is drained into `output`, standard error onto the
    // console, and the pump sleeps 1 ms unless the drain took kMaxWrite
    // bytes or more. After the last write the program's output is
    // collected once more (see collect), waiting up to `output_wait` ms
    // for it when bytes were written. Pipe failures throw the Win32 error
    // code.
    void pump(const char* data, std::size_t size, Poco::BasicFIFOBuffer<char>& output, const char* what,
              DWORD output_wait = 0);
    // Moves what waits on standard output into `output` (as drainOutput)
    // and prints what waits on standard error, waiting up to `milliseconds`
    // for either to have something. On Linux one readiness wait covers
    // both pipes and each ready pipe costs one read; Windows, which has no
    // readiness wait for anonymous pipes, peeks standard output again
    // after 1 ms sleeps until something came or the time is up.
    // Returns the bytes of standard output read.
    std::size_t collect(Poco::BasicFIFOBuffer<char>& output, DWORD milliseconds);
    // Moves what waits on standard output into `output`; returns the bytes
    // read. What does not fit is dropped and counted: one console line when
    // dropping begins, one with the count when output fits again.
    std::size_t drainOutput(Poco::BasicFIFOBuffer<char>& output);
    // Prints what waits on standard error to the console, as read.
    void printErrors();
    // The name under which the program's last standard-error lines are
    // printed when it ends unexpectedly (the stream's name).
    void setLabel(const std::string& label) { label_ = label; }
    // Ends the program's input and collects the rest of its output into
    // `output` until it ends (at most `milliseconds`, and never past the
    // cut-off), then closes it; a program still running then has had its
    // time and is ended at once.
    void finish(Poco::BasicFIFOBuffer<char>& output, DWORD milliseconds);

    // Sizes of the input and output pipes of the next start (at least
    // kPipeSize each), so that a whole piece of input goes in one write and
    // its output comes out in one read.
    void setPipeSizes(DWORD input, DWORD output);

    // Bound of close's wait, in milliseconds.
    void setCloseTimeout(DWORD milliseconds) { close_timeout_ = milliseconds; }
    // Bound of a pump's wait for a program that makes no progress.
    void setStallTimeout(DWORD milliseconds) { stall_timeout_ = milliseconds; }
    // An end that the waits for the program never pass (a pump's, finish's
    // and close's, before close ends the program by force): for a stream
    // that is stopping. It must outlive the waits; null for none.
    void setCutoff(const Cutoff* cutoff) { cutoff_ = cutoff; }
    // For tests: done in place of the system's forced end of the program
    // (one that the system cannot end at once); empty for the real end.
    void setForcedEnd(std::function<void()> end) { forced_end_ = std::move(end); }
    // The program's file as started (for messages).
    const std::string& program() const { return program_; }
    DWORD processId() const { return process_info_.dwProcessId; }

private:
    void closeHandle(HANDLE& handle);
    // Ends the program and waits until it has gone (at most the close
    // time-out); the close then waits no more.
    void endByForce();
    // `milliseconds`, or less when the cut-off comes first.
    DWORD untilCutoff(DWORD milliseconds) const;
    // Ends a dropping episode with one console line.
    void reportDropped();
    // Prints the error text read, one console line per line.
    void printErrorText();
    // Puts `size` bytes of standard output into `output`, counting what
    // does not fit.
    void storeOutput(const char* data, std::size_t size, Poco::BasicFIFOBuffer<char>& output);
    // Keeps the last lines of standard-error text.
    void keepErrorLines(const std::string& text);
    // After the program ended: reads the rest of its standard error and
    // prints its last lines under the label; false when it wrote none.
    bool printLastErrorLines();

    bool running_;
    HANDLE stdin_write_;
    HANDLE stdout_read_;
    HANDLE stderr_read_;
    // The child's ends: kept open while it runs (so writes to a program that
    // has ended fill the pipe instead of failing), closed by close.
    HANDLE child_stdin_;
    HANDLE child_stdout_;
    HANDLE child_stderr_;
    PROCESS_INFORMATION process_info_;
    DWORD close_timeout_;
    DWORD stall_timeout_;
    const Cutoff* cutoff_ = nullptr;
    std::function<void()> forced_end_;
    bool ended_by_force_ = false;
    DWORD input_pipe_size_;
    DWORD output_pipe_size_;
    std::string program_;
    // Output dropped since dropping began (reported when it ends).
    std::uint64_t dropped_;
    bool dropping_;
    std::vector<char> output_buffer_;
    // One read of a ready output pipe (Linux), sized once.
    std::vector<char> read_buffer_;
    std::string error_text_;
    DWORD start_error_ = 0;
    std::string label_;
    // The last lines of standard error, and a line begun but not ended.
    std::deque<std::string> error_lines_;
    std::string error_partial_;
};
