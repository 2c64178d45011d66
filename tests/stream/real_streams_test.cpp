// Streams through the real encoders to the icecast2 peer (Linux build: Wine
// cannot start Linux programs), heard by listeners on the mounts and
// decoded with ffmpeg: every format with its own rate and channels, the
// channels and the output gain, titles, the WAV header through a
// pre-processing program, and the faults that end a stream.
#if !defined(_WIN32)
#include "stream_fixture.h"

#include <Poco/Exception.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/output_gain.h"
#include "fake_server.h"
#include "http_client.h"
#include "media.h"
#include "peers.h"
#include "pipe_fixture.h"
#include "server/ss_proxy.h"

using namespace streamtest;
using namespace media;
using namespace pipetest;

namespace {

const char* const kLame = "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -";
// Managed bit rates: a pure tone would make so little Vorbis data that the
// encoder's and the server's buffers held seconds of it back.
const char* const kOggenc44 =
    R"(-Q -r -B 16 -C 2 -R 44100 --raw-endianness 0 --managed -b 128 -m 128 -M 128 -a "%artist%" -t "%title%" -o - -)";

// Left 440 Hz, right 880 Hz.
kestrune_host::track_spec twoTones(const std::string& artist, const std::string& title, double seconds) {
    return kestrune_host::signal_track(artist, title, seconds, std::vector<double>{440.0, 880.0});
}

std::string save(const std::string& bytes, const std::string& file) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

// Ogg pages as a listener got them (from the first page boundary on).
struct OggPage {
    std::uint8_t flags;
    std::int64_t granule;
    std::uint32_t serial;
    std::size_t offset;
    std::size_t size;
};

std::vector<OggPage> oggPages(const std::string& bytes) {
    std::vector<OggPage> pages;
    std::size_t at = bytes.find("OggS");
    while (at != std::string::npos && at + 27 <= bytes.size()) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
        const std::size_t segments = p[26];
        if (at + 27 + segments > bytes.size())
            break;
        std::size_t size = 27 + segments;
        for (std::size_t i = 0; i < segments; ++i)
            size += p[27 + i];
        if (at + size > bytes.size())
            break;
        OggPage page;
        page.flags = p[5];
        std::memcpy(&page.granule, p + 6, 8);
        std::memcpy(&page.serial, p + 14, 4);
        page.offset = at;
        page.size = size;
        pages.push_back(page);
        at += size;
    }
    return pages;
}

// What the stream counts as handed to the server.
std::uint64_t bytesSent(const Stream& stream) {
    const StreamStatus status = stream.status();
    return status.bytes_sent + static_cast<std::uint64_t>(status.bytes_this_second);
}

