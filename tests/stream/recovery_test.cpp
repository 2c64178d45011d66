// Streams that recover, or give up, honestly: a reconnection after the
// programs died starts them again and the mount gets audio and its title
// back; attempts count until the stream has carried audio again, so a
// server that drops every source is given up after three, with the reason
// on the console; a stop never waits for a title or listener request; many
// reconnections leave one worker; children hold no sockets.
#include "stream_fixture.h"

#include <Poco/Exception.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <future>
#include <map>

#include "fake_server.h"
#include "http_client.h"
#include "peers.h"
#include "pipe_fixture.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <unistd.h>

#include "media.h"
#endif

using namespace streamtest;
using namespace pipetest;

namespace {

EncoderSettings passthrough() { return encoderSettings(helper("passthrough"), "", FORMAT_MP3, 44100, 2); }

std::vector<int> withoutStatistics(const Observer& observer) {
    std::vector<int> codes = observer.codes();
    codes.erase(std::remove(codes.begin(), codes.end(), int(StreamEventListener::EVENT_STATISTICS)), codes.end());
    return codes;
}

std::vector<int> attemptCounts(const Observer& observer) {
    std::vector<int> counts;
    for (const Observer::Event& e : observer.events())
        if (e.code == StreamEventListener::EVENT_RECONNECTING)
            counts.push_back(e.status.reconnect_count);
    return counts;
}

// An Icecast2 server in miniature: takes every source (PUT, 100 Continue),
// reads `take` bytes of it and drops it; a title request is answered one
// byte a second.
class DroppingServer {
public:
    explicit DroppingServer(std::size_t take)
        : service_([this, take](FakeConnection& c) {
              const std::string head = c.readHead();
              if (head.rfind("PUT ", 0) == 0) {
                  ++sources_;
                  c.send("HTTP/1.1 100 Continue\r\n\r\n");
                  if (take > 0)
                      c.readBytes(take);
              } else if (head.rfind("GET /admin/", 0) == 0) {
                  ++requests_;
                  const std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>";
                  for (char ch : reply) {
                      if (c.stopping() || c.closed())
                          break;
                      c.send(std::string(1, ch));
                      for (int i = 0; i < 10 && !c.stopping(); ++i)
                          std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  }
              }
              c.close();
          }) {}
    int port() const { return service_.port(); }
    int sources() const { return sources_; }
    int requests() const { return requests_; }

private:
    std::atomic<int> sources_{0};
    std::atomic<int> requests_{0};
    LoopbackService service_;
};

class Recovery : public PlayerTest {};

TEST_F(Recovery, AServerThatDropsEverySourceIsGivenUpAfterThreeAttempts) {
    DroppingServer server(0);
    Observer observer;
    observer.window = true;
    observer.auto_reconnect = true;
    Stream stream(&observer, passthrough(), icecastSettings(server.port(), "/drops", "Drops"));
    stream.setReconnectWait(50ms);
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    playTone(60);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STOPPED, 1, 30s));
    // Each login "succeeds", but the stream never carries audio again: the
    // attempts go on counting, and the third failure ends the stream.
    EXPECT_EQ(withoutStatistics(observer), (std::vector<int>{0, 5, 2, 0, 5, 2, 0, 5, 2, 0, 5, 1}));
    EXPECT_EQ(attemptCounts(observer), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(server.sources(), 4);
    EXPECT_FALSE(stream.status().running);
    EXPECT_EQ(stream.status().reconnect_count, 3);
    EXPECT_EQ(consoleCount("velmora: Reconnection given up after 3 attempts: Drops: "), 1u);
    EXPECT_FALSE(stream.status().error_text.empty());
}

