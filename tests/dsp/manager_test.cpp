// The DSP manager over recording stand-ins for the player's DSPs.
#include <atomic>
#include <stdexcept>

#include "dsp_fixture.h"

namespace {

using namespace dsp_test;

const GUID owner_a = stub_guid(1);
const GUID owner_b = stub_guid(2);
const GUID owner_c = stub_guid(3);
const GUID owner_missing = stub_guid(9);

class DspManager : public player_fixture {
protected:
    DspManager() {
        host.registry().clear(dsp_factory::class_guid);
        a = install(owner_a, 0.25);
        b = install(owner_b, 0.5);
        c = install(owner_c, 2.0);
    }

    service_ptr_t<stub_factory> install(const GUID& owner, double latency) {
        stub_options o;
        o.latency = latency;
        service_ptr_t<stub_factory> f = make_service<stub_factory>(log, owner, o);
        host.registry().add(dsp_factory::class_guid, f);
        return f;
    }

    void configure(const std::vector<dsp_preset_impl>& presets) {
        dsp_chain_config_impl chain;
        for (const auto& p : presets) chain.append(p);
        manager.set_config(chain);
    }

    // One run over a list holding one chunk; answers the latency.
    double run_once() {
        list.erase_marked(zof::bit_array_true());
        add_audio(list, 64);
        return manager.run(&list, nullptr, 0, abort);
    }

    // The runs recorded since `from`, as (instance, flags) pairs.
    std::vector<std::pair<int, std::uint32_t>> runs_since(std::size_t from) const {
        std::vector<std::pair<int, std::uint32_t>> out;
        for (std::size_t i = from; i < log.runs.size(); ++i) out.emplace_back(log.runs[i].instance, log.runs[i].flags);
        return out;
    }

