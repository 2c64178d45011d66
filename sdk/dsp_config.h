#pragma once
// DSP presets and chains as the component keeps them, and the lookup of the
// player's DSP factories: by owner, the best resampler, an instance from a
// preset.
#include <cstdint>

#include "dsp.h"
#include "zof/bit_array.h"
#include "zof/list.h"

namespace kestrune_io { class abort_callback; }
class byte_reader;
class byte_writer;

// Largest data block a preset record may announce.
inline constexpr zof::t_size dsp_preset_data_max = 32u * 1024u * 1024u;

// The one preset implementation: owner and a growable block of bytes.
class dsp_preset_impl : public dsp_preset {
public:
    dsp_preset_impl() = default;
    dsp_preset_impl(const dsp_preset_impl& source) : dsp_preset() { dsp_preset::operator=(source); }
    explicit dsp_preset_impl(const dsp_preset& source) { dsp_preset::operator=(source); }
    dsp_preset_impl& operator=(const dsp_preset_impl& source) {
        dsp_preset::operator=(source);
        return *this;
    }
    dsp_preset_impl& operator=(const dsp_preset& source) {
        dsp_preset::operator=(source);
        return *this;
    }
    virtual ~dsp_preset_impl();

    GUID owner_guid() const override { return m_owner; }
    void assign_owner(const GUID& owner) override { m_owner = owner; }
    const void* data_pointer() const override { return m_data; }
    zof::t_size data_length() const override { return m_size; }
    // `data` may point into this preset's own block.
    void assign_data(const void* data, zof::t_size size) override;
    void read_data(byte_reader& reader, zof::t_size size, kestrune_io::abort_callback& abort) override;

private:
    void resize(zof::t_size size);

    GUID m_owner = guid_null;
    unsigned char* m_data = nullptr;
    zof::t_size m_size = 0;
};

// An ordered chain of presets, first to last.
class dsp_chain_config {
public:
    virtual zof::t_size preset_total() const = 0;
    // `index` must be below the count.
    virtual const dsp_preset& preset_at(zof::t_size index) const = 0;
    virtual void replace_preset(const dsp_preset& preset, zof::t_size index) = 0;
    // Stores a copy at min(index, count).
    virtual void insert_preset(const dsp_preset& preset, zof::t_size index) = 0;
    virtual void erase_marked(const zof::bit_array& mask) = 0;

    // Becomes a copy of `source`, order and data blocks included.
    void copy(const dsp_chain_config& source);
    void append(const dsp_preset& preset) { insert_preset(preset, preset_total()); }
    void clear() { erase_marked(zof::bit_array_true()); }

    // Count (4 bytes, little-endian), then one preset record per preset.
    void contents_to_stream(byte_writer& out, kestrune_io::abort_callback& abort) const;
    // Clears the chain first; on a failure the presets read so far stay.
    void contents_from_stream(byte_reader& in, kestrune_io::abort_callback& abort);

protected:
    dsp_chain_config() = default;
    dsp_chain_config(const dsp_chain_config&) = default;
    dsp_chain_config& operator=(const dsp_chain_config&) = default;
    ~dsp_chain_config() = default;
};

class dsp_chain_config_impl : public dsp_chain_config {
public:
    dsp_chain_config_impl() = default;
    dsp_chain_config_impl(const dsp_chain_config_impl& source) : dsp_chain_config() { copy(source); }
    dsp_chain_config_impl& operator=(const dsp_chain_config_impl& source) {
        copy(source);
        return *this;
    }
    virtual ~dsp_chain_config_impl() = default;

    zof::t_size preset_total() const override { return m_presets.get_size(); }
    const dsp_preset& preset_at(zof::t_size index) const override { return *m_presets[index]; }
    void replace_preset(const dsp_preset& preset, zof::t_size index) override { *m_presets[index] = preset; }
    void insert_preset(const dsp_preset& preset, zof::t_size index) override;
    void erase_marked(const zof::bit_array& mask) override { m_presets.delete_mask(mask); }

private:
    zof::ptr_list_t<dsp_preset_impl, zof::list_t<dsp_preset_impl*, zof::alloc_fast>> m_presets;
};

// The installed factory whose own identifier is `owner`: true and `out`
// set, or false with `out` untouched.
bool find_dsp_entry(service_ptr_t<dsp_factory>& out, const GUID& owner);
// The resampler of the highest priority; of equal ones the first the
// player lists. False (and `out` untouched) when there is none.
bool find_best_resampler(service_ptr_t<resampler_factory>& out);
// An instance made from `preset` by its owner's factory; false when the
// owner is not installed or its factory refuses.
bool dsp_factory_instantiate(service_ptr_t<dsp>& out, const dsp_preset& preset);

// Lets the owner's configuration popup edit `preset`. True when the popup
// ended with settings that differ from those it started from; `preset`
// then holds them. False, and `preset` unchanged, otherwise (no factory,
// no popup, nothing changed).
bool dsp_preset_show_config(dsp_preset& preset, host_window parent);

// The chain a stream runs its audio through: the channel converter for
// `channels` (mono for 1, stereo for any other value), then the best
// resampler set to `sample_rate`. A part that cannot be made is left out
// with a console line; the chain is emptied first.
void dsp_chain_for_stream(dsp_chain_config& chain, std::int32_t channels, std::uint32_t sample_rate);
