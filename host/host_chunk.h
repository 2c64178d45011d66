#pragma once
// The player's own audio chunk: a growable buffer of floats.
#include <stdexcept>
#include <vector>

#include "audio_chunk.h"

namespace kestrune_host {

class host_chunk final : public audio_chunk {
public:
    host_chunk() = default;
    host_chunk(const host_chunk& other) : audio_chunk() { copy_from(other); }
    host_chunk& operator=(const host_chunk& other) {
        copy_from(other);
        return *this;
    }

    const float* samples() const override { return m_data.empty() ? nullptr : m_data.data(); }
    float* samples() override { return m_data.empty() ? nullptr : m_data.data(); }
    zof::t_size capacity() const override { return static_cast<zof::t_size>(m_data.size()); }
    void reserve(zof::t_size n) override {
        if (std::uint64_t(n) * sizeof(float) > 0xFFFFFFFFu) throw std::overflow_error("Overflow");
        if (n == 0) {
            std::vector<float>().swap(m_data);
            return;
        }
        m_data.resize(n);
    }
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
    std::vector<float> m_data;
    std::uint32_t m_rate = 0;
    std::uint32_t m_channels = 0;
    std::uint32_t m_layout = 0;
    zof::t_size m_frames = 0;
};

} // namespace kestrune_host
