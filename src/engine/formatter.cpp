// PCM formatters of the stream's worker.
#include "engine/formatter.h"

#include <cmath>
#include <cstring>

#include "kestrune_shared.h"

// The targets are little-endian, so the host's 16-bit samples and the
// floats are written as their memory image.

void FormatterInt16::format(const std::vector<float>& in, std::vector<std::uint8_t>& out) {
    out.resize(in.size() * 2);
    if (in.empty()) return;
    // A vector's storage is aligned for any fundamental type.
    audio_math::convert_to_int16(in.data(), in.size(), reinterpret_cast<std::int16_t*>(out.data()), 1.0f);
}

void FormatterInt24::format(const std::vector<float>& in, std::vector<std::uint8_t>& out) {
    constexpr double kScale = 8388607.0;
    constexpr double kMax = 8388607.0;
    constexpr double kMin = -8388608.0;
    out.resize(in.size() * 3);
    std::uint8_t* p = out.data();
    for (float sample : in) {
        double v = static_cast<double>(sample) * kScale;
        // Clamp before the conversion: out-of-range samples would wrap into
        // full-scale clicks, and NaN has no integer value at all.
        if (!(v == v)) v = 0.0;
        else if (v > kMax) v = kMax;
        else if (v < kMin) v = kMin;
        const std::int32_t s = static_cast<std::int32_t>(v);
        const std::uint32_t u = static_cast<std::uint32_t>(s);
        p[0] = static_cast<std::uint8_t>(u);
        p[1] = static_cast<std::uint8_t>(u >> 8);
        p[2] = static_cast<std::uint8_t>(u >> 16);
        p += 3;
    }
}

void FormatterFloat32::format(const std::vector<float>& in, std::vector<std::uint8_t>& out) {
    out.resize(in.size() * sizeof(float));
    if (!in.empty()) std::memcpy(out.data(), in.data(), out.size());
}

std::unique_ptr<Formatter> createFormatter(int wave_format, int* bits) {
    std::unique_ptr<Formatter> formatter;
    int b = 0;
    switch (wave_format) {
    case 0: formatter.reset(new FormatterInt16); b = 16; break;
    case 1: formatter.reset(new FormatterInt24); b = 24; break;
    case 2: formatter.reset(new FormatterFloat32); b = 32; break;
    default: break;
    }
    if (bits != nullptr) *bits = b;
    return formatter;
}
