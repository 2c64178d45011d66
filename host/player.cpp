// The stand-in player.
#include "player.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <stdexcept>

#include "dsp_services.h"
#include "host_string.h"
#include "titleformat.h"

#if !defined(_WIN32)
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

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

bool set_audio_thread_priority(bool raised) {
#if defined(_WIN32)
    return SetThreadPriority(GetCurrentThread(), raised ? THREAD_PRIORITY_ABOVE_NORMAL : THREAD_PRIORITY_NORMAL) != 0;
#else
    // A thread's nice value is its own on Linux; lowering it needs the
    // privilege (or a nice limit) to do so.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), raised ? -10 : 0) == 0;
#endif
}

// ---------------------------------------------------------------- tracks
const char* host_track_info::meta_get(const char* name) const {
    if (!name) return nullptr;
    for (const auto& kv : m_meta)
        if (same_name(kv.first, name)) return kv.second.c_str();
    return nullptr;
}

track_spec signal_track(const std::string& artist, const std::string& title, double seconds,
                        const std::vector<double>& frequencies, std::uint32_t rate, std::uint32_t channels,
                        waveform shape, float amplitude) {
    track_spec t;
    t.location = "signal://";
    for (std::size_t i = 0; i < frequencies.size(); ++i)
        t.location += (i ? "," : "") + std::to_string(static_cast<long long>(frequencies[i]));
    t.location += "Hz";
    if (!artist.empty()) t.meta.emplace_back("artist", artist);
    if (!title.empty()) t.meta.emplace_back("title", title);
    t.open = [=] { return make_signal(shape, frequencies, amplitude, rate, channels, seconds); };
    return t;
}

track_spec signal_track(const std::string& artist, const std::string& title, double seconds, double frequency,
                        std::uint32_t rate, std::uint32_t channels, waveform shape, float amplitude) {
    return signal_track(artist, title, seconds, std::vector<double>{frequency}, rate, channels, shape, amplitude);
}

track_spec file_track(const std::string& path, const std::string& artist, const std::string& title) {
    track_spec t;
    t.location = path;
    std::string name = title;
    if (name.empty()) {
        name = path;
        const std::size_t slash = name.find_last_of("/\\");
        if (slash != std::string::npos) name.erase(0, slash + 1);
        const std::size_t dot = name.find_last_of('.');
        if (dot != std::string::npos && dot != 0) name.erase(dot);
    }
    if (!artist.empty()) t.meta.emplace_back("artist", artist);
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
    std::shared_ptr<const std::function<void(const std::string&)>> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_echo) {
            std::printf("%s%s\n", m_prefix.c_str(), line.c_str());
            std::fflush(stdout);
        }
        m_lines.push_back(line);
        hook = m_hook;
    }
    if (hook) (*hook)(line);
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

void host_console::set_line_hook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = hook ? std::make_shared<const std::function<void(const std::string&)>>(std::move(hook)) : nullptr;
}

bool host_console::contains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& l : m_lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

// ---------------------------------------------------------------- playback control
bool host_playback_control::is_playing() { return m_player.is_playing(); }

bool host_fast_playback::is_fast() { return m_player.plays_fast(); }

void host_listener_polling::set(std::uint32_t seconds, std::string user, std::string password) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seconds = seconds;
    m_have_credentials = !user.empty() || !password.empty();
    m_user = std::move(user);
    m_password = std::move(password);
}

std::uint32_t host_listener_polling::interval_seconds() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_seconds;
}

bool host_listener_polling::admin_credentials(zof::string_base& user, zof::string_base& password) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_have_credentials) return false;
    user.assign(m_user.c_str());
    password.assign(m_password.c_str());
    return true;
}

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

std::vector<play_callback*> host_play_callback_manager::callbacks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<play_callback*> out;
    for (const auto& e : m_callbacks) out.push_back(e.first);
    return out;
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
    // The list as it was when the chunk came (a callback may change it),
    // in storage kept from chunk to chunk: the audio thread allocates
    // nothing per chunk. A delivery from inside a callback copies anew.
    std::vector<playback_stream_capture_callback*> nested;
    std::vector<playback_stream_capture_callback*>& targets = m_delivering ? nested : m_targets;
    targets.assign(m_callbacks.begin(), m_callbacks.end());
    struct Depth {
        bool& flag;
        bool was;
        ~Depth() { flag = was; }
    } depth{m_delivering, m_delivering};
    m_delivering = true;
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

