// File-system lookup, removal with retry and the directory walks, over
// in-memory file systems.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "filesystem.h"
#include "io_support.h"
#include "kestrune.h"
#include "player.h"

using iotest::memory_file;

namespace {

// A file system over a map of paths below a prefix ("a:\\..."), with
// removals that can be made to fail.
class memory_fs : public filesystem {
public:
    explicit memory_fs(std::string prefix) : prefix(std::move(prefix)) {}

    struct entry {
        bool directory = false;
        std::shared_ptr<memory_file> file;
        std::uint64_t timestamp = 0;
    };

    bool is_our_path(const char* path) override { return std::string(path).rfind(prefix, 0) == 0; }
    file_ptr open(const char* path, open_mode mode, kestrune_io::abort_callback&) override {
        auto it = entries.find(path);
        if (mode == open_mode_write_new) {
            entry e;
            e.file = std::make_shared<memory_file>();
            entries[path] = e;
            return e.file;
        }
        if (it == entries.end() || it->second.directory) throw kestrune_io::exception_io_not_found();
        it->second.file->position = 0;
        return it->second.file;
    }
    void remove(const char* path, kestrune_io::abort_callback&) override {
        ++removals;
        if (failures_left > 0) {
            --failures_left;
            failure();
        }
        if (entries.erase(path) == 0) throw kestrune_io::exception_io_not_found();
        removed.push_back(path);
    }
    void create_directory(const char* path, kestrune_io::abort_callback&) override {
        if (entries.count(path)) throw kestrune_io::exception_io_already_exists();
        entries[path].directory = true;
    }
    void list_directory(const char* path, directory_callback& callback, kestrune_io::abort_callback& abort) override {
        const std::string base = std::string(path) + "\\";
        std::vector<std::pair<std::string, entry>> children;
        for (const auto& e : entries) {
            const std::string& p = e.first;
            if (p.rfind(base, 0) == 0 && p.find('\\', base.size()) == std::string::npos) children.push_back(e);
        }
        for (const auto& c : children) {
            const std::uint64_t size = c.second.file ? c.second.file->bytes.size() : 0;
            if (!callback.on_entry(*this, abort, c.first.c_str(), c.second.directory, size, c.second.timestamp)) break;
        }
    }

    void add_file(const std::string& path, const std::string& text, std::uint64_t timestamp = 0) {
        entry e;
        e.file = std::make_shared<memory_file>(std::vector<unsigned char>(text.begin(), text.end()));
        e.timestamp = timestamp;
        entries[path] = e;
    }
    std::string text_of(const std::string& path) const {
        const auto& b = entries.at(path).file->bytes;
        return std::string(b.begin(), b.end());
    }

    std::string prefix;
    std::map<std::string, entry> entries;
    std::vector<std::string> removed;
    int removals = 0;
    int failures_left = 0;
    std::function<void()> failure = [] { throw kestrune_io::exception_io_sharing_violation(); };
};

// Two in-memory file systems offered by a stand-in player, in that order.
class FileSystems : public ::testing::Test {
protected:
    void SetUp() override {
        a = make_service<memory_fs>("a:\\");
        b = make_service<memory_fs>("b:\\");
        host.registry().add(filesystem::class_guid, a);
        host.registry().add(filesystem::class_guid, b);
        kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(true);
    }
    void TearDown() override {
        kestrune_get_interface(&host.api(), nullptr)->mark_services_ready(false);
    }

    kestrune_host::player host;
    service_ptr_t<memory_fs> a, b;
    kestrune_io::abort_callback_impl abort;
};

TEST_F(FileSystems, LookupByPath) {
    EXPECT_EQ(b.get_ptr(), filesystem::g_get_interface("b:\\x").get_ptr());
    try {
        filesystem::g_get_interface("c:\\x");
        FAIL() << "no exception";
    } catch (const kestrune_io::exception_io_no_handler_for_path& e) {
        EXPECT_STREQ("Invalid path", e.what());
    }
    host.registry().clear(filesystem::class_guid);
    EXPECT_THROW(filesystem::g_get_interface("a:\\x"), kestrune_io::exception_io_no_handler_for_path);
}

TEST_F(FileSystems, RemoveWithRetryGivesUpAfterASecond) {
    a->add_file("a:\\f", "data");
    a->failures_left = 1000;
    a->failure = [] { throw kestrune_io::exception_io_write_protected(); }; // a kind of denial
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(filesystem::g_remove_with_retry("a:\\f", abort), kestrune_io::exception_io_write_protected);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1000));
    // About every 50 ms: some twenty tries, whatever the scheduler adds.
    EXPECT_GE(a->removals, 5);
    EXPECT_LE(a->removals, 23);
}

