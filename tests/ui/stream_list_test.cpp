// The stream list with real streams: rows in step with the window's
// streams through add, remove, moves and renames; selection events; and
// rows drawn bold while a stream runs, bold gray while it reconnects.
#include <gtest/gtest.h>

#include <Poco/File.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/config.h"
#include "engine/psc_callback.h"
#include "engine/stream.h"
#include "fake_server.h"
#include "pipe_fixture.h"
#include "res/resource.h"
#include "sdk_fixture.h"
#include "ui/list_box_streams.h"
#include "ui_harness.h"
#include "view_support.h"

using view_test::MainStandIn;

namespace {

using Rows = std::vector<std::wstring>;

struct Selections : ListBoxEventListener {
    std::vector<int> kinds;
    void onListBoxEvent(CListBoxStreams*, int kind) override { kinds.push_back(kind); }
};

// Reacts to a stream's failure as the window does with auto-reconnect set:
// the failing worker reconnects (and waits there until the stream stops).
// The `lingering` stream instead stops itself on its worker and keeps that
// worker a moment longer, as the window's error handling does.
struct Reconnector : StreamEventListener {
    std::atomic<int> reconnecting{0};
    std::atomic<Stream*> lingering{nullptr};
    std::atomic<bool> lingered{false};
    void onStreamEvent(Stream* stream, int code) override {
        if (code == EVENT_ERROR && stream == lingering.load()) {
            stream->stop();
            lingered = true;
            ::Sleep(700);
            return;
        }
        if (code == EVENT_ERROR && stream->status().running) stream->reconnect();
        if (code == EVENT_RECONNECTING) ++reconnecting;
    }
};

// A profile folder of its own, where addStream finds the saved presets.
class StreamList : public with_player {
protected:
    void SetUp() override {
        folder = ::testing::TempDir() + "velmora-stream-list";
        if (Poco::File(folder).exists()) Poco::File(folder).remove(true);
        host.set_profile_folder(folder);
        with_player::SetUp();
    }
    void TearDown() override {
        deleteConfig();
        with_player::TearDown();
        Poco::File(folder).remove(true);
    }

    // The main window's list view 40010, as its dialog makes it.
    static HWND listControl(MainStandIn& main) {
        HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"",
                                      WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL |
                                          LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS,
                                      10, 10, 140, 115, main, reinterpret_cast<HMENU>(IDC_STREAM_LIST), nullptr,
                                      nullptr);
        ::SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        return list;
    }

    std::unique_ptr<Stream> stream(const std::string& name, int port = 1) {
        EncoderSettings e;
        e.encoder_file = pipetest::helper("passthrough");
        e.format = FORMAT_MP3;
        e.sampling_rate = 44100;
        e.channel = 2;
        ServerSettings s;
        s.host = "127.0.0.1";
        s.port = port;
        s.password = "hackme";
        s.mount_point = "/" + std::to_string(port);
        s.yp.name = name;
        s.yp.charset = "UTF-8";
        return std::make_unique<Stream>(&events, e, s);
    }

    std::string folder;
    Reconnector events;
};

Rows texts(HWND list) { return view_test::rows(list); }

void click(HWND list, int x, int y, UINT down, UINT up) {
    ::SendMessageW(list, down, MK_LBUTTON, MAKELPARAM(x, y));
    ::SendMessageW(list, up, 0, MAKELPARAM(x, y));
}

RECT rowRect(HWND list, int row) {
    RECT r = {};
    r.left = LVIR_BOUNDS;
    ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    return r;
}

// Pixels of a row's text: dark (black text) and gray (0x808080).
struct Ink {
    int dark = 0;
    int gray = 0;
};
Ink inkOf(const ui_harness::Image& image, const RECT& row) {
    Ink ink;
    for (int y = row.top; y < row.bottom; ++y)
        for (int x = row.left; x < row.right && x < image.width; ++x) {
            COLORREF c = image.at(x, y);
            if (c == RGB(128, 128, 128)) ++ink.gray;
            else if (GetRValue(c) < 64 && GetGValue(c) < 64 && GetBValue(c) < 64) ++ink.dark;
        }
    return ink;
}

