#pragma once
// The tab view: a tab control whose tabs each own a view window that fills
// the area beside the tabs. Selecting a tab hides and disables the previous
// view and shows, enables and focuses the new one. The view windows belong
// to their own objects; the tab view only shows, hides and moves them.
//
// Attach it to a dialog's tab control with SubclassWindow (the parent must
// reflect notifications for tab clicks to switch views), or let it create
// its own window with Create (it then picks a font fitting vertical tabs).
#include <vector>

#include "ui/controls.h"
#include "ui/gdi.h"

class CWTLTabViewCtrl
    : public ATL::CWindowImpl<CWTLTabViewCtrl, WTL::CTabCtrlT<ATL::CWindow>, ATL::CControlWinTraits> {
public:
    DECLARE_WND_SUPERCLASS(nullptr, WC_TABCONTROLW)

    CWTLTabViewCtrl() = default;
    ~CWTLTabViewCtrl() override = default;

    // Appends a tab showing `label` for `view` (hidden and disabled until
    // its tab is selected; the first tab becomes active at once). A
    // non-zero `user` value becomes the tab's item data. Returns the tab's
    // index, -1 when the control refused the tab.
    int AddTab(const wchar_t* label, HWND view, LPARAM user = 0);
    // Makes the tab active; an index outside the tabs or the active one
    // does nothing.
    void SetActiveTab(int index);
    // Removes the tab and returns its view (hidden and disabled when it was
    // the active one; never destroyed), null for an index outside the tabs.
    // Removing the active tab activates the one before it (the new first
    // when it was the first); the active tab stays the same tab when one
    // before it goes.
    HWND RemoveTab(int index);
    // Moves every view to the view rectangle.
    void UpdateViews();

    int GetActiveTab() const { return m_activeTab; }
    HWND GetActiveView() const { return m_activeView; }
    int GetTabCount() const { return static_cast<int>(m_views.size()); }
    HWND GetView(int index) const { return index >= 0 && index < GetTabCount() ? m_views[static_cast<std::size_t>(index)] : nullptr; }

    // Called before a tab is removed.
    virtual void OnTabRemoved(int /*index*/) {}

    BEGIN_MSG_MAP(CWTLTabViewCtrl)
        MESSAGE_HANDLER(WM_CREATE, OnCreate)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        MESSAGE_HANDLER(WM_WINDOWPOSCHANGED, OnWindowPosChanged)
        REFLECTED_NOTIFY_CODE_HANDLER(TCN_SELCHANGE, OnSelectionChanged)
        DEFAULT_REFLECTION_HANDLER()
    END_MSG_MAP()

private:
    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled);
    LRESULT OnWindowPosChanged(UINT, WPARAM, LPARAM, BOOL& bHandled);
    LRESULT OnSelectionChanged(int, NMHDR*, BOOL&);

    // The area the views fill: the client area less the rows of tabs and a
    // margin on the other sides.
    RECT ViewRect() const;

    const int m_viewMargin = 3;
    const int m_tabAreaExtra = 5;
    std::vector<HWND> m_views;
    int m_activeTab = -1;
    HWND m_activeView = nullptr;
    WTL::CFont m_horizontalFont;
    WTL::CFont m_leftFont;   // rotated by 90 degrees
    WTL::CFont m_rightFont;  // rotated by 270 degrees
};
