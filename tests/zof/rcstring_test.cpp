// Reference-counted strings: sharing, assignment and release.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "zof/rcstring.h"

namespace {

TEST(RcString, CopiesShareOneNode) {
    zof::rcstring a("shared");
    EXPECT_EQ(1u, a.use_count());
    {
        zof::rcstring b(a);
        EXPECT_EQ(a.node(), b.node());
        EXPECT_EQ(2u, a.use_count());
    }
    EXPECT_EQ(1u, a.use_count());
    zof::rcstring moved(std::move(a));
    EXPECT_EQ(1u, moved.use_count());
    EXPECT_FALSE(a.is_valid()); // NOLINT(bugprone-use-after-move)
    EXPECT_STREQ("", a.text());
    a.release(); // releasing an empty handle does nothing
    EXPECT_STREQ("shared", moved.text());
}

TEST(RcString, SelfAssignmentKeepsTheNode) {
    zof::rcstring a("only");
    const zof::rcstring& alias = a;
    a = alias;
    EXPECT_EQ(1u, a.use_count());
    EXPECT_STREQ("only", a.text());
}

TEST(RcString, AssigningReplacesAndReleases) {
    zof::rcstring a("first");
    zof::rcstring b("second");
    zof::rcstring keep = a;
    a = b;
    EXPECT_EQ(2u, b.use_count());
    EXPECT_EQ(1u, keep.use_count());
    a = zof::rcstring();
    EXPECT_FALSE(a.is_valid());
    EXPECT_EQ(1u, b.use_count());
    a.new_empty();
    EXPECT_TRUE(a.is_valid());
    EXPECT_STREQ("", a.text());
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
    EXPECT_EQ(3u, zof::g_path_separators.length());
    EXPECT_STREQ("\\/|:<>*?\"", zof::g_invalid_filename_chars.text());
    EXPECT_EQ(9u, zof::g_invalid_filename_chars.length());
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
