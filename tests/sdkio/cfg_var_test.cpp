// Writing and reading the player's configuration block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cfg_var.h"
#include "io_support.h"

using iotest::memory_file;

namespace {

constexpr GUID id_a = {0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
constexpr GUID id_b = {0xA1B2C3D4, 0xE5F6, 0x1122, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x00}};
constexpr GUID id_unknown = {0xDEADBEEF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

void append_record(std::vector<unsigned char>& block, const GUID& id, const std::string& data) {
    unsigned char raw[16];
    for (int i = 0; i < 4; ++i) raw[i] = static_cast<unsigned char>(id.Data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) raw[4 + i] = static_cast<unsigned char>(id.Data2 >> (8 * i));
    for (int i = 0; i < 2; ++i) raw[6 + i] = static_cast<unsigned char>(id.Data3 >> (8 * i));
    std::memcpy(raw + 8, id.Data4, 8);
    block.insert(block.end(), raw, raw + 16);
    const std::uint32_t n = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) block.push_back(static_cast<unsigned char>(n >> (8 * i)));
    block.insert(block.end(), data.begin(), data.end());
}

// A variable holding a string; reads `take` bytes of its record (all when
// negative) and may call its record corrupt.
class string_var : public persisted_variable_loader, public persisted_variable_saver {
public:
    string_var(const GUID& id, std::string v) : persisted_variable_loader(id), persisted_variable_saver(id), value(v) {}
    ~string_var() = default;

    void load(byte_reader& reader, t_size size, kestrune_io::abort_callback& abort) override {
        ++loads;
        // A whole read asks for more than the record holds.
        const t_size want = take < 0 ? size + 10 : static_cast<t_size>(take);
        std::string got(want, '\0');
        const t_size n = reader.read(&got[0], want, abort);
        got.resize(n);
        value = got;
        if (corrupt) throw kestrune_io::exception_io_data();
    }
    void save(byte_writer& writer, kestrune_io::abort_callback& abort) override {
        writer.write(value.data(), static_cast<t_size>(value.size()), abort);
    }

    std::string value;
    int take = -1;
    bool corrupt = false;
    int loads = 0;
};

TEST(ConfigVars, NothingRegisteredWritesNothingAndEmptyOrUnknownBlocksAreSkipped) {
    ASSERT_EQ(nullptr, persisted_savers());
    kestrune_io::abort_callback_impl abort;
    memory_file out;
    config_write(out, abort);
    EXPECT_TRUE(out.bytes.empty());
    config_read(out, abort);
    EXPECT_EQ(1, out.reads);

    std::vector<unsigned char> block;
    append_record(block, id_unknown, "some data");
    append_record(block, id_a, "");
    append_record(block, id_b, std::string(3000, 'z'));
    memory_file file(block);
    config_read(file, abort);
    EXPECT_EQ(block.size(), file.position);
}

TEST(ConfigVars, WriteThenReadRoundTrip) {
    kestrune_io::abort_callback_impl abort;
    memory_file out;
    {
        string_var a(id_a, "alpha");
        string_var b(id_b, "");
        config_write(out, abort);
    }
    std::vector<unsigned char> expected;
    append_record(expected, id_b, ""); // registered last, so listed first
    append_record(expected, id_a, "alpha");
    EXPECT_EQ(expected, out.bytes);

    string_var a(id_a, "");
    string_var b(id_b, "was here");
    out.position = 0;
    config_read(out, abort);
    EXPECT_EQ("alpha", a.value);
    EXPECT_EQ("", b.value);
    EXPECT_EQ(1, a.loads);

    // An abort stops the writer before it writes.
    memory_file aborted;
    abort.abort();
    EXPECT_THROW(config_write(aborted, abort), kestrune_io::exception_aborted);
    EXPECT_TRUE(aborted.bytes.empty());
}

TEST(ConfigVars, PartialAndCorruptRecordsLoseOnlyThemselves) {
    kestrune_io::abort_callback_impl abort;
    std::vector<unsigned char> block;
    append_record(block, id_a, "0123456789");
    append_record(block, id_unknown, "xx");
    append_record(block, id_b, "bravo");
    string_var a(id_a, "");
    string_var b(id_b, "");
    a.take = 4; // leaves six bytes of its record unread
    memory_file file(block);
    config_read(file, abort);
    EXPECT_EQ("0123", a.value);
    EXPECT_EQ("bravo", b.value); // the leftover was skipped, not read as a record

    a.take = -1;
    a.corrupt = true;
    file.position = 0;
    EXPECT_NO_THROW(config_read(file, abort));
    EXPECT_EQ("bravo", b.value);
    EXPECT_EQ(2, b.loads);
}

TEST(ConfigVars, TruncatedBlocks) {
    kestrune_io::abort_callback_impl abort;
    std::vector<unsigned char> whole;
    append_record(whole, id_unknown, "abcdef");
    // Ending inside the next identifier ends the read quietly.
    for (std::size_t extra = 1; extra < 16; ++extra) {
        std::vector<unsigned char> block = whole;
        block.insert(block.end(), extra, 0x55);
        memory_file file(block);
        EXPECT_NO_THROW(config_read(file, abort)) << extra;
    }
    // Ending inside the size or the data is an error.
    for (std::size_t cut : {17u, 19u, 21u, 25u}) {
        memory_file file(std::vector<unsigned char>(whole.begin(), whole.begin() + cut));
        EXPECT_THROW(config_read(file, abort), kestrune_io::exception_io_data_truncation) << cut;
    }
    string_var a(id_a, "");
    std::vector<unsigned char> mine;
    append_record(mine, id_a, "abcdef");
    mine.resize(mine.size() - 2);
    memory_file file(mine);
    EXPECT_THROW(config_read(file, abort), kestrune_io::exception_io_data_truncation);
    EXPECT_EQ("abcd", a.value);
}

} // namespace