    dsp_log log;
    service_ptr_t<stub_factory> a, b, c;
    dsp_manager manager;
    dsp_chunk_list_impl list;
    kestrune_io::abort_callback_impl abort;
};

typedef std::vector<std::pair<int, std::uint32_t>> runs_t;

TEST_F(DspManager, FirstRunMakesTheInstancesInOrderAndBothProcessTheSameChunks) {
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    list.erase_marked(zof::bit_array_true());
    const audio_chunk* first = add_audio(list, 64);
    const audio_chunk* second = add_audio(list, 32);
    const double latency = manager.run(&list, nullptr, 0, abort);

    EXPECT_EQ(log.made, (std::vector<int>{1, 2}));
    ASSERT_EQ(log.made_by.size(), 2u);
    EXPECT_TRUE(guid_equal(log.made_by[0], owner_a));
    EXPECT_TRUE(guid_equal(log.made_by[1], owner_b));
    EXPECT_EQ(runs_since(0), (runs_t{{1, 0}, {2, 0}}));
    const std::vector<const audio_chunk*> both{first, second};
    EXPECT_EQ(log.runs[0].chunks, both);
    EXPECT_EQ(log.runs[1].chunks, both);
    EXPECT_DOUBLE_EQ(latency, 0.75);
    EXPECT_EQ(list.chunk_total(), 2u);

    // Steady state: the same instances again, nothing made.
    run_once();
    EXPECT_EQ(log.made.size(), 2u);
    EXPECT_EQ(runs_since(2), (runs_t{{1, 0}, {2, 0}}));

    // The same chain set again keeps every instance and flushes none.
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    run_once();
    run_once();
    EXPECT_EQ(log.made.size(), 2u);
    EXPECT_EQ(runs_since(4), (runs_t{{1, 0}, {2, 0}, {1, 0}, {2, 0}}));
}

TEST_F(DspManager, OneChangedPresetIsFlushedAndReplacedWhileTheOthersAreKept) {
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y"), make_preset(owner_c, "z")});
    run_once();
    const service_ptr_t<dsp> kept_a = manager.instance_at(0), old_b = manager.instance_at(1), kept_c = manager.instance_at(2);

    configure({make_preset(owner_a, "x"), make_preset(owner_b, "changed"), make_preset(owner_c, "z")});
    std::size_t mark = log.runs.size();
    const double latency = run_once();
    // The old chain carries this run: the changed one flushes.
    EXPECT_EQ(runs_since(mark), (runs_t{{1, 0}, {2, dsp::flag_flush}, {3, 0}}));
    EXPECT_DOUBLE_EQ(latency, 0.25 + 0.5 + 2.0);
    EXPECT_EQ(log.made, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(manager.instance_at(0).get_ptr(), kept_a.get_ptr());
    EXPECT_NE(manager.instance_at(1).get_ptr(), old_b.get_ptr());
    EXPECT_EQ(manager.instance_at(2).get_ptr(), kept_c.get_ptr());

    // The replacement starts with the next run.
    mark = log.runs.size();
    run_once();
    EXPECT_EQ(runs_since(mark), (runs_t{{1, 0}, {4, 0}, {3, 0}}));
}

TEST_F(DspManager, ChangesBeyondOnePresetsDataKeepNoInstance) {
    struct change {
        const char* what;
        std::vector<dsp_preset_impl> from, to;
    };
    const std::vector<change> changes = {
        {"two presets' data",
         {make_preset(owner_a, "x"), make_preset(owner_b, "y"), make_preset(owner_c, "z")},
         {make_preset(owner_a, "x2"), make_preset(owner_b, "y"), make_preset(owner_c, "z2")}},
        {"an owner",
         {make_preset(owner_a, "x"), make_preset(owner_b, "y")},
         {make_preset(owner_a, "x"), make_preset(owner_c, "y")}},
        {"the length",
         {make_preset(owner_a, "x"), make_preset(owner_b, "y")},
         {make_preset(owner_a, "x"), make_preset(owner_b, "y"), make_preset(owner_c, "z")}},
    };
    for (const change& ch : changes) {
        SCOPED_TRACE(ch.what);
        dsp_manager fresh_manager;
        dsp_chain_config_impl chain;
        for (const auto& p : ch.from) chain.append(p);
        fresh_manager.set_config(chain);
        list.erase_marked(zof::bit_array_true());
        add_audio(list, 64);
        fresh_manager.run(&list, nullptr, 0, abort);
        runs_t old;
        for (std::size_t i = log.made.size() - ch.from.size(); i < log.made.size(); ++i)
            old.emplace_back(log.made[i], dsp::flag_flush);
        const std::size_t made_before = log.made.size();

        chain.clear();
        for (const auto& p : ch.to) chain.append(p);
        fresh_manager.set_config(chain);
        std::size_t mark = log.runs.size();
        fresh_manager.run(&list, nullptr, 0, abort);
        EXPECT_EQ(runs_since(mark), old);
        ASSERT_EQ(log.made.size(), made_before + ch.to.size());

        mark = log.runs.size();
        fresh_manager.run(&list, nullptr, 0, abort);
        runs_t fresh;
        for (std::size_t i = made_before; i < log.made.size(); ++i) fresh.emplace_back(log.made[i], 0u);
        EXPECT_EQ(runs_since(mark), fresh);
    }
}

TEST_F(DspManager, PresetsWithoutAFactoryAreSkippedInOrder) {
    // Nothing installed leaves the chunks alone.
    configure({make_preset(owner_missing, "?")});
    list.erase_marked(zof::bit_array_true());
    audio_chunk* chunk = add_audio(list, 16, 0.5f);
    EXPECT_DOUBLE_EQ(manager.run(&list, nullptr, 0, abort), 0.0);
    ASSERT_EQ(list.chunk_total(), 1u);
    EXPECT_EQ(list.chunk_at(0), chunk);
    EXPECT_EQ(chunk->samples()[31], 0.5f);

    configure({make_preset(owner_b, "y"), make_preset(owner_missing, "?"), make_preset(owner_a, "x")});
    run_once();
    EXPECT_EQ(manager.instance_total(), 2u);
    ASSERT_EQ(log.made_by.size(), 2u);
    EXPECT_TRUE(guid_equal(log.made_by[0], owner_b));
    EXPECT_TRUE(guid_equal(log.made_by[1], owner_a));
    EXPECT_EQ(runs_since(0), (runs_t{{1, 0}, {2, 0}}));
    EXPECT_EQ(console_count("bad chunks"), 0u);
}

TEST_F(DspManager, AThrowingDspEmptiesTheListAndTheCallerSeesTheException) {
    b->options().throws = true;
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    list.erase_marked(zof::bit_array_true());
    add_audio(list, 64);
    add_audio(list, 64);
    EXPECT_THROW(manager.run(&list, nullptr, 0, abort), std::runtime_error);
    EXPECT_EQ(list.chunk_total(), 0u);
    // The buffers are kept for the next run.
    EXPECT_EQ(list.recycled_total(), 2u);
}

TEST_F(DspManager, ARefusingFactoryFailsTheRunAndTheOldChainStaysUntilARebuildSucceeds) {
    b->options().refuses = true;
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    EXPECT_THROW(run_once(), exception_dsp_instantiate);
    EXPECT_EQ(list.chunk_total(), 0u);
    EXPECT_EQ(manager.instance_total(), 0u);
    // The configuration still counts as changed: the next run builds again.
    b->options().refuses = false;
    run_once();
    EXPECT_EQ(list.chunk_total(), 1u);
    const service_ptr_t<dsp> old_a = manager.instance_at(0), old_b = manager.instance_at(1);
    const int number_a = log.made.end()[-2], number_b = log.made.back();

    b->options().refuses = true;
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "changed")});
    std::size_t mark = log.runs.size();
    EXPECT_THROW(run_once(), exception_dsp_instantiate);
    EXPECT_EQ(log.runs.size(), mark);
    ASSERT_EQ(manager.instance_total(), 2u);
    EXPECT_EQ(manager.instance_at(0).get_ptr(), old_a.get_ptr());
    EXPECT_EQ(manager.instance_at(1).get_ptr(), old_b.get_ptr());

    // The next run tries again: the unchanged instance is still kept and
    // the old one of the changed preset flushes.
    b->options().refuses = false;
    mark = log.runs.size();
    run_once();
    EXPECT_EQ(runs_since(mark), (runs_t{{number_a, 0}, {number_b, dsp::flag_flush}}));
    EXPECT_EQ(manager.instance_at(0).get_ptr(), old_a.get_ptr());
    EXPECT_NE(manager.instance_at(1).get_ptr(), old_b.get_ptr());
}

