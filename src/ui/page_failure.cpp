#include "ui/page_failure.h"

#include <exception>

#include "console.h"
#include "plugin/utils.h"

std::wstring withReason(const wchar_t* what, const char* why) {
    std::wstring text = what;
    text += L"\r\n";
    try {
        text += fromUtf8(why);
    } catch (const std::exception&) {
    }
    return text;
}

void reportPageFailure(HWND page, const char* topic, const wchar_t* what, const char* why) {
    console_printf("velmora: %s: %s", topic, why);
    ::MessageBoxW(page, withReason(what, why).c_str(), L"Velmora", MB_OK | MB_ICONINFORMATION);
}
