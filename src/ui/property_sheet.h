#pragma once
// Property sheets and their pages.
//
// A page derives from CPropertyPageImpl<T> (T::IDD is its dialog template)
// and overrides what it needs of OnSetActive, OnKillActive (may the user
// leave the page), OnApply (the sheet's OK: check and store; FALSE refuses
// and keeps the sheet open on the page the user views), OnReset (Cancel).
// Its message map chains CPropertyPageImpl<T>'s. A page's window exists
// from the first time it is shown until the sheet closes.
//
// A sheet derives from CPropertySheetImpl<T>, adds its pages (AddPage) and
// runs modally (DoModal: 1 after OK, 0 after Cancel, -1 when the sheet
// could not open). The sheet has no Apply button and no help button in
// its caption; T::OnSheetInitialized runs once its window exists.
#include "ui/window.h"

#include <prsht.h>

#include <vector>

namespace WTL {

class CPropertySheetWindow : public ATL::CWindow {
public:
    CPropertySheetWindow(HWND hWnd = nullptr) : ATL::CWindow(hWnd) {}
    BOOL SetActivePage(int index) { return static_cast<BOOL>(SendMessage(PSM_SETCURSEL, static_cast<WPARAM>(index))); }
    HWND GetActivePage() const { return reinterpret_cast<HWND>(SendMessage(PSM_GETCURRENTPAGEHWND)); }
};

class CPropertyPageWindow : public ATL::CWindow {
public:
    CPropertyPageWindow(HWND hWnd = nullptr) : ATL::CWindow(hWnd) {}
    CPropertySheetWindow GetPropertySheet() const { return CPropertySheetWindow(::GetParent(m_hWnd)); }
};

namespace detail {
// The dialog procedure a page starts with: it ties the page object (the
// PROPSHEETPAGE's lParam) to its window at WM_INITDIALOG.
INT_PTR CALLBACK StartPageProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The sheet's callback: takes the help button out of the sheet's template
// and ties the sheet object to its window once it is initialised.
class SheetHook {
public:
    virtual void TieSheet(HWND hWnd) = 0;
    static int CALLBACK Callback(HWND hWnd, UINT uMsg, LPARAM lParam);
    static void SetCreating(SheetHook* sheet);
protected:
    ~SheetHook() = default;
};
}  // namespace detail

template <class T, class TBase = CPropertyPageWindow>
class CPropertyPageImpl : public TBase, public ATL::CWindowImplRoot {
public:
    PROPSHEETPAGEW m_psp;

    explicit CPropertyPageImpl(const wchar_t* title = nullptr) : ATL::CWindowImplRoot(this->m_hWnd), m_psp() {
        m_psp.dwSize = sizeof(m_psp);
        m_psp.dwFlags = title ? PSP_USETITLE : PSP_DEFAULT;
        m_psp.hInstance = ATL::ModuleInstance();
        m_psp.pszTemplate = MAKEINTRESOURCEW(T::IDD);
        m_psp.pszTitle = title;
        m_psp.pfnDlgProc = detail::StartPageProc;
        m_psp.lParam = reinterpret_cast<LPARAM>(static_cast<ATL::CWindowImplRoot*>(this));
    }

    HPROPSHEETPAGE Create() { return ::CreatePropertySheetPageW(&m_psp); }

    BEGIN_MSG_MAP(CPropertyPageImpl)
        MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    END_MSG_MAP()

    LRESULT OnNotify(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom != ::GetParent(this->m_hWnd)) {
            bHandled = FALSE;
            return 0;
        }
        T* self = static_cast<T*>(this);
        switch (header->code) {
        case PSN_SETACTIVE:
            return self->OnSetActive() ? 0 : -1;
        case PSN_KILLACTIVE:
            return self->OnKillActive() ? FALSE : TRUE;
        case PSN_APPLY:
            return self->OnApply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE;
        case PSN_RESET:
            self->OnReset();
            return 0;
        default:
            bHandled = FALSE;
            return 0;
        }
    }

    BOOL OnSetActive() { return TRUE; }
    BOOL OnKillActive() { return TRUE; }
    BOOL OnApply() { return TRUE; }
    void OnReset() {}
};

template <class T, class TBase = CPropertySheetWindow>
class CPropertySheetImpl : public ATL::CWindowImplBaseT<TBase, ATL::CWinTraits<0, 0>>, public detail::SheetHook {
public:
    PROPSHEETHEADERW m_psh;

    explicit CPropertySheetImpl(const wchar_t* title = nullptr, UINT startPage = 0) : m_psh() {
        m_psh.dwSize = sizeof(m_psh);
        m_psh.dwFlags = PSH_USECALLBACK | PSH_NOAPPLYNOW;
        m_psh.hInstance = ATL::ModuleInstance();
        m_psh.pszCaption = title;
        m_psh.nStartPage = startPage;
        m_psh.pfnCallback = detail::SheetHook::Callback;
    }
    ~CPropertySheetImpl() {
        // Pages never handed to a sheet window.
        for (HPROPSHEETPAGE page : m_pages) ::DestroyPropertySheetPage(page);
    }

    // Adds a page object (CPropertyPageImpl); false when its page cannot
    // be made.
    template <class TPage>
    BOOL AddPage(TPage& page) {
        HPROPSHEETPAGE handle = page.Create();
        if (!handle) return FALSE;
        m_pages.push_back(handle);
        return TRUE;
    }
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }

    INT_PTR DoModal(HWND hWndParent = ::GetActiveWindow()) {
        if (this->m_hWnd || m_pages.empty()) return -1;
        ATL::InitCommonControlsOnce();
        m_psh.hwndParent = hWndParent;
        m_psh.nPages = static_cast<UINT>(m_pages.size());
        m_psh.phpage = m_pages.data();
        detail::SheetHook::SetCreating(this);
        INT_PTR result = ::PropertySheetW(&m_psh);
        detail::SheetHook::SetCreating(nullptr);
        // The sheet destroyed the pages it was given.
        m_pages.clear();
        return result;
    }

    void OnSheetInitialized() {}

    void TieSheet(HWND hWnd) override {
        this->SubclassWindow(hWnd);
        static_cast<T*>(this)->OnSheetInitialized();
    }

    BEGIN_MSG_MAP(CPropertySheetImpl)
    END_MSG_MAP()

private:
    std::vector<HPROPSHEETPAGE> m_pages;
};

}  // namespace WTL
