#pragma once
// Window messages: per-thread message queues, message-only windows with a
// window procedure, posting, retrieving and dispatching. On Windows these
// are the system's own. On Linux the player's shared library holds the one
// set of queues of the process, so that the player and the component,
// each linking this layer separately, meet in the same queues; there every
// window is a message-only window (there is no display).
#if defined(_WIN32)
#  include <windows.h>
#else
#include <cstdint>

#include "win32/base.h"

typedef unsigned int UINT;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef std::intptr_t LONG_PTR;
typedef std::uint16_t ATOM;
typedef struct HWND__* HWND;
typedef void* HINSTANCE;
typedef void* HICON;
typedef void* HCURSOR;
typedef void* HBRUSH;
typedef void* HMENU;

#ifndef CALLBACK
#  define CALLBACK
#endif

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};

#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3)))

#define WM_NULL 0x0000u
#define WM_DESTROY 0x0002u
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_NCDESTROY 0x0082u
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

#define QS_ALLINPUT 0x04FFu
#define GWLP_USERDATA (-21)

#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_CLASS_ALREADY_EXISTS 1410u
#define ERROR_CLASS_DOES_NOT_EXIST 1411u
#define ERROR_INVALID_THREAD_ID 1444u

// The calling thread's identifier; unique among the threads that run.
DWORD GetCurrentThreadId();

// Window classes: a name and a window procedure.
ATOM RegisterClassW(const WNDCLASSW* window_class);
BOOL UnregisterClassW(LPCWSTR class_name, HINSTANCE instance);

// A message-only window of a registered class, owned by the calling thread;
// every other argument is taken and not used. Null when the class is not
// registered.
HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
// Only on the window's own thread: sends WM_DESTROY, then WM_NCDESTROY; the
// messages still posted to the window are dropped.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// WM_CLOSE destroys the window; every other message gives 0.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// GWLP_USERDATA only.
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);

// Posts to the queue of the window's thread (null: the calling thread's,
// as a thread message); never waits.
BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Posts a thread message; fails when the thread has no queue (a thread
// has one once it called any function of this layer but posting).
BOOL PostThreadMessageW(DWORD thread, UINT message, WPARAM wparam, LPARAM lparam);
// Asks the calling thread's message loop to end: WM_QUIT is retrieved once
// no posted message passes the filters, whatever they let through.
void PostQuitMessage(int exit_code);

// Waits for a posted message of the calling thread that passes the filters
// (window: null any, (HWND)-1 thread messages only, else that window;
// range: 0, 0 all) and removes it: 0 for WM_QUIT, -1 on a bad argument,
// otherwise nonzero.
BOOL GetMessageW(LPMSG message, HWND window, UINT filter_min, UINT filter_max);
// The same without waiting: FALSE when none is there; PM_REMOVE takes it.
BOOL PeekMessageW(LPMSG message, HWND window, UINT filter_min, UINT filter_max, UINT remove);
// There is no keyboard here: nothing to translate, FALSE.
BOOL TranslateMessage(const MSG* message);
// Calls the procedure of the message's window when that window lives and
// belongs to the calling thread, and gives its result; 0 otherwise (a
// thread message is not dispatched).
LRESULT DispatchMessageW(const MSG* message);
// With no handles (count 0): waits until the calling thread has a posted
// message or a quit request (WAIT_OBJECT_0) or the time is up
// (WAIT_TIMEOUT).
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds, DWORD wake_mask);
#endif
