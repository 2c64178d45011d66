// The resources velmora.dll carries: every dialog with its controls (walked
// on the created dialog), the popup menus, the icons and the version. Each
// dialog is also saved as a screenshot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "ui_harness.h"

namespace {

enum class Kind { Label, Framed, Group, Push, DefPush, IconPush, Check, Edit, NumberEdit, MultiEdit, DropList, DropDown, List, Tab, Trackbar };

const char* name(Kind kind) {
    static const char* const names[] = {"label", "framed static", "group box", "push button", "default button",
                                        "icon button", "check box", "edit", "number edit", "multi-line edit",
                                        "drop-down list", "editable combo box", "list view", "tab control", "trackbar"};
    return names[static_cast<int>(kind)];
}

Kind kindOf(HWND control) {
    wchar_t buffer[64] = {};
    ::GetClassNameW(control, buffer, 64);
    std::wstring cls = buffer;
    for (wchar_t& c : cls) c = static_cast<wchar_t>(towlower(c));
    DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(control, GWL_STYLE));
    // The dialog manager draws a control's border as a sunken edge.
    if (::GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) style |= WS_BORDER;
    if (cls == L"button") {
        switch (style & BS_TYPEMASK) {
        case BS_GROUPBOX: return Kind::Group;
        case BS_AUTOCHECKBOX: return Kind::Check;
        case BS_DEFPUSHBUTTON: return Kind::DefPush;
        case BS_PUSHBUTTON: return (style & BS_ICON) ? Kind::IconPush : Kind::Push;
        default: break;
        }
    } else if (cls == L"static") {
        return (style & WS_BORDER) ? Kind::Framed : Kind::Label;
    } else if (cls == L"edit") {
        if (style & ES_MULTILINE) return Kind::MultiEdit;
        return (style & ES_NUMBER) ? Kind::NumberEdit : Kind::Edit;
    } else if (cls == L"combobox") {
        return (style & 3) == CBS_DROPDOWNLIST ? Kind::DropList : Kind::DropDown;
    } else if (cls == L"syslistview32") {
        return Kind::List;
    } else if (cls == L"systabcontrol32") {
        return Kind::Tab;
    } else if (cls == L"msctls_trackbar32") {
        return Kind::Trackbar;
    }
    ADD_FAILURE() << "unexpected control class";
    return Kind::Label;
}

struct Control {
    int id;  // -1: a label or group box without id
    Kind kind;
    const wchar_t* text;
    DWORD style = 0;   // bits it must have
    DWORD absent = 0;  // bits it must not have
    RECT dlu = {0, 0, 0, 0};  // x, y, width, height in dialog units, when given
};

struct Dialog {
    int id;
    const wchar_t* caption;
    int width, height;  // dialog units
    DWORD style, absent;
    std::vector<Control> controls;
    const char* screenshot;
};

const DWORD kHidden = WS_VISIBLE;

