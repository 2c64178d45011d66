// The stand-in player's playback: capture callbacks, play notifications and
// the visualisation stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "host_string.h"
#include "player.h"
#include "temp_dir.h"
#include "wav_file.h"

using namespace kestrune_host;
using namespace std::chrono_literals;

namespace {

class counting_capture final : public playback_stream_capture_callback {
public:
    void chunk_captured(const audio_chunk& chunk) override {
        std::lock_guard<std::mutex> lock(mutex);
        frames += chunk.frame_total();
        rate = chunk.sample_rate();
        channels = chunk.channel_total();
        valid = valid && chunk.is_valid();
        if (removed) late = true;
        if (first.empty()) first.assign(chunk.samples(), chunk.samples() + chunk.float_total());
    }
    std::mutex mutex;
    std::uint64_t frames = 0;
    std::uint32_t rate = 0, channels = 0;
    bool valid = true;
    std::atomic<bool> removed{false};
    bool late = false;
    std::vector<float> first;
};

class recording_play_callback final : public play_callback {
public:
    void on_playback_starting(std::uint32_t, bool) override { events.push_back("starting"); }
    void on_playback_new_track(service_ptr_t<track_handle> track) override {
        const char* artist = track->info().meta_get("artist");
        events.push_back(std::string("new ") + (artist ? artist + std::string(" - ") : "") +
                         track->info().meta_get("title") + " @" + track->location_path());
    }
    void on_playback_stop(stop_reason reason) override { events.push_back("stop " + std::to_string(reason)); }
    void on_playback_seek(double) override { events.push_back("seek"); }
    void on_playback_pause(bool p) override { events.push_back(p ? "pause" : "resume"); }
    void on_playback_edited(service_ptr_t<track_handle>) override { events.push_back("edited"); }
    void on_playback_dynamic_info(const track_info&) override { events.push_back("dynamic"); }
    void on_playback_dynamic_info_track(const track_info& info) override {
        events.push_back(std::string("info ") + info.meta_get("title"));
    }
    void on_playback_time(double) override { events.push_back("time"); }
    void on_volume_change(float) override { events.push_back("volume"); }
    std::vector<std::string> events;
};

class throwing_play_callback final : public quiet_play_callback {
public:
    void on_playback_new_track(service_ptr_t<track_handle>) override { throw std::runtime_error("bad component"); }
};

} // namespace

TEST(Capture, EveryFramePlayedReachesEachCallbackUntilItIsRemoved) {
    player host;
    counting_capture a, b;
    host.capture().add_callback(&a);
    host.capture().add_callback(&b);
    host.play({signal_track("A", "One", 0.5, 1000.0, 48000, 2), signal_track("B", "Two", 0.25, 1000.0, 22050, 1)}, play_speed::fast);
    ASSERT_TRUE(host.pump_until([&] { return host.finished(); }, 10s));
    host.stop();
    EXPECT_EQ(a.frames, 24000u + 5513u);
    EXPECT_EQ(b.frames, a.frames);
    EXPECT_EQ(a.rate, 22050u);
    EXPECT_EQ(a.channels, 1u);
    EXPECT_TRUE(a.valid);
    // The first chunk starts the 1 kHz sine at phase 0 on both channels.
    ASSERT_GE(a.first.size(), 4u);
    EXPECT_FLOAT_EQ(a.first[0], 0.0f);
    EXPECT_FLOAT_EQ(a.first[2], a.first[3]);
    EXPECT_NEAR(a.first[2], 0.5f * std::sin(2 * 3.14159265358979 * 1000.0 / 48000), 1e-6);

    host.capture().remove_callback(&a);
    host.capture().remove_callback(&b);
    EXPECT_EQ(host.capture().registered(), 0u);
}

TEST(Capture, NoChunkArrivesAfterRemovalReturned) {
    player host;
    counting_capture a;
    host.capture().add_callback(&a);
    host.play({signal_track("A", "Long", 600.0, 440.0, 44100, 2)}, play_speed::fast);
    // The track's audio starts once its notification went out.
    ASSERT_TRUE(host.pump_until([&] { return host.frames_delivered() >= 44100; }, 10s));
    host.capture().remove_callback(&a);
    a.removed = true;
    const std::uint64_t later = host.frames_delivered() + 44100;
    while (host.frames_delivered() < later) std::this_thread::sleep_for(1ms);
    host.stop();
    std::lock_guard<std::mutex> lock(a.mutex);
    EXPECT_FALSE(a.late);
}

