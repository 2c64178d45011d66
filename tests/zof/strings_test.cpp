// Growth rules and text handling of the zof strings.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zof/string8.h"

using zof::t_size;

namespace {

TEST(String8, EmptyTextIsNeverNull) {
    zof::string8 s;
    EXPECT_STREQ("", s.text());
    s = "abc";
    s.cut(0);
    EXPECT_STREQ("", s.text());
    EXPECT_EQ(0u, s.length());
}

TEST(String8, ByteByByteGrowthKeepsSixteenSpare) {
    zof::string8 s;
    std::vector<t_size> capacities;
    for (int i = 0; i < 40; ++i) {
        s.append("x", 1);
        capacities.push_back(s.capacity());
    }
    // Each growth fits needed + 16; the capacity covers needed .. needed + 32.
    t_size previous = 0;
    for (t_size len = 1; len <= 40; ++len) {
        const t_size cap = capacities[len - 1];
        const t_size needed = len + 1;
        EXPECT_GE(cap, needed);
        if (cap != previous) {
            EXPECT_EQ(needed + 16, cap) << "length " << len;
        }
        previous = cap;
    }
    EXPECT_EQ(18u, capacities[0]);
    EXPECT_EQ(18u, capacities[16]);
    EXPECT_EQ(35u, capacities[17]);
    EXPECT_EQ(std::string(40, 'x'), s.text());
}

TEST(String8, CutShrinksOnlyBeyondThirtyTwoSpare) {
    zof::string8 s;
    s.open_buffer(99); // capacity 100 + 16
    std::memset(s.open_buffer(99), 'a', 99);
    s.close_buffer();
    ASSERT_EQ(99u, s.length());
    const t_size before = s.capacity();
    s.cut(99);
    s.cut(200);
    EXPECT_EQ(before, s.capacity());
    EXPECT_EQ(99u, s.length());
    s.cut(80); // needs 81, capacity 116 is within 81 + 32? no: 116 > 113
    EXPECT_EQ(81u, s.capacity());
    s.cut(60); // needs 61, 81 <= 93: kept
    EXPECT_EQ(81u, s.capacity());
    s.cut(0);
    EXPECT_EQ(1u, s.capacity());
    EXPECT_STREQ("", s.text());
}

TEST(String8, AppendStopsAtMaxOrZeroByte) {
    const char text[] = {'a', 'b', 0, 'c', 'd', 'e'};
    zof::string8 s;
    s.append(text, 5);
    EXPECT_EQ(2u, s.length());
    s.append("hello", 3);
    EXPECT_STREQ("abhel", s.text());
    s.assign("xyz", 0);
    EXPECT_STREQ("", s.text());
    s.append(nullptr); // a null text counts as empty
    zof::fixed_string<7> f(nullptr);
    EXPECT_STREQ("", f.text());
}

TEST(String8, AppendingItsOwnText) {
    zof::string8 s("abcdefghij");
    s.append(s.text());
    EXPECT_STREQ("abcdefghijabcdefghij", s.text());
    // Grows past its capacity while reading its own middle.
    for (int i = 0; i < 6; ++i) s.append(s.text() + 3, 7);
    EXPECT_EQ(20u + 42u, s.length());
    s.assign(s.text() + 10, 5);
    EXPECT_STREQ("abcde", s.text());
}

TEST(String8, OpenAndCloseBuffer) {
    zof::string8 s("old text");
    EXPECT_THROW(s.open_buffer(zof::infinite_size), zof::exception_overflow);
    EXPECT_STREQ("old text", s.text());
    char* b = s.open_buffer(10);
    EXPECT_EQ(8u, s.length()); // unchanged until closed
    for (t_size i = 0; i < s.capacity(); ++i) ASSERT_EQ(0, b[i]);
    std::memcpy(b, "abc", 3);
    s.close_buffer();
    EXPECT_EQ(3u, s.length());
    EXPECT_STREQ("abc", s.text());
}

TEST(String8, CloseBufferWithoutTerminatorStaysInsideTheBlock) {
    zof::string8 s;
    char* b = s.open_buffer(4);
    std::memset(b, 'z', s.capacity()); // a writer that ignored the size
    s.close_buffer();
    EXPECT_EQ(std::string(s.length(), 'z'), s.text());
    EXPECT_LT(s.length(), s.capacity());
}

TEST(String8, CopiesAndMovesAreIndependent) {
    zof::string8 a("first");
    zof::string8 b(a);
    b.append(" second");
    EXPECT_STREQ("first", a.text());
    zof::string8 c(std::move(b));
    EXPECT_STREQ("first second", c.text());
    EXPECT_STREQ("", b.text()); // NOLINT(bugprone-use-after-move)
    a = c;
    a = a;
    EXPECT_STREQ("first second", a.text());
}

TEST(String8Doubling, CapacitiesArePowersOfTwo) {
    zof::string8_doubling s;
    std::vector<t_size> caps;
    for (int i = 0; i < 9; ++i) {
        s.append("y", 1);
        caps.push_back(s.capacity());
    }
    EXPECT_EQ((std::vector<t_size>{2, 4, 4, 8, 8, 8, 8, 16, 16}), caps);
    s.cut(1);
    EXPECT_EQ(16u, s.capacity());
    EXPECT_STREQ("y", s.text());
    s.append(s.text());
    s.append(s.text());
    EXPECT_STREQ("yyyy", s.text());
    s.reset();
    EXPECT_EQ(0u, s.capacity());
    EXPECT_STREQ("", s.text());
}

TEST(String8Doubling, BufferRoundTrip) {
    zof::string8_doubling s;
    EXPECT_THROW(s.open_buffer(zof::infinite_size), zof::exception_overflow);
    char* b = s.open_buffer(10);
    std::memcpy(b, "hello", 5);
    s.close_buffer();
    EXPECT_EQ(5u, s.length());
    EXPECT_EQ(16u, s.capacity());
    s.assign("a longer text than sixteen bytes");
    EXPECT_EQ(64u, s.capacity());
}

TEST(FixedString, CapacitySixtyThree) {
    zof::fixed_string<63> s;
    EXPECT_STREQ("", s.text());
    const std::string full(63, 'q');
    s.append(full.c_str());
    EXPECT_EQ(63u, s.length());
    EXPECT_THROW(s.append("r"), zof::exception_overflow);
    EXPECT_EQ(full, s.text());
    EXPECT_EQ(nullptr, s.open_buffer(63));
    EXPECT_THROW(s.assign(std::string(64, 'w').c_str()), zof::exception_overflow);
    EXPECT_EQ(full, s.text());
    char* b = s.open_buffer(62);
    ASSERT_NE(nullptr, b);
    std::memcpy(b, "xy", 2);
    s.close_buffer();
    EXPECT_STREQ("xy", s.text());
    s.cut(100);
    EXPECT_EQ(2u, s.length());
    s.assign(s.text() + 1);
    EXPECT_STREQ("y", s.text());
}

TEST(FixedString, MaxAllOnesMeansUpToTheTerminator) {
    zof::fixed_string<127> s("abc");
    s.append("def", zof::infinite_size);
    EXPECT_STREQ("abcdef", s.text());
}

TEST(TextFunctions, DecimalText) {
    char buf[zof::decimal_buffer_size];
    EXPECT_STREQ("0", zof::format_decimal(0, buf));
    EXPECT_STREQ("18446744073709551615", zof::format_decimal(UINT64_MAX, buf));
    for (std::uint64_t v : {1ull, 9ull, 10ull, 1000000007ull, 4294967296ull}) {
        EXPECT_EQ(std::to_string(v), zof::format_decimal(v, buf));
    }
    EXPECT_EQ('F', zof::digit_char(15));
}

TEST(TextFunctions, FileNameStart) {
    EXPECT_EQ(0u, zof::filename_start(""));
    EXPECT_EQ(0u, zof::filename_start("plain.txt"));
    EXPECT_EQ(3u, zof::filename_start("c:\\"));
    EXPECT_EQ(2u, zof::filename_start("c:file"));
    EXPECT_EQ(8u, zof::filename_start("a/b\\c|d/e.wav"));
    EXPECT_FALSE(zof::is_path_separator('.'));
}

} // namespace
