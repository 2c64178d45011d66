#include "engine/child_process.h"

#include "console.h"
#include "plugin/utils.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#if !defined(_WIN32)
#include <csignal>
#endif
#if defined(_WIN32)
#include <mutex>
#endif

ChildProcess::ChildProcess()
    : running_(false),
      stdin_write_(nullptr),
      stdout_read_(nullptr),
      stderr_read_(nullptr),
      child_stdin_(nullptr),
      child_stdout_(nullptr),
      child_stderr_(nullptr),
      close_timeout_(kDefaultCloseTimeout),
      stall_timeout_(kDefaultStallTimeout),
      input_pipe_size_(kPipeSize),
      output_pipe_size_(kPipeSize),
      dropped_(0),
      dropping_(false) {
    std::memset(&process_info_, 0, sizeof(process_info_));
}

ChildProcess::~ChildProcess() {
    try {
        close();
    } catch (...) {
        // A console or conversion failure must not leave a destructor.
    }
}

DWORD ChildProcess::untilCutoff(DWORD milliseconds) const {
    if (cutoff_ == nullptr)
        return milliseconds;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(cutoff_->end() - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return 0;
    return static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(left.count(), milliseconds));
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
    // On Windows the copy becomes inheritable only while its child is made.
#if defined(_WIN32)
    const BOOL inherit = FALSE;
#else
    const BOOL inherit = TRUE;
#endif
    if (!DuplicateHandle(GetCurrentProcess(), child_original, GetCurrentProcess(), &inheritable, 0, inherit,
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

#if defined(_WIN32)
namespace {

// Starts the program with exactly the three given handles inherited. The
// list keeps other streams' pipe ends (and anything else of the player's
// that happens to be inheritable) out of the child; the handles are made
// inheritable only while the child is made, so that no other program
// started meanwhile, by us or by the player, can take them.
BOOL createWithHandles(std::vector<wchar_t>& line, STARTUPINFOW& startup, PROCESS_INFORMATION& info) {
    static std::mutex creating;
    std::lock_guard<std::mutex> lock(creating);
    HANDLE handles[3] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        return FALSE;
    BOOL made = FALSE;
    if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, sizeof(handles), nullptr,
                                  nullptr)) {
        for (HANDLE h : handles)
            SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        STARTUPINFOEXW extended;
        std::memset(&extended, 0, sizeof(extended));
        extended.StartupInfo = startup;
        extended.StartupInfo.cb = sizeof(extended);
        extended.lpAttributeList = attributes;
        made = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                              CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                              &extended.StartupInfo, &info);
        const DWORD code = GetLastError();
        for (HANDLE h : handles)
            SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
        SetLastError(code);
    }
    const DWORD code = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    SetLastError(code);
    return made;
}

} // namespace
#endif

bool ChildProcess::start(const std::wstring& command_line) {
    close();
    bool made = makePipe(stdin_write_, child_stdin_, true, input_pipe_size_) &&
                makePipe(stdout_read_, child_stdout_, false, output_pipe_size_) &&
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
#if defined(_WIN32)
        made = createWithHandles(line, startup, process_info_) != FALSE;
#else
        // Our layer hands a child only the three handles of its startup
        // information.
        made = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &process_info_) != FALSE;
#endif
    }
    const DWORD code = made ? 0 : GetLastError();
    std::vector<std::wstring> words = platform::splitCommandLine(command_line);
    try {
        program_ = words.empty() ? std::string() : toUtf8(words[0]);
    } catch (const std::exception&) {
        program_ = "program";
    }
    if (!made) {
        start_error_ = code;
        for (HANDLE* handle : {&stdin_write_, &stdout_read_, &stderr_read_, &child_stdin_, &child_stdout_,
                               &child_stderr_})
            closeHandle(*handle);
        std::memset(&process_info_, 0, sizeof(process_info_));
        SetLastError(code);
        return false;
    }
    start_error_ = 0;
    error_lines_.clear();
    error_partial_.clear();
    dropped_ = 0;
    dropping_ = false;
    running_ = true;
    return true;
}

