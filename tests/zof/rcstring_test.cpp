// Reference-counted strings: sharing, assignment and release.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "zof/rcstring.h"

namespace {

TEST(RcString, CopiesShareOneNodeAndAssignmentReleases) {
    zof::rcstring a("shared");
    {
        zof::rcstring b(a);
        EXPECT_EQ(a.node(), b.node());
        EXPECT_EQ(2u, a.use_count());
    }
    EXPECT_EQ(1u, a.use_count());
    const zof::rcstring& alias = a;
    a = alias; // the only reference, assigned to itself
    EXPECT_EQ(1u, a.use_count());
    EXPECT_STREQ("shared", a.text());

    zof::rcstring moved(std::move(a));
    EXPECT_FALSE(a.is_valid()); // NOLINT(bugprone-use-after-move)
    EXPECT_STREQ("", a.text());
    a.release(); // releasing an empty handle does nothing
    zof::rcstring keep = moved;
    zof::rcstring other("second");
    moved = other;
    EXPECT_EQ(2u, other.use_count());
    EXPECT_EQ(1u, keep.use_count());
    moved = zof::rcstring();
    EXPECT_FALSE(moved.is_valid());
    EXPECT_EQ(1u, other.use_count());
    moved.new_empty();
    EXPECT_TRUE(moved.is_valid());
    EXPECT_STREQ("", moved.text());
}

TEST(RcString, ConcatenationMakesANewNode) {
    zof::rcstring a("abc");
    zof::rcstring b = a + "";
    EXPECT_NE(a.node(), b.node());
    EXPECT_STREQ("abc", b.text());
    EXPECT_EQ(1u, b.use_count());
    const char run[] = {'x', 'y', 0, 'z'};
    zof::rcstring c = zof::rcstring::concat(run, 4, "tail", 4);
    EXPECT_STREQ("xy", c.text()); // cut at the zero byte
    EXPECT_EQ(2u, c.length());
    EXPECT_THROW(zof::rcstring::concat("a", 0xFFFFFFF0u, "b", 0x20u), std::bad_alloc);
}

TEST(RcString, CharacterSets) {
    EXPECT_STREQ("\\/|", zof::g_path_separators.text());
    EXPECT_STREQ("\\/|:<>*?\"", zof::g_invalid_filename_chars.text());
    EXPECT_EQ(8u, zof::g_invalid_filename_chars_no_wildcard.length());
    EXPECT_EQ(nullptr, std::strchr(zof::g_invalid_filename_chars_no_wildcard.text(), '*'));
}

TEST(RcString, CountsAcrossThreads) {
    zof::rcstring root("threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([root] {
            for (int i = 0; i < 10000; ++i) {
                zof::rcstring copy(root);
                zof::rcstring other;
                other = copy;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(1u, root.use_count());
}

} // namespace
