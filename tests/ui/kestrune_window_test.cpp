// The kestrune program on Windows: a real message loop with a visible
// top-level main window, the one the core API hands the component as the
// owner of its windows; closing it ends the program cleanly.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <functional>
#include <stdexcept>

#include <Poco/File.h>

#include "component_loader.h"
#include "player.h"
#include "res/resource.h"
#include "temp_dir.h"
#include "ui_harness.h"

namespace {

std::wstring wide(const std::string& text) {
    std::wstring out(std::size_t(MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], int(out.size()));
    out.resize(out.size() - 1);
    return out;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string clean;
    for (char c : text.str())
        if (c != '\r')
            clean += c;
    return clean;
}

struct Search {
    DWORD process;
    HWND found;
};

// A visible top-level window of the class "kestrune" that the process owns.
BOOL CALLBACK findMainWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process == search->process && std::wstring(name) == L"kestrune" && IsWindowVisible(window) &&
        GetWindow(window, GW_OWNER) == nullptr && GetParent(window) == nullptr) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The buttons the modeless dialog of the keyboard test was given.
std::vector<int> g_pressed;

INT_PTR CALLBACK recordingDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        g_pressed.push_back(LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

std::wstring menuText(HMENU menu, int position) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

// kestrune.exe started with a profile in `folder` and the given arguments;
// its standard output and error go to a file. A program still running when
// the test ends is ended.
struct Kestrune {
    std::string output;
    PROCESS_INFORMATION child{};

    Kestrune(const std::string& folder, const std::wstring& arguments) : output(folder + "kestrune.txt") {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileW(wide(output).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            return;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = out;
        std::wstring command = L"\"" + wide(kestrune_host::program_folder()) + L"kestrune.exe\" --profile \"" +
                               wide(folder + "profile") + L"\"" + arguments;
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
            child = PROCESS_INFORMATION{};
        CloseHandle(out);
    }
    ~Kestrune() {
        if (!started())
            return;
        if (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(child.hProcess, 99);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    bool started() const { return child.hProcess != nullptr; }
    std::string text() const { return fileText(output); }

    // Closing `main` ends the program with status 0 once it has closed its
    // main window and unloaded the component.
    void closeAndExpectACleanEnd(HWND main) {
        PostMessageW(main, WM_CLOSE, 0, 0);
        ASSERT_EQ(WaitForSingleObject(child.hProcess, 20000), WAIT_OBJECT_0) << text();
        DWORD status = 1;
        GetExitCodeProcess(child.hProcess, &status);
        const std::string all = text();
        EXPECT_EQ(status, 0u) << all;
        EXPECT_NE(all.find("\nmain window closed\n"), std::string::npos) << all;
        EXPECT_EQ(all.substr(all.size() - 9), "unloaded\n") << all;
    }
};

}  // namespace

// The player's main window has a View menu whose entries run a component's
// menu commands (a failing one is reported, nothing more), and its message
// loops give keyboard messages to a component's modeless dialog: Tab moves
// the focus, Enter presses the default button, Escape cancels.
TEST(KestruneWindow, TheViewMenuRunsTheCommandsAndAModelessDialogTakesItsKeys) {
    VELMORA_NEED_DISPLAY();
    kestrune_host::player host;
    ASSERT_TRUE(host.create_main_window());
    HWND main = host.api().main_window();
    HWND dialog = nullptr;
    int opened = 0;
    host.set_menu_commands({{"Velmora",
                             [&] {
                                 ++opened;
                                 if (!dialog)
                                     dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_AUTH),
                                                                 main, &recordingDialog, 0);
                                 ShowWindow(dialog, SW_SHOWNORMAL);
                             }},
                            {"Failing", [] { throw std::runtime_error("no such window"); }}});
    HMENU bar = GetMenu(main);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(menuText(bar, 0), L"&View");
    HMENU view = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(view), 2);
    EXPECT_EQ(menuText(view, 0), L"Velmora");

    PostMessageW(main, WM_COMMAND, GetMenuItemID(view, 0), 0);
    PostMessageW(main, WM_COMMAND, GetMenuItemID(view, 1), 0);
    ui_harness::pumpMessages(200);
    EXPECT_EQ(opened, 1);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(host.console_log().contains("menu command failed: no such window"));

    HWND user = GetDlgItem(dialog, IDC_AUTH_USER);
    HWND password = GetDlgItem(dialog, IDC_AUTH_PASSWORD);
    SetForegroundWindow(dialog);
    SetFocus(user);
    ASSERT_EQ(GetFocus(), user);
    // Through pump() as through run(): the keys reach the dialog's focus.
    PostMessageW(user, WM_KEYDOWN, VK_TAB, 0);
    host.pump();
    EXPECT_EQ(GetFocus(), password) << "Tab moves to the next field";
    PostMessageW(password, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(password, WM_KEYDOWN, VK_ESCAPE, 0);
    host.post([&] { host.quit(0); });
    host.run();
    EXPECT_EQ(g_pressed, (std::vector<int>{IDOK, IDCANCEL}));

    host.set_menu_commands({});
    EXPECT_EQ(GetMenu(main), nullptr);
}

TEST(KestruneWindow, TheCoreApisMainWindowIsTheProgramsAndClosingItEndsTheProgram) {
    VELMORA_NEED_DISPLAY();
    TempDir scratch;
    Kestrune program(scratch.path(), L" --signal 60 --title One --signal 60 --title Two");
    ASSERT_TRUE(program.started()) << GetLastError();
    PROCESS_INFORMATION& child = program.child;

    // Found once the component has been handed it and the list plays.
    Search search{child.dwProcessId, nullptr};
    for (int i = 0; i < 400; ++i) {
        search.found = nullptr;
        EnumWindows(&findMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found && program.text().find("\ntrack: One\n") != std::string::npos)
            break;
        ASSERT_EQ(WaitForSingleObject(child.hProcess, 50), WAIT_TIMEOUT) << program.text();
    }
    ASSERT_NE(search.found, nullptr) << program.text();
    char handle[32];
    std::snprintf(handle, sizeof handle, "%#lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(search.found)));
    EXPECT_NE(program.text().find("\nmain window: " + std::string(handle) + "\n"), std::string::npos)
        << handle << "\n" << program.text();

    program.closeAndExpectACleanEnd(search.found);
}

namespace {

// The visible dialog titled "Velmora" that `owner` owns, or null.
HWND velmoraWindow(HWND owner) {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w; w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        wchar_t caption[64] = {};
        GetWindowTextW(w, caption, 64);
        if (GetWindow(w, GW_OWNER) == owner && IsWindowVisible(w) && std::wstring(caption) == L"Velmora")
            return w;
    }
    return nullptr;
}

// The control that has the keyboard focus on `thread`.
HWND focusOf(DWORD thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

bool waitFor(const std::function<bool()>& done, HANDLE process) {
    for (int i = 0; i < 400; ++i) {
        if (done()) return true;
        if (WaitForSingleObject(process, 50) != WAIT_TIMEOUT) return done();
    }
    return done();
}

}  // namespace

// The program with no tracks runs until its main window closes: the menu
// command opens Velmora's window at the start, and after that window was
// closed (writing the settings) the View menu opens it again; keyboard
// messages reach it through the program's loop, so Tab moves its focus.
TEST(KestruneWindow, TheViewMenuOpensVelmorasWindowAgainAndItTakesTheKeyboard) {
    VELMORA_NEED_DISPLAY();
    TempDir scratch;
    const std::string profile = scratch.path() + "profile";
    Kestrune program(scratch.path(), L"");
    ASSERT_TRUE(program.started()) << GetLastError();
    PROCESS_INFORMATION& child = program.child;

    Search search{child.dwProcessId, nullptr};
    HWND velmora = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            search.found = nullptr;
            EnumWindows(&findMainWindow, reinterpret_cast<LPARAM>(&search));
            velmora = search.found ? velmoraWindow(search.found) : nullptr;
            return velmora != nullptr;
        },
        child.hProcess))
        << program.text();
    HWND main = search.found;
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);

    PostMessageW(velmora, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitFor([&] { return velmoraWindow(main) == nullptr; }, child.hProcess)) << program.text();
    EXPECT_TRUE(waitFor([&] { return Poco::File(profile + "\\velmora.xml").exists(); }, child.hProcess))
        << "closing the window writes the settings";

    // From the keyboard: Alt+V opens the View menu, Enter chooses its first
    // entry, the component's command.
    SetForegroundWindow(main);
    PostMessageW(main, WM_SYSCOMMAND, SC_KEYMENU, 'v');
    PostMessageW(main, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(waitFor([&] { return (velmora = velmoraWindow(main)) != nullptr; }, child.hProcess))
        << program.text();

    HWND first = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            first = focusOf(thread);
            return first != nullptr && IsChild(velmora, first);
        },
        child.hProcess))
        << "the window's first control has the focus";
    PostMessageW(first, WM_KEYDOWN, VK_TAB, 0);
    PostMessageW(first, WM_KEYUP, VK_TAB, 0);
    EXPECT_TRUE(waitFor(
        [&] {
            HWND now = focusOf(thread);
            return now != first && now != nullptr && IsChild(velmora, now);
        },
        child.hProcess))
        << "Tab moves the focus to the next control";

    program.closeAndExpectACleanEnd(main);
}
