// The entry point of every test program: gtest's own, except that a run in
// which no test failed but some were skipped ends with kSkippedExitCode,
// which ctest reports as a skip (tests/CMakeLists.txt), never as a pass.
#include <gtest/gtest.h>

namespace {
// The same number as VELMORA_SKIPPED_EXIT_CODE in tests/CMakeLists.txt.
constexpr int kSkippedExitCode = 77;
}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (result == 0 && testing::UnitTest::GetInstance()->skipped_test_count() > 0) return kSkippedExitCode;
    return result;
}
