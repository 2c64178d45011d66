#include "view_support.h"

#include <chrono>

namespace view_test {

MainStandIn::MainStandIn(int width, int height) {
    RECT frame = {0, 0, width, height};
    ::AdjustWindowRectEx(&frame, ATL::CFrameWinTraits::GetWndStyle(0), FALSE, ATL::CFrameWinTraits::GetWndExStyle(0));
    Create(nullptr, RECT{0, 0, frame.right - frame.left, frame.bottom - frame.top}, L"Velmora views");
    middle = ::CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width, height, m_hWnd,
                             nullptr, nullptr, nullptr);
    // Views take their parent's font, as they take the dialog's in the
    // main window.
    ::SendMessageW(middle, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    ShowWindow(SW_SHOWNORMAL);
    UpdateWindow();
}

MainStandIn::~MainStandIn() {
    if (m_hWnd) DestroyWindow();
}

LRESULT MainStandIn::onCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    // Menu commands come without a control.
    if (lParam != 0) {
        bHandled = FALSE;
        return 0;
    }
    commands.push_back(LOWORD(wParam));
    return 0;
}

std::wstring row(HWND list, int index) {
    WTL::CListViewCtrl view(list);
    HWND header = reinterpret_cast<HWND>(view.SendMessage(LVM_GETHEADER));
    int columns = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    std::wstring text;
    for (int c = 0; c < columns; ++c) text += (c ? L" | " : L"") + view.GetItemText(index, c);
    return text;
}

std::vector<std::wstring> rows(HWND list) {
    std::vector<std::wstring> out;
    int count = WTL::CListViewCtrl(list).GetItemCount();
    for (int i = 0; i < count; ++i) out.push_back(row(list, i));
    return out;
}

MenuPicker::MenuPicker(int pick, unsigned wait_ms) : thread_([this, pick, wait_ms] { run(pick, wait_ms); }) {}

MenuPicker::~MenuPicker() { join(); }

void MenuPicker::join() {
    if (thread_.joinable()) thread_.join();
}

void MenuPicker::run(int pick, unsigned wait_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    HWND menu = nullptr;
    while (std::chrono::steady_clock::now() < end) {
        menu = ::FindWindowW(L"#32768", nullptr);
        if (menu && ::IsWindowVisible(menu)) break;
        menu = nullptr;
        ::Sleep(10);
    }
    if (!menu) return;
    opened = true;
    RECT frame = {};
    ::GetWindowRect(menu, &frame);
    at = POINT{frame.left, frame.top};
    HMENU handle = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
    int count = ::GetMenuItemCount(handle);
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        ::GetMenuStringW(handle, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        items.push_back(text);
    }
    if (pick < 0) {
        ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        return;
    }
    for (int i = 0; i <= pick; ++i) ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

LPARAM screenPoint(HWND window, int x, int y) {
    POINT p = {x, y};
    ::ClientToScreen(window, &p);
    return MAKELPARAM(p.x, p.y);
}

}  // namespace view_test
