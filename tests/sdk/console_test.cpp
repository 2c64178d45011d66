// Console output through every console of the player.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "console.h"
#include "sdk_fixture.h"
#include "titleformat.h"

using kestrune_host::host_console;

namespace {
using ConsoleOutput = with_player;
}

TEST_F(ConsoleOutput, NothingIsPrintedBeforeTheServicesAreReady) {
    client->mark_services_ready(false);
    console_print("velmora: early");
    console_printf("velmora: early %d", 1);
    EXPECT_TRUE(host.console_log().lines().empty());
    client->mark_services_ready(true);
    console_print("velmora: now");
    EXPECT_EQ(host.console_log().lines(), std::vector<std::string>{"velmora: now"});
}

TEST_F(ConsoleOutput, EveryConsoleReceivesEachMessage) {
    auto second = make_service<host_console>();
    host.registry().add(console::class_guid, second);
    console_printf("velmora: Streaming start: %s", "stream 1");
    const std::vector<std::string> expected{"velmora: Streaming start: stream 1"};
    EXPECT_EQ(host.console_log().lines(), expected);
    EXPECT_EQ(second->lines(), expected);
}

TEST_F(ConsoleOutput, AnInstanceThatIsNoConsoleIsSkipped) {
    // Something that is not a console, registered under the console class
    // between two real ones.
    host.registry().add(console::class_guid, make_service<kestrune_host::host_titleformat_compiler>());
    auto third = make_service<host_console>();
    host.registry().add(console::class_guid, third);
    console_print("velmora: reaches both");
    EXPECT_EQ(host.console_log().lines().size(), 1u);
    EXPECT_EQ(third->lines(), std::vector<std::string>{"velmora: reaches both"});
}

TEST_F(ConsoleOutput, TextIsPassedAsItStands) {
    console_printf("%s", "");
    console_print(nullptr);
    std::string big(10000, 'x');
    console_printf("velmora: %s|%d|%.2f", big.c_str(), -5, 2.5);
    console_print("line\nwith break \xC3\xA9");
    const auto lines = host.console_log().lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "velmora: " + big + "|-5|2.50");
    EXPECT_EQ(lines[3], "line\nwith break \xC3\xA9");
}

TEST_F(ConsoleOutput, SeveralThreadsPrintWholeMessages) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) console_printf("velmora: thread %d line %d", t, i);
        });
    for (auto& th : threads) th.join();
    const auto lines = host.console_log().lines();
    ASSERT_EQ(lines.size(), 800u);
    for (const auto& l : lines) EXPECT_EQ(l.rfind("velmora: thread ", 0), 0u) << l;
}
