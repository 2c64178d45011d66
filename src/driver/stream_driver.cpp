#include "driver/stream_driver.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>

#include <chrono>
#include <exception>
#include <optional>

#include "console.h"
#include "engine/config.h"
#include "engine/failure_text.h"
#include "engine/message_pump.h"
#include "engine/output_gain.h"
#include "host_services.h"
#include "service_lookup.h"
#include "titleformat_util.h"
#include "ui/listener_xml.h"
#include "zof/string8.h"

namespace {

StreamDriver* g_driver = nullptr;

// Driver worker commands; the titles go out as the worker's task
// (CommandSignal::kDue).
enum : int { LIST_LISTENERS = 2, EXIT = 3 };

std::string listenUrl(const ServerSettings& s) {
    std::string url = Poco::format("http://%s:%d/", s.host, static_cast<int>(s.port));
    if (s.type == SERVER_ICECAST2)
        url += s.mount_point.compare(0, 1, "/") == 0 ? s.mount_point.substr(1) : s.mount_point;
    else if (s.type == SERVER_SHOUTCAST2)
        url += Poco::format("listen.pls?sid=%d", static_cast<int>(s.stream_id));
    return url;
}

} // namespace

// Hands the player's track changes to the driver, as the window's playback
// callback does.
class StreamDriver::PlayCallback : public play_callback {
public:
    explicit PlayCallback(StreamDriver& driver) : driver_(driver) {
        service_ptr_t<play_callback_manager> manager;
        create_host_service(manager);
        manager->register_callback(this, flag_new_track | flag_dynamic_info_track | flag_stop, true);
    }
    ~PlayCallback() {
        try {
            service_ptr_t<play_callback_manager> manager;
            create_host_service(manager);
            manager->unregister_callback(this);
        } catch (...) {
        }
    }
    void on_playback_new_track(service_ptr_t<track_handle> track) override {
        const char* path = track.is_valid() ? track->location_path() : "";
        // A stream from the network tells its titles through its track
        // information instead.
        if (std::string(path ? path : "").compare(0, 7, "http://") != 0)
            changed();
    }
    void on_playback_dynamic_info_track(const track_info&) override { changed(); }
    void on_playback_starting(std::uint32_t, bool) override {}
    void on_playback_stop(stop_reason reason) override {
        // What the last chunks left in the streams' input goes out before
        // the player's end handler may close them.
        if (reason == stop_eof && driver_.fast_.is_valid() && driver_.fast_->is_fast())
            driver_.waitForStreams(0);
    }
    void on_playback_seek(double) override {}
    void on_playback_pause(bool) override {}
    void on_playback_edited(service_ptr_t<track_handle>) override {}
    void on_playback_dynamic_info(const track_info&) override {}
    void on_playback_time(double) override {}
    void on_volume_change(float) override {}

private:
    void changed() {
        try {
            driver_.trackChanged();
        } catch (...) {
            console_printf("velmora: title update failed: %s", currentFailureText().c_str());
        }
    }
    StreamDriver& driver_;
};

// Registered after the capture callback, so it runs when the streams have
// taken the chunk, and outside that callback's lock, which a stream's stop
// takes: while a stream stops, the wait ends as it stops running.
class StreamDriver::Pace : public playback_stream_capture_callback {
public:
    explicit Pace(StreamDriver& driver) : driver_(driver) {
        create_host_service(capture_);
        capture_->add_callback(this);
    }
    ~Pace() {
        try {
            capture_->remove_callback(this);
        } catch (...) {
        }
    }
    void chunk_captured(const audio_chunk&) override {
        try {
            // A stream that lacks room for a second more holds the player.
            if (driver_.fast_->is_fast())
                driver_.waitForStreams(2.0);
        } catch (...) {
            console_printf("velmora: holding the player back failed: %s", currentFailureText().c_str());
        }
    }

private:
    StreamDriver& driver_;
    service_ptr_t<playback_stream_capture> capture_;
};

void StreamDriver::open() {
    if (g_driver != nullptr) {
        console_print("velmora: the streams run already");
        return;
    }
    g_driver = new StreamDriver();
    g_driver->trackChanged();
}

void StreamDriver::close() {
    StreamDriver* driver = g_driver;
    g_driver = nullptr;
    delete driver;
}