// Once the audio has ended: the server has read every byte the stream
// counts as sent. The server's count lags by seconds, and the server drops
// a mount some seconds after its data stopped: this is asked at once.
::testing::AssertionResult serverTookAll(int port, const std::string& mount, const Stream& stream) {
    std::string read;
    std::string last_read;
    std::uint64_t sent = 0;
    const bool ended = eventually(
        [&] {
            read = sourceField(port, mount, "total_bytes_read");
            sent = bytesSent(stream);
            if (!read.empty())
                last_read = read;
            return read.empty() || read == std::to_string(sent);
        },
        20s);
    if (ended && !read.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << mount << ": the server read " << (last_read.empty() ? "nothing" : last_read)
                                         << (read.empty() ? " and dropped the mount" : "") << ", the stream sent "
                                         << sent;
}

// Once the server has all of the stream: the listener has what the server
// passed on, i.e. its count stopped growing while the server had nothing new.
bool listenerCaughtUp(const HttpListener& listener) {
    return eventually([&] {
        const std::size_t before = listener.audio().size();
        std::this_thread::sleep_for(200ms);
        return before != 0 && listener.audio().size() == before;
    });
}

class RealStreams : public PlayerTest {
protected:
    ~RealStreams() override { setOutputGain(1.0f); }
};

TEST_F(RealStreams, EveryFormatReachesItsListenersWithItsRateChannelsAndLevel) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    for (const char* program : {"lame", "oggenc", "flac", "opusenc", "ffmpeg", "ffprobe"})
        REQUIRE_PROGRAM(program);
    struct Case {
        const char* mount;
        EncoderSettings encoder;
        const char* codec;
        int rate;
        int channels;
    };
    std::vector<Case> cases = {
        {"/every.mp3", encoderSettings("lame", kLame, FORMAT_MP3, 44100, 2), "mp3", 44100, 2},
        // Converted by the player's DSPs, not relabelled: the tones keep
        // their pitch at the new rate.
        {"/every-mono.ogg",
         encoderSettings("oggenc",
                         "-Q -r -B 16 -C 1 -R 22050 --raw-endianness 0 --managed -b 64 -m 64 -M 64 -o - -",
                         FORMAT_OGG_VORBIS, 22050, 1),
         "vorbis", 22050, 1},
        {"/every.flac.ogg",
         encoderSettings("flac",
                         "--silent --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 "
                         R"(--sample-rate=44100 --ogg -T "ARTIST=%artist%" -T "TITLE=%title%" -c -)",
                         FORMAT_OGG_FLAC, 44100, 2),
         "flac", 44100, 2},
        {"/every.opus",
         encoderSettings("opusenc",
                         R"(--quiet --max-delay 100 --raw --raw-bits 16 --raw-rate 48000 --raw-chan 2 --artist "%artist%" --title "%title%" - -)",
                         FORMAT_OGG_OPUS, 48000, 2),
         "opus", 48000, 2},
        {"/every.aac",
         encoderSettings("ffmpeg", "-hide_banner -loglevel error -f s16le -ar 44100 -ac 2 -i - -c:a aac -b:a 128k -f adts -",
                         FORMAT_LC_AAC, 44100, 2),
         "aac", 44100, 2},
    };
    std::vector<std::unique_ptr<Observer>> observers;
    std::vector<std::unique_ptr<Stream>> streams;
    std::vector<std::unique_ptr<HttpListener>> listeners;
    for (const Case& c : cases) {
        observers.emplace_back(new Observer);
        streams.emplace_back(new Stream(observers.back().get(), c.encoder, icecastSettings(port, c.mount, c.mount)));
        streams.back()->start(capture.get());
        ASSERT_EQ(observers.back()->codes(), std::vector<int>{0}) << c.mount << ": " << streams.back()->status().error_text;
    }
    for (const Case& c : cases) {
        ASSERT_TRUE(eventually([&] { return mountListed(port, c.mount); })) << c.mount;
        listeners.emplace_back(new HttpListener(port, c.mount, "velmora-test"));
    }
    host.play({twoTones("Two", "Tones", 10)});
    // Full level for five seconds of audio, then the output gain at one half.
    ASSERT_TRUE(eventually([&] { return streams[0]->status().samples_read >= 5u * 44100 * 2; }, 20s));
    setOutputGain(0.5f);
    ASSERT_TRUE(eventually([&] { return host.finished(); }, 20s));
    // The server took what each stream counts as sent, and passed it on.
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_TRUE(serverTookAll(port, cases[i].mount, *streams[i]));
    for (std::size_t i = 0; i < cases.size(); ++i)
        ASSERT_TRUE(listenerCaughtUp(*listeners[i])) << cases[i].mount;

    TempDir temp;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.mount);
        const std::string file = save(listeners[i]->audio(), temp.path() + "heard" + std::to_string(i));
        auto fields = probe(file);
        EXPECT_EQ(fields["codec_name"], c.codec);
        EXPECT_EQ(fields["sample_rate"], std::to_string(c.rate));
        EXPECT_EQ(fields["channels"], std::to_string(c.channels));
        const std::vector<float> audio = decode(file);
        const double seconds = static_cast<double>(audio.size()) / c.channels / c.rate;
        ASSERT_GT(seconds, 6.0);
        for (int ch = 0; ch < c.channels; ++ch) {
            const std::vector<float> early = channel(audio, c.channels, ch, c.rate, 0.5, 1.5);
            const std::vector<float> late = channel(audio, c.channels, ch, c.rate, seconds - 2.0, seconds - 0.5);
            // Output gain 0.5 is 6 dB down.
            EXPECT_NEAR(levelDb(early) - levelDb(late), 6.02, 0.5) << "channel " << ch;
            const double p220 = tonePower(early, 220, c.rate);
            const double p440 = tonePower(early, 440, c.rate);
            const double p880 = tonePower(early, 880, c.rate);
            if (c.channels == 2 && ch == 0) {
                EXPECT_GT(p440, 100 * p880);
            } else if (c.channels == 2) {
                EXPECT_GT(p880, 100 * p440);
            } else {
                EXPECT_GT(p440, 100 * p220);
                EXPECT_GT(p880, 100 * p220);
            }
        }
    }

    // Every stream took every chunk of the capture: those at the capture's
    // own format counted the same samples, all ten seconds.
    EXPECT_EQ(streams[0]->status().samples_read, 10u * 44100 * 2);
    EXPECT_EQ(streams[2]->status().samples_read, 10u * 44100 * 2);
    // One statistics event per second of audio.
    EXPECT_EQ(observers[0]->count(StreamEventListener::EVENT_STATISTICS), 10);
    listeners.clear();
    for (auto& stream : streams)
        stream->stop();
    EXPECT_EQ(childrenRunning("lame").size() + childrenRunning("oggenc").size(), 0u);
}

