// A stream's life against the icecast2 peer, with our helper programs as
// the encoder (they run on both builds, under Wine too): the audio reaches
// listeners unchanged, statistics tick, failures become events with their
// reasons, reconnection and stop end cleanly and leave nothing behind.
#include "stream_fixture.h"

#include <Poco/Exception.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/encoder_process.h"
#include "fake_server.h"
#include "http_client.h"
#include "peers.h"
#include "pipe_fixture.h"
#include "shoutcast_servers.h"

using namespace streamtest;
using namespace pipetest;

namespace {

// The helper that copies its input: the "encoded" stream is the PCM itself.
EncoderSettings passthrough(int rate = 44100, int channels = 2) {
    return encoderSettings(helper("passthrough"), "", FORMAT_MP3, rate, channels);
}

// 16-bit stereo PCM of one tone on both channels, as a listener got it (from
// any byte offset): true when some alignment gives identical channels in
// every frame, a peak near `peak` and no step larger than the tone allows,
// so nothing was lost, repeated or mixed up on the way.
::testing::AssertionResult isCleanStereoTone(const std::string& bytes, double frequency, double peak, int rate) {
    const double max_step = 2.0 * 3.14159265358979 * frequency / rate * peak * 1.05 + 2.0;
    for (std::size_t offset = 0; offset < 4; ++offset) {
        const std::size_t frames = (bytes.size() - offset) / 4;
        if (frames < 1000)
            return ::testing::AssertionFailure() << "only " << bytes.size() << " bytes";
        bool same = true;
        double top = 0;
        double worst_step = 0;
        std::int16_t previous = 0;
        for (std::size_t i = 0; i < frames && same; ++i) {
            std::int16_t left, right;
            std::memcpy(&left, bytes.data() + offset + 4 * i, 2);
            std::memcpy(&right, bytes.data() + offset + 4 * i + 2, 2);
            same = left == right;
            top = std::max(top, std::abs(static_cast<double>(left)));
            if (i > 0)
                worst_step = std::max(worst_step, std::abs(static_cast<double>(left) - previous));
            previous = left;
        }
        if (!same)
            continue;
        if (top < peak * 0.98 || top > peak * 1.001)
            return ::testing::AssertionFailure() << "peak " << top << ", expected " << peak;
        if (worst_step > max_step)
            return ::testing::AssertionFailure() << "a step of " << worst_step << " (at most " << max_step << ")";
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the channels differ at every alignment";
}

// Threads of this process once the runtime's own helpers (a sanitizer's
// background thread) have started.
std::set<unsigned long> settledThreads() {
    std::thread([] {}).join();
    return threadIds();
}

// Threads that run now and did not in `before`, as a list ("" for none).
// (A thread of an earlier test may end meanwhile: only new ones count.) A
// listing without threads (this one at least runs) has not looked.
std::string threadsSince(const std::set<unsigned long>& before) {
    const std::set<unsigned long> now = threadIds();
    if (now.empty())
        return "(the thread listing found no threads)";
    std::string added;
    for (unsigned long id : now)
        if (before.count(id) == 0)
            added += std::to_string(id) + " ";
    return added;
}

class StreamLife : public PlayerTest {};

TEST_F(StreamLife, AudioReachesListenersUnchangedAndStopLeavesNothing) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    {
        // Lazily made runtime objects (network, console) are not counted.
        Observer observer;
        Stream warm(&observer, passthrough(), icecastSettings(port, "/warm", "Warm"));
        warm.start(capture.get());
        HttpListener listener(port, "/warm", "velmora-test");
        mountListed(port, "/warm");
        warm.stop();
    }
    const long handles = openHandleCount();
    (void)handles;
    const long children = childCount();
    const std::set<unsigned long> threads = settledThreads();
    {
        Observer observer;
        Stream stream(&observer, passthrough(), icecastSettings(port, "/life", "Life"));
        stream.start(capture.get());
        ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED})
            << stream.status().error_text;
        EXPECT_TRUE(stream.status().running);
        EXPECT_TRUE(eventually([&] { return mountListed(port, "/life"); }));

