#pragma once
// One-slot hand-over of an integer command from any thread to one worker,
// and a mark for the worker's standing task (titles to send).
//
// The worker's loop:
//     std::unique_lock<std::mutex> lock(signal.mutex());
//     int command = signal.wait(lock);   // blocks until a command is pending
//     ... carry it out with the lock held ...
//     lock.unlock();
// While the worker holds the lock, and while a command is pending, every
// post is refused: a post never blocks and never queues, so the player's
// audio thread may post while the worker is busy for as long as a write to
// the encoder or the server takes. A mark is never refused: work that must
// not be lost (a title that changed) is marked due rather than posted.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

class CommandSignal {
public:
    // What wait and waitFor give when the worker's task was marked due.
    static constexpr int kDue = -1;

    CommandSignal() = default;
    CommandSignal(const CommandSignal&) = delete;
    CommandSignal& operator=(const CommandSignal&) = delete;

    // Stores the command and wakes the worker; false, storing nothing,
    // when the worker is busy or a command is already pending.
    bool post(int command);
    // Marks the worker's task due and wakes it: its current or next wait
    // gives kDue, before any pending command, once for all the marks made
    // until then. A busy worker is not waited for (it looks at the mark
    // before it waits again); the lock is otherwise held only for moments
    // (by the worker on its way into or out of its wait, by a post), which
    // this may spin through. Not from the thread that holds mutex().
    void markDue();
    // Called by the worker with `lock` holding mutex(): waits until a
    // command is pending or the task is due, takes it and returns it
    // (kDue for the task), the lock still held.
    int wait(std::unique_lock<std::mutex>& lock);
    // The same, waiting at most `timeout` (not at all when it is 0): true
    // with the command in `command`, false when the time ran out with
    // nothing pending.
    bool waitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout, int& command);
    // Drops a command that was posted but not yet taken, and the mark.
    void reset();
    // True when a post now would be taken: the worker carries out no
    // command and none is pending.
    bool idle();

    std::mutex& mutex() { return m_mutex; }

private:
    // With the lock held: takes what is pending, the mark first.
    bool take(int& command);

    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_pending = false;
    int m_command = 0;
    std::atomic<bool> m_due{false};
    // The worker is not inside wait or waitFor: whatever it does with the
    // lock, it looks at the mark before it sleeps again.
    std::atomic<bool> m_outside_wait{true};
};
