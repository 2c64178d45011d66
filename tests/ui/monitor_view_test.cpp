// The Monitor view: thirteen rows found by their item text, every value
// formatted by the view, and its popup menu whose commands go to the main
// window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "ui/list_view_monitor.h"
#include "ui_harness.h"
#include "view_support.h"

using view_test::MainStandIn;
using view_test::MenuPicker;
using view_test::rows;

namespace {

using Rows = std::vector<std::wstring>;

// The value of the row whose item text is `item`, wherever it stands.
std::wstring valueOf(HWND list, const std::wstring& item) {
    WTL::CListViewCtrl view(list);
    for (int i = 0; i < view.GetItemCount(); ++i)
        if (view.GetItemText(i, 0) == item) return view.GetItemText(i, 1);
    return L"(no row " + item + L")";
}

ServerSettings shoutcast2() {
    ServerSettings s;
    s.type = SERVER_SHOUTCAST2;
    s.host = "radio.example";
    s.port = 8000;
    s.stream_id = 1;
    s.yp.name = "Velmora Nights";
    s.yp.desc = "Caf\xc3\xa9 jazz";
    s.yp.genre = "Rock";
    s.yp.charset = "UTF-8";
    return s;
}

EncoderSettings encoder(int format, int rate, int channels) {
    EncoderSettings e;
    e.format = format;
    e.sampling_rate = rate;
    e.channel = channels;
    e.encoder_name = "oggenc";
    e.description = "q3, 48 kHz";
    return e;
}

int CALLBACK reverseOrder(LPARAM a, LPARAM b, LPARAM) { return static_cast<int>(b - a); }

}  // namespace

TEST(MonitorView, RowsFromCreationThroughFillAndEverySetter) {
    VELMORA_NEED_DISPLAY();
    MainStandIn main(480, 300);
    CListViewMonitor monitor;
    ASSERT_TRUE(monitor.Create(main.middle, RECT{0, 0, 470, 290}, nullptr, WS_CHILD | WS_VISIBLE, WS_EX_STATICEDGE));
    EXPECT_TRUE(monitor.GetStyle() & LVS_REPORT);
    EXPECT_TRUE(monitor.GetStyle() & LVS_SINGLESEL);
    EXPECT_EQ(monitor.GetExtendedListViewStyle() & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
              static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
    EXPECT_EQ(rows(monitor), (Rows{L"Status | Disconnected", L"Name | ", L"Description | ", L"Genre | ", L"Charset | ",
                                   L"Metadata | ", L"Server | ", L"Mount Point | ", L"Format | ", L"Encoder | ",
                                   L"Transfer Rate | 0 [kbps] (0 [KB/s])", L"Bytes Sent | 0.0 [MB]",
                                   L"Elapsed Time | 0:00:00"}));

    monitor.fill(encoder(FORMAT_OGG_VORBIS, 48000, 1), shoutcast2());
    monitor.setStatus(L"Connected");
    monitor.setMetadata(L"Sigr\u00fan \u00d6sp - Lj\u00f3s");
    monitor.setTransferRate(16000);
    monitor.setBytesSent(1234567);
    monitor.setElapsedTime(3725);
    EXPECT_EQ(rows(monitor), (Rows{L"Status | Connected", L"Name | Velmora Nights", L"Description | Caf\u00e9 jazz",
                                   L"Genre | Rock", L"Charset | UTF-8", L"Metadata | Sigr\u00fan \u00d6sp - Lj\u00f3s",
                                   L"Server | radio.example : 8000 (SHOUTcast2)", L"Stream ID | 1",
                                   L"Format | Ogg Vorbis | 48000Hz | Mono", L"Encoder | oggenc (q3, 48 kHz)",
                                   L"Transfer Rate | 128 [kbps] (16 [KB/s])", L"Bytes Sent | 1.2 [MB]",
                                   L"Elapsed Time | 1:02:05"}));
    ui_harness::Image shot = ui_harness::captureClient(main);
    EXPECT_NE(ui_harness::saveScreenshot(shot, "monitor-view"), "");

    monitor.setTransferRate(999);
    monitor.setBytesSent(99999);
    monitor.setElapsedTime(360000);
    EXPECT_EQ(valueOf(monitor, L"Transfer Rate"), L"7 [kbps] (0 [KB/s])");
    EXPECT_EQ(valueOf(monitor, L"Bytes Sent"), L"0.0 [MB]");
    EXPECT_EQ(valueOf(monitor, L"Elapsed Time"), L"100:00:00");

    // An Icecast2 stream without a genre: the row relabels, the genre stays.
    ServerSettings icecast = shoutcast2();
    icecast.type = SERVER_ICECAST2;
    icecast.mount_point = "/live";
    icecast.yp.genre = "";
    monitor.fill(encoder(FORMAT_MP3, 44100, 2), icecast);
    EXPECT_EQ(valueOf(monitor, L"Mount Point"), L"/live");
    EXPECT_EQ(valueOf(monitor, L"Genre"), L"Rock");
    EXPECT_EQ(valueOf(monitor, L"Server"), L"radio.example : 8000 (Icecast2)");
    EXPECT_EQ(valueOf(monitor, L"Format"), L"MP3 | 44100Hz | Stereo");

    ServerSettings shoutcast1 = icecast;
    shoutcast1.type = SERVER_SHOUTCAST1;
    monitor.fill(encoder(FORMAT_MP3, 44100, 2), shoutcast1);
    EXPECT_EQ(valueOf(monitor, L"Stream ID"), L"unused");
    EXPECT_EQ(valueOf(monitor, L"Server"), L"radio.example : 8000 (SHOUTcast1)");

    // Numbers no table knows (a settings file edited by hand).
    ServerSettings odd = icecast;
    odd.type = 7;
    monitor.fill(encoder(-1, 22050, 5), odd);
    EXPECT_EQ(valueOf(monitor, L"Server"), L"radio.example : 8000 (Unknown)");
    EXPECT_EQ(valueOf(monitor, L"Stream ID"), L"unused");
    EXPECT_EQ(valueOf(monitor, L"Format"), L"Unknown | 22050Hz | Mono");

    monitor.reset();
    EXPECT_EQ(valueOf(monitor, L"Status"), L"Disconnected");
    EXPECT_EQ(valueOf(monitor, L"Metadata"), L"");
    EXPECT_EQ(valueOf(monitor, L"Transfer Rate"), L"0 [kbps] (0 [KB/s])");
    EXPECT_EQ(valueOf(monitor, L"Bytes Sent"), L"0.0 [MB]");
    EXPECT_EQ(valueOf(monitor, L"Elapsed Time"), L"0:00:00");
    EXPECT_EQ(valueOf(monitor, L"Name"), L"Velmora Nights") << "reset leaves the settings rows";

    // Rows in another order are still found by their text.
    monitor.SendMessage(LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&reverseOrder));
    ASSERT_EQ(monitor.GetItemText(0, 0), L"Elapsed Time");
    monitor.setStatus(L"Reconnecting...");
    monitor.setElapsedTime(61);
    monitor.fill(encoder(FORMAT_OGG_OPUS, 48000, 2), shoutcast2());
    EXPECT_EQ(valueOf(monitor, L"Status"), L"Reconnecting...");
    EXPECT_EQ(valueOf(monitor, L"Elapsed Time"), L"0:01:01");
    EXPECT_EQ(valueOf(monitor, L"Stream ID"), L"1");
    EXPECT_EQ(valueOf(monitor, L"Format"), L"Ogg Opus | 48000Hz | Stereo");
    EXPECT_EQ(monitor.GetItemCount(), 13);
}

