#pragma once
// The kestrune program: its options, its playlist and its run: load the
// component, show what it registers, run its menu command, then play the
// list with the main thread in the player's message loop until the list
// ends, a signal comes or the main window (Windows) is closed, and unload
// the component.
#include <string>
#include <vector>

#include "player.h"

namespace kestrune_host {

// One entry of the playlist as the command line gives it.
struct playlist_entry {
    bool generated = true; // a generated signal; else a WAV file
    std::string path;      // the WAV file
    std::string artist;
    std::string title;
    double seconds = 0.0;
    std::vector<double> frequencies{440.0};
    std::uint32_t rate = 44100;
    std::uint32_t channels = 2;
};

struct program_options {
    std::string component;     // empty: the component beside the program
    bool no_component = false; // play without loading any component
    std::string profile;       // empty: player::default_profile_folder()
    play_speed speed = play_speed::realtime;
    double seconds = 0.0;      // > 0: end the list after this much audio
    std::vector<playlist_entry> playlist;
    // > 0: a front end without a window asks every running stream for its
    // listeners this often; with the admin credentials when given.
    std::uint32_t listener_seconds = 0;
    std::string admin_user;
    std::string admin_password;
    bool help = false;
};

// The program's arguments as UTF-8 (on Windows read from the wide command
// line, so that any folder name passes).
std::vector<std::string> program_arguments(int argc, char** argv);

// Reads the arguments (without the program's name); false with the reason
// in `error` when one is wrong.
bool parse_options(const std::vector<std::string>& args, program_options& options, std::string& error);
const char* usage_text();

std::vector<track_spec> make_tracks(const std::vector<playlist_entry>& playlist);

// While it exists, SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break and
// closing the console) end the player's loop instead of the process.
class signal_watch {
public:
    explicit signal_watch(player& host);
    ~signal_watch();
    signal_watch(const signal_watch&) = delete;
    signal_watch& operator=(const signal_watch&) = delete;
    // A signal came.
    bool signalled() const;

private:
    struct impl;
    impl* m_impl;
};

// Runs the program; answers its exit status.
int run_program(const program_options& options);

} // namespace kestrune_host