TEST(Capture, TheFastModeGoesAtThePaceOfItsReceivers) {
    player host;
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> waits{0};
    host.set_fast_pace([&] {
        ++waits;
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return open; });
    });
    host.play({signal_track("A", "One", 1.0)}, play_speed::fast);
    ASSERT_TRUE(host.pump_until([&] { return waits > 0; }, 10s));
    const std::uint64_t held = host.frames_delivered();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(host.frames_delivered(), held) << "nothing more while the receivers are not ready";
    EXPECT_GT(held, 0u);
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
    }
    cv.notify_all();
    ASSERT_TRUE(host.pump_until([&] { return host.finished(); }, 10s));
    EXPECT_EQ(host.frames_delivered(), 44100u);
}

TEST(PlayCallbacks, TheFlagsChooseTheNotifications) {
    player host;
    recording_play_callback all, chosen, stop_only, none;
    host.play_callbacks().register_callback(&all, 0x3FF, false);
    host.play_callbacks().register_callback(&chosen, 0x96, false);
    host.play_callbacks().register_callback(&stop_only, play_callback::flag_stop, false);
    host.play_callbacks().register_callback(&none, 0, false);
    host.play({signal_track("A", "One", 0.05), signal_track("B", "Two", 0.05)}, play_speed::fast);
    ASSERT_TRUE(host.pump_until([&] { return host.finished(); }, 10s));
    host.stop();
    host.pump();
    const std::vector<std::string> expected{"new A - One @signal://440Hz", "new B - Two @signal://440Hz", "stop 1"};
    EXPECT_EQ(chosen.events, expected);
    EXPECT_EQ(all.events, expected);
    EXPECT_EQ(stop_only.events, std::vector<std::string>{"stop 1"});
    EXPECT_TRUE(none.events.empty());
    for (auto* cb : {&all, &chosen, &stop_only, &none}) host.play_callbacks().unregister_callback(cb);
    EXPECT_EQ(host.play_callbacks().registered(), 0u);
}

TEST(PlayCallbacks, ForwardedStateDynamicInfoPauseAndUnregistration) {
    player host;
    host.play({signal_track("Radio", "First", 600.0)});
    ASSERT_TRUE(host.pump_until([&] { return host.is_playing(); }, 10s));
    host.pump();

    recording_play_callback cb, quiet;
    host.play_callbacks().register_callback(&cb, 0x96, true);
    host.play_callbacks().register_callback(&quiet, 0x96, false);
    EXPECT_EQ(cb.events, std::vector<std::string>{"new Radio - First @signal://440Hz"});
    EXPECT_TRUE(quiet.events.empty());

    host.set_dynamic_info({{"title", "Second"}});
    host.pause(true);
    host.pause(false);
    host.pump();
    EXPECT_EQ(cb.events, (std::vector<std::string>{"new Radio - First @signal://440Hz", "info Second", "pause", "resume"}));

    host.play_callbacks().unregister_callback(&cb);
    // A late registration hears of the pause at once.
    host.pause(true);
    recording_play_callback late;
    host.play_callbacks().register_callback(&late, 0x96, true);
    EXPECT_EQ(late.events, (std::vector<std::string>{"new Radio - First @signal://440Hz", "pause"}));
    host.play_callbacks().unregister_callback(&late);
    host.stop();
    host.pump();
    EXPECT_EQ(cb.events.size(), 4u);
    EXPECT_EQ(quiet.events, (std::vector<std::string>{"info Second", "pause", "resume", "pause", "stop 0"}));
    host.play_callbacks().unregister_callback(&quiet);
}

