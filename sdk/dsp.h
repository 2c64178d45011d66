#pragma once
// DSP interfaces shared by the player and components: presets, the chunk
// list handed to DSPs, DSP instances and the factories that make them
// (among them the resampler and the channel converters).
#include <cstdint>
#include <cstring>

#include "guid.h"
#include "service.h"
#include "zof/string_base.h"

namespace kestrune_io { class abort_callback; }
namespace zof { class bit_array; }
class byte_reader;
class byte_writer;
class audio_chunk;
class track_handle;

// Owner identifiers of the player's two channel converters: to one channel
// and to two channels.
inline constexpr GUID guid_dsp_channel_converter_mono = {0xEFC441DD, 0xC7B4, 0x4F34, {0x97, 0x4A, 0xD3, 0x05, 0x8F, 0x3A, 0x1B, 0xDE}};
inline constexpr GUID guid_dsp_channel_converter_stereo = {0xF661D118, 0x5627, 0x40AD, {0xAB, 0x31, 0xCC, 0xCF, 0x71, 0xA4, 0x81, 0x9D}};

// One DSP's settings: the owner (the factory that makes the DSP) and an
// opaque block of bytes. Operations in table order.
class dsp_preset {
public:
    virtual GUID owner_guid() const = 0;
    virtual void assign_owner(const GUID& owner) = 0;
    virtual const void* data_pointer() const = 0;
    virtual zof::t_size data_length() const = 0;
    virtual void assign_data(const void* data, zof::t_size size) = 0;
    virtual void read_data(byte_reader& reader, zof::t_size size, kestrune_io::abort_callback& abort) = 0;

    dsp_preset& operator=(const dsp_preset& source) {
        if (this != &source) {
            assign_owner(source.owner_guid());
            assign_data(source.data_pointer(), source.data_length());
        }
        return *this;
    }
    bool operator==(const dsp_preset& other) const {
        const zof::t_size n = data_length();
        if (!guid_equal(owner_guid(), other.owner_guid()) || n != other.data_length()) return false;
        return n == 0 || std::memcmp(data_pointer(), other.data_pointer(), n) == 0;
    }
    bool operator!=(const dsp_preset& other) const { return !(*this == other); }

    // The record form: owner (16 bytes, in-memory layout, little-endian
    // fields), data size (4 bytes, little-endian), data. Reading refuses a
    // size above 32 MiB with exception_io_data before reading the data.
    void contents_to_stream(byte_writer& out, kestrune_io::abort_callback& abort) const;
    void contents_from_stream(byte_reader& in, kestrune_io::abort_callback& abort);

protected:
    dsp_preset() = default;
    dsp_preset(const dsp_preset&) = default;
    ~dsp_preset() = default;
};

// The ordered chunks handed to a DSP. A DSP may change chunks in place,
// insert new ones and erase those it consumed. Operations in table order.
class dsp_chunk_list {
public:
    virtual zof::t_size chunk_total() const = 0;
    // Null when `index` is not below the count.
    virtual audio_chunk* chunk_at(zof::t_size index) const = 0;
    // Nothing when `index` is not below the count.
    virtual void erase_at(zof::t_size index) = 0;
    virtual void erase_marked(const zof::bit_array& mask) = 0;
    // A chunk with every field zero (its buffer may be reused), inserted at
    // `index` (appended when beyond the count). `hint` is the expected
    // number of floats (all channels together), 0 when unknown.
    virtual audio_chunk* insert_chunk(zof::t_size index, zof::t_size hint) = 0;

    audio_chunk* add_chunk(zof::t_size hint = 0) { return insert_chunk(chunk_total(), hint); }

protected:
    ~dsp_chunk_list() = default;
};

// A DSP instance.
class dsp : public service_base {
public:
    static constexpr GUID class_guid = {0x45851A03, 0x7446, 0x49DA, {0xB3, 0x19, 0x47, 0x3C, 0x6F, 0x02, 0xF8, 0xAD}};
    typedef service_base parent_class;
    // Flag 2 asks the DSP to flush: hand out what it holds, for it runs
    // for the last time.
    enum : std::uint32_t { flag_flush = 2 };

    // 4: runs the chunks in place. `track` may be null.
    virtual void run(dsp_chunk_list* list, track_handle* track, std::uint32_t flags) = 0;
    // 5: the delay of the audio the DSP holds, in seconds.
    virtual double get_latency() = 0;
protected:
    ~dsp() = default;
};

// A DSP that also takes an abort callback: found on a dsp through
// query_class; its run replaces dsp::run.
class dsp_abortable : public dsp {
public:
    static constexpr GUID class_guid = {0x9FB1DA49, 0xAF6F, 0x4FD2, {0x9C, 0x73, 0x48, 0xA8, 0xA1, 0x09, 0x00, 0x3B}};
    typedef dsp parent_class;
    // 6
    virtual void run_abortable(dsp_chunk_list* list, track_handle* track, std::uint32_t flags,
                               kestrune_io::abort_callback& abort) = 0;
protected:
    ~dsp_abortable() = default;
};

// Told of every change a factory's configuration popup makes to a preset.
class dsp_preset_edit_callback {
public:
    virtual void on_preset_changed(const dsp_preset& preset) = 0;
protected:
    ~dsp_preset_edit_callback() = default;
};

// One installed kind of DSP (the player offers one instance per kind).
class dsp_factory : public service_base {
public:
    static constexpr GUID class_guid = {0x0D048731, 0x8AA8, 0x4704, {0x8A, 0xD6, 0x18, 0x9E, 0x24, 0xD4, 0x8C, 0x88}};
    typedef service_base parent_class;
    // 4: the DSP's default settings into `out` (owner included).
    virtual bool get_default_preset(dsp_preset& out) = 0;
    // 5: a new instance configured by `preset`; false when the preset is
    // not this factory's or its data is unusable.
    virtual bool instantiate(service_ptr_t<dsp>& out, const dsp_preset& preset) = 0;
    // 6: the owner identifier of the presets this factory makes.
    virtual GUID get_guid() = 0;
    // 7: the name shown to the user.
    virtual void get_name(zof::string_base& out) = 0;
    // 8: true when show_config_popup does something.
    virtual bool have_config_popup() = 0;
    // 9: lets the user edit `preset`; each edit reaches `callback`.
    virtual void show_config_popup(const dsp_preset& preset, host_window parent, dsp_preset_edit_callback& callback) = 0;
protected:
    ~dsp_factory() = default;
};

// A dsp_factory that makes resamplers: found on a factory through
// query_class.
class resampler_factory : public dsp_factory {
public:
    static constexpr GUID class_guid = {0x3FEED4FC, 0xA400, 0x4A30, {0x8E, 0x73, 0xF0, 0xEC, 0xD1, 0x14, 0xD7, 0xE8}};
    typedef dsp_factory parent_class;
    // 10: a preset that resamples to `target_rate` Hz; `quality` from 0
    // (fastest) to 1 (best).
    virtual bool create_preset(dsp_preset& out, std::uint32_t target_rate, float quality) = 0;
    // 11: higher is preferred.
    virtual float get_priority() = 0;
protected:
    ~resampler_factory() = default;
};