TEST_F(Recovery, AStopDoesNotWaitForTitleOrListenerRequests) {
    DroppingServer server(std::size_t(-1));
    Observer observer;
    Stream stream(&observer, passthrough(), icecastSettings(server.port(), "/slow", "Slow"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    playTone(30);
    // Both replies trickle in at a byte a second (the whole exchange may
    // take thirty).
    auto title = std::async(std::launch::async, [&] { stream.updateMetadata("Slow Title"); });
    auto listeners = std::async(std::launch::async, [&] { return stream.listClients(); });
    // (A loaded machine may take its time to send them.)
    ASSERT_TRUE(eventually([&] { return server.requests() == 2; }, 60s));
    std::this_thread::sleep_for(500ms);
    const auto before = std::chrono::steady_clock::now();
    stream.stop();
    // (About a second; the exchanges alone could take thirty.)
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
    EXPECT_EQ(observer.codes().back(), StreamEventListener::EVENT_STOPPED);
    // The requests end with the stream, and say so.
    ASSERT_EQ(title.wait_for(2s), std::future_status::ready);
    ASSERT_EQ(listeners.wait_for(2s), std::future_status::ready);
    for (auto* request : {static_cast<std::future<void>*>(&title)}) {
        try {
            request->get();
            ADD_FAILURE() << "the title request succeeded";
        } catch (const Poco::Exception& e) {
            EXPECT_EQ(e.message(), "The request was ended: the stream stopped.");
        }
    }
    EXPECT_THROW(listeners.get(), Poco::Exception);
}

// A stream deleted while its worker reconnects (a window removing it) ends
// without events: the login it ends is no failed attempt to announce.
TEST_F(Recovery, AStreamDeletedWhileItReconnectsRaisesNoMoreEvents) {
    // The first source is dropped after a moment of audio; the login of
    // the reconnection is never answered.
    std::atomic<int> sources{0};
    LoopbackService server([&](FakeConnection& c) {
        if (c.readHead().rfind("PUT ", 0) != 0)
            return;
        if (++sources == 1) {
            c.send("HTTP/1.1 100 Continue\r\n\r\n");
            c.readBytes(100000);
            return;
        }
        c.waitForClose();
    });
    Observer observer;
    observer.window = true;
    observer.auto_reconnect = true;
    auto stream = std::make_unique<Stream>(&observer, passthrough(), icecastSettings(server.port(), "/gone", "Gone"));
    stream->setReconnectWait(0ms);
    stream->start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream->status().error_text;
    playTone(30);
    ASSERT_TRUE(eventually([&] { return sources == 2; }, 30s));
    const std::vector<int> before = observer.codes();
    stream.reset();
    EXPECT_EQ(observer.codes(), before);
}

// A stop while a reconnection's login waits for the server's reply (in the
// first attempt, and in the third after two refused ones): the login the
// stop ended is no attempt. It is not counted and announces no further
// attempt, nothing says the reconnection was given up, and the stream's
// error is still the fault that began the reconnection.
TEST_F(Recovery, AStopDuringAReconnectionsLoginIsNoFailedAttempt) {
    for (const int held_attempt : {1, 3}) {
        SCOPED_TRACE(held_attempt);
        std::atomic<bool> held{false};
        std::vector<FakeServer::Handler> script;
        script.push_back([](FakeConnection& c) {
            c.readHead();
            c.send("HTTP/1.1 100 Continue\r\n\r\n");
            c.readBytes(100000);
        });
        for (int attempt = 1; attempt < held_attempt; ++attempt)
            script.push_back([](FakeConnection& c) {
                c.readHead();
                c.send("HTTP/1.0 403 Forbidden\r\n\r\nMountpoint in use");
            });
        script.push_back([&held](FakeConnection& c) {
            c.readHead();
            held = true;
            c.waitForClose();
        });
        FakeServer server(script);
        Observer observer;
        observer.window = true;
        observer.auto_reconnect = true;
        Stream stream(&observer, passthrough(), icecastSettings(server.port(), "/held", "Held"));
        stream.setReconnectWait(0ms);
        const std::size_t given_up = consoleCount("Reconnection given up");
        stream.start(capture.get());
        ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
        playTone(60);
        ASSERT_TRUE(eventually([&] { return held.load(); }, 60s)) << stream.status().error_text;
        stream.stop();
        std::vector<int> expected{StreamEventListener::EVENT_STARTED, StreamEventListener::EVENT_ERROR};
        expected.insert(expected.end(), held_attempt, StreamEventListener::EVENT_RECONNECTING);
        expected.push_back(StreamEventListener::EVENT_STOPPED);
        EXPECT_EQ(withoutStatistics(observer), expected);
        EXPECT_EQ(consoleCount("Reconnection given up"), given_up);
        const std::vector<Observer::Event> events = observer.events();
        const auto error = std::find_if(events.begin(), events.end(), [](const Observer::Event& e) {
            return e.code == StreamEventListener::EVENT_ERROR;
        });
        ASSERT_NE(error, events.end());
        EXPECT_FALSE(error->status.error_text.empty());
        EXPECT_EQ(stream.status().error_text, error->status.error_text);
        EXPECT_EQ(stream.status().reconnect_count, held_attempt - 1);
        EXPECT_FALSE(stream.status().running);
        EXPECT_FALSE(stream.status().reconnecting);
        host.stop();
    }
}

TEST_F(Recovery, TwentyReconnectionsLeaveOneWorker) {
    // Each source is dropped after a moment of audio; every login counts
    // as a success here. (One thread serves the connections in turn.)
    std::vector<FakeServer::Handler> script(30, [](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.readBytes(20000);
    });
    FakeServer server(script);
    Observer observer;
    observer.window = true;
    observer.auto_reconnect = true;
    Stream stream(&observer, passthrough(), icecastSettings(server.port(), "/many", "Many"));
    stream.setReconnectWait(10ms);
    stream.setSettleSeconds(0);
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    playTone(120);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STARTED, 3, 30s));
    const long threads = threadCount();
    const long space = addressSpaceKiB();
    const long handles = openHandleCount();
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STARTED, 23, 60s)) << observer.count(0);
    EXPECT_EQ(observer.count(StreamEventListener::EVENT_STOPPED), 0);
    // Every retired worker was joined: no thread, no stack and no handle
    // is left of them (a thread's stack is megabytes; twenty kept would
    // show; Windows frees the stack of an ended thread at once, and keeps
    // its handle until it is joined).
    EXPECT_TRUE(eventually([&] { return threadCount() <= threads; })) << threadCount() << " > " << threads;
    EXPECT_LT(addressSpaceKiB() - space, 48 * 1024) << space;
    EXPECT_TRUE(eventually([&] { return openHandleCount() <= handles; })) << openHandleCount() << " > " << handles;
    stream.stop();
    host.stop();
}

