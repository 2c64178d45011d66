#pragma once
// The component's audio chunk: its samples in a block aligned to 16 bytes.
#include "audio_chunk.h"
#include "zof/memory.h"

template <class Block>
class audio_chunk_impl_t : public audio_chunk {
public:
    audio_chunk_impl_t() = default;
    audio_chunk_impl_t(const audio_chunk_impl_t&) = delete;
    audio_chunk_impl_t& operator=(const audio_chunk_impl_t&) = delete;
    virtual ~audio_chunk_impl_t() = default;

    const float* samples() const override { return m_data.get_ptr(); }
    float* samples() override { return m_data.get_ptr(); }
    zof::t_size capacity() const override { return m_data.get_size(); }
    // "Overflow" when n floats exceed 32 bits of bytes; "bad allocation"
    // with the old block kept when the heap refuses.
    void reserve(zof::t_size n) override { m_data.set_size(n); }
    std::uint32_t sample_rate() const override { return m_rate; }
    void assign_sample_rate(std::uint32_t rate) override { m_rate = rate; }
    std::uint32_t channel_total() const override { return m_channels; }
    std::uint32_t channel_layout() const override { return m_layout; }
    void assign_channels(std::uint32_t count, std::uint32_t layout) override {
        m_channels = count;
        m_layout = layout;
    }
    zof::t_size frame_total() const override { return m_frames; }
    void assign_frame_total(zof::t_size frames) override { m_frames = frames; }

private:
    Block m_data;
    std::uint32_t m_rate = 0;
    std::uint32_t m_channels = 0;
    std::uint32_t m_layout = 0;
    zof::t_size m_frames = 0;
};

typedef audio_chunk_impl_t<zof::mem_block_aligned_t<float, 16>> audio_chunk_impl;
