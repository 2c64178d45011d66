#pragma once
// XTEA encipherment of the SHOUTcast v2 source credentials under the key
// that the server hands out during the login.
#include <cstdint>
#include <string>

// Enciphers `text` under `key` and returns the cipher text as lowercase
// hexadecimal digits, 16 per 8-byte block. The key is taken as raw bytes,
// zero-padded or cut to 16; the text is zero-padded to a multiple of 8
// (an empty text gives an empty result).
std::string xteaEncipherHex(const std::string& text, const std::string& key);

// One XTEA block encipherment (32 cycles) of `v` in place.
void xteaEncipherBlock(std::uint32_t v[2], const std::uint32_t key[4]);

// The 32-bit word of four bytes, the first one most significant.
std::uint32_t readBigEndian32(const unsigned char* bytes);