        playTone(30);
        {
            HttpListener listener(port, "/life", "velmora-test");
            ASSERT_TRUE(listener.waitForAudio(400000));
            EXPECT_TRUE(isCleanStereoTone(listener.audio(), 440.0, 0.5 * 32768, 44100));
        }
        // One statistics event per second of audio, counting up, each with
        // the bytes handed to the server in that second.
        ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STATISTICS, 3));
        std::uint64_t second = 0;
        for (const Observer::Event& e : observer.events()) {
            if (e.code != StreamEventListener::EVENT_STATISTICS)
                continue;
            EXPECT_EQ(e.status.seconds, ++second);
            EXPECT_GT(e.status.bytes_this_second, 0);
            EXPECT_GE(e.status.bytes_sent, e.status.seconds * 44100 * 4 - 44100 * 4);
        }
        // What the server took is what the stream counts as sent.
        host.pause(true);
        EXPECT_TRUE(eventually([&] {
            const StreamStatus s = stream.status();
            return sourceField(port, "/life", "total_bytes_read") ==
                   std::to_string(s.bytes_sent + static_cast<std::uint64_t>(s.bytes_this_second));
        })) << sourceField(port, "/life", "total_bytes_read");

        // A stop that waits for the worker (here still busy with its
        // error) serves the main thread's messages meanwhile: a second stop
        // made there (a second click on Disconnect, the window closing)
        // leaves the parts to the first, which releases them once the
        // worker has ended.
        std::atomic<bool> held{false}, worker_busy{false}, busy_at_stop{false};
        observer.also = [&](Stream&, int code) {
            if (code == StreamEventListener::EVENT_ERROR) {
                worker_busy = true;
                held = true;
                std::this_thread::sleep_for(400ms);
                worker_busy = false;
            }
            if (code == StreamEventListener::EVENT_STOPPED)
                busy_at_stop = busy_at_stop || worker_busy;
        };
        host.pause(false);
        httpGet(port, "/admin/killsource?mount=/life", peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
        ASSERT_TRUE(eventually([&] { return held.load(); }));
        host.post([&] { stream.stop(); });
        const auto before = std::chrono::steady_clock::now();
        stream.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
        EXPECT_EQ(observer.codes().back(), StreamEventListener::EVENT_STOPPED);
        EXPECT_EQ(observer.count(StreamEventListener::EVENT_STOPPED), 1);
        EXPECT_FALSE(busy_at_stop.load());
        EXPECT_FALSE(stream.status().running);
        EXPECT_TRUE(eventually([&] { return !mountListed(port, "/life"); }, 1s));
        host.stop();
    }
    EXPECT_EQ(threadsSince(threads), "");
    EXPECT_EQ(childCount(), children);
#if !defined(_WIN32)
    // (Wine makes runtime objects of its own on the way: the handle count
    // of the Windows build is checked by the pipe tests' restart cycles.)
    EXPECT_EQ(openHandleCount(), handles);
#endif
}

