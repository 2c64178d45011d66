// The kestrune program with the Linux build's front end, as the demo runs
// it (real encoders, the icecast2 peer and the scripted SHOUTcast servers):
// the streams of the settings file start with the menu command, each
// track's title reaches the server, a dropped source reconnects, listener
// lists are asked for and printed, and the player's quit (a signal too,
// even one that comes while the streams start) stops the streams, writes
// the settings and leaves nothing running.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>
#include <Poco/File.h>
#include <Poco/Util/XMLConfiguration.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "component_loader.h"
#include "fake_server.h"
#include "http_client.h"
#include "media.h"
#include "peers.h"
#include "pipe_fixture.h"
#include "program_run.h"
#include "shoutcast_servers.h"
#include "temp_dir.h"
#include "trickling_server.h"

using namespace std::chrono_literals;

namespace {

std::string statsField(int port, const std::string& mount, const std::string& field) {
    std::istringstream xml(httpGet(port, "/admin/stats", peers::kIcecastAdminUser, peers::kIcecastAdminPassword));
    Poco::AutoPtr<Poco::Util::XMLConfiguration> stats(new Poco::Util::XMLConfiguration(xml));
    return stats->getString("source[@mount=" + mount + "]." + field, "");
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::size_t countLines(const std::string& output, const std::string& text) {
    std::size_t n = 0;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
        n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

// Runs the command to its end: its exit status and everything it printed.
std::pair<int, std::string> runProgram(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::make_pair(-1, output);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int raw = pclose(pipe);
    return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output);
}

TEST(StreamDriver, StreamsTheSettingsFilesStreamsWhilePlayingAndEndsClean) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    for (const char* program : {"lame", "oggenc"})
        REQUIRE_PROGRAM(program);
    const long children = pipetest::childCount();
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Poco::File(profile).createDirectories();
    const std::string p = std::to_string(port);
    auto group = [&](const std::string& name, const std::string& mount, const std::string& encoder,
                     const std::string& params, int format) {
        return "<stream><server><type>0</type><host>127.0.0.1</host><port>" + p + "</port><password>" +
               peers::kIcecastSourcePassword + "</password><mount_point>" + mount + "</mount_point><yp><name>" + name +
               "</name><charset>UTF-8</charset></yp></server><encoder><encoder_file>" + encoder +
               "</encoder_file><encoder_params>" + params + "</encoder_params><format>" + std::to_string(format) +
               "</format><sampling_rate>44100</sampling_rate><channel>2</channel></encoder></stream>";
    };
    std::ofstream(profile + "/velmora.xml")
        << "<velmora version=\"1.4.1\"><common><auto_reconnect>1</auto_reconnect></common>"
        << group("Driver MP3", "/driver.mp3", "lame",
                 "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -", 0)
        << group("Driver Vorbis", "/driver.ogg", "oggenc",
                 "-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 --managed -b 128 -m 128 -M 128 "
                 "-a \"%artist%\" -t \"%title%\" -o - -",
                 4)
        << "</velmora>";

    // Two tracks; the first ends after four seconds, the list after 18.
    const std::string command = media::shellQuote(kestrune_host::program_folder() + "kestrune") + " --profile " +
                                media::shellQuote(profile) +
                                " --signal 4 --artist 'First Artist' --title 'First Song'"
                                " --signal 20 --artist 'Second Artist' --title 'Caf\xc3\xa9 &=#+' 2>&1";
    auto run = std::async(std::launch::async, [&] { return runProgram(command + " --seconds 18"); });

    // The MP3 stream carries the track's formatted title to the server.
    EXPECT_TRUE(eventually([&] { return statsField(port, "/driver.mp3", "title") == "First Artist - First Song"; }, 10s));
    EXPECT_TRUE(eventually([&] { return statsField(port, "/driver.mp3", "title") == "Second Artist - Caf\xc3\xa9 &=#+"; },
                           10s));
    // Dropped by the server, it comes back after the first attempt's wait.
    httpGet(port, "/admin/killsource?mount=/driver.mp3", peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
    const auto result = run.get();
    const std::string& output = result.second;
    EXPECT_EQ(result.first, 0) << output;
    for (const char* line : {"console: velmora: 2 stream(s) from the settings file",
                             "console: velmora: Listen URL: Driver MP3: http://127.0.0.1:" ,
                             "console: velmora: Listen URL: Driver Vorbis: http://127.0.0.1:",
                             "console: velmora: Streaming start: Driver Vorbis",
                             "console: velmora: Reconnecting: Driver MP3 (1/3)",
                             "console: velmora: Reconnection succeeded: Driver MP3",
                             "console: velmora: metadata update: Driver Vorbis: Second Artist - Caf\xc3\xa9 &=#+",
                             "console: velmora: Streaming finish: Driver MP3",
                             "console: velmora: Streaming finish: Driver Vorbis"})
        EXPECT_EQ(countLines(output, line), 1u) << line << "\n" << output;
    EXPECT_EQ(countLines(output, "console: velmora: Streaming start: Driver MP3"), 2u) << output;
    EXPECT_GE(countLines(output, "console: velmora: Statistics: Driver Vorbis: "), 15u) << output;
    EXPECT_EQ(output.substr(output.size() - 9), "unloaded\n");

    // The settings went back into the file: both streams, as they were.
    Poco::AutoPtr<Poco::Util::XMLConfiguration> saved(new Poco::Util::XMLConfiguration(profile + "/velmora.xml"));
    EXPECT_EQ(saved->getString("stream[1].server.yp.name"), "Driver Vorbis");
    EXPECT_EQ(saved->getString("stream[0].encoder.encoder_file"), "lame");
    EXPECT_FALSE(saved->has("stream[2]"));
    EXPECT_EQ(pipetest::childCount(), children);
    EXPECT_TRUE(eventually([&] { return statsField(port, "/driver.ogg", "title").empty(); }, 2s));
}

// As fast as the stream takes it, the player loses no audio: its capture
// thread waits while the stream's three seconds of input are full, and the
// list's end waits for the stream to take what is left. The encoder copies
// the 16-bit PCM through, so the server's byte count is the audio's.
TEST(StreamDriver, FastPlaybackWaitsForTheStreamsAndLosesNoAudio) {
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Poco::File(profile).createDirectories();
    std::atomic<std::size_t> received{0};
    LoopbackService server([&](FakeConnection& c) {
        const std::string head = c.readHead();
        if (head.compare(0, 4, "PUT ") != 0) {
            c.send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.waitForClose();
        received += c.received().size() - head.size();
    });
    std::ofstream(profile + "/velmora.xml")
        << "<velmora version=\"1.4.1\"><stream><server><type>0</type><host>127.0.0.1</host><port>"
        << server.port() << "</port><password>x</password><mount_point>/fast</mount_point><yp><name>Fast</name></yp>"
        << "</server><encoder><encoder_file>\"" << kestrune_host::program_folder() << "passthrough\"</encoder_file>"
           "<format>0</format><wave_format>0</wave_format><wave_header>0</wave_header>"
           "<sampling_rate>44100</sampling_rate><channel>2</channel></encoder></stream></velmora>";

    const double seconds = 20;
    const auto result = runProgram(media::shellQuote(kestrune_host::program_folder() + "kestrune") + " --fast --profile " +
                                   media::shellQuote(profile) + " --signal 8 --title One --signal 12 --title Two 2>&1");
    EXPECT_EQ(result.first, 0) << result.second;
    EXPECT_EQ(countLines(result.second, "console: velmora: Streaming finish: Fast"), 1u) << result.second;
    EXPECT_TRUE(eventually([&] { return received > 0; }, 5s));
    // The stop ends the encoder with what it still holds (at most a few of
    // its pipe buffers), as it does in real time.
    const double bytes_per_second = 44100 * 2 * 2;
    EXPECT_LE(received, seconds * bytes_per_second);
    EXPECT_GE(received, (seconds - 1) * bytes_per_second) << result.second;
}

// A stream group of the settings file whose encoder copies the PCM through.
std::string passthroughGroup(const std::string& name, int type, int port, const std::string& user,
                             const std::string& password, const std::string& mount) {
    return "<stream><server><type>" + std::to_string(type) + "</type><host>127.0.0.1</host><port>" +
           std::to_string(port) + "</port><username>" + user + "</username><password>" + password +
           "</password><mount_point>" + mount + "</mount_point><stream_id>1</stream_id><yp><name>" + name +
           "</name></yp></server><encoder><encoder_file>\"" + kestrune_host::program_folder() +
           "passthrough\"</encoder_file><format>0</format><wave_format>0</wave_format><wave_header>0</wave_header>"
           "<sampling_rate>44100</sampling_rate><channel>2</channel></encoder></stream>";
}

// Asked to, the front end asks every running stream for its listeners at
// the interval and prints them as the Clients view shows them: from the
// real icecast2 (a listener of our own on the mount), from the scripted v1
// and v2 servers (v2 with the admin credentials given), and a refused
// request as an error line that ends nothing.
TEST(StreamDriver, ListsTheListenersOfEveryRunningStreamAtTheInterval) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Poco::File(profile).createDirectories();
    Shoutcast1Server sc1;
    Shoutcast2Server sc2;
    Shoutcast2Options refusing;
    refusing.admin_reply = "HTTP/1.0 401 Unauthorized\r\nContent-Type: text/html\r\n\r\n<html>Unauthorized</html>";
    Shoutcast2Server sc2_refusing(refusing);
    std::ofstream(profile + "/velmora.xml")
        << "<velmora version=\"1.4.1\">"
        << passthroughGroup("Ice", 0, port, "", peers::kIcecastSourcePassword, "/listeners.mp3")
        << passthroughGroup("V1", 1, sc1.port(), "", "sc1-pass", "")
        << passthroughGroup("V2", 2, sc2.port(), "dj", "sc2-pass", "")
        << passthroughGroup("V2 refusing", 2, sc2_refusing.port(), "dj", "sc2-pass", "") << "</velmora>";

    const std::string command = media::shellQuote(kestrune_host::program_folder() + "kestrune") + " --profile " +
                                media::shellQuote(profile) +
                                " --listeners 1 --admin admin:sc2-admin --signal 30 --seconds 5 2>&1";
    auto run = std::async(std::launch::async, [&] { return runProgram(command); });
    std::unique_ptr<HttpListener> listener;
    if (eventually([&] { return !statsField(port, "/listeners.mp3", "listeners").empty(); }, 10s))
        listener.reset(new HttpListener(port, "/listeners.mp3", "velmora-driver-listener"));
    const auto result = run.get();
    const std::string& output = result.second;
    EXPECT_EQ(result.first, 0) << output;
    ASSERT_TRUE(listener) << output;
    EXPECT_GE(countLines(output, "console: velmora: Listener: Ice: 127.0.0.1 | velmora-driver-listener | 00:00:0"), 1u)
        << output;
    for (const char* name : {"V1", "V2"}) {
        const std::string prefix = std::string("console: velmora: Listener: ") + name + ": ";
        // Asked about once a second while the list plays.
        EXPECT_GE(countLines(output, std::string("console: velmora: Listeners: ") + name + ": 3"), 3u) << output;
        for (const std::string& row : {prefix + "127.0.0.1 | Murmelo/5.66, Zentra/2.1 | 00:00:05",
                                       prefix + "192.0.2.17 |  | 01:02:05",
                                       prefix + "listener.example | Quabble/3.0.18 LibQuabble/3.0.18 | 1h 2m"})
            EXPECT_GE(countLines(output, row), 3u) << row << "\n" << output;
    }
    EXPECT_GE(countLines(output, "console: velmora: Listener request error: V2 refusing: "), 3u)
        << output;
    EXPECT_EQ(countLines(output, "console: velmora: Streaming finish: V2 refusing"), 1u) << output;
    for (const auto& errors : {sc1.errors(), sc2.errors()})
        for (const std::string& e : errors)
            ADD_FAILURE() << e;
}

// A signal that comes while the menu command still starts the streams (a
// server slow to take the login) ends the run as any other: the streams
// stop and the settings are written.
TEST(StreamDriver, ASignalDuringTheStartStopsTheStreamsAndWritesTheSettings) {
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Poco::File(profile).createDirectories();
    std::atomic<pid_t> pid{0};
    std::atomic<bool> signalled{false};
    LoopbackService server([&](FakeConnection& c) {
        const std::string head = c.readHead();
        if (head.compare(0, 4, "PUT ") != 0) {
            c.send("HTTP/1.0 404 Not Found\r\n\r\n");
            return;
        }
        // The login waits for its answer while the signal comes.
        if (pid > 0 && !signalled.exchange(true))
            kill(pid, SIGTERM);
        std::this_thread::sleep_for(1500ms);
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.waitForClose();
    });
    std::ofstream(profile + "/velmora.xml")
        << "<velmora version=\"1.4.1\">"
        << passthroughGroup("Slow", 0, server.port(), "", "x", "/slow") << "</velmora>";

    const ProgramRun run =
        runWatched({kestrune_host::program_folder() + "kestrune", "--profile", profile, "--signal", "600"},
                   [&](pid_t child) { pid = child; }, nullptr);
    const std::string& output = run.output;
    const int raw = run.raw_status;
    EXPECT_TRUE(signalled) << output;
    ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0) << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(raw), 0) << output;
    for (const char* line : {"console: velmora: Streaming start: Slow", "stopped by a signal",
                             "console: velmora: Streaming finish: Slow"})
        EXPECT_EQ(countLines(output, line), 1u) << line << "\n" << output;
    EXPECT_EQ(output.substr(output.size() - 9), "unloaded\n");
    Poco::AutoPtr<Poco::Util::XMLConfiguration> saved(new Poco::Util::XMLConfiguration(profile + "/velmora.xml"));
    EXPECT_EQ(saved->getString("stream[0].server.yp.name"), "Slow");
    EXPECT_EQ(saved->getString("stream[0].server.mount_point"), "/slow");
    EXPECT_TRUE(saved->has("common.title_format")) << "the settings were written back";
}

