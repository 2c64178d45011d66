// The kestrune program with the Linux build's front end, as the demo runs
// it (real encoders, the icecast2 peer and the scripted SHOUTcast servers):
// the streams of the settings file start with the menu command, each
// track's title reaches the server, a dropped source reconnects, listener
// lists are asked for and printed, and the player's quit (a signal too,
// even one that comes while the streams start) stops the streams, writes
// the settings and leaves nothing running. The same front end in this
// process, with the stand-in player, for its titles and listener requests
// around slow listener lists and reconnections.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>
#include <Poco/File.h>
#include <Poco/Util/XMLConfiguration.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "component_loader.h"
#include "driver/stream_driver.h"
#include "fake_server.h"
#include "http_client.h"
#include "console_gate.h"
#include "list_holding_server.h"
#include "media.h"
#include "peers.h"
#include "pipe_fixture.h"
#include "program_run.h"
#include "sdk_fixture.h"
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

// A stream group of the settings file for the icecast2 peer on `port`.
std::string icecastGroup(int port, const std::string& name, const std::string& mount, const std::string& encoder,
                         const std::string& params, int format) {
    return "<stream><server><type>0</type><host>127.0.0.1</host><port>" + std::to_string(port) + "</port><password>" +
           peers::kIcecastSourcePassword + "</password><mount_point>" + mount + "</mount_point><yp><name>" + name +
           "</name><charset>UTF-8</charset></yp></server><encoder><encoder_file>" + encoder +
           "</encoder_file><encoder_params>" + params + "</encoder_params><format>" + std::to_string(format) +
           "</format><sampling_rate>44100</sampling_rate><channel>2</channel></encoder></stream>";
}

TEST(StreamDriver, StreamsTheSettingsFilesStreamsWhilePlayingAndEndsClean) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    for (const char* program : {"lame", "oggenc"})
        REQUIRE_PROGRAM(program);
    const long children = pipetest::childCount();
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Poco::File(profile).createDirectories();
    const auto group = [port](const std::string& name, const std::string& mount, const std::string& encoder,
                              const std::string& params, int format) {
        return icecastGroup(port, name, mount, encoder, params, format);
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
                             const std::string& password, const std::string& mount,
                             const std::string& helper = "passthrough", const std::string& params = "",
                             int format = 0) {
    return "<stream><server><type>" + std::to_string(type) + "</type><host>127.0.0.1</host><port>" +
           std::to_string(port) + "</port><username>" + user + "</username><password>" + password +
           "</password><mount_point>" + mount + "</mount_point><stream_id>1</stream_id><yp><name>" + name +
           "</name></yp></server><encoder><encoder_file>\"" + kestrune_host::program_folder() + helper +
           "\"</encoder_file><encoder_params>" + params + "</encoder_params><format>" + std::to_string(format) +
           "</format><wave_format>0</wave_format><wave_header>0</wave_header>"
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

// The front end in this process, with the stand-in player: the test reaches
// its streams and changes the playing track's information as a radio does.
class DriverInProcess : public with_player {
protected:
    void SetUp() override {
        with_player::SetUp();
        host.set_profile_folder(scratch.path() + "profile");
    }
    void TearDown() override {
        StreamDriver::close();
        host.stop();
        with_player::TearDown();
    }

    void writeSettings(const std::string& common, const std::string& groups) {
        std::ofstream(host.profile_folder() + "/velmora.xml")
            << "<velmora version=\"1.4.1\"><common>" << common << "</common>" << groups << "</velmora>";
    }
    // The playing track's title changes; true once the front end was told.
    bool retitle(const std::string& title) {
        host.set_dynamic_info({{"artist", "Artist"}, {"title", title}});
        return host.pump_until([&] {
            std::string now;
            return host.track_field("title", now) && now == title;
        }, 10s);
    }
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
        return host.pump_until(done, limit);
    }
    // The console so far, for failure messages.
    std::string console() {
        std::string text;
        for (const std::string& line : host.console_log().lines())
            text += line + "\n";
        return text;
    }

    TempDir scratch;
};

