// The window layer's procedures, class registration and handle helpers.
#include "ui/window.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <vector>

#include "console.h"

namespace ATL {

namespace {

// The property that ties a window to its object.
const wchar_t kObjectProperty[] = L"velmora.window";

// The object to tie to the next window this thread creates, and whether
// that is a dialog (made by the dialog manager) or a window of a class of
// ours: a control of our class inside a dialog's template must not take
// the dialog's object.
thread_local CWindowImplRoot* t_creating = nullptr;
thread_local bool t_creating_dialog = false;

CWindowImplRoot* objectOf(HWND hWnd) {
    return static_cast<CWindowImplRoot*>(::GetPropW(hWnd, kObjectProperty));
}

void reportException(UINT uMsg, const char* what) {
    console_printf("velmora: window message 0x%04x failed: %s", uMsg, what);
}

// Runs the object's message map; an exception is reported and counts as
// "not handled", so the message takes its default course.
BOOL dispatch(CWindowImplRoot* self, HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    try {
        return self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result, 0);
    } catch (const std::exception& e) {
        reportException(uMsg, e.what());
    } catch (...) {
        reportException(uMsg, "unknown error");
    }
    result = 0;
    return FALSE;
}

// Classes the module registered, unregistered when it unloads (a class
// would otherwise outlive the code of its procedure).
struct ClassRegistry {
    std::vector<ATOM> atoms;
    ~ClassRegistry() {
        for (ATOM atom : atoms) ::UnregisterClassW(MAKEINTATOM(atom), ModuleInstance());
    }
};
ClassRegistry& classRegistry() {
    static ClassRegistry registry;
    return registry;
}

}  // namespace

HINSTANCE ModuleInstance() {
    static HINSTANCE module = [] {
        HMODULE handle = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCWSTR>(&ModuleInstance), &handle);
        return handle;
    }();
    return module;
}

void InitCommonControlsOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        INITCOMMONCONTROLSEX init = {sizeof(init), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&init);
    });
}

