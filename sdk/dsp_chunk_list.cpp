// The DSP chunk list with its recycled chunks.
#include "dsp_chunk_list.h"

#include <cstdint>

#include "console.h"

void dsp_chunk_list_impl::erase_at(zof::t_size index) {
    if (index >= m_chunks.get_size()) return;
    m_recycled.add_item(m_chunks[index]);
    m_chunks.remove_by_idx(index);
}

void dsp_chunk_list_impl::erase_marked(const zof::bit_array& mask) {
    const zof::t_size n = m_chunks.get_size();
    for (zof::t_size i = 0; i < n; ++i)
        if (mask.get(i)) m_recycled.add_item(m_chunks[i]);

    class clear_bits final : public zof::bit_array {
    public:
        explicit clear_bits(const zof::bit_array& mask) : m_mask(mask) {}
        bool get(zof::t_size i) const override { return !m_mask.get(i); }
    private:
        const zof::bit_array& m_mask;
    };
    m_chunks.filter_mask(clear_bits(mask));
}

audio_chunk* dsp_chunk_list_impl::insert_chunk(zof::t_size index, zof::t_size hint) {
    const zof::t_size count = m_chunks.get_size();
    if (index > count) index = count;

    chunk_ptr chunk;
    const zof::t_size recycled = m_recycled.get_size();
    if (recycled != 0) {
        zof::t_size best = recycled - 1;
        if (hint > 0) {
            // Distances as signed 32-bit differences; ties keep the earlier.
            auto distance = [hint](zof::t_size capacity) {
                const std::int64_t d = static_cast<std::int32_t>(capacity - hint);
                return d < 0 ? -d : d;
            };
            best = 0;
            std::int64_t best_distance = distance(m_recycled[0]->capacity());
            for (zof::t_size i = 1; i < recycled && best_distance != 0; ++i) {
                const std::int64_t d = distance(m_recycled[i]->capacity());
                if (d < best_distance) {
                    best = i;
                    best_distance = d;
                }
            }
        }
        chunk = m_recycled[best];
        m_recycled.remove_by_idx(best);
        chunk->assign_frame_total(0);
        chunk->assign_channels(0, 0);
        chunk->assign_sample_rate(0);
    } else {
        chunk = chunk_ptr::make<audio_chunk_impl>();
    }

    m_chunks.add_item(chunk);
    for (zof::t_size i = count; i > index; --i) m_chunks.swap_items(i, i - 1);
    return chunk.get();
}

void dsp_chunk_list_remove_bad_chunks(dsp_chunk_list& list) {
    bool removed = false;
    for (zof::t_size i = 0; i < list.chunk_total();) {
        audio_chunk* chunk = list.chunk_at(i);
        if (chunk && chunk->is_valid()) {
            ++i;
            continue;
        }
        if (chunk) {
            chunk->assign_frame_total(0);
            chunk->assign_sample_rate(0);
            chunk->assign_channels(0, 0);
            chunk->reserve(0);
        }
        list.erase_at(i);
        removed = true;
    }
    if (removed) console_print("one or more bad chunks removed from dsp chunk list");
}
