// PCM formatters: byte layout, 24-bit clamping and the float memory image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/formatter.h"
#include "kestrune_shared.h"

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

// The 24-bit rule for in-range samples: times 2^23 - 1, truncated, low 24
// bits little-endian.
Bytes int24Reference(float sample) {
    const auto v = static_cast<std::int32_t>(std::trunc(static_cast<double>(sample) * 8388607.0));
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u >> 16)};
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

TEST(FormatterInt24, FullScaleHalfAndZero) {
    EXPECT_EQ(int24(1.0f), (Bytes{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(int24(-1.0f), (Bytes{0x01, 0x00, 0x80}));
    EXPECT_EQ(int24(0.0f), (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(int24(-0.0f), (Bytes{0x00, 0x00, 0x00}));
    EXPECT_EQ(int24(0.5f), (Bytes{0xFF, 0xFF, 0x3F}));  // 4194303.5 truncated
    EXPECT_EQ(int24(-0.5f), (Bytes{0x01, 0x00, 0xC0})); // -4194303
    EXPECT_EQ(int24(0.9999999f), (Bytes{0xFE, 0xFF, 0x7F})); // truncated, not rounded
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

TEST(FormatterInt24, EveryInRangeSampleIsBitExact) {
    std::vector<float> in = {1.0f, -1.0f, 0.0f, std::nextafter(1.0f, 0.0f), std::nextafter(-1.0f, 0.0f),
                             std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::min(),
                             1.0f / 8388607.0f, -1.0f / 8388607.0f};
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> any(-1.0f, 1.0f);
    for (int i = 0; i < 100000; ++i) in.push_back(any(random));
    // Every step of a fine ramp near zero, where truncation matters most.
    for (int i = -3000; i <= 3000; ++i) in.push_back(static_cast<float>(i) / 8388607.0f * 0.999f);

    FormatterInt24 f;
    const Bytes out = format(f, in);
    ASSERT_EQ(out.size(), in.size() * 3);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const Bytes got(out.begin() + static_cast<std::ptrdiff_t>(3 * i), out.begin() + static_cast<std::ptrdiff_t>(3 * i + 3));
        ASSERT_EQ(got, int24Reference(in[i])) << "sample " << i << " = " << in[i];
    }
}

TEST(FormatterInt16, MatchesThePlayersConversionInLittleEndian) {
    std::vector<float> in = {0.0f, 0.5f, -0.5f, -1.0f, 1.0f, 2.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()};
    for (int i = -100; i <= 100; ++i) in.push_back(static_cast<float>(i) / 100.0f);
    FormatterInt16 f;
    const Bytes out = format(f, in);
    ASSERT_EQ(out.size(), in.size() * 2);

    std::vector<std::int16_t> expected(in.size());
    audio_math::convert_to_int16(in.data(), in.size(), expected.data(), 1.0f);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto got = static_cast<std::int16_t>(out[2 * i] | (out[2 * i + 1] << 8));
        EXPECT_EQ(got, expected[i]) << "sample " << i << " = " << in[i];
    }
    // 0.5 is 16384: 00 40.
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
