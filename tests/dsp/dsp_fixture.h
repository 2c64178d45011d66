#pragma once
// A stand-in player connected to the component, and recording stand-ins
// for the player's DSPs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dsp_chunk_list.h"
#include "dsp_fpu.h"
#include "dsp_manager.h"
#include "filesystem.h"
#include "kestrune.h"
#include "sdk_fixture.h"

namespace dsp_test {

// The component sees `host` as its player for the fixture's lifetime.
using player_fixture = with_player;

// Identifiers for stand-in DSP kinds.
inline GUID stub_guid(std::uint8_t n) { return {0x5EED0000u + n, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, n}}; }

inline dsp_preset_impl make_preset(const GUID& owner, const std::string& data) {
    dsp_preset_impl p;
    p.assign_owner(owner);
    p.assign_data(data.data(), static_cast<zof::t_size>(data.size()));
    return p;
}

// What the stand-in DSPs did, in order.
struct dsp_log {
    struct run_entry {
        int instance;
        std::uint32_t flags;
        std::vector<const audio_chunk*> chunks;
        bool flushing_denormals;
        bool rounding_nearest;
        bool denormal_product_zero; // computed, where float math uses SSE
        std::string tracker;
        bool abortable;
    };
    std::vector<int> made;       // instance numbers in order of making
    std::vector<GUID> made_by;   // the owner of each
    std::vector<run_entry> runs;
    // The call-stack mark in force at each latency query and each making.
    std::vector<std::string> latency_trackers, making_trackers;
    int next_instance = 1;
};

inline std::string tracker_name() {
    const char* name = uCallStackTracker::current();
    return name ? name : "";
}

// A DSP that records each run. `latency` is reported as its latency;
// with `throws` every run throws; with `add_bad` each run appends a chunk
// that fails the validity test.
class stub_dsp : public dsp_abortable {
public:
    stub_dsp(dsp_log& log, int number, double latency, bool throws, bool add_bad, bool abortable)
        : m_log(log), m_number(number), m_latency(latency), m_throws(throws), m_add_bad(add_bad),
          m_abortable(abortable) {}
    void run(dsp_chunk_list* list, track_handle*, std::uint32_t flags) override { record(list, flags, false); }
    void run_abortable(dsp_chunk_list* list, track_handle*, std::uint32_t flags,
                       kestrune_io::abort_callback&) override {
        record(list, flags, true);
    }
    double get_latency() override {
        m_log.latency_trackers.emplace_back(tracker_name());
        return m_latency;
    }

    // Offered as dsp_abortable only when made so.
    bool offers_abortable() const { return m_abortable; }

private:
    void record(dsp_chunk_list* list, std::uint32_t flags, bool abortable) {
        dsp_log::run_entry e{m_number, flags, {}, false, false, false, tracker_name(), abortable};
        volatile float tiny = 1e-30f;
        e.denormal_product_zero = tiny * 1e-10f == 0.0f;
        const fpu::state s = fpu::current();
        e.flushing_denormals = fpu::flushes_denormals(s);
        e.rounding_nearest = fpu::rounding_of(s) == fpu::rounding::nearest;
        for (zof::t_size i = 0; i < list->chunk_total(); ++i) e.chunks.push_back(list->chunk_at(i));
        m_log.runs.push_back(e);
        if (m_throws) throw std::runtime_error("stub failure");
        if (m_add_bad) list->add_chunk(0); // every field zero: not valid
    }

    dsp_log& m_log;
    int m_number;
    double m_latency;
    bool m_throws, m_add_bad, m_abortable;
};

// A counted stub whose service query offers dsp_abortable only when the
// stub says so.
class stub_dsp_service final : public stub_dsp {
public:
    using stub_dsp::stub_dsp;
    int drop_reference() override {
        const int left = --m_count;
        if (left == 0) delete this;
        return left;
    }
    int add_reference() override { return ++m_count; }
    bool query_class(service_ptr_t<service_base>& out, const GUID& cls) override {
        const bool match = guid_equal(cls, dsp::class_guid) || (offers_abortable() && guid_equal(cls, dsp_abortable::class_guid));
        if (!match) return false;
        out = static_cast<service_base*>(static_cast<dsp*>(this));
        return true;
    }

private:
    std::atomic<int> m_count{0};
};

struct stub_options {
    double latency = 0.0;
    bool refuses = false;
    bool throws = false;
    bool add_bad = false;
    bool abortable = false;
};

class stub_factory : public dsp_factory {
public:
    stub_factory(dsp_log& log, const GUID& owner, stub_options options) : m_log(log), m_owner(owner), m_options(options) {}
    bool get_default_preset(dsp_preset& out) override {
        out.assign_owner(m_owner);
        out.assign_data("default", 7);
        return true;
    }
    bool instantiate(service_ptr_t<dsp>& out, const dsp_preset& preset) override {
        if (m_options.refuses || !guid_equal(preset.owner_guid(), m_owner)) return false;
        m_log.making_trackers.emplace_back(tracker_name());
        const int n = m_log.next_instance++;
        m_log.made.push_back(n);
        m_log.made_by.push_back(m_owner);
        out = static_cast<dsp*>(new stub_dsp_service(m_log, n, m_options.latency, m_options.throws, m_options.add_bad,
                                                     m_options.abortable));
        return true;
    }
    GUID get_guid() override { return m_owner; }
    void get_name(zof::string_base& out) override { out.assign("stub"); }
    bool have_config_popup() override { return false; }
    void show_config_popup(const dsp_preset&, host_window, dsp_preset_edit_callback&) override {}

    stub_options& options() { return m_options; }

private:
    dsp_log& m_log;
    GUID m_owner;
    stub_options m_options;
};

// Appends a valid chunk of `frames` stereo frames at 44100 Hz filled with
// `value`.
inline audio_chunk* add_audio(dsp_chunk_list& list, zof::t_size frames, float value = 0.25f) {
    audio_chunk* c = list.add_chunk(frames * 2);
    std::vector<float> samples(std::size_t(frames) * 2, value);
    c->assign_samples(samples.data(), frames, 2, 44100, audio_chunk::channel_config_stereo);
    return c;
}

} // namespace dsp_test
