#pragma once
// The modal dialog that asks for a server's admin user name and password.
// It opens with the user name "admin" and the focus in the password field;
// OK hands both texts to the caller in the thread's ANSI code page, Cancel
// leaves the caller's strings as they were.
#include <string>

#include "res/resource.h"
#include "ui/controls.h"
#include "ui/ddx.h"

class CDlgAuth : public ATL::CDialogImpl<CDlgAuth, ATL::CWindow>, public WTL::CWinDataExchange<CDlgAuth> {
public:
    enum { IDD = IDD_AUTH };

    CDlgAuth(std::string* user, std::string* password) : m_userResult(user), m_passwordResult(password) {}
    ~CDlgAuth() override = default;

    BEGIN_MSG_MAP(CDlgAuth)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        COMMAND_ID_HANDLER(IDOK, onOK)
        COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

    BEGIN_DDX_MAP(CDlgAuth)
        DDX_CONTROL_HANDLE(IDC_AUTH_USER, m_userEdit)
        DDX_CONTROL_HANDLE(IDC_AUTH_PASSWORD, m_passwordEdit)
        DDX_TEXT(IDC_AUTH_USER, m_user)
        DDX_TEXT(IDC_AUTH_PASSWORD, m_password)
    END_DDX_MAP()

    LRESULT onOK(WORD, WORD, HWND, BOOL&);

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);

    std::string* m_userResult;
    std::string* m_passwordResult;
    WTL::CEdit m_userEdit;
    WTL::CEdit m_passwordEdit;
    std::wstring m_user;
    std::wstring m_password;
};
