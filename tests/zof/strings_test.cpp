// Growth rules and text handling of the zof strings.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zof/string8.h"

using zof::t_size;

namespace {

TEST(String8, GrowsWithSixteenSpareAndShrinksOnlyBeyondThirtyTwo) {
    zof::string8 s;
    EXPECT_STREQ("", s.text()); // never null
    std::vector<t_size> capacities;
    for (int i = 0; i < 40; ++i) {
        s.append("x", 1);
        capacities.push_back(s.capacity());
    }
    EXPECT_EQ(18u, capacities[0]);
    EXPECT_EQ(18u, capacities[16]);
    EXPECT_EQ(35u, capacities[17]);
    EXPECT_EQ(35u, capacities[33]);
    EXPECT_EQ(52u, capacities[34]);
    EXPECT_EQ(std::string(40, 'x'), s.text());

    std::memset(s.open_buffer(99), 'a', 99); // capacity 100 + 16
    s.close_buffer();
    ASSERT_EQ(99u, s.length());
    EXPECT_EQ(116u, s.capacity());
    s.cut(200);
    EXPECT_EQ(116u, s.capacity());
    EXPECT_EQ(99u, s.length());
    s.cut(80); // needs 81: 116 is more than 32 beyond
    EXPECT_EQ(81u, s.capacity());
    s.cut(60); // needs 61: 81 is within 32, kept
    EXPECT_EQ(81u, s.capacity());
    s.cut(0);
    EXPECT_EQ(1u, s.capacity());
    EXPECT_STREQ("", s.text());
}

TEST(String8, AppendStopsAtMaxOrZeroByteAndMayReadItsOwnText) {
    const char text[] = {'a', 'b', 0, 'c', 'd', 'e'};
    zof::string8 s;
    s.append(text, 5);
    EXPECT_EQ(2u, s.length());
    s.append("hello", 3);
    EXPECT_STREQ("abhel", s.text());
    s.append(nullptr); // a null text counts as empty
    zof::fixed_string<7> f(nullptr);
    EXPECT_STREQ("", f.text());

    s.assign("abcdefghij");
    s.append(s.text());
    EXPECT_STREQ("abcdefghijabcdefghij", s.text());
    // Grows past its capacity while reading its own middle.
    for (int i = 0; i < 6; ++i) s.append(s.text() + 3, 7);
    EXPECT_EQ(20u + 42u, s.length());
    s.assign(s.text() + 10, 5);
    EXPECT_STREQ("abcde", s.text());
    s.assign("xyz", 0);
    EXPECT_STREQ("", s.text());
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
    EXPECT_STREQ("abc", s.text());

    // A writer that ignored the size: the text stays inside the block.
    b = s.open_buffer(4);
    std::memset(b, 'z', s.capacity());
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
    s.append(s.text());
    s.append(s.text());
    EXPECT_STREQ("yyyy", s.text());
    s.reset();
    EXPECT_EQ(0u, s.capacity());
    EXPECT_STREQ("", s.text());

    EXPECT_THROW(s.open_buffer(zof::infinite_size), zof::exception_overflow);
    std::memcpy(s.open_buffer(10), "hello", 5);
    s.close_buffer();
    EXPECT_EQ(5u, s.length());
    EXPECT_EQ(16u, s.capacity());
    s.assign("a longer text than sixteen bytes");
    EXPECT_EQ(64u, s.capacity());
}

TEST(FixedString, CapacitySixtyThree) {
    zof::fixed_string<63> s;
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
    s.append("def", zof::infinite_size); // all ones: up to the terminator
    EXPECT_STREQ("ydef", s.text());
}

TEST(TextFunctions, DecimalTextAndFileNameStart) {
    char buf[zof::decimal_buffer_size];
    EXPECT_STREQ("0", zof::format_decimal(0, buf));
    EXPECT_STREQ("18446744073709551615", zof::format_decimal(UINT64_MAX, buf));
    EXPECT_STREQ("4294967296", zof::format_decimal(4294967296ull, buf));
    EXPECT_EQ('F', zof::digit_char(15));

    EXPECT_EQ(0u, zof::filename_start(""));
    EXPECT_EQ(0u, zof::filename_start("plain.txt"));
    EXPECT_EQ(3u, zof::filename_start("c:\\"));
    EXPECT_EQ(2u, zof::filename_start("c:file"));
    EXPECT_EQ(8u, zof::filename_start("a/b\\c|d/e.wav"));
    EXPECT_FALSE(zof::is_path_separator('.'));
}

} // namespace
