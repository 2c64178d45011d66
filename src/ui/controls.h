#pragma once
// Wrappers for the controls and menus the user interface uses: buttons,
// edits, combo boxes, list views, tab controls, trackbars, popup menus,
// and the custom-draw mix-in. Each wrapper is a window handle (TBase) with
// the control's messages as calls; a control type is the wrapper over
// ATL::CWindow (CListViewCtrl = CListViewCtrlT<ATL::CWindow>), and a window
// object of its own derives from ATL::CWindowImpl over the wrapper.
#include "ui/window.h"

#include <string>

namespace WTL {

// ---------------------------------------------------------------- buttons
template <class TBase>
class CButtonT : public TBase {
public:
    CButtonT(HWND hWnd = nullptr) : TBase(hWnd) {}
    CButtonT& operator=(HWND hWnd) { this->m_hWnd = hWnd; return *this; }

    int GetCheck() const { return static_cast<int>(this->SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { this->SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
    void Click() { this->SendMessage(BM_CLICK); }
    HICON SetIcon(HICON icon) { return reinterpret_cast<HICON>(this->SendMessage(BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon))); }
};
typedef CButtonT<ATL::CWindow> CButton;

// ---------------------------------------------------------------- edits
template <class TBase>
class CEditT : public TBase {
public:
    CEditT(HWND hWnd = nullptr) : TBase(hWnd) {}
    CEditT& operator=(HWND hWnd) { this->m_hWnd = hWnd; return *this; }

    // Line `index`, at most `maxLength` characters (EM_GETLINE).
    std::wstring GetLine(int index, int maxLength) const {
        if (maxLength <= 0) return std::wstring();
        std::wstring line(static_cast<std::size_t>(maxLength) + 1, L'\0');
        *reinterpret_cast<WORD*>(&line[0]) = static_cast<WORD>(maxLength);
        LRESULT copied = this->SendMessage(EM_GETLINE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&line[0]));
        line.resize(static_cast<std::size_t>(copied));
        return line;
    }
    void SetSel(int start, int end) { this->SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end); }
};
typedef CEditT<ATL::CWindow> CEdit;

// ---------------------------------------------------------------- combo boxes
template <class TBase>
class CComboBoxT : public TBase {
public:
    CComboBoxT(HWND hWnd = nullptr) : TBase(hWnd) {}
    CComboBoxT& operator=(HWND hWnd) { this->m_hWnd = hWnd; return *this; }

