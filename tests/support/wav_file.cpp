// WAV files for tests that play them.
#include "wav_file.h"

#include <Poco/FileStream.h>

void writeWav16(const std::string& path, std::uint32_t rate, std::uint16_t channels,
                const std::vector<std::int16_t>& samples) {
    Poco::FileOutputStream f(path, std::ios::binary | std::ios::trunc);
    auto u32 = [&](std::uint32_t v) { f.put(char(v)).put(char(v >> 8)).put(char(v >> 16)).put(char(v >> 24)); };
    auto u16 = [&](std::uint16_t v) { f.put(char(v)).put(char(v >> 8)); };
    const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
    f.write("RIFF", 4);
    u32(36 + data + 12);
    f.write("WAVE", 4);
    f.write("LIST", 4); // a chunk the reader must pass over
    u32(4);
    f.write("INFO", 4);
    f.write("fmt ", 4);
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * channels * 2);
    u16(std::uint16_t(channels * 2));
    u16(16);
    f.write("data", 4);
    u32(data);
    for (auto s : samples) u16(static_cast<std::uint16_t>(s));
}