// Titles that come while the front end's worker waits for a slow listener
// list are not lost: the latest goes out once the list is in.
TEST_F(DriverInProcess, ATitleThatComesDuringASlowListenerListFollowsIt) {
    ListHoldingServer server;
    writeSettings("", passthroughGroup("Held", 0, server.port(), "", "x", "/held"));
    host.listener_requests().set(1, "", "");
    host.play({kestrune_host::signal_track("Artist", "One", 300)});
    server.hold(true);
    StreamDriver::open();
    const auto titles = [&] { return server.titles("/held"); };
    ASSERT_TRUE(pumpUntil([&] { return titles().size() == 1 && server.listRequests() == 1; }));
    EXPECT_EQ(titles().front(), "Artist - One");
    // The worker waits for the list's body meanwhile.
    ASSERT_TRUE(retitle("Two"));
    ASSERT_TRUE(retitle("Three"));
    server.hold(false);
    // The list that follows comes after the title.
    ASSERT_TRUE(pumpUntil([&] { return console_count("velmora: Listeners: Held: 0") >= 2; }));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Artist - One", "Artist - Three"}));
    EXPECT_EQ(console_count("velmora: metadata update: Held: Artist - Three"), 1u);
}

// A stop (here the player's quit) ends the request in flight, a slow
// listener list or a title the server does not answer: the user's own
// stop is no error, and no error line says so.
TEST_F(DriverInProcess, AStopEndsTheRequestInFlightWithoutAnErrorLine) {
    for (const bool list : {true, false}) {
        SCOPED_TRACE(list ? "a listener list in flight" : "a title in flight");
        ListHoldingServer server;
        writeSettings("", passthroughGroup("Held", 0, server.port(), "", "x", "/held"));
        host.console_log().clear();
        host.listener_requests().set(list ? 1 : 0, "", "");
        server.hold(list);
        server.holdTitles(!list);
        host.play({kestrune_host::signal_track("Artist", "One", 300)});
        StreamDriver::open();
        ASSERT_TRUE(pumpUntil([&] {
            return !server.titles("/held").empty() && (!list || server.listRequests() == 1);
        })) << console();
        StreamDriver::close();
        host.stop();
        EXPECT_EQ(console_count("velmora: Streaming finish: Held"), 1u) << console();
        for (const char* line : {"velmora: Listener request error: ", "velmora: metadata update error: ",
                                 list ? "velmora: Listeners: " : "velmora: metadata update: "})
            EXPECT_EQ(console_count(line), 0u) << line << "\n" << console();
    }
}

// With the reconnection off, a title that comes after a stream's worker
// failed, while the front end is about to stop the stream, is not
// reported as waiting for a reconnection that never comes. (The stream's
// error line holds its worker until the title went to both streams.)
TEST_F(DriverInProcess, ATitleAfterAFailureIsNotPostponedWhenTheStreamIsStopped) {
    ListHoldingServer failing_server, other_server;
    writeSettings("<auto_reconnect>0</auto_reconnect>",
                  passthroughGroup("Failing", 0, failing_server.port(), "", "x", "/failing") +
                      passthroughGroup("Other", 0, other_server.port(), "", "x", "/other"));
    ConsoleGate gate(host.console_log(), "velmora: Error: Failing: ");

    host.play({kestrune_host::signal_track("Artist", "One", 300)});
    StreamDriver::open();
    ASSERT_TRUE(pumpUntil([&] { return console_count("velmora: metadata update: Other: Artist - One") >= 1; }))
        << console();
    failing_server.dropSources();
    ASSERT_TRUE(pumpUntil([&] { return gate.held(); })) << console();
    ASSERT_TRUE(retitle("Two"));
    ASSERT_TRUE(pumpUntil([&] { return console_count("velmora: metadata update: Other: Artist - Two") >= 1; }))
        << console();
    gate.release();
    ASSERT_TRUE(pumpUntil([&] { return console_count("velmora: Streaming finish: Failing") == 1; })) << console();
    EXPECT_EQ(console_count("velmora: metadata update postponed: Failing"), 0u) << console();
    EXPECT_EQ(console_count("velmora: metadata update: Failing: Artist - Two"), 0u) << console();
}

