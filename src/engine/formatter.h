#pragma once
// Formatters turn the stream's interleaved float samples into the PCM bytes
// (little-endian) that the encoder programs read.
#include <cstdint>
#include <memory>
#include <vector>

class Formatter {
public:
    virtual ~Formatter() = default;
    // Replaces `out` with the PCM bytes of all samples of `in`.
    virtual void format(const std::vector<float>& in, std::vector<std::uint8_t>& out) = 0;
};

// 16-bit signed integers, through the player's own conversion.
class FormatterInt16 : public Formatter {
public:
    void format(const std::vector<float>& in, std::vector<std::uint8_t>& out) override;
};

// 24-bit signed integers: the sample times 8388607, truncated. Samples
// beyond +-1 are held at the 24-bit limits and NaN becomes silence.
class FormatterInt24 : public Formatter {
public:
    void format(const std::vector<float>& in, std::vector<std::uint8_t>& out) override;
};

// 32-bit IEEE floats, the samples' bytes unchanged.
class FormatterFloat32 : public Formatter {
public:
    void format(const std::vector<float>& in, std::vector<std::uint8_t>& out) override;
};

// The formatter for a stored wave_format (0 16-bit, 1 24-bit, 2 float) with
// its bits per sample for the WAV header; null and 0 for any other value.
std::unique_ptr<Formatter> createFormatter(int wave_format, int* bits = nullptr);
