// The player's DSPs.
#include "dsp_services.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <soxr.h>

#include "audio_chunk.h"
#include "kestrune_io.h"

namespace kestrune_host {

namespace {

// ---------------------------------------------------------------- channel converter
class channel_converter : public dsp {
public:
    explicit channel_converter(std::uint32_t target) : m_target(target) {}

    void run(dsp_chunk_list* list, track_handle*, std::uint32_t) override {
        if (!list) return;
        for (zof::t_size i = 0; i < list->chunk_total(); ++i) {
            audio_chunk* c = list->chunk_at(i);
            if (!c || !c->is_valid() || c->channel_total() == m_target) continue;
            convert(*c);
        }
    }
    double get_latency() override { return 0.0; }

private:
    void convert(audio_chunk& c) {
        const std::uint32_t from = c.channel_total();
        const zof::t_size frames = c.frame_total();
        const float* in = c.samples();
        m_scratch.resize(std::size_t(frames) * m_target);
        float* out = m_scratch.data();
        for (zof::t_size f = 0; f < frames; ++f, in += from) {
            if (m_target == 1) {
                float sum = 0.0f;
                for (std::uint32_t k = 0; k < from; ++k) sum += in[k];
                *out++ = sum / float(from);
            } else if (from == 1) {
                *out++ = in[0];
                *out++ = in[0];
            } else {
                // More than two channels: the front pair.
                *out++ = in[0];
                *out++ = in[1];
            }
        }
        c.assign_samples(m_scratch.data(), frames, m_target, c.sample_rate(), audio_chunk::default_channel_config(m_target));
    }

    std::uint32_t m_target;
    std::vector<float> m_scratch;
};

class channel_converter_factory : public dsp_factory {
public:
    explicit channel_converter_factory(std::uint32_t channels)
        : m_channels(channels), m_guid(channels == 1 ? guid_dsp_channel_converter_mono : guid_dsp_channel_converter_stereo) {}
    bool get_default_preset(dsp_preset& out) override {
        out.assign_owner(m_guid);
        out.assign_data(nullptr, 0);
        return true;
    }
    bool instantiate(service_ptr_t<dsp>& out, const dsp_preset& preset) override {
        if (!guid_equal(preset.owner_guid(), m_guid)) return false;
        out = make_service<channel_converter>(m_channels);
        return true;
    }
    GUID get_guid() override { return m_guid; }
    void get_name(zof::string_base& out) override { out.assign(m_channels == 1 ? "Convert to mono" : "Convert to stereo"); }
    bool have_config_popup() override { return false; }
    void show_config_popup(const dsp_preset&, host_window, dsp_preset_edit_callback&) override {}

private:
    std::uint32_t m_channels;
    GUID m_guid;
};

// ---------------------------------------------------------------- resampler
soxr_quality_spec_t quality_for(float q) {
    const unsigned long recipe = q < 0.34f ? SOXR_LQ : (q < 0.67f ? SOXR_MQ : SOXR_HQ);
    return soxr_quality_spec(recipe, 0);
}

class resampler : public dsp_abortable {
public:
    resampler(std::uint32_t target, float quality) : m_target(target), m_quality(quality) {}
    ~resampler() { close(); }

    void run(dsp_chunk_list* list, track_handle*, std::uint32_t flags) override { process(list, flags); }
    void run_abortable(dsp_chunk_list* list, track_handle*, std::uint32_t flags, kestrune_io::abort_callback& abort) override {
        if (abort.abort_requested()) throw kestrune_io::exception_aborted();
        process(list, flags);
    }
    double get_latency() override { return m_soxr ? soxr_delay(m_soxr) / double(m_target) : 0.0; }

private:
    void process(dsp_chunk_list* list, std::uint32_t flags) {
        if (!list) return;
        for (zof::t_size i = 0; i < list->chunk_total();) {
            audio_chunk* c = list->chunk_at(i);
            if (!c || !c->is_valid()) {
                ++i;
                continue;
            }
            const std::uint32_t rate = c->sample_rate(), channels = c->channel_total();
            if (m_soxr && (rate != m_in_rate || channels != m_channels)) {
                // The format changed: what the old resampler holds goes first.
                if (drain(list, i)) ++i;
                close();
            }
            if (rate == m_target) {
                ++i;
                continue;
            }
            if (!m_soxr) open(rate, channels);
            const zof::t_size produced = resample(c->samples(), c->frame_total());
            if (produced == 0) {
                list->erase_at(i);
                continue;
            }
            c->assign_samples(m_out.data(), produced, channels, m_target, c->channel_layout());
            ++i;
        }
        if ((flags & dsp::flag_flush) && m_soxr) {
            drain(list, list->chunk_total());
            close();
        }
    }

    void open(std::uint32_t rate, std::uint32_t channels) {
        soxr_error_t error = nullptr;
        soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        soxr_quality_spec_t q = quality_for(m_quality);
        m_soxr = soxr_create(rate, m_target, channels, &error, &io, &q, nullptr);
        if (!m_soxr || error) {
            m_soxr = nullptr;
            throw std::runtime_error(std::string("resampler: ") + (error ? error : "cannot create"));
        }
        m_in_rate = rate;
        m_channels = channels;
    }

    void close() {
        if (m_soxr) soxr_delete(m_soxr);
        m_soxr = nullptr;
    }

