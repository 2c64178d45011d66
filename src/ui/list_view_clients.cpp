// The Clients view.
#include "ui/list_view_clients.h"

#include "plugin/utils.h"
#include "ui/list_view_common.h"

LRESULT CListViewClients::init(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (DefWindowProc(uMsg, wParam, lParam) == -1) return -1;
    setUpReportView(m_hWnd, {{L"IP", 100}, {L"User Agent", 250}, {L"Time", 100}});
    return 0;
}

void CListViewClients::parseListeners(const std::string& text) { parseListenerXml(text, document, records); }

void CListViewClients::refresh(const std::string& text) {
    parseListeners(text);
    DeleteAllItems();
    for (ClientInfo& record : records) {
        record.connected = formatConnectedTime(record.connected);
        // Each row goes on top: the last listener read shows first.
        InsertItem(0, fromUtf8(record.ip).c_str());
        SetItemText(0, 1, fromUtf8(record.user_agent).c_str());
        SetItemText(0, 2, fromUtf8(record.connected).c_str());
    }
}
