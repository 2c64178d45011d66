#pragma once
// Drives the main window's two level meters: a timer thread wakes every
// interval, takes an eighth of a second of what the player plays at its
// current playback time from the player's visualisation stream, applies
// the window's volume (or shows -40 dB while muted), and hands the RMS
// level of each channel in decibels to the meters, which repaint on the
// window's thread.
//
// The updater never reaches the window object: what it reads of the
// window (volume and mute) comes as values it shares with the window.
// Destroying it stops the timer thread (within one interval and one tick)
// and sets both meters to -40 dB; it must not be destroyed on its own
// timer thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "audio_chunk_impl.h"
#include "host_services.h"
#include "service.h"

class CStaticVUMeter;

// What the updater reads of the window, written by the window's thread.
struct MeterControls {
    std::atomic<int> volume{100};  // percent, 0 to 100
    std::atomic<bool> mute{false};
};

class VUMeterUpdater {
public:
    // Starts the timer; throws when the player has no visualisation
    // service (no updater exists then).
    VUMeterUpdater(CStaticVUMeter* left, CStaticVUMeter* right, std::int64_t interval_ms,
                   std::shared_ptr<const MeterControls> controls);
    ~VUMeterUpdater();
    VUMeterUpdater(const VUMeterUpdater&) = delete;
    VUMeterUpdater& operator=(const VUMeterUpdater&) = delete;

    // One measuring tick (the timer thread calls it).
    void update();

    // The levels of the last measuring tick, in decibels.
    double leftLevel() const { return m_lastLeft.load(); }
    double rightLevel() const { return m_lastRight.load(); }

private:
    void startTimer(std::int64_t interval_ms, std::function<void()> callable);
    void timerLoop(std::int64_t interval_ms, std::function<void()> callable);
    void stop();
    // Sets the level of each meter whose window exists and has it repainted.
    void setLevels(double left, double right);

    CStaticVUMeter* m_left;
    CStaticVUMeter* m_right;

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_running = false;

    std::atomic<double> m_lastLeft{-40.0};
    std::atomic<double> m_lastRight{-40.0};

    std::shared_ptr<const MeterControls> m_controls;
    service_ptr_t<vis_stream_manager> m_visManager;
    service_ptr_t<vis_stream> m_visStream;
    double m_streamTime = 0.0;
    audio_chunk_impl m_chunk;
    // A failing tick is reported once until a tick succeeds again.
    bool m_failureReported = false;
};
