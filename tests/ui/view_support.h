#pragma once
// For the tests of the main window's views: a stand-in for the main window
// that records the commands and context-menu requests it receives, with a
// middle child in the tab control's place; the rows of a list view as text;
// and a hand that picks from a popup menu while the test's thread sits in
// the menu's loop.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "ui/controls.h"

namespace view_test {

class MainStandIn : public ATL::CWindowImpl<MainStandIn, ATL::CWindow, ATL::CFrameWinTraits> {
public:
    DECLARE_WND_CLASS(L"velmora.test.main")
    MainStandIn(int width, int height);
    ~MainStandIn() override;

    // Where views go, as the tab control holds them in the main window.
    HWND middle = nullptr;
    std::vector<WORD> commands;
    int context_menus = 0;

    BEGIN_MSG_MAP(MainStandIn)
        MESSAGE_HANDLER(WM_COMMAND, onCommand)
        MESSAGE_HANDLER(WM_CONTEXTMENU, onContextMenu)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()
    LRESULT onCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT onContextMenu(UINT, WPARAM, LPARAM, BOOL&) {
        ++context_menus;
        return 0;
    }
};

// Every row of a list view, its columns joined by " | ".
std::vector<std::wstring> rows(HWND list);
std::wstring row(HWND list, int index);

// Waits on a thread of its own (at most `wait_ms`) for a popup menu to
// open, notes its item texts, then picks item `pick` with the keyboard (-1
// closes the menu). join() waits for it.
class MenuPicker {
public:
    explicit MenuPicker(int pick, unsigned wait_ms = 5000);
    ~MenuPicker();
    void join();
    std::vector<std::wstring> items;
    bool opened = false;
    // The menu window's top-left corner on the screen.
    POINT at = {0, 0};

private:
    void run(int pick, unsigned wait_ms);
    std::thread thread_;
};

// The point on the screen of a point of the window's client area, packed
// as WM_CONTEXTMENU carries it.
LPARAM screenPoint(HWND window, int x, int y);

}  // namespace view_test
