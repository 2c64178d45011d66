#pragma once
// The Monitor view, first page of the main window's tabs: thirteen fixed
// rows ("Item", "Value") showing the selected stream's settings and live
// state. Callers pass records and numbers; the view formats every value.
// Each row is found by its item text, whatever order the rows are in.
//
// The setters may be called from any thread: the list view's messages are
// served by the window's thread.
#include <cstdint>
#include <map>
#include <string>

#include "plugin/settings.h"
#include "ui/controls.h"

class CListViewMonitor
    : public ATL::CWindowImpl<CListViewMonitor, WTL::CListViewCtrlT<ATL::CWindow>, ATL::CControlWinTraits> {
public:
    DECLARE_WND_SUPERCLASS(L"Monitor", WC_LISTVIEWW)

    CListViewMonitor() = default;
    ~CListViewMonitor() override = default;

    // The settings rows of one stream. A value that comes out empty leaves
    // its row as it was.
    void fill(const EncoderSettings& encoder, const ServerSettings& server);
    // "Connected", "Disconnected", "Reconnecting..."
    void setStatus(const std::wstring& status);
    // The title last sent as stream metadata.
    void setMetadata(const std::wstring& title);
    void setTransferRate(std::uint32_t bytes_per_second);
    void setBytesSent(std::uint64_t bytes);
    void setElapsedTime(std::uint64_t seconds);
    // Status, bytes sent, elapsed time, metadata and transfer rate as
    // before the first start.
    void reset();

    BEGIN_MSG_MAP(CListViewMonitor)
        MESSAGE_HANDLER(WM_CREATE, init)
        MESSAGE_HANDLER(WM_CONTEXTMENU, onContextMenu)
    END_MSG_MAP()

    LRESULT init(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // The "OnMonitor" popup; its commands go to the main window.
    LRESULT onContextMenu(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

private:
    // The row that shows `item` (its item text at creation), -1 for none.
    int rowOf(const std::wstring& item) const;
    void setValue(const std::wstring& item, const std::wstring& value);

    // Item text at creation -> the row's own number, kept in the row's
    // item data, so that a row is found wherever it stands.
    std::map<std::wstring, int> rows;
};