std::vector<playback_stream_capture_callback*> host_capture::callbacks() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_callbacks;
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
    // In two pieces at most: up to the ring's end, then from its start.
    const std::size_t first = std::min(frames, capacity - m_head);
    std::memcpy(&m_ring[m_head * channels], data, first * channels * sizeof(float));
    std::memcpy(&m_ring[0], data + first * channels, (frames - first) * channels * sizeof(float));
    m_head = (m_head + frames) % capacity;
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
namespace {

const wchar_t* const kTaskWindowClass = L"kestrune tasks";
const wchar_t* const kMainWindowClass = L"kestrune";
// "The task list has work": posted to the task window.
const UINT kTaskMessage = WM_APP + 1;
// The main window's menu commands, in order from this id.
const UINT kFirstMenuCommand = 1000;

#if defined(_WIN32)
std::wstring widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring out(std::size_t(n - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    return out;
}
#endif

HINSTANCE program_instance() {
#if defined(_WIN32)
    return GetModuleHandleW(nullptr);
#else
    return nullptr;
#endif
}

// Registers a window class once per process; a second registration of the
// same class is no failure.
void register_class(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = program_instance();
    wc.lpszClassName = name;
#if defined(_WIN32)
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
#endif
    RegisterClassW(&wc);
}

} // namespace

player::player(bool echo_console) : m_api(m_registry) {
    m_console = make_service<host_console>();
    m_console->set_echo(echo_console);
    m_play_callbacks = make_service<host_play_callback_manager>(*this);
    m_capture = make_service<host_capture>(*this);
    m_listener_polling = make_service<host_listener_polling>();
    m_registry.add(console::class_guid, m_console);
    m_registry.add(titleformat_compiler::class_guid, make_service<host_titleformat_compiler>());
    m_registry.add(playback_control::class_guid, make_service<host_playback_control>(*this));
    m_registry.add(play_callback_manager::class_guid, m_play_callbacks);
    m_registry.add(playback_stream_capture::class_guid, m_capture);
    m_registry.add(fast_playback::class_guid, make_service<host_fast_playback>(*this));
    m_registry.add(listener_polling::class_guid, m_listener_polling);
    m_registry.add(vis_stream_manager::class_guid, make_service<host_vis_manager>(m_vis));
    register_standard_dsps(m_registry);

    register_class(kTaskWindowClass, &player::task_window_procedure);
    m_task_window = CreateWindowExW(0, kTaskWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, program_instance(),
                                    nullptr);
    if (!m_task_window) throw std::runtime_error("kestrune: cannot make the task window");
    SetWindowLongPtrW(m_task_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

player::~player() {
    stop();
    pump();
    if (m_main_window) DestroyWindow(m_main_window);
    // Tasks still queued have nobody left to run them.
    SetWindowLongPtrW(m_task_window, GWLP_USERDATA, 0);
    DestroyWindow(m_task_window);
    m_registry.clear_all();
}

LRESULT CALLBACK player::task_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != kTaskMessage) return DefWindowProcW(window, message, wparam, lparam);
    if (auto* self = reinterpret_cast<player*>(GetWindowLongPtrW(window, GWLP_USERDATA))) self->run_tasks();
    return 0;
}

LRESULT CALLBACK player::main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<player*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_DESTROY && self) {
        // Closed by the user, or by run() at its end: the program ends.
        // run() sees that after the message it dispatches.
        self->m_main_window = nullptr;
        self->m_menu = nullptr;  // destroyed with the window
        self->m_api.set_main_window(host_window());
        self->m_quit = true;
        return 0;
    }
#if defined(_WIN32)
    if (message == WM_COMMAND && self && HIWORD(wparam) == 0 && LOWORD(wparam) >= kFirstMenuCommand) {
        self->run_menu_command(LOWORD(wparam) - kFirstMenuCommand);
        return 0;
    }
#endif
    return DefWindowProcW(window, message, wparam, lparam);
}

void player::run_menu_command(std::size_t index) {
    if (index >= m_menu_commands.size()) return;
    // A copy: the command may change the menu.
    const std::function<void()> command = m_menu_commands[index].run;
    try {
        if (command) command();
    } catch (const std::exception& e) {
        report(std::string("menu command failed: ") + e.what());
    } catch (...) {
        report("menu command failed");
    }
}

