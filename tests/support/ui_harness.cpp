#if defined(_WIN32)
#include "ui_harness.h"

// GDI+ needs the property types that the lean Windows headers leave out.
#include <objidl.h>
#include <gdiplus.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "plugin/utils.h"

namespace ui_harness {

namespace {

constexpr UINT kAnswerTimeoutMs = 10000;

// SendMessage that gives up when the window's thread does not answer.
LRESULT send(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_NORMAL, kAnswerTimeoutMs, &result))
        throw std::runtime_error("a window did not answer message 0x" + std::to_string(msg) + " (error " +
                                 std::to_string(::GetLastError()) + ")");
    return static_cast<LRESULT>(result);
}

std::wstring windowText(HWND window) {
    LRESULT length = send(window, WM_GETTEXTLENGTH);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT copied = send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

// The caption as the system keeps it, without asking the window.
std::wstring storedCaption(HWND window) {
    wchar_t text[256] = {};
    ::InternalGetWindowText(window, text, 256);
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK collectProcessWindow(HWND window, LPARAM param) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window))
        reinterpret_cast<std::set<HWND>*>(param)->insert(window);
    return TRUE;
}

// Visible top-level windows of this process.
std::set<HWND> processWindows() {
    std::set<HWND> found;
    ::EnumWindows(collectProcessWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string narrow(const std::wstring& text) {
    try {
        return toUtf8(text);
    } catch (...) {
        return "?";
    }
}

// A 32-bit top-down DIB section to draw into.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    std::uint32_t* bits = nullptr;
    int width, height;

    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = ::CreateCompatibleDC(nullptr);
        void* memory = nullptr;
        bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
        bits = static_cast<std::uint32_t*>(memory);
        old = ::SelectObject(dc, bitmap);
    }
    ~Canvas() {
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
    }
    Image image() {
        ::GdiFlush();
        Image out;
        if (!bits) return out;
        out.width = width;
        out.height = height;
        out.pixels.assign(bits, bits + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        for (std::uint32_t& pixel : out.pixels) pixel &= 0x00FFFFFF;
        return out;
    }
};

std::wstring screenshotDir() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    dir = dir.substr(0, dir.find_last_of(L"\\/"));  // bin
    dir = dir.substr(0, dir.find_last_of(L"\\/"));  // the build folder
    dir += L"\\screenshots";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// The screen around a window (frame included) and `over`.
Image screenAround(HWND window, HWND over) {
    RECT area = {};
    ::GetWindowRect(window, &area);
    if (over) {
        RECT more = {};
        ::GetWindowRect(over, &more);
        ::UnionRect(&area, &area, &more);
    }
    return captureScreen(area);
}

// Neither the window nor any visible window in it has anything left to
// paint.
bool nothingToPaint(HWND window) {
    if (::GetUpdateRect(window, nullptr, FALSE)) return false;
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (::IsWindowVisible(child) && !nothingToPaint(child)) return false;
    return true;
}

// Waits (at most `timeout_ms`) until the windows have nothing left to paint
// and `capture` gives the same twice in a row, a round trip through the
// windows' threads apart; `shown` is its last picture.
bool settle(std::initializer_list<HWND> windows, const std::function<Image()>& capture, unsigned timeout_ms,
            Image& shown) {
    using clock = std::chrono::steady_clock;
    const auto end = clock::now() + std::chrono::milliseconds(timeout_ms);
    Image before;
    bool captured = false;
    for (;;) {
        bool ours = false, painted = true;
        for (HWND window : windows) {
            if (!window) continue;
            if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
                ours = true;
                pumpMessages(0);
            } else {
                // What the window's thread was sent before is served.
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now()).count();
                DWORD_PTR ignored = 0;
                if (left <= 0 || !::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(left),
                                                        &ignored))
                    return false;
            }
            painted = painted && nothingToPaint(window);
        }
        if (painted) {
            shown = capture();
            if (captured && shown.width == before.width && shown.height == before.height && shown.pixels == before.pixels)
                return true;
            before = shown;
        }
        captured = painted;
        if (clock::now() >= end) return false;
        // A moment for the painting and its way to the screen.
        if (ours)
            pumpMessages(20);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

bool displayAvailable(std::string* why) {
    const char* flag = std::getenv("VELMORA_DISPLAY");
    if (flag && *flag) return true;
    if (why) *why = "no private display: this test runs through scripts/with-display.sh (Xvfb)";
    return false;
}

void pumpMessages(unsigned ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= end) return;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}

