// The stand-in player's shared-library functions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "kestrune_shared.h"

namespace {

// Minimal host string for uPrintfV.
class TestString : public zof::string_base {
public:
    void append(const char* t, zof::t_size max) override {
        for (zof::t_size i = 0; i < max && t[i]; ++i) s.push_back(t[i]);
    }
    const char* text() const override { return s.c_str(); }
    void assign(const char* t, zof::t_size max) override { s.clear(); append(t, max); }
    void cut(zof::t_size n) override { if (n < s.size()) s.resize(n); }
    zof::t_size length() const override { return static_cast<zof::t_size>(s.size()); }
    char* open_buffer(zof::t_size n) override { s.assign(n, '\0'); return &s[0]; }
    void close_buffer() override { s.resize(std::char_traits<char>::length(s.c_str())); }
    std::string s;
};

std::string format(const char* fmt, ...) {
    TestString out;
    va_list ap;
    va_start(ap, fmt);
    uPrintfV(out, fmt, ap);
    va_end(ap);
    return out.s;
}

} // namespace

TEST(SharedLibrary, PrintfFormatsShortAndLongTexts) {
    EXPECT_EQ(format("velmora: %s %d", "x", 42), "velmora: x 42");
    EXPECT_EQ(format("%s", ""), "");
    std::string big(5000, 'a');
    EXPECT_EQ(format("<%s>", big.c_str()), "<" + big + ">");
}

TEST(SharedLibrary, ConvertToInt16RoundsAndClips) {
    const float in[] = {0.0f, 1.0f, -1.0f, 0.5f, 2.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()};
    std::int16_t out[7];
    audio_math::convert_to_int16(in, 7, out, 1.0f);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 32767);
    EXPECT_EQ(out[2], -32768);
    EXPECT_EQ(out[3], 16384);
    EXPECT_EQ(out[4], 32767);
    EXPECT_EQ(out[5], -32768);
    EXPECT_EQ(out[6], 0);
}

TEST(SharedLibrary, ScaleWorksInPlace) {
    std::vector<float> v{1.0f, -0.5f, 0.25f};
    audio_math::scale(v.data(), v.size(), v.data(), 2.0f);
    EXPECT_EQ(v, (std::vector<float>{2.0f, -1.0f, 0.5f}));
}

TEST(SharedLibrary, CallStackTrackerNests) {
    EXPECT_EQ(uCallStackTracker::current(), nullptr);
    {
        uCallStackTracker outer("outer");
        {
            uCallStackTracker inner("inner");
            EXPECT_STREQ(uCallStackTracker::current(), "inner");
        }
        EXPECT_STREQ(uCallStackTracker::current(), "outer");
    }
    EXPECT_EQ(uCallStackTracker::current(), nullptr);
}