// Whether the screen shows `text` (drawn by ui_harness::drawText in `ink`)
// within `area`: a place where the pixels of that colour are exactly those
// of the text, over the box its ink covers, and the text's paper (its most
// common colour) is there too wherever the text has it.
bool shows(const ui_harness::Image& screen, const RECT& area, const ui_harness::Image& text, COLORREF ink) {
    std::map<COLORREF, int> colours;
    for (int y = 0; y < text.height; ++y)
        for (int x = 0; x < text.width; ++x) ++colours[text.at(x, y)];
    if (colours.empty()) return false;
    const COLORREF paper = std::max_element(colours.begin(), colours.end(), [](const auto& a, const auto& b) {
                               return a.second < b.second;
                           })->first;
    RECT box = {text.width, text.height, 0, 0};
    for (int y = 0; y < text.height; ++y)
        for (int x = 0; x < text.width; ++x)
            if (text.at(x, y) == ink) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
    if (box.right <= box.left) return false;
    auto matches = [&](int left, int top) {
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x) {
                const COLORREF shown = screen.at(left + x - box.left, top + y - box.top);
                const COLORREF drawn = text.at(x, y);
                if ((shown == ink) != (drawn == ink) || (drawn == paper && shown != paper)) return false;
            }
        return true;
    };
    const int right = std::min<int>(area.right, screen.width), bottom = std::min<int>(area.bottom, screen.height);
    for (int top = area.top; top + (box.bottom - box.top) <= bottom; ++top)
        for (int left = area.left; left + (box.right - box.left) <= right; ++left)
            if (matches(left, top)) return true;
    return false;
}

// The main window's dialog as the resource makes it, reflecting its
// controls' notifications back to them as the window does.
INT_PTR CALLBACK reflectingDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message != WM_NOTIFY) return FALSE;
    const HWND from = reinterpret_cast<const NMHDR*>(lparam)->hwndFrom;
    ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, ::SendMessageW(from, ATL::OCM_NOTIFY, wparam, lparam));
    return TRUE;
}

// That dialog, shown.
using Dialog = std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&::DestroyWindow)>;
Dialog mainDialog() {
    Dialog dialog(::CreateDialogParamW(ATL::ModuleInstance(), MAKEINTRESOURCEW(IDD_MAIN), nullptr, reflectingDialog, 0),
                  &::DestroyWindow);
    if (dialog) ::ShowWindow(dialog.get(), SW_SHOW);
    return dialog;
}

}  // namespace