void ChildProcess::close() {
    if (!running_)
        return;
    if (dropping_)
        reportDropped();
    // The program sees the end of its input; output it still writes is
    // discarded.
    closeHandle(stdin_write_);
    closeHandle(stdout_read_);
    closeHandle(stderr_read_);
    // Waited for in slices: a cut-off brought closer meanwhile ends the
    // wait too. A program that finish ended by force has had its wait
    // (one the system cannot end at once goes when it can).
    const DWORD start = GetTickCount();
    DWORD state = ended_by_force_ ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    while (state == WAIT_TIMEOUT) {
        const DWORD used = GetTickCount() - start;
        const DWORD wait = untilCutoff(used >= close_timeout_ ? 0 : std::min<DWORD>(close_timeout_ - used, 50));
        state = WaitForSingleObject(process_info_.hProcess, wait);
        if (wait == 0)
            break;
    }
    if (state == WAIT_TIMEOUT) {
        console_printf("velmora: %s did not end within %lu ms after its input was closed; ending it", program_.c_str(),
                       static_cast<unsigned long>(std::min<DWORD>(GetTickCount() - start, close_timeout_)));
        endByForce();
    }
    closeHandle(child_stdin_);
    closeHandle(child_stdout_);
    closeHandle(child_stderr_);
    closeHandle(process_info_.hProcess);
    closeHandle(process_info_.hThread);
    std::memset(&process_info_, 0, sizeof(process_info_));
    running_ = false;
    ended_by_force_ = false;
}

