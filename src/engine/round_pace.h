#pragma once
// The pace of the stream worker's rounds.
#include <chrono>

// When the round after one taken at `taken` is due, the one taken having
// been due at `due`. The rounds keep their pace from the one before, and
// the next one is never more than a round away: not after a pause (the
// pace starts again from `taken`), nor after rounds taken early for a
// backlog (a player faster than real time), whose pace would otherwise run
// far ahead of the clock and hold the last partial piece back for as long.
inline std::chrono::steady_clock::time_point nextRound(std::chrono::steady_clock::time_point due,
                                                       std::chrono::steady_clock::time_point taken,
                                                       std::chrono::milliseconds round) {
    const auto next = due + round;
    return next <= taken || next > taken + round ? taken + round : next;
}
