// Console output through every console of the player.
#include <gtest/gtest.h>

#include <stdexcept>
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

TEST_F(ConsoleOutput, EveryConsoleReceivesEachMessagePastOnesThatFailOrAreNone) {
    class failing_console : public console {
    public:
        void print(const char*, zof::t_size) override { throw std::runtime_error("console is full"); }
    };
    // Between the player's console and ours: something that is not a
    // console, registered under the console class, and one that throws.
    host.registry().add(console::class_guid, make_service<kestrune_host::host_titleformat_compiler>());
    host.registry().add(console::class_guid, make_service<failing_console>());
    auto last = make_service<host_console>();
    host.registry().add(console::class_guid, last);
    EXPECT_NO_THROW(console_printf("velmora: Streaming start: %s", "stream 1"));
    const std::vector<std::string> expected{"velmora: Streaming start: stream 1"};
    EXPECT_EQ(host.console_log().lines(), expected);
    EXPECT_EQ(last->lines(), expected);
}

TEST_F(ConsoleOutput, TextIsPassedWholeAsOneLineFromSeveralThreads) {
    console_printf("%s", "");
    console_print(nullptr);
    std::string big(10000, 'x');
    console_printf("velmora: %s|%d|%.2f", big.c_str(), -5, 2.5);
    // Line breaks inside become blanks, those at the end go.
    console_print("line\nwith break \xC3\xA9");
    console_printf("velmora: Error: %s: %s", "Radio\r\nOne", "401 Authentication Required\r\n\r\nYou need\rto\n\r\n");
    console_print("\r\n");
    EXPECT_EQ(host.console_log().lines(),
              (std::vector<std::string>{"", "", "velmora: " + big + "|-5|2.50", "line with break \xC3\xA9",
                                        "velmora: Error: Radio One: 401 Authentication Required  You need to", ""}));

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) console_printf("velmora: thread %d line %d", t, i);
        });
    for (auto& th : threads) th.join();
    const auto lines = host.console_log().lines();
    ASSERT_EQ(lines.size(), 806u);
    for (std::size_t i = 6; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("velmora: thread ", 0), 0u) << lines[i];
}
