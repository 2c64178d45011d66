// The audio chunk: validity, sizing, copying and scaling.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio_chunk_impl.h"

namespace {

void fill(audio_chunk_impl& c, zof::t_size frames, std::uint32_t channels, std::uint32_t rate) {
    c.assign_samples(nullptr, frames, channels, rate, audio_chunk::default_channel_config(channels));
}

} // namespace

TEST(AudioChunk, ValidityAtTheBoundaries) {
    audio_chunk_impl c;
    EXPECT_FALSE(c.is_valid()); // all zero

    c.reserve(1024);
    c.assign_frame_total(512);
    c.assign_channels(2, audio_chunk::channel_config_stereo);
    c.assign_sample_rate(44100);
    EXPECT_TRUE(c.is_valid());

    c.assign_channels(257, 0);
    EXPECT_FALSE(c.is_valid());
    c.assign_channels(0, 0);
    EXPECT_FALSE(c.is_valid());
    c.assign_channels(2, audio_chunk::channel_config_stereo);

    for (std::uint32_t rate : {999u, 2822401u, 0u}) {
        c.assign_sample_rate(rate);
        EXPECT_FALSE(c.is_valid()) << rate;
    }
    for (std::uint32_t rate : {1000u, 2822400u}) {
        c.assign_sample_rate(rate);
        EXPECT_TRUE(c.is_valid()) << rate;
    }

    c.assign_frame_total(0);
    EXPECT_FALSE(c.is_valid());
    c.assign_frame_total(513); // more floats than the buffer holds
    EXPECT_FALSE(c.is_valid());
}

TEST(AudioChunk, ValidityAt256ChannelsAndTheFrameLimit) {
    // 256 channels: frames must stay below 2^31 / 1024 = 2097152; the test
    // fails on the count before the buffer is looked at.
    audio_chunk_impl c;
    c.reserve(256);
    c.assign_channels(256, 0);
    c.assign_sample_rate(48000);
    c.assign_frame_total(1);
    EXPECT_TRUE(c.is_valid());
    c.assign_frame_total(2097152);
    EXPECT_FALSE(c.is_valid());
    c.assign_frame_total(2097151);
    EXPECT_FALSE(c.is_valid()); // below the limit, beyond the buffer
}

TEST(AudioChunk, AssignWithoutSourceGivesSilenceOfTheRequestedSize) {
    audio_chunk_impl c;
    const std::vector<float> noise(600, 0.75f);
    c.assign_samples(noise.data(), 300, 2, 48000, audio_chunk::channel_config_stereo);
    fill(c, 100, 3, 22050);
    EXPECT_EQ(c.frame_total(), 100u);
    EXPECT_EQ(c.channel_total(), 3u);
    EXPECT_EQ(c.sample_rate(), 22050u);
    EXPECT_EQ(c.capacity(), 300u);
    EXPECT_EQ(c.float_total(), 300u);
    for (zof::t_size i = 0; i < c.float_total(); ++i) ASSERT_EQ(c.samples()[i], 0.0f);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c.samples()) % 16, 0u);
}

TEST(AudioChunk, AssignOfNothingGivesTheBufferBack) {
    audio_chunk_impl c;
    fill(c, 512, 2, 44100);
    ASSERT_TRUE(c.is_valid());
    c.assign_samples(nullptr, 0, 2, 44100, audio_chunk::channel_config_stereo);
    EXPECT_EQ(c.capacity(), 0u);
    EXPECT_EQ(c.samples(), nullptr);
    EXPECT_FALSE(c.is_valid());
    fill(c, 512, 2, 44100);
    c.assign_samples(nullptr, 512, 0, 44100, 0);
    EXPECT_EQ(c.capacity(), 0u);
    EXPECT_EQ(c.samples(), nullptr);
    EXPECT_FALSE(c.is_valid());
}

TEST(AudioChunk, CopyIsIndependentOfItsSource) {
    audio_chunk_impl a, b;
    std::vector<float> data{0.1f, -0.2f, 0.3f, -0.4f, 0.5f, -0.6f};
    a.assign_samples(data.data(), 3, 2, 96000, audio_chunk::channel_config_stereo);
    b.copy_from(a);
    EXPECT_NE(b.samples(), a.samples());
    EXPECT_EQ(b.frame_total(), 3u);
    EXPECT_EQ(b.channel_total(), 2u);
    EXPECT_EQ(b.sample_rate(), 96000u);
    EXPECT_EQ(b.channel_layout(), audio_chunk::channel_config_stereo);
    a.samples()[0] = 9.0f;
    EXPECT_EQ(std::vector<float>(b.samples(), b.samples() + 6), data);
    b.copy_from(b);
    EXPECT_EQ(std::vector<float>(b.samples(), b.samples() + 6), data);
}

TEST(AudioChunk, ReserveOfThePresentSizeKeepsBufferAndContents) {
    audio_chunk_impl c;
    std::vector<float> data{1, 2, 3, 4};
    c.assign_samples(data.data(), 2, 2, 44100, audio_chunk::channel_config_stereo);
    const float* before = c.samples();
    c.reserve(4);
    EXPECT_EQ(c.samples(), before);
    EXPECT_EQ(std::vector<float>(c.samples(), c.samples() + 4), data);
    c.reserve(8); // growing keeps what was there
    EXPECT_EQ(std::vector<float>(c.samples(), c.samples() + 4), data);
}

TEST(AudioChunk, ReserveBeyond32BitsOfBytesOverflows) {
    audio_chunk_impl c;
    fill(c, 4, 2, 44100);
    const float* before = c.samples();
    try {
        c.reserve(0x40000000u); // 4 GiB of floats
        FAIL() << "no overflow";
    } catch (const zof::exception_overflow& e) {
        EXPECT_STREQ(e.what(), "Overflow");
    }
    EXPECT_EQ(c.samples(), before);
    EXPECT_EQ(c.capacity(), 8u);
    // frames * channels beyond 32 bits is the same overflow, not a wrapped
    // small buffer.
    EXPECT_THROW(c.assign_samples(nullptr, 0x80000000u, 2, 44100, 3), zof::exception_overflow);
    EXPECT_EQ(c.capacity(), 8u);
}

TEST(AudioChunk, ScaleSamples) {
    audio_chunk_impl c;
    std::vector<float> data{0.5f, -0.25f, 1.0f, -1.0f};
    c.assign_samples(data.data(), 2, 2, 44100, audio_chunk::channel_config_stereo);
    c.scale_samples(1.0f);
    EXPECT_EQ(std::vector<float>(c.samples(), c.samples() + 4), data);
    c.scale_samples(0.5f);
    EXPECT_EQ(std::vector<float>(c.samples(), c.samples() + 4), (std::vector<float>{0.25f, -0.125f, 0.5f, -0.5f}));
    c.scale_samples(0.0f);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c.samples()[i], 0.0f);
    // Counts that claim more than the buffer holds scale only the buffer.
    c.assign_frame_total(1000);
    c.scale_samples(2.0f);
    EXPECT_EQ(c.capacity(), 4u);
}

TEST(AudioChunk, DefaultChannelConfigurations) {
    EXPECT_EQ(audio_chunk::default_channel_config(1), audio_chunk::channel_front_center);
    EXPECT_EQ(audio_chunk::default_channel_config(2),
              audio_chunk::channel_front_left | audio_chunk::channel_front_right);
    EXPECT_EQ(audio_chunk::default_channel_config(6), 0x3Fu);
    EXPECT_EQ(audio_chunk::default_channel_config(0), 0u);
    EXPECT_EQ(audio_chunk::default_channel_config(12), 0u);
}
