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

TEST(SharedLibrary, ConvertToInt16RoundsAndClipsAndScaleWorksInPlace) {
    const float inf = std::numeric_limits<float>::infinity();
    const float step = 1.0f / 32768.0f;
    struct Case {
        float in;
        std::int16_t out;
    };
    const Case cases[] = {
        {0.0f, 0}, {1.0f, 32767}, {-1.0f, -32768}, {0.5f, 16384}, {-0.5f, -16384},
        {std::numeric_limits<float>::quiet_NaN(), 0},
        // Rounded to the nearest step, not truncated.
        {0.6f * step, 1}, {-0.6f * step, -1}, {0.4f * step, 0}, {-0.4f * step, 0},
        {100.7f * step, 101}, {-100.7f * step, -101},
        // Clipped at the ends, however far out the sample lies.
        {2.0f, 32767}, {-2.0f, -32768}, {65537.0f, 32767}, {-65537.0f, -32768},
        {1e20f, 32767}, {-1e20f, -32768}, {std::numeric_limits<float>::max(), 32767},
        {std::numeric_limits<float>::lowest(), -32768}, {inf, 32767}, {-inf, -32768},
    };
    // One at a time, and all in one call (which converts blocks of them at
    // once where the processor can).
    std::vector<float> all;
    for (const Case& c : cases) {
        std::int16_t out = 12345;
        audio_math::convert_to_int16(&c.in, 1, &out, 1.0f);
        EXPECT_EQ(out, c.out) << "sample " << c.in;
        all.push_back(c.in);
    }
    for (std::size_t from : {0, 3}) {
        std::vector<std::int16_t> outs(all.size() - from, 12345);
        audio_math::convert_to_int16(all.data() + from, outs.size(), outs.data(), 1.0f);
        for (std::size_t i = 0; i < outs.size(); ++i)
            EXPECT_EQ(outs[i], cases[from + i].out) << "sample " << all[from + i] << " in a block";
    }
    // The scale applies before rounding and clipping.
    const float half[] = {0.5f, 1.0f, -1.0f};
    std::int16_t out[3];
    audio_math::convert_to_int16(half, 3, out, 0.5f);
    EXPECT_EQ(out[0], 8192);
    EXPECT_EQ(out[1], 16384);
    EXPECT_EQ(out[2], -16384);
    // Scaling works in place.
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
