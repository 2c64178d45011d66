// The stand-in player.
#include "player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dsp_services.h"
#include "host_string.h"
#include "titleformat.h"

namespace kestrune_host {

namespace {

bool same_name(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == 0;
}

std::string describe(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return "unknown exception";
    }
}

} // namespace

// ---------------------------------------------------------------- tracks
const char* host_track_info::meta_get(const char* name) const {
    if (!name) return nullptr;
    for (const auto& kv : m_meta)
        if (same_name(kv.first, name)) return kv.second.c_str();
    return nullptr;
}

track_spec signal_track(const std::string& artist, const std::string& title, double seconds, double frequency,
                        std::uint32_t rate, std::uint32_t channels, waveform shape, float amplitude) {
    track_spec t;
    t.location = "signal://" + std::to_string(static_cast<long long>(frequency)) + "Hz";
    if (!artist.empty()) t.meta.emplace_back("artist", artist);
    if (!title.empty()) t.meta.emplace_back("title", title);
    t.open = [=] { return make_signal(shape, frequency, amplitude, rate, channels, seconds); };
    return t;
}

track_spec file_track(const std::string& path) {
    track_spec t;
    t.location = path;
    std::string name = path;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot != 0) name.erase(dot);
    t.meta.emplace_back("title", name);
    t.open = [path] { return open_wav(path); };
    return t;
}

// ---------------------------------------------------------------- console
void host_console::print(const char* text, zof::t_size length) {
    std::string line;
    if (text) {
        zof::t_size n = 0;
        while (n < length && text[n]) ++n;
        line.assign(text, n);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_echo) {
        std::printf("%s%s\n", m_prefix.c_str(), line.c_str());
        std::fflush(stdout);
    }
    m_lines.push_back(std::move(line));
}

std::vector<std::string> host_console::lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

void host_console::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

void host_console::set_echo(bool echo, const char* prefix) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_echo = echo;
    m_prefix = prefix ? prefix : "";
}

bool host_console::contains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& l : m_lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

// ---------------------------------------------------------------- playback control
bool host_playback_control::is_playing() { return m_player.is_playing(); }

namespace {

// The caller's hook first, then the playing track's fields.
class track_hook final : public titleformat_hook {
public:
    track_hook(player& p, titleformat_hook* first, bool dynamic) : m_player(p), m_first(first), m_dynamic(dynamic) {}
    bool process_field(titleformat_text_out* out, const char* name, zof::t_size length, bool& found) override {
        if (m_first && m_first->process_field(out, name, length, found)) return true;
        std::string value;
        if (m_player.track_field(std::string(name, length), value, m_dynamic)) {
            out->write(guid_null, value.c_str(), static_cast<zof::t_size>(value.size()));
            found = true;
            return true;
        }
        found = false;
        return false;
    }
    bool process_function(titleformat_text_out* out, const char* name, zof::t_size length,
                          titleformat_hook_function_params* params, bool& found) override {
        if (m_first) return m_first->process_function(out, name, length, params, found);
        found = false;
        return false;
    }
private:
    player& m_player;
    titleformat_hook* m_first;
    bool m_dynamic;
};

} // namespace

bool host_playback_control::format_title(titleformat_hook* hook, zof::string_base& out,
                                         const service_ptr_t<titleformat_object>& script,
                                         titleformat_text_filter* filter, std::uint32_t flags) {
    if (!m_player.is_playing() || script.is_empty()) return false;
    track_hook fields(m_player, hook, (flags & format_flag_dynamic_info) != 0);
    host_string text;
    script->run(&fields, text, filter);
    out.assign(text.text(), text.length());
    return true;
}

// ---------------------------------------------------------------- play callbacks
void host_play_callback_manager::register_callback(play_callback* callback, std::uint32_t flags, bool forward_status) {
    if (!callback) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_callbacks.emplace_back(callback, flags);
    }
    if (!forward_status) return;
    service_ptr_t<host_track> track = m_player.playing_track();
    try {
        if (track.is_valid() && (flags & play_callback::flag_new_track))
            callback->on_playback_new_track(service_ptr_t<track_handle>(track));
        if (track.is_valid() && m_player.is_paused() && (flags & play_callback::flag_pause))
            callback->on_playback_pause(true);
    } catch (...) {
        m_player.report("kestrune: play callback threw: " + describe(std::current_exception()));
    }
}

void host_play_callback_manager::unregister_callback(play_callback* callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_callbacks.erase(std::remove_if(m_callbacks.begin(), m_callbacks.end(),
                                     [callback](const std::pair<play_callback*, std::uint32_t>& e) { return e.first == callback; }),
                      m_callbacks.end());
}

bool host_play_callback_manager::wants(play_callback* callback, std::uint32_t flag) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& e : m_callbacks)
        if (e.first == callback && (e.second & flag)) return true;
    return false;
}