std::vector<Dialog> dialogs() {
    using K = Kind;
    return {
        {IDD_MAIN, L"Velmora", 345, 227, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE, WS_MAXIMIZEBOX,
         {
             {IDC_TAB_VIEW, K::Tab, L"", 0, 0, {2, 3, 270, 163}},
             {-1, K::Label, L"Stream", 0, 0, {276, 10, 24, 9}},
             {IDC_STREAM_UP, K::IconPush, L"", 0, 0, {320, 10, 12, 9}},
             {IDC_STREAM_DOWN, K::IconPush, L"", 0, 0, {332, 10, 12, 9}},
             {IDC_STREAM_LIST, K::List, L"", LVS_REPORT | LVS_SINGLESEL | LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS | WS_BORDER, 0, {273, 19, 70, 115}},
             {IDC_ADD_STREAM, K::Push, L"ADD", 0, 0, {274, 135, 33, 13}},
             {IDC_REMOVE_STREAM, K::Push, L"Remove", 0, 0, {309, 135, 33, 13}},
             {-1, K::Group, L"Metadata", 0, 0, {3, 166, 197, 39}},
             {IDC_TITLE_FORMAT, K::Edit, L"", WS_BORDER | ES_AUTOHSCROLL, 0, {8, 177, 152, 12}},
             {IDC_UPDATE_METADATA, K::Push, L"Update", 0, 0, {162, 176, 36, 14}},
             {IDC_AUTO_UPDATE, K::Check, L"Auto-update", 0, 0, {14, 191, 56, 12}},
             {-1, K::Group, L"Clients", 0, 0, {203, 166, 67, 39}},
             {IDC_UPDATE_CLIENTS, K::Push, L"Update", 0, 0, {218, 182, 36, 14}},
             {IDC_CONNECT, K::DefPush, L"Connect", 0, 0, {3, 208, 46, 17}},
             {IDC_CONFIG, K::Push, L"Config", 0, 0, {60, 208, 46, 17}},
             {IDC_CONNECT_ON_STARTUP, K::Check, L"Connect on Startup", 0, 0, {131, 207, 75, 10}},
             {IDC_AUTO_RECONNECT, K::Check, L"Auto-reconnect", 0, 0, {131, 216, 61, 10}},
             {IDC_VU_SWITCH, K::Check, L"VU Meter", 0, 0, {234, 216, 40, 8}},
             {IDC_VOLUME_GROUP, K::Group, L"Volume %", 0, 0, {278, 150, 62, 74}},
             {IDC_VU_LEFT, K::Framed, L"", 0, 0, {284, 160, 14, 52}},
             {IDC_VOLUME, K::Trackbar, L"", TBS_VERT | TBS_BOTH | TBS_AUTOTICKS | TBS_NOTICKS, 0, {302, 158, 16, 56}},
             {IDC_VU_RIGHT, K::Framed, L"", 0, 0, {320, 160, 14, 52}},
             {IDC_MUTE, K::Check, L"Mute", 0, 0, {297, 214, 31, 9}},
         },
         "dialog-210-main"},
        {IDD_PAGE_ENCODER, L"Encoder", 280, 135, WS_CHILD, 0,
         {
             {IDC_ENCODER_LIST, K::List, L"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS},
             {-1, K::Label, L"Encoder List"},
             {IDC_ENCODER_RESET, K::Push, L"Reset"},
             {IDC_ENCODER_EDIT, K::Push, L"Edit"},
             {IDC_ENCODER_ADD, K::Push, L"Add New"},
             {IDC_ENCODER_REMOVE, K::Push, L"Remove"},
         },
         "dialog-183-encoder-page"},
        {IDD_PAGE_SERVER, L"Server", 280, 135, WS_CHILD, 0,
         {
             {-1, K::Label, L"Server Type"},
             {IDC_SERVER_TYPE, K::DropList, L""},
             {-1, K::Label, L"Host"},
             {IDC_SERVER_HOST, K::Edit, L""},
             {-1, K::Label, L"Port"},
             {IDC_SERVER_PORT, K::NumberEdit, L""},
             {-1, K::Label, L"Username"},
             {IDC_SERVER_USERNAME, K::Edit, L""},
             {-1, K::Label, L"Leave this field blank unless username is specified in server setting."},
             {-1, K::Label, L"Password"},
             {IDC_SERVER_PASSWORD, K::Edit, L""},
             {-1, K::Label, L"Mount Point"},
             {IDC_SERVER_MOUNT, K::Edit, L""},
             {-1, K::Label, L"Stream ID"},
             {IDC_SERVER_STREAM_ID, K::NumberEdit, L""},
             {IDC_SERVER_USE_PROXY, K::Check, L"Use Proxy (socks5 proxy is supported)", 0, kHidden},
             {-1, K::Label, L"Proxy Host", 0, kHidden},
             {IDC_SERVER_PROXY_HOST, K::Edit, L"", 0, kHidden},
             {-1, K::Label, L"Proxy Port", 0, kHidden},
             {IDC_SERVER_PROXY_PORT, K::NumberEdit, L"", 0, kHidden},
         },
         "dialog-136-server-page"},
        {IDD_PAGE_YP, L"Yellow Pages", 280, 135, WS_CHILD, 0,
         {
             {-1, K::Label, L"Public"},
             {IDC_YP_PUBLIC, K::Check, L"publish the stream to a directory service"},
             {-1, K::Label, L"Name*"},
             {IDC_YP_NAME, K::Edit, L""},
             {-1, K::Label, L"Description*"},
             {IDC_YP_DESCRIPTION, K::Edit, L""},
             {-1, K::Label, L"Genre*"},
             {IDC_YP_GENRE, K::DropDown, L""},
             {-1, K::Label, L"URL"},
             {IDC_YP_URL, K::Edit, L""},
             {-1, K::Label, L"Charset"},
             {IDC_YP_CHARSET, K::DropDown, L""},
             {-1, K::Label, L"*required"},
         },
         "dialog-133-yellow-pages-page"},
        {IDD_ENCODER_SETUP, L"Encoder Setup", 300, 233, WS_CAPTION | WS_POPUP, 0,
         {
             {-1, K::Group, L"Encoder"},
             {-1, K::Label, L"Encoder file"},
             {IDC_SETUP_ENCODER_FILE, K::Edit, L""},
             {IDC_SETUP_ENCODER_BROWSE, K::Push, L"..."},
             {-1, K::Label, L"Parameters"},
             {IDC_SETUP_ENCODER_PARAMS, K::MultiEdit, L"", WS_VSCROLL},
             {-1, K::Label, L"Format"},
             {IDC_SETUP_FORMAT, K::DropList, L""},
             {0, K::Label, L"Specify stdin/stdout as input/output file.\nRefer to documentation of the encoder."},
             {-1, K::Group, L"Pre-processing"},
             {-1, K::Label, L"Program File"},
             {IDC_SETUP_PROGRAM_FILE, K::Edit, L""},
             {IDC_SETUP_PROGRAM_BROWSE, K::Push, L"..."},
             {-1, K::Label, L"Parameters"},
             {IDC_SETUP_PROGRAM_PARAMS, K::Edit, L""},
             {-1, K::Group, L"kestrune output"},
             {-1, K::Label, L"Wave format"},
             {IDC_SETUP_WAVE_FORMAT, K::DropList, L""},
             {IDC_SETUP_WAVE_HEADER, K::Check, L"Wave Header"},
             {-1, K::Label, L"Sampling Rate"},
             {IDC_SETUP_SAMPLING_RATE, K::DropDown, L""},
             {-1, K::Label, L"Hz"},
             {-1, K::Label, L"Channels"},
             {IDC_SETUP_CHANNELS, K::DropDown, L""},
             {-1, K::Group, L"Display"},
             {-1, K::Label, L"Encoder name"},
             {IDC_SETUP_ENCODER_NAME, K::Edit, L""},
             {-1, K::Label, L"Bitrate (kbps)"},
             {IDC_SETUP_BITRATE, K::NumberEdit, L""},
             {-1, K::Label, L"kbps"},
             {-1, K::Label, L"Description"},
             {IDC_SETUP_DESCRIPTION, K::Edit, L""},
             {IDOK, K::DefPush, L"OK"},
             {IDCANCEL, K::Push, L"Cancel"},
         },
         "dialog-228-encoder-setup"},
        {IDD_AUTH, L"Authorization", 141, 65, WS_CAPTION | WS_POPUP, 0,
         {
             {-1, K::Label, L"Admin Username"},
             {IDC_AUTH_USER, K::Edit, L""},
             {-1, K::Label, L"Admin Password"},
             {IDC_AUTH_PASSWORD, K::Edit, L"", 0, ES_PASSWORD},
             {IDOK, K::DefPush, L"OK"},
             {IDCANCEL, K::Push, L"Cancel"},
         },
         "dialog-217-authorization"},
    };
}

INT_PTR CALLBACK plainDialog(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

std::wstring textOf(HWND window) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(window, buffer, 512);
    return buffer;
}

// The dialog manager maps position and size separately.
RECT toPixels(HWND dialog, RECT dlu) {
    RECT r = dlu;
    ::MapDialogRect(dialog, &r);
    return RECT{r.left, r.top, r.left + r.right, r.top + r.bottom};
}

// velmora.dll, mapped as data: no code of it runs.
class DllResources : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t path[MAX_PATH] = {};
        DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, length);
        dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"velmora.dll";
        module = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << "velmora.dll not found beside the test";
    }
    void TearDown() override {
        if (module) ::FreeLibrary(module);
    }
    HMODULE module = nullptr;
};

}  // namespace

