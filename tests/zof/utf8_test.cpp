// UTF-8 and UTF-16 code points, conversion and search.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zof/utf8.h"

namespace {

struct decoded {
    zof::t_size length;
    std::uint32_t code;
};

decoded decode(std::vector<unsigned char> bytes, zof::t_size max) {
    bytes.push_back(0);
    decoded d{0, 0xFFFFFFFFu};
    d.length = zof::utf8_decode_char(reinterpret_cast<const char*>(bytes.data()), d.code, max);
    return d;
}

TEST(Utf8Decode, ValidSequences) {
    EXPECT_EQ(1u, decode({'A'}, 6).length);
    auto e = decode({0xC3, 0xA9}, 2);
    EXPECT_EQ(2u, e.length);
    EXPECT_EQ(0xE9u, e.code);
    auto euro = decode({0xE2, 0x82, 0xAC}, 3);
    EXPECT_EQ(3u, euro.length);
    EXPECT_EQ(0x20ACu, euro.code);
    auto beyond = decode({0xF4, 0x90, 0x80, 0x80}, 4); // no range check
    EXPECT_EQ(4u, beyond.length);
    EXPECT_EQ(0x110000u, beyond.code);
}

TEST(Utf8Decode, InvalidAndTruncatedSequences) {
    const std::vector<std::vector<unsigned char>> invalid = {
        {0x80},             // continuation in lead position
        {0xBF, 0x80},       // the same
        {0xC0, 0x80},       // overlong two-byte leads
        {0xC1, 0xBF},
        {0xE0, 0x80, 0x80}, // overlong three-byte zero
        {0xFE, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},
        {0xFF},
        {0xC3, 0x41},       // lead without continuation
        {0xE2, 0x82, 0x41},
    };
    for (const auto& bytes : invalid) {
        const decoded d = decode(bytes, 6);
        EXPECT_EQ(0u, d.length) << std::hex << int(bytes[0]);
        EXPECT_EQ(0u, d.code);
    }
    // Longer than the room given.
    EXPECT_EQ(0u, decode({0xC3, 0xA9}, 1).length);
    EXPECT_EQ(0u, decode({0xE2, 0x82, 0xAC}, 2).length);
    EXPECT_EQ(0u, decode({0xC3}, 6).length); // cut by the terminator
    EXPECT_EQ(0u, decode({}, 6).length);
    EXPECT_EQ(0u, decode({'x'}, 0).length);
}

TEST(Utf8Encode, RoundTripsOverTheWholeRange) {
    char out[6];
    for (std::uint32_t code : {0x1u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu, 0x1FFFFFu,
                               0x200000u, 0x3FFFFFFu, 0x4000000u, 0x7FFFFFFFu}) {
        const zof::t_size n = zof::utf8_encode_char(code, out);
        ASSERT_GT(n, 0u);
        EXPECT_EQ(n, zof::utf8_encode_char(code, nullptr));
        std::uint32_t back = 0;
        EXPECT_EQ(n, zof::utf8_decode_char(out, back, n)) << std::hex << code;
        EXPECT_EQ(code, back);
    }
    ASSERT_EQ(6u, zof::utf8_encode_char(0x7FFFFFFFu, out));
    EXPECT_EQ(std::string("\xFD\xBF\xBF\xBF\xBF\xBF"), std::string(out, 6));
    EXPECT_EQ(0u, zof::utf8_encode_char(0x80000000u, out));
}

TEST(Utf16Decode, PairsAndLoneSurrogates) {
    std::uint32_t code = 0;
    const wchar_t pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(2u, zof::utf16_decode_char(pair, code, 3));
    EXPECT_EQ(0x1F600u, code);
    const wchar_t low[] = {0xDE00, 0x41, 0};
    EXPECT_EQ(1u, zof::utf16_decode_char(low, code, 3));
    EXPECT_EQ(0xDE00u, code);
    const wchar_t high_alone[] = {0xD83D, 0x41, 0};
    EXPECT_EQ(1u, zof::utf16_decode_char(high_alone, code, 3));
    EXPECT_EQ(0xD83Du, code);
    EXPECT_EQ(1u, zof::utf16_decode_char(pair, code, 1)); // the pair cut by the limit
    EXPECT_EQ(0xD83Du, code);
    const wchar_t zero[] = {0};
    EXPECT_EQ(0u, zof::utf16_decode_char(zero, code, 5));
    EXPECT_EQ(0u, zof::utf16_decode_char(pair, code, 0));
}

TEST(Utf16ToUtf8, EstimateConversionAndSmallBuffers) {
    EXPECT_EQ(1u, zof::utf8_size_estimate(L""));
    const wchar_t text[] = {'C', 'a', 'f', 0xE9, ' ', 0x20AC, ' ', 0xD83D, 0xDE00, 0};
    const std::string expected = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(expected.size() + 1, zof::utf8_size_estimate(text));
    zof::utf8_from_utf16 whole(text);
    EXPECT_EQ(expected, whole.text());
    EXPECT_EQ(expected.size(), whole.length());
    // A limit in units stops early.
    zof::utf8_from_utf16 three(text, 3);
    EXPECT_STREQ("Caf", three.text());

    // Small buffers cut (inside a character too) and terminate.
    const wchar_t short_text[] = {'a', 0x20AC, 'b', 0};
    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(3u, zof::utf16_to_utf8(out, 4, short_text));
    EXPECT_EQ(std::string("a\xE2\x82\0", 4), std::string(out, 4));
    EXPECT_EQ(0u, zof::utf16_to_utf8(out, 1, short_text));
    EXPECT_EQ(0, out[0]);
    out[0] = '#';
    EXPECT_EQ(0u, zof::utf16_to_utf8(out, 0, short_text));
    EXPECT_EQ('#', out[0]);
}

TEST(Utf8Search, CharacterBoundaries) {
    EXPECT_EQ(0u, zof::utf8_search("ab", ""));
    EXPECT_EQ(1u, zof::utf8_search("ab", "b"));
    EXPECT_EQ(zof::infinite_size, zof::utf8_search("ab", "abc"));
    EXPECT_EQ(zof::infinite_size, zof::utf8_search("ab", "c"));
    EXPECT_EQ(3u, zof::utf8_search("\xC3\xA9x\xE2\x82\xAC", "\xE2\x82\xAC"));
    // The byte 0xA9 inside "é" is no match: only boundaries are tried.
    EXPECT_EQ(zof::infinite_size, zof::utf8_search("\xC3\xA9", "\xA9"));
    // An invalid byte ahead of the match ends the search; behind it, not.
    EXPECT_EQ(zof::infinite_size, zof::utf8_search("a\xFF" "b", "b"));
    EXPECT_EQ(0u, zof::utf8_search("b\xFF", "b"));
    EXPECT_EQ(1u, zof::utf8_search("abcabc", "bcX", 2));
}

} // namespace