    int AddString(const wchar_t* text) { return static_cast<int>(this->SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
    int GetCount() const { return static_cast<int>(this->SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(this->SendMessage(CB_GETCURSEL)); }
    // -1 clears the selection.
    int SetCurSel(int index) { return static_cast<int>(this->SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
    std::wstring GetLBText(int index) const {
        LRESULT length = this->SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
        if (length == CB_ERR) return std::wstring();
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        LRESULT copied = this->SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
        return text;
    }
};
typedef CComboBoxT<ATL::CWindow> CComboBox;

// ---------------------------------------------------------------- list views
template <class TBase>
class CListViewCtrlT : public TBase {
public:
    CListViewCtrlT(HWND hWnd = nullptr) : TBase(hWnd) {}
    CListViewCtrlT& operator=(HWND hWnd) { this->m_hWnd = hWnd; return *this; }

    static const wchar_t* GetWndClassName() { return WC_LISTVIEWW; }

    int InsertColumn(int index, const wchar_t* title, int format = LVCFMT_LEFT, int width = -1) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_FMT | (width >= 0 ? LVCF_WIDTH : 0);
        column.fmt = format;
        column.cx = width;
        column.pszText = const_cast<wchar_t*>(title);
        return static_cast<int>(this->SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)));
    }
    BOOL DeleteColumn(int index) { return static_cast<BOOL>(this->SendMessage(LVM_DELETECOLUMN, static_cast<WPARAM>(index))); }
    BOOL SetColumnWidth(int index, int width) { return static_cast<BOOL>(this->SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(index), width)); }

    int InsertItem(int index, const wchar_t* text) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        item.pszText = const_cast<wchar_t*>(text);
        return static_cast<int>(this->SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    }
    BOOL SetItemText(int index, int subItem, const wchar_t* text) {
        LVITEMW item = {};
        item.iSubItem = subItem;
        item.pszText = const_cast<wchar_t*>(text);
        return static_cast<BOOL>(this->SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
    }
    std::wstring GetItemText(int index, int subItem) const {
        std::wstring text(256, L'\0');
        for (;;) {
            LVITEMW item = {};
            item.iSubItem = subItem;
            item.pszText = &text[0];
            item.cchTextMax = static_cast<int>(text.size());
            LRESULT copied = this->SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
            if (static_cast<std::size_t>(copied) + 1 < text.size()) {
                text.resize(static_cast<std::size_t>(copied));
                return text;
            }
            text.resize(text.size() * 2);
        }
    }
    BOOL DeleteItem(int index) { return static_cast<BOOL>(this->SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(index))); }
    BOOL DeleteAllItems() { return static_cast<BOOL>(this->SendMessage(LVM_DELETEALLITEMS)); }
    int GetItemCount() const { return static_cast<int>(this->SendMessage(LVM_GETITEMCOUNT)); }
    int GetNextItem(int start, UINT flags) const { return static_cast<int>(this->SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), static_cast<LPARAM>(flags))); }
    // The selected row, -1 for none.
    int GetSelectedIndex() const { return GetNextItem(-1, LVNI_SELECTED); }
    UINT GetItemState(int index, UINT mask) const { return static_cast<UINT>(this->SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(index), mask)); }
    BOOL SetItemState(int index, UINT state, UINT mask) {
        LVITEMW item = {};
        item.state = state;
        item.stateMask = mask;
        return static_cast<BOOL>(this->SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
    }
    BOOL EnsureVisible(int index, BOOL partialOK = FALSE) { return static_cast<BOOL>(this->SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), partialOK)); }
    // Selects and focuses the row and scrolls it into view.
    BOOL SelectItem(int index) {
        if (!SetItemState(index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED)) return FALSE;
        return EnsureVisible(index);
    }
    DWORD SetExtendedListViewStyle(DWORD style, DWORD mask = 0) {
        return static_cast<DWORD>(this->SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style));
    }
    DWORD GetExtendedListViewStyle() const { return static_cast<DWORD>(this->SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE)); }
};
typedef CListViewCtrlT<ATL::CWindow> CListViewCtrl;

// ---------------------------------------------------------------- tab controls
template <class TBase>
class CTabCtrlT : public TBase {
public:
    CTabCtrlT(HWND hWnd = nullptr) : TBase(hWnd) {}
    CTabCtrlT& operator=(HWND hWnd) { this->m_hWnd = hWnd; return *this; }

    static const wchar_t* GetWndClassName() { return WC_TABCONTROLW; }

    int InsertItem(int index, const TCITEMW* item) { return static_cast<int>(this->SendMessage(TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item))); }
    BOOL DeleteItem(int index) { return static_cast<BOOL>(this->SendMessage(TCM_DELETEITEM, static_cast<WPARAM>(index))); }
    int GetItemCount() const { return static_cast<int>(this->SendMessage(TCM_GETITEMCOUNT)); }
    int GetCurSel() const { return static_cast<int>(this->SendMessage(TCM_GETCURSEL)); }
    int SetCurSel(int index) { return static_cast<int>(this->SendMessage(TCM_SETCURSEL, static_cast<WPARAM>(index))); }
    BOOL GetItemRect(int index, RECT* rect) const { return static_cast<BOOL>(this->SendMessage(TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(rect))); }
    int GetRowCount() const { return static_cast<int>(this->SendMessage(TCM_GETROWCOUNT)); }
};
typedef CTabCtrlT<ATL::CWindow> CTabCtrl;

// ---------------------------------------------------------------- trackbars
template <class TBase>
class CTrackBarCtrlT : public TBase {
public:
    CTrackBarCtrlT(HWND hWnd = nullptr) : TBase(hWnd) {}
    CTrackBarCtrlT& operator=(HWND hWnd) { this->m_hWnd = hWnd; return *this; }

    void SetRange(int minimum, int maximum, BOOL redraw = TRUE) {
        this->SendMessage(TBM_SETRANGEMIN, FALSE, minimum);
        this->SendMessage(TBM_SETRANGEMAX, redraw, maximum);
    }
    int GetPos() const { return static_cast<int>(this->SendMessage(TBM_GETPOS)); }
    void SetPos(int position) { this->SendMessage(TBM_SETPOS, TRUE, position); }
    void SetTicFreq(int frequency) { this->SendMessage(TBM_SETTICFREQ, static_cast<WPARAM>(frequency)); }
    int SetPageSize(int size) { return static_cast<int>(this->SendMessage(TBM_SETPAGESIZE, 0, size)); }
    int SetLineSize(int size) { return static_cast<int>(this->SendMessage(TBM_SETLINESIZE, 0, size)); }
};
typedef CTrackBarCtrlT<ATL::CWindow> CTrackBarCtrl;