TEST_F(RealStreams, TitlesReachTheServerAndAnOggTitleBeginsANewChainWithoutAGap) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    for (const char* program : {"lame", "oggenc", "ffprobe"})
        REQUIRE_PROGRAM(program);
    Observer mp3_events, ogg_events;
    Stream mp3(&mp3_events, encoderSettings("lame", kLame, FORMAT_MP3, 44100, 2),
               icecastSettings(port, "/titles.mp3", "Titles MP3"));
    Stream ogg(&ogg_events, encoderSettings("oggenc", kOggenc44, FORMAT_OGG_VORBIS, 44100, 2),
               icecastSettings(port, "/titles.ogg", "Titles Ogg"));
    host.play({kestrune_host::signal_track("First Artist", "First Title", 8, 440.0, 44100, 2,
                                           kestrune_host::waveform::noise, 0.5f)});
    ASSERT_TRUE(host.pump_until([&] { return host.is_playing(); }, 10s));
    mp3.start(capture.get());
    ogg.start(capture.get());
    ASSERT_EQ(ogg_events.codes(), std::vector<int>{0}) << ogg.status().error_text;
    ASSERT_TRUE(eventually([&] { return mountListed(port, "/titles.ogg"); }));
    HttpListener listener(port, "/titles.ogg", "velmora-test");

    // The server keeps MP3 titles in Latin-1 and writes other characters
    // as numeric references.
    const std::string title = "Caf\xc3\xa9 \xe2\x80\x93 \xc3\x9cn\xc3\xaf &=#+ \xe6\x97\xa5\xe6\x9c\xac";
    const std::string shown = "Caf\xc3\xa9 &#8211; \xc3\x9cn\xc3\xaf &=#+ &#26085;&#26412;";
    // The server takes titles for a mount that carries audio.
    ASSERT_TRUE(eventually([&] { return sourceField(port, "/titles.mp3", "total_bytes_read") != "0"; }));
    mp3.updateMetadata(title);
    EXPECT_TRUE(eventually([&] { return sourceField(port, "/titles.mp3", "title") == shown; }))
        << sourceField(port, "/titles.mp3", "title");

    ASSERT_TRUE(eventually([&] { return ogg.status().samples_read > 2 * 44100 * 2; }));
    const std::string artist2 = "Zweite K\xc3\xbcnstlerin";
    const std::string title2 = "Titel & \"Mehr\"";
    ogg.addTitle(artist2, title2);
    // Once, as the window's worker does: the worker carries it out even
    // when it is busy at this moment.
    ogg.updateMetadata("ignored: the worker takes the last record");

    // Once the audio has ended and the worker has taken all of it, a third
    // title closes the second chain, so both chains are complete.
    ASSERT_TRUE(eventually([&] { return host.finished(); }, 10s));
    std::uint64_t samples = 0;
    std::uint64_t idle = 0;
    ASSERT_TRUE(eventually([&] {
        const std::uint64_t before = ogg.status().samples_read;
        const std::uint64_t sent = bytesSent(ogg);
        std::this_thread::sleep_for(300ms);
        samples = ogg.status().samples_read;
        idle = bytesSent(ogg);
        return samples == before && idle == sent;
    }));
    ogg.addTitle("Third", "Third");
    ogg.updateMetadata("");
    // Audio captured before the worker takes the title still belongs to
    // the old chain: the third track comes once the title was taken, which
    // sends the old chain's end.
    ASSERT_TRUE(eventually([&] { return bytesSent(ogg) > idle; }));
    // The server passes a chain's last page on when the next one comes.
    host.play({kestrune_host::signal_track("Third", "Third", 3, 440.0, 44100, 2, kestrune_host::waveform::noise, 0.5f)});
    auto chains = [&] {
        // Per chain: where it begins in the heard bytes, whether it begins
        // with its headers, and the sample count of its last page when it
        // ended (-1 while it goes on).
        struct Chain {
            std::uint32_t serial;
            std::size_t start;
            bool headers;
            std::int64_t end;
        };
        std::vector<Chain> out;
        for (const OggPage& page : oggPages(listener.audio())) {
            if (out.empty() || out.back().serial != page.serial)
                out.push_back(Chain{page.serial, page.offset, (page.flags & 0x02) != 0, -1});
            if (page.flags & 0x04)
                out.back().end = page.granule;
        }
        return out;
    };
    ASSERT_TRUE(eventually([&] { return chains().size() == 3 && chains()[1].end >= 0; }));
    const auto heard = chains();
    EXPECT_TRUE(heard[1].headers && heard[2].headers);
    ASSERT_GE(heard[0].end, 0) << "the first chain never ended";
    // Every sample the stream took is in the two chains: the old encoder's
    // tail went out whole before the new headers, and nothing was lost
    // between them.
    EXPECT_EQ(static_cast<std::uint64_t>(heard[0].end + heard[1].end), samples / 2);

    TempDir temp;
    const std::string bytes = listener.audio();
    auto fields = probe(save(bytes.substr(heard[1].start, heard[2].start - heard[1].start), temp.path() + "second.ogg"));
    EXPECT_EQ(fields["codec_name"], "vorbis");
    EXPECT_EQ(fields["tag:artist"], artist2);
    EXPECT_EQ(fields["tag:title"], title2);
    mp3.stop();
    ogg.stop();
}

