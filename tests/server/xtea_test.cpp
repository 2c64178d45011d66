// The credential cipher and the packet header packer, against known
// answers of the published algorithm.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/bit_packer.h"
#include "server/xtea.h"

TEST(Xtea, PublishedKnownAnswers)
{
    std::string key_0_to_15;
    for (char c = 0; c < 16; ++c)
        key_0_to_15 += c;
    EXPECT_EQ(xteaEncipherHex("ABCDEFGH", key_0_to_15), "497df3d072612cb5");
    EXPECT_EQ(xteaEncipherHex(std::string(8, '\0'), std::string(16, '\0')), "dee9d4d8f7131ed9");

    std::uint32_t block[2] = {0x41424344, 0x45464748};
    const std::uint32_t words[4] = {0x00010203, 0x04050607, 0x08090a0b, 0x0c0d0e0f};
    xteaEncipherBlock(block, words);
    EXPECT_EQ(block[0], 0x497df3d0u);
    EXPECT_EQ(block[1], 0x72612cb5u);
    const unsigned char bytes[] = {0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(readBigEndian32(bytes), 0xDEADBEEFu);
}

TEST(Xtea, TextAndKeyArePaddedOrCut)
{
    // 9 bytes make two blocks; a 5-byte key is padded with zero bytes.
    EXPECT_EQ(xteaEncipherHex("123456789", "abcde"), "2485f4792df714f14a997ce7d79db3dc");
    EXPECT_EQ(xteaEncipherHex("123456789", std::string("abcde") + std::string(11, '\0')),
              "2485f4792df714f14a997ce7d79db3dc");
    // Only the first 16 bytes of a longer key count.
    EXPECT_EQ(xteaEncipherHex("dj", "Kp7vQ2xB9zR4mT1w"), "97ca60e61a2d2e55");
    EXPECT_EQ(xteaEncipherHex("dj", "Kp7vQ2xB9zR4mT1wXYZW"), "97ca60e61a2d2e55");
    // Every word has 8 digits, leading zeros included.
    EXPECT_EQ(xteaEncipherHex("t12", "Kp7vQ2xB9zR4mT1w"), "42a569a30828bf89");
    EXPECT_EQ(xteaEncipherHex("", "Kp7vQ2xB9zR4mT1w"), "");
}

TEST(BitPacker, PacketHeadersAndPartialBytes)
{
    auto header = [](std::uint32_t message_class, std::uint32_t type, std::uint32_t length) {
        std::vector<std::uint8_t> out;
        BitPacker::pack({{0x5A, 8}, {0, 4}, {0, 4}, {message_class, 4}, {type, 12}, {length, 16}}, out);
        return out;
    };
    EXPECT_EQ(header(1, 0x009, 3), (std::vector<std::uint8_t>{0x5A, 0x00, 0x10, 0x09, 0x00, 0x03}));
    EXPECT_EQ(header(3, 0x902, 300), (std::vector<std::uint8_t>{0x5A, 0x00, 0x39, 0x02, 0x01, 0x2C}));

    std::vector<std::uint8_t> out = {0xFF};
    BitPacker::pack({{1, 1}, {1, 2}, {0x3FF, 10}}, out);  // 1 01 1111111111 and three zero bits
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xFF, 0xBF, 0xF8}));
}
