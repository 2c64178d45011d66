#include "ui/option_page_server.h"

#include <exception>

#include "plugin/utils.h"
#include "ui/page_failure.h"

namespace {

const wchar_t* const kTypeNames[] = {L"Icecast2", L"SHOUTCast v1", L"SHOUTCast v2"};

const wchar_t kPortMessage[] = L"Port must be an integer between 0 and 65535.";
const wchar_t kStreamIdMessage[] = L"Stream ID must be an integer between 1 and 2147483647.";
const wchar_t kLengthMessage[] = L"String must be under 128 characters.\r\n";

}  // namespace

void OptionPageServer::refuse(UINT id, const wchar_t* message) {
    MessageBox(message, L"Velmora", MB_OK | MB_ICONINFORMATION);
    ::SetFocus(GetDlgItem(static_cast<int>(id)));
}

void OptionPageServer::OnDataExchangeError(UINT id, BOOL) {
    refuse(id, id == IDC_SERVER_STREAM_ID ? kStreamIdMessage : kPortMessage);
}

void OptionPageServer::OnDataValidateError(UINT id, BOOL, WTL::_XData& data) {
    if (data.nDataType == WTL::ddxDataText)
        refuse(id, kLengthMessage);
    else
        refuse(id, id == IDC_SERVER_STREAM_ID ? kStreamIdMessage : kPortMessage);
}

void OptionPageServer::enableForType(int type) {
    switch (type) {
    case SERVER_ICECAST2:
        m_mountPointEdit.EnableWindow(TRUE);
        m_streamIdEdit.EnableWindow(FALSE);
        break;
    case SERVER_SHOUTCAST1:
        m_mountPointEdit.EnableWindow(FALSE);
        m_streamIdEdit.EnableWindow(FALSE);
        break;
    case SERVER_SHOUTCAST2:
        m_mountPointEdit.EnableWindow(FALSE);
        m_streamIdEdit.EnableWindow(TRUE);
        break;
    default:
        break;
    }
}

void OptionPageServer::enableProxy() {
    m_proxyHostEdit.EnableWindow(m_useProxy ? TRUE : FALSE);
    m_proxyPortEdit.EnableWindow(m_useProxy ? TRUE : FALSE);
}

void OptionPageServer::initServerTypes() {
    m_types.clear();
    m_typeName.clear();
    int selected = -1;
    for (int i = 0; i < 3; ++i) {
        m_typeCombo.AddString(kTypeNames[i]);
        m_types[kTypeNames[i]] = i;
        if (i == m_settings->type) {
            m_typeName = kTypeNames[i];
            selected = i;
        }
    }
    m_typeCombo.SetCurSel(selected);

    m_useProxy = m_settings->use_proxy != 0;
    enableForType(m_settings->type);
    enableProxy();

    m_host = fromUtf8(m_settings->host);
    m_proxyHost = fromUtf8(m_settings->proxy_host);
    m_username = fromUtf8(m_settings->username);
    m_password = fromUtf8(m_settings->password);
    m_mountPoint = fromUtf8(m_settings->mount_point);
    m_port = m_settings->port;
    m_proxyPort = m_settings->proxy_port;
    m_streamId = m_settings->stream_id;
    DoDataExchange(FALSE);
}

bool OptionPageServer::validate() {
    if (!m_ready) return true;
    if (!DoDataExchange(TRUE)) return false;

    auto known = m_types.find(m_typeName);
    const int type = known == m_types.end() ? SERVER_ICECAST2 : known->second;
    std::wstring mount = m_mountPoint;
    if (type == SERVER_ICECAST2 || type == SERVER_SHOUTCAST2) {
        if (mount.empty() || mount[0] != L'/') mount.insert(0, 1, L'/');
    }
    if (type == SERVER_ICECAST2 && mount.size() <= 1) {
        MessageBox(L"Mountpoint is empty.\n", L"Velmora", MB_OK | MB_ICONINFORMATION);
        return false;
    }

    // Everything converted first, so that the record is written whole or
    // not at all.
    ServerSettings record = *m_settings;
    record.type = type;
    if (!m_host.empty()) {
        record.host = toUtf8(m_host);
        record.port = m_port;
    }
    record.use_proxy = m_useProxy ? 1 : 0;
    if (!m_proxyHost.empty()) {
        record.proxy_host = toUtf8(m_proxyHost);
        record.proxy_port = m_proxyPort;
    }
    record.username = toUtf8(m_username);
    record.password = toUtf8(m_password);
    record.mount_point = toUtf8(mount);
    record.stream_id = m_streamId;
    *m_settings = record;
    return true;
}

BOOL OptionPageServer::OnApply() {
    try {
        return validate() ? TRUE : FALSE;
    } catch (const std::exception& e) {
        reportPageFailure(m_hWnd, "server settings", L"The server settings cannot be taken over.", e.what());
        return FALSE;
    }
}

LRESULT OptionPageServer::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    m_typeCombo = GetDlgItem(IDC_SERVER_TYPE);
    m_hostEdit = GetDlgItem(IDC_SERVER_HOST);
    m_portEdit = GetDlgItem(IDC_SERVER_PORT);
    m_useProxyCheck = GetDlgItem(IDC_SERVER_USE_PROXY);
    m_proxyHostEdit = GetDlgItem(IDC_SERVER_PROXY_HOST);
    m_proxyPortEdit = GetDlgItem(IDC_SERVER_PROXY_PORT);
    m_usernameEdit = GetDlgItem(IDC_SERVER_USERNAME);
    m_passwordEdit = GetDlgItem(IDC_SERVER_PASSWORD);
    m_mountPointEdit = GetDlgItem(IDC_SERVER_MOUNT);
    m_streamIdEdit = GetDlgItem(IDC_SERVER_STREAM_ID);
    try {
        initServerTypes();
        m_ready = true;
    } catch (const std::exception& e) {
        // A record whose texts are not UTF-8: shown as far as it went, and
        // kept as it is.
        reportPageFailure(m_hWnd, "server settings", L"The server settings cannot be shown; they are kept as they are.",
                          e.what());
    }
    return TRUE;
}

LRESULT OptionPageServer::OnTypeChanged(WORD, WORD, HWND, BOOL&) {
    const int selected = m_typeCombo.GetCurSel();
    if (selected < 0) return 0;
    m_typeName = m_typeCombo.GetLBText(selected);
    auto known = m_types.find(m_typeName);
    enableForType(known == m_types.end() ? SERVER_ICECAST2 : known->second);
    return 0;
}

LRESULT OptionPageServer::OnUseProxy(WORD, WORD, HWND, BOOL&) {
    m_useProxy = m_useProxyCheck.GetCheck() == BST_CHECKED;
    enableProxy();
    return 0;
}
