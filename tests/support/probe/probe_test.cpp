// A test program for the test run's own judge (scripts/gtest-report.sh):
// one test passes, one skips, one fails, one passes but ends the program
// with the skip code, and each other one ends the whole program early in a
// way that leaves a status ctest alone would take for a pass or a skip.
// Each run picks one test with --gtest_filter.
#include <gtest/gtest.h>

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
// The same number as VELMORA_SKIPPED_EXIT_CODE in tests/CMakeLists.txt.
constexpr int kSkippedExitCode = 77;
}  // namespace

TEST(Probe, Passes) { SUCCEED(); }
TEST(Probe, Skips) { GTEST_SKIP() << "skipped on purpose"; }
TEST(Probe, Fails) { ADD_FAILURE() << "failed on purpose"; }

TEST(Probe, Exit) { std::exit(0); }
TEST(Probe, UnderscoreExit) { _exit(0); }
TEST(Probe, ExitWithTheSkipCode) { _exit(kSkippedExitCode); }
// The whole run ends and its report (no test skipped) is written; the
// program then ends with the skip code as main returns.
TEST(Probe, PassesThenEndsWithTheSkipCode) {
    std::atexit([] { _exit(kSkippedExitCode); });
    SUCCEED();
}
#if defined(_WIN32)
TEST(Probe, ExitProcess) { ::ExitProcess(0); }
TEST(Probe, TerminateProcess) { ::TerminateProcess(::GetCurrentProcess(), 0); }
// Under Wine an unhandled exception of this code ends the program with the
// skip code (its low byte); run with --gtest_catch_exceptions=0.
TEST(Probe, RaiseException) { ::RaiseException(0xC000004D, EXCEPTION_NONCONTINUABLE, 0, nullptr); }
#else
TEST(Probe, QuickExit) { std::quick_exit(0); }
#endif