// ---------------------------------------------------------------- menus
// A menu handle; the managed form (CMenu) destroys its menu.
template <bool t_bManaged>
class CMenuT {
public:
    HMENU m_hMenu;

    CMenuT(HMENU menu = nullptr) : m_hMenu(menu) {}
    ~CMenuT() {
        if (t_bManaged && m_hMenu) ::DestroyMenu(m_hMenu);
    }
    CMenuT(const CMenuT&) = delete;
    CMenuT& operator=(const CMenuT&) = delete;
    operator HMENU() const { return m_hMenu; }
    bool IsNull() const { return m_hMenu == nullptr; }

    // Loads a menu of the module.
    BOOL LoadMenu(UINT id) {
        Destroy();
        m_hMenu = ::LoadMenuW(ATL::ModuleInstance(), MAKEINTRESOURCEW(id));
        return m_hMenu != nullptr;
    }
    void Destroy() {
        if (t_bManaged && m_hMenu) ::DestroyMenu(m_hMenu);
        m_hMenu = nullptr;
    }
    HMENU GetSubMenu(int position) const { return ::GetSubMenu(m_hMenu, position); }
    int GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }
    UINT GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }
    std::wstring GetMenuString(UINT item, UINT flags) const {
        wchar_t text[256] = {};
        ::GetMenuStringW(m_hMenu, item, text, 256, flags);
        return text;
    }
    // Changes an item's text, found by command id.
    BOOL SetItemText(UINT command, const wchar_t* text) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STRING;
        info.dwTypeData = const_cast<wchar_t*>(text);
        return ::SetMenuItemInfoW(m_hMenu, command, FALSE, &info);
    }
    BOOL SetMenuDefaultItem(UINT item, BOOL byPosition) { return ::SetMenuDefaultItem(m_hMenu, item, byPosition); }
    UINT GetMenuDefaultItem(BOOL byPosition = FALSE, UINT flags = 0) const { return ::GetMenuDefaultItem(m_hMenu, byPosition, flags); }
    BOOL TrackPopupMenu(UINT flags, int x, int y, HWND owner) { return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner, nullptr); }
};
typedef CMenuT<true> CMenu;
typedef CMenuT<false> CMenuHandle;

// ---------------------------------------------------------------- custom draw
// Mix-in that splits NM_CUSTOMDRAW (sent or reflected) by drawing stage;
// chain it into the control's or parent's map. Every stage not overridden
// answers CDRF_DODEFAULT.
template <class T>
class CCustomDraw {
public:
    BEGIN_MSG_MAP(CCustomDraw<T>)
        NOTIFY_CODE_HANDLER(NM_CUSTOMDRAW, OnCustomDraw)
        REFLECTED_NOTIFY_CODE_HANDLER(NM_CUSTOMDRAW, OnCustomDraw)
    END_MSG_MAP()

    LRESULT OnCustomDraw(int idCtrl, NMHDR* header, BOOL&) {
        T* self = static_cast<T*>(this);
        NMCUSTOMDRAW* draw = reinterpret_cast<NMCUSTOMDRAW*>(header);
        switch (draw->dwDrawStage) {
        case CDDS_PREPAINT:
            return self->OnPrePaint(idCtrl, draw);
        case CDDS_POSTPAINT:
            return self->OnPostPaint(idCtrl, draw);
        case CDDS_ITEMPREPAINT:
            return self->OnItemPrePaint(idCtrl, draw);
        case CDDS_ITEMPOSTPAINT:
            return self->OnItemPostPaint(idCtrl, draw);
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
            return self->OnSubItemPrePaint(idCtrl, draw);
        default:
            return CDRF_DODEFAULT;
        }
    }

    DWORD OnPrePaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }
    DWORD OnPostPaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }
    DWORD OnItemPrePaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }
    DWORD OnItemPostPaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }
    DWORD OnSubItemPrePaint(int, NMCUSTOMDRAW*) { return CDRF_DODEFAULT; }

protected:
    ~CCustomDraw() = default;
};

}  // namespace WTL
