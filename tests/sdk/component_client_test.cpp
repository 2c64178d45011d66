// The component's entry and client object, and what it keeps from the
// player.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kestrune_io.h"
#include "sdk_fixture.h"

namespace {

using ComponentClient = with_player;

// One record: 16 identifier bytes, a 32-bit little-endian size, the data.
std::vector<unsigned char> record(unsigned char id, std::uint32_t size, std::size_t data_present) {
    std::vector<unsigned char> r(16, id);
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<unsigned char>(size >> (8 * i)));
    r.insert(r.end(), data_present, 0xAB);
    return r;
}

} // namespace

TEST_F(ComponentClient, AnswersItsInterfaceVersionAndNoDebugBuild) {
    EXPECT_EQ(client->interface_version(), 78u);
    EXPECT_FALSE(client->is_debug());
    // The entry may be called again; the last call wins.
    EXPECT_EQ(kestrune_get_interface(&host.api(), nullptr), client);
    EXPECT_EQ(core_api(), &host.api());
}

TEST_F(ComponentClient, KeepsOnlyTheLastLibraryPath) {
    client->take_library_path("/a/first/velmora.dll", "velmora.dll");
    client->take_library_path("C:\\second\\VELMORA.DLL", "VELMORA.DLL");
    EXPECT_STREQ(library_path(), "C:\\second\\VELMORA.DLL");
    EXPECT_STREQ(library_name(), "VELMORA.DLL");
    client->take_library_path("", nullptr);
    EXPECT_STREQ(library_path(), "");
    EXPECT_STREQ(library_name(), "");
    std::string longer(5000, 'p');
    client->take_library_path(longer.c_str(), "x");
    EXPECT_EQ(library_path(), longer);
    // Handing back what we hold, or a part of it, keeps the text.
    client->take_library_path(library_path(), library_name());
    EXPECT_EQ(library_path(), longer);
    client->take_library_path(library_path() + 4990, library_name());
    EXPECT_STREQ(library_path(), "pppppppppp");
    EXPECT_STREQ(library_name(), "x");
}

TEST_F(ComponentClient, StoresNothingAndSkipsEveryRecordItIsGiven) {
    kestrune_io::abort_callback_impl abort;
    memory_writer out;
    client->store_config(&out, abort);
    EXPECT_TRUE(out.bytes.empty());

    auto block = record(1, 3, 3);
    auto second = record(2, 0, 0);
    block.insert(block.end(), second.begin(), second.end());
    block.insert(block.end(), 7, 0x11); // part of an identifier: the end
    memory_reader in(block);
    client->load_config(&in, abort);
    EXPECT_EQ(in.position, block.size());
    EXPECT_TRUE(host.console_log().lines().empty());
    // A truncated block reaches the player as its error.
    memory_reader cut(record(1, 10, 4));
    EXPECT_THROW(client->load_config(&cut, abort), kestrune_io::exception_io);
}

TEST_F(ComponentClient, BeforeReadinessThePlayerIsNotAsked) {
    client->mark_services_ready(false);
    // The player would answer "no" for every thread; it is not asked yet.
    host.api().set_main_thread(std::thread::id());
    EXPECT_TRUE(core_is_main_thread());
    bool on_worker = true;
    std::thread([&] { on_worker = core_is_main_thread(); }).join();
    EXPECT_FALSE(on_worker);

    client->mark_services_ready(true);
    EXPECT_FALSE(core_is_main_thread());
    std::thread([&] {
        host.api().set_main_thread(std::this_thread::get_id());
        on_worker = core_is_main_thread();
    }).join();
    EXPECT_TRUE(on_worker);

    // Whether the window may open is asked only once ready, too.
    host.api().set_may_open_window(false);
    EXPECT_FALSE(core_may_open_window());
    client->mark_services_ready(false);
    EXPECT_TRUE(core_may_open_window());
}
