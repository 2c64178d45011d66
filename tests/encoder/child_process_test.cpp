// Child processes and the encoder pump, with our own helper programs (they
// run on both builds, under Wine too).
#include "pipe_fixture.h"

#include "engine/child_process.h"
#include "plugin/utils.h"
#include "engine/encoder_process.h"
#include "sdk_fixture.h"
#include "win32/process.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

using namespace pipetest;

namespace {

const char* const kEnded = "Encoder process unexpectedly terminated.\n";

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Poco::Exception& e) {
        return e.message();
    }
    return "(nothing thrown)";
}

// Runs `work` on a thread of its own; a pump that hangs ends the test
// program at once with a message instead of holding the whole run.
void withinWatchdog(const char* what, std::function<void()> work, int seconds = 120) {
    std::packaged_task<void()> task(std::move(work));
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        std::fprintf(stderr, "%s hung for %d s\n", what, seconds);
        std::fflush(stderr);
#if defined(_WIN32)
        // No library shutdown: the stuck thread may hold its locks.
        TerminateProcess(GetCurrentProcess(), 3);
#endif
        std::_Exit(3);
    }
    runner.join();
    done.get();
}

class PassThrough : public ::testing::TestWithParam<const char*> {};

// "passthrough" waits inside its reads; "peekthrough" reads only what a
// peek reports, so a write larger than the pipe's free space would never be
// taken by it on systems whose no-wait writes are all or nothing.
INSTANTIATE_TEST_SUITE_P(EncoderPipe, PassThrough, ::testing::Values("passthrough", "peekthrough"));

TEST_P(PassThrough, BytesArriveCompleteAndInOrderAcrossCalls) {
    EncoderProcess encoder(helper(GetParam()), "");
    encoder.open();
    ASSERT_TRUE(encoder.isRunning());
    // Small calls, then a three-second backlog of 16-bit stereo 44.1 kHz
    // in one call (the worker after a delay), then small calls again.
    const std::string data = patternBytes(3 * 176400 + 100000);
    std::string out;
    withinWatchdog("pass-through", [&] {
        out = runThrough(encoder, data.substr(0, 50000), 1000, nullptr, 0, 0);
        out += runThrough(encoder, data.substr(50000, 3 * 176400), 3 * 176400, nullptr, 0, 0);
        out += runThrough(encoder, data.substr(50000 + 3 * 176400), 777,
                          [&](const std::string& got) { return out.size() + got.size() >= data.size(); }, 0, 30000);
    });
    ASSERT_EQ(out.size(), data.size());
    EXPECT_TRUE(out == data) << "bytes changed or moved";
    encoder.close();
    EXPECT_FALSE(encoder.isRunning());
}

