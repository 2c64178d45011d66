// The DSP chunk list: recycling, best fit and removal of bad chunks.
#include "dsp_fixture.h"

namespace {

using namespace dsp_test;

// Puts chunks of the given capacities into the list's recycled chunks, in
// that order.
void recycle_capacities(dsp_chunk_list_impl& list, const std::vector<zof::t_size>& capacities) {
    for (zof::t_size c : capacities) list.add_chunk(0)->reserve(c);
    list.erase_marked(zof::bit_array_true());
}

TEST(DspChunkList, InsertionTakesTheRecycledChunkNearestToTheHint) {
    struct case_t {
        std::vector<zof::t_size> recycled;
        zof::t_size hint;
        zof::t_size taken;
    };
    const case_t cases[] = {
        {{1024, 4096, 8192}, 4096, 4096},
        {{1000, 3000}, 2000, 1000},  // equal distance: the earlier
        {{3000, 1000}, 2000, 3000},
        {{8192, 100, 2100}, 2000, 2100},
        {{100, 200, 300}, 0, 300},   // no hint: the last recycled
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.hint);
        dsp_chunk_list_impl list;
        recycle_capacities(list, c.recycled);
        audio_chunk* got = list.insert_chunk(0, c.hint);
        EXPECT_EQ(got->capacity(), c.taken);
        EXPECT_EQ(list.recycled_total(), c.recycled.size() - 1);
        for (zof::t_size i = 0; i < list.recycled_total(); ++i) EXPECT_NE(list.recycled_at(i), got);
    }
}

TEST(DspChunkList, AReusedChunkComesBackEmptyWithItsBuffer) {
    dsp_chunk_list_impl list;
    audio_chunk* chunk = add_audio(list, 256, 0.5f);
    const float* buffer = chunk->samples();
    list.erase_at(0);
    ASSERT_EQ(list.recycled_total(), 1u);

    audio_chunk* again = list.insert_chunk(0, 512);
    EXPECT_EQ(again, chunk);
    EXPECT_EQ(again->frame_total(), 0u);
    EXPECT_EQ(again->channel_total(), 0u);
    EXPECT_EQ(again->channel_layout(), 0u);
    EXPECT_EQ(again->sample_rate(), 0u);
    EXPECT_EQ(again->capacity(), 512u);
    EXPECT_EQ(again->samples(), buffer);
    EXPECT_EQ(list.recycled_total(), 0u);

    // A new one when nothing is recycled: every field zero.
    audio_chunk* fresh = list.insert_chunk(0, 512);
    EXPECT_NE(fresh, chunk);
    EXPECT_EQ(fresh->capacity(), 0u);
    EXPECT_EQ(fresh->samples(), nullptr);
}

TEST(DspChunkList, InsertsAtTheIndexAndErasesIntoTheRecycledInOrder) {
    dsp_chunk_list_impl list;
    EXPECT_EQ(list.chunk_at(0), nullptr);
    audio_chunk* b = add_audio(list, 2);
    audio_chunk* a = list.insert_chunk(0, 0);
    audio_chunk* d = list.insert_chunk(77, 0); // beyond the count: appended
    audio_chunk* c = list.insert_chunk(2, 0);
    ASSERT_EQ(list.chunk_total(), 4u);
    EXPECT_EQ((std::vector<audio_chunk*>{a, b, c, d}),
              (std::vector<audio_chunk*>{list.chunk_at(0), list.chunk_at(1), list.chunk_at(2), list.chunk_at(3)}));
    EXPECT_EQ(list.chunk_at(4), nullptr);
    list.erase_at(4); // out of range: nothing
    EXPECT_EQ(list.chunk_total(), 4u);
    EXPECT_EQ(list.recycled_total(), 0u);

    list.erase_marked(zof::bit_array_one(1));
    ASSERT_EQ(list.chunk_total(), 3u);
    EXPECT_EQ(list.chunk_at(1), c);
    ASSERT_EQ(list.recycled_total(), 1u);
    EXPECT_EQ(list.recycled_at(0), b);
    list.erase_at(0);
    EXPECT_EQ(list.chunk_at(0), c);
    EXPECT_EQ(list.recycled_at(1), a);
    list.erase_marked(zof::bit_array_true());
    EXPECT_EQ(list.chunk_total(), 0u);
    EXPECT_EQ(list.recycled_total(), 4u);
    EXPECT_EQ(list.recycled_at(3), d);
}

TEST(DspChunkList, RecyclingKeepsTheBuffersAcrossRuns) {
    dsp_chunk_list_impl list;
    std::vector<const float*> buffers;
    for (int i = 0; i < 3; ++i) buffers.push_back(add_audio(list, 1024)->samples());
    for (int round = 0; round < 5; ++round) {
        list.erase_marked(zof::bit_array_true());
        for (int i = 0; i < 3; ++i) {
            const float* b = add_audio(list, 1024)->samples();
            EXPECT_NE(std::find(buffers.begin(), buffers.end(), b), buffers.end());
        }
    }
    EXPECT_EQ(list.recycled_total(), 0u);
}

class DspBadChunks : public player_fixture {};

TEST_F(DspBadChunks, BadChunksAreRemovedWithTheirBuffersAndOneLinePerPass) {
    dsp_chunk_list_impl list;
    audio_chunk* bad_rate = add_audio(list, 16);
    bad_rate->assign_sample_rate(999);
    audio_chunk* good = add_audio(list, 16);
    audio_chunk* bad_channels = add_audio(list, 16);
    bad_channels->assign_channels(257, 0);

    dsp_chunk_list_remove_bad_chunks(list);
    ASSERT_EQ(list.chunk_total(), 1u);
    EXPECT_EQ(list.chunk_at(0), good);
    EXPECT_EQ(console_count("one or more bad chunks removed from dsp chunk list"), 1u);
    ASSERT_EQ(list.recycled_total(), 2u);
    for (zof::t_size i = 0; i < 2; ++i) {
        const audio_chunk* r = list.recycled_at(i);
        EXPECT_EQ(r->capacity(), 0u);
        EXPECT_EQ(r->samples(), nullptr);
        EXPECT_EQ(r->channel_total(), 0u);
        EXPECT_EQ(r->sample_rate(), 0u);
    }

    // Nothing bad: nothing printed.
    dsp_chunk_list_remove_bad_chunks(list);
    EXPECT_EQ(console_count("bad chunks"), 1u);
    EXPECT_EQ(list.chunk_total(), 1u);

    // A frame count beyond the buffer is bad too.
    good->assign_frame_total(good->capacity());
    dsp_chunk_list_remove_bad_chunks(list);
    EXPECT_EQ(list.chunk_total(), 0u);
    EXPECT_EQ(console_count("bad chunks"), 2u);
}

} // namespace
