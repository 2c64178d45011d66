// Presets and chains, their record form, and the lookup of the player's
// DSP factories.
#include <algorithm>
#include <limits>

#include "dsp_fixture.h"
#include "dsp_services.h"

namespace {

using namespace dsp_test;

// A reader that hands out a record header and then `data_size` bytes of
// filler without holding them; counts what was taken.
class record_source final : public byte_reader {
public:
    record_source(const GUID& owner, std::uint32_t announced, std::uint64_t data_size) : m_data_left(data_size) {
        dsp_preset_impl header;
        header.assign_owner(owner);
        memory_writer w;
        kestrune_io::abort_callback_impl abort;
        header.contents_to_stream(w, abort);
        m_header = w.bytes;
        m_header[16] = static_cast<unsigned char>(announced);
        m_header[17] = static_cast<unsigned char>(announced >> 8);
        m_header[18] = static_cast<unsigned char>(announced >> 16);
        m_header[19] = static_cast<unsigned char>(announced >> 24);
    }
    zof::t_size read(void* buffer, zof::t_size n, kestrune_io::abort_callback&) override {
        auto* out = static_cast<unsigned char*>(buffer);
        zof::t_size done = 0;
        while (done < n && m_pos < m_header.size()) out[done++] = m_header[m_pos++];
        const std::uint64_t fill = std::min<std::uint64_t>(n - done, m_data_left);
        std::memset(out + done, 0xA5, std::size_t(fill));
        m_data_left -= fill;
        done += static_cast<zof::t_size>(fill);
        taken += done;
        return done;
    }
    std::uint64_t taken = 0;

private:
    std::vector<unsigned char> m_header;
    std::size_t m_pos = 0;
    std::uint64_t m_data_left;
};

const GUID owner_x = {0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
const GUID owner_y = stub_guid(7);

TEST(DspPreset, RecordHoldsTheOwnerInItsMemoryLayoutThenSizeAndDataAndReadsBack) {
    kestrune_io::abort_callback_impl abort;
    const dsp_preset_impl preset = make_preset(owner_x, "abc");
    memory_writer w;
    preset.contents_to_stream(w, abort);
    const std::vector<unsigned char> expected = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0A, 0x0B, 0x0C,
                                                 0x0D, 0x0E, 0x0F, 0x10, 3, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(w.bytes, expected);

    memory_reader r(w.bytes);
    dsp_preset_impl back;
    back.contents_from_stream(r, abort);
    EXPECT_TRUE(back == preset);
    EXPECT_EQ(r.position, expected.size());

    // Empty data: twenty bytes that read back equal over older data.
    dsp_preset_impl empty;
    empty.assign_owner(owner_y);
    memory_writer we;
    empty.contents_to_stream(we, abort);
    EXPECT_EQ(we.bytes.size(), 20u);
    memory_reader re(we.bytes);
    back.contents_from_stream(re, abort);
    EXPECT_TRUE(back == empty);
    EXPECT_EQ(back.data_length(), 0u);

    // Short records throw the reader's truncation.
    for (std::size_t cut : {std::size_t(10), std::size_t(18), w.bytes.size() - 1}) {
        SCOPED_TRACE(cut);
        memory_reader rc(std::vector<unsigned char>(w.bytes.begin(), w.bytes.begin() + std::ptrdiff_t(cut)));
        EXPECT_THROW(back.contents_from_stream(rc, abort), kestrune_io::exception_io_data_truncation);
    }
}

TEST(DspPreset, DataOfExactly32MiBIsAcceptedAndOneByteMoreIsRefusedBeforeReading) {
    kestrune_io::abort_callback_impl abort;
    {
        record_source at_limit(owner_x, dsp_preset_data_max, dsp_preset_data_max);
        dsp_preset_impl p;
        p.contents_from_stream(at_limit, abort);
        EXPECT_EQ(p.data_length(), dsp_preset_data_max);
        EXPECT_EQ(static_cast<const unsigned char*>(p.data_pointer())[dsp_preset_data_max - 1], 0xA5);
        EXPECT_EQ(at_limit.taken, 20u + dsp_preset_data_max);
    }
    record_source beyond(owner_y, dsp_preset_data_max + 1, dsp_preset_data_max + 1);
    dsp_preset_impl p = make_preset(owner_x, "kept");
    EXPECT_THROW(p.contents_from_stream(beyond, abort), kestrune_io::exception_io_data);
    EXPECT_EQ(beyond.taken, 20u);
    // The owner was read already; the data is the old one.
    EXPECT_TRUE(guid_equal(p.owner_guid(), owner_y));
    EXPECT_EQ(std::string(static_cast<const char*>(p.data_pointer()), p.data_length()), "kept");
}

TEST(DspPreset, ComparesOwnerSizeAndBytesAndCopiesIntoBlocksOfItsOwn) {
    const dsp_preset_impl a = make_preset(owner_x, "abc");
    EXPECT_TRUE(a == make_preset(owner_x, "abc"));
    EXPECT_TRUE(a != make_preset(owner_y, "abc"));
    EXPECT_TRUE(a != make_preset(owner_x, "abd"));
    EXPECT_TRUE(a != make_preset(owner_x, "abcd"));

    dsp_preset_impl b = make_preset(owner_y, "something longer");
    b = a;
    EXPECT_TRUE(b == a);
    EXPECT_NE(b.data_pointer(), a.data_pointer());

    // A part of the preset's own block as the new data.
    dsp_preset_impl c = make_preset(owner_x, "0123456789");
    c.assign_data(static_cast<const char*>(c.data_pointer()) + 4, 6);
    EXPECT_EQ(std::string(static_cast<const char*>(c.data_pointer()), c.data_length()), "456789");
    c.assign_data(nullptr, 0);
    EXPECT_EQ(c.data_length(), 0u);
}

std::vector<std::string> datas(const dsp_chain_config& chain) {
    std::vector<std::string> out;
    for (zof::t_size i = 0; i < chain.preset_total(); ++i) {
        const dsp_preset& p = chain.preset_at(i);
        out.emplace_back(static_cast<const char*>(p.data_pointer()), p.data_length());
    }
    return out;
}

TEST(DspChain, InsertsAtTheIndexOrAtTheEndErasesTheMarkedPresetsAndCopiesDeep) {
    dsp_chain_config_impl chain;
    chain.insert_preset(make_preset(owner_x, "b"), 0);
    chain.insert_preset(make_preset(owner_x, "a"), 0);
    chain.insert_preset(make_preset(owner_x, "d"), 99);
    chain.insert_preset(make_preset(owner_x, "c"), 2);
    EXPECT_EQ(datas(chain), (std::vector<std::string>{"a", "b", "c", "d"}));

    chain.replace_preset(make_preset(owner_y, "B"), 1);
    EXPECT_TRUE(guid_equal(chain.preset_at(1).owner_guid(), owner_y));

    zof::bit_array_bittable mask(4);
    mask.set(0, true);
    mask.set(2, true);
    chain.erase_marked(mask);
    EXPECT_EQ(datas(chain), (std::vector<std::string>{"B", "d"}));

    // A copy is deep and keeps the order.
    dsp_chain_config_impl copy;
    copy.append(make_preset(owner_y, "dropped"));
    copy.copy(chain);
    EXPECT_EQ(datas(copy), datas(chain));
    EXPECT_TRUE(guid_equal(copy.preset_at(0).owner_guid(), owner_y));
    copy.replace_preset(make_preset(owner_x, "changed"), 0);
    EXPECT_EQ(datas(chain), (std::vector<std::string>{"B", "d"}));
    EXPECT_NE(copy.preset_at(1).data_pointer(), chain.preset_at(1).data_pointer());
    copy.copy(copy);
    EXPECT_EQ(datas(copy), (std::vector<std::string>{"changed", "d"}));
    EXPECT_EQ(datas(dsp_chain_config_impl(chain)), datas(chain));
    chain.clear();
    EXPECT_EQ(chain.preset_total(), 0u);
}

TEST(DspChain, RecordFormRoundTripsAndAFailedReadKeepsWhatCameBefore) {
    kestrune_io::abort_callback_impl abort;
    dsp_chain_config_impl chain;
    chain.append(make_preset(owner_x, "first"));
    chain.append(make_preset(owner_y, ""));
    chain.append(make_preset(owner_x, "third"));
    memory_writer w;
    chain.contents_to_stream(w, abort);
    EXPECT_EQ(w.bytes.size(), 4u + 3 * 20 + 5 + 5);
    EXPECT_EQ(w.bytes[0], 3u);

    dsp_chain_config_impl back;
    back.append(make_preset(owner_y, "replaced"));
    memory_reader r(w.bytes);
    back.contents_from_stream(r, abort);
    ASSERT_EQ(back.preset_total(), 3u);
    for (zof::t_size i = 0; i < 3; ++i) EXPECT_TRUE(back.preset_at(i) == chain.preset_at(i));

    // The third record announces more than 32 MiB.
    std::vector<unsigned char> bad = w.bytes;
    const std::size_t third_size = 4 + 20 + 5 + 20 + 16;
    bad[third_size + 3] = 0x03;
    memory_reader rb(bad);
    EXPECT_THROW(back.contents_from_stream(rb, abort), kestrune_io::exception_io_data);
    EXPECT_EQ(datas(back), (std::vector<std::string>{"first", ""}));
}

// ---------------------------------------------------------------- lookup
class DspLookup : public player_fixture {};

TEST_F(DspLookup, FindsFactoriesByOwnerAndInstantiatesFromPresets) {
    service_ptr_t<dsp_factory> found;
    ASSERT_TRUE(find_dsp_entry(found, guid_dsp_channel_converter_stereo));
    EXPECT_TRUE(guid_equal(found->get_guid(), guid_dsp_channel_converter_stereo));

    service_ptr_t<dsp_factory> untouched = found;
    EXPECT_FALSE(find_dsp_entry(untouched, owner_x));
    EXPECT_EQ(untouched.get_ptr(), found.get_ptr());

    dsp_preset_impl preset;
    ASSERT_TRUE(found->get_default_preset(preset));
    service_ptr_t<dsp> instance;
    EXPECT_TRUE(dsp_factory_instantiate(instance, preset));
    EXPECT_TRUE(instance.is_valid());

    service_ptr_t<dsp> none;
    EXPECT_FALSE(dsp_factory_instantiate(none, make_preset(owner_x, "")));
    host.registry().add(dsp_factory::class_guid, kestrune_host::make_refusing_factory());
    EXPECT_FALSE(dsp_factory_instantiate(none, make_preset(kestrune_host::guid_dsp_test_refusing, "")));
    EXPECT_TRUE(none.is_empty());
}

TEST_F(DspLookup, TheResamplerOfHighestPriorityWinsAndTiesGoToTheFirst) {
    using namespace kestrune_host;
    service_ptr_t<resampler_factory> best;
    host.registry().add(dsp_factory::class_guid, make_resampler_factory(guid_dsp_test_resampler, resampler_priority));
    ASSERT_TRUE(find_best_resampler(best));
    EXPECT_TRUE(guid_equal(best->get_guid(), guid_dsp_resampler));

    const GUID stronger = stub_guid(20);
    host.registry().add(dsp_factory::class_guid, make_resampler_factory(stronger, resampler_priority * 2));
    ASSERT_TRUE(find_best_resampler(best));
    EXPECT_TRUE(guid_equal(best->get_guid(), stronger));

    host.registry().clear(dsp_factory::class_guid);
    host.registry().add(dsp_factory::class_guid, make_channel_converter_factory(1));
    service_ptr_t<resampler_factory> none;
    EXPECT_FALSE(find_best_resampler(none));
    EXPECT_TRUE(none.is_empty());
    // Any priority wins when it is the only one.
    host.registry().add(dsp_factory::class_guid, make_resampler_factory(guid_dsp_test_resampler, -1.0f));
    ASSERT_TRUE(find_best_resampler(best));
    EXPECT_TRUE(guid_equal(best->get_guid(), guid_dsp_test_resampler));
}

TEST_F(DspLookup, TheStreamsChainIsAChannelConverterThenTheResampler) {
    struct expect_t {
        std::int32_t channels;
        GUID converter;
    };
    for (const expect_t& e : {expect_t{1, guid_dsp_channel_converter_mono}, expect_t{2, guid_dsp_channel_converter_stereo},
                              expect_t{0, guid_dsp_channel_converter_stereo}, expect_t{6, guid_dsp_channel_converter_stereo}}) {
        SCOPED_TRACE(e.channels);
        dsp_chain_config_impl chain;
        dsp_chain_for_stream(chain, e.channels, 22050);
        ASSERT_EQ(chain.preset_total(), 2u);
        EXPECT_TRUE(guid_equal(chain.preset_at(0).owner_guid(), e.converter));
        std::uint32_t rate = 0;
        float quality = 0;
        ASSERT_TRUE(kestrune_host::resampler_preset_parse(chain.preset_at(1), rate, quality));
        EXPECT_EQ(rate, 22050u);
        EXPECT_FLOAT_EQ(quality, 0.5f);
    }
    EXPECT_EQ(host.console_log().lines().size(), 0u);
}

TEST_F(DspLookup, PartsOfTheStreamsChainThatCannotBeMadeAreLeftOutWithALine) {
    dsp_chain_config_impl chain;
    dsp_chain_for_stream(chain, 2, 0); // no resampler preset for 0 Hz
    ASSERT_EQ(chain.preset_total(), 1u);
    EXPECT_TRUE(guid_equal(chain.preset_at(0).owner_guid(), guid_dsp_channel_converter_stereo));
    EXPECT_EQ(console_count("velmora: failed to create resampler preset"), 1u);

    host.registry().clear(dsp_factory::class_guid);
    host.registry().add(dsp_factory::class_guid, kestrune_host::make_channel_converter_factory(1));
    dsp_chain_for_stream(chain, 2, 44100);
    EXPECT_EQ(chain.preset_total(), 0u);
    EXPECT_EQ(console_count("velmora: failed to set channel converter"), 1u);
    EXPECT_EQ(console_count("velmora: failed to set resampler"), 1u);
}

// A factory whose configuration popup makes the given edits in turn.
class editing_factory : public dsp_factory {
public:
    explicit editing_factory(std::vector<std::string> edits) : m_edits(std::move(edits)) {}
    bool get_default_preset(dsp_preset& out) override {
        out.assign_owner(owner_x);
        out.assign_data(nullptr, 0);
        return true;
    }
    bool instantiate(service_ptr_t<dsp>&, const dsp_preset&) override { return false; }
    GUID get_guid() override { return owner_x; }
    void get_name(zof::string_base& out) override { out.assign("editing"); }
    bool have_config_popup() override { return true; }
    void show_config_popup(const dsp_preset& preset, host_window, dsp_preset_edit_callback& callback) override {
        shown = std::string(static_cast<const char*>(preset.data_pointer()), preset.data_length());
        for (const std::string& e : m_edits) callback.on_preset_changed(make_preset(owner_x, e));
    }
    std::string shown;

private:
    std::vector<std::string> m_edits;
};

TEST_F(DspLookup, TheConfigurationPopupChangesThePresetOnlyWhenItEndsDifferent) {
    host.registry().clear(dsp_factory::class_guid);
    auto factory = make_service<editing_factory>(std::vector<std::string>{"first", "last"});
    host.registry().add(dsp_factory::class_guid, factory);
    dsp_preset_impl preset = make_preset(owner_x, "start");
    EXPECT_TRUE(dsp_preset_show_config(preset, nullptr));
    EXPECT_EQ(factory->shown, "start");
    EXPECT_TRUE(preset == make_preset(owner_x, "last"));

    host.registry().clear(dsp_factory::class_guid);
    host.registry().add(dsp_factory::class_guid, make_service<editing_factory>(std::vector<std::string>{"x", "last"}));
    EXPECT_FALSE(dsp_preset_show_config(preset, nullptr));
    EXPECT_TRUE(preset == make_preset(owner_x, "last"));

    dsp_preset_impl unknown = make_preset(owner_y, "keep");
    EXPECT_FALSE(dsp_preset_show_config(unknown, nullptr));
}

} // namespace
