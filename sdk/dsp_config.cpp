// DSP presets, chains and the lookup of the player's DSP factories.
#include "dsp_config.h"

#include <cstring>

#include "console.h"
#include "filesystem.h"
#include "service_lookup.h"
#include "zof/memory.h"

namespace {

void put_le16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put_le32(unsigned char* p, std::uint32_t v) {
    put_le16(p, static_cast<std::uint16_t>(v));
    put_le16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

std::uint16_t get_le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t get_le32(const unsigned char* p) { return get_le16(p) | (std::uint32_t(get_le16(p + 2)) << 16); }

void write_le32(byte_writer& out, std::uint32_t v, kestrune_io::abort_callback& abort) {
    unsigned char bytes[4];
    put_le32(bytes, v);
    out.write(bytes, 4, abort);
}

std::uint32_t read_le32(byte_reader& in, kestrune_io::abort_callback& abort) {
    unsigned char bytes[4];
    in.read_object(bytes, 4, abort);
    return get_le32(bytes);
}

} // namespace

// ---------------------------------------------------------------- presets
dsp_preset_impl::~dsp_preset_impl() { zof::raw_realloc(m_data, 0); }

void dsp_preset_impl::resize(zof::t_size size) {
    if (size > m_size) {
        zof::realloc_bytes(m_data, size);
        m_size = size;
    } else if (size < m_size) {
        m_size = size;
        zof::realloc_bytes(m_data, size);
    }
}

void dsp_preset_impl::assign_data(const void* data, zof::t_size size) {
    if (data == m_data && size == m_size) return;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (size != 0 && bytes >= m_data && bytes < m_data + m_size) {
        // A part of our own block: copy it out before the block moves.
        dsp_preset_impl copy;
        copy.assign_data(data, size);
        resize(size);
        std::memcpy(m_data, copy.m_data, size);
        return;
    }
    resize(size);
    if (size != 0) std::memcpy(m_data, data, size);
}

void dsp_preset_impl::read_data(byte_reader& reader, zof::t_size size, kestrune_io::abort_callback& abort) {
    resize(size);
    if (size != 0) reader.read_object(m_data, size, abort);
}

void dsp_preset::contents_to_stream(byte_writer& out, kestrune_io::abort_callback& abort) const {
    const GUID owner = owner_guid();
    unsigned char head[20];
    put_le32(head, owner.Data1);
    put_le16(head + 4, owner.Data2);
    put_le16(head + 6, owner.Data3);
    std::memcpy(head + 8, owner.Data4, 8);
    const zof::t_size size = data_length();
    put_le32(head + 16, size);
    out.write(head, sizeof head, abort);
    if (size != 0) out.write(data_pointer(), size, abort);
}

void dsp_preset::contents_from_stream(byte_reader& in, kestrune_io::abort_callback& abort) {
    unsigned char raw[16];
    in.read_object(raw, sizeof raw, abort);
    GUID owner;
    owner.Data1 = get_le32(raw);
    owner.Data2 = get_le16(raw + 4);
    owner.Data3 = get_le16(raw + 6);
    std::memcpy(owner.Data4, raw + 8, 8);
    assign_owner(owner);
    const std::uint32_t size = read_le32(in, abort);
    if (size > dsp_preset_data_max) throw kestrune_io::exception_io_data();
    read_data(in, size, abort);
}

// ---------------------------------------------------------------- chains
void dsp_chain_config::copy(const dsp_chain_config& source) {
    if (&source == this) return;
    clear();
    const zof::t_size n = source.preset_total();
    for (zof::t_size i = 0; i < n; ++i) insert_preset(source.preset_at(i), preset_total());
}

void dsp_chain_config::contents_to_stream(byte_writer& out, kestrune_io::abort_callback& abort) const {
    const zof::t_size n = preset_total();
    write_le32(out, n, abort);
    for (zof::t_size i = 0; i < n; ++i) preset_at(i).contents_to_stream(out, abort);
}

void dsp_chain_config::contents_from_stream(byte_reader& in, kestrune_io::abort_callback& abort) {
    clear();
    const std::uint32_t n = read_le32(in, abort);
    dsp_preset_impl record;
    for (std::uint32_t i = 0; i < n; ++i) {
        record.contents_from_stream(in, abort);
        append(record);
    }
}

void dsp_chain_config_impl::insert_preset(const dsp_preset& preset, zof::t_size index) {
    const zof::t_size n = m_presets.get_size();
    if (index > n) index = n;
    auto* made = new dsp_preset_impl(preset);
    // The list owns the preset only once it holds it.
    try {
        m_presets.add_item(made);
    } catch (...) {
        delete made;
        throw;
    }
    for (zof::t_size i = n; i > index; --i) m_presets.swap_items(i, i - 1);
}

// ---------------------------------------------------------------- factories
bool find_dsp_entry(service_ptr_t<dsp_factory>& out, const GUID& owner) {
    service_enum_t<dsp_factory> factories;
    service_ptr_t<dsp_factory> factory;
    while (factories.next(factory)) {
        if (guid_equal(factory->get_guid(), owner)) {
            out = factory;
            return true;
        }
        factory.release();
    }
    return false;
}

bool find_best_resampler(service_ptr_t<resampler_factory>& out) {
    service_enum_t<dsp_factory> factories;
    service_ptr_t<dsp_factory> factory;
    service_ptr_t<resampler_factory> best;
    float best_priority = 0.0f;
    while (factories.next(factory)) {
        service_ptr_t<resampler_factory> candidate;
        if (factory.query(candidate)) {
            const float priority = candidate->get_priority();
            if (best.is_empty() || priority > best_priority) {
                best = candidate;
                best_priority = priority;
            }
        }
        factory.release();
    }
    if (best.is_empty()) return false;
    out = best;
    return true;
}

bool dsp_factory_instantiate(service_ptr_t<dsp>& out, const dsp_preset& preset) {
    service_ptr_t<dsp_factory> factory;
    if (!find_dsp_entry(factory, preset.owner_guid())) return false;
    return factory->instantiate(out, preset);
}

bool dsp_preset_show_config(dsp_preset& preset, host_window parent) {
    service_ptr_t<dsp_factory> factory;
    if (!find_dsp_entry(factory, preset.owner_guid()) || !factory->have_config_popup()) return false;

    class keep_edits final : public dsp_preset_edit_callback {
    public:
        explicit keep_edits(dsp_preset_impl& target) : m_target(target) {}
        void on_preset_changed(const dsp_preset& edited) override { m_target = edited; }
    private:
        dsp_preset_impl& m_target;
    };

    const dsp_preset_impl before(preset);
    dsp_preset_impl edited(preset);
    keep_edits callback(edited);
    factory->show_config_popup(before, parent, callback);
    if (edited == before) return false;
    preset = edited;
    return true;
}

// ---------------------------------------------------------------- the stream's chain
void dsp_chain_for_stream(dsp_chain_config& chain, std::int32_t channels, std::uint32_t sample_rate) {
    chain.clear();
    dsp_preset_impl preset;

    const GUID& converter = channels == 1 ? guid_dsp_channel_converter_mono : guid_dsp_channel_converter_stereo;
    service_ptr_t<dsp_factory> factory;
    if (find_dsp_entry(factory, converter) && factory->get_default_preset(preset))
        chain.append(preset);
    else
        console_print("velmora: failed to set channel converter");

    service_ptr_t<resampler_factory> resampler;
    if (!find_best_resampler(resampler))
        console_print("velmora: failed to set resampler");
    else if (resampler->create_preset(preset, sample_rate, 0.5f))
        chain.append(preset);
    else
        console_print("velmora: failed to create resampler preset");
}
