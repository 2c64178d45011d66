// create_host_service and the enumeration of instances.
#include <gtest/gtest.h>

#include <string>

#include "sdk_fixture.h"

namespace {

constexpr GUID test_class = {0x5E0F1C2A, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

class test_service : public service_base {
public:
    static constexpr GUID class_guid = test_class;
    typedef service_base parent_class;
    explicit test_service(int id) : id(id) {}
    int id;
};

// A core API whose answers a test chooses: the count it reports and whether
// creating an instance succeeds.
class scripted_api final : public kestrune_api {
public:
    service_class_ref service_class_find(const GUID&) override { return reinterpret_cast<service_class_ref>(this); }
    bool service_instance_create(service_ptr& out, service_class_ref, std::uint32_t index) override {
        if (!create_succeeds || index >= instances.size()) return false;
        out = instances[index];
        return true;
    }
    std::uint32_t service_instance_count(service_class_ref) override { return count; }
    host_window main_window() override { return host_window(); }
    bool may_open_window() override { return true; }
    bool is_main_thread() override { return true; }
    bool is_shutting_down() override { return false; }
    const char* profile_path() override { return ""; }

    std::vector<service_ptr> instances;
    std::uint32_t count = 0;
    bool create_succeeds = true;
};

using ServiceLookup = with_player;

std::string thrown_by(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST_F(ServiceLookup, ExactlyOneInstanceIsHandedOutAndNoneOrTwoLeaveTheOutPointerAlone) {
    auto held = make_service<test_service>(7);
    service_ptr_t<test_service> out = held;
    EXPECT_EQ(thrown_by([&] { create_host_service(out); }), "Service not found");
    EXPECT_EQ(out.get_ptr(), held.get_ptr());

    auto one = make_service<test_service>(1);
    host.registry().add(test_class, one);
    {
        service_ptr_t<test_service> found;
        create_host_service(found);
        ASSERT_TRUE(found.is_valid());
        EXPECT_EQ(found->id, 1);
    }
    // Every reference taken was given back: the registry and `one` hold
    // the only ones left.
    EXPECT_EQ(one->add_reference(), 3);
    EXPECT_EQ(one->drop_reference(), 2);

    host.registry().add(test_class, make_service<test_service>(2));
    EXPECT_EQ(thrown_by([&] { create_host_service(out); }), "Service duplicated");
    EXPECT_EQ(out.get_ptr(), held.get_ptr());
    // The untyped form behaves alike.
    service_ptr raw = static_cast<service_base*>(held.get_ptr());
    EXPECT_EQ(thrown_by([&] { create_host_service(raw, test_class); }), "Service duplicated");
    EXPECT_EQ(raw.get_ptr(), static_cast<service_base*>(held.get_ptr()));
}

TEST_F(ServiceLookup, InstanceOfAnotherInterfaceIsAnExtensionNotFound) {
    // Registered under the class, but it is not that interface.
    host.registry().add(test_class, make_service<kestrune_host::host_console>());
    service_ptr_t<test_service> out;
    EXPECT_EQ(thrown_by([&] { create_host_service(out); }), "Service extension not found");
    EXPECT_TRUE(out.is_empty());
}

TEST(ServiceLookupScripted, RefusedCreationIsServiceNotFound) {
    scripted_api api;
    api.count = 1;
    api.create_succeeds = false;
    api.instances.push_back(make_service<test_service>(1));
    kestrune_get_interface(&api, nullptr);
    auto held = make_service<test_service>(9);
    service_ptr out = static_cast<service_base*>(held.get_ptr());
    EXPECT_EQ(thrown_by([&] { create_host_service(out, test_class); }), "Service not found");
    EXPECT_EQ(out.get_ptr(), static_cast<service_base*>(held.get_ptr()));

    // A player that claims an instance and hands out nothing.
    api.create_succeeds = true;
    api.instances[0] = nullptr;
    EXPECT_EQ(thrown_by([&] { create_host_service(out, test_class); }), "Service not found");
    EXPECT_EQ(out.get_ptr(), static_cast<service_base*>(held.get_ptr()));
    kestrune_get_interface(nullptr, nullptr);
}

TEST(ServiceLookupScripted, WithoutThePlayerNothingIsFound) {
    kestrune_get_interface(nullptr, nullptr);
    service_ptr out;
    EXPECT_EQ(thrown_by([&] { create_host_service(out, test_class); }), "Service not found");
    service_enum_t<test_service> e;
    service_ptr_t<test_service> item;
    EXPECT_FALSE(e.next(item));
}

TEST_F(ServiceLookup, EnumerationWalksEveryInstanceAndSkipsOnesThatDoNotNarrow) {
    auto first = make_service<test_service>(1);
    host.registry().add(test_class, first);
    host.registry().add(test_class, make_service<kestrune_host::host_console>());
    host.registry().add(test_class, make_service<test_service>(3));
    service_enum_t<test_service> e;
    service_ptr_t<test_service> item;
    std::vector<int> seen;
    while (e.next(item)) seen.push_back(item->id);
    EXPECT_EQ(seen, (std::vector<int>{1, 3}));
    item.release();
    EXPECT_EQ(first->add_reference(), 3); // the registry's, `first` and this one
    EXPECT_EQ(first->drop_reference(), 2);
}
