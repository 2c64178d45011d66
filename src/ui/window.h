#pragma once
// The window layer's core: a handle wrapper (CWindow), window objects that
// create their own window or subclass an existing one (CWindowImpl), modal
// and modeless dialogs (CDialogImpl), and message maps with command,
// notify and reflected-notify handlers and chained maps.
//
// A window object is tied to its window from the window's first message
// (or from SubclassWindow) until WM_NCDESTROY, after which OnFinalMessage
// runs. Every window and dialog procedure of the layer catches what a
// handler throws, prints it on the console and lets the message take its
// default course: no exception reaches the system.
//
// Resources (dialogs, menus, icons) come from ModuleInstance(), the module
// this code is linked into: velmora.dll in the product, never the host.
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace ATL {

// The module that holds this code.
HINSTANCE ModuleInstance();

// Registers the common control classes (list view, tab, trackbar) once.
void InitCommonControlsOnce();

// ---------------------------------------------------------------- CWindow
// A window handle with the calls the user interface makes on it. Copying
// copies the handle; nothing is owned.
class CWindow {
public:
    HWND m_hWnd;

    CWindow(HWND hWnd = nullptr) : m_hWnd(hWnd) {}
    CWindow& operator=(HWND hWnd) { m_hWnd = hWnd; return *this; }
    operator HWND() const { return m_hWnd; }

    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach() { HWND h = m_hWnd; m_hWnd = nullptr; return h; }
    BOOL IsWindow() const { return ::IsWindow(m_hWnd); }

    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const { return ::SendMessageW(m_hWnd, msg, wParam, lParam); }
    BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const { return ::PostMessageW(m_hWnd, msg, wParam, lParam); }

    CWindow GetDlgItem(int id) const { return CWindow(::GetDlgItem(m_hWnd, id)); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    CWindow GetParent() const { return CWindow(::GetParent(m_hWnd)); }

    BOOL SetWindowText(const wchar_t* text) { return ::SetWindowTextW(m_hWnd, text); }
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    // The whole text of the window (of any length).
    std::wstring GetWindowText() const;
    BOOL SetDlgItemText(int id, const wchar_t* text) { return ::SetDlgItemTextW(m_hWnd, id, text); }
    std::wstring GetDlgItemText(int id) const { return GetDlgItem(id).GetWindowText(); }
    BOOL CheckDlgButton(int id, UINT check) { return ::CheckDlgButton(m_hWnd, id, check); }
    UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }

    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }

    BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(m_hWnd, rect); }
    BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(m_hWnd, rect); }
    BOOL ClientToScreen(POINT* point) const { return ::ClientToScreen(m_hWnd, point); }
    BOOL ScreenToClient(POINT* point) const { return ::ScreenToClient(m_hWnd, point); }
    BOOL MoveWindow(const RECT& rect, BOOL repaint = TRUE) {
        return ::MoveWindow(m_hWnd, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, repaint);
    }
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) { return ::MoveWindow(m_hWnd, x, y, width, height, repaint); }
    BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) { return ::SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags); }
    // Centres the window over `center` (its owner when null).
    BOOL CenterWindow(HWND center = nullptr);

    BOOL Invalidate(BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, nullptr, erase); }
    BOOL InvalidateRect(const RECT* rect, BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, rect, erase); }
    BOOL UpdateWindow() { return ::UpdateWindow(m_hWnd); }

    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add);
    BOOL ModifyStyleEx(DWORD remove, DWORD add);

    HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
    void SetFont(HFONT font, BOOL redraw = TRUE) { SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw); }
    HICON SetIcon(HICON icon, BOOL big = TRUE) { return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon))); }

    int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type = MB_OK) { return ::MessageBoxW(m_hWnd, text, caption, type); }
};

