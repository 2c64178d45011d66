// The window layer: message maps (commands, notifications, reflection,
// chaining), the end of a window object's life, data exchange with its
// error hooks, and property sheets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "sdk_fixture.h"
#include "ui/controls.h"
#include "ui/ddx.h"
#include "ui/property_sheet.h"
#include "ui_harness.h"

using ui_harness::HostWindow;
using ui_harness::Window;

namespace {

// The layer reports what a handler throws on the player's console.
using WindowLayer = with_player;

constexpr UINT kThrow = WM_APP;
constexpr UINT kChained = WM_APP + 1;
constexpr int kButtonId = 100;

// A part of a map that other maps chain in.
class ChainedPart {
public:
    BEGIN_MSG_MAP(ChainedPart)
        MESSAGE_HANDLER(kChained, OnChained)
    END_MSG_MAP()
    LRESULT OnChained(UINT, WPARAM, LPARAM, BOOL&) { return 42; }
};

class ProbeButton : public ATL::CWindowImpl<ProbeButton, WTL::CButton>, public ChainedPart {
public:
    int clicks = 0;
    BEGIN_MSG_MAP(ProbeButton)
        MESSAGE_HANDLER(kThrow, OnThrow)
        REFLECTED_COMMAND_CODE_HANDLER(BN_CLICKED, OnClicked)
        REFLECTED_NOTIFY_CODE_HANDLER(NM_RCLICK, OnRightClick)
        CHAIN_MSG_MAP(ChainedPart)
        DEFAULT_REFLECTION_HANDLER()
    END_MSG_MAP()
    LRESULT OnThrow(UINT, WPARAM, LPARAM, BOOL&) { throw std::runtime_error("probe failure"); }
    LRESULT OnClicked(WORD, WORD id, HWND, BOOL&) {
        if (id == kButtonId) ++clicks;
        return 0;
    }
    LRESULT OnRightClick(int, NMHDR*, BOOL&) { return 7; }
};

// A modeless dialog that answers a notification, throws on request and
// deletes itself after its last message, as the main window does.
struct DialogLife {
    bool in_handler = false;
    bool ended_inside_handler = false;
    int deletions = 0;
};

class ProbeDialog : public ATL::CDialogImpl<ProbeDialog> {
public:
    enum { IDD = IDD_AUTH };
    explicit ProbeDialog(DialogLife* life) : life_(life) {}
    ~ProbeDialog() override { ++life_->deletions; }

    BEGIN_MSG_MAP(ProbeDialog)
        MESSAGE_HANDLER(kThrow, OnThrow)
        NOTIFY_HANDLER(IDC_AUTH_USER, NM_RCLICK, OnRightClick)
        COMMAND_ID_HANDLER(IDOK, OnOK)
    END_MSG_MAP()
    LRESULT OnThrow(UINT, WPARAM, LPARAM, BOOL&) { throw 3; }
    LRESULT OnRightClick(int, NMHDR*, BOOL&) { return 5; }
    // Destroys its own window from inside a handler: the object must live
    // until the handler has returned.
    LRESULT OnOK(WORD, WORD, HWND, BOOL&) {
        life_->in_handler = true;
        DestroyWindow();
        life_->in_handler = false;
        return 0;
    }
    void OnFinalMessage(HWND) override {
        if (life_->in_handler) life_->ended_inside_handler = true;
        delete this;
    }

private:
    DialogLife* life_;
};

NMHDR header(HWND from, UINT_PTR id, UINT code) {
    NMHDR h = {};
    h.hwndFrom = from;
    h.idFrom = id;
    h.code = code;
    return h;
}

}  // namespace

TEST_F(WindowLayer, MessageMapsRouteCommandsNotificationsReflectionsAndChains) {
    VELMORA_NEED_DISPLAY();
    HostWindow host_window(200, 100);
    HWND button = ::CreateWindowW(L"BUTTON", L"Press", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 80, 24,
                                  host_window, reinterpret_cast<HMENU>(kButtonId), nullptr, nullptr);
    ProbeButton probe;
    ASSERT_TRUE(probe.SubclassWindow(button));
    EXPECT_FALSE(ProbeButton().SubclassWindow(button)) << "a window is tied to one object";

    // The button's click reaches the parent, which reflects it back.
    probe.Click();
    EXPECT_EQ(probe.clicks, 1);
    NMHDR rclick = header(button, kButtonId, NM_RCLICK);
    EXPECT_EQ(host_window.SendMessage(WM_NOTIFY, kButtonId, reinterpret_cast<LPARAM>(&rclick)), 7);
    NMHDR other = header(button, kButtonId, NM_DBLCLK);
    EXPECT_EQ(host_window.SendMessage(WM_NOTIFY, kButtonId, reinterpret_cast<LPARAM>(&other)), 0);
    EXPECT_EQ(probe.SendMessage(kChained), 42);

    // A throwing handler: reported, the message goes on to the control.
    EXPECT_EQ(probe.SendMessage(kThrow), 0);
    EXPECT_TRUE(host.console_log().contains("velmora: window message 0x8000 failed: probe failure"));
    probe.SetWindowText(L"still works");
    EXPECT_EQ(probe.GetWindowText(), L"still works");

    // Unsubclassed, the control is itself again and the object free.
    EXPECT_EQ(probe.UnsubclassWindow(), button);
    EXPECT_EQ(probe.m_hWnd, nullptr);
    ::SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_EQ(probe.clicks, 1);
}

