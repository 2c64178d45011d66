#pragma once
// WAV files for tests that play them.
#include <cstdint>
#include <string>
#include <vector>

// Writes 16-bit PCM (interleaved samples) as a RIFF/WAVE file, with a
// chunk before "fmt " that readers must pass over. The path is UTF-8.
void writeWav16(const std::string& path, std::uint32_t rate, std::uint16_t channels,
                const std::vector<std::int16_t>& samples);
