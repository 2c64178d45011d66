// The I/O exception family, the abort callback, the tick timer and the
// stream functions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "filesystem.h"
#include "io_support.h"
#include "kestrune_io.h"

using iotest::counting_bytes;
using iotest::memory_file;

namespace {

TEST(IoExceptions, CaughtByTheirBasesWithTheirTexts) {
    try {
        throw kestrune_io::exception_io_data_truncation();
    } catch (const kestrune_io::exception_io_data& e) {
        EXPECT_STREQ("Unsupported format or corrupted file", e.what());
    }
    EXPECT_THROW(throw kestrune_io::exception_io_write_protected(), kestrune_io::exception_io_denied);
    EXPECT_STREQ("Length of object is unknown", kestrune_io::exception_io_no_length().what());
    EXPECT_STREQ("Invalid path", kestrune_io::exception_io_no_handler_for_path().what());
    EXPECT_STREQ("User abort", kestrune_io::exception_aborted().what());
    // An abort is no I/O error.
    try {
        try {
            throw kestrune_io::exception_aborted();
        } catch (const kestrune_io::exception_io&) {
            ADD_FAILURE() << "caught as an I/O error";
        }
    } catch (const kestrune_io::exception_aborted&) {
    }
    // A missing drive is a missing object: removals that pass over missing
    // entries pass over it too.
    EXPECT_THROW(throw exception_io_invalid_drive(), kestrune_io::exception_io_not_found);
    EXPECT_STREQ("Generic win32 I/O error", exception_io_win32().what());
    for (auto thrower : {+[] { throw exception_io_invalid_path_syntax(); }, +[] { throw exception_io_buffer_overflow(); },
                         +[] { throw exception_io_device_not_ready(); }}) {
        EXPECT_THROW(thrower(), kestrune_io::exception_io);
    }
    // The player's texts travel with the type.
    const exception_io_win32_ex thrown("The network name cannot be found.");
    const exception_io_win32 copy(thrown);
    EXPECT_STREQ("The network name cannot be found.", copy.what());
    const kestrune_io::exception_io_not_found found("Object not found: C:\\x.wav");
    EXPECT_EQ(found.what(), kestrune_io::exception_io_not_found(found).what());
}

TEST(AbortCallback, AbortEndsChecksAndSleepsUntilReset) {
    kestrune_io::abort_callback_impl abort;
    EXPECT_FALSE(abort.abort_requested());
    EXPECT_NO_THROW(abort.check());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(abort.sleep());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_TRUE(abort.sleep_ex());

    std::thread other([&] { abort.abort(); });
    other.join();
    EXPECT_TRUE(abort.abort_requested());
    EXPECT_THROW(kestrune_io::check_abort(abort), kestrune_io::exception_aborted);
    EXPECT_THROW(abort.sleep(), kestrune_io::exception_aborted);
    EXPECT_FALSE(abort.sleep_ex());
    abort.reset();
    EXPECT_NO_THROW(abort.check());
    EXPECT_TRUE(abort.sleep_ex());
}

TEST(TickTimer, CountsAcrossTheThirtyTwoBitWrap) {
    tick_timer t;
    t.start(0xFFFFFF00u);
    EXPECT_DOUBLE_EQ(0.0, t.elapsed_seconds(0xFFFFFF00u));
    EXPECT_DOUBLE_EQ(0.255, t.elapsed_seconds(0xFFFFFFFFu));
    EXPECT_DOUBLE_EQ(0.256, t.elapsed_seconds(0x00000000u));
    EXPECT_DOUBLE_EQ(1.256, t.elapsed_seconds(1000u));
    // A second wrap steps the high half again: 2^32 + 5 - 0xFFFFFF00 ms.
    t.elapsed_seconds(0xFFFFFFFFu);
    EXPECT_DOUBLE_EQ(4294967.557, t.elapsed_seconds(5u));

    t.start(); // the system clock
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const double e = t.elapsed_seconds();
    EXPECT_GE(e, 0.02);
    EXPECT_LT(e, 5.0);
}

TEST(LimitedReader, NeverPassesItsCountAndReportsTruncation) {
    kestrune_io::abort_callback_impl abort;
    memory_file file(counting_bytes(100));
    limited_reader r(file, 10);
    unsigned char buf[100];
    EXPECT_EQ(10u, r.read(buf, 100, abort));
    EXPECT_EQ(0u, r.read(buf, 100, abort));
    EXPECT_EQ(10u, file.position);
    EXPECT_EQ(0u, r.remaining());

    file.position = 0;
    limited_reader objects(file, 6);
    objects.read_object(buf, 4, abort);
    EXPECT_EQ(counting_bytes(4), std::vector<unsigned char>(buf, buf + 4));
    EXPECT_THROW(objects.read_object(buf, 4, abort), kestrune_io::exception_io_data_truncation); // two left
    EXPECT_EQ(6u, file.position);

    file.position = 0;
    limited_reader skips(file, 20);
    EXPECT_EQ(5u, skips.skip(5, abort));
    EXPECT_THROW(skips.skip_object(16, abort), kestrune_io::exception_io_data_truncation);
    EXPECT_EQ(20u, file.position);
    // An inner stream that ends before the count.
    memory_file short_file(counting_bytes(3));
    limited_reader s(short_file, 10);
    EXPECT_THROW(s.skip_object(10, abort), kestrune_io::exception_io_data_truncation);
}

// ---- seeks, skips, copies ---------------------------------------------------

TEST(StreamFunctions, SeekModes) {
    kestrune_io::abort_callback_impl abort;
    memory_file file(counting_bytes(100));
    filesystem_util::seek_ex(file, 10, filesystem_util::seek_from_beginning, abort);
    filesystem_util::seek_ex(file, 5, filesystem_util::seek_from_current, abort);
    EXPECT_EQ(15u, file.position);
    filesystem_util::seek_ex(file, -20, filesystem_util::seek_from_end, abort);
    EXPECT_EQ(80u, file.position);
    EXPECT_THROW(filesystem_util::seek_ex(file, 0, 3, abort), kestrune_io::exception_io_data);

    memory_file no_length(counting_bytes(100), true, false);
    try {
        filesystem_util::seek_ex(no_length, 0, filesystem_util::seek_from_end, abort);
        FAIL() << "no exception";
    } catch (const kestrune_io::exception_io_no_length& e) {
        EXPECT_STREQ("Length of object is unknown", e.what());
    }
}

TEST(StreamFunctions, SmallSkipsReadLargeOnesSeek) {
    kestrune_io::abort_callback_impl abort;
    memory_file file(counting_bytes(5000));
    EXPECT_EQ(1000u, filesystem_util::skip_object(file, 1000, abort));
    EXPECT_EQ(0, file.seeks);
    EXPECT_EQ(4, file.reads); // 256-byte steps
    EXPECT_EQ(2000u, filesystem_util::skip_object(file, 2000, abort));
    EXPECT_EQ(1, file.seeks);
    EXPECT_EQ(2000u, filesystem_util::skip_object(file, 9999, abort)); // clamped to the end
    EXPECT_EQ(5000u, file.position);

    memory_file stream(counting_bytes(3000), false);
    EXPECT_EQ(2000u, filesystem_util::skip_object(stream, 2000, abort));
    EXPECT_EQ(0, stream.seeks);
    EXPECT_EQ(1000u, stream.skip(5000, abort));
}

TEST(StreamFunctions, CopiesTakeBuffersOfTheirSizeAndStopAtTheEndOrAnAbort) {
    kestrune_io::abort_callback_impl abort;
    memory_file small(counting_bytes(10));
    memory_file out;
    EXPECT_EQ(10u, filesystem_util::copy(small, out, 10, abort));
    EXPECT_EQ(10u, small.largest_read);
    EXPECT_EQ(counting_bytes(10), out.bytes);

    const std::size_t big = 20u * 1024 * 1024;
    memory_file large(counting_bytes(big));
    memory_file sink;
    filesystem_util::copy_exact(large, sink, big, abort);
    EXPECT_EQ(8u * 1024 * 1024, large.largest_read);
    EXPECT_EQ(large.bytes, sink.bytes);

    memory_file src(counting_bytes(700));
    memory_file dst;
    EXPECT_THROW(filesystem_util::copy_exact(src, dst, 800, abort), kestrune_io::exception_io_data_truncation);
    src.position = 0;
    memory_file all;
    EXPECT_EQ(700u, filesystem_util::copy_to_end(src, all, abort));
    EXPECT_EQ(src.bytes, all.bytes);

    abort.abort();
    src.position = 0;
    EXPECT_THROW(filesystem_util::copy(src, dst, 100, abort), kestrune_io::exception_aborted);
}

std::size_t g_heap_limit = 0;
void* limited_realloc(void* block, std::size_t n) { return n > g_heap_limit ? nullptr : std::realloc(block, n); }

TEST(StreamFunctions, WorkBufferHalvesWhileTheHeapRefuses) {
    const auto previous = zof::set_realloc_function(&limited_realloc);
    g_heap_limit = 3u * 1024 * 1024;
    {
        filesystem_util::work_buffer b(8u * 1024 * 1024);
        EXPECT_EQ(2u * 1024 * 1024, b.size());
    }
    g_heap_limit = 300;
    {
        filesystem_util::work_buffer b(8u * 1024 * 1024);
        EXPECT_EQ(256u, b.size());
    }
    g_heap_limit = 255;
    EXPECT_THROW(filesystem_util::work_buffer(8u * 1024 * 1024), std::bad_alloc);
    zof::set_realloc_function(previous);
}

TEST(StreamFunctions, CopyObjectChecksLengthsFirst) {
    kestrune_io::abort_callback_impl abort;
    memory_file src(counting_bytes(3000));
    src.position = 1000;
    memory_file dst(std::vector<unsigned char>(10));
    dst.position = 5;
    EXPECT_THROW(filesystem_util::copy_object(src, dst, 2500, abort), kestrune_io::exception_io_data_truncation);
    EXPECT_EQ(0, src.reads); // refused before reading
    filesystem_util::copy_object(src, dst, 2000, abort);
    EXPECT_EQ(1, dst.resizes);
    EXPECT_EQ(2005u, dst.bytes.size());
    EXPECT_TRUE(std::equal(src.bytes.begin() + 1000, src.bytes.end(), dst.bytes.begin() + 5));
}

} // namespace
