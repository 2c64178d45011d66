#pragma once
// The Clients view, second page of the main window's tabs: one row per
// listener of the selected stream ("IP", "User Agent", "Time"), the last
// listener of the server's list on top. It changes only when the window's
// worker hands it a listener text fetched from the server.
#include <Poco/AutoPtr.h>
#include <Poco/Util/XMLConfiguration.h>

#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/listener_xml.h"

class CListViewClients
    : public ATL::CWindowImpl<CListViewClients, WTL::CListViewCtrlT<ATL::CWindow>, ATL::CControlWinTraits> {
public:
    DECLARE_WND_SUPERCLASS(L"Clients", WC_LISTVIEWW)

    CListViewClients() = default;
    ~CListViewClients() override = default;

    // Reads the listener text (UTF-8) and shows its listeners, connected
    // times in seconds as hours:minutes:seconds. A text that cannot be read
    // throws a Poco::Exception and leaves the rows as they were. Called on
    // the window's worker thread.
    void refresh(const std::string& text);
    // Reads the listener text into the records (see parseListenerXml).
    void parseListeners(const std::string& text);

    BEGIN_MSG_MAP(CListViewClients)
        MESSAGE_HANDLER(WM_CREATE, init)
    END_MSG_MAP()

    LRESULT init(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

private:
    // What the last refresh read.
    Poco::AutoPtr<Poco::Util::XMLConfiguration> document;
    std::vector<ClientInfo> records;
};
