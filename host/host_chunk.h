#pragma once
// The player's own audio chunk: its samples in a plain growable buffer.
#include <vector>

#include "audio_chunk_impl.h"
#include "zof/exceptions.h"

namespace kestrune_host {

// A buffer of floats with the block operations audio_chunk_impl_t uses.
class float_block {
public:
    float* get_ptr() { return m_data.empty() ? nullptr : m_data.data(); }
    const float* get_ptr() const { return m_data.empty() ? nullptr : m_data.data(); }
    zof::t_size get_size() const { return static_cast<zof::t_size>(m_data.size()); }
    void set_size(zof::t_size n) {
        if (std::uint64_t(n) * sizeof(float) > 0xFFFFFFFFu) throw zof::exception_overflow();
        if (n == 0)
            std::vector<float>().swap(m_data);
        else
            m_data.resize(n);
    }
private:
    std::vector<float> m_data;
};

typedef audio_chunk_impl_t<float_block> host_chunk;

} // namespace kestrune_host
