// One-slot command hand-over between threads.
#include "engine/command_signal.h"

#include <thread>

bool CommandSignal::post(int command) {
    // A mutex held by the worker means it is busy: refuse at once.
    std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock() || m_pending) return false;
    m_pending = true;
    m_command = command;
    // Woken after the unlock, the worker finds the mutex free instead of
    // going back to sleep on it at once.
    lock.unlock();
    m_condition.notify_one();
    return true;
}

void CommandSignal::markDue() {
    m_due = true;
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
        if (lock.owns_lock()) {
            // A worker that looked at the mark before it was made sleeps by
            // now, and this wakes it.
            lock.unlock();
            m_condition.notify_one();
            return;
        }
        // The lock's holder may be the worker between its look at the mark
        // and its sleep, where a wake-up would be lost. Outside its wait it
        // looks at the mark again, after this look at the flag (both
        // sequentially consistent), before it sleeps.
        if (m_outside_wait) return;
        std::this_thread::yield();
    }
}

bool CommandSignal::take(int& command) {
    if (m_due.exchange(false)) {
        command = kDue;
        return true;
    }
    if (!m_pending) return false;
    m_pending = false;
    command = m_command;
    return true;
}

int CommandSignal::wait(std::unique_lock<std::mutex>& lock) {
    m_outside_wait = false;
    int command = 0;
    m_condition.wait(lock, [&] { return take(command); });
    m_outside_wait = true;
    return command;
}

bool CommandSignal::waitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout, int& command) {
    m_outside_wait = false;
    const bool taken = take(command) ||
                       (timeout.count() > 0 && m_condition.wait_for(lock, timeout, [&] { return take(command); }));
    m_outside_wait = true;
    return taken;
}

void CommandSignal::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending = false;
    m_due = false;
}

bool CommandSignal::idle() {
    std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
    return lock.owns_lock() && !m_pending;
}