void ChildProcess::endByForce() {
    if (forced_end_)
        forced_end_();
    else
        TerminateProcess(process_info_.hProcess, 1);
    ended_by_force_ = true;
    // Ended by force, it goes at once: this wait is not cut short.
    WaitForSingleObject(process_info_.hProcess, close_timeout_);
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

void ChildProcess::setPipeSizes(DWORD input, DWORD output) {
    input_pipe_size_ = std::max(input, kPipeSize);
    output_pipe_size_ = std::max(output, kPipeSize);
}

std::size_t ChildProcess::drainOutput(Poco::BasicFIFOBuffer<char>& output) {
    const DWORD waiting = peekOutput();
    output_buffer_.resize(waiting);
    if (waiting == 0)
        return 0;
    output_buffer_.resize(readOutput(output_buffer_.data(), waiting));
    storeOutput(output_buffer_.data(), output_buffer_.size(), output);
    return output_buffer_.size();
}

void ChildProcess::storeOutput(const char* data, std::size_t size, Poco::BasicFIFOBuffer<char>& output) {
    const std::size_t taken = output.write(data, size);
    if (taken < size) {
        if (!dropping_)
            console_printf("velmora: the output of %s does not fit its buffer; dropping what does not fit",
                           program_.c_str());
        dropping_ = true;
        dropped_ += size - taken;
    } else if (dropping_) {
        reportDropped();
    }
}

std::size_t ChildProcess::collect(Poco::BasicFIFOBuffer<char>& output, DWORD milliseconds) {
#if defined(_WIN32)
    // An anonymous pipe cannot be waited on: it is looked at again after
    // each short sleep until the program's first output of the piece came
    // or the time is up.
    const DWORD start = GetTickCount();
    std::size_t got = drainOutput(output);
    while (got == 0 && milliseconds != 0 && GetTickCount() - start < milliseconds && isRunning()) {
        Sleep(1);
        got = drainOutput(output);
    }
    printErrors();
    return got;
#else
    HANDLE pipes[2] = {stdout_read_, stderr_read_};
    bool ready[2] = {false, false};
    if (!platform::waitForPipes(pipes, 2, milliseconds, ready))
        throw GetLastError();
    std::size_t got = 0;
    if (ready[0]) {
        // A read of a ready pipe takes what waits, up to the buffer's size;
        // the buffer holds a full pipe, and whatever came meanwhile waits
        // for the next call.
        if (read_buffer_.empty())
            read_buffer_.resize(std::max<std::size_t>(output_pipe_size_, 65536));
        got = readOutput(read_buffer_.data(), static_cast<DWORD>(read_buffer_.size()));
        storeOutput(read_buffer_.data(), got, output);
    }
    if (ready[1]) {
        // (The error pipe keeps the system's default size, 64 KB.)
        error_text_.resize(65536);
        error_text_.resize(readError(&error_text_[0], static_cast<DWORD>(error_text_.size())));
        printErrorText();
    }
    return got;
#endif
}

void ChildProcess::reportDropped() {
    console_printf("velmora: %llu bytes of the output of %s were dropped", static_cast<unsigned long long>(dropped_),
                   program_.c_str());
    dropping_ = false;
    dropped_ = 0;
}

void ChildProcess::printErrors() {
    const DWORD waiting = peekError();
    error_text_.resize(waiting);
    if (waiting == 0)
        return;
    error_text_.resize(readError(&error_text_[0], waiting));
    printErrorText();
}

void ChildProcess::printErrorText() {
    // A console line is one line: each of the program's lines goes on its
    // own.
    std::size_t start = 0;
    while (start < error_text_.size()) {
        std::size_t end = error_text_.find('\n', start);
        if (end == std::string::npos)
            end = error_text_.size();
        const std::string line = error_text_.substr(start, end - start);
        if (line.find_first_not_of("\r") != std::string::npos)
            console_print(line.c_str());
        start = end + 1;
    }
    keepErrorLines(error_text_);
}

namespace {
// Lines of standard error kept for the report of a program's end.
const std::size_t kKeptErrorLines = 5;
const std::size_t kLongestKeptLine = 500;
} // namespace

void ChildProcess::keepErrorLines(const std::string& text) {
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            if (!error_partial_.empty()) {
                error_lines_.push_back(error_partial_);
                if (error_lines_.size() > kKeptErrorLines)
                    error_lines_.pop_front();
            }
            error_partial_.clear();
        } else if (error_partial_.size() < kLongestKeptLine) {
            error_partial_.push_back(c == '\0' ? ' ' : c);
        }
    }
}

bool ChildProcess::printLastErrorLines() {
    // The program has ended: everything it wrote is waiting.
    try {
        for (int i = 0; i < 64; ++i) {
            const DWORD waiting = peekError();
            if (waiting == 0)
                break;
            error_text_.resize(waiting);
            error_text_.resize(readError(&error_text_[0], waiting));
            keepErrorLines(error_text_);
        }
    } catch (DWORD) {
        // What could be read is reported.
    }
    keepErrorLines("\n");
    const std::string label = label_.empty() ? std::string() : label_ + ": ";
    for (const std::string& line : error_lines_)
        console_printf("velmora: %s%s: %s", label.c_str(), program_.c_str(), line.c_str());
    return !error_lines_.empty();
}

std::string ChildProcess::startFailure() const {
    if (program_.empty())
        return "No program is set.";
    std::string reason;
    switch (start_error_) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: reason = "the file was not found"; break;
    case ERROR_ACCESS_DENIED: reason = "it is not executable (access denied)"; break;
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT: reason = "it is not a program this system can run"; break;
    default: reason = Poco::format("system error %lu", static_cast<unsigned long>(start_error_)); break;
    }
    return Poco::format("Cannot start %s: %s.", program_, reason);
}