TEST_F(StreamList, RowsFollowTheStreamsThroughAddRemoveMovesAndRenames) {
    VELMORA_NEED_DISPLAY();
    MainStandIn main(200, 160);
    Selections selections;
    CListBoxStreams list(&selections);
    ASSERT_TRUE(list.SubclassWindow(listControl(main)));
    CListBoxStreams::Streams streams;
    for (const char* name : {"First", "Second", "Third"}) streams.push_back(stream(name));

    list.init(&streams);
    EXPECT_EQ(texts(list), (Rows{L"First", L"Second", L"Third"}));
    EXPECT_EQ(list.GetSelectedIndex(), 0);
    ASSERT_FALSE(selections.kinds.empty());
    EXPECT_EQ(selections.kinds, std::vector<int>(selections.kinds.size(), ListBoxEventListener::EVENT_SELECTED));

    // A new stream: the defaults and the first saved preset; the selection
    // stays.
    EncoderSettings preset;
    getConfig()->loadEncoderSetting(0, preset);
    list.addStream(&events);
    ASSERT_EQ(streams.size(), 4u);
    EXPECT_EQ(texts(list), (Rows{L"First", L"Second", L"Third", L"Stream Name"}));
    EXPECT_EQ(streams[3]->encoderSettings().encoder_name, preset.encoder_name);
    EXPECT_EQ(streams[3]->encoderSettings().encoder_params, preset.encoder_params);
    EXPECT_EQ(list.GetSelectedIndex(), 0);

    // Moves: nothing at the ends; the moved stream stays selected.
    Stream* added = streams[3].get();
    list.moveUp();
    list.SelectItem(3);
    list.moveDown();
    EXPECT_EQ(texts(list), (Rows{L"First", L"Second", L"Third", L"Stream Name"}));
    list.moveUp();
    EXPECT_EQ(texts(list), (Rows{L"First", L"Second", L"Stream Name", L"Third"}));
    EXPECT_EQ(streams[2].get(), added);
    EXPECT_EQ(list.GetSelectedIndex(), 2);
    list.updateStreamName(added, "Caf\xc3\xa9");
    Stream stranger(&events, EncoderSettings(), ServerSettings());
    list.updateStreamName(&stranger, "Stranger");
    EXPECT_EQ(texts(list), (Rows{L"First", L"Second", L"Caf\u00e9", L"Third"}));
    EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureClient(list), "stream-list"), "");

    // Removing the last row selects the new last, the first the new first.
    list.SelectItem(3);
    EXPECT_TRUE(list.deleteSelected());
    EXPECT_EQ(texts(list), (Rows{L"First", L"Second", L"Caf\u00e9"}));
    EXPECT_EQ(list.GetSelectedIndex(), 2);
    list.SelectItem(0);
    EXPECT_TRUE(list.deleteSelected());
    EXPECT_EQ(texts(list), (Rows{L"Second", L"Caf\u00e9"}));
    EXPECT_EQ(list.GetSelectedIndex(), 0);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[1].get(), added);

    // A click on the empty part clears the highlight without an event; the
    // list's commands then do nothing.
    selections.kinds.clear();
    click(list, 20, 100, WM_LBUTTONDOWN, WM_LBUTTONUP);
    EXPECT_EQ(list.GetSelectedIndex(), -1);
    EXPECT_TRUE(selections.kinds.empty());
    EXPECT_TRUE(list.deleteSelected());
    list.moveDown();
    EXPECT_EQ(texts(list), (Rows{L"Second", L"Caf\u00e9"}));

    // A click and a double click on a row.
    RECT second = rowRect(list, 1);
    click(list, 10, (second.top + second.bottom) / 2, WM_LBUTTONDOWN, WM_LBUTTONUP);
    EXPECT_EQ(selections.kinds, std::vector<int>{ListBoxEventListener::EVENT_SELECTED});
    click(list, 10, (second.top + second.bottom) / 2, WM_LBUTTONDBLCLK, WM_LBUTTONUP);
    EXPECT_EQ(selections.kinds.back(), ListBoxEventListener::EVENT_DOUBLE_CLICK);

    // The last stream is never removed.
    EXPECT_TRUE(list.deleteSelected());
    EXPECT_EQ(texts(list), Rows{L"Second"});
    EXPECT_FALSE(list.deleteSelected());
    EXPECT_EQ(streams.size(), 1u);
}

