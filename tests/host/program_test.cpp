// The kestrune program, run as a child process: it loads the component,
// shows it, plays its list into it at the speed asked, ends when the list
// ends or a signal comes, unloads the component and ends with status 0
// (under the sanitizers a leak would change that status).
#include <gtest/gtest.h>

#include <Poco/File.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "component_loader.h"
#include "program_run.h"
#include "temp_dir.h"
#include "wav_file.h"

namespace {

struct run_result {
    std::string output;
    int status = -1;
};

std::string quoted(const std::string& argument) {
#if defined(_WIN32)
    return "\"" + argument + "\"";
#else
    return "'" + argument + "'";
#endif
}

std::string without_cr(const std::string& text) {
    std::string clean;
    for (char c : text)
        if (c != '\r') clean += c;
    return clean;
}

// Runs a program of the bin folder; arguments are UTF-8 and quoted here.
run_result run_child(const std::string& program, const std::vector<std::string>& arguments) {
    std::string command = quoted(kestrune_host::program_folder() + program
#if defined(_WIN32)
                                 + ".exe"
#endif
    );
    for (const auto& a : arguments) command += " " + quoted(a);
    command += " 2>&1";
#if defined(_WIN32)
    // The shell takes off the outermost quotes; the wide form lets any
    // folder name pass.
    command = "\"" + command + "\"";
    std::wstring wide(std::size_t(MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, &wide[0], int(wide.size()));
    FILE* pipe = _wpopen(wide.c_str(), L"rb");
#else
    FILE* pipe = popen(command.c_str(), "r");
#endif
    run_result r;
    if (!pipe) return r;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
#if defined(_WIN32)
    r.status = _pclose(pipe);
#else
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    r.output = without_cr(r.output);
    return r;
}

run_result run(const std::vector<std::string>& arguments) { return run_child("kestrune", arguments); }

bool has_line(const std::string& output, const std::string& line) {
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

bool ends_with_unloaded(const std::string& output) {
    return output.size() >= 9 && output.substr(output.size() - 9) == "unloaded\n";
}

// A profile folder inside a scratch folder, with a non-ASCII name.
std::string profile_folder(const TempDir& scratch) { return scratch.path() + "kestrune profil \xC3\xA9\xE6\x97\xA5"; }

} // namespace

TEST(KestruneProgram, ShowsTheComponentAndUnloadsIt) {
    TempDir scratch;
    const run_result r = run({"--profile", profile_folder(scratch)});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has_line(r.output, "name: Velmora")) << r.output;
    EXPECT_TRUE(has_line(r.output, "version: 1.4.1")) << r.output;
    EXPECT_TRUE(has_line(r.output, "  Velmora for kestrune")) << r.output;
    EXPECT_TRUE(has_line(r.output, "installation check: file name matches")) << r.output;
#if !defined(_WIN32)
    // The menu command starts the streams of the settings (the default one
    // here), and the player's quit ends them before the module goes. (On
    // Windows it opens the main window, whose tests run on a display.)
    EXPECT_TRUE(has_line(r.output, "console: velmora: 1 stream(s) from the settings file")) << r.output;
    EXPECT_TRUE(has_line(r.output, "console: velmora: Streaming finish: Stream Name")) << r.output;
#endif
    EXPECT_TRUE(has_line(r.output,
                         "menu command 0: \"Velmora\" (Activates Velmora window.) {A45A0E2F-8581-4DDD-BF8E-BBAA6115D153} "
                         "in {F8BE5604-165F-4BB9-B6A9-15E55E0E0D3A}"))
        << r.output;
    EXPECT_TRUE(has_line(r.output,
                         "factories: {35077B8C-6E70-47BA-B9DD-D51500E12F2E} {113773C4-B387-4B48-8BDF-AB58BC6CE538} "
                         "{0639283E-3004-4E5C-B1B3-6DFF08A79284} {10BB3EBD-DDF7-4975-A3CC-23084829453E}"))
        << r.output;
    // The last line: the module is gone and the program ended normally.
    EXPECT_TRUE(ends_with_unloaded(r.output)) << r.output;
}

TEST(KestruneProgram, PlaysItsListWithTheTagsItGivesIntoItsProfileFolder) {
    TempDir scratch;
    const std::string wav = scratch.path() + "kestrune_program_test.wav";
    writeWav16(wav, 8000, 1, std::vector<std::int16_t>(4000, 1000));
    const std::string folder = profile_folder(scratch);
    const run_result r = run({"--fast", "--profile", folder,
                              "--signal", "0.25", "--artist", "Ann", "--title", "Song \xC3\xBC", "--freq", "440,660",
                              "--rate", "22050", "--channels", "2",
                              "--wav", wav, "--artist", "Wav Artist", "--title", "Wav Title",
                              "--wav", wav});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has_line(r.output, "profile: " + folder)) << r.output;
    EXPECT_TRUE(Poco::File(folder).isDirectory());
    const std::size_t first = r.output.find("\ntrack: Ann - Song \xC3\xBC\n");
    const std::size_t second = r.output.find("\ntrack: Wav Artist - Wav Title\n");
    const std::size_t third = r.output.find("\ntrack: kestrune_program_test\n");
    const std::size_t end = r.output.find("\nend of list\n");
    EXPECT_TRUE(first < second && second < third && third < end && end != std::string::npos) << r.output;
    EXPECT_TRUE(ends_with_unloaded(r.output)) << r.output;
}

