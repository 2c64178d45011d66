// The kestrune program's default job, run as a child process: load the
// component, show it, unload it, and end with status 0 (under the
// sanitizers a leak would change that status).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "component_loader.h"

namespace {

struct run_result {
    std::string output;
    int status = -1;
};

run_result run(const std::string& arguments) {
#if defined(_WIN32)
    const std::string command = "\"" + kestrune_host::program_folder() + "kestrune.exe\" " + arguments + " 2>&1";
    FILE* pipe = _popen(command.c_str(), "r");
#else
    const std::string command = "'" + kestrune_host::program_folder() + "kestrune' " + arguments + " 2>&1";
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
    // One line ending on both systems.
    std::string clean;
    for (char c : r.output)
        if (c != '\r') clean += c;
    r.output = clean;
    return r;
}

bool has_line(const std::string& output, const std::string& line) {
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

} // namespace

TEST(KestruneProgram, ShowsTheComponentAndUnloadsIt) {
    const run_result r = run("");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has_line(r.output, "name: Velmora")) << r.output;
    EXPECT_TRUE(has_line(r.output, "version: 1.4.1")) << r.output;
    EXPECT_TRUE(has_line(r.output, "  Velmora for kestrune")) << r.output;
#if defined(_WIN32)
    EXPECT_TRUE(has_line(r.output, "installation check: file name matches")) << r.output;
#else
    EXPECT_TRUE(has_line(r.output, "installation check: file name differs")) << r.output;
    EXPECT_TRUE(has_line(r.output, "console: velmora: the Velmora window is part of the Windows build")) << r.output;
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
    ASSERT_GE(r.output.size(), 9u);
    EXPECT_EQ(r.output.substr(r.output.size() - 9), "unloaded\n") << r.output;
}

TEST(KestruneProgram, AMissingComponentEndsWithAnError) {
    const run_result r = run("--component no-such-module");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("kestrune: cannot load no-such-module"), std::string::npos) << r.output;
}
