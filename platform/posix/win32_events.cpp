// Linux layer: Win32 events as a flag under a mutex with a condition variable.
#include "win32/base.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace {

class event_object final : public platform::kernel_object {
public:
    event_object(bool manual_reset, bool signalled) : m_manual_reset(manual_reset), m_signalled(signalled) {}

    void set() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_signalled = true;
        }
        if (m_manual_reset) m_cond.notify_all();
        else m_cond.notify_one();
    }

    void reset() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_signalled = false;
    }

    DWORD wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto ready = [this] { return m_signalled; };
        if (milliseconds == INFINITE) {
            m_cond.wait(lock, ready);
        } else if (!m_cond.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
            return WAIT_TIMEOUT;
        }
        if (!m_manual_reset) m_signalled = false;
        return WAIT_OBJECT_0;
    }

private:
    const bool m_manual_reset;
    bool m_signalled;
    std::mutex m_mutex;
    std::condition_variable m_cond;
};

event_object* as_event(HANDLE handle) {
    return dynamic_cast<event_object*>(static_cast<platform::kernel_object*>(handle));
}

} // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
    if (name != nullptr && *name != 0) {
        // Named events are shared between processes; nothing here needs them.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* event = new (std::nothrow) event_object(manual_reset != FALSE, initial_state != FALSE);
    if (event == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<platform::kernel_object*>(event);
}

BOOL SetEvent(HANDLE handle) {
    event_object* event = handle ? as_event(handle) : nullptr;
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->set();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    event_object* event = handle ? as_event(handle) : nullptr;
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->reset();
    return TRUE;
}
