// PCM formatters: known samples in each layout, 24-bit clamping and the
// float memory image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/formatter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes format(Formatter& f, const std::vector<float>& in) {
    Bytes out(7, 0xEE); // stale content that must go
    f.format(in, out);
    return out;
}

Bytes int24(float sample) {
    FormatterInt24 f;
    return format(f, {sample});
}

} // namespace

TEST(Formatter, OutputHoldsExactlyTheBytesOfTheLastCall) {
    FormatterInt16 f16;
    FormatterInt24 f24;
    FormatterFloat32 f32;
    const std::vector<float> big(1000, 0.25f);
    const std::vector<float> small = {0.25f, -0.25f, 0.0f};
    struct { Formatter* f; std::size_t width; } cases[] = {{&f16, 2}, {&f24, 3}, {&f32, 4}};
    for (auto& c : cases) {
        EXPECT_TRUE(format(*c.f, {}).empty());
        Bytes out;
        c.f->format(big, out);
        EXPECT_EQ(out.size(), big.size() * c.width);
        c.f->format(small, out);
        EXPECT_EQ(out, format(*c.f, small));
        EXPECT_EQ(out.size(), small.size() * c.width);
    }
}

TEST(FormatterInt24, KnownSamples) {
    EXPECT_EQ(int24(1.0f), (Bytes{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(int24(-1.0f), (Bytes{0x01, 0x00, 0x80}));
    EXPECT_EQ(int24(0.0f), (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(int24(-0.0f), (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(int24(0.5f), (Bytes{0xFF, 0xFF, 0x3F}));  // 4194303.5 truncated
    EXPECT_EQ(int24(-0.5f), (Bytes{0x01, 0x00, 0xC0})); // -4194303
    EXPECT_EQ(int24(0.75f), (Bytes{0xFF, 0xFF, 0x5F})); // 6291455.25
    EXPECT_EQ(int24(0.25f), (Bytes{0xFF, 0xFF, 0x1F})); // 2097151.75
    EXPECT_EQ(int24(-0.25f), (Bytes{0x01, 0x00, 0xE0}));
    EXPECT_EQ(int24(0.1f), (Bytes{0xCC, 0xCC, 0x0C}));  // 838860.71...
    EXPECT_EQ(int24(-0.1f), (Bytes{0x34, 0x33, 0xF3}));
    EXPECT_EQ(int24(0.9999999f), (Bytes{0xFE, 0xFF, 0x7F})); // truncated, not rounded
    // 2^-23 and 2^-22: 0.99999988 and 1.99999976 before truncation.
    EXPECT_EQ(int24(1.0f / 8388608.0f), (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(int24(1.0f / 4194304.0f), (Bytes{0x01, 0x00, 0x00}));
    EXPECT_EQ(int24(-1.0f / 4194304.0f), (Bytes{0xFF, 0xFF, 0xFF}));
    // Several samples: three bytes each, in order.
    FormatterInt24 f;
    EXPECT_EQ(format(f, {1.0f, -1.0f, 0.5f}), (Bytes{0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x80, 0xFF, 0xFF, 0x3F}));
}

TEST(FormatterInt24, SamplesBeyondFullScaleAreHeldAtTheLimits) {
    const Bytes top = {0xFF, 0xFF, 0x7F};
    const Bytes bottom = {0x00, 0x00, 0x80};
    const float inf = std::numeric_limits<float>::infinity();
    for (float s : {1.0000001f, 1.5f, 2.0f, 256.0f, 1e30f, std::numeric_limits<float>::max(), inf}) {
        SCOPED_TRACE(s);
        EXPECT_EQ(int24(s), top);
    }
    for (float s : {-1.5f, -2.0f, -256.0f, -1e30f, std::numeric_limits<float>::lowest(), -inf}) {
        SCOPED_TRACE(s);
        EXPECT_EQ(int24(s), bottom);
    }
}

TEST(FormatterInt24, NaNBecomesSilence) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    FormatterInt24 f;
    const Bytes out = format(f, {0.5f, nan, -nan, std::numeric_limits<float>::signaling_NaN(), -0.5f});
    const Bytes expected = {0xFF, 0xFF, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0xC0};
    EXPECT_EQ(out, expected);
}

TEST(FormatterInt16, KnownSamplesInLittleEndian) {
    // The player's conversion: times 32768, held at the 16-bit limits,
    // rounded to the nearest (ties to even); NaN is silence.
    const std::vector<float> in = {0.0f, 0.5f, -0.5f, 0.25f, 1.0f, -1.0f, 2.0f, -2.0f,
                                   std::numeric_limits<float>::quiet_NaN(), 1.0f / 65536.0f, 3.0f / 65536.0f,
                                   -3.0f / 65536.0f};
    const std::vector<std::int16_t> expected = {0, 16384, -16384, 8192, 32767, -32768, 32767, -32768, 0, 0, 2, -2};
    FormatterInt16 f;
    const Bytes out = format(f, in);
    ASSERT_EQ(out.size(), in.size() * 2);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto got = static_cast<std::int16_t>(out[2 * i] | (out[2 * i + 1] << 8));
        EXPECT_EQ(got, expected[i]) << "sample " << i << " = " << in[i];
    }
    // 0.5 is 16384: 00 40.
    EXPECT_EQ(out[2], 0x00);
    EXPECT_EQ(out[3], 0x40);
}

TEST(FormatterFloat32, OutputIsTheInputsMemoryImage) {
    const std::vector<float> in = {0.0f, -0.0f, 1.0f, -1.0f, 0.123456789f, 3.5f,
                                   std::numeric_limits<float>::denorm_min(),
                                   std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN()};
    FormatterFloat32 f;
    const Bytes out = format(f, in);
    ASSERT_EQ(out.size(), in.size() * sizeof(float));
    EXPECT_EQ(std::memcmp(out.data(), in.data(), out.size()), 0);
    // Little-endian IEEE single: 1.0 is 00 00 80 3F.
    EXPECT_EQ((Bytes(out.begin() + 8, out.begin() + 12)), (Bytes{0x00, 0x00, 0x80, 0x3F}));
}

TEST(Formatter, CreatedByWaveFormat) {
    int bits = -1;
    auto f = createFormatter(0, &bits);
    EXPECT_TRUE(dynamic_cast<FormatterInt16*>(f.get()) && bits == 16);
    f = createFormatter(1, &bits);
    EXPECT_TRUE(dynamic_cast<FormatterInt24*>(f.get()) && bits == 24);
    f = createFormatter(2, &bits);
    EXPECT_TRUE(dynamic_cast<FormatterFloat32*>(f.get()) && bits == 32);
    for (int unknown : {-1, 3, 16}) {
        EXPECT_EQ(createFormatter(unknown, &bits), nullptr);
        EXPECT_EQ(bits, 0);
    }
}