// ---------------------------------------------------------------- traits
template <DWORD t_dwStyle = 0, DWORD t_dwExStyle = 0>
struct CWinTraits {
    static DWORD GetWndStyle(DWORD style) { return style == 0 ? t_dwStyle : style; }
    static DWORD GetWndExStyle(DWORD exStyle) { return exStyle == 0 ? t_dwExStyle : exStyle; }
};
// Child controls: child, visible, clipping children and siblings.
typedef CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0> CControlWinTraits;
// Top-level frames.
typedef CWinTraits<WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE> CFrameWinTraits;

// ---------------------------------------------------------------- classes
// A window class of the layer, registered at the first Create with the
// module's instance and unregistered when the module unloads. With a
// superclass, the new class takes over that class's procedure as its
// default processing (list views with a class name of their own, ...).
struct CWndClassInfo {
    const wchar_t* name;        // null: a name is made up
    const wchar_t* superclass;  // null: a class of its own
    UINT style;
    HBRUSH background;
    // Filled by Register.
    ATOM atom;
    WNDPROC superProc;

    // Registers the class once; returns its atom (0 on failure) and sets
    // `superProc` to the procedure that does the default processing.
    ATOM Register(WNDPROC startProc);
};

#define DECLARE_WND_CLASS(WndClassName)                                                              \
    static ATL::CWndClassInfo& GetWndClassInfo() {                                                   \
        static ATL::CWndClassInfo wc = {WndClassName, nullptr, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, \
                                        reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), 0, nullptr};     \
        return wc;                                                                                   \
    }
#define DECLARE_WND_SUPERCLASS(WndClassName, OrigWndClassName)                            \
    static ATL::CWndClassInfo& GetWndClassInfo() {                                        \
        static ATL::CWndClassInfo wc = {WndClassName, OrigWndClassName, 0, nullptr, 0, nullptr}; \
        return wc;                                                                        \
    }

// ---------------------------------------------------------------- messages
// Reflected messages: a parent with REFLECT_NOTIFICATIONS() sends the
// control's own notifications back to it as OCM_* messages.
constexpr UINT OCM__BASE = WM_USER + 0x1c00;
constexpr UINT OCM_COMMAND = OCM__BASE + WM_COMMAND;
constexpr UINT OCM_NOTIFY = OCM__BASE + WM_NOTIFY;
constexpr UINT OCM_DRAWITEM = OCM__BASE + WM_DRAWITEM;
constexpr UINT OCM_HSCROLL = OCM__BASE + WM_HSCROLL;
constexpr UINT OCM_VSCROLL = OCM__BASE + WM_VSCROLL;

class CMessageMap {
public:
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD dwMsgMapID = 0) = 0;
protected:
    ~CMessageMap() = default;
};

// Message map macros. Handlers:
//   MESSAGE_HANDLER                LRESULT f(UINT msg, WPARAM, LPARAM, BOOL& handled)
//   COMMAND_*                      LRESULT f(WORD code, WORD id, HWND control, BOOL& handled)
//   NOTIFY_* (also reflected)      LRESULT f(int id, NMHDR* header, BOOL& handled)
// A handler that sets `handled` to FALSE lets the map go on looking.
#define BEGIN_MSG_MAP(theClass)                                                                   \
public:                                                                                           \
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult, \
                              DWORD dwMsgMapID = 0) {                                             \
        BOOL bHandled = TRUE;                                                                     \
        (void)hWnd; (void)uMsg; (void)wParam; (void)lParam; (void)lResult; (void)bHandled;        \
        (void)dwMsgMapID;

#define MESSAGE_HANDLER(msg, func)                              \
    if (uMsg == (msg)) {                                        \
        bHandled = TRUE;                                        \
        lResult = func(uMsg, wParam, lParam, bHandled);         \
        if (bHandled) return TRUE;                              \
    }

#define COMMAND_HANDLER(id, code, func)                                                             \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) {                 \
        bHandled = TRUE;                                                                            \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
        if (bHandled) return TRUE;                                                                  \
    }

#define COMMAND_ID_HANDLER(id, func)                                                                \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                             \
        bHandled = TRUE;                                                                            \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
        if (bHandled) return TRUE;                                                                  \
    }

