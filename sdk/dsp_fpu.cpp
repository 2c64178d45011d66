// Floating-point control state.
#include "dsp_fpu.h"

#if defined(_WIN32)
#  include <float.h>
#elif defined(__x86_64__) || defined(__i386__)
#  include <xmmintrin.h>
#else
#  include <cfenv>
#endif

namespace fpu {

#if defined(_WIN32)

namespace {
// Every control the runtime lets us set on this processor.
#if defined(_M_IX86) || defined(__i386__)
constexpr unsigned control_mask = _MCW_DN | _MCW_RC | _MCW_EM | _MCW_PC;
#else
constexpr unsigned control_mask = _MCW_DN | _MCW_RC | _MCW_EM;
#endif
}

state current() {
    unsigned int word = 0;
    _controlfp_s(&word, 0, 0);
    return word;
}

void restore(state saved) {
    unsigned int word = 0;
    _controlfp_s(&word, saved & control_mask, control_mask);
}

bool flushes_denormals(state s) { return (s & _MCW_DN) == _DN_FLUSH; }

rounding rounding_of(state s) {
    switch (s & _MCW_RC) {
    case _RC_DOWN: return rounding::down;
    case _RC_UP: return rounding::up;
    case _RC_CHOP: return rounding::toward_zero;
    default: return rounding::nearest;
    }
}

state with(state s, bool flush_denormals, rounding mode) {
    static const unsigned rc[] = {_RC_NEAR, _RC_DOWN, _RC_UP, _RC_CHOP};
    s &= ~state(_MCW_DN | _MCW_RC);
    s |= flush_denormals ? _DN_FLUSH : _DN_SAVE;
    return s | rc[static_cast<int>(mode)];
}

#elif defined(__x86_64__) || defined(__i386__)

namespace {
// MXCSR: flush to zero (results), denormals are zero (operands), rounding
// control in bits 13-14 (0 nearest, 1 down, 2 up, 3 toward zero), the
// six status flags in bits 0-5.
constexpr std::uint32_t ftz = 0x8000, daz = 0x0040, rc_mask = 0x6000, rc_shift = 13, status = 0x003F;

std::uint32_t read_mxcsr() {
    std::uint32_t v;
    __asm__ __volatile__("stmxcsr %0" : "=m"(v));
    return v;
}
void write_mxcsr(std::uint32_t v) { __asm__ __volatile__("ldmxcsr %0" : : "m"(v)); }
} // namespace

state current() { return read_mxcsr() & ~status; }

// The status flags raised meanwhile stay raised: only controls are put back.
void restore(state saved) { write_mxcsr((saved & ~status) | (read_mxcsr() & status)); }

bool flushes_denormals(state s) { return (s & (ftz | daz)) == (ftz | daz); }

rounding rounding_of(state s) { return static_cast<rounding>((s & rc_mask) >> rc_shift); }

state with(state s, bool flush_denormals, rounding mode) {
    s &= ~(ftz | daz | rc_mask);
    if (flush_denormals) s |= ftz | daz;
    return s | (static_cast<std::uint32_t>(mode) << rc_shift);
}

#else

// No portable denormal control: the rounding mode alone.
namespace {
const int modes[] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
}

state current() {
    const int m = std::fegetround();
    for (int i = 0; i < 4; ++i)
        if (modes[i] == m) return static_cast<state>(i);
    return 0;
}
void restore(state saved) { std::fesetround(modes[saved & 3]); }
bool flushes_denormals(state) { return false; }
rounding rounding_of(state s) { return static_cast<rounding>(s & 3); }
state with(state, bool, rounding mode) { return static_cast<state>(mode); }

#endif

} // namespace fpu
