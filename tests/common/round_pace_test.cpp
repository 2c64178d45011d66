// The worker's round pace, on a clock the test moves itself.
#include <gtest/gtest.h>

#include "engine/round_pace.h"

namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

const std::chrono::milliseconds kRound = 250ms;

// Rounds taken early for a backlog, many in a short time as a player faster
// than real time causes them, leave the next round at most a round away:
// the last partial piece waits no longer than that.
TEST(RoundPace, EarlyRoundsNeverPushTheNextRoundMoreThanARoundAway) {
    const Time start{};
    Time due = start + kRound;
    Time taken = start;
    for (int i = 0; i < 100; ++i) {
        taken += 2ms;
        due = nextRound(due, taken, kRound);
        ASSERT_GT(due, taken) << "round " << i;
        ASSERT_LE(due - taken, kRound) << "round " << i;
    }
}

// Rounds taken a little late keep the pace from the round before, so they
// do not drift behind the clock; after a pause the pace starts again.
TEST(RoundPace, LateRoundsKeepThePaceAndAPauseStartsItAgain) {
    const Time start{};
    Time due = start + kRound;
    for (int i = 0; i < 40; ++i)
        due = nextRound(due, due + 3ms, kRound);
    EXPECT_EQ(due, start + 41 * kRound);

    const Time resumed = due + 10s;
    EXPECT_EQ(nextRound(due, resumed, kRound), resumed + kRound);
}

} // namespace