TEST_F(RealStreams, TheWavHeaderPassesThePreprocessingProgramToTheEncoder) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    for (const char* program : {"lame", "ffmpeg", "ffprobe"})
        REQUIRE_PROGRAM(program);
    // 22050 Hz mono with a WAV header, through ffmpeg (which needs the
    // header to read its input) to 16 kHz, and into lame, which takes the
    // rate from the header ffmpeg writes.
    EncoderSettings encoder = encoderSettings("lame", "--quiet --flush -b 64 - -", FORMAT_MP3, 22050, 1);
    encoder.wave_header = true;
    encoder.program_file = "ffmpeg";
    encoder.program_params = "-v error -probesize 32 -analyzeduration 0 -f wav -i - -ar 16000 -flush_packets 1 -f wav -";
    Observer observer;
    Stream stream(&observer, encoder, icecastSettings(port, "/header.mp3", "Header"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{0}) << stream.status().error_text;
    ASSERT_TRUE(eventually([&] { return mountListed(port, "/header.mp3"); }));
    HttpListener listener(port, "/header.mp3", "velmora-test");
    playTone(6, 440.0);
    ASSERT_TRUE(eventually([&] { return host.finished(); }, 20s));
    EXPECT_TRUE(serverTookAll(port, "/header.mp3", stream));
    ASSERT_TRUE(listenerCaughtUp(listener));
    TempDir temp;
    const std::string file = save(listener.audio(), temp.path() + "header.mp3");
    auto fields = probe(file);
    EXPECT_EQ(fields["codec_name"], "mp3");
    EXPECT_EQ(fields["sample_rate"], "16000");
    EXPECT_EQ(fields["channels"], "1");
    const std::vector<float> audio = channel(decode(file), 1, 0, 16000, 0.5, 2.5);
    EXPECT_GT(tonePower(audio, 440, 16000), 100 * tonePower(audio, 220, 16000));
    EXPECT_GT(tonePower(audio, 440, 16000), 100 * tonePower(audio, 880, 16000));
    stream.stop();
    EXPECT_EQ(childrenRunning("ffmpeg").size(), 0u);
}

