#pragma once
// One-slot hand-over of an integer command from any thread to one worker.
//
// The worker's loop:
//     std::unique_lock<std::mutex> lock(signal.mutex());
//     int command = signal.wait(lock);   // blocks until a command is pending
//     ... carry it out with the lock held ...
//     lock.unlock();
// While the worker holds the lock, and while a command is pending, every
// post is refused: a post never blocks and never queues.
#include <chrono>
#include <condition_variable>
#include <mutex>

class CommandSignal {
public:
    CommandSignal() = default;
    CommandSignal(const CommandSignal&) = delete;
    CommandSignal& operator=(const CommandSignal&) = delete;

    // Stores the command and wakes the worker; false, storing nothing,
    // when the worker is busy or a command is already pending.
    bool post(int command);
    // Called by the worker with `lock` holding mutex(): waits until a
    // command is pending, takes it and returns it, the lock still held.
    int wait(std::unique_lock<std::mutex>& lock);
    // The same, waiting at most `timeout` (not at all when it is 0): true
    // with the command in `command`, false when the time ran out with
    // nothing pending.
    bool waitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout, int& command);
    // Drops a command that was posted but not yet taken.
    void reset();
    // True when a post now would be taken: the worker carries out no
    // command and none is pending.
    bool idle();

    std::mutex& mutex() { return m_mutex; }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_pending = false;
    int m_command = 0;
};
