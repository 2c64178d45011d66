#include "xtea.h"

#include <cstdio>
#include <vector>

void xteaEncipherBlock(std::uint32_t v[2], const std::uint32_t key[4])
{
    const std::uint32_t delta = 0x9E3779B9;
    std::uint32_t v0 = v[0], v1 = v[1], sum = 0;
    for (int cycle = 0; cycle < 32; ++cycle) {
        v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + key[sum & 3]);
        sum += delta;
        v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + key[(sum >> 11) & 3]);
    }
    v[0] = v0;
    v[1] = v1;
}

std::uint32_t readBigEndian32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

std::string xteaEncipherHex(const std::string& text, const std::string& key)
{
    std::vector<unsigned char> key_bytes(key.begin(), key.end());
    key_bytes.resize(16, 0);
    std::uint32_t words[4];
    for (int i = 0; i < 4; ++i)
        words[i] = readBigEndian32(&key_bytes[4 * i]);

    std::vector<unsigned char> plain(text.begin(), text.end());
    plain.resize((plain.size() + 7) / 8 * 8, 0);
    std::string hex;
    hex.reserve(plain.size() * 2);
    for (std::size_t at = 0; at < plain.size(); at += 8) {
        std::uint32_t block[2] = {readBigEndian32(&plain[at]), readBigEndian32(&plain[at + 4])};
        xteaEncipherBlock(block, words);
        char digits[17];
        std::snprintf(digits, sizeof digits, "%08lx%08lx", static_cast<unsigned long>(block[0]),
                      static_cast<unsigned long>(block[1]));
        hex.append(digits, 16);
    }
    return hex;
}
