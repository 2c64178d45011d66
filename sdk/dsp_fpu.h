#pragma once
// The processor's floating-point control state around DSP runs: denormal
// results flushed to zero and rounding to nearest while a scope lives, the
// caller's state again when it ends, whichever way it ends.
#include <cstdint>

namespace fpu {

// The control state as the platform keeps it: on Windows the runtime's
// control word (_controlfp_s), on x86 Linux the SSE control register
// (MXCSR) without its status flags, elsewhere the rounding mode.
typedef std::uint32_t state;

state current();
// Sets the whole control state as read by current().
void restore(state saved);

// What the control state tells.
bool flushes_denormals(state s);
enum class rounding { nearest, down, up, toward_zero };
rounding rounding_of(state s);

// `s` with denormal flushing switched on or off and the given rounding.
state with(state s, bool flush_denormals, rounding mode);

// Flushes denormals and rounds to nearest until destroyed; then puts back
// the state that was in force when it was made.
class dsp_scope {
public:
    dsp_scope() : m_saved(current()) { restore(with(m_saved, true, rounding::nearest)); }
    ~dsp_scope() { restore(m_saved); }
    dsp_scope(const dsp_scope&) = delete;
    dsp_scope& operator=(const dsp_scope&) = delete;

private:
    state m_saved;
};

} // namespace fpu