// The player quits right after the first title. The Ogg stream, second in
// the list, stands in its title restart (its old encoder's input closed)
// until the quit first waits for a stream, the first one, whose encoder
// stays until the stop's cut-off: it starts no new encoder once the quit
// has begun, and its listeners get the old encoder's tail and nothing after
// it. (Started before anything plays, neither stream has a title before.)
TEST_F(DriverInProcess, AQuitStartsNoEncoderInAStreamThatTookATitleJustBefore) {
    ListHoldingServer lingering_server, ogg_server;
    writeSettings("", passthroughGroup("Lingering", 0, lingering_server.port(), "", "x", "/lingering", "lingerer") +
                          passthroughGroup("Vorbis", 0, ogg_server.port(), "", "x", "/vorbis.ogg", "latetail",
                                           "0 11 0 %title%", FORMAT_OGG_VORBIS));
    StreamDriver::open();
    ASSERT_EQ(console_count("velmora: Streaming start: "), 2u) << console();
    ConsoleGate gate(host.console_log(), "input ended");
    host.play({kestrune_host::signal_track("Artist", "One", 300)});
    ASSERT_TRUE(pumpUntil([&] { return gate.held(); })) << console();
    host.post([&] { gate.release(); });
    StreamDriver::close();
    host.stop();
    EXPECT_EQ(console_count("velmora: Streaming finish: "), 2u) << console();
    ASSERT_TRUE(pumpUntil([&] { return ogg_server.sourceBytes().size() == 1; })) << console();
    EXPECT_EQ(ogg_server.sourceBytes()[0], "END OF TAIL") << "an encoder started after the quit began";
}

