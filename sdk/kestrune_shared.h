#pragma once
// Functions of the player's shared library that the component links against.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include "zof/string_base.h"

#if defined(_WIN32)
#  if defined(KESTRUNE_SHARED_BUILD)
#    define KESTRUNE_SHARED_API __declspec(dllexport)
#  else
#    define KESTRUNE_SHARED_API __declspec(dllimport)
#  endif
#else
#  define KESTRUNE_SHARED_API __attribute__((visibility("default")))
#endif

// Formats printf-style into a host string (UTF-8).
KESTRUNE_SHARED_API void uPrintfV(zof::string_base& out, const char* format, va_list args);
// Stops the program on a broken invariant; never returns.
[[noreturn]] KESTRUNE_SHARED_API void uBugCheck();

// Marks a named region of the call stack for the player's crash reports.
class KESTRUNE_SHARED_API uCallStackTracker {
public:
    explicit uCallStackTracker(const char* name);
    ~uCallStackTracker();
    uCallStackTracker(const uCallStackTracker&) = delete;
    uCallStackTracker& operator=(const uCallStackTracker&) = delete;
    // The innermost marked name on the calling thread, or null.
    static const char* current();
private:
    const char* m_name;
    const uCallStackTracker* m_outer;
};

namespace audio_math {
// out[i] = in[i] * factor; in and out may be the same buffer.
KESTRUNE_SHARED_API void scale(const float* in, std::size_t count, float* out, float factor);
// 16-bit samples from floats in [-1, 1] times `scale`, rounded and clipped.
KESTRUNE_SHARED_API void convert_to_int16(const float* in, std::size_t count, std::int16_t* out, float scale);
} // namespace audio_math
