// Arrays, lists, bit masks and counted references.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zof/list.h"
#include "zof/rc.h"

namespace {

// A counted object that records its destruction.
struct tracked {
    explicit tracked(int v = 0, int* deaths = nullptr) : value(v), deaths(deaths) {}
    ~tracked() {
        if (deaths) ++*deaths;
    }
    int value;
    int* deaths;
    zof::rcptr_t<tracked> child;
};
using ref = zof::rcptr_t<tracked>;
ref make(int v, int* deaths = nullptr) { return ref::make<tracked>(v, deaths); }

TEST(ArraySizing, FastPolicyCapacities) {
    zof::array_t<std::uint32_t> a;
    a.set_size(0);
    EXPECT_EQ(1u, a.get_capacity()); // room for one even when empty
    a.set_size(5);
    EXPECT_EQ(8u, a.get_capacity());
    for (zof::t_size i = 0; i < 5; ++i) EXPECT_EQ(0u, a[i]); // new elements are zero
    a.set_size(1);
    EXPECT_EQ(4u, a.get_capacity());
    a.set_size(8);
    a.set_size(0);
    EXPECT_EQ(2u, a.get_capacity());
    // Alternating around a boundary does not reallocate each time.
    a.set_size(100);
    const zof::t_size cap = a.get_capacity();
    for (int i = 0; i < 10; ++i) {
        a.set_size(i % 2 ? 64 : 65);
        EXPECT_EQ(cap, a.get_capacity());
    }
}

TEST(ArraySizing, EightByteElementsAtTwoToTheTwentyNine) {
    zof::array_t<std::uint64_t> a;
    a.set_size(3);
    a[0] = 42;
    volatile zof::t_size huge = zof::t_size(1) << 29; // kept out of the optimiser's sight
    try {
        a.set_size(huge);
        FAIL() << "no exception";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ("bad allocation", e.what());
    }
    EXPECT_EQ(3u, a.get_size());
    EXPECT_EQ(4u, a.get_capacity());
    EXPECT_EQ(42u, a[0]);
    EXPECT_THROW(a.set_size(0x80000001u), std::bad_alloc); // doubling leaves 32 bits
}

TEST(ArraySizing, CountedElementsAreReleased) {
    int deaths = 0;
    {
        zof::array_t<ref> a;
        a.set_size(3);
        EXPECT_FALSE(a[2].is_valid());
        for (int i = 0; i < 3; ++i) a[i] = make(i, &deaths);
        a.set_size(40); // moved into new storage, nothing released
        EXPECT_EQ(0, deaths);
        EXPECT_EQ(1u, a[1].use_count());
        a.set_size(1);
        EXPECT_EQ(2, deaths);
        EXPECT_EQ(0, a[0]->value);
    }
    EXPECT_EQ(3, deaths);
}

TEST(RcPtr, AssignmentAddsBeforeItReleases) {
    int deaths = 0;
    ref outer = make(1, &deaths);
    outer->child = make(2, &deaths);
    // outer is the only owner of its child: releasing outer first would
    // free the child before its new reference is taken.
    outer = outer->child;
    EXPECT_EQ(1, deaths);
    EXPECT_EQ(2, outer->value);
    EXPECT_EQ(1u, outer.use_count());
    outer = outer;
    EXPECT_EQ(1u, outer.use_count());
    outer.release();
    EXPECT_EQ(2, deaths);
}

TEST(List, ReplaceItemWithItsOwnItem) {
    int deaths = 0;
    zof::list_t<ref> list;
    list.add_item(make(7, &deaths));
    list.replace_item(0, list[0]);
    EXPECT_EQ(0, deaths);
    EXPECT_EQ(7, list[0]->value);
    EXPECT_EQ(1u, list[0].use_count());
    // The new item is held only inside the old one.
    list[0]->child = make(8, &deaths);
    list.replace_item(0, list[0]->child);
    EXPECT_EQ(1, deaths);
    EXPECT_EQ(8, list[0]->value);
    ref out;
    list.get_item(out, 0);
    EXPECT_EQ(2u, out.use_count());
    ref mine = make(9, &deaths);
    list.swap_item_with(0, mine);
    EXPECT_EQ(8, mine->value);
    EXPECT_EQ(9, list[0]->value);
}

zof::list_t<int> numbers(std::vector<int> v) {
    zof::list_t<int> l;
    for (int x : v) l.add_item(x);
    return l;
}
std::vector<int> contents(const zof::list_t<int>& l) {
    std::vector<int> v;
    for (zof::t_size i = 0; i < l.get_count(); ++i) v.push_back(l[i]);
    return v;
}

class mask_of : public zof::bit_array {
public:
    explicit mask_of(std::vector<bool> bits) : m_bits(std::move(bits)) {}
    bool get(zof::t_size n) const override { return n < m_bits.size() && m_bits[n]; }

private:
    std::vector<bool> m_bits;
};

TEST(List, FilterMask) {
    auto l = numbers({0, 1, 2, 3, 4, 5});
    l.filter_mask(zof::bit_array_true());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), contents(l));
    l.filter_mask(mask_of({true, false, false, true, false, true}));
    EXPECT_EQ((std::vector<int>{0, 3, 5}), contents(l));
    l.filter_mask(zof::bit_array_false());
    EXPECT_EQ(0u, l.get_count());

    int deaths = 0;
    zof::list_t<ref> refs;
    for (int i = 0; i < 4; ++i) refs.add_item(make(i, &deaths));
    refs.filter_mask(mask_of({false, true, false, true}));
    EXPECT_EQ(2, deaths);
    EXPECT_EQ(1, refs[0]->value);
    EXPECT_EQ(3, refs[1]->value);
}

