#pragma once
// Harness for tests of the Win32 user interface under Wine on a private X
// display (scripts/with-display.sh starts it; a test directory holding a
// USES_DISPLAY file is run that way):
//   - VELMORA_NEED_DISPLAY(): fails (CI) or skips a test without display;
//   - HostWindow: a visible top-level window to parent controls and
//     dialogs, reflecting its children's notifications back to them;
//   - Autopilot: drives modal dialogs and message boxes from its own
//     thread while the test's thread sits in the modal loop;
//   - captureClient / printClient: pixels of a window, to assert on and to
//     save as PNG under <build>/screenshots.
#if defined(_WIN32)
#include <windows.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "peers.h"
#include "ui/window.h"

namespace ui_harness {

// True when the program runs on a display that can show windows.
bool displayAvailable(std::string* why);

#define VELMORA_NEED_DISPLAY()                                  \
    do {                                                        \
        std::string why_;                                       \
        if (!ui_harness::displayAvailable(&why_)) {             \
            if (peers::required()) FAIL() << why_;              \
            GTEST_SKIP() << why_;                               \
        }                                                       \
    } while (0)

// Runs this thread's window messages for `ms` milliseconds.
void pumpMessages(unsigned ms);

// A visible top-level window at the screen's top-left corner whose client
// area is `width` x `height`; notifications of its children are reflected
// back to them.
class HostWindow : public ATL::CWindowImpl<HostWindow, ATL::CWindow, ATL::CFrameWinTraits> {
public:
    DECLARE_WND_CLASS(L"velmora.test.host")
    HostWindow(int width, int height, const wchar_t* title = L"Velmora test");
    ~HostWindow() override;

    BEGIN_MSG_MAP(HostWindow)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()
};

// ---------------------------------------------------------------- pixels
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top row first

    bool empty() const { return pixels.empty(); }
    COLORREF at(int x, int y) const;  // as RGB(r, g, b)
};

// Waits (at most `timeout_ms`) until `window`, and `over` when given (a
// message box, a menu over it), are drawn: their threads have served what
// they were sent before, nothing in them waits to be painted, and the
// screen shows the same over them twice in a row. False when that does
// not come: what the screen shows then is no picture of them.
bool waitUntilDrawn(HWND window, HWND over = nullptr, unsigned timeout_ms = 10000);
// What the screen shows of the window's client area, children included
// (the window is repainted first, and fails the test when it is not drawn
// again within 10 s; it must be visible and uncovered).
Image captureClient(HWND window);
// What the screen shows in a rectangle of screen coordinates (for a window
// together with the message box over it, or a popup menu).
Image captureScreen(const RECT& area);
// What the screen shows around `window` (frame and caption included) and
// `over`, once both are drawn (waitUntilDrawn); fails the test when they
// are not drawn within 10 s.
Image captureDrawn(HWND window, HWND over = nullptr);
// The client area as the window paints it for WM_PRINTCLIENT into memory.
Image printClient(HWND window);
// A text drawn in `font` and `ink` on `paper`, on a canvas just its size.
Image drawText(HFONT font, const std::wstring& text, COLORREF ink, COLORREF paper);
// The window's caption bar as the system draws it for the active window
// (its text in the caption font, no icon or buttons), into memory.
Image drawCaption(HWND window);
// Writes <build>/screenshots/<name>.png; returns its path. A screenshot
// that is not saved fails the test and returns "".
std::string saveScreenshot(const Image& image, const std::string& name);

// ---------------------------------------------------------------- autopilot
// A window the autopilot found, driven from the autopilot's thread through
// messages that the window's thread serves. Controls are found by id; a
// missing control or a window that does not answer within 10 s throws.
class Window {
public:
    explicit Window(HWND window) : hwnd(window) {}
    HWND hwnd;

    HWND item(int id) const;
    std::wstring caption() const;
    std::wstring text(int id) const;
    void setText(int id, const std::wstring& text) const;
    bool checked(int id) const;
    // Sets the check box and tells the dialog as a click would.
    void check(int id, bool on) const;
    // The combo box's selected entry (-1 for none) and its entries.
    int selection(int id) const;
    std::vector<std::wstring> entries(int id) const;
    // Selects an entry and tells the dialog as the user's choice would.
    void select(int id, int index) const;
    bool enabled(int id) const;
    bool visible(int id) const;
    // Presses the button: its command is posted to the window, so a press
    // that opens a modal window does not hold the autopilot.
    void click(int id) const;
    // The id of the window's control that holds the keyboard focus (the
    // control itself for the edit field inside a combo box), 0 for none.
    int focusId() const;
    // The text of a message box.
    std::wstring messageText() const;
};

struct Step {
    std::wstring caption;                // of a visible, enabled top-level window of this process
    std::function<void(Window&)> action;  // runs on the autopilot's thread
    // Only a window that was not there when the autopilot started (a
    // message box captioned like the window that owns it).
    bool only_new = false;
};

// Runs the steps in order on a thread of its own, starting at once: each
// waits for its window and acts on it. finish() (or the destructor) waits
// for the steps and closes what they left open, so a test never hangs in
// a modal loop.
class Autopilot {
public:
    explicit Autopilot(std::vector<Step> steps, unsigned timeoutMs = 15000);
    ~Autopilot();
    Autopilot(const Autopilot&) = delete;
    Autopilot& operator=(const Autopilot&) = delete;

    // What went wrong ("" when every step ran and no window was left open).
    std::string finish();

private:
    void run();
    HWND waitFor(const std::wstring& caption, bool only_new);
    void closeNewWindows(const char* why);

    std::vector<Step> steps_;
    unsigned timeout_;
    std::set<HWND> existing_;
    std::mutex lock_;
    std::condition_variable finished_cv_;
    bool finished_ = false;
    std::string failures_;
    std::thread thread_;
};

}  // namespace ui_harness

#endif