std::string ChildProcess::exitDescription() {
    DWORD code = 0;
    if (!GetExitCodeProcess(process_info_.hProcess, &code) || code == STILL_ACTIVE)
        return program_ + " has ended";
#if !defined(_WIN32)
    const int signal = platform::processSignal(process_info_.hProcess);
    if (signal != 0) {
        const char* name = strsignal(signal);
        return Poco::format("%s was ended by signal %d (%s)", program_, signal, std::string(name ? name : "?"));
    }
#else
    // Exception codes (an access violation is 0xC0000005) read best in hex.
    if (code >= 0xC0000000u)
        return Poco::format("%s ended with exit code 0x%lX", program_, static_cast<unsigned long>(code));
#endif
    return Poco::format("%s ended with exit status %lu", program_, static_cast<unsigned long>(code));
}

void ChildProcess::pump(const char* data, std::size_t size, Poco::BasicFIFOBuffer<char>& output, const char* what,
                        DWORD output_wait) {
    std::size_t written = 0;
    DWORD last_progress = GetTickCount();
#if defined(_WIN32)
    // A no-wait write takes all or nothing: a piece that fits the pipe goes
    // in one write while the pipe is empty, and in small pieces otherwise.
    std::size_t largest = std::max<std::size_t>(kMaxWrite, input_pipe_size_);
#else
    const std::size_t largest = 0x40000000;
#endif
    while (written < size) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - written, largest));
        const DWORD taken = write(data + written, piece);
#if defined(_WIN32)
        if (taken == 0 && piece > kMaxWrite) {
            largest = kMaxWrite;
            continue;
        }
#endif
        if (taken == 0) {
            if (!isRunning()) {
                const bool said = printLastErrorLines();
                throw Poco::ApplicationException(Poco::format(
                    "%s process unexpectedly terminated.\n%s; %s", std::string(what), exitDescription(),
                    std::string(said ? "its last error output is on the console." : "it wrote no error output.")));
            }
            // A program blocked on a full output or error pipe reads no more
            // input until both are drained. One that had written a whole
            // piece or more was most likely waiting for us and goes on at
            // once: the next write is tried without a pause. Otherwise the
            // program is busy and gets a millisecond (a fixed pause after
            // every full pipe would hold a fast program to 16 KB per ms).
            const std::size_t drained = collect(output, 0);
            if (untilCutoff(1) == 0) {
                // The stream is ending: its programs had their time.
                throw Poco::ApplicationException(
                    Poco::format("%s process had not taken all its input when the stream ended (%s).",
                                 std::string(what), program_));
            }
            if (drained > 0) {
                last_progress = GetTickCount();
            } else if (GetTickCount() - last_progress >= stall_timeout_) {
                // Alive but reading nothing: waiting on would hold the
                // stream (and whoever stops it) for ever.
                throw Poco::ApplicationException(
                    Poco::format("%s process has taken no input for %.1f seconds (%s); it seems to hang.",
                                 std::string(what), stall_timeout_ / 1000.0, program_));
            }
            if (drained < kMaxWrite)
                Sleep(1);
        } else {
            last_progress = GetTickCount();
        }
        written += taken;
    }
    collect(output, size > 0 ? output_wait : 0);
}

void ChildProcess::finish(Poco::BasicFIFOBuffer<char>& output, DWORD milliseconds) {
    if (!running_)
        return;
    closeHandle(stdin_write_);
    const DWORD start = GetTickCount();
    for (;;) {
        // Once the program has ended, everything it wrote is waiting.
        const bool ended = !isRunning();
        while (drainOutput(output) > 0 && ended) {
        }
        printErrors();
        if (ended)
            break;
        const DWORD used = GetTickCount() - start;
        if (used >= milliseconds || untilCutoff(1) == 0) {
            console_printf("velmora: %s did not finish its output within %lu ms; ending it", program_.c_str(),
                           static_cast<unsigned long>(std::min(used, milliseconds)));
            // Waited for until it has gone; the close below neither
            // reports nor ends it once more, nor waits for it again when
            // the system could not end it within that wait.
            endByForce();
            break;
        }
        Sleep(1);
    }
    close();
}