TEST_F(FileSystems, RemoveWithRetryWaitsOutASharingViolationAndNothingElse) {
    a->add_file("a:\\f", "data");
    a->failures_left = 3;
    filesystem::g_remove_with_retry("a:\\f", abort);
    EXPECT_EQ(4, a->removals);
    EXPECT_EQ(0u, a->entries.count("a:\\f"));

    a->failures_left = 5;
    a->failure = [] { throw kestrune_io::exception_io_device_full(); };
    EXPECT_THROW(filesystem::g_remove_with_retry("a:\\f", abort), kestrune_io::exception_io_device_full);
    EXPECT_EQ(5, a->removals);
    a->failure = [] { throw kestrune_io::exception_io_sharing_violation(); };
    abort.abort();
    EXPECT_THROW(filesystem::g_remove_with_retry("a:\\f", abort), kestrune_io::exception_aborted);
    EXPECT_EQ(6, a->removals);
}

TEST_F(FileSystems, RemoveTreeGoesContentsFirstAndRemoveOldFilesOnlyFiles) {
    a->create_directory("a:\\d", abort);
    a->create_directory("a:\\d\\sub", abort);
    a->add_file("a:\\d\\one", "1");
    a->add_file("a:\\d\\sub\\two", "2");
    a->add_file("a:\\keep", "k");
    directory_callback_remove_tree walk;
    EXPECT_TRUE(walk.on_entry(*a, abort, "a:\\d", true, 0, 0));
    EXPECT_EQ((std::vector<std::string>{"a:\\d\\one", "a:\\d\\sub\\two", "a:\\d\\sub", "a:\\d"}), a->removed);
    EXPECT_EQ(1u, a->entries.size());
    // An entry that is already gone is passed over.
    EXPECT_TRUE(walk.on_entry(*a, abort, "a:\\gone", false, 0, 0));

    // Old files go, newer ones and directories stay.
    a->removed.clear();
    a->create_directory("a:\\d", abort);
    a->add_file("a:\\d\\old", "o", 100);
    a->add_file("a:\\d\\new", "n", 300);
    a->create_directory("a:\\d\\olddir", abort);
    directory_callback_remove_old_files old_files(200);
    a->list_directory("a:\\d", old_files, abort);
    EXPECT_EQ((std::vector<std::string>{"a:\\d\\old"}), a->removed);
}

TEST_F(FileSystems, CopyTreeAcrossFileSystems) {
    a->create_directory("a:\\src", abort);
    a->create_directory("a:\\src\\inner", abort);
    a->add_file("a:\\src\\x.txt", "hello");
    a->add_file("a:\\src\\inner\\y.bin", std::string(5000, 'y'));
    b->create_directory("b:\\dst", abort);
    directory_callback_copy_tree walk("b:\\dst\\");
    walk.on_entry(*a, abort, "a:\\src", true, 0, 0);
    EXPECT_EQ("hello", b->text_of("b:\\dst\\src\\x.txt"));
    EXPECT_EQ(std::string(5000, 'y'), b->text_of("b:\\dst\\src\\inner\\y.bin"));
    EXPECT_TRUE(b->entries.at("b:\\dst\\src\\inner").directory);
    // Copying again meets the existing directories and goes on.
    walk.on_entry(*a, abort, "a:\\src", true, 0, 0);
    EXPECT_EQ("hello", b->text_of("b:\\dst\\src\\x.txt"));
    EXPECT_EQ(5u, b->entries.size());
}

} // namespace
