// The tab view: one enabled, visible view at the view rectangle, whatever
// is added, clicked, resized or removed.
#include <gtest/gtest.h>

#include <vector>

#include "ui/tab_view.h"
#include "ui_harness.h"

namespace {

class LoggingTabView : public CWTLTabViewCtrl {
public:
    std::vector<int> removed;
    void OnTabRemoved(int index) override { removed.push_back(index); }
};

HWND makeView(HWND parent, const wchar_t* text) {
    return ::CreateWindowW(L"STATIC", text, WS_CHILD | WS_BORDER, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
}

// The views that show, each enabled, and where the first of them sits in
// the tab control's client coordinates.
std::vector<HWND> shown(const std::vector<HWND>& views) {
    std::vector<HWND> out;
    for (HWND v : views)
        if (::IsWindowVisible(v) && ::IsWindowEnabled(v)) out.push_back(v);
    return out;
}

RECT placeIn(HWND view, HWND tab) {
    RECT r = {};
    ::GetWindowRect(view, &r);
    ::MapWindowPoints(nullptr, tab, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void expectRect(const RECT& r, int left, int top, int right, int bottom) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

void clickTab(HWND tab, int index) {
    RECT item = {};
    ::SendMessageW(tab, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    ::SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(tab, WM_LBUTTONUP, 0, at);
}

}  // namespace

TEST(TabView, ShowsExactlyOneViewAtTheViewRectangleThroughAddClickResizeAndRemove) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(500, 400);
    // Tabs on top in one row 20 pixels high, on a 400 x 300 client area.
    HWND control = ::CreateWindowW(WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_FIXEDWIDTH, 10, 10,
                                   400, 300, host, nullptr, nullptr, nullptr);
    ::SendMessageW(control, TCM_SETITEMSIZE, 0, MAKELPARAM(80, 20));
    LoggingTabView tabs;
    ASSERT_TRUE(tabs.SubclassWindow(control));

    std::vector<HWND> views = {makeView(control, L"zero"), makeView(control, L"one"), makeView(control, L"two")};
    EXPECT_EQ(tabs.AddTab(L"Monitor", views[0], 0x1234), 0);
    EXPECT_EQ(shown(views), std::vector<HWND>{views[0]});
    RECT item = {};
    tabs.GetItemRect(0, &item);
    ASSERT_EQ(item.bottom - item.top, 20);
    expectRect(placeIn(views[0], control), 3, 25, 397, 297);

    EXPECT_EQ(tabs.AddTab(L"Clients", views[1]), 1);
    EXPECT_EQ(tabs.AddTab(L"History", views[2]), 2);
    EXPECT_EQ(shown(views), std::vector<HWND>{views[0]});
    EXPECT_FALSE(::IsWindowEnabled(views[2]));
    expectRect(placeIn(views[2], control), 3, 25, 397, 297);
    TCITEMW data = {};
    data.mask = TCIF_PARAM;
    ::SendMessageW(control, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    EXPECT_EQ(data.lParam, 0x1234);

    // A click on a tab reaches the view through the parent's reflection.
    clickTab(control, 2);
    EXPECT_EQ(tabs.GetActiveTab(), 2);
    EXPECT_EQ(shown(views), std::vector<HWND>{views[2]});
    EXPECT_EQ(::GetFocus(), views[2]);
    ::SetFocus(host);
    tabs.SetActiveTab(2);
    EXPECT_EQ(::GetFocus(), host.m_hWnd) << "selecting the active tab again changes nothing";

    // Resizing moves every view, shown or not.
    tabs.MoveWindow(10, 10, 300, 200);
    for (HWND v : views) expectRect(placeIn(v, control), 3, 25, 297, 197);

    // The active last tab goes: the one before it takes over.
    EXPECT_EQ(tabs.RemoveTab(2), views[2]);
    EXPECT_EQ(tabs.GetActiveTab(), 1);
    EXPECT_EQ(shown(views), std::vector<HWND>{views[1]});
    EXPECT_TRUE(::IsWindow(views[2])) << "views are never destroyed by the tab view";
    // A tab before the active one goes: the same view stays active.
    EXPECT_EQ(tabs.AddTab(L"History", views[2]), 2);
    EXPECT_EQ(tabs.RemoveTab(0), views[0]);
    EXPECT_EQ(tabs.GetActiveTab(), 0);
    EXPECT_EQ(tabs.GetActiveView(), views[1]);
    EXPECT_EQ(tabs.GetCurSel(), 0);
    // The active first tab goes: the new first takes over.
    tabs.RemoveTab(0);
    EXPECT_EQ(tabs.GetActiveView(), views[2]);
    EXPECT_EQ(shown(views), std::vector<HWND>{views[2]});
    // The only tab goes: nothing is active, nothing shows.
    tabs.RemoveTab(0);
    EXPECT_EQ(tabs.GetActiveTab(), -1);
    EXPECT_EQ(tabs.GetActiveView(), nullptr);
    EXPECT_TRUE(shown(views).empty());
    EXPECT_EQ(tabs.RemoveTab(0), nullptr);
    EXPECT_EQ(tabs.GetItemCount(), 0);
    EXPECT_EQ(tabs.removed, (std::vector<int>{2, 0, 0, 0}));
}

TEST(TabView, DestructionRemovesEveryTabFromTheLastAndCreatedVerticalTabsTurnTheirFont) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(500, 400);
    std::vector<HWND> views = {makeView(host, L"zero"), makeView(host, L"one"), makeView(host, L"two")};
    {
        LoggingTabView tabs;
        ASSERT_NE(tabs.Create(host, RECT{10, 10, 410, 310}), nullptr);
        for (HWND v : views) tabs.AddTab(L"tab", v);
        tabs.DestroyWindow();
        EXPECT_EQ(tabs.removed, (std::vector<int>{2, 1, 0}));
        EXPECT_EQ(tabs.m_hWnd, nullptr);
        for (HWND v : views) EXPECT_TRUE(::IsWindow(v));
    }

    struct Case {
        DWORD style;
        LONG escapement;
    } cases[] = {{0, 0}, {TCS_VERTICAL | TCS_MULTILINE, 900}, {TCS_VERTICAL | TCS_RIGHT | TCS_MULTILINE, 2700}};
    for (const Case& c : cases) {
        CWTLTabViewCtrl tabs;
        ASSERT_NE(tabs.Create(host, RECT{10, 10, 410, 310}, nullptr, WS_CHILD | WS_VISIBLE | c.style), nullptr);
        LOGFONTW font = {};
        ::GetObjectW(tabs.GetFont(), sizeof(font), &font);
        EXPECT_EQ(font.lfEscapement, c.escapement);
        if (c.style & TCS_RIGHT) {
            // Tabs on the right: the view keeps the margin elsewhere and
            // ends left of the tabs.
            HWND page = makeView(tabs, L"page");
            tabs.AddTab(L"tab", page);
            RECT view = placeIn(page, tabs), tab = {}, client = {};
            tabs.GetItemRect(0, &tab);
            tabs.GetClientRect(&client);
            EXPECT_EQ(view.left, 3);
            EXPECT_EQ(view.top, 3);
            EXPECT_EQ(view.bottom, client.bottom - 3);
            EXPECT_LE(view.right, tab.left);
            EXPECT_GT(view.right, tab.left - 10);
        }
        tabs.DestroyWindow();
    }
}
