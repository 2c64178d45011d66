// Reallocation, size arithmetic and the library's exceptions.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "zof/memory.h"
#include "zof/rcstring.h"
#include "zof/string8.h"

namespace {

std::atomic<int> g_heap_calls{0};
std::atomic<bool> g_refuse{false};

void* counting_realloc(void* block, std::size_t n) {
    ++g_heap_calls;
    if (g_refuse) return nullptr;
    return std::realloc(block, n);
}

// Routes the library's heap calls through the counter while alive.
class HeapProbe : public ::testing::Test {
protected:
    void SetUp() override {
        g_heap_calls = 0;
        g_refuse = false;
        m_previous = zof::set_realloc_function(&counting_realloc);
    }
    void TearDown() override {
        g_refuse = false;
        zof::set_realloc_function(m_previous);
    }

private:
    zof::realloc_function m_previous = nullptr;
};

TEST(RawRealloc, ZeroSizeFreesAndInPlaceRules) {
    EXPECT_EQ(nullptr, zof::raw_realloc(nullptr, 0));
    void* p = zof::raw_realloc(nullptr, 10);
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "123456789", 10);
    p = zof::raw_realloc(p, 4000);
    EXPECT_STREQ("123456789", static_cast<char*>(p));
    EXPECT_FALSE(zof::try_resize_in_place(p, 0));
    EXPECT_TRUE(zof::try_resize_in_place(p, 32));
    EXPECT_EQ(nullptr, zof::raw_realloc(p, 0));
    EXPECT_EQ(nullptr, zof::alloc_or_throw(0));
    EXPECT_TRUE(zof::try_resize_in_place(nullptr, 0));
    EXPECT_FALSE(zof::try_resize_in_place(nullptr, 4));
}

TEST_F(HeapProbe, RefusedHeapThrowsAndEveryOwnerKeepsItsBlock) {
    char* p = static_cast<char*>(zof::raw_realloc(nullptr, 8));
    std::memcpy(p, "keep me", 8);
    zof::string8 s("sixteen bytes..!");
    const zof::t_size cap = s.capacity();
    zof::rcstring shared("kept");
    zof::rcstring copy = shared;
    g_refuse = true;
    try {
        zof::realloc_bytes(p, 1000);
        FAIL() << "no exception";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ("bad allocation", e.what());
    }
    EXPECT_STREQ("keep me", p);
    EXPECT_THROW(zof::alloc_or_throw(5), std::bad_alloc);
    EXPECT_THROW(zof::check_non_null(nullptr), std::bad_alloc);

    EXPECT_THROW(s.append(std::string(100, 'x').c_str()), std::bad_alloc);
    EXPECT_STREQ("sixteen bytes..!", s.text());
    EXPECT_EQ(cap, s.capacity());

    for (auto attempt : {+[](zof::rcstring& t) { t = zof::rcstring("new"); }, +[](zof::rcstring& t) { t.new_empty(); },
                         +[](zof::rcstring& t) { t = t + "more"; }}) {
        EXPECT_THROW(attempt(shared), std::bad_alloc);
        EXPECT_STREQ("kept", shared.text());
        EXPECT_EQ(copy.node(), shared.node());
    }
    g_refuse = false;
    EXPECT_EQ(2u, shared.use_count());
    zof::raw_realloc(p, 0);
}

TEST_F(HeapProbe, SizesThatWrapThirtyTwoBitsNeverReachTheHeap) {
    std::uint64_t* block = nullptr;
    EXPECT_THROW(zof::chunk_array_reserve(block, zof::t_size(1) << 29), std::bad_alloc); // 2^32 bytes
    std::uint32_t* words = nullptr;
    EXPECT_THROW(zof::array_set_size(words, zof::t_size(1) << 30), std::bad_alloc);
    EXPECT_EQ(0, g_heap_calls.load());
    EXPECT_EQ(nullptr, block);
    zof::chunk_array_reserve(block, 3);
    EXPECT_EQ(1, g_heap_calls.load());
    zof::chunk_array_reserve(block, 0);
    EXPECT_THROW(zof::add_size(0xFFFFFFF0u, 0x10u), std::bad_alloc);
    EXPECT_EQ(0xFFFFFFFFu, zof::add_size(0xFFFFFFF0u, 0x0Fu));

    zof::string8 s("abc");
    const int calls = g_heap_calls;
    // needed + 16 passes 2^32.
    EXPECT_THROW(s.open_buffer(0xFFFFFFF0u), std::bad_alloc);
    zof::string8_doubling d;
    d.append("abc");
    // Doubling from 4 passes 2^31 before it reaches the size.
    EXPECT_THROW(d.open_buffer(0x80000000u), std::bad_alloc);
    EXPECT_EQ(calls + 1, g_heap_calls.load()); // only the doubling string's first block
    EXPECT_STREQ("abc", s.text());
    EXPECT_STREQ("abc", d.text());
    EXPECT_EQ(4u, d.capacity());
}

TEST(AlignedBlock, KeepsAlignmentAndContents) {
    zof::mem_block_aligned_t<float, 16> block;
    EXPECT_EQ(nullptr, block.get_ptr());
    block.set_size(5);
    for (int i = 0; i < 5; ++i) block.get_ptr()[i] = float(i);
    for (zof::t_size n : {7u, 1000u, 3u}) {
        block.set_size(n);
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block.get_ptr()) % 16);
        EXPECT_EQ(n, block.get_size());
        EXPECT_EQ(2.0f, block.get_ptr()[2]);
    }
    EXPECT_THROW(block.set_size(0x40000000u), zof::exception_overflow);
    EXPECT_EQ(3u, block.get_size());
    block.set_size(0);
    EXPECT_EQ(nullptr, block.get_ptr());
}

TEST(Exceptions, TextsAndHierarchy) {
    EXPECT_STREQ("Overflow", zof::exception_overflow().what());
    EXPECT_STREQ("Bug check", zof::exception_bug_check().what());
    EXPECT_STREQ("Invalid parameters", zof::exception_invalid_params().what());
    EXPECT_STREQ("Invalid permutation", zof::exception_invalid_permutation().what());
    // A bug-check handler also takes "not implemented".
    try {
        throw zof::exception_not_implemented();
    } catch (const zof::exception_bug_check& e) {
        EXPECT_STREQ("Feature not implemented", e.what());
    }
    zof::exception_overflow own(std::string("own text"));
    zof::exception_overflow copy(own);
    EXPECT_EQ(own.what(), copy.what()); // shared, not copied
    EXPECT_STREQ("own text", copy.what());
}

} // namespace