void host_play_callback_manager::notify(std::uint32_t flag, const std::function<void(play_callback&)>& call) {
    std::vector<play_callback*> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& e : m_callbacks)
            if (e.second & flag) targets.push_back(e.first);
    }
    for (play_callback* cb : targets) {
        // A callback unregistered by an earlier one hears nothing more.
        if (!wants(cb, flag)) continue;
        try {
            call(*cb);
        } catch (...) {
            m_player.report("kestrune: play callback threw: " + describe(std::current_exception()));
        }
    }
}

std::size_t host_play_callback_manager::registered() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_callbacks.size();
}

// ---------------------------------------------------------------- capture
void host_capture::add_callback(playback_stream_capture_callback* callback) {
    if (!callback) return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_callbacks.push_back(callback);
}

void host_capture::remove_callback(playback_stream_capture_callback* callback) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = std::find(m_callbacks.begin(), m_callbacks.end(), callback);
    if (it != m_callbacks.end()) m_callbacks.erase(it);
}

void host_capture::deliver(const audio_chunk& chunk) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const std::vector<playback_stream_capture_callback*> targets = m_callbacks;
    for (auto* cb : targets) {
        // Removed by an earlier callback on this thread: skip it.
        if (std::find(m_callbacks.begin(), m_callbacks.end(), cb) == m_callbacks.end()) continue;
        try {
            cb->chunk_captured(chunk);
        } catch (...) {
            m_player.report("kestrune: capture callback threw: " + describe(std::current_exception()));
        }
    }
}

std::size_t host_capture::registered() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_callbacks.size();
}

// ---------------------------------------------------------------- visualisation
void vis_buffer::write(const float* data, std::size_t frames, std::uint32_t channels, std::uint32_t rate, double end_time) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (channels != m_channels || rate != m_rate) {
        m_channels = channels;
        m_rate = rate;
        const std::size_t capacity = std::max<std::size_t>(1, static_cast<std::size_t>(m_seconds * rate));
        m_ring.assign(capacity * channels, 0.0f);
        m_frames = 0;
        m_head = 0;
    }
    const std::size_t capacity = m_ring.size() / channels;
    if (frames > capacity) {
        data += (frames - capacity) * channels;
        frames = capacity;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(&m_ring[m_head * channels], data + i * channels, channels * sizeof(float));
        m_head = (m_head + 1) % capacity;
    }
    m_frames = std::min(capacity, m_frames + frames);
    m_end_time = end_time;
    m_active = true;
}

void vis_buffer::set_active(bool active) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_active = active;
}

bool vis_buffer::time(double& seconds) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_active) return false;
    seconds = m_end_time;
    return true;
}

bool vis_buffer::read(audio_chunk& chunk, double start, double length) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_frames == 0 || m_rate == 0 || !(length > 0.0)) return false;
    const double kept_start = m_end_time - double(m_frames) / m_rate;
    double end = start + length;
    if (end > m_end_time) end = m_end_time;
    double begin = end - length;
    if (begin < kept_start) begin = kept_start;
    const std::size_t skip_back = static_cast<std::size_t>((m_end_time - end) * m_rate + 0.5);
    std::size_t count = static_cast<std::size_t>((end - begin) * m_rate + 0.5);
    if (skip_back >= m_frames) return false;
    count = std::min(count, m_frames - skip_back);
    if (count == 0) return false;
    const std::size_t capacity = m_ring.size() / m_channels;
    // The oldest frame wanted, counted back from the newest.
    std::size_t pos = (m_head + capacity * 2 - skip_back - count) % capacity;
    chunk.assign_samples(nullptr, static_cast<zof::t_size>(count), m_channels, m_rate,
                         audio_chunk::default_channel_config(m_channels));
    float* out = chunk.samples();
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out + i * m_channels, &m_ring[pos * m_channels], m_channels * sizeof(float));
        pos = (pos + 1) % capacity;
    }
    return true;
}

void host_vis_manager::create_stream(service_ptr_t<vis_stream>& out, std::uint32_t) {
    out = make_service<host_vis_stream>(m_buffer);
}

// ---------------------------------------------------------------- player
player::player(bool echo_console) : m_api(m_registry) {
    m_console = make_service<host_console>();
    m_console->set_echo(echo_console);
    m_play_callbacks = make_service<host_play_callback_manager>(*this);
    m_capture = make_service<host_capture>(*this);
    m_registry.add(console::class_guid, m_console);
    m_registry.add(titleformat_compiler::class_guid, make_service<host_titleformat_compiler>());
    m_registry.add(playback_control::class_guid, make_service<host_playback_control>(*this));
    m_registry.add(play_callback_manager::class_guid, m_play_callbacks);
    m_registry.add(playback_stream_capture::class_guid, m_capture);
    m_registry.add(vis_stream_manager::class_guid, make_service<host_vis_manager>(m_vis));
    register_standard_dsps(m_registry);
}

player::~player() {
    stop();
    pump();
    m_registry.clear_all();
}

void player::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_tasks_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_tasks_cv.notify_all();
}

std::size_t player::pump() {
    std::size_t ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(m_tasks_mutex);
            if (m_tasks.empty()) return ran;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        try {
            task();
        } catch (...) {
            report("kestrune: main-thread task threw: " + describe(std::current_exception()));
        }
        ++ran;
    }
}