TEST_F(RealStreams, AKilledEncoderEndsTheStream) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    REQUIRE_PROGRAM("lame");
    Observer observer;
    observer.window = true;
    Stream stream(&observer, encoderSettings("lame", kLame, FORMAT_MP3, 44100, 2),
                  icecastSettings(port, "/killed.mp3", "Killed"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{0}) << stream.status().error_text;
    playTone(30);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STATISTICS));
    const std::vector<unsigned long> lame = childrenRunning("lame");
    ASSERT_EQ(lame.size(), 1u);
    kill(static_cast<pid_t>(lame[0]), SIGKILL);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STOPPED));
    std::vector<int> codes = observer.codes();
    codes.erase(std::remove(codes.begin(), codes.end(), int(StreamEventListener::EVENT_STATISTICS)), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{0, 5, 1}));
    EXPECT_EQ(stream.status().error_text, "Application exception: Encoder process unexpectedly terminated.\nlame was "
                                          "ended by signal 9 (Killed); it wrote no error output.");
}

TEST_F(RealStreams, AServerThatStopsReadingEndsTheStreamByTheSendTimeOut) {
    // Takes the source request, then reads nothing more until the stream
    // has ended; then takes what the system still holds.
    std::atomic<bool> ended{false};
    FakeServer server({[&ended](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        for (int i = 0; i < 600 && !ended; ++i)
            std::this_thread::sleep_for(100ms);
        c.waitForClose(Poco::Timespan(10, 0));
    }});
    struct Release {
        std::atomic<bool>& ended;
        Poco::Timespan saved = SSProxy::sendLimit();
        ~Release() {
            ended = true;
            SSProxy::setSendLimit(saved);
        }
    } release{ended};
    // A batch may take a second here, the send time-out otherwise.
    SSProxy::setSendLimit(Poco::Timespan(1, 0));
    // 192 kHz float PCM: the system's socket buffers fill within seconds.
    EncoderSettings encoder = encoderSettings(helper("passthrough"), "", FORMAT_MP3, 192000, 2);
    encoder.wave_format = WAVE_FLOAT32;
    Observer observer;
    observer.window = true;
    Stream stream(&observer, encoder, icecastSettings(server.port(), "/stuck", "Stuck"));
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{0}) << stream.status().error_text;
    playTone(60);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STOPPED, 1, 30s));
    host.stop();
    ended = true;
    StreamStatus failed;
    for (const Observer::Event& e : observer.events())
        if (e.code == StreamEventListener::EVENT_ERROR)
            failed = e.status;
    EXPECT_EQ(failed.error_text, "Application exception: The server stopped taking the stream.");
    // What the socket took before the end counts as sent, and nothing
    // followed the cut batch.
    const std::string received = server.finish().at(0);
    EXPECT_EQ(received.size() - received.find("\r\n\r\n") - 4,
              failed.bytes_sent + static_cast<std::uint64_t>(failed.bytes_this_second));
}

TEST_F(RealStreams, AnOggStreamReconnectsWithItsHeaders) {
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    for (const char* program : {"oggenc", "ffprobe"})
        REQUIRE_PROGRAM(program);
    Observer observer;
    observer.window = true;
    observer.auto_reconnect = true;
    Stream stream(&observer, encoderSettings("oggenc", kOggenc44, FORMAT_OGG_VORBIS, 44100, 2),
                  icecastSettings(port, "/again.ogg", "Again"));
    stream.setReconnectWait(300ms);
    stream.start(capture.get());
    ASSERT_EQ(observer.codes(), std::vector<int>{0}) << stream.status().error_text;
    playTone(30);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STATISTICS));
    httpGet(port, "/admin/killsource?mount=/again.ogg", peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
    ASSERT_TRUE(observer.waitFor(StreamEventListener::EVENT_STARTED, 2));
    std::vector<int> codes = observer.codes();
    codes.erase(std::remove(codes.begin(), codes.end(), int(StreamEventListener::EVENT_STATISTICS)), codes.end());
    EXPECT_EQ(codes, (std::vector<int>{0, 5, 2, 0}));
    ASSERT_TRUE(eventually([&] { return mountListed(port, "/again.ogg"); }));
    HttpListener listener(port, "/again.ogg", "velmora-test");
    ASSERT_TRUE(listener.waitForAudio(40000));
    TempDir temp;
    const std::string file = save(listener.audio(), temp.path() + "again.ogg");
    EXPECT_EQ(probe(file)["codec_name"], "vorbis");
    EXPECT_GT(decode(file).size(), 44100u);
    stream.stop();
}

} // namespace
#endif
