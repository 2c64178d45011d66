#include "pipe_fixture.h"

#include "plugin/utils.h"

#include <Poco/File.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#else
#include <cerrno>
#include <dirent.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace pipetest {

std::string binDir() {
#if defined(_WIN32)
    wchar_t path[4096];
    DWORD size = GetModuleFileNameW(nullptr, path, 4096);
    std::string dir = toUtf8(std::wstring(path, size));
    return dir.substr(0, dir.find_last_of("\\/") + 1);
#else
    char path[4096];
    ssize_t size = readlink("/proc/self/exe", path, sizeof(path));
    std::string dir(path, size > 0 ? static_cast<std::size_t>(size) : 0);
    return dir.substr(0, dir.find_last_of('/') + 1);
#endif
}

std::string helper(const std::string& name) {
#if defined(_WIN32)
    return "\"" + binDir() + name + ".exe\"";
#else
    return "\"" + binDir() + name + "\"";
#endif
}

std::string lameExe() { return binDir() + "lame.exe"; }

bool pathExists(const std::string& path) { return Poco::File(path).exists(); }

std::string sinePcm(double seconds, int rate, int channels) {
    const std::size_t frames = static_cast<std::size_t>(seconds * rate);
    std::string pcm(frames * channels * 2, '\0');
    const double step = 2.0 * 3.14159265358979 * 440.0 / rate;
    std::size_t at = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(step * i)));
        for (int c = 0; c < channels; ++c) {
            pcm[at++] = static_cast<char>(sample & 0xff);
            pcm[at++] = static_cast<char>((sample >> 8) & 0xff);
        }
    }
    return pcm;
}

std::string patternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    // Each 4-byte group holds its own index: nothing can move unseen.
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(((i / 4) >> (8 * (i % 4))) & 0xff);
    return bytes;
}

std::string runThrough(EncoderProcess& encoder, const std::string& data, std::size_t piece,
                       const std::function<bool(const std::string&)>& enough, unsigned quiet_ms,
                       unsigned timeout_ms) {
    Poco::BasicFIFOBuffer<char> input(kFifoSize);
    Poco::BasicFIFOBuffer<char> output(kFifoSize);
    std::string collected;
    std::vector<char> chunk;
    auto collect = [&] {
        chunk.resize(output.used());
        chunk.resize(output.read(chunk.data(), chunk.size()));
        collected.append(chunk.data(), chunk.size());
    };
    for (std::size_t at = 0; at < data.size(); at += piece) {
        input.write(data.data() + at, std::min(piece, data.size() - at));
        encoder.encode(input, output);
        collect();
    }
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto last_growth = start;
    for (;;) {
        if (enough && enough(collected))
            break;
        const std::size_t before = collected.size();
        encoder.encode(input, output);
        collect();
        const auto now = clock::now();
        if (collected.size() != before)
            last_growth = now;
        if (!enough && now - last_growth >= std::chrono::milliseconds(quiet_ms))
            break;
        if (now - start >= std::chrono::milliseconds(timeout_ms))
            break;
        Sleep(5);
    }
    return collected;
}

bool parseArgs(const std::string& output, std::vector<std::string>& args) {
    args.clear();
    std::size_t eol = output.find('\n');
    if (eol == std::string::npos)
        return false;
    const std::size_t count = std::strtoul(output.substr(0, eol).c_str(), nullptr, 10);
    std::size_t at = eol + 1;
    while (args.size() < count) {
        eol = output.find('\n', at);
        if (eol == std::string::npos)
            return false;
        args.push_back(output.substr(at, eol - at));
        at = eol + 1;
    }
    return true;
}

#if defined(_WIN32)
namespace {

// The kind of object a handle stands for ("File", "Process", "Event"...),
// or "" when it cannot be told.
std::wstring objectType(HANDLE handle) {
    typedef LONG(WINAPI * QueryObject)(HANDLE, int, void*, ULONG, ULONG*);
    static const QueryObject query =
        reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    struct TypeName {
        USHORT length; // in bytes
        USHORT capacity;
        const wchar_t* text;
    };
    alignas(8) char buffer[1024];
    ULONG size = 0;
    const int kTypeInformation = 2;
    if (query == nullptr || query(handle, kTypeInformation, buffer, sizeof buffer, &size) < 0)
        return std::wstring();
    const TypeName* name = reinterpret_cast<const TypeName*>(buffer);
    return name->text ? std::wstring(name->text, name->length / sizeof(wchar_t)) : std::wstring();
}

} // namespace

long openHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return static_cast<long>(count);
    // Wine answers 0: count the valid handles among the low handle values
    // instead (handles are multiples of 4, the lowest free one is taken).
    // Only the kinds that starting a program makes count: files (its
    // pipes), processes and threads. The runtime's own locks get a wait
    // object (an event or semaphores) when two threads first meet at one,
    // which depends on timing and says nothing about our handles.
    long valid = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags;
        if (!GetHandleInformation(handle, &flags))
            continue;
        const std::wstring type = objectType(handle);
        if (type.empty() || type == L"File" || type == L"Process" || type == L"Thread")
            ++valid;
    }
    return valid;
}

namespace {

// Children of this process, with their program's file name.
std::vector<std::pair<unsigned long, std::string>> children() {
    std::vector<std::pair<unsigned long, std::string>> out;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return out;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == self)
            out.emplace_back(entry.th32ProcessID, toUtf8(entry.szExeFile));
    CloseHandle(snapshot);
    return out;
}

} // namespace

long childCount() { return static_cast<long>(children().size()); }

std::set<unsigned long> threadIds() {
    std::set<unsigned long> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self)
            ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

long threadCount() {
    const std::set<unsigned long> ids = threadIds();
    return ids.empty() ? -1 : static_cast<long>(ids.size());
}

long addressSpaceKiB() {
    // Every region that is not free (reserved or committed).
    unsigned long long bytes = 0;
    MEMORY_BASIC_INFORMATION region;
    ULONG_PTR at = 0;
    while (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == sizeof region) {
        if (region.State != MEM_FREE)
            bytes += region.RegionSize;
        const ULONG_PTR next = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return static_cast<long>(bytes / 1024);
}

bool processAlive(unsigned long pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

bool killProcess(unsigned long pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    const bool ended = TerminateProcess(process, 9) != FALSE;
    CloseHandle(process);
    return ended;
}

bool streamHandlesOf(unsigned long pid, long& pipes, long& sockets) {
    pipes = 0;
    sockets = 0;
    HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    // Each of its low handle values, copied into this process to be looked
    // at (handles are multiples of 4, the lowest free one is taken). A
    // socket passes for a pipe with GetFileType, but has no pipe's
    // information.
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            continue;
        if (GetFileType(copy) == FILE_TYPE_PIPE) {
            if (GetNamedPipeInfo(copy, nullptr, nullptr, nullptr, nullptr))
                ++pipes;
            else
                ++sockets;
        }
        CloseHandle(copy);
    }
    CloseHandle(process);
    return true;
}
#else
namespace {

// Entries of a folder, "." and ".." not counted; -1 when it cannot be read.
long entriesOf(const char* folder) {
    long count = 0;
    DIR* dir = opendir(folder);
    if (dir == nullptr)
        return -1;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count;
}

} // namespace

long openHandleCount() {
    return entriesOf("/proc/self/fd") - 1; // the folder's own descriptor
}

namespace {

// Children of this process (running or not yet reaped), with their
// program's name.
std::vector<std::pair<unsigned long, std::string>> children() {
    std::vector<std::pair<unsigned long, std::string>> out;
    const std::string self = std::to_string(getpid());
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
        return out;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // pid (comm) state ppid ...: comm may hold blanks and parentheses.
        const std::size_t open = line.find('(');
        const std::size_t close = line.rfind(')');
        std::istringstream rest(line.substr(close + 1));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == self)
            out.emplace_back(std::stoul(entry->d_name), line.substr(open + 1, close - open - 1));
    }
    closedir(dir);
    return out;
}

} // namespace

long childCount() { return static_cast<long>(children().size()); }

long threadCount() { return entriesOf("/proc/self/task"); }

long addressSpaceKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0)
            return std::stol(line.substr(7));
    return -1;
}

std::set<unsigned long> threadIds() {
    std::set<unsigned long> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ids.insert(std::stoul(entry->d_name));
        closedir(dir);
    }
    return ids;
}

bool processAlive(unsigned long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    std::string state;
    rest >> state;
    return state != "Z" && state != "X";
}

bool killProcess(unsigned long pid) { return kill(static_cast<pid_t>(pid), SIGKILL) == 0; }
#endif

std::vector<unsigned long> childrenRunning(const std::string& program) {
    std::vector<unsigned long> out;
    for (const auto& child : children())
        if (child.second == program)
            out.push_back(child.first);
    return out;
}

} // namespace pipetest