StreamDriver* StreamDriver::instance() { return g_driver; }

StreamDriver::StreamDriver() {
    Config* config = getConfig();
    config->loadCommon(common_);
    setOutputGain(common_.mute ? 0.0f : static_cast<float>(common_.vol / 100.0));
    const int count = config->countStreams();
    for (int i = 0; i < (count == 0 ? 1 : count); ++i) {
        EncoderSettings encoder;
        ServerSettings server;
        config->loadStream(i, encoder, server);
        streams_.emplace_back(new Stream(this, encoder, server));
    }
    psc_callback::create(capture_);
    try {
        create_host_service(fast_);
    } catch (...) {
        // A player that only plays in real time.
    }
    if (fast_.is_valid())
        pace_.reset(new Pace(*this));
    playback_.reset(new PlayCallback(*this));
    std::uint32_t listener_seconds = 0;
    try {
        service_ptr_t<listener_polling> polling;
        create_host_service(polling);
        listener_seconds = polling->interval_seconds();
        zof::string8 user;
        zof::string8 password;
        if (polling->admin_credentials(user, password))
            for (auto& stream : streams_)
                stream->setAdminCredentials(user.text(), password.text());
    } catch (...) {
        // A player that never asks for listener lists.
        listener_seconds = 0;
    }
    worker_ = std::thread(&StreamDriver::workerThread, this);
    if (listener_seconds > 0)
        listener_timer_ = std::thread(&StreamDriver::listenerTimer, this, listener_seconds);
    console_printf("velmora: %d stream(s) from the settings file", static_cast<int>(streams_.size()));
    for (auto& stream : streams_)
        stream->start(capture_.get());
}

StreamDriver::~StreamDriver() {
    if (listener_timer_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(timer_mutex_);
            timer_stop_ = true;
        }
        timer_wake_.notify_all();
        listener_timer_.join();
    }
    // The streams stop before the worker is waited for: a stop ends the
    // title or listener request the worker may be in (a server that
    // trickles its reply would hold it up to the exchange limit). Each is
    // asked before any is waited for: none then starts a program (an Ogg
    // title's restart) while the ones before it end.
    try {
        for (auto& stream : streams_)
            if (stream->status().running)
                stream->askStop();
        for (auto& stream : streams_)
            if (stream->status().running)
                stream->stop();
    } catch (...) {
        console_printf("velmora: stopping the streams failed: %s", currentFailureText().c_str());
    }
    while (!worker_signal_.post(EXIT))
        serveMessagesOrSleep();
    worker_.join();
    try {
        Config* config = getConfig();
        config->removeCommon();
        config->removeStreams();
        config->saveCommon(common_);
        for (std::size_t i = 0; i < streams_.size(); ++i)
            config->saveStream(static_cast<int>(i), streams_[i]->encoderSettings(), streams_[i]->serverSettings());
        deleteConfig();
    } catch (...) {
        console_printf("velmora: closing the streams failed: %s", currentFailureText().c_str());
    }
    playback_.reset();
    pace_.reset();
    streams_.clear();
    capture_.reset();
}

void StreamDriver::trackChanged() {
    std::string title, artist;
    const bool has_title = formatTitle("%title%", title);
    const bool has_artist = formatTitle("%artist%", artist);
    if (!has_title && !has_artist)
        return;
    for (auto& stream : streams_)
        if (stream->status().running)
            stream->addTitle(artist, title);
    {
        std::lock_guard<std::mutex> lock(title_mutex_);
        formatTitle(common_.title_format, current_title_);
    }
    // Never refused: a busy worker sends it as soon as it is free.
    worker_signal_.markDue();
}

void StreamDriver::waitForStreams(double seconds) {
    for (auto& stream : streams_)
        while (stream->inputBacklog() > seconds)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void StreamDriver::workerThread() {
    for (;;) {
        std::unique_lock<std::mutex> lock(worker_signal_.mutex());
        const int command = worker_signal_.wait(lock);
        if (command == EXIT)
            return;
        try {
            if (command == CommandSignal::kDue)
                sendTitles();
            else if (command == LIST_LISTENERS)
                listListeners();
        } catch (...) {
            console_printf("velmora: Error: %s", currentFailureText().c_str());
        }
    }
}

bool StreamDriver::willReconnect(Stream& stream) const {
    // A stream whose worker has just failed is stopped instead when the
    // reconnection is off.
    return common_.auto_reconnect || stream.status().reconnecting;
}

void StreamDriver::listenerTimer(std::uint32_t seconds) {
    std::unique_lock<std::mutex> lock(timer_mutex_);
    for (;;) {
        if (timer_wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return timer_stop_; }))
            return;
        // A worker still busy with the last request skips this one.
        worker_signal_.post(LIST_LISTENERS);
    }
}

