#pragma once
// What the benchmarks share: the audio they encode and where the programs
// built beside them are.
#include <cmath>
#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace bench {

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// Two tones and a little noise, so the encoder works as on music. 16-bit
// little-endian PCM, interleaved.
inline std::string makePcm(double seconds) {
    constexpr double kTwoPi = 6.283185307179586;
    const std::size_t frames = static_cast<std::size_t>(seconds * kRate);
    std::string pcm(frames * kChannels * 2, '\0');
    unsigned noise = 12345;
    std::size_t at = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < kChannels; ++c) {
            noise = noise * 1103515245u + 12345u;
            const double t = static_cast<double>(i) / kRate;
            const double v = 8000.0 * std::sin(kTwoPi * (440.0 + 110.0 * c) * t) +
                             4000.0 * std::sin(kTwoPi * 1234.5 * t) + static_cast<double>((noise >> 16) % 2001) - 1000.0;
            const auto s = static_cast<std::int16_t>(std::lround(v));
            pcm[at++] = static_cast<char>(s & 0xff);
            pcm[at++] = static_cast<char>((s >> 8) & 0xff);
        }
    }
    return pcm;
}

// The PCM of makePcm as a WAV file's bytes.
inline std::string makeWav(const std::string& pcm) {
    std::string wav;
    auto text = [&](const char* t) { wav.append(t, 4); };
    auto number = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            wav.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    text("RIFF");
    number(static_cast<std::uint32_t>(36 + pcm.size()), 4);
    text("WAVE");
    text("fmt ");
    number(16, 4);
    number(1, 2); // integer PCM
    number(kChannels, 2);
    number(kRate, 4);
    number(kRate * kChannels * 2, 4);
    number(kChannels * 2, 2);
    number(16, 2);
    text("data");
    number(static_cast<std::uint32_t>(pcm.size()), 4);
    return wav + pcm;
}

// The folder of the running program, with its separator at the end (the
// tests' helper programs are built there too).
inline std::string binDir() {
#if defined(_WIN32)
    char path[4096];
    DWORD size = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string dir(path, size);
#else
    char path[4096];
    ssize_t size = readlink("/proc/self/exe", path, sizeof(path));
    std::string dir(path, size > 0 ? static_cast<std::size_t>(size) : 0);
#endif
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

} // namespace bench
