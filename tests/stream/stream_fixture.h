#pragma once
// Streams against the stand-in player and the icecast2 peer: a player the
// component is connected to, with the capture callback registered; a
// recorder of stream events that can react as the window does; settings
// for the peer; and the peer's own view of its mounts.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/psc_callback.h"
#include "engine/stream.h"
#include "player.h"
#include "sdk_fixture.h"

namespace streamtest {

using namespace std::chrono_literals;

// The component sees `host` as its player; `capture` is registered with it.
class PlayerTest : public with_player {
protected:
    void SetUp() override;
    void TearDown() override;

    // Console lines that contain `text`.
    std::size_t consoleCount(const std::string& text);
    // Plays one generated track (tone on every channel).
    void playTone(double seconds, double frequency = 440.0, std::uint32_t rate = 44100, std::uint32_t channels = 2,
                  float amplitude = 0.5f, kestrune_host::play_speed speed = kestrune_host::play_speed::realtime);

    std::unique_ptr<psc_callback> capture;
};

// Records every event with a copy of the stream's status, and reacts to
// event 5 as the window does when `window` is set: a running stream is
// reconnected when `auto_reconnect` is set (stopped after three failed
// attempts), anything else is stopped.
class Observer : public StreamEventListener {
public:
    struct Event {
        int code;
        StreamStatus status;
        std::thread::id thread;
    };

    void onStreamEvent(Stream* stream, int code) override;

    std::vector<Event> events() const;
    std::vector<int> codes() const;
    int count(int code) const;
    // Waits until `code` was raised `times` times; false on time-out.
    bool waitFor(int code, int times = 1, std::chrono::milliseconds limit = 20s) const;

    bool window = false;
    bool auto_reconnect = false;
    // Called after recording (and after the window's reaction).
    std::function<void(Stream&, int)> also;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

// Encoder settings for the stream (wave format 16-bit, no header).
EncoderSettings encoderSettings(const std::string& file, const std::string& params, int format, int rate,
                                int channels);
// An Icecast2 record for the peer on `port` with the peer's source
// password, UTF-8 titles, named `name`.
ServerSettings icecastSettings(int port, const std::string& mount, const std::string& name);

// The peer's admin statistics, and one field of a source in them (empty
// when the mount is not listed).
std::string icecastStats(int port);
std::string sourceField(int port, const std::string& mount, const std::string& field);
bool mountListed(int port, const std::string& mount);

// Waits until `done` holds (polled every 20 ms); false on time-out.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s);

} // namespace streamtest
