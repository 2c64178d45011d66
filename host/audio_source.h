#pragma once
// Where the player's audio comes from: generated test signals and WAV files.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrune_host {

class audio_source {
public:
    virtual ~audio_source() = default;
    virtual std::uint32_t sample_rate() const = 0;
    virtual std::uint32_t channels() const = 0;
    // Up to `frames` interleaved frames into `out`; 0 at the end.
    virtual std::size_t read(float* out, std::size_t frames) = 0;
};

enum class waveform { sine, square, silence, noise };

// A test signal of `seconds` (at least one frame) at `amplitude` (full
// scale 1.0): channel n at frequencies[n], the last frequency also on the
// channels beyond the list.
std::unique_ptr<audio_source> make_signal(waveform shape, const std::vector<double>& frequencies, float amplitude,
                                          std::uint32_t rate, std::uint32_t channels, double seconds);

// A RIFF/WAVE file with 8/16/24/32-bit integer or 32/64-bit float PCM.
// Throws std::runtime_error with the reason when it cannot be read.
std::unique_ptr<audio_source> open_wav(const std::string& path);

} // namespace kestrune_host
