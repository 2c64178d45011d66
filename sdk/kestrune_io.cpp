// Abort callback, abort checks and the tick timer.
#include "kestrune_io.h"

#include "zof/win32.h"

namespace kestrune_io {

void abort_callback::check() const {
    if (abort_requested()) throw exception_aborted();
}

void abort_callback::sleep() const {
    if (!sleep_ex()) throw exception_aborted();
}

bool abort_callback::sleep_ex() const { return !win32_event_wait(abort_event()); }

abort_callback_impl::abort_callback_impl() { win32_event_create(m_event); }

abort_callback_impl::~abort_callback_impl() { win32_event_close(m_event); }

void abort_callback_impl::abort() {
    m_aborting.store(true);
    if (!SetEvent(m_event)) throw exception_win32(GetLastError());
}

void abort_callback_impl::reset() {
    m_aborting.store(false);
    if (!ResetEvent(m_event)) throw exception_win32(GetLastError());
}

} // namespace kestrune_io

double tick_timer::elapsed_seconds(DWORD tick) {
    std::uint64_t high = m_last >> 32;
    if (tick < static_cast<DWORD>(m_last)) ++high;
    m_last = (high << 32) | tick;
    return static_cast<double>(m_last - m_start) * 0.001;
}