TEST_F(StreamList, RunningRowsAreBoldAndReconnectingOnesBoldGray) {
    VELMORA_NEED_DISPLAY();
    // Servers that take the source; the second drops it after a little
    // audio, so its stream fails and reconnects.
    auto take = [](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.waitForClose();
    };
    auto drop = [](FakeConnection& c) {
        c.readHead();
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.readBytes(8192);
    };
    LoopbackService steady(take), dropping(drop);
    std::unique_ptr<psc_callback> capture;
    psc_callback::create(capture);

    MainStandIn main(200, 160);
    Selections selections;
    CListBoxStreams list(&selections);
    ASSERT_TRUE(list.SubclassWindow(listControl(main)));
    CListBoxStreams::Streams streams;
    streams.push_back(stream("Velmora"));
    streams.push_back(stream("Velmora", steady.port()));
    streams.push_back(stream("Velmora", dropping.port()));
    streams[2]->setReconnectWait(std::chrono::seconds(60));
    list.init(&streams);

    for (int i : {1, 2}) {
        streams[static_cast<std::size_t>(i)]->start(capture.get());
        ASSERT_TRUE(streams[static_cast<std::size_t>(i)]->status().running)
            << streams[static_cast<std::size_t>(i)]->status().error_text;
    }
    host.play({kestrune_host::signal_track("Artist", "Tone", 30)});
    for (int i = 0; i < 1000 && events.reconnecting == 0; ++i) ui_harness::pumpMessages(20);
    ASSERT_GT(events.reconnecting, 0) << "the dropped stream did not reconnect";
    ASSERT_TRUE(streams[2]->status().reconnecting);

    // No row selected, so that no highlight covers the text.
    list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    list.Invalidate();
    ui_harness::Image image = ui_harness::captureClient(list);
    EXPECT_NE(ui_harness::saveScreenshot(image, "stream-list-running"), "");
    const Ink stopped = inkOf(image, rowRect(list, 0));
    const Ink running = inkOf(image, rowRect(list, 1));
    const Ink reconnecting = inkOf(image, rowRect(list, 2));
    EXPECT_GT(stopped.dark, 0);
    EXPECT_EQ(stopped.gray, 0);
    EXPECT_GT(running.dark, stopped.dark) << "the running row is bold";
    EXPECT_EQ(running.gray, 0);
    EXPECT_GT(reconnecting.gray, stopped.dark) << "the reconnecting row is bold gray";
    EXPECT_EQ(reconnecting.dark, 0);

    // A running stream is not removed, but moves and stays bold gray.
    list.SelectItem(2);
    EXPECT_FALSE(list.deleteSelected());
    list.moveUp();
    list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    image = ui_harness::captureClient(list);
    EXPECT_GT(inkOf(image, rowRect(list, 1)).gray, stopped.dark);
    EXPECT_GT(inkOf(image, rowRect(list, 2)).dark, stopped.dark);

    host.stop();
    for (auto& s : streams) s->stop();
    EXPECT_FALSE(streams[1]->status().running);
    EXPECT_FALSE(streams[1]->status().reconnecting);

    // A stream that stopped itself on its worker is removed while that
    // worker still ends: waiting for it serves window messages, and the
    // rows they paint (or anything else they do) find every stream whole.
    std::size_t at = 0;
    while (at < streams.size() && streams[at]->serverSettings().port != dropping.port()) ++at;
    ASSERT_LT(at, streams.size());
    Stream* lingering = streams[at].get();
    events.lingering = lingering;
    lingering->start(capture.get());
    ASSERT_TRUE(lingering->status().running) << lingering->status().error_text;
    host.play({kestrune_host::signal_track("Artist", "Tone", 30)});
    for (int i = 0; i < 1000 && !events.lingered; ++i) ui_harness::pumpMessages(20);
    ASSERT_TRUE(events.lingered) << "the dropped stream did not fail";
    // Not the last row, so that rows follow it.
    list.SelectItem(static_cast<int>(at));
    if (at == 2) list.moveUp();
    ASSERT_EQ(streams[1].get(), lingering);
    bool checked = false, whole = true;
    host.post([&] {
        checked = true;
        for (const auto& s : streams) whole = whole && s != nullptr;
    });
    list.Invalidate();
    EXPECT_TRUE(list.deleteSelected());
    EXPECT_TRUE(checked) << "the removal did not wait for the ending worker";
    EXPECT_TRUE(whole) << "a stream was missing while the removed one ended";
    EXPECT_EQ(texts(list), (Rows{L"Velmora", L"Velmora"}));
    host.stop();
}