TEST(Callbacks, ThrowingCallbacksAreReportedAndPlaybackGoesOn) {
    class thrower final : public playback_stream_capture_callback {
    public:
        void chunk_captured(const audio_chunk&) override { throw std::runtime_error("capture fault"); }
    } bad_capture;
    player host;
    counting_capture good_capture;
    throwing_play_callback bad;
    recording_play_callback good;
    host.capture().add_callback(&bad_capture);
    host.capture().add_callback(&good_capture);
    host.play_callbacks().register_callback(&bad, 0x96, false);
    host.play_callbacks().register_callback(&good, 0x96, false);
    host.play({signal_track("A", "One", 0.1, 440.0, 44100, 2)}, play_speed::fast);
    ASSERT_TRUE(host.pump_until([&] { return host.finished(); }, 10s));
    host.stop();
    host.pump();
    host.capture().remove_callback(&bad_capture);
    host.capture().remove_callback(&good_capture);
    host.play_callbacks().unregister_callback(&bad);
    host.play_callbacks().unregister_callback(&good);
    EXPECT_EQ(good_capture.frames, 4410u);
    EXPECT_EQ(good.events.front(), "new A - One @signal://440Hz");
    EXPECT_TRUE(host.console_log().contains("kestrune: capture callback threw: capture fault"));
    EXPECT_TRUE(host.console_log().contains("kestrune: play callback threw: bad component"));
}

TEST(Visualisation, TheMostRecentAudioAtThePlayingTime) {
    player host;
    auto manager = host.registry().get<vis_stream_manager>();
    ASSERT_TRUE(manager.is_valid());
    service_ptr_t<vis_stream> stream;
    manager->create_stream(stream, vis_stream_manager::flag_follow_playback);
    ASSERT_TRUE(stream.is_valid());

    double t = -1;
    EXPECT_FALSE(stream->get_time(t));
    host_chunk chunk;
    EXPECT_FALSE(stream->get_chunk(chunk, 0.0, 0.125));

    host.play({signal_track("A", "Square", 600.0, 100.0, 44100, 2, waveform::square, 1.0f)});
    ASSERT_TRUE(host.pump_until([&] { return stream->get_time(t) && t > 0.3; }, 10s));
    ASSERT_TRUE(stream->get_chunk(chunk, t, 0.125));
    EXPECT_EQ(chunk.sample_rate(), 44100u);
    EXPECT_EQ(chunk.channel_total(), 2u);
    EXPECT_NEAR(double(chunk.frame_total()), 0.125 * 44100, 1.0);
    double sum = 0;
    for (zof::t_size i = 0; i < chunk.float_total(); ++i) sum += double(chunk.samples()[i]) * chunk.samples()[i];
    EXPECT_NEAR(sum / chunk.float_total(), 1.0, 1e-6); // full-scale square
    host.stop();
    EXPECT_FALSE(stream->get_time(t));
}

TEST(WavFiles, PlayedWithTheirFormatAndSamples) {
    TempDir scratch;
    const std::string path = scratch.path() + "kestrune_test.wav";
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 3000; ++i) samples.push_back(static_cast<std::int16_t>((i % 2 ? -1 : 1) * 16384));
    writeWav16(path, 32000, 2, samples);

    player host;
    counting_capture got;
    host.capture().add_callback(&got);
    recording_play_callback cb;
    host.play_callbacks().register_callback(&cb, play_callback::flag_new_track, false);
    host.play({file_track(path), file_track(path + ".missing"), file_track(path, "Wav Artist", "Wav \xC3\xA9 Title")},
              play_speed::fast);
    ASSERT_TRUE(host.pump_until([&] { return host.finished(); }, 10s));
    host.stop();
    host.pump();
    host.capture().remove_callback(&got);
    host.play_callbacks().unregister_callback(&cb);

    EXPECT_EQ(got.frames, 3000u);
    EXPECT_EQ(got.rate, 32000u);
    EXPECT_EQ(got.channels, 2u);
    ASSERT_GE(got.first.size(), 2u);
    EXPECT_FLOAT_EQ(got.first[0], 0.5f);
    EXPECT_FLOAT_EQ(got.first[1], -0.5f);
    // Its title is the file's name unless the list gives artist and title.
    ASSERT_EQ(cb.events.size(), 2u);
    EXPECT_EQ(cb.events[0], "new kestrune_test @" + path);
    EXPECT_EQ(cb.events[1], "new Wav Artist - Wav \xC3\xA9 Title @" + path);
    EXPECT_TRUE(host.console_log().contains("kestrune: cannot play " + path + ".missing"));
}
