#include "engine/child_process.h"

#include "console.h"
#include "plugin/utils.h"

#include <Poco/Exception.h>

#include <algorithm>
#include <cstring>

ChildProcess::ChildProcess()
    : running_(false),
      stdin_write_(nullptr),
      stdout_read_(nullptr),
      stderr_read_(nullptr),
      child_stdin_(nullptr),
      child_stdout_(nullptr),
      child_stderr_(nullptr),
      close_timeout_(kDefaultCloseTimeout) {
    std::memset(&process_info_, 0, sizeof(process_info_));
}

ChildProcess::~ChildProcess() {
    try {
        close();
    } catch (...) {
        // A console or conversion failure must not leave a destructor.
    }
}

void ChildProcess::closeHandle(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

namespace {

// One pipe: the parent keeps `parent_end`; the child's end becomes an
// inheritable copy and the original is closed.
bool makePipe(HANDLE& parent_end, HANDLE& child_end, bool child_reads, DWORD size) {
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, size))
        return false;
    HANDLE& child_original = child_reads ? read_end : write_end;
    HANDLE inheritable = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), child_original, GetCurrentProcess(), &inheritable, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        const DWORD code = GetLastError();
        CloseHandle(read_end);
        CloseHandle(write_end);
        SetLastError(code);
        return false;
    }
    CloseHandle(child_original);
    parent_end = child_reads ? write_end : read_end;
    child_end = inheritable;
    return true;
}

} // namespace

bool ChildProcess::start(const std::wstring& command_line) {
    close();
    bool made = makePipe(stdin_write_, child_stdin_, true, kPipeSize) &&
                makePipe(stdout_read_, child_stdout_, false, kPipeSize) &&
                makePipe(stderr_read_, child_stderr_, false, 0);
    if (made) {
        STARTUPINFOW startup;
        GetStartupInfoW(&startup);
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = child_stdin_;
        startup.hStdOutput = child_stdout_;
        startup.hStdError = child_stderr_;
        // CreateProcessW may write into the command line.
        std::vector<wchar_t> line(command_line.begin(), command_line.end());
        line.push_back(L'\0');
        std::memset(&process_info_, 0, sizeof(process_info_));
        made = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &process_info_) != FALSE;
    }
    if (!made) {
        const DWORD code = GetLastError();
        for (HANDLE* handle : {&stdin_write_, &stdout_read_, &stderr_read_, &child_stdin_, &child_stdout_,
                               &child_stderr_})
            closeHandle(*handle);
        std::memset(&process_info_, 0, sizeof(process_info_));
        SetLastError(code);
        return false;
    }
    std::vector<std::wstring> words = platform::splitCommandLine(command_line);
    try {
        program_ = words.empty() ? std::string() : toUtf8(words[0]);
    } catch (const std::exception&) {
        program_ = "program";
    }
    running_ = true;
    return true;
}

void ChildProcess::close() {
    if (!running_)
        return;
    // The program sees the end of its input; output it still writes is
    // discarded.
    closeHandle(stdin_write_);
    closeHandle(stdout_read_);
    closeHandle(stderr_read_);
    if (WaitForSingleObject(process_info_.hProcess, close_timeout_) == WAIT_TIMEOUT) {
        console_printf("velmora: %s did not end within %lu ms after its input was closed; ending it", program_.c_str(),
                       static_cast<unsigned long>(close_timeout_));
        TerminateProcess(process_info_.hProcess, 1);
        WaitForSingleObject(process_info_.hProcess, close_timeout_);
    }
    closeHandle(child_stdin_);
    closeHandle(child_stdout_);
    closeHandle(child_stderr_);
    closeHandle(process_info_.hProcess);
    closeHandle(process_info_.hThread);
    std::memset(&process_info_, 0, sizeof(process_info_));
    running_ = false;
}

bool ChildProcess::isRunning() {
    return running_ && WaitForSingleObject(process_info_.hProcess, 0) == WAIT_TIMEOUT;
}

void ChildProcess::setNonBlocking() {
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    if (!SetNamedPipeHandleState(stdin_write_, &mode, nullptr, nullptr))
        throw GetLastError();
}

DWORD ChildProcess::write(const char* data, DWORD count) {
    DWORD written = 0;
    if (!WriteFile(stdin_write_, data, count, &written, nullptr))
        throw GetLastError();
    return written;
}

namespace {

DWORD peek(HANDLE pipe) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
        throw GetLastError();
    return available;
}

DWORD read(HANDLE pipe, char* buffer, DWORD count) {
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, count, &got, nullptr))
        throw GetLastError();
    return got;
}

} // namespace

DWORD ChildProcess::peekOutput() { return peek(stdout_read_); }

DWORD ChildProcess::readOutput(char* buffer, DWORD count) { return read(stdout_read_, buffer, count); }

DWORD ChildProcess::peekError() { return peek(stderr_read_); }

DWORD ChildProcess::readError(char* buffer, DWORD count) { return read(stderr_read_, buffer, count); }

std::size_t ChildProcess::drainOutput(Poco::BasicFIFOBuffer<char>& output) {
    const DWORD waiting = peekOutput();
    output_buffer_.resize(waiting);
    if (waiting == 0)
        return 0;
    output_buffer_.resize(readOutput(output_buffer_.data(), waiting));
    output.write(output_buffer_.data(), output_buffer_.size());
    return output_buffer_.size();
}

void ChildProcess::printErrors() {
    const DWORD waiting = peekError();
    error_text_.resize(waiting);
    if (waiting == 0)
        return;
    error_text_.resize(readError(&error_text_[0], waiting));
    console_print(error_text_.c_str());
}

void ChildProcess::pump(const char* data, std::size_t size, Poco::BasicFIFOBuffer<char>& output,
                        const std::string& ended_message) {
    std::size_t written = 0;
    while (written < size) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - written, kMaxWrite));
        const DWORD taken = write(data + written, piece);
        if (taken == 0) {
            if (!isRunning()) {
                printErrors();
                throw Poco::ApplicationException(ended_message);
            }
            // A program blocked on a full output or error pipe reads no more
            // input until both are drained. One that had written a whole
            // piece or more was most likely waiting for us and goes on at
            // once: the next write is tried without a pause. Otherwise the
            // program is busy and gets a millisecond (a fixed pause after
            // every full pipe would hold a fast program to 16 KB per ms).
            const bool waited_for_us = drainOutput(output) >= kMaxWrite;
            printErrors();
            if (!waited_for_us)
                Sleep(1);
        }
        written += taken;
    }
    drainOutput(output);
}