#if defined(_WIN32)
// Every process holds handles of its own; those a parent can hand a child
// are pipe ends and sockets: the program holds its three standard ones.
::testing::AssertionResult nothingOfOursBeyondStandardHandles(unsigned long pid) {
    long pipes = 0;
    long sockets = 0;
    if (!streamHandlesOf(pid, pipes, sockets))
        return ::testing::AssertionFailure() << "the handles of process " << pid << " cannot be looked into";
    if (pipes == 3 && sockets == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << pipes << " pipe ends and " << sockets << " sockets";
}

// How the engine tells of a program ended by killProcess.
const char* const kKilled = " ended with exit status 9";
#else
// What a process holds beyond its standard handles that could be ours: its
// descriptors above 2 on a socket or a pipe, as "fd -> socket:[inode]".
// Files are not judged: a program opens some of its own (a library while
// it loads, for one).
std::vector<std::string> socketsAndPipesBeyondStandard(unsigned long pid) {
    std::vector<std::string> held;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == "0" || name == "1" || name == "2")
                continue;
            char target[256] = {};
            if (readlink((dir + "/" + name).c_str(), target, sizeof target - 1) <= 0)
                continue;
            const std::string what = target;
            if (what.rfind("socket:", 0) == 0 || what.rfind("pipe:", 0) == 0)
                held.push_back(name + " -> " + what);
        }
        closedir(d);
    }
    std::sort(held.begin(), held.end());
    return held;
}

// Bytes the process has handed to write calls so far (-1: unreadable).
long long bytesWritten(unsigned long pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string line;
    while (std::getline(io, line))
        if (line.rfind("wchar:", 0) == 0)
            return std::stoll(line.substr(6));
    return -1;
}

// Once the program runs (it has written its first output), it holds no
// socket or pipe beyond its three standard handles.
::testing::AssertionResult nothingOfOursBeyondStandardHandles(unsigned long pid) {
    if (!eventually([&] { return bytesWritten(pid) > 0; }, 20s))
        return ::testing::AssertionFailure() << "process " << pid << " wrote nothing";
    const std::vector<std::string> held = socketsAndPipesBeyondStandard(pid);
    if (held.empty())
        return ::testing::AssertionSuccess();
    std::string list;
    for (const std::string& h : held)
        list += h + "; ";
    return ::testing::AssertionFailure() << "beyond 0-2: " << list;
}

const char* const kKilled = " was ended by signal 9";

std::string save(const std::string& bytes, const std::string& file) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}
#endif

const char* const kLame = "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -";
const char* const kOggenc =
    R"(-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 --managed -b 128 -m 128 -M 128 -a "%artist%" -t "%title%" -o - -)";

TEST_F(Recovery, AnEncoderThatDiesIsStartedAgainAndTheMountGetsAudioAndTitleBack) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    struct Case {
        std::string file;    // as the settings give it
        std::string program; // the running program's name
        const char* params;
        int format;
        const char* mount;
        const char* codec;
    };
#if defined(_WIN32)
    // Under Wine only Windows programs start: the cross-built lame.exe; and
    // the decoding peer tells what a listener heard.
    VELMORA_PEER_PORT(probe_port, peers::Kind::Probe);
    REQUIRE_FILE(lameExe());
    const Case cases[] = {{"\"" + lameExe() + "\"", "lame.exe", kLame, FORMAT_MP3, "/recover.mp3", "mp3"}};
