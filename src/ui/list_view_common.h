#pragma once
// What the three views of the main window's tabs share: their set-up as
// report lists and their context menus.
#include <windows.h>

#include <initializer_list>

struct ViewColumn {
    const wchar_t* title;
    int width;
};

// Adds the report style with single selection, grid lines and full-row
// selection to a list view created as a view, gives it its parent's font
// and inserts its columns, left-aligned, in order.
void setUpReportView(HWND view, std::initializer_list<ViewColumn> columns);

// Shows popup `index` of the menu resource for a WM_CONTEXTMENU that
// `view` received with `position` (screen coordinates; both -1 for the
// menu key, which opens it at the view's top-left corner). The chosen
// command goes to `owner`. Returns false, showing nothing, when the
// position lies outside the view's client area: the message is then not
// the view's.
bool trackContextMenu(HWND view, LPARAM position, int index, HWND owner);