void player::set_menu_commands(std::vector<menu_command> commands) {
    m_menu_commands = std::move(commands);
#if defined(_WIN32)
    if (!m_main_window) return;
    HMENU old = m_menu;
    m_menu = nullptr;
    if (!m_menu_commands.empty()) {
        m_menu = CreateMenu();
        HMENU view = CreatePopupMenu();
        for (std::size_t i = 0; i < m_menu_commands.size(); ++i)
            AppendMenuW(view, MF_STRING, kFirstMenuCommand + i, widen(m_menu_commands[i].label).c_str());
        AppendMenuW(m_menu, MF_POPUP, reinterpret_cast<UINT_PTR>(view), L"&View");
    }
    SetMenu(m_main_window, m_menu);
    if (old) DestroyMenu(old);
    DrawMenuBar(m_main_window);
#endif
}

bool player::dialog_message(MSG& msg) {
#if defined(_WIN32)
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST || !msg.hwnd) return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (!root || root == m_main_window) return false;
    wchar_t name[16] = {};
    // Only dialogs: a component's modeless window is one.
    if (GetClassNameW(root, name, 16) == 0 || std::wcscmp(name, L"#32770") != 0) return false;
    return IsDialogMessageW(root, &msg) != FALSE;
#else
    (void)msg;
    return false;
#endif
}

void player::post(std::function<void()> task) {
    bool first;
    {
        std::lock_guard<std::mutex> lock(m_tasks_mutex);
        first = m_tasks.empty();
        m_tasks.push_back(std::move(task));
    }
    // One message stands for every task queued behind it.
    if (first) PostMessageW(m_task_window, kTaskMessage, 0, 0);
}

void player::run_tasks() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(m_tasks_mutex);
            if (m_tasks.empty()) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        try {
            task();
        } catch (...) {
            report("kestrune: main-thread task threw: " + describe(std::current_exception()));
        }
    }
}

