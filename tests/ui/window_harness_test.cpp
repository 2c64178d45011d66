// The window tests' own harness: a screenshot that is not saved fails its
// test, and a window counts as drawn only once its thread has painted it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ui_harness.h"

namespace {

// A window on a thread of its own, red where it is painted. Until serve()
// its thread answers sent messages but paints nothing; then it serves all
// its messages.
class PaintingThread {
public:
    PaintingThread() {
        thread_ = std::thread([this] { run(); });
        std::unique_lock<std::mutex> guard(lock_);
        made_cv_.wait(guard, [this] { return made_; });
    }
    ~PaintingThread() {
        stop_ = true;
        thread_.join();
    }
    HWND window() const { return window_; }
    void serve() { serving_ = true; }

private:
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message != WM_PAINT) return ::DefWindowProcW(window, message, wparam, lparam);
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        HBRUSH brush = ::CreateSolidBrush(RGB(200, 40, 40));
        ::FillRect(dc, &paint.rcPaint, brush);
        ::DeleteObject(brush);
        ::EndPaint(window, &paint);
        return 0;
    }

    void run() {
        WNDCLASSW kind = {};
        kind.lpfnWndProc = proc;
        kind.hInstance = ::GetModuleHandleW(nullptr);
        kind.lpszClassName = L"velmora.test.painting";
        ::RegisterClassW(&kind);
        HWND window = ::CreateWindowExW(0, kind.lpszClassName, L"Painting", WS_POPUP | WS_VISIBLE, 300, 300, 120, 80,
                                        nullptr, nullptr, kind.hInstance, nullptr);
        {
            std::lock_guard<std::mutex> guard(lock_);
            window_ = window;
            made_ = true;
        }
        made_cv_.notify_all();
        while (!stop_) {
            if (!serving_) {
                // Sent messages are served inside PeekMessage; the paint
                // (and anything posted) stays in the queue.
                MSG none;
                ::PeekMessageW(&none, nullptr, WM_APP, WM_APP, PM_REMOVE);
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
                continue;
            }
            ui_harness::pumpMessages(5);
        }
        ::DestroyWindow(window);
    }

    std::mutex lock_;
    std::condition_variable made_cv_;
    HWND window_ = nullptr;
    bool made_ = false;
    std::atomic<bool> serving_{false}, stop_{false};
    std::thread thread_;
};

}  // namespace

TEST(WindowHarness, AScreenshotThatIsNotSavedFailsItsTest) {
    VELMORA_NEED_DISPLAY();
    EXPECT_NONFATAL_FAILURE(ui_harness::saveScreenshot(ui_harness::Image(), "harness-nothing"), "was not saved");
    static ui_harness::Image red;
    red.width = red.height = 1;
    red.pixels = {0x00FF0000u};
    EXPECT_NONFATAL_FAILURE(ui_harness::saveScreenshot(red, "no-such-folder/harness-dot"), "was not saved");
}

TEST(WindowHarness, AWindowIsDrawnOnlyOnceItsThreadHasPaintedIt) {
    VELMORA_NEED_DISPLAY();
    // Its thread answers, but its paint waits: not drawn (the wait ends at
    // its bound), until the thread serves its messages.
    PaintingThread painting;
    ASSERT_NE(painting.window(), nullptr);
    EXPECT_FALSE(ui_harness::waitUntilDrawn(painting.window(), nullptr, 1000)) << "drawn with its paint pending";
    painting.serve();
    EXPECT_TRUE(ui_harness::waitUntilDrawn(painting.window()));
}