TEST_F(DspManager, ReleasedInstancesAreMadeAfreshWithoutAFlush) {
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    run_once();
    manager.release_instances();
    EXPECT_EQ(manager.instance_total(), 0u);
    const std::size_t mark = log.runs.size();
    run_once();
    EXPECT_EQ(runs_since(mark), (runs_t{{3, 0}, {4, 0}}));
    EXPECT_EQ(manager.config().preset_total(), 2u);
}

TEST_F(DspManager, NoDspAndNoCallerSeesABadChunk) {
    a->options().add_bad = true;
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    list.erase_marked(zof::bit_array_true());
    const audio_chunk* good = add_audio(list, 64);
    manager.run(&list, nullptr, 0, abort);
    ASSERT_EQ(log.runs.size(), 2u);
    EXPECT_EQ(log.runs[1].chunks, std::vector<const audio_chunk*>{good});
    ASSERT_EQ(list.chunk_total(), 1u);
    EXPECT_EQ(list.chunk_at(0), good);
    EXPECT_EQ(console_count("one or more bad chunks removed from dsp chunk list"), 1u);

    // A bad chunk left by the last DSP is removed after the chain too.
    b->options().add_bad = true;
    configure({make_preset(owner_b, "y")});
    run_once(); // the old chain flushes; b makes a new instance that adds a bad chunk next
    run_once();
    for (zof::t_size i = 0; i < list.chunk_total(); ++i) EXPECT_TRUE(list.chunk_at(i)->is_valid());
}

// Each run goes through the abortable entry where a DSP offers it, under
// a call-stack mark naming the step, flushing denormals and rounding to
// nearest; the caller's state returns, after a failure too.
TEST_F(DspManager, DspsRunInsideTheManagersOwnStateAndTheCallersReturns) {
    const fpu::state caller = fpu::with(fpu::current(), false, fpu::rounding::toward_zero);
    const fpu::state before = fpu::current();
    fpu::restore(caller);
    const fpu::state set = fpu::current();

    b->options().abortable = true;
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    run_once();
    ASSERT_EQ(log.runs.size(), 2u);
    EXPECT_FALSE(log.runs[0].abortable);
    EXPECT_TRUE(log.runs[1].abortable);
    for (const auto& r : log.runs) {
        EXPECT_EQ(r.tracker, "dsp::run");
        EXPECT_TRUE(r.rounding_nearest);
#if defined(_WIN32) || defined(__x86_64__) || defined(__i386__)
        EXPECT_TRUE(r.flushing_denormals);
#endif
#if defined(__SSE_MATH__)
        EXPECT_TRUE(r.denormal_product_zero);
#endif
    }
    EXPECT_EQ(log.latency_trackers, (std::vector<std::string>{"dsp::get_latency", "dsp::get_latency"}));
    EXPECT_EQ(log.making_trackers, (std::vector<std::string>{"dsp_manager::run", "dsp_manager::run"}));
    EXPECT_EQ(uCallStackTracker::current(), nullptr);
#if defined(__SSE_MATH__)
    volatile float tiny = 1e-30f;
    EXPECT_NE(tiny * 1e-10f, 0.0f);
#endif
    EXPECT_EQ(fpu::current(), set);

    a->options().throws = true;
    manager.release_instances();
    EXPECT_THROW(run_once(), std::runtime_error);
    EXPECT_EQ(fpu::current(), set);
    EXPECT_EQ(fpu::rounding_of(fpu::current()), fpu::rounding::toward_zero);
    fpu::restore(before);
}

} // namespace

namespace {

std::atomic<int> g_heap_calls{0};
zof::realloc_function g_previous_realloc = nullptr;

void* counting_realloc(void* block, std::size_t n) {
    ++g_heap_calls;
    return g_previous_realloc(block, n);
}

TEST_F(DspManager, SteadyRunsTakeNoMemoryOfTheirOwn) {
    configure({make_preset(owner_a, "x"), make_preset(owner_b, "y")});
    std::vector<float> captured(2048, 0.5f);
    auto one_capture = [&] {
        list.erase_marked(zof::bit_array_true());
        audio_chunk* c = list.add_chunk(zof::t_size(captured.size()));
        c->assign_samples(captured.data(), 1024, 2, 48000, audio_chunk::channel_config_stereo);
        manager.run(&list, nullptr, 0, abort);
    };
    one_capture();
    one_capture();
    log.runs.reserve(log.runs.size() + 1000);

    g_heap_calls = 0;
    g_previous_realloc = zof::set_realloc_function(counting_realloc);
    for (int i = 0; i < 100; ++i) one_capture();
    zof::set_realloc_function(g_previous_realloc);
    EXPECT_EQ(g_heap_calls.load(), 0);
    EXPECT_EQ(list.chunk_total(), 1u);
}

} // namespace