TEST_F(StreamLife, StartsThatCannotWorkFailWithTheirReason) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    const long children = childCount();
    // A SHOUTcast v2 server where another source holds the stream id.
    Shoutcast2Options in_use;
    in_use.refuse_type = 0x004;
    in_use.refusal = "NAK:Stream In Use";
    Shoutcast2Server shoutcast2(in_use);
    const int shoutcast2_port = shoutcast2.port();
    struct Case {
        const char* expected;
        std::function<void(EncoderSettings&, ServerSettings&)> change;
    } cases[] = {
        {"sampling rate 0 Hz", [](EncoderSettings& e, ServerSettings&) { e.sampling_rate = 0; }},
        {"sampling rate -44100 Hz", [](EncoderSettings& e, ServerSettings&) { e.sampling_rate = -44100; }},
        {"1 or 2 channels, not 3", [](EncoderSettings& e, ServerSettings&) { e.channel = 3; }},
        {"1 or 2 channels, not 0", [](EncoderSettings& e, ServerSettings&) { e.channel = 0; }},
        {"Unknown PCM format 7", [](EncoderSettings& e, ServerSettings&) { e.wave_format = 7; }},
        {"Unknown server type 9", [](EncoderSettings&, ServerSettings& s) { s.type = 9; }},
        {"Failed to initialize encoder.",
         [](EncoderSettings& e, ServerSettings&) { e.encoder_file = "velmora-no-such-encoder"; }},
        {"Failed to start the pre-processing program velmora-no-such-program.",
         [](EncoderSettings& e, ServerSettings&) { e.program_file = "velmora-no-such-program"; }},
        // The server's own text, and no reconnection for a stream that
        // never ran, whatever auto-reconnect says.
        {"You need to authenticate", [](EncoderSettings&, ServerSettings& s) { s.password = "wrong"; }},
        {"NAK:Stream In Use",
         [shoutcast2_port](EncoderSettings&, ServerSettings& s) {
             s.type = SERVER_SHOUTCAST2;
             s.port = shoutcast2_port;
             s.username = "dj";
             s.password = "sc2-pass";
             s.stream_id = 1;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EncoderSettings encoder = passthrough();
        ServerSettings server = icecastSettings(port, "/refused", "Refused");
        c.change(encoder, server);
        Observer observer;
        observer.window = true;
        observer.auto_reconnect = true;
        Stream stream(&observer, encoder, server);
        stream.start(capture.get());
        EXPECT_EQ(observer.codes(), (std::vector<int>{StreamEventListener::EVENT_ERROR,
                                                      StreamEventListener::EVENT_STOPPED}));
        EXPECT_NE(stream.status().error_text.find(c.expected), std::string::npos) << stream.status().error_text;
        EXPECT_FALSE(stream.status().running);
        EXPECT_EQ(childCount(), children);
    }
    EXPECT_FALSE(mountListed(port, "/refused"));

    // A stream that never started stops with event 1 and nothing else.
    Observer observer;
    Stream idle(&observer, passthrough(), icecastSettings(port, "/idle", "Idle"));
    idle.stop();
    EXPECT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STOPPED});
    // Its title goes nowhere, and says so.
    EXPECT_THROW(idle.updateMetadata("t"), Poco::ApplicationException);
}

TEST_F(StreamLife, AudioTheChainCannotConvertEndsTheStream) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    // A player without resampler and channel converter delivers 44.1 kHz
    // stereo to a stream set to 22050 Hz mono: streamed, it would play at
    // the wrong speed.
    host.registry().clear(dsp_factory::class_guid);
    Observer observer;
    observer.window = true;
    Stream stream(&observer, passthrough(22050, 1), icecastSettings(port, "/convert", "Convert"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    EXPECT_EQ(consoleCount("velmora: failed to set channel converter"), 1u);
    EXPECT_EQ(consoleCount("velmora: failed to set resampler"), 1u);
    playTone(10);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STOPPED));
    EXPECT_EQ(observer.codes(), (std::vector<int>{0, 5, 1}));
    EXPECT_EQ(observer.events()[1].status.error_text,
              "Application exception: The player delivers 44100 Hz with 2 channels, but the stream is set to 22050 Hz "
              "with 1 channels, and the player has no resampler or channel converter to make it so.");
    EXPECT_EQ(observer.events()[1].status.bytes_sent, 0u);
}

TEST_F(StreamLife, AnEncoderThatEndsStopsTheStreamFromItsWorker) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    const std::set<unsigned long> threads = settledThreads();
    const long children = childCount();
    Observer observer;
    observer.window = true;
    observer.auto_reconnect = false;
    auto stream = std::make_unique<Stream>(
        &observer, encoderSettings(helper("exitnow"), "1 encoder-gave-up", FORMAT_MP3, 44100, 2),
        icecastSettings(port, "/ends", "Ends"));
    stream->start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED});
    playTone(10);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STOPPED));
    // The worker stopped its own stream while it handled its error.
    const auto events = observer.events();
    ASSERT_EQ(observer.codes(), (std::vector<int>{0, 5, 1}));
    EXPECT_EQ(events[1].status.error_text.rfind("Application exception: Encoder process unexpectedly terminated.\n", 0),
              0u);
    EXPECT_NE(events[1].status.error_text.find("exitnow"), std::string::npos) << events[1].status.error_text;
    EXPECT_NE(events[1].status.error_text.find(" ended with exit status 1; its last error output is on the console."),
              std::string::npos)
        << events[1].status.error_text;
    EXPECT_NE(events[1].thread, std::this_thread::get_id());
    EXPECT_EQ(events[2].thread, events[1].thread);
    // The program's last words, under the stream's name.
    EXPECT_EQ(consoleCount("velmora: Ends: "), 1u);
    EXPECT_EQ(consoleCount(": encoder-gave-up"), 1u);
    // Deleted at once, as a window may: the worker's handle is joined, not
    // left running.
    stream.reset();
    host.stop();
    EXPECT_EQ(threadsSince(threads), "");
    EXPECT_EQ(childCount(), children);
    EXPECT_TRUE(eventually([&] { return !mountListed(port, "/ends"); }, 1s));
}