// A soak in short, against icecast2: a killed source and then an outage
// that outlasts the three attempts, with titles and listener requests
// during both. While a stream has no connection, no title is reported as
// sent and no request goes out (a request would fail and print an error
// line); one line per wait says the stream is reconnecting; every error
// line names its reason; after the reconnection each mount carries the
// player's current track.
TEST_F(DriverInProcess, ASourceKillAndAnOutageLeaveEveryLineTrue) {
    for (const char* program : {"lame", "oggenc"})
        REQUIRE_PROGRAM(program);
    peers::OwnPeer icecast(peers::Kind::Icecast);
    if (icecast.port() == 0) {
        if (peers::required())
            FAIL() << icecast.why();
        GTEST_SKIP() << icecast.why();
    }
    const int port = icecast.port();
    const auto group = [port](const std::string& name, const std::string& mount, const std::string& encoder,
                              const std::string& params, int format) {
        return icecastGroup(port, name, mount, encoder, params, format);
    };
    writeSettings("<auto_reconnect>1</auto_reconnect>",
                  group("Soak MP3", "/soak.mp3", "lame",
                        "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -", 0) +
                      group("Soak Vorbis", "/soak.ogg", "oggenc",
                            "-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 -q 3 -a \"%artist%\" -t \"%title%\" -o - -",
                            4));
    host.listener_requests().set(1, "", "");
    host.play({kestrune_host::signal_track("Artist", "One", 600)});
    StreamDriver::open();
    const auto& streams = StreamDriver::instance()->streams();
    ASSERT_EQ(streams.size(), 2u);
    for (const auto& stream : streams) {
        // Long enough for the titles below to fall inside the waits.
        stream->setReconnectWait(3s);
        stream->setSettleSeconds(0);
        ASSERT_TRUE(stream->status().running) << stream->status().error_text;
    }
    const auto mp3Title = [&] { return statsField(port, "/soak.mp3", "title"); };
    const auto oggTitle = [&] {
        return statsField(port, "/soak.ogg", "artist") + " - " + statsField(port, "/soak.ogg", "title");
    };
    ASSERT_TRUE(pumpUntil([&] { return mp3Title() == "Artist - One" && oggTitle() == "Artist - One"; }));
    ASSERT_TRUE(pumpUntil([&] { return console_count("velmora: Listeners: Soak Vorbis: 0") >= 1; }));

    // The server drops each source in turn; a new title comes while the
    // stream waits to reconnect. (The stream learns of the drop only at a
    // later write; requests before fail with the server's reason.)
    const char* const titles[] = {"Two", "Three"};
    for (std::size_t i = 0; i < 2; ++i) {
        Stream& stream = *streams[i];
        const std::string name = stream.serverSettings().yp.name;
        httpGet(port, "/admin/killsource?mount=" + stream.serverSettings().mount_point, peers::kIcecastAdminUser,
                peers::kIcecastAdminPassword);
        ASSERT_TRUE(pumpUntil([&] { return stream.status().reconnecting; })) << console();
        ASSERT_TRUE(retitle(titles[i]));
        ASSERT_TRUE(pumpUntil([&] { return console_count("velmora: Reconnection succeeded: " + name) == 1; }))
            << console();
    }
    // Each mount carries the current track.
    EXPECT_TRUE(pumpUntil([&] { return mp3Title() == "Artist - Three"; })) << mp3Title();
    EXPECT_TRUE(pumpUntil([&] { return oggTitle() == "Artist - Three"; })) << oggTitle();

    // The server goes; another title comes while the streams wait, until
    // they give up.
    icecast.stop();
    ASSERT_TRUE(pumpUntil([&] { return streams[0]->status().reconnecting && streams[1]->status().reconnecting; }))
        << console();
    ASSERT_TRUE(retitle("Four"));
    ASSERT_TRUE(pumpUntil([&] { return !streams[0]->status().running && !streams[1]->status().running; }, 60s))
        << console();

    // The console, line by line. The front end's worker makes one request
    // at a time and prints its line in that order: once it has turned one
    // away for a stream's wait (the wait's one notice), each later line of
    // its own about that stream, until the stream starts again, comes from a
    // request made during the wait. (A request made before the stream
    // noticed its loss may end after the stream's error line.)
    enum State { RUNNING, FAILED, WAITING };
    std::map<std::string, State> state{{"Soak MP3", RUNNING}, {"Soak Vorbis", RUNNING}};
    std::map<std::string, int> waits, notices;
    for (const std::string& line : host.console_log().lines()) {
        for (auto& stream : state) {
            const std::string& name = stream.first;
            const auto has = [&](const std::string& start) { return line.find(start + name + ": ") != std::string::npos; };
            if (has("velmora: Error: ")) {
                stream.second = FAILED;
                ++waits[name];
            } else if (line.find("velmora: Streaming start: " + name) != std::string::npos) {
                stream.second = RUNNING;
            } else if (has("velmora: metadata update postponed: ") || has("velmora: Listener request skipped: ")) {
                EXPECT_NE(stream.second, RUNNING) << line;
                stream.second = WAITING;
                ++notices[name + std::to_string(waits[name])];
            } else if (has("velmora: metadata update: ")) {
                // Each new title comes once a stream's loss is known: one
                // reported as sent between its error and its restart is false.
                EXPECT_EQ(stream.second, RUNNING) << "without a connection: " << line;
            } else if (has("velmora: Listeners: ")) {
                EXPECT_NE(stream.second, WAITING) << "without a connection: " << line;
            } else if (has("velmora: metadata update error: ") || has("velmora: Listener request error: ")) {
                EXPECT_NE(stream.second, WAITING) << "a request during a wait: " << line;
                const std::string reason = line.substr(line.find(name + ": ") + name.size() + 2);
                EXPECT_NE(reason.compare(0, 9, "Exception"), 0) << line;
            }
        }
    }
    // The titles that came during a stream's wait were not reported as
    // sent to it; the other stream, running, sent them. The MP3 stream's
    // reconnection sent its title again, and says so once it runs again.
    const std::vector<std::string> lines = host.console_log().lines();
    const auto at = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) - lines.begin();
    };
    EXPECT_EQ(console_count("velmora: metadata update: Soak MP3: Artist - Two"), 1u);
    EXPECT_GT(at("velmora: metadata update: Soak MP3: Artist - Two"), at("velmora: Reconnection succeeded: Soak MP3"));
    for (const char* line : {"velmora: metadata update: Soak Vorbis: Artist - Three",
                             "velmora: metadata update: Soak MP3: Artist - Four",
                             "velmora: metadata update: Soak Vorbis: Artist - Four"})
        EXPECT_EQ(console_count(line), 0u) << line;
    EXPECT_EQ(console_count("velmora: metadata update: Soak Vorbis: Artist - Two"), 1u);
    EXPECT_EQ(console_count("velmora: metadata update: Soak MP3: Artist - Three"), 1u);
    for (const char* name : {"Soak MP3", "Soak Vorbis"}) {
        EXPECT_EQ(waits[name], 2) << name;
        // Each wait had a title kept or a listener request turned away.
        EXPECT_EQ(notices[name + std::string("1")], 1) << name;
        EXPECT_EQ(notices[name + std::string("2")], 1) << name;
        EXPECT_EQ(console_count(std::string("velmora: Reconnection given up after 3 attempts: ") + name + ": "), 1u);
    }
    if (HasFailure())
        ADD_FAILURE() << console();
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