TEST_F(WindowLayer, DialogsAnswerThroughTheirProcedureAndEndAfterTheirLastMessage) {
    VELMORA_NEED_DISPLAY();
    HostWindow host_window(300, 200);
    DialogLife life;
    ProbeDialog* dialog = new ProbeDialog(&life);
    ASSERT_NE(dialog->Create(host_window), nullptr);
    HWND hwnd = dialog->m_hWnd;

    NMHDR rclick = header(dialog->GetDlgItem(IDC_AUTH_USER), IDC_AUTH_USER, NM_RCLICK);
    EXPECT_EQ(::SendMessageW(hwnd, WM_NOTIFY, IDC_AUTH_USER, reinterpret_cast<LPARAM>(&rclick)), 5);
    EXPECT_EQ(::SendMessageW(hwnd, kThrow, 0, 0), 0);
    EXPECT_TRUE(host.console_log().contains("velmora: window message 0x8000 failed: unknown error"));

    // The dialog destroys itself inside its own handler; the object lives
    // until that handler has returned, then deletes itself once.
    ::SendMessageW(hwnd, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_FALSE(life.ended_inside_handler);
    EXPECT_EQ(life.deletions, 1);
}

namespace {

// The server page's template, with fields exchanged through the DDX map.
class ExchangeDialog : public ATL::CDialogImpl<ExchangeDialog>, public WTL::CWinDataExchange<ExchangeDialog> {
public:
    enum { IDD = IDD_PAGE_SERVER };
    std::wstring host_name = L"example.org";
    int port = 8000;
    bool use_proxy = true;
    ProbeButton proxy_check;  // subclassed through the map
    ATL::CWindow mount_edit;
    std::vector<std::string> errors;

    BEGIN_MSG_MAP(ExchangeDialog)
    END_MSG_MAP()

    BEGIN_DDX_MAP(ExchangeDialog)
        DDX_CONTROL(IDC_SERVER_USE_PROXY, proxy_check)
        DDX_CONTROL_HANDLE(IDC_SERVER_MOUNT, mount_edit)
        DDX_TEXT_LEN(IDC_SERVER_HOST, host_name, 128)
        DDX_INT_RANGE(IDC_SERVER_PORT, port, 0, 65535)
        DDX_CHECK(IDC_SERVER_USE_PROXY, use_proxy)
    END_DDX_MAP()

    void OnDataExchangeError(UINT id, BOOL) { errors.push_back("exchange " + std::to_string(id)); }
    void OnDataValidateError(UINT id, BOOL, WTL::_XData& data) {
        if (data.nDataType == WTL::ddxDataText)
            errors.push_back("text " + std::to_string(id) + " " + std::to_string(data.textData.nLength) + "/" +
                             std::to_string(data.textData.nMaxLength));
        else
            errors.push_back("range " + std::to_string(id) + " " + std::to_string(data.intData.nVal) + " in " +
                             std::to_string(data.intData.nMin) + ".." + std::to_string(data.intData.nMax));
    }
};

}  // namespace

TEST_F(WindowLayer, DataExchangeShowsReadsAndReportsFieldsThatDoNotFit) {
    VELMORA_NEED_DISPLAY();
    HostWindow host_window(500, 300);
    ExchangeDialog dialog;
    ASSERT_NE(dialog.Create(host_window), nullptr);

    ASSERT_TRUE(dialog.DoDataExchange(FALSE));
    EXPECT_EQ(dialog.GetDlgItemText(IDC_SERVER_HOST), L"example.org");
    EXPECT_EQ(dialog.GetDlgItemText(IDC_SERVER_PORT), L"8000");
    EXPECT_EQ(dialog.IsDlgButtonChecked(IDC_SERVER_USE_PROXY), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(dialog.proxy_check.m_hWnd, dialog.GetDlgItem(IDC_SERVER_USE_PROXY).m_hWnd);
    EXPECT_EQ(dialog.mount_edit.m_hWnd, dialog.GetDlgItem(IDC_SERVER_MOUNT).m_hWnd);
    ASSERT_TRUE(dialog.DoDataExchange(FALSE)) << "controls are taken once";

    struct Case {
        std::wstring host, port;
        const char* error;  // nullptr: read without error
    } cases[] = {
        {std::wstring(129, L'h'), L"80", "text 40200 129/128"},
        {L"h", L"65536", "range 1060 65536 in 0..65535"},
        {L"h", L"", "exchange 1060"},
        {L"h", L"12x", "exchange 1060"},
        {L"h", L"99999999999999999999", "exchange 1060"},
        {std::wstring(128, L'h'), L" 65535 ", nullptr},
    };
    for (const Case& c : cases) {
        dialog.errors.clear();
        dialog.SetDlgItemText(IDC_SERVER_HOST, c.host.c_str());
        dialog.SetDlgItemText(IDC_SERVER_PORT, c.port.c_str());
        dialog.CheckDlgButton(IDC_SERVER_USE_PROXY, BST_UNCHECKED);
        BOOL read = dialog.DoDataExchange(TRUE);
        if (c.error) {
            EXPECT_FALSE(read);
            EXPECT_EQ(dialog.errors, std::vector<std::string>{c.error});
        } else {
            EXPECT_TRUE(read);
            EXPECT_TRUE(dialog.errors.empty());
        }
    }
    EXPECT_EQ(dialog.host_name, std::wstring(128, L'h'));
    EXPECT_EQ(dialog.port, 65535);
    EXPECT_FALSE(dialog.use_proxy);
    dialog.DestroyWindow();
}

namespace {

std::vector<std::string> g_sheet_log;

template <int Id, char Name>
class LogPage : public WTL::CPropertyPageImpl<LogPage<Id, Name>> {
public:
    enum { IDD = Id };
    int refusals = 0;
    BEGIN_MSG_MAP(LogPage)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        CHAIN_MSG_MAP(WTL::CPropertyPageImpl<LogPage>)
    END_MSG_MAP()
    BOOL OnApply() {
        if (refusals > 0) {
            --refusals;
            g_sheet_log.push_back(std::string(1, Name) + " refuses");
            return FALSE;
        }
        g_sheet_log.push_back(std::string(1, Name) + " applies");
        return TRUE;
    }
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
        g_sheet_log.push_back(std::string(1, Name) + " closes");
        handled = FALSE;
        return 0;
    }
};

class LogSheet : public WTL::CPropertySheetImpl<LogSheet> {
public:
    LogPage<IDD_PAGE_ENCODER, 'E'> first;
    LogPage<IDD_PAGE_SERVER, 'S'> second;
    DWORD style = 0;
    LogSheet() : WTL::CPropertySheetImpl<LogSheet>(L"Layer Sheet") {
        AddPage(first);
        AddPage(second);
    }
    void OnSheetInitialized() { style = GetStyle(); }
};

}  // namespace

TEST_F(WindowLayer, PropertySheetsApplyShownPagesInOrderAndStayOpenOnRefusal) {
    VELMORA_NEED_DISPLAY();
    HostWindow host_window(300, 200);
    g_sheet_log.clear();
    {
        LogSheet sheet;
        sheet.first.refusals = 1;
        ui_harness::Autopilot pilot({
            {L"Layer Sheet", [&](Window& w) { w.click(IDOK); }},  // the first page refuses
            {L"Layer Sheet",
             [&](Window& w) {
                 // Still open; show the second page, then OK again.
                 WTL::CPropertySheetWindow(w.hwnd).SetActivePage(1);
                 w.click(IDOK);
             }},
        });
        INT_PTR result = sheet.DoModal(host_window);
        EXPECT_EQ(pilot.finish(), "");
        EXPECT_EQ(result, 1);
        EXPECT_EQ(sheet.style & DS_CONTEXTHELP, 0u);
        EXPECT_EQ(g_sheet_log, (std::vector<std::string>{"E refuses", "E applies", "S applies", "E closes", "S closes"}));
        EXPECT_EQ(sheet.m_hWnd, nullptr);
    }

    // Cancel asks no page; a page never shown is never made.
    g_sheet_log.clear();
    LogSheet sheet;
    ui_harness::Autopilot pilot({{L"Layer Sheet", [](Window& w) { w.click(IDCANCEL); }}});
    EXPECT_EQ(sheet.DoModal(host_window), 0);
    EXPECT_EQ(pilot.finish(), "");
    EXPECT_EQ(g_sheet_log, std::vector<std::string>{"E closes"});
}
