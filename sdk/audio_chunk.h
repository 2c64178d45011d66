#pragma once
// audio_chunk: one block of 32-bit float samples, interleaved by channel,
// with sample rate, channel count and channel configuration. The unit in
// which audio passes between the player, its DSPs and components.
#include <cstdint>
#include <cstring>

#include "kestrune_shared.h"
#include "zof/string_base.h"

class audio_chunk {
public:
    // Speaker positions of the channel configuration mask.
    enum : std::uint32_t {
        channel_front_left = 1u << 0,
        channel_front_right = 1u << 1,
        channel_front_center = 1u << 2,
        channel_lfe = 1u << 3,
        channel_back_left = 1u << 4,
        channel_back_right = 1u << 5,
        channel_front_center_left = 1u << 6,
        channel_front_center_right = 1u << 7,
        channel_back_center = 1u << 8,
        channel_side_left = 1u << 9,
        channel_side_right = 1u << 10,
        channel_config_mono = channel_front_center,
        channel_config_stereo = channel_front_left | channel_front_right,
    };
    enum : std::uint32_t {
        channels_max = 256,
        sample_rate_min = 1000,
        sample_rate_max = 2822400,
    };

    // The usual configuration for a channel count: the lowest positions in
    // order, mono being the front centre; 0 beyond 11 channels.
    static std::uint32_t default_channel_config(std::uint32_t channels) {
        if (channels == 1) return channel_config_mono;
        if (channels == 2) return channel_config_stereo;
        if (channels == 0 || channels > 11) return 0;
        return (1u << channels) - 1u;
    }

    // Operations in table order.
    virtual const float* samples() const = 0;
    virtual float* samples() = 0;
    // Buffer size in floats.
    virtual zof::t_size capacity() const = 0;
    // Resizes the buffer to `n` floats, keeping the contents up to the
    // smaller size; "Overflow" when n * 4 bytes exceeds 32 bits.
    virtual void reserve(zof::t_size n) = 0;
    virtual std::uint32_t sample_rate() const = 0;
    virtual void assign_sample_rate(std::uint32_t rate) = 0;
    virtual std::uint32_t channel_total() const = 0;
    virtual std::uint32_t channel_layout() const = 0;
    virtual void assign_channels(std::uint32_t count, std::uint32_t layout) = 0;
    // Frames: samples per channel.
    virtual zof::t_size frame_total() const = 0;
    virtual void assign_frame_total(zof::t_size frames) = 0;

    // Floats in use: frames times channels.
    zof::t_size float_total() const { return frame_total() * channel_total(); }

    // Sets size and format and copies `source` (silence when null). With 0
    // frames or 0 channels the buffer is given back.
    void assign_samples(const float* source, zof::t_size frames, std::uint32_t channels, std::uint32_t rate,
                        std::uint32_t layout) {
        const std::uint64_t wide = std::uint64_t(frames) * channels;
        // Too many floats for a 32-bit count: reserve reports the overflow.
        const zof::t_size n = wide > 0xFFFFFFFFu ? zof::t_size(0xFFFFFFFFu) : zof::t_size(wide);
        reserve(n);
        if (n != 0) {
            if (source)
                std::memmove(samples(), source, std::size_t(n) * sizeof(float));
            else
                std::memset(samples(), 0, std::size_t(n) * sizeof(float));
        }
        assign_frame_total(frames);
        assign_channels(channels, layout);
        assign_sample_rate(rate);
    }

    // The same audio and format in a buffer of this chunk's own.
    void copy_from(const audio_chunk& other) {
        if (&other == this) return;
        assign_samples(other.samples(), other.frame_total(), other.channel_total(), other.sample_rate(),
                       other.channel_layout());
    }

    // Multiplies every sample in use by `factor`, in place (never beyond
    // the buffer, whatever the counts say).
    void scale_samples(float factor) {
        zof::t_size n = float_total();
        if (n > capacity()) n = capacity();
        if (n != 0) audio_math::scale(samples(), n, samples(), factor);
    }

    // The tests in this order: channels 1 to 256, rate 1000 to 2822400 Hz,
    // frames not 0 and below 2^31 / (channels * 4), frames * channels within
    // the capacity, a buffer present.
    bool is_valid() const {
        const std::uint32_t channels = channel_total();
        if (channels < 1 || channels > channels_max) return false;
        const std::uint32_t rate = sample_rate();
        if (rate < sample_rate_min || rate > sample_rate_max) return false;
        const zof::t_size frames = frame_total();
        if (frames == 0) return false;
        if (frames >= 0x80000000u / (channels * 4u)) return false;
        if (frames * channels > capacity()) return false;
        return samples() != nullptr;
    }

protected:
    audio_chunk() = default;
    ~audio_chunk() = default;
    audio_chunk(const audio_chunk&) = default;
    audio_chunk& operator=(const audio_chunk&) = default;
};