#define COMMAND_CODE_HANDLER(code, func)                                                            \
    if (uMsg == WM_COMMAND && HIWORD(wParam) == (code)) {                                           \
        bHandled = TRUE;                                                                            \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
        if (bHandled) return TRUE;                                                                  \
    }

#define NOTIFY_HANDLER(id, cd, func)                                                                    \
    if (uMsg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->idFrom == static_cast<UINT_PTR>(id) &&     \
        reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(cd)) {                              \
        bHandled = TRUE;                                                                                \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), bHandled);           \
        if (bHandled) return TRUE;                                                                      \
    }

#define NOTIFY_CODE_HANDLER(cd, func)                                                           \
    if (uMsg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(cd)) { \
        bHandled = TRUE;                                                                        \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), bHandled);   \
        if (bHandled) return TRUE;                                                              \
    }

#define REFLECTED_COMMAND_CODE_HANDLER(code, func)                                                  \
    if (uMsg == ATL::OCM_COMMAND && HIWORD(wParam) == (code)) {                                     \
        bHandled = TRUE;                                                                            \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);   \
        if (bHandled) return TRUE;                                                                  \
    }

#define REFLECTED_NOTIFY_CODE_HANDLER(cd, func)                                                      \
    if (uMsg == ATL::OCM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(cd)) { \
        bHandled = TRUE;                                                                             \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), bHandled);        \
        if (bHandled) return TRUE;                                                                   \
    }