// A signal that comes while a listener list trickles in (a byte a second:
// the exchange alone could take half a minute) ends the run within about
// a second: the streams' stop ends the request instead of waiting for it.
TEST(StreamDriver, ASignalWhileAListenerListTricklesInEndsTheRunWithinASecond) {
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Poco::File(profile).createDirectories();
    std::atomic<pid_t> pid{0};
    std::atomic<bool> signalled{false};
    std::atomic<std::chrono::steady_clock::rep> signalled_at{0};
    TricklingServer server([&] {
        if (pid > 0 && !signalled.exchange(true)) {
            signalled_at = std::chrono::steady_clock::now().time_since_epoch().count();
            kill(pid, SIGTERM);
        }
    });
    std::ofstream(profile + "/velmora.xml")
        << "<velmora version=\"1.4.1\">"
        << passthroughGroup("Trickle", 0, server.port(), "", "x", "/trickle") << "</velmora>";

    const ProgramRun run = runWatched({kestrune_host::program_folder() + "kestrune", "--profile", profile,
                                      "--listeners", "1", "--signal", "600"},
                                     [&](pid_t child) { pid = child; }, nullptr);
    const auto ended = std::chrono::steady_clock::now();
    const std::string& output = run.output;
    ASSERT_TRUE(signalled) << output;
    const auto took = ended.time_since_epoch() - std::chrono::steady_clock::duration(signalled_at);
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n" << output;
    ASSERT_TRUE(WIFEXITED(run.raw_status)) << output;
    EXPECT_EQ(WEXITSTATUS(run.raw_status), 0) << output;
    for (const char* line : {"stopped by a signal", "console: velmora: Streaming finish: Trickle"})
        EXPECT_EQ(countLines(output, line), 1u) << line << "\n" << output;
    EXPECT_EQ(output.substr(output.size() - 9), "unloaded\n");
}

} // namespace
#endif
