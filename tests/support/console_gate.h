#pragma once
// Holds the thread that prints a console line of the stand-in player that
// starts with a given text until the test releases it: the test then acts
// while that thread stands at a known point (a stream's worker at its error
// line, say). Released and removed at the latest when the gate goes.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "player.h"

class ConsoleGate {
public:
    ConsoleGate(kestrune_host::host_console& console, std::string start) : console_(console), state_(new State) {
        // The state outlives the gate for a printing thread still leaving
        // the hook.
        std::shared_ptr<State> state = state_;
        console_.set_line_hook([state, start](const std::string& line) {
            if (line.compare(0, start.size(), start) != 0) return;
            std::unique_lock<std::mutex> lock(state->mutex);
            state->held = true;
            state->changed.wait(lock, [&] { return state->released; });
        });
    }
    ~ConsoleGate() {
        release();
        console_.set_line_hook(nullptr);
    }
    ConsoleGate(const ConsoleGate&) = delete;
    ConsoleGate& operator=(const ConsoleGate&) = delete;

    // The line was printed: its thread waits.
    bool held() const {
        std::lock_guard<std::mutex> lock(state_->mutex);
        return state_->held;
    }
    // Lets it go on, and every thread that prints the line later.
    void release() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->released = true;
        state_->changed.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool held = false;
        bool released = false;
    };
    kestrune_host::host_console& console_;
    std::shared_ptr<State> state_;
};