TEST_F(StreamLife, ADroppedSourceReconnectsAndAStopEndsTheWaitsAtOnce) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    const std::set<unsigned long> threads = settledThreads();
    Observer observer;
    observer.window = true;
    observer.auto_reconnect = true;
    Stream stream(&observer, passthrough(), icecastSettings(port, "/again", "Again"));
    stream.setReconnectWait(300ms);
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    playTone(60);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STATISTICS));

    httpGet(port, "/admin/killsource?mount=/again", peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STARTED, 2));
    std::vector<int> codes = observer.codes();
    codes.erase(std::remove(codes.begin(), codes.end(), int(StreamEventListener::EVENT_STATISTICS)), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{0, 5, 2, 0}));
    for (const Observer::Event& e : observer.events()) {
        if (e.code == StreamEventListener::EVENT_RECONNECTING) {
            EXPECT_EQ(e.status.reconnect_count, 0);
        }
    }
    EXPECT_TRUE(eventually([&] { return !stream.status().reconnecting; }));
    {
        HttpListener listener(port, "/again", "velmora-test");
        ASSERT_TRUE(listener.waitForAudio(200000));
        EXPECT_TRUE(isCleanStereoTone(listener.audio(), 440.0, 0.5 * 32768, 44100));
    }

    // Dropped again, now with the full ten-second waits: a stop from the
    // main thread ends them at once.
    stream.setReconnectWait(10s);
    httpGet(port, "/admin/killsource?mount=/again", peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_RECONNECTING, 2));
    const auto before = std::chrono::steady_clock::now();
    stream.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
    EXPECT_EQ(observer.codes().back(), StreamEventListener::EVENT_STOPPED);
    EXPECT_EQ(observer.count(StreamEventListener::EVENT_STOPPED), 1);
    EXPECT_FALSE(stream.status().running);
    EXPECT_FALSE(stream.status().reconnecting);
    host.stop();
    EXPECT_EQ(threadsSince(threads), "");
}