TEST(MonitorView, PopupMenuCommandsGoToTheMainWindow) {
    VELMORA_NEED_DISPLAY();
    MainStandIn main(480, 300);
    CListViewMonitor monitor;
    ASSERT_TRUE(monitor.Create(main.middle, RECT{10, 10, 470, 290}, nullptr, WS_CHILD | WS_VISIBLE));
    RECT client = {};
    monitor.GetClientRect(&client);

    // A right click below the last row, inside the view.
    {
        MenuPicker picker(1);
        monitor.SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(monitor.m_hWnd),
                            view_test::screenPoint(monitor, 20, client.bottom - 5));
        picker.join();
        ASSERT_TRUE(picker.opened);
        EXPECT_EQ(picker.items, (Rows{L"Copy Listen URL", L"Copy Stream URL"}));
    }
    // The menu key: at the view's top-left corner.
    {
        MenuPicker picker(0);
        monitor.SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(monitor.m_hWnd), MAKELPARAM(-1, -1));
        picker.join();
        ASSERT_TRUE(picker.opened);
        POINT origin = {0, 0};
        monitor.ClientToScreen(&origin);
        EXPECT_EQ(picker.at.x, origin.x);
        EXPECT_EQ(picker.at.y, origin.y);
    }
    ui_harness::pumpMessages(100);
    EXPECT_EQ(main.commands, (std::vector<WORD>{ID_COPY_STREAM_URL, ID_COPY_LISTEN_URL}));

    // Outside the view the message is not the view's: it goes on to the
    // parents, and no menu opens.
    MenuPicker picker(-1, 500);
    monitor.SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(monitor.m_hWnd), view_test::screenPoint(main, 2, 2));
    picker.join();
    EXPECT_FALSE(picker.opened);
    EXPECT_EQ(main.context_menus, 1);
}
