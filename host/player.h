#pragma once
// The stand-in player: its core API object and service registry, the
// services it offers components, its main thread's work going through that
// thread's message queue, its profile folder, and a playback engine whose
// capture thread plays a list of tracks in real time or as fast as the
// receivers take the audio.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio_source.h"
#include "fast_playback.h"
#include "listener_polling.h"
#include "host_chunk.h"
#include "kestrune.h"
#include "registry.h"
#include "win32/messages.h"

namespace kestrune_host {

class player;

// ---------------------------------------------------------------- tracks
typedef std::vector<std::pair<std::string, std::string>> meta_list;

class host_track_info final : public track_info {
public:
    host_track_info() = default;
    explicit host_track_info(meta_list meta) : m_meta(std::move(meta)) {}
    const char* meta_get(const char* name) const override;
    const meta_list& meta() const { return m_meta; }
private:
    meta_list m_meta;
};

class host_track : public track_handle {
public:
    host_track(std::string location, meta_list meta) : m_location(std::move(location)), m_info(std::move(meta)) {}
    const char* location_path() const override { return m_location.c_str(); }
    std::uint32_t subsong_index() const override { return 0; }
    const track_info& info() const override { return m_info; }
private:
    std::string m_location;
    host_track_info m_info;
};

// A track to play: where it is, its tags and how to open its audio.
struct track_spec {
    std::string location;
    meta_list meta;
    std::function<std::unique_ptr<audio_source>()> open;
};

// A generated signal with artist and title (either may be empty): one
// frequency for every channel, or one per channel (the last one repeats).
track_spec signal_track(const std::string& artist, const std::string& title, double seconds,
                        const std::vector<double>& frequencies, std::uint32_t rate = 44100, std::uint32_t channels = 2,
                        waveform shape = waveform::sine, float amplitude = 0.5f);
track_spec signal_track(const std::string& artist, const std::string& title, double seconds, double frequency = 440.0,
                        std::uint32_t rate = 44100, std::uint32_t channels = 2, waveform shape = waveform::sine,
                        float amplitude = 0.5f);
// A WAV file with the artist and title given; with no title, the file name
// without folder and extension.
track_spec file_track(const std::string& path, const std::string& artist = std::string(),
                      const std::string& title = std::string());

enum class play_speed {
    realtime, // at the speed of playback
    fast,     // as fast as the receivers take it; a new track's audio waits
              // until its notification has been delivered
};

// ---------------------------------------------------------------- services
// The player's console: keeps every line; optionally prints them.
class host_console : public console {
public:
    void print(const char* text, zof::t_size length) override;
    std::vector<std::string> lines() const;
    void clear();
    void set_echo(bool echo, const char* prefix = "console: ");
    // True when some line contains `text`.
    bool contains(const std::string& text) const;
    // Called with every line once it is kept, on the printing thread and
    // outside the console's lock (it may hold that thread); none when empty.
    void set_line_hook(std::function<void(const std::string&)> hook);
private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::shared_ptr<const std::function<void(const std::string&)>> m_hook;
    bool m_echo = false;
    std::string m_prefix;
};

class host_playback_control : public playback_control {
public:
    explicit host_playback_control(player& owner) : m_player(owner) {}
    bool is_playing() override;
    bool format_title(titleformat_hook* hook, zof::string_base& out, const service_ptr_t<titleformat_object>& script,
                      titleformat_text_filter* filter, std::uint32_t flags) override;
private:
    player& m_player;
};

class host_fast_playback : public fast_playback {
public:
    explicit host_fast_playback(player& owner) : m_player(owner) {}
    bool is_fast() override;
private:
    player& m_player;
};

// How often a front end without a window asks for listener lists (none
// unless set), and with which admin credentials.
class host_listener_polling : public listener_polling {
public:
    void set(std::uint32_t seconds, std::string user, std::string password);
    std::uint32_t interval_seconds() override;
    bool admin_credentials(zof::string_base& user, zof::string_base& password) override;
private:
    std::mutex m_mutex;
    std::uint32_t m_seconds = 0;
    bool m_have_credentials = false;
    std::string m_user;
    std::string m_password;
};

// A play callback that lets every notification pass; override the ones
// wanted.
class quiet_play_callback : public play_callback {
public:
    void on_playback_starting(std::uint32_t, bool) override {}
    void on_playback_new_track(service_ptr_t<track_handle>) override {}
    void on_playback_stop(stop_reason) override {}
    void on_playback_seek(double) override {}
    void on_playback_pause(bool) override {}
    void on_playback_edited(service_ptr_t<track_handle>) override {}
    void on_playback_dynamic_info(const track_info&) override {}
    void on_playback_dynamic_info_track(const track_info&) override {}
    void on_playback_time(double) override {}
    void on_volume_change(float) override {}
};

class host_play_callback_manager : public play_callback_manager {
public:
    explicit host_play_callback_manager(player& owner) : m_player(owner) {}
    void register_callback(play_callback* callback, std::uint32_t flags, bool forward_status) override;
    void unregister_callback(play_callback* callback) override;

