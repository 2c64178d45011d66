// One-slot command hand-over between threads.
#include "engine/command_signal.h"

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

int CommandSignal::wait(std::unique_lock<std::mutex>& lock) {
    m_condition.wait(lock, [this] { return m_pending; });
    m_pending = false;
    return m_command;
}

bool CommandSignal::waitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout, int& command) {
    if (!m_pending && (timeout.count() <= 0 || !m_condition.wait_for(lock, timeout, [this] { return m_pending; })))
        return false;
    m_pending = false;
    command = m_command;
    return true;
}

void CommandSignal::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending = false;
}

bool CommandSignal::idle() {
    std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
    return lock.owns_lock() && !m_pending;
}
