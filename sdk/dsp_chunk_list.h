#pragma once
// The list of audio chunks handed to the player's DSPs. Chunks taken out of
// the list keep their buffers in a second list and are handed out again by
// the next insertion, so a stream that runs for hours reuses the same
// sample buffers.
#include "audio_chunk_impl.h"
#include "dsp.h"
#include "zof/list.h"
#include "zof/rc.h"

class dsp_chunk_list_impl : public dsp_chunk_list {
public:
    dsp_chunk_list_impl() = default;
    dsp_chunk_list_impl(const dsp_chunk_list_impl&) = delete;
    dsp_chunk_list_impl& operator=(const dsp_chunk_list_impl&) = delete;
    virtual ~dsp_chunk_list_impl() = default;

    zof::t_size chunk_total() const override { return m_chunks.get_size(); }
    audio_chunk* chunk_at(zof::t_size index) const override {
        return index < m_chunks.get_size() ? m_chunks[index].get() : nullptr;
    }
    void erase_at(zof::t_size index) override;
    void erase_marked(const zof::bit_array& mask) override;
    // Reuses the recycled chunk whose capacity lies nearest to `hint`
    // (the most recently recycled one for hint 0), or makes a new one.
    audio_chunk* insert_chunk(zof::t_size index, zof::t_size hint) override;

    // Chunks kept for reuse.
    zof::t_size recycled_total() const { return m_recycled.get_size(); }
    audio_chunk* recycled_at(zof::t_size index) const {
        return index < m_recycled.get_size() ? m_recycled[index].get() : nullptr;
    }

private:
    typedef zof::rcptr_t<audio_chunk> chunk_ptr;
    zof::list_t<chunk_ptr, zof::alloc_fast> m_chunks;
    zof::list_t<chunk_ptr, zof::alloc_fast> m_recycled;
};

// Takes every chunk that fails the validity test out of `list`, giving its
// buffer back; one console line tells that some were removed.
void dsp_chunk_list_remove_bad_chunks(dsp_chunk_list& list);
