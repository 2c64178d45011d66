#include "ui/dlg_auth.h"

namespace {

// The text in the thread's ANSI code page; characters it lacks become the
// code page's default character.
std::string toAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], length,
                              nullptr, nullptr);
    return out;
}

}  // namespace

LRESULT CDlgAuth::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    CenterWindow(GetParent());
    DoDataExchange(FALSE);
    m_userEdit.SetWindowText(L"admin");
    m_passwordEdit.SetFocus();
    // The focus is set.
    return FALSE;
}

LRESULT CDlgAuth::onOK(WORD, WORD, HWND, BOOL&) {
    DoDataExchange(TRUE);
    std::string user = toAnsi(m_user);
    std::string password = toAnsi(m_password);
    *m_userResult = user;
    *m_passwordResult = password;
    EndDialog(IDOK);
    return 0;
}

LRESULT CDlgAuth::OnCancel(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}