#else
    for (const char* program : {"lame", "oggenc", "ffprobe", "ffmpeg"})
        REQUIRE_PROGRAM(program);
    const Case cases[] = {{"lame", "lame", kLame, FORMAT_MP3, "/recover.mp3", "mp3"},
                          {"oggenc", "oggenc", kOggenc, FORMAT_OGG_VORBIS, "/recover.ogg", "vorbis"}};
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        Observer observer;
        observer.window = true;
        observer.auto_reconnect = true;
        Stream stream(&observer, encoderSettings(c.file, c.params, c.format, 44100, 2),
                      icecastSettings(port, c.mount, "Recover"));
        stream.setReconnectWait(300ms);
        stream.start(capture.get());
        ASSERT_EQ(observer.codes(), std::vector<int>{0}) << stream.status().error_text;
        stream.addTitle("Night Artist", "Night Title");
        stream.updateMetadata("Night Artist - Night Title");
        playTone(60);
        ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STATISTICS));
        auto titled = [&] { return sourceField(port, c.mount, "title").find("Night Title") != std::string::npos; };
        ASSERT_TRUE(eventually(titled));

        // The running encoder holds no socket or pipe beyond its three
        // standard handles.
        const std::vector<unsigned long> first = childrenRunning(c.program);
        ASSERT_EQ(first.size(), 1u);
        EXPECT_TRUE(nothingOfOursBeyondStandardHandles(first[0]));
        ASSERT_TRUE(killProcess(first[0]));

        // The first attempt succeeds: the old source was closed before it,
        // and a new encoder runs.
        ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STARTED, 2, 20s));
        EXPECT_EQ(withoutStatistics(observer), (std::vector<int>{0, 5, 2, 0}));
        for (const Observer::Event& e : observer.events())
            if (e.code == StreamEventListener::EVENT_ERROR) {
                EXPECT_NE(e.status.error_text.find(c.program + kKilled), std::string::npos)
                    << e.status.error_text;
            }
        const std::vector<unsigned long> second = childrenRunning(c.program);
        ASSERT_EQ(second.size(), 1u);
        EXPECT_NE(second[0], first[0]);
        EXPECT_TRUE(nothingOfOursBeyondStandardHandles(second[0]));

        // A new listener hears the codec, and the title is back.
        EXPECT_TRUE(eventually(titled)) << sourceField(port, c.mount, "title");
        HttpListener listener(port, c.mount, "velmora-test");
        ASSERT_TRUE(listener.waitForAudio(40000));
#if defined(_WIN32)
        std::map<std::string, std::string> heard = probeStream(probe_port, listener.audio());
        EXPECT_EQ(heard["codec_name"], c.codec);
        EXPECT_GT(std::atof(heard["decoded_seconds"].c_str()), 0.5);
#else
        TempDir temp;
        const std::string file = save(listener.audio(), temp.path() + "again");
        EXPECT_EQ(media::probe(file)["codec_name"], c.codec);
        EXPECT_GT(media::decode(file).size(), 44100u);
#endif
        stream.stop();
        host.stop();
    }
}

#if !defined(_WIN32)
TEST_F(Recovery, AServerGoneLongerThanThreeAttemptsEndsTheStreamWithTheReason) {
    peers::OwnPeer icecast(peers::Kind::Icecast);
    if (icecast.port() == 0) {
        if (peers::required())
            FAIL() << icecast.why();
        GTEST_SKIP() << icecast.why();
    }
    Observer observer;
    observer.window = true;
    observer.auto_reconnect = true;
    // Console lines by the time the stream stopped.
    std::atomic<std::size_t> said{0};
    observer.also = [&](Stream&, int code) {
        if (code == StreamEventListener::EVENT_STOPPED)
            said = host.console_log().lines().size();
    };
    Stream stream(&observer, passthrough(), icecastSettings(icecast.port(), "/gone", "Gone"));
    stream.setReconnectWait(200ms);
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{0}) << stream.status().error_text;
    playTone(60);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STATISTICS));
    icecast.stop();
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STOPPED, 1, 30s))
        << ::testing::PrintToString(withoutStatistics(observer)) << " " << stream.status().error_text;
    EXPECT_EQ(withoutStatistics(observer), (std::vector<int>{0, 5, 2, 2, 2, 1}));
    EXPECT_EQ(attemptCounts(observer), (std::vector<int>{0, 1, 2}));
    EXPECT_NE(stream.status().error_text.find("Connection refused"), std::string::npos) << stream.status().error_text;
    // The console told why before the stream stopped.
    const std::vector<std::string> lines = host.console_log().lines();
    std::size_t given_up = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("velmora: Reconnection given up after 3 attempts: Gone: ", 0) == 0 &&
            lines[i].find("Connection refused") != std::string::npos)
            given_up = std::min(given_up, i);
    EXPECT_LT(given_up, said.load());
    host.stop();
}
#endif

} // namespace
