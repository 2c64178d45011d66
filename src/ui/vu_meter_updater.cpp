#include "ui/vu_meter_updater.h"

#include <chrono>
#include <cmath>

#include "console.h"
#include "engine/failure_text.h"
#include "service_lookup.h"
#include "ui/vu_meter.h"

namespace {

constexpr double kWindowSeconds = 0.125;
constexpr double kVolumeDivisor = 100.0;
constexpr double kDecibelFactor = 20.0;
constexpr double kFloor = -40.0;

// The RMS level of `n` samples of which `sum` is the sum of squares, in
// decibels; silence and a level that is not a number take the floor.
double decibels(double sum, std::size_t n) {
    const double level = std::sqrt(sum / static_cast<double>(n));
    if (!(level > 0.0)) return kFloor;
    return kDecibelFactor * std::log10(level);
}

}  // namespace

VUMeterUpdater::VUMeterUpdater(CStaticVUMeter* left, CStaticVUMeter* right, std::int64_t interval_ms,
                               std::shared_ptr<const MeterControls> controls)
    : m_left(left), m_right(right), m_controls(std::move(controls)) {
    if (!m_controls) m_controls = std::make_shared<const MeterControls>();
    create_host_service(m_visManager);
    m_visManager->create_stream(m_visStream, vis_stream_manager::flag_follow_playback);
    startTimer(interval_ms, std::bind(&VUMeterUpdater::update, this));
}

VUMeterUpdater::~VUMeterUpdater() { stop(); }

void VUMeterUpdater::startTimer(std::int64_t interval_ms, std::function<void()> callable) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }
    m_thread = std::thread(&VUMeterUpdater::timerLoop, this, interval_ms, std::move(callable));
}

void VUMeterUpdater::timerLoop(std::int64_t interval_ms, std::function<void()> callable) {
    const auto interval = std::chrono::milliseconds(interval_ms > 0 ? interval_ms : 1);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_running) {
        // A stop wakes the wait; the tick then does not run again.
        m_wake.wait_for(lock, interval, [this] { return !m_running; });
        if (!m_running) break;
        try {
            callable();
            m_failureReported = false;
        } catch (...) {
            if (!m_failureReported)
                console_printf("velmora: level meter: %s", currentFailureText().c_str());
            m_failureReported = true;
        }
    }
}

void VUMeterUpdater::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    try {
        m_visStream.release();
        m_lastLeft = kFloor;
        m_lastRight = kFloor;
        setLevels(kFloor, kFloor);
        m_chunk.reserve(0);
        m_visManager.release();
    } catch (...) {
        console_printf("velmora: level meter: %s", currentFailureText().c_str());
    }
}

void VUMeterUpdater::setLevels(double left, double right) {
    for (auto pair : {std::make_pair(m_left, left), std::make_pair(m_right, right)}) {
        CStaticVUMeter* meter = pair.first;
        if (meter == nullptr || !::IsWindow(meter->m_hWnd)) continue;
        meter->setLevel(pair.second);
        ::InvalidateRect(meter->m_hWnd, nullptr, TRUE);
    }
}

void VUMeterUpdater::update() {
    if (m_controls->mute.load()) {
        m_lastLeft = kFloor;
        m_lastRight = kFloor;
        setLevels(kFloor, kFloor);
        return;
    }
    if (!m_visStream.is_valid() || !m_visStream->get_time(m_streamTime)) return;
    if (!m_visStream->get_chunk(m_chunk, m_streamTime, kWindowSeconds)) return;
    const float gain = static_cast<float>(m_controls->volume.load() / kVolumeDivisor);
    m_chunk.scale_samples(gain);

    const std::uint32_t channels = m_chunk.channel_total();
    std::size_t n = m_chunk.frame_total();
    const float* samples = m_chunk.samples();
    // Never read past what the buffer holds, whatever the counts claim.
    const std::size_t held = samples ? m_chunk.capacity() : 0;
    const std::size_t per_frame = channels == 1 ? 1 : 2;
    if (n > held / per_frame) n = held / per_frame;
    // No samples: nothing to measure, the meters keep their levels.
    if (n == 0 || channels == 0) return;

    double left = kFloor;
    double right = kFloor;
    if (channels == 1) {
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const float square = samples[i] * samples[i];
            sum += square;
        }
        left = decibels(sum, n);
    } else {
        // Pairs of the interleaved data: the first two channels of a stereo
        // chunk.
        double sum_left = 0.0;
        double sum_right = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const float l = samples[2 * i] * samples[2 * i];
            const float r = samples[2 * i + 1] * samples[2 * i + 1];
            sum_left += l;
            sum_right += r;
        }
        left = decibels(sum_left, n);
        right = decibels(sum_right, n);
    }
    m_lastLeft = left;
    m_lastRight = right;
    setLevels(left, right);
}