    // Resamples `frames` frames into m_out; answers the frames produced.
    zof::t_size resample(const float* in, zof::t_size frames) {
        const double ratio = double(m_target) / m_in_rate;
        const std::size_t room = static_cast<std::size_t>(std::ceil(frames * ratio)) + 256;
        m_out.resize(room * m_channels);
        std::size_t produced = 0, consumed = 0;
        while (consumed < frames) {
            if (m_out.size() - produced * m_channels < 64 * m_channels) m_out.resize(m_out.size() * 2);
            std::size_t used = 0, made = 0;
            soxr_error_t e = soxr_process(m_soxr, in + consumed * m_channels, frames - consumed, &used,
                                          m_out.data() + produced * m_channels, m_out.size() / m_channels - produced, &made);
            if (e) throw std::runtime_error(std::string("resampler: ") + e);
            consumed += used;
            produced += made;
            if (used == 0 && made == 0) break;
        }
        return static_cast<zof::t_size>(produced);
    }

    // Inserts what the resampler still holds as a chunk at `index`; false
    // when it held nothing.
    bool drain(dsp_chunk_list* list, zof::t_size index) {
        std::vector<float> tail;
        std::vector<float> block(4096 * m_channels);
        for (;;) {
            std::size_t made = 0;
            soxr_error_t e = soxr_process(m_soxr, nullptr, 0, nullptr, block.data(), 4096, &made);
            if (e) throw std::runtime_error(std::string("resampler: ") + e);
            if (made == 0) break;
            tail.insert(tail.end(), block.begin(), block.begin() + std::ptrdiff_t(made * m_channels));
        }
        if (tail.empty()) return false;
        audio_chunk* c = list->insert_chunk(index, static_cast<zof::t_size>(tail.size()));
        c->assign_samples(tail.data(), static_cast<zof::t_size>(tail.size() / m_channels), m_channels, m_target,
                          audio_chunk::default_channel_config(m_channels));
        return true;
    }

    std::uint32_t m_target;
    float m_quality;
    soxr_t m_soxr = nullptr;
    std::uint32_t m_in_rate = 0;
    std::uint32_t m_channels = 0;
    std::vector<float> m_out;
};

void put_le32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

class resampler_factory_impl : public resampler_factory {
public:
    resampler_factory_impl(const GUID& owner, float priority) : m_owner(owner), m_priority(priority) {}
    bool get_default_preset(dsp_preset& out) override { return create_preset(out, 44100, 0.5f); }
    bool instantiate(service_ptr_t<dsp>& out, const dsp_preset& preset) override {
        std::uint32_t rate;
        float quality;
        if (!guid_equal(preset.owner_guid(), m_owner) || !resampler_preset_parse(preset, rate, quality)) return false;
        out = make_service<resampler>(rate, quality);
        return true;
    }
    GUID get_guid() override { return m_owner; }
    void get_name(zof::string_base& out) override { out.assign("Resampler"); }
    bool have_config_popup() override { return false; }
    void show_config_popup(const dsp_preset&, host_window, dsp_preset_edit_callback&) override {}
    bool create_preset(dsp_preset& out, std::uint32_t target_rate, float quality) override {
        if (target_rate < audio_chunk::sample_rate_min || target_rate > audio_chunk::sample_rate_max) return false;
        if (!(quality >= 0.0f && quality <= 1.0f)) return false;
        unsigned char data[8];
        put_le32(data, target_rate);
        std::uint32_t bits;
        std::memcpy(&bits, &quality, 4);
        put_le32(data + 4, bits);
        out.assign_owner(m_owner);
        out.assign_data(data, sizeof data);
        return true;
    }
    float get_priority() override { return m_priority; }

private:
    GUID m_owner;
    float m_priority;
};

// ---------------------------------------------------------------- test DSPs
class refusing_factory : public dsp_factory {
public:
    bool get_default_preset(dsp_preset& out) override {
        out.assign_owner(guid_dsp_test_refusing);
        out.assign_data(nullptr, 0);
        return true;
    }
    bool instantiate(service_ptr_t<dsp>&, const dsp_preset&) override { return false; }
    GUID get_guid() override { return guid_dsp_test_refusing; }
    void get_name(zof::string_base& out) override { out.assign("Refusing DSP"); }
    bool have_config_popup() override { return false; }
    void show_config_popup(const dsp_preset&, host_window, dsp_preset_edit_callback&) override {}
};

std::uint32_t get_le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

} // namespace

bool resampler_preset_parse(const dsp_preset& preset, std::uint32_t& rate, float& quality) {
    if (preset.data_length() != 8 || !preset.data_pointer()) return false;
    const auto* p = static_cast<const unsigned char*>(preset.data_pointer());
    const std::uint32_t r = get_le32(p);
    const std::uint32_t bits = get_le32(p + 4);
    float q;
    std::memcpy(&q, &bits, 4);
    if (r < audio_chunk::sample_rate_min || r > audio_chunk::sample_rate_max || !(q >= 0.0f && q <= 1.0f)) return false;
    rate = r;
    quality = q;
    return true;
}

service_ptr_t<dsp_factory> make_channel_converter_factory(std::uint32_t channels) {
    return make_service<channel_converter_factory>(channels);
}

service_ptr_t<resampler_factory> make_resampler_factory(const GUID& owner, float priority) {
    return make_service<resampler_factory_impl>(owner, priority);
}

service_ptr_t<dsp_factory> make_refusing_factory() { return make_service<refusing_factory>(); }

void register_standard_dsps(service_registry& registry) {
    registry.add(dsp_factory::class_guid, make_channel_converter_factory(1));
    registry.add(dsp_factory::class_guid, make_channel_converter_factory(2));
    registry.add(dsp_factory::class_guid, make_resampler_factory(guid_dsp_resampler, resampler_priority));
}

} // namespace kestrune_host
