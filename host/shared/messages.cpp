// Window messages on Linux: the one set of message queues of the process,
// shared by the player and every component it loads.
#if !defined(_WIN32)
#include "win32/messages.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct queue {
    std::condition_variable wake;
    std::deque<MSG> posted;
    bool quit = false;
    int quit_code = 0;
};

struct window {
    WNDPROC procedure;
    DWORD thread;
    LONG_PTR user_data = 0;
};

// Everything under one lock. Made once and never freed: threads may still
// end (and drop their queue) while the process is shutting down.
struct state {
    std::mutex lock;
    std::map<DWORD, std::shared_ptr<queue>> queues;
    std::map<std::wstring, WNDPROC> classes;
    std::map<HWND, window> windows;
    std::uintptr_t next_window = 0x10000;
};

state& shared() {
    static state* s = new state();
    return *s;
}

DWORD thread_id() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

DWORD now_ms() {
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
}

// The calling thread's queue, made on first use and dropped when the thread
// ends.
class thread_queue {
public:
    thread_queue() : m_id(thread_id()), m_queue(std::make_shared<queue>()) {
        std::lock_guard<std::mutex> guard(shared().lock);
        shared().queues[m_id] = m_queue;
    }
    ~thread_queue() {
        std::lock_guard<std::mutex> guard(shared().lock);
        auto it = shared().queues.find(m_id);
        if (it != shared().queues.end() && it->second == m_queue) shared().queues.erase(it);
    }
    queue& get() { return *m_queue; }

private:
    DWORD m_id;
    std::shared_ptr<queue> m_queue;
};

queue& own_queue() {
    thread_local thread_queue mine;
    return mine.get();
}

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

bool passes(const MSG& m, HWND window, UINT low, UINT high) {
    if (window == kThreadMessagesOnly) {
        if (m.hwnd) return false;
    } else if (window && m.hwnd != window) {
        return false;
    }
    return (low == 0 && high == 0) || (m.message >= low && m.message <= high);
}

// Takes (or with `remove` false, copies) the first message that passes;
// the quit request once no posted message passes. Called with the lock
// held.
bool take(queue& q, MSG* out, HWND window, UINT low, UINT high, bool remove) {
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (!passes(*it, window, low, high)) continue;
        *out = *it;
        if (remove) q.posted.erase(it);
        return true;
    }
    if (q.quit) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quit_code), 0, now_ms(), {0, 0}};
        if (remove) q.quit = false;
        return true;
    }
    return false;
}

bool post_to(DWORD thread, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.queues.find(thread);
    if (it == s.queues.end()) return false;
    it->second->posted.push_back(MSG{window, message, wparam, lparam, now_ms(), {0, 0}});
    it->second->wake.notify_all();
    return true;
}

// The window's procedure when it lives and belongs to the calling thread.
WNDPROC own_procedure(HWND w) {
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.windows.find(w);
    if (it == s.windows.end() || it->second.thread != thread_id()) return nullptr;
    return it->second.procedure;
}

} // namespace

DWORD GetCurrentThreadId() { return thread_id(); }

ATOM RegisterClassW(const WNDCLASSW* c) {
    if (!c || !c->lpszClassName || !c->lpfnWndProc) return 0;
    own_queue();
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.classes.emplace(c->lpszClassName, c->lpfnWndProc).second) return 0;
    return static_cast<ATOM>(0xC000 + s.classes.size());
}

BOOL UnregisterClassW(LPCWSTR name, HINSTANCE) {
    if (!name) return FALSE;
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.classes.erase(name) ? TRUE : FALSE;
}

HWND CreateWindowExW(DWORD, LPCWSTR class_name, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
    if (!class_name) return nullptr;
    own_queue();
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    auto c = s.classes.find(class_name);
    if (c == s.classes.end()) return nullptr;
    // Handles are never reused, so a stale one names no window.
    HWND w = reinterpret_cast<HWND>(s.next_window);
    s.next_window += 4;
    s.windows.emplace(w, window{c->second, thread_id()});
    return w;
}

BOOL DestroyWindow(HWND w) {
    WNDPROC procedure = own_procedure(w);
    if (!procedure) return FALSE;
    procedure(w, WM_DESTROY, 0, 0);
    procedure(w, WM_NCDESTROY, 0, 0);
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    s.windows.erase(w);
    auto q = s.queues.find(thread_id());
    if (q != s.queues.end()) {
        auto& posted = q->second->posted;
        posted.erase(std::remove_if(posted.begin(), posted.end(), [w](const MSG& m) { return m.hwnd == w; }),
                     posted.end());
    }
    return TRUE;
}

BOOL IsWindow(HWND w) {
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.windows.count(w) ? TRUE : FALSE;
}

LRESULT DefWindowProcW(HWND w, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(w);
    return 0;
}

LONG_PTR SetWindowLongPtrW(HWND w, int index, LONG_PTR value) {
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.windows.find(w);
    if (it == s.windows.end() || index != GWLP_USERDATA) return 0;
    LONG_PTR old = it->second.user_data;
    it->second.user_data = value;
    return old;
}

LONG_PTR GetWindowLongPtrW(HWND w, int index) {
    state& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.windows.find(w);
    if (it == s.windows.end() || index != GWLP_USERDATA) return 0;
    return it->second.user_data;
}

BOOL PostMessageW(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!w) {
        own_queue();
        return post_to(thread_id(), nullptr, message, wparam, lparam) ? TRUE : FALSE;
    }
    DWORD thread;
    {
        state& s = shared();
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = s.windows.find(w);
        if (it == s.windows.end()) return FALSE;
        thread = it->second.thread;
    }
    return post_to(thread, w, message, wparam, lparam) ? TRUE : FALSE;
}

BOOL PostThreadMessageW(DWORD thread, UINT message, WPARAM wparam, LPARAM lparam) {
    return post_to(thread, nullptr, message, wparam, lparam) ? TRUE : FALSE;
}

void PostQuitMessage(int exit_code) {
    queue& q = own_queue();
    std::lock_guard<std::mutex> guard(shared().lock);
    q.quit = true;
    q.quit_code = exit_code;
    q.wake.notify_all();
}

BOOL GetMessageW(LPMSG message, HWND window, UINT low, UINT high) {
    if (!message) return -1;
    queue& q = own_queue();
    std::unique_lock<std::mutex> guard(shared().lock);
    // WM_QUIT passes every filter.
    q.wake.wait(guard, [&] { return take(q, message, window, low, high, true); });
    return message->message == WM_QUIT ? 0 : 1;
}

BOOL PeekMessageW(LPMSG message, HWND window, UINT low, UINT high, UINT remove) {
    if (!message) return FALSE;
    queue& q = own_queue();
    std::lock_guard<std::mutex> guard(shared().lock);
    return take(q, message, window, low, high, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* message) {
    if (!message || !message->hwnd) return 0;
    WNDPROC procedure = own_procedure(message->hwnd);
    return procedure ? procedure(message->hwnd, message->message, message->wParam, message->lParam) : 0;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE*, BOOL, DWORD milliseconds, DWORD) {
    if (count != 0) return WAIT_FAILED;
    queue& q = own_queue();
    std::unique_lock<std::mutex> guard(shared().lock);
    auto ready = [&] { return !q.posted.empty() || q.quit; };
    if (milliseconds == INFINITE) {
        q.wake.wait(guard, ready);
        return WAIT_OBJECT_0;
    }
    return q.wake.wait_for(guard, std::chrono::milliseconds(milliseconds), ready) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
#endif
