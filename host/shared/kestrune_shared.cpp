// The stand-in player's shared library.
#include "kestrune_shared.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    std::size_t i = 0;
#if defined(__SSE2__)
    // Eight at a time, with the same result as the loop below: NaN becomes
    // 0, the clipping comes before the rounding (to nearest, as lrintf in
    // the default mode), and the saturating pack has nothing left to clip.
    const __m128 factor = _mm_set1_ps(k);
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_mul_ps(_mm_loadu_ps(in + i), factor);
        __m128 b = _mm_mul_ps(_mm_loadu_ps(in + i + 4), factor);
        a = _mm_and_ps(a, _mm_cmpord_ps(a, a));
        b = _mm_and_ps(b, _mm_cmpord_ps(b, b));
        a = _mm_max_ps(_mm_min_ps(a, high), low);
        b = _mm_max_ps(_mm_min_ps(b, high), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
#endif
    for (; i < count; ++i) {
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