TEST(KestruneProgram, PlaysInRealTimeUntilTheSecondsAreUp) {
    TempDir scratch;
    const std::string folder = profile_folder(scratch);
    const auto start = std::chrono::steady_clock::now();
    const run_result r = run({"--profile", folder, "--signal", "600", "--title", "Long", "--seconds", "0.5"});
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has_line(r.output, "track: Long")) << r.output;
    EXPECT_TRUE(has_line(r.output, "end of list")) << r.output;
    EXPECT_GE(took, 0.45) << "half a second of audio played in real time";
}

TEST(KestruneProgram, AWrongArgumentIsNamedAndAMissingComponentIsAnError) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--title", "X"}, {"--signal", "0"}, {"--wav", "a.wav", "--freq", "440"}, {"--signal", "1", "--rate"},
             {"--listeners", "0"}, {"--admin", "no-colon"}}) {
        const run_result r = run(args);
        EXPECT_EQ(r.status, 2) << r.output;
        EXPECT_EQ(r.output.rfind("kestrune: ", 0), 0u) << r.output;
        EXPECT_NE(r.output.find("usage: kestrune"), std::string::npos) << r.output;
    }
    TempDir scratch;
    const run_result r = run({"--profile", profile_folder(scratch), "--component", "no-such-module"});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("kestrune: cannot load no-such-module"), std::string::npos) << r.output;
}

#if !defined(_WIN32)
TEST(KestruneProgram, ASignalEndsTheListAndTheProgramCleanly) {
    TempDir scratch;
    const std::string folder = profile_folder(scratch);
    bool signalled = false;
    const ProgramRun run = runWatched(
        {kestrune_host::program_folder() + "kestrune", "--profile", folder, "--signal", "600", "--title", "Long"},
        nullptr, [&](pid_t pid, const std::string& output) {
            // Once the track plays, SIGTERM.
            if (!signalled && output.find("track: Long\n") != std::string::npos) {
                kill(pid, SIGTERM);
                signalled = true;
            }
        });
    const std::string& output = run.output;
    const int raw = run.raw_status;
    EXPECT_TRUE(signalled) << output;
    ASSERT_TRUE(WIFEXITED(raw)) << output;
    EXPECT_EQ(WEXITSTATUS(raw), 0) << output;
    EXPECT_TRUE(has_line(output, "stopped by a signal")) << output;
    EXPECT_TRUE(ends_with_unloaded(output)) << output;
}
#endif

#if defined(_WIN32)
TEST(CrashHandlers, EachSignalBecomesTheNonContinuableExceptionWithItsNumber) {
    for (int sig : {2, 15, 21, 22}) {
        const run_result r = run_child("crash_signal", {std::to_string(sig)});
        EXPECT_EQ(r.status, 3) << sig << ": " << r.output;
        EXPECT_EQ(r.output, "6F8E1DC8 1 1 " + std::to_string(sig) + "\n") << sig;
    }
}
#endif
