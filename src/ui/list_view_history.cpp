// The History view.
#include "ui/list_view_history.h"

#include "plugin/utils.h"
#include "ui/list_view_common.h"

LRESULT CListViewHistory::init(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (DefWindowProc(uMsg, wParam, lParam) == -1) return -1;
    setUpReportView(m_hWnd, {{L"#", 28}, {L"Artist", 200}, {L"Title", 220}});
    return 0;
}

void CListViewHistory::appendRow(const std::string& artist, const std::string& title) {
    const int n = GetItemCount();
    const int number = n + 1;
    std::wstring label = (number < 10 ? L"0" : L"") + std::to_wstring(number);
    InsertItem(n, label.c_str());
    SetItemText(n, 1, fromUtf8(artist).c_str());
    SetItemText(n, 2, fromUtf8(title).c_str());
}

LRESULT CListViewHistory::onContextMenu(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    if (!trackContextMenu(m_hWnd, lParam, 3, m_hWnd)) bHandled = FALSE;
    return 0;
}

LRESULT CListViewHistory::copyToClipboard(WORD, WORD, HWND, BOOL&) {
    std::string text;
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i)
        text += std::to_string(i + 1) + ": " + toUtf8(GetItemText(i, 1)) + " - " + toUtf8(GetItemText(i, 2)) + "\n";
    ::copyToClipboard(m_hWnd, fromUtf8(text));
    return 0;
}
