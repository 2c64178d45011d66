// The History view: numbered rows, oldest first, and Copy History's text
// on the clipboard, reached through the view's own popup menu.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/list_view_history.h"
#include "ui_harness.h"
#include "view_support.h"

using view_test::MainStandIn;
using view_test::MenuPicker;
using view_test::rows;

namespace {

using Rows = std::vector<std::wstring>;

// A stream's title record: title first, artist second.
struct Record {
    std::string title;
    std::string artist;
};

std::wstring clipboardText(HWND owner) {
    std::wstring text = L"(no text)";
    if (!::OpenClipboard(owner)) return L"(clipboard busy)";
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(::GlobalLock(data));
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return text;
}

void putOnClipboard(HWND owner, const wchar_t* text) {
    ::OpenClipboard(owner);
    ::EmptyClipboard();
    std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    std::memcpy(::GlobalLock(memory), text, bytes);
    ::GlobalUnlock(memory);
    ::SetClipboardData(CF_UNICODETEXT, memory);
    ::CloseClipboard();
}

// Copy History as the user reaches it: right click, first item.
void copyHistory(CListViewHistory& history) {
    MenuPicker picker(0);
    history.SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(history.m_hWnd),
                        view_test::screenPoint(history, 30, 30));
    picker.join();
    ASSERT_TRUE(picker.opened);
    EXPECT_EQ(picker.items, Rows{L"Copy History"});
    ui_harness::pumpMessages(100);
}

}  // namespace

TEST(HistoryView, NumbersRowsAndCopiesThemAsText) {
    VELMORA_NEED_DISPLAY();
    MainStandIn main(480, 220);
    CListViewHistory history;
    ASSERT_TRUE(history.Create(main.middle, RECT{0, 0, 470, 210}, nullptr, WS_CHILD | WS_VISIBLE, WS_EX_STATICEDGE));

    const std::vector<Record> three = {{"Lj\xc3\xb3s", "Sigr\xc3\xban \xc3\x96sp"},
                                       {"Blue Harbour", "The Velmora Trio"},
                                       {"\xd0\x9f\xd0\xb5\xd1\x81\xd0\xbd\xd1\x8f \xd0\xbd\xd0\xbe\xd1\x87\xd0\xb8", "\xd0\x9c\xd0\xb8\xd1\x80\xd0\xbe\xd0\xbd"}};
    history.fill(three);
    EXPECT_EQ(rows(history), (Rows{L"01 | Sigr\u00fan \u00d6sp | Lj\u00f3s",
                                   L"02 | The Velmora Trio | Blue Harbour",
                                   L"03 | \u041c\u0438\u0440\u043e\u043d | \u041f\u0435\u0441\u043d\u044f \u043d\u043e\u0447\u0438"}));
    EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureClient(main), "history-view"), "");
    copyHistory(history);
    EXPECT_EQ(clipboardText(main), L"1: Sigr\u00fan \u00d6sp - Lj\u00f3s\n"
                                   L"2: The Velmora Trio - Blue Harbour\n"
                                   L"3: \u041c\u0438\u0440\u043e\u043d - \u041f\u0435\u0441\u043d\u044f \u043d\u043e\u0447\u0438\n");

    // A hundred records: the last is numbered 100; the list is replaced.
    std::vector<Record> hundred(100, Record{"t", "a"});
    hundred.back() = Record{"last", "artist"};
    history.fill(hundred);
    ASSERT_EQ(history.GetItemCount(), 100);
    EXPECT_EQ(view_test::row(history, 8), L"09 | a | t");
    EXPECT_EQ(view_test::row(history, 99), L"100 | artist | last");

    // An empty history copies an empty text over what the clipboard held.
    history.fill(std::vector<Record>{});
    EXPECT_TRUE(rows(history).empty());
    putOnClipboard(main, L"before");
    copyHistory(history);
    EXPECT_EQ(clipboardText(main), L"");
}
