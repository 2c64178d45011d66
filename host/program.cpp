// The kestrune program.
#include "program.h"

#include <Poco/NumberParser.h>
#include <Poco/Path.h>
#include <Poco/StringTokenizer.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

#include "component_loader.h"
#include "host_string.h"

#if defined(_WIN32)
#include <shellapi.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kestrune_host {

namespace {

const char kUsage[] =
    "usage: kestrune [options] [track...]\n"
    "Loads the component, shows what it registers and runs its menu command; then\n"
    "plays the tracks in order and ends when the list ends or a signal comes. On\n"
    "Windows its main window's View menu runs the menu command again; closing the\n"
    "window ends the program, which without tracks runs until then.\n"
    "\n"
    "options:\n"
    "  --component PATH   the component (default: the one beside this program)\n"
    "  --no-component     play without loading any component (the player's own\n"
    "                     cost, for comparison)\n"
    "  --profile DIR      the profile folder (default: kestrune in the user's\n"
    "                     configuration folder)\n"
    "  --fast             play as fast as the component takes the audio\n"
    "                     (default: in real time)\n"
    "  --seconds N        end the list after N seconds of audio\n"
    "  --listeners N      have the component ask every running stream for its\n"
    "                     listeners every N seconds (where it has no window)\n"
    "  --admin USER:PASSWORD  the admin credentials for those requests, where\n"
    "                     a server asks for them (SHOUTcast v2)\n"
    "tracks:\n"
    "  --signal SECONDS   a generated sine tone, with any of\n"
    "      --artist TEXT --title TEXT\n"
    "      --freq HZ[,HZ...]  one frequency, or one per channel (default 440)\n"
    "      --rate HZ          (default 44100)   --channels N  (default 2)\n"
    "  --wav FILE         a WAV file, with any of --artist TEXT --title TEXT\n"
    "                     (the title is the file's name unless given)\n";

bool positive_number(const std::string& text, double& out) {
    return Poco::NumberParser::tryParseFloat(text, out) && out > 0.0 && out < 1e9;
}

bool whole_number(const std::string& text, std::uint32_t low, std::uint32_t high, std::uint32_t& out) {
    unsigned value = 0;
    if (!Poco::NumberParser::tryParseUnsigned(text, value) || value < low || value > high) return false;
    out = value;
    return true;
}

#if defined(_WIN32)
std::string narrow(const wchar_t* w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string s(std::size_t(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    return s;
}
#endif

void print_indented(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::printf("  %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// Shows what the component registered and runs its menu commands.
void show_component(player& host, component_module& module) {
    std::printf("component: %s\n", module.full_path().c_str());

    std::printf("factories:");
    for (const GUID& g : module.factory_classes()) std::printf(" %s", guid_text(g).c_str());
    std::printf("\n");

    if (auto version = host.registry().get<componentversion>()) {
        host_string name, ver, file, about;
        version->display_name(name);
        version->version_text(ver);
        version->module_file(file);
        version->about_text(about);
        std::printf("name: %s\nversion: %s\nmodule file: %s\nabout:\n", name.text(), ver.text(), file.text());
        print_indented(about.str());
    } else {
        std::printf("no component version\n");
    }

    if (auto validator = host.registry().get<component_installation_validator>())
        std::printf("installation check: %s\n", validator->file_name_matches() ? "file name matches" : "file name differs");

    // The owner of the component's windows, as the core API hands it out.
    if (const host_window owner = host.api().main_window())
        std::printf("main window: %#lx\n", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(owner)));
    else
        std::printf("main window: none\n");

    if (auto menu = host.registry().get<mainmenu_commands>()) {
        for (std::uint32_t i = 0; i < menu->command_total(); ++i) {
            host_string label, help;
            menu->command_label(i, label);
            menu->command_help(i, help);
            std::printf("menu command %u: \"%s\" (%s) %s in %s\n", unsigned(i), label.text(), help.text(),
                        guid_text(menu->command_guid(i)).c_str(), guid_text(menu->parent_menu_guid()).c_str());
            menu->run_command(i, service_ptr());
        }
        // The main window's menu runs them again.
        std::vector<player::menu_command> commands;
        for (std::uint32_t i = 0; i < menu->command_total(); ++i) {
            host_string label;
            menu->command_label(i, label);
            commands.push_back({label.str(), [menu, i] { menu->run_command(i, service_ptr()); }});
        }
        host.set_menu_commands(std::move(commands));
    } else {
        std::printf("no menu command\n");
    }
    std::fflush(stdout);
}

// The player's own display of the playing track.
class track_printer final : public quiet_play_callback {
public:
    void on_playback_new_track(service_ptr_t<track_handle> track) override {
        const char* artist = track->info().meta_get("artist");
        const char* title = track->info().meta_get("title");
        std::printf("track: %s%s%s\n", artist ? artist : "", artist ? " - " : "", title ? title : track->location_path());
        std::fflush(stdout);
    }
};

} // namespace

// ---------------------------------------------------------------- options
std::vector<std::string> program_arguments(int argc, char** argv) {
    std::vector<std::string> args;
#if defined(_WIN32)
    (void)argc;
    (void)argv;
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide) {
        for (int i = 1; i < n; ++i) args.push_back(narrow(wide[i]));
        LocalFree(wide);
    }
#else
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
#endif
    return args;
}

const char* usage_text() { return kUsage; }

bool parse_options(const std::vector<std::string>& args, program_options& o, std::string& error) {
    auto value = [&](std::size_t& i, std::string& out) {
        if (i + 1 >= args.size()) {
            error = args[i] + " needs a value";
            return false;
        }
        out = args[++i];
        return true;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--fast") {
            o.speed = play_speed::fast;
        } else if (a == "--no-component") {
            o.no_component = true;
        } else if (a == "--component" || a == "--profile") {
            if (!value(i, v)) return false;
            (a == "--component" ? o.component : o.profile) = v;
        } else if (a == "--seconds") {
            if (!value(i, v)) return false;
            if (!positive_number(v, o.seconds)) {
                error = "--seconds takes a number of seconds above 0, not \"" + v + "\"";
                return false;
            }
        } else if (a == "--listeners") {
            if (!value(i, v)) return false;
            if (!whole_number(v, 1, 86400, o.listener_seconds)) {
                error = "--listeners takes a number of seconds from 1 to 86400, not \"" + v + "\"";
                return false;
            }
        } else if (a == "--admin") {
            if (!value(i, v)) return false;
            const std::size_t colon = v.find(':');
            if (colon == std::string::npos || colon == 0) {
                error = "--admin takes USER:PASSWORD, not \"" + v + "\"";
                return false;
            }
            o.admin_user = v.substr(0, colon);
            o.admin_password = v.substr(colon + 1);
        } else if (a == "--signal" || a == "--wav") {
            if (!value(i, v)) return false;
            playlist_entry e;
            e.generated = a == "--signal";
            if (!e.generated) {
                e.path = v;
            } else if (!positive_number(v, e.seconds)) {
                error = "--signal takes a number of seconds above 0, not \"" + v + "\"";
                return false;
            }
            o.playlist.push_back(e);
        } else if (a == "--artist" || a == "--title" || a == "--freq" || a == "--rate" || a == "--channels") {
            if (!value(i, v)) return false;
            if (o.playlist.empty()) {
                error = a + " belongs after --signal or --wav";
                return false;
            }
            playlist_entry& e = o.playlist.back();
            if (a == "--artist") {
                e.artist = v;
            } else if (a == "--title") {
                e.title = v;
            } else if (!e.generated) {
                error = a + " belongs to a generated signal, not to a WAV file";
                return false;
            } else if (a == "--freq") {
                e.frequencies.clear();
                Poco::StringTokenizer parts(v, ",", Poco::StringTokenizer::TOK_TRIM);
                for (const std::string& part : parts) {
                    double f = 0.0;
                    if (!positive_number(part, f)) {
                        error = "--freq takes frequencies above 0 separated by commas, not \"" + v + "\"";
                        return false;
                    }
                    e.frequencies.push_back(f);
                }
                if (e.frequencies.empty()) {
                    error = "--freq needs a frequency";
                    return false;
                }
            } else if (a == "--rate") {
                if (!whole_number(v, 1000, 768000, e.rate)) {
                    error = "--rate takes a sample rate from 1000 to 768000, not \"" + v + "\"";
                    return false;
                }
            } else if (!whole_number(v, 1, 8, e.channels)) {
                error = "--channels takes a channel count from 1 to 8, not \"" + v + "\"";
                return false;
            }
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    return true;
}

std::vector<track_spec> make_tracks(const std::vector<playlist_entry>& playlist) {
    std::vector<track_spec> tracks;
    for (const auto& e : playlist) {
        tracks.push_back(e.generated ? signal_track(e.artist, e.title, e.seconds, e.frequencies, e.rate, e.channels)
                                     : file_track(e.path, e.artist, e.title));
    }
    return tracks;
}

// ---------------------------------------------------------------- signals
#if defined(_WIN32)
namespace {
std::atomic<player*> g_console_player{nullptr};
std::atomic<bool> g_console_signalled{false};

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        if (player* p = g_console_player.load()) {
            g_console_signalled = true;
            p->quit(0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
} // namespace

struct signal_watch::impl {};

signal_watch::signal_watch(player& host) : m_impl(nullptr) {
    g_console_signalled = false;
    g_console_player = &host;
    // Installed after the component's own handlers, so it is asked first.
    SetConsoleCtrlHandler(&on_console_event, TRUE);
}

signal_watch::~signal_watch() {
    g_console_player = nullptr;
    SetConsoleCtrlHandler(&on_console_event, FALSE);
}

bool signal_watch::signalled() const { return g_console_signalled; }
#else
namespace {
// The write end the handler reports to; only write() happens in the
// handler.
std::atomic<int> g_signal_pipe{-1};

extern "C" void on_signal(int) {
    const int saved = errno;
    const char byte = 1;
    const int fd = g_signal_pipe.load();
    if (fd >= 0) (void)!::write(fd, &byte, 1);
    errno = saved;
}
} // namespace

struct signal_watch::impl {
    explicit impl(player& h) : host(h) {}
    player& host;
    int signals[2] = {-1, -1};
    int stop[2] = {-1, -1};
    struct sigaction old_int {};
    struct sigaction old_term {};
    std::thread thread;
    std::atomic<bool> signalled{false};

    void watch() {
        pollfd fds[2] = {{signals[0], POLLIN, 0}, {stop[0], POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            if (fds[0].revents) {
                char bytes[16];
                (void)!::read(signals[0], bytes, sizeof bytes);
                signalled = true;
                host.quit(0);
            }
        }
    }
};

signal_watch::signal_watch(player& host) : m_impl(new impl(host)) {
    if (::pipe2(m_impl->signals, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(m_impl->stop, O_CLOEXEC) != 0) {
        for (int fd : {m_impl->signals[0], m_impl->signals[1], m_impl->stop[0], m_impl->stop[1]})
            if (fd >= 0) ::close(fd);
        delete m_impl;
        throw std::runtime_error("cannot watch for signals");
    }
    g_signal_pipe = m_impl->signals[1];
    struct sigaction sa {};
    sa.sa_handler = &on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &m_impl->old_int);
    sigaction(SIGTERM, &sa, &m_impl->old_term);
    m_impl->thread = std::thread(&impl::watch, m_impl);
}

signal_watch::~signal_watch() {
    sigaction(SIGINT, &m_impl->old_int, nullptr);
    sigaction(SIGTERM, &m_impl->old_term, nullptr);
    g_signal_pipe = -1;
    const char byte = 1;
    (void)!::write(m_impl->stop[1], &byte, 1);
    m_impl->thread.join();
    for (int fd : {m_impl->signals[0], m_impl->signals[1], m_impl->stop[0], m_impl->stop[1]}) ::close(fd);
    delete m_impl;
}

bool signal_watch::signalled() const { return m_impl->signalled; }
#endif

// ---------------------------------------------------------------- the run
int run_program(const program_options& o) {
    player host(true);
    host.console_log().set_echo(true, "console: ");
    host.set_profile_folder(o.profile.empty() ? player::default_profile_folder()
                                              : Poco::Path(o.profile).absolute().toString());
    std::printf("profile: %s\n", host.profile_folder().c_str());
    host.create_main_window();

    // The player's own display, registered before the component comes.
    track_printer printer;
    host.play_callbacks().register_callback(&printer, play_callback::flag_new_track, false);
    host.listener_requests().set(o.listener_seconds, o.admin_user, o.admin_password);
    int status = 0;
    try {
        // Signals are watched before the component's menu command runs
        // (which may take long, starting streams against slow servers) and
        // until the component is unloaded: a signal then ends the run the
        // usual way, and the component stops its streams and writes its
        // settings.
        signal_watch signals(host);
        std::unique_ptr<component_module> module;
        if (!o.no_component)
            module.reset(new component_module(
                host, o.component.empty() ? program_folder() + component_file_name() : o.component));
        // The menu holds the component's service: it goes before the
        // component does.
        struct menu_scope {
            player& host;
            ~menu_scope() { host.set_menu_commands({}); }
        } menu_scope{host};
        if (module)
            show_component(host, *module);
        if (signals.signalled()) {
            host.pump();
            std::printf("stopped by a signal\n");
        } else if (o.playlist.empty() && !host.api().main_window()) {
            host.pump();
        } else {
            // With a main window and no tracks, the player runs until the
            // window is closed (its menu opens the component's window).
            bool ended = false;
            host.set_end_handler([&] {
                ended = true;
                host.quit(0);
            });
            if (!o.playlist.empty()) host.play(make_tracks(o.playlist), o.speed, o.seconds);
            status = host.run();
            host.stop();
            host.pump();
            host.set_end_handler(nullptr);
            std::printf("%s\n", ended ? "end of list" : signals.signalled() ? "stopped by a signal" : "main window closed");
        }
    } catch (...) {
        host.play_callbacks().unregister_callback(&printer);
        throw;
    }
    host.play_callbacks().unregister_callback(&printer);
    return status;
}

} // namespace kestrune_host
