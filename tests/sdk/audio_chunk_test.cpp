// The audio chunk: validity, sizing, copying and scaling.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio_chunk_impl.h"

namespace {

std::vector<float> samples_of(const audio_chunk_impl& c, zof::t_size n) {
    return std::vector<float>(c.samples(), c.samples() + n);
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

    for (std::uint32_t channels : {257u, 0u}) {
        c.assign_channels(channels, 0);
        EXPECT_FALSE(c.is_valid()) << channels;
    }
    c.assign_channels(2, audio_chunk::channel_config_stereo);
    for (std::uint32_t rate : {999u, 2822401u, 0u, 1000u, 2822400u}) {
        c.assign_sample_rate(rate);
        EXPECT_EQ(rate == 1000u || rate == 2822400u, c.is_valid()) << rate;
    }
    c.assign_frame_total(0);
    EXPECT_FALSE(c.is_valid());
    c.assign_frame_total(513); // more floats than the buffer holds
    EXPECT_FALSE(c.is_valid());

    // 256 channels: frames must stay below 2^31 / 1024 = 2097152; the test
    // fails on the count before the buffer is looked at.
    c.reserve(256);
    c.assign_channels(256, 0);
    c.assign_frame_total(1);
    EXPECT_TRUE(c.is_valid());
    c.assign_frame_total(2097152);
    EXPECT_FALSE(c.is_valid());
    c.assign_frame_total(2097151);
    EXPECT_FALSE(c.is_valid()); // below the limit, beyond the buffer

    EXPECT_EQ(audio_chunk::default_channel_config(1), audio_chunk::channel_front_center);
    EXPECT_EQ(audio_chunk::default_channel_config(2),
              audio_chunk::channel_front_left | audio_chunk::channel_front_right);
    EXPECT_EQ(audio_chunk::default_channel_config(6), 0x3Fu);
    EXPECT_EQ(audio_chunk::default_channel_config(12), 0u);
}

TEST(AudioChunk, AssignWithoutSourceGivesSilenceAndOfNothingGivesTheBufferBack) {
    audio_chunk_impl c;
    const std::vector<float> noise(600, 0.75f);
    c.assign_samples(noise.data(), 300, 2, 48000, audio_chunk::channel_config_stereo);
    c.assign_samples(nullptr, 100, 3, 22050, audio_chunk::default_channel_config(3));
    EXPECT_EQ(c.frame_total(), 100u);
    EXPECT_EQ(c.channel_total(), 3u);
    EXPECT_EQ(c.sample_rate(), 22050u);
    EXPECT_EQ(c.capacity(), 300u);
    EXPECT_EQ(samples_of(c, 300), std::vector<float>(300, 0.0f));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c.samples()) % 16, 0u);

    for (std::uint32_t channels : {2u, 0u}) {
        c.assign_samples(nullptr, 512, 2, 44100, audio_chunk::channel_config_stereo);
        ASSERT_TRUE(c.is_valid());
        c.assign_samples(nullptr, channels ? 0 : 512, channels, 44100, 0);
        EXPECT_EQ(c.capacity(), 0u);
        EXPECT_EQ(c.samples(), nullptr);
        EXPECT_FALSE(c.is_valid());
    }
}

TEST(AudioChunk, CopyIsIndependentAndNeverReadsBeyondTheSourceBuffer) {
    audio_chunk_impl a, b;
    std::vector<float> data{0.1f, -0.2f, 0.3f, -0.4f, 0.5f, -0.6f};
    a.assign_samples(data.data(), 3, 2, 96000, audio_chunk::channel_config_stereo);
    b.copy_from(a);
    EXPECT_NE(b.samples(), a.samples());
    EXPECT_EQ(b.frame_total(), 3u);
    EXPECT_EQ(b.sample_rate(), 96000u);
    EXPECT_EQ(b.channel_layout(), audio_chunk::channel_config_stereo);
    a.samples()[0] = 9.0f;
    EXPECT_EQ(samples_of(b, 6), data);
    b.copy_from(b);
    EXPECT_EQ(samples_of(b, 6), data);

    // Counts that claim more floats than the buffer holds: the copy keeps
    // the format and size, takes what the buffer has and is silent past it.
    audio_chunk_impl bad, copy;
    bad.assign_samples(data.data(), 2, 2, 44100, audio_chunk::channel_config_stereo);
    bad.assign_frame_total(6);
    copy.copy_from(bad);
    EXPECT_EQ(copy.frame_total(), 6u);
    ASSERT_EQ(copy.capacity(), 12u);
    EXPECT_EQ(samples_of(copy, 12), (std::vector<float>{0.1f, -0.2f, 0.3f, -0.4f, 0, 0, 0, 0, 0, 0, 0, 0}));
    // No buffer at all: silence of the claimed size.
    audio_chunk_impl empty;
    empty.assign_channels(1, audio_chunk::channel_config_mono);
    empty.assign_sample_rate(8000);
    empty.assign_frame_total(3);
    copy.copy_from(empty);
    ASSERT_EQ(copy.capacity(), 3u);
    EXPECT_EQ(samples_of(copy, 3), std::vector<float>(3, 0.0f));
}

TEST(AudioChunk, ReserveKeepsContentsAndRefusesBeyond32BitsOfBytes) {
    audio_chunk_impl c;
    std::vector<float> data{1, 2, 3, 4};
    c.assign_samples(data.data(), 2, 2, 44100, audio_chunk::channel_config_stereo);
    const float* before = c.samples();
    c.reserve(4);
    EXPECT_EQ(c.samples(), before);
    c.reserve(8); // growing keeps what was there
    EXPECT_EQ(samples_of(c, 4), data);
    before = c.samples();
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
    c.scale_samples(0.5f);
    EXPECT_EQ(samples_of(c, 4), (std::vector<float>{0.25f, -0.125f, 0.5f, -0.5f}));
    c.scale_samples(0.0f);
    EXPECT_EQ(samples_of(c, 4), std::vector<float>(4, 0.0f));
    // Counts that claim more than the buffer holds scale only the buffer.
    c.assign_samples(data.data(), 2, 2, 44100, audio_chunk::channel_config_stereo);
    c.assign_frame_total(1000);
    c.scale_samples(2.0f);
    EXPECT_EQ(c.capacity(), 4u);
    EXPECT_EQ(samples_of(c, 4), (std::vector<float>{1.0f, -0.5f, 2.0f, -2.0f}));
}