// In the main window's list, as narrow as the dialog makes it, a
// reconnecting stream whose name and attempt count are too long for the
// row: the name is shortened and the count stays whole; the row's text
// stays whole too.
TEST_F(StreamList, AReconnectingRowKeepsItsAttemptCountWhole) {
    VELMORA_NEED_DISPLAY();
    // A server that drops the source after a little audio. It reads the
    // request's head in pieces as they come: byte by byte, under Wine on a
    // loaded machine, the head could take longer than the stream waits.
    auto drop = [](FakeConnection& c) {
        while (c.received().find("\r\n\r\n") == std::string::npos && !c.readAvailable().empty()) {
        }
        c.send("HTTP/1.1 100 Continue\r\n\r\n");
        c.readBytes(8192);
    };
    LoopbackService dropping(drop);
    std::unique_ptr<psc_callback> capture;
    psc_callback::create(capture);

    const Dialog dialog = mainDialog();
    ASSERT_NE(dialog, nullptr);
    Selections selections;
    CListBoxStreams list(&selections);
    ASSERT_TRUE(list.SubclassWindow(::GetDlgItem(dialog.get(), IDC_STREAM_LIST)));
    CListBoxStreams::Streams streams;
    streams.push_back(stream("Velmora"));
    streams.push_back(stream("Manual MP3", dropping.port()));
    streams[1]->setReconnectWait(std::chrono::seconds(60));
    list.init(&streams);

    streams[1]->start(capture.get());
    ASSERT_TRUE(streams[1]->status().running) << streams[1]->status().error_text;
    host.play({kestrune_host::signal_track("Artist", "Tone", 30)});
    for (int i = 0; i < 1000 && events.reconnecting == 0; ++i) ui_harness::pumpMessages(20);
    ASSERT_GT(events.reconnecting, 0) << "the dropped stream did not reconnect";
    // As the window names the row while the stream reconnects.
    list.updateStreamName(streams[1].get(), "Manual MP3(1/3)");
    EXPECT_EQ(texts(list), (Rows{L"Velmora", L"Manual MP3(1/3)"}));

    list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    const ui_harness::Image image = ui_harness::captureClient(list);
    EXPECT_NE(ui_harness::saveScreenshot(image, "stream-list-reconnecting"), "");
    LOGFONTW font = {};
    ::GetObjectW(list.GetFont(), sizeof(font), &font);
    font.lfWeight = FW_BOLD;
    WTL::CFont bold;
    bold.CreateFontIndirect(&font);
    const COLORREF gray = RGB(128, 128, 128);
    const COLORREF paper = ::GetSysColor(COLOR_WINDOW);
    RECT row = rowRect(list, 1);
    const int column = ListView_GetColumnWidth(list, 0);
    ASSERT_GT(ui_harness::drawText(bold, L"Manual MP3(1/3)", gray, paper).width, column)
        << "the whole text fits the row: nothing to shorten";
    EXPECT_TRUE(shows(image, row, ui_harness::drawText(bold, L"(1/3)", gray, paper), gray))
        << "the attempt count is cut";
    // Some of the name, then "..." and the count.
    const std::wstring name = L"Manual MP3";
    bool shortened = false;
    for (std::size_t keep = name.size() - 1; keep > 0 && !shortened; --keep) {
        const std::wstring shown = name.substr(0, keep) + L"...(1/3)";
        shortened = shows(image, row, ui_harness::drawText(bold, shown, gray, paper), gray);
    }
    EXPECT_TRUE(shortened) << "the row does not show the shortened name before the count";

    // Selected, as the window shows it: the count in the highlight's colours.
    list.SelectItem(1);
    const ui_harness::Image chosen = ui_harness::captureClient(list);
    EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureClient(dialog.get()), "main-dialog-reconnecting"), "");
    const COLORREF light = RGB(192, 192, 192);
    EXPECT_TRUE(shows(chosen, row, ui_harness::drawText(bold, L"(1/3)", light, ::GetSysColor(COLOR_HIGHLIGHT)), light))
        << "the selected row's attempt count is cut or not on the highlight";

    host.stop();
    for (auto& s : streams) s->stop();
}

// A stream that does not reconnect, named as if it carried an attempt
// count, in the same narrow list: its row is drawn as the list view draws
// any row too long for it, pixel for pixel.
TEST_F(StreamList, ANameEndingLikeAnAttemptCountIsDrawnAsAnyName) {
    VELMORA_NEED_DISPLAY();
    const Dialog dialog = mainDialog();
    ASSERT_NE(dialog, nullptr);
    Selections selections;
    CListBoxStreams list(&selections);
    ASSERT_TRUE(list.SubclassWindow(::GetDlgItem(dialog.get(), IDC_STREAM_LIST)));
    CListBoxStreams::Streams streams;
    streams.push_back(stream("Late Jazz Radio (24/7)"));
    list.init(&streams);
    list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ASSERT_GT(ui_harness::drawText(list.GetFont(), L"Late Jazz Radio (24/7)", RGB(0, 0, 0), RGB(255, 255, 255)).width,
              ListView_GetColumnWidth(list, 0))
        << "the whole name fits the row: nothing to shorten";
    const ui_harness::Image drawn = ui_harness::captureClient(list);
    const HWND control = list.UnsubclassWindow();
    ASSERT_NE(control, nullptr);
    const ui_harness::Image plain = ui_harness::captureClient(control);

    const RECT row = rowRect(control, 0);
    ASSERT_EQ(drawn.width, plain.width);
    ASSERT_LT(row.top, row.bottom);
    bool same = true;
    for (int y = row.top; y < row.bottom && same; ++y)
        for (int x = row.left; x < row.right && x < drawn.width; ++x)
            same = same && drawn.at(x, y) == plain.at(x, y);
    EXPECT_TRUE(same) << "the row is not drawn as the list view draws it";
}
