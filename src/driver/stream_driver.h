#pragma once
// The front end of the Linux build, which has no window: it plays the main
// window's part with the player, for the demo and the end-to-end tests. It
// reads the settings file through Config, makes one Stream per stream group
// and starts them all, records the playing artist and title in every
// running stream and sends the title on every track change (as the window
// does with auto-update), prints the stream events on the console,
// reconnects a failed running stream when auto_reconnect is set and stops
// it otherwise. When the player asks for it (its listener_polling service)
// it also asks every running stream for its listener list at that interval
// and prints the listeners, as the window's Clients view shows them. It is
// opened by the main-menu command and closed when the player quits, which
// stops the streams and writes the settings.
//
// A player that can play faster than real time (its fast_playback service)
// has its capture thread held back while a running stream's input is two
// seconds behind, and the end of the list waits until every stream has
// taken what is left.
//
// Main thread: open, close, track changes. Stream events arrive on the
// main thread (starts, stops) and on the streams' workers (statistics,
// errors, reconnections); titles and listener requests go out on a worker
// of the driver's own, one at a time. A title that comes while the worker
// is busy (a slow listener list) goes out as soon as it is free, the
// latest one winning; a listener request that comes then is dropped.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/command_signal.h"
#include "engine/psc_callback.h"
#include "engine/stream.h"
#include "fast_playback.h"
#include "listener_polling.h"
#include "plugin/settings.h"

class StreamDriver final : public StreamEventListener {
public:
    // Makes the one driver and starts its streams; nothing when it exists.
    static void open();
    // Ends the driver: stops the streams and writes the settings.
    static void close();
    // The driver, while it exists.
    static StreamDriver* instance();

    void onStreamEvent(Stream* stream, int event) override;

    // On the main thread: the playing track changed (or its information).
    void trackChanged();

    // For tests: a read-only look at the streams.
    const std::vector<std::unique_ptr<Stream>>& streams() const { return streams_; }

private:
    class PlayCallback;
    class Pace;

    StreamDriver();
    ~StreamDriver();
    void workerThread();
    void sendTitles();
    void listListeners();
    // A title the stream kept (returned false) goes out with a
    // reconnection.
    bool willReconnect(Stream& stream) const;
    // Posts a listener request to the worker at the player's interval.
    void listenerTimer(std::uint32_t seconds);
    // Returns when no running stream has more than `seconds` of input
    // waiting.
    void waitForStreams(double seconds);

    CommonSettings common_;
    std::vector<std::unique_ptr<Stream>> streams_;
    std::unique_ptr<psc_callback> capture_;
    std::unique_ptr<PlayCallback> playback_;
    // The player's fast mode, when it has one.
    service_ptr_t<fast_playback> fast_;
    std::unique_ptr<Pace> pace_;
    CommandSignal worker_signal_;
    std::thread worker_;
    std::thread listener_timer_;
    std::mutex timer_mutex_;
    std::condition_variable timer_wake_;
    bool timer_stop_ = false;
    std::mutex title_mutex_;
    std::string current_title_;
};