void StreamDriver::listListeners() {
    for (auto& stream : streams_) {
        if (!stream->status().running)
            continue;
        const std::string name = stream->serverSettings().yp.name;
        try {
            Poco::AutoPtr<Poco::Util::XMLConfiguration> document;
            std::vector<ClientInfo> listeners;
            parseListenerXml(stream->listClients(), document, listeners);
            console_printf("velmora: Listeners: %s: %d", name.c_str(), static_cast<int>(listeners.size()));
            for (const ClientInfo& listener : listeners)
                console_printf("velmora: Listener: %s: %s | %s | %s", name.c_str(), listener.ip.c_str(),
                               listener.user_agent.c_str(), formatConnectedTime(listener.connected).c_str());
        } catch (const StreamReconnecting&) {
            if (stream->reconnectionNoticeDue())
                console_printf("velmora: Listener request skipped: %s: the stream is reconnecting", name.c_str());
        } catch (const StreamStopped&) {
            // Ended by the stream's stop: no error.
        } catch (...) {
            console_printf("velmora: Listener request error: %s: %s", name.c_str(), currentFailureText().c_str());
        }
    }
}

void StreamDriver::sendTitles() {
    std::string title;
    {
        std::lock_guard<std::mutex> lock(title_mutex_);
        title = current_title_;
    }
    for (auto& stream : streams_) {
        if (!stream->status().running)
            continue;
        const std::string name = stream->serverSettings().yp.name;
        try {
            if (stream->updateMetadata(title))
                console_printf("velmora: metadata update: %s: %s", name.c_str(), title.c_str());
            else if (willReconnect(*stream) && stream->reconnectionNoticeDue())
                console_printf("velmora: metadata update postponed: %s: %s (will be sent when the stream reconnects)",
                               name.c_str(), title.c_str());
        } catch (const StreamStopped&) {
            // Ended by the stream's stop: no error.
        } catch (...) {
            console_printf("velmora: metadata update error: %s: %s", name.c_str(), currentFailureText().c_str());
        }
    }
}

void StreamDriver::onStreamEvent(Stream* stream, int event) {
    const StreamStatus status = stream->status();
    const ServerSettings server = stream->serverSettings();
    const char* name = server.yp.name.c_str();
    switch (event) {
    case EVENT_STARTED:
        if (status.reconnecting)
            console_printf("velmora: Reconnection succeeded: %s", name);
        console_printf("velmora: Streaming start: %s", name);
        if (!status.reconnecting)
            console_printf("velmora: Listen URL: %s: %s", name, listenUrl(server).c_str());
        break;
    case EVENT_STOPPED:
        console_printf("velmora: Streaming finish: %s", name);
        break;
    case EVENT_RECONNECTING:
        console_printf("velmora: Reconnecting: %s (%d/3)", name, static_cast<int>(status.reconnect_count) + 1);
        break;
    case EVENT_STATISTICS:
        console_printf("velmora: Statistics: %s: %llu s, %llu bytes sent, %d bytes/s", name,
                       static_cast<unsigned long long>(status.seconds),
                       static_cast<unsigned long long>(status.bytes_sent), static_cast<int>(status.bytes_this_second));
        break;
    case EVENT_ERROR:
        console_printf("velmora: Error: %s: %s", name, status.error_text.c_str());
        // As the window does: a running stream is reconnected when asked
        // to (and stopped after three failed attempts), any other stopped.
        if (common_.auto_reconnect && status.running) {
            if (const std::optional<std::string> resent = stream->reconnect())
                console_printf("velmora: metadata update: %s: %s", name, resent->c_str());
            if (stream->status().reconnect_count == 3)
                stream->stop();
        } else {
            stream->stop();
        }
        break;
    default:
        break;
    }
}
