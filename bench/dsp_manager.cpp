// Cost of the DSP manager per captured chunk: the player's channel
// converter and resampler run through the manager against the same two
// instances called directly, 48 kHz stereo to 44.1 kHz mono.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "dsp_chunk_list.h"
#include "dsp_manager.h"
#include "kestrune.h"
#include "player.h"

namespace {

using clock_type = std::chrono::steady_clock;

const std::size_t frames_per_chunk = 1024;
const std::uint32_t in_rate = 48000;

void fill(dsp_chunk_list_impl& list, const std::vector<float>& samples) {
    list.erase_marked(zof::bit_array_true());
    audio_chunk* c = list.add_chunk(zof::t_size(samples.size()));
    c->assign_samples(samples.data(), zof::t_size(frames_per_chunk), 2, in_rate, audio_chunk::channel_config_stereo);
}

} // namespace

int main() {
    kestrune_host::player host;
    kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(true);

    std::vector<float> samples(frames_per_chunk * 2);
    for (std::size_t i = 0; i < frames_per_chunk; ++i)
        samples[2 * i] = samples[2 * i + 1] = float(0.5 * std::sin(0.13 * double(i)));

    dsp_chain_config_impl chain;
    dsp_chain_for_stream(chain, 1, 44100);
    const int chunks = 20000;
    kestrune_io::abort_callback_impl abort;

    dsp_manager manager;
    manager.set_config(chain);
    dsp_chunk_list_impl list;
    fill(list, samples);
    manager.run(&list, nullptr, 0, abort);
    auto start = clock_type::now();
    for (int i = 0; i < chunks; ++i) {
        fill(list, samples);
        manager.run(&list, nullptr, 0, abort);
    }
    const double managed = std::chrono::duration<double, std::micro>(clock_type::now() - start).count() / chunks;

    std::vector<service_ptr_t<dsp>> direct(manager.instance_total());
    for (zof::t_size i = 0; i < chain.preset_total(); ++i) dsp_factory_instantiate(direct[i], chain.preset_at(i));
    start = clock_type::now();
    for (int i = 0; i < chunks; ++i) {
        fill(list, samples);
        for (auto& d : direct) d->run(&list, nullptr, 0);
    }
    const double bare = std::chrono::duration<double, std::micro>(clock_type::now() - start).count() / chunks;

    const double chunk_us = 1e6 * double(frames_per_chunk) / in_rate;
    std::printf("dsp_manager::run  %8.2f us per %zu-frame chunk (%.0fx real time)\n", managed, frames_per_chunk,
                chunk_us / managed);
    std::printf("instances alone   %8.2f us per chunk; manager overhead %.2f us\n", bare, managed - bare);
    kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(false);
    return 0;
}
