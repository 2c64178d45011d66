// The worker takes the captured audio in pieces of a quarter second. What
// is less than a piece still reaches the server: when the player delivers
// no more (the end of its list), when a new title restarts the programs
// (before the new program's first byte), and when the stream stops; and a
// player that delivers very small chunks loses nothing. The pass-through
// helper is the encoder, so the server gets the PCM itself and every
// sample can be found in its place.
#include "stream_fixture.h"

#include <cstdint>
#include <cstring>

#include "audio_chunk_impl.h"
#include "fake_server.h"
#include "pipe_fixture.h"

using namespace streamtest;
using namespace pipetest;

namespace {

// What the server got, while the stream runs.
struct Received {
    std::mutex mutex;
    std::string bytes;
    std::string get() {
        std::lock_guard<std::mutex> lock(mutex);
        return bytes;
    }
};

// A source connection that takes the login and keeps what comes.
FakeServer::Handler receiveInto(std::shared_ptr<Received> received) {
    return [received](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.0 200 OK\r\n\r\n");
        while (!c.closed() && !c.stopping()) {
            const std::string got = c.readAvailable();
            std::lock_guard<std::mutex> lock(received->mutex);
            received->bytes += got;
        }
    };
}

// Frame k holds the value k mod 16384 - 8192 on both channels, exact in
// 16 bits.
std::int16_t frameValue(std::uint64_t k) { return static_cast<std::int16_t>(static_cast<int>(k % 16384) - 8192); }

// Delivers `frames` frames from frame `first` on, in chunks of 1 to 7
// frames (or of `chunk_frames`), as the player's capture thread would.
void deliver(psc_callback& capture, std::uint64_t first, std::uint64_t frames, std::uint32_t rate = 44100,
             std::uint64_t chunk_frames = 0) {
    audio_chunk_impl chunk;
    std::vector<float> samples;
    for (std::uint64_t at = 0; at < frames;) {
        const std::uint64_t size =
            std::min<std::uint64_t>(chunk_frames != 0 ? chunk_frames : 1 + (first + at) % 7, frames - at);
        samples.resize(2 * size);
        for (std::uint64_t i = 0; i < size; ++i)
            samples[2 * i] = samples[2 * i + 1] = frameValue(first + at + i) / 32768.0f;
        chunk.assign_samples(samples.data(), static_cast<zof::t_size>(size), 2, rate,
                             audio_chunk::channel_config_stereo);
        capture.chunk_captured(chunk);
        at += size;
    }
}

// The first frame of `pcm` that is not frame `first + i`, or the frame
// count when all are; -1 when the bytes are no whole frames.
long long firstWrongFrame(const std::string& pcm, std::uint64_t first) {
    if (pcm.size() % 4 != 0)
        return -1;
    for (std::size_t i = 0; i < pcm.size() / 4; ++i) {
        std::int16_t left, right;
        std::memcpy(&left, pcm.data() + 4 * i, 2);
        std::memcpy(&right, pcm.data() + 4 * i + 2, 2);
        if (left != frameValue(first + i) || right != left)
            return static_cast<long long>(i);
    }
    return static_cast<long long>(pcm.size() / 4);
}

class Pieces : public PlayerTest {};

TEST_F(Pieces, LessThanAPieceReachesTheServerAtTheEndOfTheListAtANewTitleAndAtStop) {
    auto received = std::make_shared<Received>();
    FakeServer server({receiveInto(received)});
    // An Ogg format, so that a title restarts the program; the WAV header
    // then marks where the new program begins.
    EncoderSettings encoder = encoderSettings(helper("passthrough"), "", FORMAT_OGG_VORBIS, 44100, 2);
    encoder.wave_header = true;
    ServerSettings settings = icecastSettings(server.port(), "/pieces", "Pieces");
    Observer observer;
    Stream stream(&observer, encoder, settings);
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;
    const std::size_t header = 44;

    // Two pieces and a part of one, then a title while the part waits.
    const std::uint64_t first = 26000;
    const std::uint64_t piece = 44100 / 4;
    deliver(*capture, 0, first);
    ASSERT_TRUE(eventually([&] { return stream.status().samples_read >= 2 * 2 * piece; }, 20s));
    stream.addTitle("Artist", "Title");
    stream.updateMetadata("Artist - Title");
    ASSERT_TRUE(eventually([&] { return received->get().size() >= 2 * header + 4 * first; }, 20s))
        << received->get().size();
    {
        const std::string bytes = received->get();
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        // The old program had every frame captured before the title.
        EXPECT_EQ(bytes.substr(header + 4 * first, 4), "RIFF");
        EXPECT_EQ(firstWrongFrame(bytes.substr(header, 4 * first), 0), static_cast<long long>(first));
    }

    // A player faster than real time (half a minute of audio as fast as
    // the stream passes it on: the server at most a second behind), then
    // less than a piece, and then the player delivers nothing more: it goes
    // out while the stream runs on. (How soon the rounds after a burst come
    // is the round pace's own test.)
    const std::uint64_t burst = 30 * 44100;
    for (std::uint64_t at = 0; at < burst; at += piece) {
        ASSERT_TRUE(eventually([&] { return received->get().size() + 4 * 44100 >= 2 * header + 4 * (first + at); },
                               60s))
            << received->get().size();
        deliver(*capture, first + at, std::min(piece, burst - at));
    }
    const std::uint64_t second = burst + 3000;
    deliver(*capture, first + burst, second - burst);
    ASSERT_TRUE(eventually([&] { return received->get().size() == 2 * header + 4 * (first + second); }, 30s))
        << received->get().size();
    EXPECT_TRUE(stream.status().running);

    // Less than a piece, and the stream stops at once.
    const std::uint64_t third = 2000;
    deliver(*capture, first + second, third);
    stream.stop();
    const std::vector<std::string> connections = server.finish();
    ASSERT_EQ(connections.size(), 1u);
    const std::string bytes = received->get();
    ASSERT_EQ(bytes.size(), 2 * header + 4 * (first + second + third));
    EXPECT_EQ(firstWrongFrame(bytes.substr(2 * header + 4 * first), first),
              static_cast<long long>(second + third));
    EXPECT_EQ(observer.codes().back(), StreamEventListener::EVENT_STOPPED);
    EXPECT_EQ(stream.status().samples_read, 2 * (first + second + third));
}

// Audio in the stream's own format goes past the player's resampler; a
// track at another rate goes through it, and what the resampler still
// holds when the stream's own rate returns comes out before the next
// chunk.
TEST_F(Pieces, AResampledTrackBetweenTwoInTheStreamsRateKeepsItsTailAndItsPlace) {
    auto received = std::make_shared<Received>();
    FakeServer server({receiveInto(received)});
    Observer observer;
    Stream stream(&observer, encoderSettings(helper("passthrough"), "", FORMAT_MP3, 44100, 2),
                  icecastSettings(server.port(), "/resampled", "Resampled"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{StreamEventListener::EVENT_STARTED}) << stream.status().error_text;

    const std::uint64_t before = 20000, resampled = 9600, after = 15000;
    const std::uint64_t converted = resampled * 44100 / 48000;
    deliver(*capture, 0, before, 44100, 882);
    deliver(*capture, before, resampled, 48000, 960);
    deliver(*capture, 0, after, 44100, 882);
    ASSERT_TRUE(eventually([&] { return received->get().size() >= 4 * (before + converted + after - 2); }, 20s))
        << received->get().size();
    stream.stop();
    server.finish();
    const std::string bytes = received->get();
    ASSERT_EQ(bytes.size() % 4, 0u);
    const std::uint64_t frames = bytes.size() / 4;
    // All of the resampler's output, give or take its rounding.
    EXPECT_NEAR(static_cast<double>(frames), static_cast<double>(before + converted + after), 2.0);
    EXPECT_EQ(firstWrongFrame(bytes.substr(0, 4 * before), 0), static_cast<long long>(before));
    EXPECT_EQ(firstWrongFrame(bytes.substr(bytes.size() - 4 * after), 0), static_cast<long long>(after));
}

} // namespace
