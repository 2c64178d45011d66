// The player's main thread: its work goes through the thread's message
// queue, so a component's own pump runs it; its loop ends on request even
// when such a pump swallows the quit; a new track's callback formats the
// track it announces, however late it runs and at either speed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_string.h"
#include "player.h"

using namespace kestrune_host;
using namespace std::chrono_literals;

namespace {

// What a component does while it waits on the main thread: one message at
// a time, waiting for one; a quit it meets is dropped, not dispatched.
// `done` is given the quits dropped so far.
int component_pump_until(const std::function<bool(int)>& done) {
    int quits_dropped = 0;
    MSG msg;
    while (!done(quits_dropped)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            ++quits_dropped;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return quits_dropped;
}

// Formats "%artist% - %title%" in each new-track notification, as the
// component's playback callback does, and notes where it ran.
class title_callback final : public quiet_play_callback {
public:
    explicit title_callback(player& host) : m_host(host) {
        m_host.registry().get<titleformat_compiler>()->compile(m_script, "%artist% - %title%");
    }
    void on_playback_new_track(service_ptr_t<track_handle> track) override {
        host_string text;
        if (!m_host.registry().get<playback_control>()->format_title(nullptr, text, m_script, nullptr, 3))
            text.assign("(nothing plays)");
        std::lock_guard<std::mutex> lock(mutex);
        titles.push_back(text.str() + " @" + track->location_path());
        on_main_thread = on_main_thread && m_host.api().is_main_thread();
        inside_pump = inside_pump && pumping;
    }
    void on_playback_stop(stop_reason) override { stopped = true; }

    std::size_t heard() {
        std::lock_guard<std::mutex> lock(mutex);
        return titles.size();
    }

    std::mutex mutex;
    std::vector<std::string> titles;
    bool on_main_thread = true;
    bool inside_pump = true;
    bool pumping = false;
    std::atomic<bool> stopped{false};

private:
    player& m_host;
    service_ptr_t<titleformat_object> m_script;
};

// Notes, for every chunk, how many new-track notifications had gone out.
class boundary_capture final : public playback_stream_capture_callback {
public:
    explicit boundary_capture(title_callback& titles) : m_titles(titles) {}
    void chunk_captured(const audio_chunk& chunk) override {
        const std::size_t told = m_titles.heard();
        std::lock_guard<std::mutex> lock(mutex);
        if (told == 0) {
            ++before_any;
            return;
        }
        if (rates.size() < told) rates.resize(told);
        rates[told - 1].push_back(chunk.sample_rate());
    }
    std::mutex mutex;
    std::size_t before_any = 0;
    // rates[n]: the sample rates of the chunks delivered while n + 1
    // notifications had gone out.
    std::vector<std::vector<std::uint32_t>> rates;

private:
    title_callback& m_titles;
};

} // namespace

TEST(MainThread, PlayCallbacksRunInsideAComponentPumpAndTheLoopEndsThoughThePumpDropsItsQuit) {
    player host;
    title_callback titles(host);
    host.play_callbacks().register_callback(&titles, 0x96, false);
    host.set_end_handler([&] { host.quit(7); });
    int dropped = -1;
    host.post([&] {
        // Inside the loop, a component waits in its own pump: the player's
        // notifications and its request to end arrive there.
        host.play({signal_track("A", "One", 0.2), signal_track("B", "Two", 0.2, 880.0)}, play_speed::fast);
        PostQuitMessage(3);
        titles.pumping = true;
        // The quit comes out once the queue is empty: before the end of the
        // list, or after it when the fast capture thread queued every
        // notification first.
        dropped = component_pump_until([&](int quits) { return titles.stopped.load() && quits > 0; });
        titles.pumping = false;
    });
    // Should the loop not end, this ends it with another code.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !done; ++i) std::this_thread::sleep_for(50ms);
        if (!done) host.quit(-1);
    });
    const int code = host.run();
    done = true;
    watchdog.join();

    EXPECT_EQ(code, 7);
    EXPECT_EQ(dropped, 1);
    EXPECT_TRUE(titles.on_main_thread);
    EXPECT_TRUE(titles.inside_pump);
    EXPECT_EQ(titles.titles,
              (std::vector<std::string>{"A - One @signal://440Hz", "B - Two @signal://880Hz"}));
    host.play_callbacks().unregister_callback(&titles);
}

TEST(MainThread, ANewTrackCallbackFormatsTheTrackItAnnouncesHoweverLateItRuns) {
    for (play_speed speed : {play_speed::realtime, play_speed::fast}) {
        SCOPED_TRACE(speed == play_speed::realtime ? "real time" : "fast");
        player host;
        title_callback titles(host);
        host.play_callbacks().register_callback(&titles, 0x96, false);
        host.play({signal_track("Ann", "First", 0.1), signal_track("Bob", "Second", 0.1, 660.0),
                   signal_track("", "Third", 0.1, 550.0)},
                  speed);
        if (speed == play_speed::realtime) {
            // Nobody pumps until the capture thread is past every track.
            while (!host.finished()) std::this_thread::sleep_for(5ms);
        }
        ASSERT_TRUE(host.pump_until([&] { return titles.stopped.load(); }, 10s));
        EXPECT_EQ(titles.titles, (std::vector<std::string>{"Ann - First @signal://440Hz", "Bob - Second @signal://660Hz",
                                                           "? - Third @signal://550Hz"}));
        EXPECT_FALSE(host.is_playing());
        host.play_callbacks().unregister_callback(&titles);
    }
}

TEST(MainThread, TheFastModeKeepsTrackBoundaries) {
    player host;
    title_callback titles(host);
    boundary_capture chunks(titles);
    host.play_callbacks().register_callback(&titles, play_callback::flag_new_track, false);
    host.capture().add_callback(&chunks);
    // Each track has a rate of its own; its chunks come only after its
    // notification and before the next one.
    host.play({signal_track("A", "1", 0.5, 440.0, 22050), signal_track("A", "2", 0.5, 440.0, 32000),
               signal_track("A", "3", 0.5, 440.0, 48000)},
              play_speed::fast);
    ASSERT_TRUE(host.pump_until([&] { return host.finished(); }, 10s));
    host.stop();
    host.capture().remove_callback(&chunks);
    host.play_callbacks().unregister_callback(&titles);
    EXPECT_EQ(chunks.before_any, 0u);
    ASSERT_EQ(chunks.rates.size(), 3u);
    const std::uint32_t rates[] = {22050, 32000, 48000};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(chunks.rates[i].empty()) << i;
        for (std::uint32_t r : chunks.rates[i]) EXPECT_EQ(r, rates[i]) << i;
    }
}
