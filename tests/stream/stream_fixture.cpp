#include "stream_fixture.h"

#include <Poco/Exception.h>
#include <Poco/AutoPtr.h>
#include <Poco/Util/XMLConfiguration.h>

#include <sstream>

#include "http_client.h"
#include "peers.h"

namespace streamtest {

void PlayerTest::SetUp() {
    with_player::SetUp();
    psc_callback::create(capture);
}

void PlayerTest::TearDown() {
    host.stop();
    capture.reset();
    with_player::TearDown();
}

std::size_t PlayerTest::consoleCount(const std::string& text) {
    std::size_t n = 0;
    for (const std::string& line : host.console_log().lines())
        if (line.find(text) != std::string::npos)
            ++n;
    return n;
}

void PlayerTest::playTone(double seconds, double frequency, std::uint32_t rate, std::uint32_t channels,
                          float amplitude, kestrune_host::play_speed speed) {
    host.play({kestrune_host::signal_track("Tone Artist", "Tone", seconds, frequency, rate, channels,
                                           kestrune_host::waveform::sine, amplitude)},
              speed);
}

void Observer::onStreamEvent(Stream* stream, int code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(Event{code, stream->status(), std::this_thread::get_id()});
    }
    changed_.notify_all();
    if (window && code == EVENT_ERROR) {
        if (auto_reconnect && stream->status().running) {
            stream->reconnect();
            if (stream->status().reconnect_count == 3)
                stream->stop();
        } else {
            stream->stop();
        }
    }
    if (also)
        also(*stream, code);
}

std::vector<Observer::Event> Observer::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<int> Observer::codes() const {
    std::vector<int> out;
    for (const Event& e : events())
        out.push_back(e.code);
    return out;
}

int Observer::count(int code) const {
    int n = 0;
    for (const Event& e : events())
        n += e.code == code ? 1 : 0;
    return n;
}

bool Observer::waitFor(int code, int times, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        int n = 0;
        for (const Event& e : events_)
            n += e.code == code ? 1 : 0;
        return n >= times;
    });
}

EncoderSettings encoderSettings(const std::string& file, const std::string& params, int format, int rate,
                                int channels) {
    EncoderSettings e;
    e.encoder_file = file;
    e.encoder_params = params;
    e.format = format;
    e.wave_format = WAVE_INT16;
    e.wave_header = false;
    e.sampling_rate = rate;
    e.channel = channels;
    e.bitrate = 128;
    return e;
}

ServerSettings icecastSettings(int port, const std::string& mount, const std::string& name) {
    ServerSettings s;
    s.type = SERVER_ICECAST2;
    s.host = "127.0.0.1";
    s.port = port;
    s.password = peers::kIcecastSourcePassword;
    s.mount_point = mount;
    s.yp.name = name;
    s.yp.charset = "UTF-8";
    return s;
}

std::string icecastStats(int port) {
    return httpGet(port, "/admin/stats", peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
}

std::string sourceField(int port, const std::string& mount, const std::string& field) {
    std::istringstream xml(icecastStats(port));
    Poco::AutoPtr<Poco::Util::XMLConfiguration> stats(new Poco::Util::XMLConfiguration(xml));
    const std::string key = "source[@mount=" + mount + "]";
    if (!stats->has(key))
        return std::string();
    return stats->getString(key + "." + field, "");
}

bool mountListed(int port, const std::string& mount) {
    std::istringstream xml(icecastStats(port));
    Poco::AutoPtr<Poco::Util::XMLConfiguration> stats(new Poco::Util::XMLConfiguration(xml));
    return stats->has("source[@mount=" + mount + "]");
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
}

} // namespace streamtest
