// The Clients view: listener texts of every server kind shown last
// listener first, with times in hours:minutes:seconds, and rows that stay
// when a text cannot be read.
#include <gtest/gtest.h>

#include <Poco/Exception.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "listener_documents.h"
#include "ui/list_view_clients.h"
#include "ui_harness.h"
#include "view_support.h"

using view_test::MainStandIn;
using view_test::rows;

namespace {

using Rows = std::vector<std::wstring>;

std::string icecastList(const std::vector<ListenerEntry>& listeners) {
    std::string xml = "<?xml version=\"1.0\"?>\n<icestats><source mount=\"/stream\"><Listeners>" +
                      std::to_string(listeners.size()) + "</Listeners>";
    for (const ListenerEntry& l : listeners)
        xml += "<listener><IP>" + l.host + "</IP><UserAgent>" + l.user_agent + "</UserAgent><Connected>" +
               l.connect_time + "</Connected><ID>3</ID></listener>";
    return xml + "</source></icestats>\n";
}

std::wstring header(HWND list, int column) {
    HWND h = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    wchar_t text[64] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_WIDTH;
    item.pszText = text;
    item.cchTextMax = 64;
    ::SendMessageW(h, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    return std::wstring(text) + L" " + std::to_wstring(item.cxy);
}

}  // namespace

TEST(ClientsView, ShowsTheLastListenerFirstAndKeepsItsRowsWhenATextFails) {
    VELMORA_NEED_DISPLAY();
    MainStandIn main(480, 200);
    CListViewClients clients;
    ASSERT_TRUE(clients.Create(main.middle, RECT{0, 0, 470, 190}, nullptr, WS_CHILD | WS_VISIBLE, WS_EX_STATICEDGE));
    EXPECT_EQ((Rows{header(clients, 0), header(clients, 1), header(clients, 2)}),
              (Rows{L"IP 100", L"User Agent 250", L"Time 100"}));

    // The window's worker refreshes; the window's thread serves the view.
    const std::string icecast = icecastList({{"127.0.0.1", "velmora-test-player/2.0", "5"},
                                             {"192.0.2.44", "Unknown", "3725"},
                                             {"listener.example", "Caf\xc3\xa9 Radio/1.0", "360000"}});
    std::atomic<bool> done{false};
    std::thread worker([&] {
        clients.refresh(icecast);
        done = true;
    });
    while (!done) ui_harness::pumpMessages(10);
    worker.join();
    const Rows shown = {L"listener.example | Caf\u00e9 Radio/1.0 | 100:00:00",
                        L"192.0.2.44 | Unknown | 01:02:05", L"127.0.0.1 | velmora-test-player/2.0 | 00:00:05"};
    EXPECT_EQ(rows(clients), shown);
    EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureClient(main), "clients-view"), "");

    // A text that cannot be read leaves the rows of the last good one.
    EXPECT_THROW(clients.refresh(icecast.substr(0, 90)), Poco::Exception);
    EXPECT_EQ(rows(clients), shown);

    // A SHOUTcast server's statistics replace every row; a time that says
    // its own unit stays as it came.
    clients.refresh(shoutcast1Statistics(sampleListeners(), "A & B"));
    Rows expected;
    for (const ListenerEntry& l : sampleListeners()) {
        std::wstring time = l.connect_time == "5" ? L"00:00:05" : l.connect_time == "3725" ? L"01:02:05" : L"1h 2m";
        expected.insert(expected.begin(), std::wstring(l.host.begin(), l.host.end()) + L" | " +
                                              std::wstring(l.user_agent.begin(), l.user_agent.end()) + L" | " + time);
    }
    EXPECT_EQ(rows(clients), expected);

    // A list without listeners empties the view.
    clients.refresh(shoutcast2Listeners({}));
    EXPECT_TRUE(rows(clients).empty());
}
