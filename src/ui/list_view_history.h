#pragma once
// The History view, third page of the main window's tabs: the titles the
// selected stream carried, oldest first, numbered ("#", "Artist",
// "Title"). The records belong to the stream; the view only shows them.
// Its popup menu copies the whole list to the clipboard.
#include <string>

#include "res/resource.h"
#include "ui/controls.h"

class CListViewHistory
    : public ATL::CWindowImpl<CListViewHistory, WTL::CListViewCtrlT<ATL::CWindow>, ATL::CControlWinTraits> {
public:
    DECLARE_WND_SUPERCLASS(L"History", WC_LISTVIEWW)

    CListViewHistory() = default;
    ~CListViewHistory() override = default;

    // Shows a stream's title records (each with a UTF-8 `title` and
    // `artist`, as the stream keeps them), replacing every row. May be
    // called from any thread: the window's thread serves the list view.
    template <class Records>
    void fill(const Records& records) {
        DeleteAllItems();
        for (const auto& record : records) appendRow(record.artist, record.title);
    }

    BEGIN_MSG_MAP(CListViewHistory)
        MESSAGE_HANDLER(WM_CREATE, init)
        MESSAGE_HANDLER(WM_CONTEXTMENU, onContextMenu)
        COMMAND_ID_HANDLER(ID_COPY_HISTORY, copyToClipboard)
    END_MSG_MAP()

    LRESULT init(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // The "OnHistory" popup; its command comes back to the view.
    LRESULT onContextMenu(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // "Copy History": one line "n: artist - title" per row, as Unicode text.
    LRESULT copyToClipboard(WORD code, WORD id, HWND control, BOOL& bHandled);

private:
    void appendRow(const std::string& artist, const std::string& title);
};