// A server that stopped reading holds a stop about a second at most: the
// send in progress and the rest of the stream get that long, then the
// connection closes, and the cut is no error of the stream.
TEST_F(StreamLife, AStopEndsWithinASecondWhenTheServerStoppedReading) {
    // Takes the source request, then reads nothing more until the test
    // ends.
    std::atomic<bool> ended{false};
    FakeServer server({[&ended](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        while (!ended && !c.stopping())
            std::this_thread::sleep_for(50ms);
        c.waitForClose(Poco::Timespan(10, 0));
    }});
    struct End {
        std::atomic<bool>& ended;
        ~End() { ended = true; }
    } end{ended};
    // 192 kHz float PCM: the system's socket buffers fill within seconds.
    EncoderSettings encoder = passthrough(192000, 2);
    encoder.wave_format = WAVE_FLOAT32;
    Observer observer;
    Stream stream(&observer, encoder, icecastSettings(server.port(), "/stuck", "Stuck"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    playTone(60);
    // The worker is held in a send once a second of audio waits for it.
    ASSERT_TRUE(eventually([&] { return stream.inputBacklog() > 1.0; }, 60s));
    const auto before = std::chrono::steady_clock::now();
    stream.stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    std::vector<int> codes = observer.codes();
    codes.erase(std::remove(codes.begin(), codes.end(), int(StreamEventListener::EVENT_STATISTICS)), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{StreamEventListener::EVENT_STARTED, StreamEventListener::EVENT_STOPPED}));
    EXPECT_FALSE(stream.status().running);
}

// An encoder that does not end when its input closes holds a stop about a
// second at most: it had its time for the tail and is then ended, not
// waited for once more.
TEST_F(StreamLife, AStopEndsWithinASecondWhenTheEncoderDoesNotEnd) {
    FakeServer server({[](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.waitForClose(Poco::Timespan(60, 0));
    }});
    Observer observer;
    Stream stream(&observer, encoderSettings(helper("lingerer"), "", FORMAT_MP3, 44100, 2),
                  icecastSettings(server.port(), "/linger", "Linger"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    playTone(60);
    // The worker has handed the program audio.
    ASSERT_TRUE(eventually([&] { return stream.status().samples_read > 0; }, 60s));
    const auto before = std::chrono::steady_clock::now();
    stream.stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_EQ(observer.codes().back(), StreamEventListener::EVENT_STOPPED);
    EXPECT_FALSE(stream.status().running);
}

// Ends a stream by a stop or by its destruction; true when that took
// about a second at most.
::testing::AssertionResult endsWithinASecond(std::unique_ptr<Stream>& stream, bool destroy) {
    const auto before = std::chrono::steady_clock::now();
    if (destroy)
        stream.reset();
    else
        stream->stop();
    const auto took = std::chrono::steady_clock::now() - before;
    if (took < 2s)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (destroy ? "the destruction" : "the stop") << " took "
                                         << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                         << " ms";
}

// A server that takes the source request and reads whatever comes until
// the stream closes.
FakeServer::Handler readingServer() {
    return [](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.waitForClose(Poco::Timespan(60, 0));
    };
}

// Whatever the programs do, a stop and the destruction of the stream end
// within about a second: while a title restarts an Ogg stream's encoder
// that does not end when its input closes, while an encoder takes no input
// (the pump's stall limit is ten seconds), and while an encoder lingers
// after its input ended.
TEST_F(StreamLife, EndingTheStreamTakesAboutASecondWhateverTheProgramsDo) {
    enum class Hold { RESTART, STALL, LINGER };
    struct Case {
        const char* what;
        const char* program;
        int format;
        Hold hold;
    };
    const Case cases[] = {
        {"a title restart", "latetail", FORMAT_OGG_VORBIS, Hold::RESTART},
        {"an encoder that takes no input", "stall", FORMAT_MP3, Hold::STALL},
        {"an encoder that lingers", "lingerer", FORMAT_MP3, Hold::LINGER},
    };
    for (const Case& c : cases) {
        for (bool destroy : {false, true}) {
            // (A stop with a lingering encoder: see above.)
            if (c.hold == Hold::LINGER && !destroy)
                continue;
            SCOPED_TRACE(std::string(c.what) + (destroy ? ", destroyed" : ", stopped"));
            FakeServer server({readingServer()});
            Observer observer;
            auto stream = std::make_unique<Stream>(&observer, encoderSettings(helper(c.program), "", c.format, 44100, 2),
                                                   icecastSettings(server.port(), "/end", "End"));
            stream->start(capture.get());
            ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED})
                << stream->status().error_text;
            playTone(60);
            const std::size_t ended = consoleCount("input ended");
            if (c.hold == Hold::RESTART) {
                // The old encoder has had its input closed and stays.
                stream->addTitle("Next Artist", "Next");
                ASSERT_TRUE(stream->updateMetadata("Next Artist - Next"));
                ASSERT_TRUE(eventually([&] { return consoleCount("input ended") > ended; }, 60s));
            } else if (c.hold == Hold::STALL) {
                // The worker is held in the pump once a second of audio
                // waits for it.
                ASSERT_TRUE(eventually([&] { return stream->inputBacklog() > 1.0; }, 60s));
            } else {
                ASSERT_TRUE(eventually([&] { return stream->status().samples_read > 0; }, 60s));
            }
            EXPECT_TRUE(endsWithinASecond(stream, destroy));
            host.stop();
        }
    }
}

// A stream that its worker stops after an error (as the window does) ends
// within about a second too, though its encoder stays after its input
// ended.
TEST_F(StreamLife, AStopFromTheWorkerAfterAnErrorEndsWithinASecond) {
    struct Timed : Observer {
        std::chrono::steady_clock::time_point at[6];
        void onStreamEvent(Stream* stream, int code) override {
            at[code] = std::chrono::steady_clock::now();
            Observer::onStreamEvent(stream, code);
        }
    } observer;
    observer.window = true;
    // Without a resampler the stream's 22050 Hz cannot be made: the worker
    // fails at once.
    host.registry().clear(dsp_factory::class_guid);
    FakeServer server({readingServer()});
    Stream stream(&observer, encoderSettings(helper("latetail"), "", FORMAT_MP3, 22050, 2),
                  icecastSettings(server.port(), "/fails", "Fails"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    playTone(10);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STOPPED, 1, 60s));
    ASSERT_EQ(observer.codes(), (std::vector<int>{0, 5, 1}));
    const auto took = observer.at[StreamEventListener::EVENT_STOPPED] - observer.at[StreamEventListener::EVENT_ERROR];
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

// The programs' tail that comes late, from an encoder that stays after
// its input ended, still reaches a server that reads: part of the stop's
// grace is kept for sending it, and no failure is blamed on the server.
// So it does at the stop of a second start: the first stop's end of the
// waits does not hold for the next run.
TEST_F(StreamLife, AStopSendsTheLateTailOfTheEncoderToAServerThatReads) {
    FakeServer server({readingServer(), readingServer()});
    Observer observer;
    Stream stream(&observer, encoderSettings(helper("latetail"), "300 4000 60000", FORMAT_MP3, 44100, 2),
                  icecastSettings(server.port(), "/tail", "Tail"));
    const std::size_t unsent = consoleCount("could not be sent");
    const std::size_t stalled = consoleCount("stopped taking");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "first start" : "second start");
        stream.start(capture.get());
        ASSERT_TRUE(stream.status().running) << stream.status().error_text;
        playTone(60);
        ASSERT_TRUE(eventually([&] { return stream.status().samples_read > 0; }, 60s));
        stream.stop();
        host.stop();
    }
    const std::vector<std::string> received = server.finish();
    ASSERT_EQ(received.size(), 2u);
    const std::string tail = "END OF TAIL";
    for (const std::string& got : received)
        EXPECT_TRUE(got.size() >= tail.size() && got.compare(got.size() - tail.size(), tail.size(), tail) == 0)
            << "the server got " << got.size() << " bytes";
    EXPECT_EQ(consoleCount("could not be sent"), unsent);
    EXPECT_EQ(consoleCount("stopped taking"), stalled);
    std::vector<int> codes = observer.codes();
    codes.erase(std::remove(codes.begin(), codes.end(), int(StreamEventListener::EVENT_STATISTICS)), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{StreamEventListener::EVENT_STARTED, StreamEventListener::EVENT_STOPPED,
                                       StreamEventListener::EVENT_STARTED, StreamEventListener::EVENT_STOPPED}));
}

