// The stand-in player's shared library.
#include "kestrune_shared.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

void uPrintfV(zof::string_base& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) {
        out.assign("");
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<zof::t_size>(n));
        return;
    }
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    va_copy(copy, args);
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    out.assign(big.data(), static_cast<zof::t_size>(n));
}

void uBugCheck() {
    std::fputs("kestrune: bug check\n", stderr);
    std::fflush(stderr);
    std::abort();
}

namespace {
thread_local const uCallStackTracker* t_innermost = nullptr;
thread_local const char* t_innermost_name = nullptr;
}

uCallStackTracker::uCallStackTracker(const char* name) : m_name(name), m_outer(t_innermost) {
    t_innermost = this;
    t_innermost_name = name;
}

uCallStackTracker::~uCallStackTracker() {
    t_innermost = m_outer;
    t_innermost_name = m_outer ? m_outer->m_name : nullptr;
}

const char* uCallStackTracker::current() { return t_innermost_name; }

namespace audio_math {

void scale(const float* in, std::size_t count, float* out, float factor) {
    for (std::size_t i = 0; i < count; ++i) out[i] = in[i] * factor;
}

void convert_to_int16(const float* in, std::size_t count, std::int16_t* out, float scale) {
    const float k = 32768.0f * scale;
    for (std::size_t i = 0; i < count; ++i) {
        float v = in[i] * k;
        // Clip before rounding: a value beyond the range of long has no
        // defined rounded result (x86 gives the most negative one).
        if (!(v == v)) v = 0.0f; // NaN
        else if (v > 32767.0f) v = 32767.0f;
        else if (v < -32768.0f) v = -32768.0f;
        out[i] = static_cast<std::int16_t>(std::lrintf(v));
    }
}

} // namespace audio_math
