// Set-up and context menus of the views.
#include "ui/list_view_common.h"

#include "res/resource.h"
#include "ui/controls.h"

void setUpReportView(HWND view, std::initializer_list<ViewColumn> columns) {
    WTL::CListViewCtrl list(view);
    list.ModifyStyle(0, LVS_REPORT | LVS_SINGLESEL);
    const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    list.SetExtendedListViewStyle(extended, extended);
    list.SetFont(list.GetParent().GetFont(), TRUE);
    int index = 0;
    for (const ViewColumn& column : columns) list.InsertColumn(index++, column.title, LVCFMT_LEFT, column.width);
}

bool trackContextMenu(HWND view, LPARAM position, int index, HWND owner) {
    // Signed coordinates: a second monitor may lie left of or above the first.
    POINT point = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    if (point.x == -1 && point.y == -1) {
        point = POINT{0, 0};
        ::ClientToScreen(view, &point);
    }
    RECT client = {};
    ::GetClientRect(view, &client);
    ::MapWindowPoints(view, nullptr, reinterpret_cast<POINT*>(&client), 2);
    if (!::PtInRect(&client, point)) return false;

    WTL::CMenu menu;
    if (!menu.LoadMenu(IDR_POPUPS)) return true;
    WTL::CMenuHandle popup(menu.GetSubMenu(index));
    popup.TrackPopupMenu(0, point.x, point.y, owner);
    return true;
}