TEST(List, InsertItems) {
    auto l = numbers({1, 2, 3});
    const auto extra = numbers({8, 9});
    EXPECT_EQ(1u, l.insert_items(extra, 1));
    EXPECT_EQ((std::vector<int>{1, 8, 9, 2, 3}), contents(l));
    EXPECT_EQ(5u, l.insert_items(extra, 100)); // beyond the count: appended
    EXPECT_EQ((std::vector<int>{1, 8, 9, 2, 3, 8, 9}), contents(l));
    auto self = numbers({1, 2});
    self.insert_items(self, 1);
    EXPECT_EQ((std::vector<int>{1, 1, 2, 2}), contents(self));
}

TEST(List, ReorderPartial) {
    auto l = numbers({10, 11, 12, 13, 14});
    const zof::t_size order[] = {1, 2, 0};
    l.reorder_partial(1, order, 3);
    EXPECT_EQ((std::vector<int>{10, 12, 13, 11, 14}), contents(l));
}

TEST(List, OwnedPointers) {
    int deaths = 0;
    {
        zof::ptr_list_t<tracked> l;
        for (int i = 0; i < 5; ++i) l.add_item(new tracked(i, &deaths));
        l.delete_by_idx(0);
        EXPECT_EQ(1, deaths);
        l.delete_mask(mask_of({true, false, true, false}));
        EXPECT_EQ(3, deaths);
        ASSERT_EQ(2u, l.get_count());
        EXPECT_EQ(2, l[0]->value);
        EXPECT_EQ(4, l[1]->value);
    }
    EXPECT_EQ(5, deaths);
}

TEST(BitArray, Find) {
    zof::bit_array_true all;
    EXPECT_EQ(15u, all.find(false, 5, 10));
    EXPECT_EQ(5u, all.find(true, 5, 10));
    EXPECT_EQ(0u, all.find(false, 5, -5));
    mask_of m({false, false, true, false, true});
    EXPECT_EQ(2u, m.find(true, 0, 5));
    EXPECT_EQ(4u, m.find(true, 3, 2));
    EXPECT_EQ(4u, m.find(true, 4, -4));
    EXPECT_EQ(2u, m.find(true, 3, -4));
    EXPECT_EQ(3u, m.find(true, 3, 0));
}

TEST(BitArray, Table) {
    zof::bit_array_bittable t(10);
    t.set(3, true);
    t.set(9, true);
    t.set(10, true); // beyond the size: ignored
    EXPECT_TRUE(t.get(3));
    EXPECT_FALSE(t.get(4));
    EXPECT_FALSE(t.get(10));
    EXPECT_EQ(9u, t.find(true, 4, 6));
    t.resize(4);
    t.resize(20);
    EXPECT_TRUE(t.get(3));
    EXPECT_FALSE(t.get(9)); // cleared when it was cut off
    t.set(3, false);
    EXPECT_EQ(20u, t.find(true, 0, 20));
}

} // namespace
