// The stand-in player's DSPs: channel converters, the resampler, and the
// DSPs tests install.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "dsp_services.h"
#include "host_chunk.h"
#include "host_string.h"
#include "kestrune_io.h"
#include "player.h"

using namespace kestrune_host;

namespace {

constexpr double pi = 3.14159265358979323846;

// A plain chunk list, enough to drive a DSP.
class chunk_list final : public dsp_chunk_list {
public:
    zof::t_size chunk_total() const override { return static_cast<zof::t_size>(m_chunks.size()); }
    audio_chunk* chunk_at(zof::t_size i) const override { return i < m_chunks.size() ? m_chunks[i].get() : nullptr; }
    void erase_at(zof::t_size i) override {
        if (i < m_chunks.size()) m_chunks.erase(m_chunks.begin() + i);
    }
    void erase_marked(const zof::bit_array&) override { throw std::logic_error("not used here"); }
    audio_chunk* insert_chunk(zof::t_size index, zof::t_size) override {
        if (index > m_chunks.size()) index = static_cast<zof::t_size>(m_chunks.size());
        return m_chunks.insert(m_chunks.begin() + index, std::make_unique<host_chunk>())->get();
    }
private:
    std::vector<std::unique_ptr<host_chunk>> m_chunks;
};

// A preset as the component keeps one.
class preset final : public dsp_preset {
public:
    GUID owner_guid() const override { return m_owner; }
    void assign_owner(const GUID& g) override { m_owner = g; }
    const void* data_pointer() const override { return m_data.empty() ? nullptr : m_data.data(); }
    zof::t_size data_length() const override { return static_cast<zof::t_size>(m_data.size()); }
    void assign_data(const void* d, zof::t_size n) override {
        const auto* p = static_cast<const unsigned char*>(d);
        m_data.assign(p, p + n);
    }
    void read_data(byte_reader&, zof::t_size, kestrune_io::abort_callback&) override {}
private:
    GUID m_owner = guid_null;
    std::vector<unsigned char> m_data;
};

template <class T>
std::vector<service_ptr_t<T>> all_of(player& host) {
    std::vector<service_ptr_t<T>> out;
    service_ptr raw;
    for (std::uint32_t i = 0; host.registry().create(raw, host.registry().find(dsp_factory::class_guid), i); ++i) {
        service_ptr_t<T> item;
        if (raw.query(item)) out.push_back(item);
    }
    return out;
}

service_ptr_t<dsp_factory> factory_for(player& host, const GUID& owner) {
    for (auto& f : all_of<dsp_factory>(host))
        if (guid_equal(f->get_guid(), owner)) return f;
    return nullptr;
}

void add_sine(chunk_list& list, double freq, std::uint32_t rate, std::uint32_t channels, std::size_t frames, std::size_t& phase) {
    std::vector<float> data(frames * channels);
    for (std::size_t i = 0; i < frames; ++i, ++phase)
        for (std::uint32_t c = 0; c < channels; ++c) data[i * channels + c] = float(0.5 * std::sin(2 * pi * freq * phase / rate));
    list.add_chunk()->assign_samples(data.data(), static_cast<zof::t_size>(frames), channels, rate,
                                     audio_chunk::default_channel_config(channels));
}

} // namespace

TEST(PlayerDsps, MonoAndStereoConvertersMixDownAndDuplicate) {
    player host;
    auto factories = all_of<dsp_factory>(host);
    ASSERT_EQ(factories.size(), 3u); // the mono converter, the stereo one, the resampler
    EXPECT_TRUE(guid_equal(factories[0]->get_guid(), guid_dsp_channel_converter_mono));
    EXPECT_TRUE(guid_equal(factories[1]->get_guid(), guid_dsp_channel_converter_stereo));
    preset p;
    auto to_mono = factory_for(host, guid_dsp_channel_converter_mono);
    auto to_stereo = factory_for(host, guid_dsp_channel_converter_stereo);
    ASSERT_TRUE(to_mono && to_stereo);

    ASSERT_TRUE(to_mono->get_default_preset(p));
    EXPECT_TRUE(guid_equal(p.owner_guid(), guid_dsp_channel_converter_mono));
    service_ptr_t<dsp> mono;
    ASSERT_TRUE(to_mono->instantiate(mono, p));
    service_ptr_t<dsp> wrong;
    EXPECT_FALSE(to_stereo->instantiate(wrong, p)); // not its preset

    chunk_list list;
    const float stereo[] = {1.0f, 0.0f, 0.5f, -0.5f};
    list.add_chunk()->assign_samples(stereo, 2, 2, 44100, audio_chunk::channel_config_stereo);
    mono->run(&list, nullptr, 0);
    audio_chunk* c = list.chunk_at(0);
    ASSERT_EQ(c->channel_total(), 1u);
    EXPECT_EQ(c->channel_layout(), audio_chunk::channel_config_mono);
    EXPECT_EQ(std::vector<float>(c->samples(), c->samples() + 2), (std::vector<float>{0.5f, 0.0f}));

    ASSERT_TRUE(to_stereo->get_default_preset(p));
    service_ptr_t<dsp> stereo_dsp;
    ASSERT_TRUE(to_stereo->instantiate(stereo_dsp, p));
    stereo_dsp->run(&list, nullptr, 0);
    c = list.chunk_at(0);
    ASSERT_EQ(c->channel_total(), 2u);
    EXPECT_EQ(std::vector<float>(c->samples(), c->samples() + 4), (std::vector<float>{0.5f, 0.5f, 0.0f, 0.0f}));
    EXPECT_EQ(c->sample_rate(), 44100u);
}

// Its length and frequency through the stream's chain are measured by the
// component's DSP tests.
TEST(PlayerDsps, ResamplerPassesTargetRateThroughAndHonoursAbort) {
    player host;
    auto resamplers = all_of<resampler_factory>(host);
    ASSERT_EQ(resamplers.size(), 1u);
    EXPECT_TRUE(guid_equal(resamplers[0]->get_guid(), guid_dsp_resampler));
    EXPECT_EQ(resamplers[0]->get_priority(), resampler_priority);
    preset p;
    EXPECT_FALSE(resamplers[0]->create_preset(p, 999, 0.5f));
    ASSERT_TRUE(resamplers[0]->create_preset(p, 44100, 0.9f));
    service_ptr_t<dsp> rs;
    ASSERT_TRUE(resamplers[0]->instantiate(rs, p));
    chunk_list list;
    std::size_t phase = 0;
    add_sine(list, 440.0, 44100, 2, 512, phase);
    const std::vector<float> before(list.chunk_at(0)->samples(), list.chunk_at(0)->samples() + 1024);
    rs->run(&list, nullptr, 0);
    ASSERT_EQ(list.chunk_total(), 1u);
    EXPECT_EQ(std::vector<float>(list.chunk_at(0)->samples(), list.chunk_at(0)->samples() + 1024), before);

    class aborted final : public kestrune_io::abort_callback {
    public:
        bool abort_requested() const override { return true; }
        HANDLE abort_event() const override { return nullptr; }
    } stop;
    service_ptr_t<dsp_abortable> abortable;
    ASSERT_TRUE(rs.query(abortable));
    EXPECT_THROW(abortable->run_abortable(&list, nullptr, 0, stop), kestrune_io::exception_aborted);
}