// A stop asked while a title restarts an Ogg stream's programs, as the old
// encoder is given its time for its tail: the old encoder is ended at the
// stop's cut-off and no new one starts. (A new one would find the cut-off
// passed: the audio of the wait would not go in, or its tail would be cut
// with a line of its own.)
TEST_F(StreamLife, AStopDuringATitleRestartStartsNoNewEncoder) {
    FakeServer server({readingServer()});
    Observer observer;
    Stream stream(&observer, encoderSettings(helper("latetail"), "0 0 60000", FORMAT_OGG_VORBIS, 44100, 2),
                  icecastSettings(server.port(), "/restart", "Restart"));
    stream.start(capture.get());
    ASSERT_TRUE(stream.status().running) << stream.status().error_text;
    playTone(60);
    ASSERT_TRUE(eventually([&] { return stream.status().samples_read > 0; }, 60s));
    const std::size_t ended = consoleCount("input ended");
    const std::size_t cut = consoleCount("did not finish its output within");
    const std::size_t unsent = consoleCount("could not be sent");
    stream.addTitle("Next Artist", "Next");
    ASSERT_TRUE(stream.updateMetadata("Next Artist - Next"));
    // The old encoder has had its input closed and stays.
    ASSERT_TRUE(eventually([&] { return consoleCount("input ended") > ended; }, 60s));
    stream.stop();
    EXPECT_EQ(observer.codes().back(), StreamEventListener::EVENT_STOPPED);
    EXPECT_EQ(consoleCount("did not finish its output within"), cut + 1);
    EXPECT_EQ(consoleCount("could not be sent"), unsent);
    EXPECT_EQ(server.finish().size(), 1u);
}

TEST(ComponentLoad, StartsNoNetworkUnderTheLoaderLock) {
    // The network starts with the first connection, never while the
    // system loads the component.
    EncoderProcess check(helper("netcheck"), "");
    check.open();
    const std::string said =
        runThrough(check, "", 1, [](const std::string& got) { return got.find('\n') != std::string::npos; }, 0, 30000);
    EXPECT_EQ(said.substr(0, said.find_first_of("\r\n")), "not started");
}

} // namespace
