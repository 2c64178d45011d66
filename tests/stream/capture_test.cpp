// The capture callback: registration with the player, the fan-out of each
// chunk to the listeners in order, and a listener that throws.
#include "stream_fixture.h"

#include <stdexcept>

#include "host_chunk.h"

using namespace streamtest;

namespace {

struct Recorder : psc_listener {
    Recorder(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
    void onChunk(const audio_chunk& chunk) override {
        if (failing)
            throw std::runtime_error("DSP failure in " + name);
        log.push_back(name + ":" + std::to_string(chunk.frame_total()));
    }
    std::vector<std::string>& log;
    std::string name;
    bool failing = false;
};

class Capture : public PlayerTest {
protected:
    void deliver(zof::t_size frames) {
        std::vector<float> samples(frames * 2, 0.25f);
        kestrune_host::host_chunk chunk;
        chunk.assign_samples(samples.data(), frames, 2, 44100, audio_chunk::channel_config_stereo);
        host.capture().deliver(chunk);
    }
};

TEST_F(Capture, EveryListenerGetsEveryChunkInOrderWhateverAnotherThrows) {
    std::vector<std::string> log;
    Recorder first(log, "first"), broken(log, "broken"), last(log, "last");
    EXPECT_EQ(host.capture().registered(), 1u);
    deliver(10); // nobody listens yet
    EXPECT_TRUE(log.empty());

    capture->addListener(&first);
    capture->addListener(&broken);
    capture->addListener(&last);
    Recorder stranger(log, "stranger");
    capture->removeListener(&stranger); // never added: nothing changes
    broken.failing = true;
    for (zof::t_size frames = 1; frames <= 5; ++frames)
        deliver(frames);
    broken.failing = false;
    deliver(6);
    EXPECT_EQ(log, (std::vector<std::string>{"first:1", "last:1", "first:2", "last:2", "first:3", "last:3", "first:4",
                                             "last:4", "first:5", "last:5", "first:6", "broken:6", "last:6"}));
    // One line when the failures begin, one when they end: not one per chunk.
    EXPECT_EQ(consoleCount("a stream failed to take captured audio: DSP failure in broken"), 1u);
    EXPECT_EQ(consoleCount("takes captured audio again after 5 failed chunks"), 1u);
    EXPECT_EQ(consoleCount("capture callback threw"), 0u); // nothing reached the player

    // The same listener twice gets each chunk twice; removing takes the
    // first occurrence only.
    log.clear();
    capture->removeListener(&broken);
    capture->addListener(&first);
    deliver(7);
    capture->removeListener(&first);
    deliver(8);
    EXPECT_EQ(log, (std::vector<std::string>{"first:7", "last:7", "first:7", "last:8", "first:8"}));

    // Deleted: unregistered from the player before its list goes.
    capture.reset();
    EXPECT_EQ(host.capture().registered(), 0u);
    log.clear();
    deliver(9);
    EXPECT_TRUE(log.empty());
}

} // namespace
