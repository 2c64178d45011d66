#pragma once
// Shared pieces of the encoder-pipe tests: where our helper programs are,
// generated PCM, and a pump that runs data through an encoder to the end.
#include "engine/encoder_process.h"

#include <Poco/FIFOBuffer.h>

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace pipetest {

// Folder of the running test program (helpers are built beside it), with
// the system's separator at the end.
std::string binDir();
// A helper program's path, quoted, ready to be the program of a command line.
std::string helper(const std::string& name);
// The Windows build's real encoder: the lame.exe cross-built by
// scripts/build-win-deps.sh, which the build copies beside the tests
// (unquoted).
std::string lameExe();
// Scratch folders (tests/support).
using ::TempDir;
bool pathExists(const std::string& path);

// 16-bit little-endian PCM of a 440 Hz sine, interleaved.
std::string sinePcm(double seconds, int rate, int channels);
// Bytes whose position can be read back from them, so any loss, repeat or
// swap shows.
std::string patternBytes(std::size_t size);

// Sizes of the engine's FIFOs in these tests: large enough that nothing is
// dropped.
constexpr std::size_t kFifoSize = 8 * 1024 * 1024;

// Feeds `data` to the encoder in pieces of `piece` bytes, one encode call
// each, then keeps calling encode with empty input until `enough` says the
// output is complete, or until the output has been quiet for `quiet_ms`
// (when `enough` is empty), or `timeout_ms` has passed. Returns the output.
std::string runThrough(EncoderProcess& encoder, const std::string& data, std::size_t piece,
                       const std::function<bool(const std::string&)>& enough, unsigned quiet_ms,
                       unsigned timeout_ms);

// The lines a printargs helper wrote, without its count line; empty when
// the output is not complete.
bool parseArgs(const std::string& output, std::vector<std::string>& args);

// Open descriptors / handles of this process (under Wine only its files,
// processes and threads), children (running or not yet reaped) of this
// process, and its threads.
long openHandleCount();
long childCount();
long threadCount();
// This process's address space in KiB: every mapped or reserved region
// (a thread's stack counts whole).
long addressSpaceKiB();
// The ids of this process's threads.
std::set<unsigned long> threadIds();
// Process ids of this process's children running `program` (its file name
// without folder; on Windows with ".exe").
std::vector<unsigned long> childrenRunning(const std::string& program);

// True while a process of that id exists (and is not a zombie).
bool processAlive(unsigned long pid);
// Ends the process at once, as `kill -9` does (on Windows TerminateProcess
// with exit code 9); false when it could not be ended.
bool killProcess(unsigned long pid);

#if defined(_WIN32)
// Of the handles process `pid` holds, those GetFileType calls pipes (pipe
// ends, and sockets too): how many are pipe ends and how many sockets.
// False when the process cannot be looked into.
bool streamHandlesOf(unsigned long pid, long& pipes, long& sockets);
#endif

} // namespace pipetest

// A missing file (a program the build makes only where it can) skips the
// test, except under CI, where it fails it.
#define REQUIRE_FILE(path)                                                           \
    do {                                                                             \
        if (!pipetest::pathExists(path)) {                                           \
            const char* ci_ = std::getenv("CI");                                     \
            if (ci_ && std::string(ci_) == "true")                                   \
                FAIL() << (path) << " is missing (bash scripts/setup.sh makes it)";  \
            GTEST_SKIP() << (path) << " is missing";                                 \
        }                                                                            \
    } while (0)