std::size_t player::pump() {
    std::size_t ran = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (msg.hwnd == m_task_window && msg.message == kTaskMessage) {
            std::lock_guard<std::mutex> lock(m_tasks_mutex);
            ran += m_tasks.size();
        }
        if (dialog_message(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return ran;
}

bool player::pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pump();
        if (done()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return done();
        // A short wait also catches what changes without a message.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left, 10)), QS_ALLINPUT);
    }
}

int player::run() {
    MSG msg;
    int code = 0;
    while (!m_quit) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            code = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) break;
        if (dialog_message(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (m_quit) code = m_quit_code;
    // Back at the top of the loop: the windows close here, never inside a
    // pump of a component that may own one of them.
    if (m_main_window) DestroyWindow(m_main_window);
    return code;
}

void player::quit(int code) {
    m_quit_code = code;
    m_quit = true;
    // Wakes the loop; a pump that swallows it still returns to run(),
    // which sees the request.
    post([] {});
}

bool player::create_main_window() {
#if defined(_WIN32)
    if (m_main_window) return true;
    register_class(kMainWindowClass, &player::main_window_procedure);
    m_main_window = CreateWindowExW(0, kMainWindowClass, L"kestrune", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    360, 120, nullptr, nullptr, program_instance(), nullptr);
    if (!m_main_window) return false;
    SetWindowLongPtrW(m_main_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(m_main_window, SW_SHOWNOACTIVATE);
    m_api.set_main_window(m_main_window);
    return true;
#else
    (void)kMainWindowClass;
    return false;
#endif
}

void player::set_profile_folder(const std::string& folder) {
    try {
        Poco::File(folder).createDirectories();
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("cannot make the profile folder " + folder + ": " + e.displayText());
    }
    m_profile_folder = folder;
    m_api.set_profile_path("file://" + folder);
}

std::string player::default_profile_folder() {
    Poco::Path folder(Poco::Path::configHome());
    folder.makeDirectory();
    folder.setFileName("kestrune");
    return folder.toString();
}

void player::play(std::vector<track_spec> tracks, play_speed speed, double seconds) {
    stop();
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_stop_request = false;
        m_paused = false;
        m_finished = false;
    }
    m_fast = speed == play_speed::fast;
    m_thread = std::thread(&player::playback_thread, this, std::move(tracks), speed, seconds);
}

void player::set_fast_pace(std::function<void()> pace) {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    m_pace = std::move(pace);
}

void player::set_end_handler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    m_end_handler = std::move(handler);
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
    auto info = std::make_shared<host_track_info>(std::move(meta));
    post([this, info] {
        {
            std::lock_guard<std::mutex> lock(m_state_mutex);
            m_dynamic = *info;
        }
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

// On the main thread: from here on the track is the playing one, for the
// callbacks told of it and for everybody who formats a title meanwhile.
void player::announce_track(const service_ptr_t<host_track>& track, std::uint64_t serial) {
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_track = track;
        m_dynamic = host_track_info();
        m_playing = true;
    }
    m_play_callbacks->notify(play_callback::flag_new_track, [&](play_callback& cb) {
        cb.on_playback_new_track(service_ptr_t<track_handle>(track));
    });
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_announced = std::max(m_announced, serial);
    }
    m_state_cv.notify_all();
}

void player::announce_stop(play_callback::stop_reason reason, bool ended_by_itself) {
    std::function<void()> end;
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_playing = false;
        m_track.release();
        m_dynamic = host_track_info();
        if (ended_by_itself) end = m_end_handler;
    }
    m_play_callbacks->notify(play_callback::flag_stop, [reason](play_callback& cb) { cb.on_playback_stop(reason); });
    if (end) end();
}

void player::playback_thread(std::vector<track_spec> tracks, play_speed speed, double seconds) {
    // Where that is refused, the thread plays at its normal priority.
    set_audio_thread_priority(true);
#if defined(__linux__)
    // Named for the system's tools (top -H, /proc/PID/task).
    pthread_setname_np(pthread_self(), "kestrune-audio");
#endif
    host_chunk chunk;
    std::vector<float> buffer;
    bool stopped_by_user = false;
    const bool realtime = speed == play_speed::realtime;
    double played = 0.0;
    bool limit_reached = false;
    try {
        for (auto& spec : tracks) {
            if (limit_reached || (seconds > 0.0 && played >= seconds - 1e-9)) break;
            std::unique_ptr<audio_source> source;
            try {
                source = spec.open();
            } catch (const std::exception& e) {
                report("kestrune: cannot play " + spec.location + ": " + e.what());
                continue;
            }
            service_ptr_t<host_track> track = make_service<host_track>(spec.location, spec.meta);
            std::uint64_t serial;
            {
                std::lock_guard<std::mutex> lock(m_state_mutex);
                serial = ++m_started;
            }
            post([this, track, serial] { announce_track(track, serial); });
            if (!realtime) {
                // The track's audio follows its notification, so that what
                // the callbacks do about the new track comes at its start.
                std::unique_lock<std::mutex> lock(m_state_mutex);
                m_state_cv.wait(lock, [&] { return m_announced >= serial || m_stop_request; });
            }
            const std::uint32_t rate = source->sample_rate();
            const std::uint32_t channels = source->channels();
            const std::size_t block = std::max<std::uint32_t>(1, rate / 50); // 20 ms
            buffer.resize(block * channels);
            auto due = std::chrono::steady_clock::now();
            for (;;) {
                std::function<void()> pace;
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
                    if (!realtime) pace = m_pace;
                }
                std::size_t want = block;
                if (seconds > 0.0) {
                    const double left = (seconds - played) * rate;
                    if (left < 1.0) {
                        limit_reached = true;
                        break;
                    }
                    if (left < double(want)) want = static_cast<std::size_t>(left);
                }
                const std::size_t n = source->read(buffer.data(), want);
                if (n == 0) break;
                chunk.assign_samples(buffer.data(), static_cast<zof::t_size>(n), channels, rate,
                                     audio_chunk::default_channel_config(channels));
                m_capture->deliver(chunk);
                played += double(n) / rate;
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
                } else if (pace) {
                    pace();
                }
            }
            if (stopped_by_user) break;
        }
    } catch (...) {
        report("kestrune: playback failed: " + describe(std::current_exception()));
    }
    {
        std::lock_guard<std::mutex> lock(m_state_mutex);
        m_finished = true;
    }
    m_vis.set_active(false);
    const auto reason = stopped_by_user ? play_callback::stop_user : play_callback::stop_eof;
    post([this, reason, stopped_by_user] { announce_stop(reason, !stopped_by_user); });
}

} // namespace kestrune_host