TEST_F(DllResources, EveryDialogCarriesItsCaptionSizeFontAndControls) {
    VELMORA_NEED_DISPLAY();
    ATL::InitCommonControlsOnce();
    ui_harness::HostWindow host(720, 520);
    for (const Dialog& expected : dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(expected.id));
        HWND dialog = ::CreateDialogParamW(module, MAKEINTRESOURCEW(expected.id), host, plainDialog, 0);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(textOf(dialog), expected.caption);
        DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE));
        EXPECT_EQ(style & expected.style, expected.style);
        EXPECT_EQ(style & expected.absent, 0u);

        RECT client = {}, size = {0, 0, expected.width, expected.height};
        ::GetClientRect(dialog, &client);
        ::MapDialogRect(dialog, &size);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);

        LOGFONTW font = {};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
        EXPECT_EQ(std::wstring(font.lfFaceName).rfind(L"MS Shell Dlg", 0), 0u) << "font " << font.lfFaceName;
        HDC screen = ::GetDC(nullptr);
        EXPECT_EQ(font.lfHeight, -::MulDiv(10, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
        ::ReleaseDC(nullptr, screen);

        std::size_t index = 0;
        for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT), ++index) {
            if (index >= expected.controls.size()) {
                ADD_FAILURE() << "more controls than expected";
                break;
            }
            const Control& c = expected.controls[index];
            SCOPED_TRACE("control " + std::to_string(index));
            int id = ::GetDlgCtrlID(child);
            EXPECT_EQ(id == 0xFFFF ? -1 : id, c.id);
            EXPECT_STREQ(name(kindOf(child)), name(c.kind));
            EXPECT_EQ(textOf(child), c.text);
            DWORD child_style = static_cast<DWORD>(::GetWindowLongPtrW(child, GWL_STYLE));
            if (::GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) child_style |= WS_BORDER;
            EXPECT_EQ(child_style & c.style, c.style);
            EXPECT_EQ(child_style & c.absent, 0u);
            if (c.dlu.right > 0) {
                RECT want = toPixels(dialog, c.dlu), got = {};
                ::GetWindowRect(child, &got);
                ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
                EXPECT_TRUE(::EqualRect(&want, &got)) << got.left << "," << got.top << " " << got.right << "," << got.bottom;
            }
        }
        EXPECT_EQ(index, expected.controls.size());

        ::SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureClient(dialog), expected.screenshot), "");
        ::DestroyWindow(dialog);
    }
}

