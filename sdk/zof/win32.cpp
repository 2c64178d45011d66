// zof Win32 glue: error texts and events.
#include "zof/win32.h"

#include <cmath>

#include "zof/utf8.h"

namespace {

struct fixed_text {
    DWORD code;
    const char* text;
};

// Codes whose system text is missing or unhelpful on some systems.
const fixed_text g_fixed_texts[] = {
    {129, "Application cannot be run in Win32 mode."},
    {182, "Invalid ordinal."},
    {188, "Invalid code segment."},
    {189, "Invalid stack segment."},
    {190, "Invalid module type."},
    {191, "Invalid executable signature."},
    {193, "Not a valid Win32 application."},
    {216, "Machine type mismatch."},
    {217, "Unable to modify a signed binary."},
    {218, "Unable to modify a signed binary."},
};

class last_error_keeper {
public:
    last_error_keeper() : m_saved(GetLastError()) {}
    ~last_error_keeper() { SetLastError(m_saved); }

private:
    DWORD m_saved;
};

zof::string8 system_text(DWORD code) {
    constexpr DWORD units = 512;
    WCHAR buffer[units];
    // No argument list is passed: inserts ("%1") must stay as they are.
    const DWORD written = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                         0, buffer, units, nullptr);
    if (written == 0) {
        char digits[zof::decimal_buffer_size];
        zof::string8 text("Unknown error code (");
        text += zof::format_decimal(code, digits);
        text += ")";
        return text;
    }
    buffer[units - 1] = 0;
    for (DWORD i = 0; i < units && buffer[i] != 0; ++i) {
        if (buffer[i] == L'\r' || buffer[i] == L'\n') buffer[i] = L' ';
    }
    zof::utf8_from_utf16 utf8(reinterpret_cast<const wchar_t*>(buffer), units);
    return zof::string8(utf8.text());
}

} // namespace

zof::string8 win32_error_text(DWORD code) {
    last_error_keeper keep;
    if (code == 0) return zof::string8("Undefined error");
    for (const fixed_text& f : g_fixed_texts) {
        if (f.code == code) return zof::string8(f.text);
    }
    return system_text(code);
}

exception_win32::exception_win32(DWORD code)
    : zof::exception_message(std::string(win32_error_text(code).text())), m_code(code) {}

void win32_event_create(HANDLE& holder) {
    win32_event_close(holder);
    SetLastError(0);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) throw exception_win32(GetLastError());
    holder = event;
}

void win32_event_close(HANDLE& holder) noexcept {
    HANDLE event = holder;
    holder = nullptr;
    if (event != nullptr) CloseHandle(event);
}

DWORD win32_timeout_ms(double seconds) {
    const double ms = std::floor(seconds * 1000.0 + 0.5);
    if (ms < 1.0) return 1;
    if (ms >= double(INFINITE)) return INFINITE - 1;
    return static_cast<DWORD>(ms);
}

bool win32_event_wait(HANDLE event) {
    SetLastError(0);
    switch (WaitForSingleObject(event, win32_timeout_ms(0.05))) {
    case WAIT_OBJECT_0:
        return true;
    case WAIT_TIMEOUT:
        return false;
    case WAIT_FAILED:
        throw exception_win32(GetLastError());
    default:
        throw zof::exception_bug_check();
    }
}

void win32_event::set_state(bool signalled) {
    const BOOL ok = signalled ? SetEvent(m_handle) : ResetEvent(m_handle);
    if (!ok) throw exception_win32(GetLastError());
}
