// Service pointers, counted services and narrowing through query_class.
#include <gtest/gtest.h>

#include <vector>

#include "kestrune.h"

namespace {

// A counted service that records its own destruction.
class probe : public dsp {
public:
    explicit probe(std::vector<int>* log, int id) : m_log(log), m_id(id) {}
    ~probe() { m_log->push_back(m_id); }
    void run(dsp_chunk_list*, track_handle*, std::uint32_t) override {}
    double get_latency() override { return 0.0; }
private:
    std::vector<int>* m_log;
    int m_id;
};

class abortable_probe : public dsp_abortable {
public:
    void run(dsp_chunk_list*, track_handle*, std::uint32_t) override {}
    double get_latency() override { return 0.5; }
    void run_abortable(dsp_chunk_list*, track_handle*, std::uint32_t, kestrune_io::abort_callback&) override {}
};

} // namespace

TEST(ServicePointer, AssignmentTakesTheNewBeforeReleasingTheOld) {
    std::vector<int> destroyed;
    service_ptr_t<dsp> p = make_service<probe>(&destroyed, 1);
    EXPECT_EQ(p->add_reference(), 2); // counts answer the new value
    EXPECT_EQ(p->drop_reference(), 1);
    // The pointer holds the only reference: assigning it to itself must add
    // before it releases.
    service_ptr_t<dsp>& alias = p;
    p = alias;
    p = p.get_ptr();
    EXPECT_TRUE(destroyed.empty());
    EXPECT_DOUBLE_EQ(p->get_latency(), 0.0);

    service_ptr_t<dsp> b = make_service<probe>(&destroyed, 2);
    p = b;
    EXPECT_EQ(destroyed, std::vector<int>{1});
    b = nullptr;
    EXPECT_EQ(destroyed, std::vector<int>{1});
    {
        service_ptr_t<dsp> moved(std::move(p));
        EXPECT_TRUE(p.is_empty());
    }
    EXPECT_EQ(destroyed, (std::vector<int>{1, 2}));
}

TEST(ServiceQuery, NarrowsToTheClassAndEveryInterfaceItExtendsOnly) {
    service_ptr_t<dsp> p = make_service<abortable_probe>();
    service_ptr_t<dsp_abortable> ext;
    ASSERT_TRUE(p.query(ext));
    EXPECT_EQ(ext.get_ptr(), p.get_ptr());

    service_ptr_t<dsp> base;
    ASSERT_TRUE(ext.query(base));
    EXPECT_EQ(base.get_ptr(), p.get_ptr());

    // A class the service does not offer: false, and the out pointer keeps
    // what it held.
    service_ptr_t<dsp_factory> other;
    EXPECT_FALSE(p.query(other));
    EXPECT_TRUE(other.is_empty());
    service_ptr held = static_cast<service_base*>(p.get_ptr());
    EXPECT_FALSE(p->query_class(held, console::class_guid));
    EXPECT_EQ(held.get_ptr(), static_cast<service_base*>(p.get_ptr()));

    // A plain DSP does not offer the abortable extension.
    std::vector<int> destroyed;
    service_ptr_t<dsp> plain = make_service<probe>(&destroyed, 1);
    service_ptr_t<dsp_abortable> none;
    EXPECT_FALSE(plain.query(none));
}
