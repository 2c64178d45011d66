#pragma once
// The main window's icon in the taskbar's notification area: a mix-in base
// of the window (T derives from ATL::CWindow through its dialog base). The
// shell reports mouse actions on the icon through a registered message,
// which T's message map hands to OnTrayIcon: a right click shows the first
// popup of the menu resource at the cursor, a double click sends the
// popup's default command to the window.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "res/resource.h"
#include "ui/controls.h"

template <class T>
class CTrayIconImpl {
public:
    CTrayIconImpl() : m_message(::RegisterWindowMessageW(L"WM_TRAYICON")) {
        m_data = NOTIFYICONDATAW{};
        m_data.cbSize = sizeof(m_data);
    }
    virtual ~CTrayIconImpl() { RemoveIcon(); }
    CTrayIconImpl(const CTrayIconImpl&) = delete;
    CTrayIconImpl& operator=(const CTrayIconImpl&) = delete;

    // Prepares the popup before it shows.
    virtual void adjustMenu(HMENU menu) { (void)menu; }

    // Adds the icon with the tooltip "Velmora", reported to T's window.
    bool InstallIcon(HICON icon) {
        m_data.hWnd = static_cast<T*>(this)->m_hWnd;
        m_data.uID = IDR_POPUPS;
        m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        m_data.uCallbackMessage = m_message;
        m_data.hIcon = icon;
        std::wcsncpy(m_data.szTip, L"Velmora", sizeof(m_data.szTip) / sizeof(m_data.szTip[0]) - 1);
        m_installed = ::Shell_NotifyIconW(NIM_ADD, &m_data) != FALSE;
        return m_installed;
    }

    bool ChangeIcon(HICON icon) {
        if (!m_installed) return false;
        m_data.hIcon = icon;
        m_data.uFlags = NIF_ICON;
        return ::Shell_NotifyIconW(NIM_MODIFY, &m_data) != FALSE;
    }

    void RemoveIcon() {
        if (!m_installed) return;
        m_data.uFlags = 0;
        ::Shell_NotifyIconW(NIM_DELETE, &m_data);
        m_installed = false;
    }

    bool IsIconInstalled() const { return m_installed; }
    HICON CurrentIcon() const { return m_data.hIcon; }
    UINT TrayMessage() const { return m_message; }

    // The registered message: wParam the icon's identifier, lParam the
    // mouse message.
    LRESULT OnTrayIcon(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
        if (wParam != IDR_POPUPS) return 0;
        T* self = static_cast<T*>(this);
        switch (LOWORD(lParam)) {
        case WM_RBUTTONUP: {
            WTL::CMenu menu;
            if (!menu.LoadMenu(IDR_POPUPS)) return 0;
            WTL::CMenuHandle popup(menu.GetSubMenu(0));
            if (popup.IsNull()) return 0;
            adjustMenu(popup);
            POINT cursor = {0, 0};
            ::GetCursorPos(&cursor);
            ::SetForegroundWindow(self->m_hWnd);
            if (m_defaultItem == 0)
                popup.SetMenuDefaultItem(0, TRUE);
            else
                popup.SetMenuDefaultItem(m_defaultItem, FALSE);
            popup.TrackPopupMenu(0, cursor.x, cursor.y, self->m_hWnd);
            ::PostMessageW(self->m_hWnd, WM_NULL, 0, 0);
            break;
        }
        case WM_LBUTTONDBLCLK: {
            ::SetForegroundWindow(self->m_hWnd);
            WTL::CMenu menu;
            if (!menu.LoadMenu(IDR_POPUPS)) return 0;
            HMENU popup = menu.GetSubMenu(0);
            if (!popup) return 0;
            UINT command = m_defaultItem != 0 ? m_defaultItem : ::GetMenuItemID(popup, 0);
            ::SendMessageW(self->m_hWnd, WM_COMMAND, MAKEWPARAM(command, 0), 0);
            break;
        }
        default:
            break;
        }
        return 0;
    }

protected:
    UINT m_message;
    NOTIFYICONDATAW m_data;
    bool m_installed = false;
    // The popup's default command; 0 means its first item.
    UINT m_defaultItem = 0;
};
