#pragma once
// The player's DSPs: the two channel converters and a band-limited
// resampler, plus DSPs that tests install to provoke the component.
#include "dsp.h"
#include "registry.h"

namespace kestrune_host {

// Owner identifiers of the player's own DSPs (the converters use the
// contract's two).
inline constexpr GUID guid_dsp_resampler = {0x91DE2E15, 0x5573, 0x4AB7, {0xB3, 0x19, 0x47, 0x3C, 0x6F, 0x02, 0xF8, 0xAE}};
// For tests only: a second resampler and a factory that refuses.
inline constexpr GUID guid_dsp_test_resampler = {0x91DE2E15, 0x5573, 0x4AB7, {0xB3, 0x19, 0x47, 0x3C, 0x6F, 0x02, 0xF8, 0xAF}};
inline constexpr GUID guid_dsp_test_refusing = {0x91DE2E15, 0x5573, 0x4AB7, {0xB3, 0x19, 0x47, 0x3C, 0x6F, 0x02, 0xF8, 0xB0}};

// The standard resampler's priority; the test resampler has the same.
inline constexpr float resampler_priority = 1.0f;

// Mono converter, stereo converter and resampler, in that order.
void register_standard_dsps(service_registry& registry);

service_ptr_t<dsp_factory> make_channel_converter_factory(std::uint32_t channels);
service_ptr_t<resampler_factory> make_resampler_factory(const GUID& owner, float priority);
// Offers a default preset but refuses to instantiate anything.
service_ptr_t<dsp_factory> make_refusing_factory();

// The resampler's preset data: target rate and quality, 8 bytes.
bool resampler_preset_parse(const dsp_preset& preset, std::uint32_t& rate, float& quality);

} // namespace kestrune_host