#define CHAIN_MSG_MAP(theChainClass)                                                         \
    if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define CHAIN_MSG_MAP_MEMBER(theChainMember)                                                 \
    if ((theChainMember).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

// Sends the notifications of child controls (WM_COMMAND, WM_NOTIFY,
// WM_DRAWITEM, WM_HSCROLL, WM_VSCROLL) back to the control as OCM_*.
#define REFLECT_NOTIFICATIONS()                                             \
    {                                                                       \
        bHandled = TRUE;                                                    \
        lResult = this->ReflectNotifications(uMsg, wParam, lParam, bHandled); \
        if (bHandled) return TRUE;                                          \
    }

// In a control's map: OCM_* messages nobody handled get the default answer.
#define DEFAULT_REFLECTION_HANDLER()                                                               \
    if (ATL::DefaultReflectionHandler(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;

#define END_MSG_MAP() \
        return FALSE; \
    }

LRESULT ReflectNotificationsTo(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
BOOL DefaultReflectionHandler(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

// ---------------------------------------------------------------- window objects
// What every window and dialog object shares: the tie between object and
// window, the current message, and the procedures. Not copyable.
class CWindowImplRoot : public CMessageMap {
public:
    WNDPROC m_pfnSuperWindowProc = ::DefWindowProcW;
    const MSG* m_pCurrentMsg = nullptr;

    CWindowImplRoot(const CWindowImplRoot&) = delete;
    CWindowImplRoot& operator=(const CWindowImplRoot&) = delete;
    // An object that dies before its window gives the window back its own
    // procedure first.
    virtual ~CWindowImplRoot();

    // Runs after the window's last message (WM_NCDESTROY), once the object
    // is no longer tied to it; may delete the object.
    virtual void OnFinalMessage(HWND) {}

    LRESULT ReflectNotifications(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
        return ReflectNotificationsTo(uMsg, wParam, lParam, bHandled);
    }

    // Procedures (for the layer's templates).
    static LRESULT CALLBACK StartWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    // Ties a dialog window (made by the system from a template) to this
    // object; its messages then reach the message map.
    void AttachDialog(HWND hWnd);
    // The object about to be tied to the next window (or dialog) this
    // thread creates; null when done.
    static void SetCreating(CWindowImplRoot* object, bool dialog = false);

protected:
    explicit CWindowImplRoot(HWND& handle) : m_handle(handle) {}

    BOOL Subclass(HWND hWnd);
    HWND Unsubclass();
    LRESULT DefaultProcessing(UINT uMsg, WPARAM wParam, LPARAM lParam) {
        return ::CallWindowProcW(m_pfnSuperWindowProc, m_handle, uMsg, wParam, lParam);
    }

private:
    void Tie(HWND hWnd);
    void Untie();
    // After a message: the deferred end of a window destroyed meanwhile.
    void Leave(HWND hWnd);

    HWND& m_handle;  // the m_hWnd of the object's window base
    int m_depth = 0;
    bool m_destroyed = false;
};

// A window object over a window base (CWindow or a control wrapper).
template <class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImplBaseT : public TBase, public CWindowImplRoot {
public:
    CWindowImplBaseT() : CWindowImplRoot(this->m_hWnd) {}

    // Routes the existing window's messages through this object's map
    // first; the window's own procedure does the default processing.
    BOOL SubclassWindow(HWND hWnd) { return Subclass(hWnd); }
    HWND UnsubclassWindow() { return Unsubclass(); }

    LRESULT DefWindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam) { return DefaultProcessing(uMsg, wParam, lParam); }
    // Default processing of the message being handled.
    LRESULT DefWindowProc() {
        return m_pCurrentMsg ? DefaultProcessing(m_pCurrentMsg->message, m_pCurrentMsg->wParam, m_pCurrentMsg->lParam) : 0;
    }
};

template <class T, class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImpl : public CWindowImplBaseT<TBase, TWinTraits> {
public:
    DECLARE_WND_CLASS(nullptr)

    // Creates the window with the class of T (registered on first use);
    // a zero style or extended style takes the traits' one.
    HWND Create(HWND hWndParent, RECT rect = RECT{}, const wchar_t* windowName = nullptr, DWORD style = 0,
                DWORD exStyle = 0, UINT id = 0, void* createParam = nullptr) {
        CWndClassInfo& info = T::GetWndClassInfo();
        InitCommonControlsOnce();
        ATOM atom = info.Register(CWindowImplRoot::StartWindowProc);
        if (atom == 0 || this->m_hWnd) return nullptr;
        this->m_pfnSuperWindowProc = info.superProc;
        CWindowImplRoot::SetCreating(this);
        HWND hWnd = ::CreateWindowExW(TWinTraits::GetWndExStyle(exStyle), MAKEINTATOM(atom), windowName,
                                      TWinTraits::GetWndStyle(style), rect.left, rect.top, rect.right - rect.left,
                                      rect.bottom - rect.top, hWndParent,
                                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ModuleInstance(), createParam);
        CWindowImplRoot::SetCreating(nullptr);
        return hWnd;
    }
};

// ---------------------------------------------------------------- dialogs
// A dialog from template T::IDD of the module, modal (DoModal) or modeless
// (Create). Handlers that leave `handled` TRUE answer the message; the
// dialog manager does the rest.
template <class T, class TBase = CWindow>
class CDialogImpl : public TBase, public CWindowImplRoot {
public:
    CDialogImpl() : CWindowImplRoot(this->m_hWnd) {}

    INT_PTR DoModal(HWND hWndParent = ::GetActiveWindow(), LPARAM initParam = 0) {
        if (this->m_hWnd) return -1;
        InitCommonControlsOnce();
        CWindowImplRoot::SetCreating(this, true);
        INT_PTR result = ::DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(T::IDD), hWndParent,
                                           CWindowImplRoot::StartDialogProc, initParam);
        CWindowImplRoot::SetCreating(nullptr);
        return result;
    }
    BOOL EndDialog(INT_PTR result) { return ::EndDialog(this->m_hWnd, result); }

    HWND Create(HWND hWndParent, LPARAM initParam = 0) {
        if (this->m_hWnd) return nullptr;
        InitCommonControlsOnce();
        CWindowImplRoot::SetCreating(this, true);
        HWND hWnd = ::CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(T::IDD), hWndParent,
                                         CWindowImplRoot::StartDialogProc, initParam);
        CWindowImplRoot::SetCreating(nullptr);
        return hWnd;
    }
};

}  // namespace ATL