// ---------------------------------------------------------------- CWindow
std::wstring CWindow::GetWindowText() const {
    int length = ::GetWindowTextLengthW(m_hWnd);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    int copied = ::GetWindowTextW(m_hWnd, &text[0], static_cast<int>(text.size()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

BOOL CWindow::CenterWindow(HWND center) {
    if (!center) center = ::GetWindow(m_hWnd, GW_OWNER);
    RECT self, area;
    ::GetWindowRect(m_hWnd, &self);
    if (center) {
        ::GetWindowRect(center, &area);
    } else {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    int width = self.right - self.left, height = self.bottom - self.top;
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {
BOOL modifyStyleBits(HWND hWnd, int which, DWORD remove, DWORD add) {
    DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(hWnd, which));
    DWORD changed = (style & ~remove) | add;
    if (changed == style) return FALSE;
    ::SetWindowLongPtrW(hWnd, which, static_cast<LONG_PTR>(changed));
    return TRUE;
}
}  // namespace

BOOL CWindow::ModifyStyle(DWORD remove, DWORD add) { return modifyStyleBits(m_hWnd, GWL_STYLE, remove, add); }
BOOL CWindow::ModifyStyleEx(DWORD remove, DWORD add) { return modifyStyleBits(m_hWnd, GWL_EXSTYLE, remove, add); }

// ---------------------------------------------------------------- classes
ATOM CWndClassInfo::Register(WNDPROC startProc) {
    if (atom != 0) return atom;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (superclass) {
        // Take over the system class: its procedure becomes our default
        // processing, its look stays.
        if (!::GetClassInfoExW(nullptr, superclass, &wc) && !::GetClassInfoExW(ModuleInstance(), superclass, &wc))
            return 0;
        superProc = wc.lpfnWndProc;
        // The name is ours alone, not the whole process's.
        wc.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
    } else {
        wc.style = style;
        wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = background;
        superProc = ::DefWindowProcW;
    }
    wchar_t made[48];
    if (!name) {
        std::swprintf(made, 48, L"velmora:%p", static_cast<void*>(this));
    }
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = startProc;
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = name ? name : made;
    wc.lpszMenuName = nullptr;
    atom = ::RegisterClassExW(&wc);
    if (atom != 0) classRegistry().atoms.push_back(atom);
    return atom;
}

// ---------------------------------------------------------------- reflection
LRESULT ReflectNotificationsTo(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    HWND child = nullptr;
    switch (uMsg) {
    case WM_COMMAND:
        child = reinterpret_cast<HWND>(lParam);
        break;
    case WM_NOTIFY:
        child = reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
        break;
    case WM_DRAWITEM:
        if (wParam) child = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem;
        break;
    case WM_HSCROLL:
    case WM_VSCROLL:
        child = reinterpret_cast<HWND>(lParam);
        break;
    default:
        break;
    }
    if (!child || !::IsWindow(child)) {
        bHandled = FALSE;
        return 1;
    }
    return ::SendMessageW(child, OCM__BASE + uMsg, wParam, lParam);
}

BOOL DefaultReflectionHandler(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    switch (uMsg) {
    case OCM_COMMAND:
    case OCM_NOTIFY:
    case OCM_DRAWITEM:
    case OCM_HSCROLL:
    case OCM_VSCROLL:
        lResult = ::DefWindowProcW(hWnd, uMsg - OCM__BASE, wParam, lParam);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------- window objects
CWindowImplRoot::~CWindowImplRoot() {
    if (m_handle && ::IsWindow(m_handle) && objectOf(m_handle) == this) {
        if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_handle, GWLP_WNDPROC)) == WindowProc)
            ::SetWindowLongPtrW(m_handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
        ::RemovePropW(m_handle, kObjectProperty);
    }
}

void CWindowImplRoot::SetCreating(CWindowImplRoot* object, bool dialog) {
    t_creating = object;
    t_creating_dialog = dialog;
}

void CWindowImplRoot::Tie(HWND hWnd) {
    ::SetPropW(hWnd, kObjectProperty, this);
    m_handle = hWnd;
}

void CWindowImplRoot::Untie() {
    ::RemovePropW(m_handle, kObjectProperty);
    m_destroyed = true;
}

void CWindowImplRoot::Leave(HWND hWnd) {
    if (m_depth != 0 || !m_destroyed) return;
    m_destroyed = false;
    m_handle = nullptr;
    m_pfnSuperWindowProc = ::DefWindowProcW;
    OnFinalMessage(hWnd);
}

BOOL CWindowImplRoot::Subclass(HWND hWnd) {
    if (m_handle || !::IsWindow(hWnd) || objectOf(hWnd)) return FALSE;
    Tie(hWnd);
    WNDPROC previous = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
    if (!previous) {
        ::RemovePropW(hWnd, kObjectProperty);
        m_handle = nullptr;
        return FALSE;
    }
    m_pfnSuperWindowProc = previous;
    return TRUE;
}

HWND CWindowImplRoot::Unsubclass() {
    HWND hWnd = m_handle;
    if (!hWnd) return nullptr;
    // Someone who subclassed the window after us would lose their hook.
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) != WindowProc) return nullptr;
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
    ::RemovePropW(hWnd, kObjectProperty);
    m_pfnSuperWindowProc = ::DefWindowProcW;
    m_handle = nullptr;
    return hWnd;
}

LRESULT CALLBACK CWindowImplRoot::StartWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowImplRoot* self = t_creating_dialog ? nullptr : t_creating;
    if (!self) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    t_creating = nullptr;
    self->Tie(hWnd);
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
    return WindowProc(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowImplRoot::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowImplRoot* self = objectOf(hWnd);
    if (!self) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    MSG msg = {hWnd, uMsg, wParam, lParam, 0, {0, 0}};
    const MSG* outer = self->m_pCurrentMsg;
    self->m_pCurrentMsg = &msg;
    ++self->m_depth;
    LRESULT result = 0;
    BOOL handled = dispatch(self, hWnd, uMsg, wParam, lParam, result);
    if (uMsg == WM_NCDESTROY) {
        // The window's last message: it gets its own procedure back.
        WNDPROC super = self->m_pfnSuperWindowProc;
        if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == WindowProc)
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
        if (!handled) result = ::CallWindowProcW(super, hWnd, uMsg, wParam, lParam);
        self->Untie();
    } else if (!handled) {
        result = self->DefaultProcessing(uMsg, wParam, lParam);
    }
    --self->m_depth;
    self->m_pCurrentMsg = outer;
    self->Leave(hWnd);
    return result;
}

void CWindowImplRoot::AttachDialog(HWND hWnd) {
    Tie(hWnd);
    ::SetWindowLongPtrW(hWnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(DialogProc));
}

INT_PTR CALLBACK CWindowImplRoot::StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowImplRoot* self = t_creating_dialog ? t_creating : nullptr;
    if (!self) return FALSE;
    t_creating = nullptr;
    self->AttachDialog(hWnd);
    return DialogProc(hWnd, uMsg, wParam, lParam);
}

INT_PTR CALLBACK CWindowImplRoot::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowImplRoot* self = objectOf(hWnd);
    if (!self) return FALSE;
    MSG msg = {hWnd, uMsg, wParam, lParam, 0, {0, 0}};
    const MSG* outer = self->m_pCurrentMsg;
    self->m_pCurrentMsg = &msg;
    ++self->m_depth;
    LRESULT result = 0;
    BOOL handled = dispatch(self, hWnd, uMsg, wParam, lParam, result);
    INT_PTR answer = FALSE;
    if (handled) {
        switch (uMsg) {
        // These answer through the procedure's own result.
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            answer = static_cast<INT_PTR>(result);
            break;
        default:
            ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
            answer = TRUE;
            break;
        }
    }
    if (uMsg == WM_NCDESTROY) self->Untie();
    --self->m_depth;
    self->m_pCurrentMsg = outer;
    self->Leave(hWnd);
    return answer;
}

}  // namespace ATL
