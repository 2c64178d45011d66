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

#include "component_loader.h"
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

}  // namespace

TEST(KestruneWindow, TheCoreApisMainWindowIsTheProgramsAndClosingItEndsTheProgram) {
    VELMORA_NEED_DISPLAY();
    TempDir scratch;
    const std::string output = scratch.path() + "kestrune.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(wide(output).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    std::wstring command = L"\"" + wide(kestrune_host::program_folder()) + L"kestrune.exe\" --profile \"" +
                           wide(scratch.path() + "profile") +
                           L"\" --signal 60 --title One --signal 60 --title Two";
    PROCESS_INFORMATION child{};
    const BOOL started =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    CloseHandle(out);
    ASSERT_TRUE(started) << GetLastError();
    struct Ender {
        PROCESS_INFORMATION& child;
        ~Ender() {
            if (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(child.hProcess, 99);
            CloseHandle(child.hThread);
            CloseHandle(child.hProcess);
        }
    } ender{child};

    // Found once the component has been handed it and the list plays.
    Search search{child.dwProcessId, nullptr};
    for (int i = 0; i < 400; ++i) {
        search.found = nullptr;
        EnumWindows(&findMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found && fileText(output).find("\ntrack: One\n") != std::string::npos)
            break;
        ASSERT_EQ(WaitForSingleObject(child.hProcess, 50), WAIT_TIMEOUT) << fileText(output);
    }
    ASSERT_NE(search.found, nullptr) << fileText(output);
    char handle[32];
    std::snprintf(handle, sizeof handle, "%#lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(search.found)));
    EXPECT_NE(fileText(output).find("\nmain window: " + std::string(handle) + "\n"), std::string::npos)
        << handle << "\n" << fileText(output);

    PostMessageW(search.found, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 20000), WAIT_OBJECT_0) << fileText(output);
    DWORD status = 1;
    GetExitCodeProcess(child.hProcess, &status);
    const std::string text = fileText(output);
    EXPECT_EQ(status, 0u) << text;
    EXPECT_NE(text.find("\nmain window closed\n"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 9), "unloaded\n") << text;
}
