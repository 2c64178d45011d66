// Many starts and stops while audio flows and other threads send titles,
// ask for listeners, record titles and read the status, as the window's
// threads do. Meant for the ThreadSanitizer build, where any unguarded
// access shows; everywhere it must end with nothing left running. The
// second stream has a real encoder: oggenc, whose stream restarts its
// programs for every title; under Wine, which starts Windows programs only,
// the cross-built lame.exe.
#include "stream_fixture.h"

#include <Poco/Exception.h>

#include <atomic>
#include <future>
#include <random>

#include "engine/output_gain.h"
#include "peers.h"
#include "pipe_fixture.h"

#if !defined(_WIN32)
#include "media.h"
#endif

using namespace streamtest;
using namespace pipetest;

namespace {

class Stress : public PlayerTest {
protected:
    ~Stress() override { setOutputGain(1.0f); }
};

TEST_F(Stress, StartsStopsTitlesAndRequestsFromSeveralThreads) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
#if defined(_WIN32)
    REQUIRE_FILE(lameExe());
    const EncoderSettings second_encoder = encoderSettings(
        "\"" + lameExe() + "\"", "-r -s 22.05 --bitwidth 16 --signed --little-endian -m m -b 64 --flush --quiet - -",
        FORMAT_MP3, 22050, 1);
    const char* const second_mount = "/stress.lame.mp3";
#else
    REQUIRE_PROGRAM("oggenc");
    const EncoderSettings second_encoder =
        encoderSettings("oggenc",
                        "-Q -r -B 16 -C 1 -R 22050 --raw-endianness 0 --managed -b 64 -m 64 -M 64 "
                        R"(-a "%artist%" -t "%title%" -o - -)",
                        FORMAT_OGG_VORBIS, 22050, 1);
    const char* const second_mount = "/stress.ogg";
#endif
    std::thread([] {}).join();
    const long threads = threadCount();
    const long children = childCount();
    {
        Observer mp3_events, second_events;
        Stream mp3(&mp3_events, encoderSettings(helper("passthrough"), "", FORMAT_MP3, 44100, 2),
                   icecastSettings(port, "/stress.mp3", "Stress MP3"));
        Stream second(&second_events, second_encoder, icecastSettings(port, second_mount, "Stress Second"));
        Stream* const streams[] = {&mp3, &second};
        playTone(600);

        std::atomic<bool> done{false};
        std::vector<std::thread> helpers;
        // The window's worker: titles and listener lists.
        helpers.emplace_back([&] {
            for (int i = 0; !done; ++i) {
                for (Stream* s : streams) {
                    try {
                        s->updateMetadata("title " + std::to_string(i));
                        if (i % 5 == 0)
                            s->listClients();
                    } catch (const Poco::Exception&) {
                        // A stream that stops meanwhile answers with an error.
                    }
                }
                std::this_thread::sleep_for(20ms);
            }
        });
        // The play callbacks and the meter: records, status, gain.
        helpers.emplace_back([&] {
            for (int i = 0; !done; ++i) {
                for (Stream* s : streams) {
                    s->addTitle("artist " + std::to_string(i), "title " + std::to_string(i));
                    (void)s->titleRecords().size();
                    (void)s->status().bytes_sent;
                    s->setAdminCredentials("admin", "secret");
                }
                setOutputGain(i % 2 ? 0.5f : 1.0f);
                std::this_thread::sleep_for(5ms);
            }
        });

        std::mt19937 random(7);
        for (int cycle = 0; cycle < 30; ++cycle) {
            mp3.start(capture.get());
            second.start(capture.get());
            std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 300));
            if (cycle % 2 == 0) {
                mp3.stop();
                second.stop();
            } else {
                // Stopped from another thread, at the same time.
                auto other = std::async(std::launch::async, [&] { second.stop(); });
                mp3.stop();
                other.get();
            }
        }
        done = true;
        for (std::thread& t : helpers)
            t.join();
        host.stop();

        for (const Observer* events : {&mp3_events, &second_events}) {
            EXPECT_EQ(events->count(StreamEventListener::EVENT_STOPPED), 30);
            // A start may meet the server still closing the last source;
            // any other failure is a fault.
            EXPECT_GE(events->count(StreamEventListener::EVENT_STARTED), 15);
            for (const Observer::Event& e : events->events()) {
                if (e.code == StreamEventListener::EVENT_ERROR) {
                    EXPECT_NE(e.status.error_text.find("Mountpoint in use"), std::string::npos) << e.status.error_text;
                }
            }
        }
        EXPECT_FALSE(mp3.status().running || second.status().running);
    }
    EXPECT_EQ(threadCount(), threads);
    EXPECT_EQ(childCount(), children);
}

} // namespace