TEST_F(DllResources, PopupMenusIconsAndVersion) {
    HMENU menu = ::LoadMenuW(module, MAKEINTRESOURCEW(IDR_POPUPS));
    ASSERT_NE(menu, nullptr);
    struct Item {
        int id;  // 0 with an empty text: a separator
        const wchar_t* text;
    };
    struct Popup {
        const wchar_t* name;
        std::vector<Item> items;
    };
    const Popup popups[] = {
        {L"OnTasktray",
         {{ID_TRAY_OPEN, L"Open(&O)"}, {0, L""}, {ID_TRAY_CONNECT, L"Connect(&C)"}, {0, L""},
          {ID_COPY_LISTEN_URL, L"Copy Listen URL(&L)"}, {ID_COPY_STREAM_URL, L"Copy Stream URL(&S)"}, {0, L""},
          {ID_TRAY_EXIT, L"Exit (&X)"}}},
        {L"OnMonitor", {{ID_COPY_LISTEN_URL, L"Copy Listen URL"}, {ID_COPY_STREAM_URL, L"Copy Stream URL"}}},
        {L"OnClient", {{0, L"reserved"}}},
        {L"OnHistory", {{ID_COPY_HISTORY, L"Copy History"}}},
    };
    ASSERT_EQ(::GetMenuItemCount(menu), 4);
    for (int p = 0; p < 4; ++p) {
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(p), text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, popups[p].name);
        HMENU popup = ::GetSubMenu(menu, p);
        ASSERT_NE(popup, nullptr);
        ASSERT_EQ(::GetMenuItemCount(popup), static_cast<int>(popups[p].items.size())) << p;
        for (std::size_t i = 0; i < popups[p].items.size(); ++i) {
            const Item& item = popups[p].items[i];
            MENUITEMINFOW info = {};
            wchar_t label[64] = {};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
            info.dwTypeData = label;
            info.cch = 64;
            ASSERT_TRUE(::GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &info));
            bool separator = item.id == 0 && item.text[0] == 0;
            EXPECT_EQ((info.fType & MFT_SEPARATOR) != 0, separator) << p << "/" << i;
            if (!separator) {
                EXPECT_EQ(info.wID, static_cast<UINT>(item.id)) << p << "/" << i;
                EXPECT_STREQ(label, item.text);
            }
        }
    }
    ::DestroyMenu(menu);

    for (int icon : {IDI_STREAMING, IDI_IDLE, IDI_STREAM_UP, IDI_STREAM_DOWN}) {
        for (int size : {16, 32}) {
            HICON handle = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(icon), IMAGE_ICON, size, size, 0));
            EXPECT_NE(handle, nullptr) << icon << " at " << size;
            if (handle) ::DestroyIcon(handle);
        }
    }

    // The fixed version block and the texts of the version resource.
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_NE(found, nullptr);
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    DWORD size = ::SizeofResource(module, found);
    std::wstring text(reinterpret_cast<const wchar_t*>(data), size / 2);
    for (const wchar_t* value : {L"velmora.dll", L"Velmora", L"1.4.1"})
        EXPECT_NE(text.find(value), std::wstring::npos) << "version text missing";
    bool fixed = false;
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        const VS_FIXEDFILEINFO* info = reinterpret_cast<const VS_FIXEDFILEINFO*>(data + at);
        if (info->dwSignature != 0xFEEF04BD) continue;
        fixed = true;
        EXPECT_EQ(info->dwFileVersionMS, 0x00010004u);
        EXPECT_EQ(info->dwFileVersionLS, 0x00010000u);
        break;
    }
    EXPECT_TRUE(fixed);
}