TEST(EncoderPipe, EmptyInputOnlyDrainsTheProgram) {
    EncoderProcess encoder(helper("printargs"), "one two");
    encoder.open();
    std::vector<std::string> args;
    const std::string out =
        runThrough(encoder, "", 1, [&](const std::string& got) { return parseArgs(got, args); }, 0, 20000);
    EXPECT_EQ(args, (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(encoder.isRunning());
}

TEST(EncoderPipe, AProgramThatEndsAtOnceIsReported) {
    EncoderProcess encoder(helper("exitnow"), "");
    encoder.open();
    // Its input pipe fills; the next write takes nothing and the exit test
    // reports the end.
    const std::string data = sinePcm(3, 44100, 2);
    std::string message;
    withinWatchdog("ended program", [&] {
        message = messageOf([&] { runThrough(encoder, data, data.size(), nullptr, 0, 0); });
    });
    // How it ended is named: the program and its exit status.
    EXPECT_EQ(message.rfind(kEnded, 0), 0u) << message;
    EXPECT_NE(message.find("exitnow"), std::string::npos) << message;
    EXPECT_NE(message.find("ended with exit status 0; it wrote no error output."), std::string::npos) << message;
    EXPECT_FALSE(encoder.isRunning());
    encoder.close();
}

TEST(EncoderPipe, ExitCode259IsNotTakenForRunning) {
    ChildProcess child;
    ASSERT_TRUE(child.start(fromUtf8(helper("exitnow") + " 259")));
    const auto start = std::chrono::steady_clock::now();
    while (child.isRunning() && std::chrono::steady_clock::now() - start < std::chrono::seconds(30))
        Sleep(10);
    EXPECT_FALSE(child.isRunning());
    child.close();
}

TEST(EncoderPipe, AMissingProgramFailsToInitialize) {
    long handles = 0;
    // The first round warms up what the system makes once for a program
    // search; the second must leave the handle count as it found it.
    for (int round = 0; round < 2; ++round) {
        handles = openHandleCount();
        for (const char* program : {"velmora-no-such-encoder", "\"/no/such/folder/encoder\"", "\"\""}) {
            EncoderProcess encoder(program, "-a %artist%");
            // The message names the program and why it did not start.
            std::string shown = program[0] == '"' ? std::string(program + 1, std::strlen(program) - 2) : program;
            const std::string expected =
                "Failed to initialize encoder.\n" +
                (shown.empty() ? std::string("No program is set.") : "Cannot start " + shown + ": the file was not found.");
            EXPECT_EQ(messageOf([&] { encoder.open(); }), expected) << program;
            EXPECT_EQ(messageOf([&] { encoder.open("a", "t"); }), expected) << program;
            EXPECT_FALSE(encoder.isRunning());
            // A program that never started is a pipe failure, not a hang.
            Poco::BasicFIFOBuffer<char> in(16), out(16);
            in.write("abc", 3);
            EXPECT_EQ(messageOf([&] { encoder.encode(in, out); }).rfind("encode error (", 0), 0u);
        }
    }
    EXPECT_EQ(openHandleCount(), handles);
#if !defined(_WIN32)
    // A file that is there but may not be run.
    TempDir temp;
    const std::string file = temp.path() + "encoder";
    std::FILE* made = std::fopen(file.c_str(), "w");
    ASSERT_NE(made, nullptr);
    std::fputs("#!/bin/sh\n", made);
    std::fclose(made);
    EncoderProcess locked(file, "");
    EXPECT_EQ(messageOf([&] { locked.open(); }),
              "Failed to initialize encoder.\nCannot start " + file + ": it is not executable (access denied).");
#endif
}

TEST(EncoderPipe, AStandardErrorFloodDoesNotHang) {
    // The helper writes 1 MB to standard error before it reads any input;
    // the pump drains standard error whenever a write takes nothing.
    const std::string data = patternBytes(1024 * 1024);
    std::string out;
    withinWatchdog("standard-error flood", [&] {
        EncoderProcess encoder(helper("stderrflood"), "1024");
        encoder.open();
        out = runThrough(encoder, data, 256 * 1024,
                         [&](const std::string& got) { return got.size() >= data.size(); }, 0, 60000);
    });
    EXPECT_TRUE(out == data);
}

TEST(EncoderPipe, CloseEndsAProgramThatDoesNotEnd) {
    ChildProcess child;
    child.setCloseTimeout(300);
    ASSERT_TRUE(child.start(fromUtf8(helper("lingerer"))));
    const unsigned long pid = child.processId();
    ASSERT_TRUE(processAlive(pid));
    const auto start = std::chrono::steady_clock::now();
    child.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(child.isRunning());
    EXPECT_FALSE(processAlive(pid));
}

TEST(EncoderPipe, WritesAfterTheProgramReadsNoMore) {
    // The program ended, but our copy of its input end stays open: writes
    // fill the pipe instead of failing, and a full pipe writes nothing.
    ChildProcess child;
    ASSERT_TRUE(child.start(fromUtf8(helper("exitnow"))));
    child.setNonBlocking();
    const std::string piece(ChildProcess::kMaxWrite, 'x');
    std::size_t total = 0;
    DWORD taken = 0;
    do {
        taken = child.write(piece.data(), static_cast<DWORD>(piece.size()));
        total += taken;
    } while (taken > 0 && total < 1024 * 1024);
    EXPECT_EQ(taken, 0u);
    EXPECT_GE(total, ChildProcess::kPipeSize / 2);
    child.close();
    // Closed: every pipe operation fails with a Win32 code.
    EXPECT_THROW(child.write("x", 1), DWORD);
    EXPECT_THROW(child.peekOutput(), DWORD);
    EXPECT_THROW(child.peekError(), DWORD);
}

TEST(EncoderPipe, ArgumentsReachTheProgramAsSplit) {
    const char* const params[] = {
        "a b c",
        R"("two words" "" tail)",
        R"(a\\\b d"e f"g h)",
        R"(a\"b \\"c d\\" e\\)",
        R"(a\\\\"b c" d e)",
        "--title \"caf\xc3\xa9 \xe6\x97\xa5\"",
    };
    for (const char* text : params) {
        EncoderProcess encoder(helper("printargs"), text);
        encoder.open();
        std::vector<std::string> args;
        runThrough(encoder, "", 1, [&](const std::string& got) { return parseArgs(got, args); }, 0, 20000);
        EXPECT_EQ(args, platform::splitArguments(std::string(text))) << "parameters: " << text;
    }
}

TEST(EncoderPipe, AHostileTitleArrivesAsOneArgument) {
    TempDir temp;
    const std::string dir = temp.path();
    const std::string owned = dir + "owned";
    const std::string titles[] = {
        "x\" -o \"" + owned,
        "x\" -o " + owned + " \"",
        "ends in backslash\\",
        "line\r\nbreak",
        "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \"quoted\"",
    };
    for (const std::string& title : titles) {
        EncoderProcess encoder(helper("printargs"), R"(--artist "%artist%" --title "%title%" -o -)");
        encoder.open("Art \"ist\"\\", title);
        std::vector<std::string> args;
        runThrough(encoder, "", 1, [&](const std::string& got) { return parseArgs(got, args); }, 0, 20000);
        std::string expected_title = title;
        expected_title.erase(std::remove_if(expected_title.begin(), expected_title.end(),
                                            [](char c) { return c == '\r' || c == '\n'; }),
                             expected_title.end());
        EXPECT_EQ(args, (std::vector<std::string>{"--artist", "Art \"ist\"\\", "--title", expected_title, "-o", "-"}));
    }
    EXPECT_FALSE(pathExists(owned));
}

TEST(EncoderPipe, RestartsLeakNothing) {
    // Warm up once so lazily made runtime objects are not counted.
    {
        EncoderProcess encoder(helper("passthrough"), "%title%");
        encoder.open("a", "t");
        encoder.close();
    }
    const long handles = openHandleCount();
    const long children = childCount();
    // Less than the input pipe holds: no cycle waits for its program.
    const std::string data = patternBytes(ChildProcess::kMaxWrite);
    withinWatchdog("open/close cycles", [&] {
        for (int i = 0; i < 500; ++i) {
            EncoderProcess encoder(helper("passthrough"), "%title%");
            encoder.open("artist", "title " + std::to_string(i));
            Poco::BasicFIFOBuffer<char> in(data.size()), out(data.size());
            in.write(data.data(), data.size());
            encoder.encode(in, out);
            if (i % 2 == 0)
                encoder.close(); // the others close in the destructor
        }
    }, 600);
    EXPECT_EQ(openHandleCount(), handles);
    EXPECT_EQ(childCount(), children);
}

TEST(EncoderPipe, TheRestOfAFinishingProgramIsKept) {
    // close discards what the program still writes; finish collects it.
    const std::string data = patternBytes(3 * ChildProcess::kPipeSize);
    withinWatchdog("finish", [&] {
        EncoderProcess encoder(helper("passthrough"), "");
        encoder.open();
        Poco::BasicFIFOBuffer<char> in(data.size()), out(data.size());
        in.write(data.data(), data.size());
        encoder.encode(in, out);
        encoder.finish(out, 10000);
        EXPECT_FALSE(encoder.isRunning());
        std::string got(out.used(), '\0');
        out.read(&got[0], got.size());
        EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes";
    });
}

TEST(EncoderPipe, AProgramThatStopsReadingIsGivenUp) {
    EncoderProcess encoder(helper("stall"), "60");
    encoder.open();
    encoder.setStallTimeout(500);
    const std::string data = patternBytes(1024 * 1024);
    Poco::BasicFIFOBuffer<char> in(data.size()), out(data.size());
    in.write(data.data(), data.size());
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    withinWatchdog("stalled program", [&] { message = messageOf([&] { encoder.encode(in, out); }); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(message.rfind("Encoder process has taken no input for 0.5 seconds (", 0), 0u) << message;
    encoder.setCloseTimeout(200);
    encoder.close();
}

class DroppedOutput : public with_player {
protected:
    std::size_t lines(const std::string& text) {
        std::size_t n = 0;
        for (const std::string& line : host.console_log().lines())
            n += line.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
};

TEST_F(DroppedOutput, IsCountedAndReportedOncePerEpisode) {
    const std::size_t room = 10000;
    const std::string data = patternBytes(100000);
    EncoderProcess encoder(helper("passthrough"), "");
    encoder.open();
    Poco::BasicFIFOBuffer<char> in(data.size()), out(room);
    withinWatchdog("dropping", [&] {
        in.write(data.data(), data.size());
        encoder.encode(in, out);
        encoder.finish(out, 10000);
    });
    EXPECT_EQ(out.used(), room);
    EXPECT_EQ(lines("does not fit its buffer"), 1u);
    EXPECT_EQ(lines("velmora: 90000 bytes of the output of "), 1u);
}

class FinishAtTheCutoff : public DroppedOutput {};

// A program still at work when the cut-off comes is ended once, with one
// line: the close that follows finds it gone. (Several rounds: a close
// that looked too soon raced the end just asked for.)
TEST_F(FinishAtTheCutoff, EndsTheProgramOnceWithOneLine) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        host.console_log().clear();
        Cutoff cutoff;
        ChildProcess child;
        child.setCutoff(&cutoff);
        ASSERT_TRUE(child.start(fromUtf8(helper("lingerer"))));
        const unsigned long pid = child.processId();
        cutoff.bringTo(Poco::Timespan(0, 100000));
        Poco::BasicFIFOBuffer<char> out(16);
        withinWatchdog("finish", [&] { child.finish(out, 10000); });
        EXPECT_EQ(lines("did not finish its output within"), 1u);
        EXPECT_EQ(lines("did not end within"), 0u);
        EXPECT_FALSE(child.isRunning());
        EXPECT_FALSE(processAlive(pid));
    }
}

// A program that the system cannot end at once (frozen, or held in the
// kernel): here the forced end does not take. Ended at the cut-off and
// waited for the close time-out, it is neither waited for, reported nor
// ended again by the close; it goes when the system lets it.
TEST_F(FinishAtTheCutoff, AProgramThatOutlastsItsForcedEndIsEndedOnce) {
    host.console_log().clear();
    Cutoff cutoff;
    ChildProcess child;
    child.setCutoff(&cutoff);
    child.setCloseTimeout(300);
    int ends = 0;
    child.setForcedEnd([&] { ++ends; });
    ASSERT_TRUE(child.start(fromUtf8(helper("lingerer"))));
    const unsigned long pid = child.processId();
    cutoff.bringTo(Poco::Timespan(0, 100000));
    Poco::BasicFIFOBuffer<char> out(16);
    withinWatchdog("finish", [&] { child.finish(out, 10000); });
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(lines("did not finish its output within"), 1u);
    EXPECT_EQ(lines("did not end within"), 0u);
    EXPECT_FALSE(child.isOpen());
    // The system lets it go now.
    ASSERT_TRUE(processAlive(pid));
    ASSERT_TRUE(killProcess(pid));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (processAlive(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(processAlive(pid));
}

#if defined(_WIN32)
TEST(EncoderPipe, AChildInheritsOnlyItsOwnThreeHandles) {
    // An inheritable handle of the player's, and a second program running
    // beside the first: the child gets neither the handle nor the first
    // program's pipe ends.
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE event = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EncoderProcess first(helper("passthrough"), "");
    first.open();
    EncoderProcess child(helper("sethandle"), std::to_string(reinterpret_cast<ULONG_PTR>(event)));
    child.open();
    Poco::BasicFIFOBuffer<char> out(16);
    child.finish(out, 10000);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}
#endif

} // namespace
