#pragma once
// The option sheet's "Server" page: server type, host, port, user name,
// password, mount point and stream id of the configured stream (the proxy
// fields pass through hidden). OK checks every field, normalises the mount
// point by type and only then writes the fields into the record.
#include <map>
#include <string>

#include "plugin/settings.h"
#include "res/resource.h"
#include "ui/controls.h"
#include "ui/ddx.h"
#include "ui/property_sheet.h"

class OptionPageServer : public WTL::CPropertyPageImpl<OptionPageServer, WTL::CPropertyPageWindow>,
                         public WTL::CWinDataExchange<OptionPageServer> {
public:
    enum { IDD = IDD_PAGE_SERVER };
    typedef WTL::CPropertyPageImpl<OptionPageServer, WTL::CPropertyPageWindow> Base;

    explicit OptionPageServer(ServerSettings* settings) : m_settings(settings) {}
    ~OptionPageServer() override = default;

    BEGIN_MSG_MAP(OptionPageServer)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        COMMAND_HANDLER(IDC_SERVER_TYPE, CBN_SELCHANGE, OnTypeChanged)
        COMMAND_ID_HANDLER(IDC_SERVER_USE_PROXY, OnUseProxy)
        CHAIN_MSG_MAP(Base)
    END_MSG_MAP()

    BEGIN_DDX_MAP(OptionPageServer)
        DDX_TEXT_LEN(IDC_SERVER_HOST, m_host, kMaxText)
        DDX_INT_RANGE(IDC_SERVER_PORT, m_port, 0, 65535)
        DDX_CHECK(IDC_SERVER_USE_PROXY, m_useProxy)
        DDX_TEXT_LEN(IDC_SERVER_PROXY_HOST, m_proxyHost, kMaxText)
        DDX_INT_RANGE(IDC_SERVER_PROXY_PORT, m_proxyPort, 0, 65535)
        DDX_TEXT_LEN(IDC_SERVER_USERNAME, m_username, kMaxText)
        DDX_TEXT_LEN(IDC_SERVER_PASSWORD, m_password, kMaxText)
        DDX_TEXT_LEN(IDC_SERVER_MOUNT, m_mountPoint, kMaxText)
        DDX_INT_RANGE(IDC_SERVER_STREAM_ID, m_streamId, 1, 2147483647)
    END_DDX_MAP()

    // The sheet's OK: validate().
    BOOL OnApply();

    // What a field that does not read says (shown captioned "Velmora", then
    // the focus goes to the field).
    void OnDataExchangeError(UINT id, BOOL save);
    void OnDataValidateError(UINT id, BOOL save, WTL::_XData& data);

    void initServerTypes();
    bool validate();

private:
    static constexpr int kMaxText = 128;

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTypeChanged(WORD, WORD, HWND, BOOL&);
    LRESULT OnUseProxy(WORD, WORD, HWND, BOOL&);

    // Mount point and stream id enabled as the type asks.
    void enableForType(int type);
    void enableProxy();
    void refuse(UINT id, const wchar_t* message);

    ServerSettings* m_settings;
    std::map<std::wstring, int> m_types;
    // False when the record could not be shown: OK then leaves it alone.
    bool m_ready = false;

    WTL::CComboBox m_typeCombo;
    WTL::CEdit m_hostEdit, m_portEdit, m_proxyHostEdit, m_proxyPortEdit, m_usernameEdit, m_passwordEdit,
        m_mountPointEdit, m_streamIdEdit;
    WTL::CButton m_useProxyCheck;

    std::wstring m_typeName;
    std::wstring m_host;
    int m_port = 0;
    bool m_useProxy = false;
    std::wstring m_proxyHost;
    int m_proxyPort = 0;
    std::wstring m_username;
    std::wstring m_password;
    std::wstring m_mountPoint;
    int m_streamId = 1;
};
