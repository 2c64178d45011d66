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

TEST(ArraySizing, FastPolicyCapacitiesAndRefusedGrowth) {
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

    // 2^29 eight-byte elements pass 32 bits of bytes: refused, nothing lost.
    zof::array_t<std::uint64_t> big;
    big.set_size(3);
    big[0] = 42;
    volatile zof::t_size huge = zof::t_size(1) << 29; // kept out of the optimiser's sight
    EXPECT_THROW(big.set_size(huge), std::bad_alloc);
    EXPECT_EQ(3u, big.get_size());
    EXPECT_EQ(4u, big.get_capacity());
    EXPECT_EQ(42u, big[0]);
    EXPECT_THROW(big.set_size(0x80000001u), std::bad_alloc); // doubling leaves 32 bits
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

    // The same through a list: the new item held only inside the old one.
    zof::list_t<ref> list;
    list.add_item(make(7, &deaths));
    list.replace_item(0, list[0]);
    EXPECT_EQ(2, deaths);
    EXPECT_EQ(1u, list[0].use_count());
    list[0]->child = make(8, &deaths);
    list.replace_item(0, list[0]->child);
    EXPECT_EQ(3, deaths);
    EXPECT_EQ(8, list[0]->value);
    ref out;
    list.get_item(out, 0);
    EXPECT_EQ(2u, out.use_count());
    ref mine = make(9, &deaths);
    list.swap_item_with(0, mine);
    EXPECT_EQ(8, mine->value);
    EXPECT_EQ(9, list[0]->value);
}

TEST(List, EditsKeepOrderAndReleaseWhatTheyDrop) {
    auto l = numbers({0, 1, 2, 3, 4, 5});
    l.filter_mask(zof::bit_array_true());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), contents(l));
    l.filter_mask(mask_of({true, false, false, true, false, true}));
    EXPECT_EQ((std::vector<int>{0, 3, 5}), contents(l));
    l.filter_mask(zof::bit_array_false());
    EXPECT_EQ(0u, l.get_count());

    l = numbers({1, 2, 3});
    const auto extra = numbers({8, 9});
    EXPECT_EQ(1u, l.insert_items(extra, 1));
    EXPECT_EQ(5u, l.insert_items(extra, 100)); // beyond the count: appended
    EXPECT_EQ((std::vector<int>{1, 8, 9, 2, 3, 8, 9}), contents(l));
    auto self = numbers({1, 2});
    self.insert_items(self, 1);
    EXPECT_EQ((std::vector<int>{1, 1, 2, 2}), contents(self));

    l = numbers({10, 11, 12, 13, 14});
    const zof::t_size order[] = {1, 2, 0};
    l.reorder_partial(1, order, 3);
    EXPECT_EQ((std::vector<int>{10, 12, 13, 11, 14}), contents(l));

    int deaths = 0;
    zof::list_t<ref> refs;
    for (int i = 0; i < 4; ++i) refs.add_item(make(i, &deaths));
    refs.filter_mask(mask_of({false, true, false, true}));
    EXPECT_EQ(2, deaths);
    EXPECT_EQ(3, refs[1]->value);

    deaths = 0;
    {
        zof::ptr_list_t<tracked> owned;
        for (int i = 0; i < 5; ++i) owned.add_item(new tracked(i, &deaths));
        owned.delete_by_idx(0);
        owned.delete_mask(mask_of({true, false, true, false}));
        EXPECT_EQ(3, deaths);
        ASSERT_EQ(2u, owned.get_count());
        EXPECT_EQ(2, owned[0]->value);
        EXPECT_EQ(4, owned[1]->value);
    }
    EXPECT_EQ(5, deaths);
}

TEST(BitArray, FindAndTable) {
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

    zof::bit_array_bittable t(10);
    t.set(3, true);
    t.set(9, true);
    t.set(10, true); // beyond the size: ignored
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