// ---------------------------------------------------------------- HostWindow
HostWindow::HostWindow(int width, int height, const wchar_t* title) {
    RECT frame = {0, 0, width, height};
    ::AdjustWindowRectEx(&frame, ATL::CFrameWinTraits::GetWndStyle(0), FALSE, ATL::CFrameWinTraits::GetWndExStyle(0));
    RECT at = {0, 0, frame.right - frame.left, frame.bottom - frame.top};
    Create(nullptr, at, title);
    ShowWindow(SW_SHOWNORMAL);
    UpdateWindow();
}

HostWindow::~HostWindow() {
    if (m_hWnd) DestroyWindow();
}

// ---------------------------------------------------------------- pixels
COLORREF Image::at(int x, int y) const {
    std::uint32_t pixel = pixels.at(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x));
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

bool waitUntilDrawn(HWND window, HWND over, unsigned timeout_ms) {
    Image shown;
    return settle({window, over}, [=] { return screenAround(window, over); }, timeout_ms, shown);
}

Image captureDrawn(HWND window, HWND over) {
    Image shown;
    if (!settle({window, over}, [=] { return screenAround(window, over); }, kAnswerTimeoutMs, shown))
        ADD_FAILURE() << "the window \"" << narrow(storedCaption(window)) << "\" was not drawn within 10 s";
    return shown;
}

Image captureClient(HWND window) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Image shown;
    const bool drawn = settle({window}, [window] {
        RECT client = {};
        ::GetClientRect(window, &client);
        Canvas canvas(client.right, client.bottom);
        HDC screen = ::GetDC(window);
        ::BitBlt(canvas.dc, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
        ::ReleaseDC(window, screen);
        return canvas.image();
    }, kAnswerTimeoutMs, shown);
    if (!drawn) ADD_FAILURE() << "the window \"" << narrow(storedCaption(window)) << "\" was not drawn within 10 s";
    return shown;
}

Image captureScreen(const RECT& area) {
    Canvas canvas(area.right - area.left, area.bottom - area.top);
    HDC screen = ::GetDC(nullptr);
    ::BitBlt(canvas.dc, 0, 0, canvas.width, canvas.height, screen, area.left, area.top, SRCCOPY);
    ::ReleaseDC(nullptr, screen);
    return canvas.image();
}

Image printClient(HWND window) {
    RECT client = {};
    ::GetClientRect(window, &client);
    Canvas canvas(client.right, client.bottom);
    send(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc), PRF_CLIENT);
    return canvas.image();
}

Image drawText(HFONT font, const std::wstring& text, COLORREF ink, COLORREF paper) {
    HDC screen = ::GetDC(nullptr);
    HGDIOBJ was = ::SelectObject(screen, font);
    SIZE size = {};
    ::GetTextExtentPoint32W(screen, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(screen, was);
    ::ReleaseDC(nullptr, screen);
    Canvas canvas(size.cx, size.cy);
    RECT all = {0, 0, size.cx, size.cy};
    ::SetBkColor(canvas.dc, paper);
    ::ExtTextOutW(canvas.dc, 0, 0, ETO_OPAQUE, &all, nullptr, 0, nullptr);
    ::SelectObject(canvas.dc, font);
    ::SetTextColor(canvas.dc, ink);
    ::SetBkMode(canvas.dc, TRANSPARENT);
    ::TextOutW(canvas.dc, 0, 0, text.c_str(), static_cast<int>(text.size()));
    return canvas.image();
}

Image drawCaption(HWND window) {
    RECT frame = {};
    ::GetWindowRect(window, &frame);
    Canvas canvas(frame.right - frame.left, ::GetSystemMetrics(SM_CYCAPTION));
    RECT all = {0, 0, canvas.width, canvas.height};
    ::DrawCaption(window, canvas.dc, &all, DC_ACTIVE | DC_TEXT);
    return canvas.image();
}

std::string saveScreenshot(const Image& image, const std::string& name) {
    static ULONG_PTR token = [] {
        ULONG_PTR t = 0;
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&t, &input, nullptr);
        return t;
    }();
    const auto failed = [&name](const std::string& why) {
        ADD_FAILURE() << "the screenshot " << name << " was not saved: " << why;
        return std::string();
    };
    if (!token) return failed("GDI+ did not start");
    if (image.empty()) return failed("no picture");
    std::wstring path = screenshotDir() + L"\\" + fromUtf8(name) + L".png";
    std::vector<std::uint32_t> pixels = image.pixels;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromScan0(image.width, image.height, image.width * 4, PixelFormat32bppRGB,
                                                       reinterpret_cast<BYTE*>(pixels.data()), &bitmap) != Gdiplus::Ok)
        return failed("no bitmap");
    // The PNG encoder of GDI+.
    const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    Gdiplus::Status saved = Gdiplus::DllExports::GdipSaveImageToFile(bitmap, path.c_str(), &png, nullptr);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    if (saved != Gdiplus::Ok) return failed("GDI+ status " + std::to_string(static_cast<int>(saved)) + " for " + narrow(path));
    return narrow(path);
}

