// The meter updater against the stand-in player's visualisation stream:
// the levels the two meters are given while the player plays known
// signals, under the window's volume and mute, and how quickly it ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sdk_fixture.h"
#include "temp_dir.h"
#include "ui/vu_meter.h"
#include "ui/vu_meter_updater.h"
#include "ui_harness.h"

namespace {

using namespace std::chrono_literals;
using kestrune_host::signal_track;
using kestrune_host::waveform;

HWND meterStatic(HWND parent, int x) {
    return ::CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, x, 10, 28, 104, parent, nullptr, nullptr,
                           nullptr);
}

// A 32-bit float WAV file of `seconds` of one constant sample on two
// channels.
void writeFloatWav(const std::string& path, float sample, double seconds) {
    const std::uint32_t rate = 44100;
    const std::uint32_t floats = static_cast<std::uint32_t>(rate * seconds) * 2;
    std::vector<char> header(44);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&header[at], &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&header[at], &v, 2); };
    std::memcpy(&header[0], "RIFF", 4);
    put32(4, 36 + floats * 4);
    std::memcpy(&header[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 3);  // float samples
    put16(22, 2);
    put32(24, rate);
    put32(28, rate * 8);
    put16(32, 8);
    put16(34, 32);
    std::memcpy(&header[36], "data", 4);
    put32(40, floats * 4);
    std::ofstream out(path, std::ios::binary);
    out.write(header.data(), header.size());
    std::vector<float> data(floats, sample);
    out.write(reinterpret_cast<const char*>(data.data()), data.size() * sizeof(float));
}

class MeterUpdater : public with_player {
protected:
    // Waits until both meters show about the levels given (the updater's
    // own last levels agreeing); false after five seconds.
    bool reaches(double left, double right) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < until) {
            ui_harness::pumpMessages(20);
            if (std::fabs(meters[0].level() - left) < 0.01 && std::fabs(meters[1].level() - right) < 0.01 &&
                std::fabs(updater->leftLevel() - left) < 0.01 && std::fabs(updater->rightLevel() - right) < 0.01)
                return true;
        }
        return false;
    }
    std::string shown() const {
        return std::to_string(meters[0].level()) + " / " + std::to_string(meters[1].level());
    }

    CStaticVUMeter meters[2];
    std::shared_ptr<MeterControls> controls = std::make_shared<MeterControls>();
    std::unique_ptr<VUMeterUpdater> updater;
};

}  // namespace

TEST_F(MeterUpdater, MeasuresWhatThePlayerPlaysAfterVolumeAndMute) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow window(100, 130);
    ASSERT_TRUE(meters[0].SubclassWindow(meterStatic(window, 10)));
    ASSERT_TRUE(meters[1].SubclassWindow(meterStatic(window, 50)));
    for (CStaticVUMeter& meter : meters) meter.prerender();

    TempDir dir;
    const std::string nan_file = dir.path() + "nan.wav";
    writeFloatWav(nan_file, std::numeric_limits<float>::quiet_NaN(), 30.0);

    updater.reset(new VUMeterUpdater(&meters[0], &meters[1], 50, controls));

    // Full-scale square wave on both channels.
    host.play({signal_track("a", "square", 60.0, 441.0, 44100, 2, waveform::square, 1.0f)});
    EXPECT_TRUE(reaches(0.0, 0.0)) << shown();
    controls->volume = 50;
    EXPECT_TRUE(reaches(-6.0206, -6.0206)) << shown();
    controls->mute = true;
    EXPECT_TRUE(reaches(-40.0, -40.0)) << "muted: " << shown();
    controls->mute = false;
    controls->volume = 100;
    EXPECT_TRUE(reaches(0.0, 0.0)) << shown();

    // Stopped playback: the meters keep their last levels.
    host.stop();
    ui_harness::pumpMessages(300);
    EXPECT_NEAR(meters[0].level(), 0.0, 0.01);

    host.play({signal_track("a", "silence", 60.0, 441.0, 44100, 2, waveform::silence, 1.0f)});
    EXPECT_TRUE(reaches(-40.0, -40.0)) << "silence: " << shown();
    host.stop();

    // A mono source shows on the left meter only.
    host.play({signal_track("a", "mono", 60.0, 441.0, 44100, 1, waveform::square, 0.5f)});
    EXPECT_TRUE(reaches(20.0 * std::log10(0.5), -40.0)) << "mono: " << shown();
    host.stop();

    // Samples that are not numbers read as the floor.
    host.play({kestrune_host::file_track(nan_file)});
    EXPECT_TRUE(reaches(-40.0, -40.0)) << "not a number: " << shown();

    // Ending the updater ends its timer within an interval and a tick (the
    // bound here is generous: the machine may be loaded) and darkens both
    // meters.
    host.play({signal_track("a", "square", 60.0, 441.0, 44100, 2, waveform::square, 1.0f)});
    EXPECT_TRUE(reaches(0.0, 0.0)) << shown();
    const auto before = std::chrono::steady_clock::now();
    updater.reset();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_EQ(meters[0].level(), -40.0);
    EXPECT_EQ(meters[1].level(), -40.0);
    ui_harness::pumpMessages(200);
    EXPECT_EQ(meters[0].level(), -40.0) << "nothing writes the meters after the end";
    host.stop();
}

TEST_F(MeterUpdater, MetersWithoutWindowsAreLeftAlone) {
    // The window's meters may be gone before the updater ends: it keeps
    // measuring and writes nothing to them.
    updater.reset(new VUMeterUpdater(&meters[0], &meters[1], 20, controls));
    meters[0].setLevel(-12.0);
    host.play({signal_track("a", "square", 10.0, 441.0, 44100, 2, waveform::square, 1.0f)});
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (std::fabs(updater->leftLevel()) > 0.01 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    EXPECT_NEAR(updater->leftLevel(), 0.0, 0.01);
    updater.reset();
    EXPECT_EQ(meters[0].level(), -12.0);
    host.stop();
}
