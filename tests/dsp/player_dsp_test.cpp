// The stream's chain run by the DSP manager through the player's own
// channel converter and resampler.
#include <cmath>

#include "dsp_fixture.h"
#include "dsp_services.h"

namespace {

using namespace dsp_test;

const double pi = 3.14159265358979323846;

// Frequency of a sine from its rising zero crossings (interpolated).
double measure_frequency(const std::vector<float>& s, std::size_t from, std::size_t to, double rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (s[i - 1] < 0.0f && s[i] >= 0.0f) {
            const double t = double(i - 1) + s[i - 1] / double(s[i - 1] - s[i]);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * rate / (last - first);
}

class PlayerDsps : public player_fixture {};

TEST_F(PlayerDsps, StereoAt48kHzComesOutMonoAt44100HzWithTheSinesFrequencyAndLength) {
    const std::uint32_t in_rate = 48000, out_rate = 44100;
    const double frequency = 997.0;
    const std::size_t block = 1024, blocks = 94;

    dsp_chain_config_impl chain;
    dsp_chain_for_stream(chain, 1, out_rate);
    ASSERT_EQ(chain.preset_total(), 2u);
    dsp_manager manager;
    manager.set_config(chain);
    dsp_chunk_list_impl list;
    kestrune_io::abort_callback_impl abort;

    std::vector<float> out;
    auto collect = [&] {
        for (zof::t_size i = 0; i < list.chunk_total(); ++i) {
            const audio_chunk* c = list.chunk_at(i);
            ASSERT_EQ(c->sample_rate(), out_rate);
            ASSERT_EQ(c->channel_total(), 1u);
            EXPECT_EQ(c->channel_layout(), audio_chunk::channel_config_mono);
            out.insert(out.end(), c->samples(), c->samples() + c->frame_total());
        }
    };

    // Left and right differ in level: the mono channel is their mean.
    std::vector<float> in(block * 2);
    std::size_t frames_in = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t f = 0; f < block; ++f) {
            const double v = std::sin(2 * pi * frequency * double(frames_in + f) / in_rate);
            in[2 * f] = float(0.6 * v);
            in[2 * f + 1] = float(0.2 * v);
        }
        list.erase_marked(zof::bit_array_true());
        audio_chunk* c = list.add_chunk(zof::t_size(in.size()));
        c->assign_samples(in.data(), zof::t_size(block), 2, in_rate, audio_chunk::channel_config_stereo);
        const double latency = manager.run(&list, nullptr, 0, abort);
        frames_in += block;
        collect();
        // What came out plus what the resampler holds is what went in.
        const double expected = double(frames_in) * out_rate / in_rate;
        EXPECT_NEAR(double(out.size()) + latency * out_rate, expected, 2.0) << "after block " << b;
    }

    // An empty chain lets the old one hand out what it holds.
    manager.set_config(dsp_chain_config_impl());
    list.erase_marked(zof::bit_array_true());
    manager.run(&list, nullptr, 0, abort);
    collect();
    EXPECT_NEAR(double(out.size()), double(frames_in) * out_rate / in_rate, 2.0);
    EXPECT_EQ(manager.instance_total(), 0u);

    const std::size_t margin = 2000;
    ASSERT_GT(out.size(), 4 * margin);
    EXPECT_NEAR(measure_frequency(out, margin, out.size() - margin, out_rate), frequency, 0.1);
    float peak = 0.0f;
    for (std::size_t i = margin; i < out.size() - margin; ++i) peak = std::max(peak, std::fabs(out[i]));
    EXPECT_NEAR(peak, 0.4f, 0.01f);
}

TEST_F(PlayerDsps, ThePlayersRefusingFactoryFailsTheRunWithAnException) {
    host.registry().add(dsp_factory::class_guid, kestrune_host::make_refusing_factory());
    dsp_chain_config_impl chain;
    chain.append(make_preset(kestrune_host::guid_dsp_test_refusing, ""));
    dsp_manager manager;
    manager.set_config(chain);
    dsp_chunk_list_impl list;
    kestrune_io::abort_callback_impl abort;
    add_audio(list, 64);
    EXPECT_THROW(manager.run(&list, nullptr, 0, abort), exception_dsp_instantiate);
    EXPECT_EQ(list.chunk_total(), 0u);
}

} // namespace