    // Deliver one notification to every callback that asked for it, on the
    // calling thread. A callback that throws is reported on the console.
    void notify(std::uint32_t flag, const std::function<void(play_callback&)>& call);
    std::size_t registered() const;
    std::vector<play_callback*> callbacks() const;
private:
    bool wants(play_callback* callback, std::uint32_t flag) const;
    player& m_player;
    mutable std::mutex m_mutex;
    std::vector<std::pair<play_callback*, std::uint32_t>> m_callbacks;
};

class host_capture : public playback_stream_capture {
public:
    explicit host_capture(player& owner) : m_player(owner) {}
    void add_callback(playback_stream_capture_callback* callback) override;
    void remove_callback(playback_stream_capture_callback* callback) override;
    // Hands a chunk to every callback; removal waits for a delivery under
    // way, so no chunk reaches a callback after its removal returned.
    void deliver(const audio_chunk& chunk);
    std::size_t registered() const;
    std::vector<playback_stream_capture_callback*> callbacks() const;
private:
    player& m_player;
    mutable std::recursive_mutex m_mutex;
    std::vector<playback_stream_capture_callback*> m_callbacks;
    // The list a delivery walks, and whether one is under way.
    std::vector<playback_stream_capture_callback*> m_targets;
    bool m_delivering = false;
};

// The recently played audio, for visualisation.
class vis_buffer {
public:
    explicit vis_buffer(double seconds_kept = 2.0) : m_seconds(seconds_kept) {}
    void write(const float* data, std::size_t frames, std::uint32_t channels, std::uint32_t rate, double end_time);
    void set_active(bool active);
    bool time(double& seconds) const;
    // `length` seconds at `start`, moved back to end with the newest audio
    // when that is not played yet; false when nothing is kept.
    bool read(audio_chunk& chunk, double start, double length) const;
private:
    mutable std::mutex m_mutex;
    double m_seconds;
    std::vector<float> m_ring; // frames * channels, oldest first after m_head
    std::size_t m_frames = 0;   // frames kept
    std::size_t m_head = 0;     // next frame written
    std::uint32_t m_channels = 0;
    std::uint32_t m_rate = 0;
    double m_end_time = 0.0;
    bool m_active = false;
};

class host_vis_stream : public vis_stream {
public:
    explicit host_vis_stream(const vis_buffer& buffer) : m_buffer(buffer) {}
    bool get_time(double& seconds) override { return m_buffer.time(seconds); }
    bool get_chunk(audio_chunk& chunk, double start, double length) override { return m_buffer.read(chunk, start, length); }
private:
    const vis_buffer& m_buffer;
};

class host_vis_manager : public vis_stream_manager {
public:
    explicit host_vis_manager(const vis_buffer& buffer) : m_buffer(buffer) {}
    void create_stream(service_ptr_t<vis_stream>& out, std::uint32_t flags) override;
private:
    const vis_buffer& m_buffer;
};

// Raises the calling thread above the program's other threads, as a player
// runs its audio thread (above normal on Windows, nice -10 on Linux), or
// puts it back to normal; false when the system refuses.
bool set_audio_thread_priority(bool raised);

// ---------------------------------------------------------------- player
class player {
public:
    // Registers the player's services; `echo_console` prints console lines
    // to standard output as they come. The calling thread becomes the
    // player's main thread.
    explicit player(bool echo_console = false);
    ~player();
    player(const player&) = delete;
    player& operator=(const player&) = delete;

    host_api& api() { return m_api; }
    service_registry& registry() { return m_registry; }
    host_console& console_log() { return *m_console; }
    host_play_callback_manager& play_callbacks() { return *m_play_callbacks; }
    host_capture& capture() { return *m_capture; }
    host_listener_polling& listener_requests() { return *m_listener_polling; }

    // ---- the main thread
    // Work for the main thread (the play notifications among it), from any
    // thread. It reaches the main thread as a message to the player's own
    // message-only window, so it runs in whatever retrieves and dispatches
    // that thread's messages: run(), pump(), or a component's own pump.
    void post(std::function<void()> task);
    // On the main thread: dispatches the messages already queued, without
    // waiting; answers how many tasks ran. A quit request met here is put
    // back for the loop it belongs to.
    std::size_t pump();
    // Pumps until `done` answers true or the time is up.
    bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // The main thread's message loop: retrieves and dispatches messages
    // until quit() was called or WM_QUIT comes, then destroys the main
    // window (and with it the windows it owns). Answers the quit code.
    int run();
    // From any thread: run() ends after the message it is dispatching,
    // even when a component's pump swallows the quit message.
    void quit(int code = 0);