bool player::pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pump();
        if (done()) return true;
        std::unique_lock<std::mutex> lock(m_tasks_mutex);
        if (std::chrono::steady_clock::now() >= deadline) return done();
        m_tasks_cv.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(10)),
                              [this] { return !m_tasks.empty(); });
    }
}

void player::play(std::vector<track_spec> tracks, bool realtime) {
    stop();
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_stop_request = false;
        m_paused = false;
        m_finished = false;
    }
    m_thread = std::thread(&player::playback_thread, this, std::move(tracks), realtime);
}

void player::stop() {
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_stop_request = true;
    }
    m_state_cv.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void player::pause(bool paused) {
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        if (m_paused == paused) return;
        m_paused = paused;
    }
    m_state_cv.notify_all();
    post([this, paused] { m_play_callbacks->notify(play_callback::flag_pause, [paused](play_callback& cb) { cb.on_playback_pause(paused); }); });
}

bool player::is_playing() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_playing;
}

bool player::is_paused() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_playing && m_paused;
}

bool player::finished() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_finished;
}

service_ptr_t<host_track> player::playing_track() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_playing ? m_track : service_ptr_t<host_track>();
}

void player::set_dynamic_info(meta_list meta) {
    auto info = std::make_shared<host_track_info>(meta);
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_dynamic = host_track_info(std::move(meta));
    }
    post([this, info] {
        m_play_callbacks->notify(play_callback::flag_dynamic_info_track,
                                 [&](play_callback& cb) { cb.on_playback_dynamic_info_track(*info); });
    });
}

double player::playback_time() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_time;
}

bool player::track_field(const std::string& key, std::string& value, bool dynamic) const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    if (!m_playing || m_track.is_empty()) return false;
    if (dynamic) {
        if (const char* v = m_dynamic.meta_get(key.c_str())) {
            value = v;
            return true;
        }
    }
    if (const char* v = m_track->info().meta_get(key.c_str())) {
        value = v;
        return true;
    }
    if (same_name(key, "path")) {
        value = m_track->location_path();
        return true;
    }
    return false;
}

void player::report(const std::string& text) { m_console->print(text.c_str(), zof::infinite_size); }

void player::playback_thread(std::vector<track_spec> tracks, bool realtime) {
    host_chunk chunk;
    std::vector<float> buffer;
    bool stopped_by_user = false;
    try {
        for (auto& spec : tracks) {
            std::unique_ptr<audio_source> source;
            try {
                source = spec.open();
            } catch (const std::exception& e) {
                report("kestrune: cannot play " + spec.location + ": " + e.what());
                continue;
            }
            service_ptr_t<host_track> track = make_service<host_track>(spec.location, spec.meta);
            {
                std::lock_guard<std::mutex> lock(m_state_mutex);
                m_track = track;
                m_dynamic = host_track_info();
                m_playing = true;
            }
            post([this, track] {
                m_play_callbacks->notify(play_callback::flag_new_track, [&](play_callback& cb) {
                    cb.on_playback_new_track(service_ptr_t<track_handle>(track));
                });
            });
            const std::uint32_t rate = source->sample_rate();
            const std::uint32_t channels = source->channels();
            const std::size_t block = std::max<std::uint32_t>(1, rate / 50); // 20 ms
            buffer.resize(block * channels);
            auto due = std::chrono::steady_clock::now();
            for (;;) {
                {
                    std::unique_lock<std::mutex> lock(m_state_mutex);
                    if (m_paused) {
                        m_state_cv.wait(lock, [this] { return !m_paused || m_stop_request; });
                        due = std::chrono::steady_clock::now();
                    }
                    if (m_stop_request) {
                        stopped_by_user = true;
                        break;
                    }
                }
                const std::size_t n = source->read(buffer.data(), block);
                if (n == 0) break;
                chunk.assign_samples(buffer.data(), static_cast<zof::t_size>(n), channels, rate,
                                     audio_chunk::default_channel_config(channels));
                m_capture->deliver(chunk);
                double now;
                {
                    std::lock_guard<std::mutex> lock(m_state_mutex);
                    m_time += double(n) / rate;
                    now = m_time;
                }
                m_vis.write(buffer.data(), n, channels, rate, now);
                m_frames_delivered += n;
                if (realtime) {
                    due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(double(n) / rate));
                    std::unique_lock<std::mutex> lock(m_state_mutex);
                    m_state_cv.wait_until(lock, due, [this] { return m_stop_request; });
                }
            }
            if (stopped_by_user) break;
        }
    } catch (...) {
        report("kestrune: playback failed: " + describe(std::current_exception()));
    }
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_playing = false;
        m_finished = true;
        m_track.release();
    }
    m_vis.set_active(false);
    const auto reason = stopped_by_user ? play_callback::stop_user : play_callback::stop_eof;
    post([this, reason] {
        m_play_callbacks->notify(play_callback::flag_stop, [reason](play_callback& cb) { cb.on_playback_stop(reason); });
    });
}

} // namespace kestrune_host