// ---------------------------------------------------------------- Window
HWND Window::item(int id) const {
    HWND control = ::GetDlgItem(hwnd, id);
    if (!control) throw std::runtime_error("no control " + std::to_string(id) + " in \"" + narrow(caption()) + "\"");
    return control;
}

std::wstring Window::caption() const { return windowText(hwnd); }
std::wstring Window::text(int id) const { return windowText(item(id)); }

void Window::setText(int id, const std::wstring& text) const {
    send(item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool Window::checked(int id) const { return send(item(id), BM_GETCHECK) == BST_CHECKED; }

void Window::check(int id, bool on) const {
    HWND control = item(id);
    send(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED);
    ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

int Window::selection(int id) const { return static_cast<int>(send(item(id), CB_GETCURSEL)); }

std::vector<std::wstring> Window::entries(int id) const {
    HWND control = item(id);
    std::vector<std::wstring> out;
    LRESULT count = send(control, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = send(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i));
        std::wstring entry(static_cast<std::size_t>(length) + 1, L'\0');
        send(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&entry[0]));
        entry.resize(static_cast<std::size_t>(length));
        out.push_back(entry);
    }
    return out;
}

void Window::select(int id, int index) const {
    HWND control = item(id);
    send(control, CB_SETCURSEL, static_cast<WPARAM>(index));
    ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
}

bool Window::enabled(int id) const { return ::IsWindowEnabled(item(id)) != FALSE; }
bool Window::visible(int id) const { return ::IsWindowVisible(item(id)) != FALSE; }

void Window::click(int id) const {
    ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item(id)));
}

int Window::focusId() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(hwnd, nullptr), &info)) return 0;
    HWND focus = info.hwndFocus;
    while (focus && ::GetParent(focus) != hwnd) focus = ::GetParent(focus);
    return focus ? ::GetDlgCtrlID(focus) : 0;
}

std::wstring Window::messageText() const {
    std::wstring found;
    for (HWND child = ::GetWindow(hwnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(className(child).c_str(), L"Static") != 0) continue;
        if ((::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
        std::wstring text = windowText(child);
        if (text.size() > found.size()) found = text;
    }
    return found;
}

// ---------------------------------------------------------------- Autopilot
Autopilot::Autopilot(std::vector<Step> steps, unsigned timeoutMs)
    : steps_(std::move(steps)), timeout_(timeoutMs), existing_(processWindows()) {
    thread_ = std::thread([this] { run(); });
}

Autopilot::~Autopilot() { finish(); }

std::string Autopilot::finish() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        finished_ = true;
    }
    finished_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    return failures_;
}

HWND Autopilot::waitFor(const std::wstring& caption, bool only_new) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_);
    while (std::chrono::steady_clock::now() < end) {
        for (HWND window : processWindows()) {
            if (only_new && existing_.count(window)) continue;
            if (::IsWindowEnabled(window) && storedCaption(window) == caption) {
                // One round trip through the window's thread: whatever that
                // thread was doing when the window turned up (returning
                // from a message box, ...) is done before the step acts.
                DWORD_PTR ignored = 0;
                ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs, &ignored);
                return window;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

void Autopilot::closeNewWindows(const char* why) {
    for (HWND window : processWindows()) {
        if (existing_.count(window)) continue;
        failures_ += std::string(why) + ": \"" + narrow(storedCaption(window)) + "\"\n";
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

void Autopilot::run() {
    try {
        for (Step& step : steps_) {
            HWND window = waitFor(step.caption, step.only_new);
            if (!window) {
                failures_ += "no window \"" + narrow(step.caption) + "\" appeared\n";
                closeNewWindows("window closed after a missing step");
                return;
            }
            Window found(window);
            step.action(found);
        }
    } catch (const std::exception& e) {
        failures_ += std::string("autopilot step failed: ") + e.what() + "\n";
        closeNewWindows("window closed after a failed step");
        return;
    }
    // The steps are done: the test's modal loop should end now.
    std::unique_lock<std::mutex> guard(lock_);
    if (!finished_cv_.wait_for(guard, std::chrono::milliseconds(timeout_), [this] { return finished_; })) {
        guard.unlock();
        closeNewWindows("window left open after the last step");
    }
}

}  // namespace ui_harness

#endif
