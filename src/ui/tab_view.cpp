#include "ui/tab_view.h"

int CWTLTabViewCtrl::AddTab(const wchar_t* label, HWND view, LPARAM user) {
    ::EnableWindow(view, FALSE);
    ::ShowWindow(view, SW_HIDE);
    m_views.push_back(view);

    TCITEMW item = {};
    item.mask = TCIF_TEXT | (user != 0 ? TCIF_PARAM : 0);
    item.pszText = const_cast<wchar_t*>(label);
    item.lParam = user;
    int index = InsertItem(32768, &item);
    if (index < 0) {
        m_views.pop_back();
        return -1;
    }
    RECT rect = ViewRect();
    ::MoveWindow(view, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    if (m_views.size() == 1) SetActiveTab(0);
    return index;
}

void CWTLTabViewCtrl::SetActiveTab(int index) {
    if (index < 0 || index >= GetTabCount() || index == m_activeTab) return;
    if (m_activeView && ::IsWindow(m_activeView)) {
        ::EnableWindow(m_activeView, FALSE);
        ::ShowWindow(m_activeView, SW_HIDE);
    }
    HWND view = m_views[static_cast<std::size_t>(index)];
    ::EnableWindow(view, TRUE);
    ::ShowWindow(view, SW_SHOW);
    ::SetFocus(view);
    ::InvalidateRect(view, nullptr, TRUE);
    m_activeTab = index;
    m_activeView = view;
    SetCurSel(index);
}

HWND CWTLTabViewCtrl::RemoveTab(int index) {
    int count = GetTabCount();
    if (index < 0 || index >= count) return nullptr;
    HWND view = m_views[static_cast<std::size_t>(index)];
    int next = -1;
    if (index == m_activeTab) {
        // The removed view leaves the screen with its tab.
        if (::IsWindow(view)) {
            ::EnableWindow(view, FALSE);
            ::ShowWindow(view, SW_HIDE);
        }
        m_activeTab = -1;
        m_activeView = nullptr;
        if (count > 1) next = index == 0 ? 0 : index - 1;
    } else if (index < m_activeTab) {
        --m_activeTab;
    }
    OnTabRemoved(index);
    m_views.erase(m_views.begin() + index);
    if (IsWindow()) DeleteItem(index);
    SetActiveTab(next);
    return view;
}

void CWTLTabViewCtrl::UpdateViews() {
    RECT rect = ViewRect();
    for (HWND view : m_views)
        ::MoveWindow(view, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

RECT CWTLTabViewCtrl::ViewRect() const {
    RECT rect = {};
    GetClientRect(&rect);
    if (rect.right - rect.left < 1 || rect.bottom - rect.top < 1) return rect;

    RECT tab = {};
    GetItemRect(0, &tab);
    int rows = GetRowCount();
    int areaHeight = (tab.bottom - tab.top) * rows + m_tabAreaExtra;
    int areaWidth = (tab.right - tab.left) * rows + m_tabAreaExtra;
    DWORD style = GetStyle();
    bool vertical = (style & TCS_VERTICAL) != 0;
    bool bottomOrRight = (style & TCS_BOTTOM) != 0;
    if (!vertical && !bottomOrRight) {
        rect.top += areaHeight;
        rect.left += m_viewMargin;
        rect.right -= m_viewMargin;
        rect.bottom -= m_viewMargin;
    } else if (!vertical) {
        rect.top += m_viewMargin;
        rect.left += m_viewMargin;
        rect.right -= m_viewMargin;
        rect.bottom -= areaHeight;
    } else if (!bottomOrRight) {
        rect.top += m_viewMargin;
        rect.left += areaWidth;
        rect.right -= m_viewMargin;
        rect.bottom -= m_viewMargin;
    } else {
        rect.top += m_viewMargin;
        rect.left += m_viewMargin;
        rect.right -= areaWidth;
        rect.bottom -= m_viewMargin;
    }
    return rect;
}

LRESULT CWTLTabViewCtrl::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    LRESULT result = DefWindowProc();
    if (result == -1) return -1;
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    m_horizontalFont.CreateFontIndirect(&font);
    font.lfEscapement = font.lfOrientation = 900;
    m_leftFont.CreateFontIndirect(&font);
    font.lfEscapement = font.lfOrientation = 2700;
    m_rightFont.CreateFontIndirect(&font);

    DWORD style = GetStyle();
    if ((style & TCS_VERTICAL) && (style & TCS_RIGHT)) {
        SetFont(m_rightFont);
    } else if (style & TCS_VERTICAL) {
        SetFont(m_leftFont);
    } else {
        SetFont(m_horizontalFont);
    }
    return result;
}

LRESULT CWTLTabViewCtrl::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    for (int i = GetTabCount() - 1; i >= 0; --i) RemoveTab(i);
    bHandled = FALSE;
    return 0;
}

LRESULT CWTLTabViewCtrl::OnWindowPosChanged(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    UpdateViews();
    bHandled = FALSE;
    return 0;
}

LRESULT CWTLTabViewCtrl::OnSelectionChanged(int, NMHDR*, BOOL&) {
    SetActiveTab(GetCurSel());
    return 0;
}
