#pragma once
// zof Win32 glue: error texts, the Win32 failure exception and events.
#include "win32/base.h"
#include "zof/exceptions.h"
#include "zof/string8.h"

// The system's text for a Win32 error code, on one line. Leaves the
// calling thread's last-error value as it found it.
zof::string8 win32_error_text(DWORD code);

// A failed Win32 call: the code and its text.
class exception_win32 : public zof::exception_message {
public:
    explicit exception_win32(DWORD code);
    DWORD get_code() const noexcept { return m_code; }

private:
    DWORD m_code;
};

// Events (manual reset, initially not signalled, unnamed). The holder's
// previous handle is closed first; failure throws exception_win32.
void win32_event_create(HANDLE& holder);
// Closes the holder's handle, if any, and leaves it null.
void win32_event_close(HANDLE& holder) noexcept;
// Waits at most 50 ms: true when signalled, false on time-out. A failed wait
// throws exception_win32, an abandoned one zof::exception_bug_check.
bool win32_event_wait(HANDLE event);
// Milliseconds of a time-out in seconds: floor(s * 1000 + 0.5), at least 1.
DWORD win32_timeout_ms(double seconds);

// An owned event handle.
class win32_event {
public:
    win32_event() noexcept = default;
    ~win32_event() { win32_event_close(m_handle); }
    win32_event(const win32_event&) = delete;
    win32_event& operator=(const win32_event&) = delete;

    void create() { win32_event_create(m_handle); }
    void release() noexcept { win32_event_close(m_handle); }
    HANDLE get() const noexcept { return m_handle; }
    bool is_valid() const noexcept { return m_handle != nullptr; }
    void set_state(bool signalled);
    bool wait() const { return win32_event_wait(m_handle); }

private:
    HANDLE m_handle = nullptr;
};