    // The window that owns the component's windows: on Windows a visible
    // top-level window titled "kestrune" (none without a display); on Linux
    // there is none. Call on the main thread before loading the component.
    bool create_main_window();
    // The commands of the main window's "View" menu, in order (on Linux,
    // where there is no window, they are only kept). Choosing one runs it
    // on the main thread; what it throws is reported on the console. An
    // empty list takes the menu away.
    struct menu_command {
        std::string label;
        std::function<void()> run;
    };
    void set_menu_commands(std::vector<menu_command> commands);

    // ---- the profile folder
    // Makes the folder when needed and hands it to components as
    // "file://" + folder. Throws std::runtime_error when it cannot be made.
    void set_profile_folder(const std::string& folder);
    const std::string& profile_folder() const { return m_profile_folder; }
    // The folder "kestrune" in the user's configuration folder (under the
    // home folder; %APPDATA% on Windows).
    static std::string default_profile_folder();

    // ---- playback
    // Plays the tracks in order on the capture thread; `seconds` > 0 ends
    // the list after that much audio.
    void play(std::vector<track_spec> tracks, play_speed speed = play_speed::realtime, double seconds = 0.0);
    // In the fast mode, called on the capture thread after each chunk; it
    // returns when the receivers can take more. None by default.
    void set_fast_pace(std::function<void()> pace);
    // Runs on the main thread after the stop notification of a list that
    // ended by itself (its end or its time limit), not after stop().
    void set_end_handler(std::function<void()> handler);
    // Stops and joins the capture thread; the stop notification follows.
    void stop();
    void pause(bool paused);
    // Playing, paused and the playing track as the main thread has been
    // told of them (the notifications delivered so far).
    bool is_playing() const;
    bool is_paused() const;
    service_ptr_t<host_track> playing_track() const;
    // The capture thread has ended.
    bool finished() const;
    // The list playing (or played last) plays as fast as the receivers
    // take it.
    bool plays_fast() const { return m_fast.load(); }
    // The playing source's new track information (a radio's title); the
    // fields change for the main thread with the notification.
    void set_dynamic_info(meta_list meta);
    // Seconds of audio played since the player started.
    double playback_time() const;
    std::uint64_t frames_delivered() const { return m_frames_delivered.load(); }

    // The value of a field of the playing track (dynamic information
    // first); false when nothing plays or the field has no value.
    bool track_field(const std::string& name, std::string& value, bool dynamic = true) const;

    // Reports a fault of a component on the player's console.
    void report(const std::string& text);

private:
    static LRESULT CALLBACK task_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void run_tasks();
    // Gives a keyboard message to the modeless dialog it belongs to (a
    // component's window, not the player's own), as IsDialogMessage does:
    // Tab, Enter, Escape and the dialog's mnemonics; true when taken.
    bool dialog_message(MSG& msg);
    void run_menu_command(std::size_t index);
    void announce_track(const service_ptr_t<host_track>& track, std::uint64_t serial);
    void announce_stop(play_callback::stop_reason reason, bool ended_by_itself);
    void playback_thread(std::vector<track_spec> tracks, play_speed speed, double seconds);

    service_registry m_registry;
    host_api m_api;
    service_ptr_t<host_console> m_console;
    service_ptr_t<host_play_callback_manager> m_play_callbacks;
    service_ptr_t<host_capture> m_capture;
    service_ptr_t<host_listener_polling> m_listener_polling;
    vis_buffer m_vis;

    // Main thread.
    HWND m_task_window = nullptr;
    HWND m_main_window = nullptr;
    HMENU m_menu = nullptr;
    std::vector<menu_command> m_menu_commands;
    std::atomic<bool> m_quit{false};
    std::atomic<int> m_quit_code{0};
    std::string m_profile_folder;

    std::mutex m_tasks_mutex;
    std::deque<std::function<void()>> m_tasks;

    mutable std::mutex m_state_mutex;
    std::condition_variable m_state_cv;
    std::thread m_thread;
    std::function<void()> m_pace;
    std::function<void()> m_end_handler;
    // The capture thread's side.
    bool m_stop_request = false;
    bool m_paused = false;
    bool m_finished = false;
    double m_time = 0.0;
    // What the main thread was told: the announced track, its dynamic
    // information and how many tracks were announced.
    bool m_playing = false;
    service_ptr_t<host_track> m_track;
    host_track_info m_dynamic;
    std::uint64_t m_announced = 0;
    std::uint64_t m_started = 0;
    std::atomic<std::uint64_t> m_frames_delivered{0};
    std::atomic<bool> m_fast{false};
};

} // namespace kestrune_host
