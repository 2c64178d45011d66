// The main window as the player's menu command opens it, driven through
// its controls and window messages with real streams: MP3 through the
// cross-built lame.exe to the icecast2 peer on Linux, and scripted
// SHOUTcast v2 servers. Checked: the controls, the console, the server and
// the settings file.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/Util/XMLConfiguration.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwchar>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/components.h"
#include "engine/config.h"
#include "engine/output_gain.h"
#include "http_client.h"
#include "peers.h"
#include "plugin/utils.h"
#include "pipe_fixture.h"
#include "res/resource.h"
#include "sdk_fixture.h"
#include "console_gate.h"
#include "list_holding_server.h"
#include "listener_documents.h"
#include "shoutcast_servers.h"
#include "trickling_server.h"
#include "ui/main_dlg.h"
#include "ui_harness.h"
#include "view_support.h"

namespace {

using namespace std::chrono_literals;
using ui_harness::Step;
using ui_harness::Window;

HICON icon(int id) {
    return static_cast<HICON>(::LoadImageW(ATL::ModuleInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                           ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                           LR_SHARED));
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

// One stream group of the settings file.
struct Group {
    Group(std::string name_, int type_, int port_, std::string mount_ = "/stream")
        : name(std::move(name_)), type(type_), port(port_), mount(std::move(mount_)) {}
    std::string name;
    int type = 0;
    int port = 0;
    std::string mount;
    std::string user = "source";
    std::string password = peers::kIcecastSourcePassword;
    int stream_id = 1;
    std::string encoder;  // program file, quoted
    std::string params;
    int format = FORMAT_MP3;
    std::string url;
};

std::string encoderXml(const Group& g) {
    std::ostringstream xml;
    xml << "<encoder><encoder_file>" << xmlEscape(g.encoder) << "</encoder_file><encoder_params>"
        << xmlEscape(g.params)
        << "</encoder_params><format>" << g.format << "</format><program_file></program_file><program_params></program_params>"
           "<wave_format>0</wave_format><wave_header>0</wave_header><sampling_rate>44100</sampling_rate>"
           "<channel>2</channel><encoder_name>LAME</encoder_name><bitrate>128</bitrate>"
           "<description>MP3 128 kbps</description></encoder>";
    return xml.str();
}

std::string groupXml(const Group& g) {
    std::ostringstream xml;
    xml << "<stream><server><type>" << g.type << "</type><host>127.0.0.1</host><port>" << g.port
        << "</port><password>" << xmlEscape(g.password) << "</password><username>" << g.user
        << "</username><mount_point>" << g.mount << "</mount_point><stream_id>" << g.stream_id
        << "</stream_id><yp><name>" << xmlEscape(g.name) << "</name><url>" << xmlEscape(g.url)
        << "</url><charset>UTF-8</charset></yp></server>" << encoderXml(g) << "</stream>";
    return xml.str();
}


const char* const kLameParams =
    "-r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 128 --flush --quiet - -";

class MainWindow : public with_player {
protected:
    void SetUp() override {
        folder = ::testing::TempDir() + "velmora-main-window";
        if (Poco::File(folder).exists()) Poco::File(folder).remove(true);
        Poco::File(folder).createDirectories();
        host.set_profile_folder(folder);
        host.create_main_window();
        with_player::SetUp();
    }
    void TearDown() override {
        host.stop();
        if (CMainDlg* window = CMainDlg::existingInstance()) {
            if (window->m_hWnd) ::DestroyWindow(window->m_hWnd);
        }
        ui_harness::pumpMessages(50);
        deleteConfig();
        with_player::TearDown();
        try {
            Poco::File(folder).remove(true);
        } catch (...) {
        }
    }

    // The menu command: makes the window when there is none, shows it.
    CMainDlg& open() {
        velmora_show_main_window(core_main_window());
        CMainDlg* window = CMainDlg::existingInstance();
        if (!window || !window->m_hWnd) throw std::runtime_error("the menu command made no window");
        ui_harness::pumpMessages(50);
        return *window;
    }

    void writeSettings(const std::string& common, const std::vector<Group>& groups) {
        std::ofstream out(folder + "\\velmora.xml", std::ios::binary);
        out << "<velmora version=\"1.4.1\"><common>" << common << "</common>";
        for (const Group& g : groups) out << groupXml(g);
        // The first group's encoder is the saved preset, as the option
        // sheet's Encoder page needs one to match.
        if (!groups.empty()) out << "<encoder_setting>" << encoderXml(groups[0]) << "</encoder_setting>";
        out << "</velmora>";
    }

    Poco::AutoPtr<Poco::Util::XMLConfiguration> savedSettings() {
        return new Poco::Util::XMLConfiguration(folder + "\\velmora.xml");
    }

    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return done();
            ui_harness::pumpMessages(20);
        }
        return true;
    }

    static void press(HWND dialog, int id) {
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
    }
    static std::wstring text(HWND dialog, int id) { return ATL::CWindow(::GetDlgItem(dialog, id)).GetWindowText(); }
    static HWND item(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }
    // A view of the tab control ("Monitor", "Clients", "History").
    static HWND view(HWND dialog, const wchar_t* name) {
        return ::FindWindowExW(item(dialog, IDC_TAB_VIEW), nullptr, name, nullptr);
    }
    // The value of a Monitor row.
    static std::wstring monitor(HWND dialog, const std::wstring& row) {
        for (const std::wstring& line : view_test::rows(view(dialog, L"Monitor")))
            if (line.compare(0, row.size() + 3, row + L" | ") == 0) return line.substr(row.size() + 3);
        return L"<no row " + row + L">";
    }
    static std::vector<std::wstring> streamRows(HWND dialog) { return view_test::rows(item(dialog, IDC_STREAM_LIST)); }
    static HICON smallIcon(HWND dialog) {
        return reinterpret_cast<HICON>(::SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
    }
    // Sets the volume trackbar as a drag would and tells the window.
    static void drag(HWND dialog, int position) {
        HWND bar = item(dialog, IDC_VOLUME);
        ::SendMessageW(bar, TBM_SETPOS, TRUE, position);
        ::SendMessageW(dialog, WM_VSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(bar));
    }
    // Selects a row of the stream list as a click would.
    static void selectRow(HWND dialog, int row) {
        LVITEMW state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(item(dialog, IDC_STREAM_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&state));
    }
    static void setCheck(HWND dialog, int id, bool on) {
        ::SendMessageW(item(dialog, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
        press(dialog, id);
    }

    std::size_t consoleCount(const std::string& text) {
        std::size_t n = 0;
        for (const std::string& line : host.console_log().lines())
            if (line.compare(0, text.size(), text) == 0) ++n;
        return n;
    }

    // The option sheet's step: `text` into a field of its directory page,
    // then OK.
    static Step directoryFieldSetTo(int field, const std::wstring& text) {
        return Step{L"Configuration", [field, text](Window& sheet) {
                        ::SendMessageW(sheet.hwnd, PSM_SETCURSEL, 2, 0);
                        Window page(reinterpret_cast<HWND>(::SendMessageW(sheet.hwnd, PSM_GETCURRENTPAGEHWND, 0, 0)));
                        page.setText(field, text);
                        sheet.click(IDOK);
                    }};
    }

    // A request of the window's worker has ended: its console line is there
    // `count` times and the worker takes the next request (one pressed
    // while it is still busy would be dropped).
    bool requestEnded(CMainDlg& window, const std::string& line, std::size_t count) {
        return pumpUntil([&] { return consoleCount(line) == count && window.workerIdle(); });
    }

    std::string folder;
};

}  // namespace

// No settings file: one default stream; the controls as the settings say;
// the list's commands; volume and mute with the gain they set; minimising
// and the ways back; the normal position saved; the groups written at the
// close and read again by the next menu command; a saved position outside
// the screens brought back.
TEST_F(MainWindow, OpensWithDefaultsEditsTheListAndWritesItBackAtTheClose) {
    VELMORA_NEED_DISPLAY();
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureDrawn(dialog), "main-window-idle"), "");
    EXPECT_EQ(ATL::CWindow(dialog).GetWindowText(), L"Velmora");
    EXPECT_EQ(::GetWindow(dialog, GW_OWNER), core_main_window());
    EXPECT_EQ(smallIcon(dialog), icon(IDI_IDLE));
    EXPECT_EQ(window.CurrentIcon(), icon(IDI_IDLE));
    ASSERT_EQ(streamRows(dialog).size(), 1u);
    EXPECT_NE(window.selectedStream(), nullptr);
    EXPECT_EQ(text(dialog, IDC_CONNECT), L"Connect");
    EXPECT_EQ(text(dialog, IDC_CONFIG), L"Config");
    EXPECT_EQ(::GetWindowLongW(item(dialog, IDC_CONFIG), GWL_STYLE) & BS_ICON, 0);
    EXPECT_TRUE(::IsWindowEnabled(item(dialog, IDC_CONFIG)));
    EXPECT_EQ(monitor(dialog, L"Status"), L"Disconnected");
    EXPECT_EQ(text(dialog, IDC_TITLE_FORMAT), L"%artist% - %title%");
    EXPECT_EQ(text(dialog, IDC_VOLUME_GROUP), L"Volume 100%");
    EXPECT_EQ(::SendMessageW(item(dialog, IDC_VOLUME), TBM_GETPOS, 0, 0), -100);
    EXPECT_FLOAT_EQ(outputGain(), 1.0f);
    EXPECT_NE(view(dialog, L"Monitor"), nullptr);
    EXPECT_NE(view(dialog, L"Clients"), nullptr);
    EXPECT_NE(view(dialog, L"History"), nullptr);
    EXPECT_FALSE(window.workerRunning());

    // ADD, moves, Remove; the last stream stays.
    press(dialog, IDC_ADD_STREAM);
    press(dialog, IDC_ADD_STREAM);
    ASSERT_EQ(window.allStreams().size(), 3u);
    Stream* first = window.allStreams()[0].get();
    EXPECT_EQ(window.selectedStream(), first);
    press(dialog, IDC_STREAM_DOWN);
    EXPECT_EQ(window.allStreams()[1].get(), first);
    EXPECT_EQ(window.selectedStream(), first);
    press(dialog, IDC_STREAM_UP);
    press(dialog, IDC_STREAM_UP);
    EXPECT_EQ(window.allStreams()[0].get(), first);
    press(dialog, IDC_REMOVE_STREAM);
    ASSERT_EQ(window.allStreams().size(), 2u);
    EXPECT_EQ(window.selectedStream(), window.allStreams()[0].get());
    EXPECT_EQ(streamRows(dialog).size(), 2u);

    // Volume: top, bottom, mute, dragging while muted.
    drag(dialog, -35);
    EXPECT_EQ(text(dialog, IDC_VOLUME_GROUP), L"Volume 35%");
    EXPECT_FLOAT_EQ(outputGain(), 0.35f);
    setCheck(dialog, IDC_MUTE, true);
    EXPECT_EQ(text(dialog, IDC_VOLUME_GROUP), L"Volume 0%");
    EXPECT_FLOAT_EQ(outputGain(), 0.0f);
    setCheck(dialog, IDC_MUTE, false);
    EXPECT_EQ(text(dialog, IDC_VOLUME_GROUP), L"Volume 35%");
    EXPECT_FLOAT_EQ(outputGain(), 0.35f);
    setCheck(dialog, IDC_MUTE, true);
    drag(dialog, 0);
    EXPECT_FALSE(window.commonSettings().mute);
    EXPECT_EQ(::SendMessageW(item(dialog, IDC_MUTE), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(text(dialog, IDC_VOLUME_GROUP), L"Volume 0%");
    EXPECT_FLOAT_EQ(outputGain(), 0.0f);
    drag(dialog, -100);
    EXPECT_EQ(text(dialog, IDC_VOLUME_GROUP), L"Volume 100%");
    EXPECT_FLOAT_EQ(outputGain(), 1.0f);
    drag(dialog, -42);
    setCheck(dialog, IDC_AUTO_RECONNECT, true);
    setCheck(dialog, IDC_VU_SWITCH, false);
    EXPECT_FALSE(window.meterDriven());

    // Minimise hides; the tray's double click and the menu command bring
    // it back normal.
    ::SetWindowPos(dialog, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ui_harness::pumpMessages(50);
    EXPECT_FALSE(::IsWindowVisible(dialog));
    ::SendMessageW(dialog, window.TrayMessage(), IDR_POPUPS, WM_LBUTTONDBLCLK);
    ui_harness::pumpMessages(50);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_FALSE(::IsIconic(dialog));
    ::SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ui_harness::pumpMessages(50);
    EXPECT_EQ(&open(), &window) << "the menu command makes no second window";
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_FALSE(::IsIconic(dialog));

    // Closed while minimised: the normal position is saved, with the
    // pattern as edited and both groups.
    ::SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ui_harness::pumpMessages(50);
    ::SetWindowTextW(item(dialog, IDC_TITLE_FORMAT), L"%title% by %artist%");
    ::SendMessageW(dialog, WM_CLOSE, 0, 0);
    ui_harness::pumpMessages(50);
    EXPECT_EQ(CMainDlg::existingInstance(), nullptr);
    EXPECT_FALSE(::IsWindow(dialog));
    auto saved = savedSettings();
    EXPECT_EQ(saved->getInt("common.window_left"), 123);
    EXPECT_EQ(saved->getInt("common.window_top"), 77);
    EXPECT_EQ(saved->getInt("common.vol"), 42);
    EXPECT_EQ(saved->getInt("common.auto_reconnect"), 1);
    EXPECT_EQ(saved->getInt("common.vumeter_switch"), 0);
    EXPECT_EQ(saved->getString("common.title_format"), "%title% by %artist%");
    EXPECT_TRUE(saved->has("stream[1].server.host"));
    EXPECT_FALSE(saved->has("stream[2].server.host"));

    // The next menu command reads them again; a position outside every
    // monitor comes back onto the screen.
    saved->setInt("common.window_left", -20000);
    saved->setInt("common.window_top", 15000);
    saved->save(folder + "\\velmora.xml");
    CMainDlg& again = open();
    // The switches as saved, not as the defaults have them.
    EXPECT_EQ(::SendMessageW(item(again.m_hWnd, IDC_AUTO_RECONNECT), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendMessageW(item(again.m_hWnd, IDC_VU_SWITCH), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(again.allStreams().size(), 2u);
    EXPECT_EQ(text(again.m_hWnd, IDC_VOLUME_GROUP), L"Volume 42%");
    EXPECT_EQ(text(again.m_hWnd, IDC_TITLE_FORMAT), L"%title% by %artist%");
    RECT frame = {};
    ::GetWindowRect(again.m_hWnd, &frame);
    EXPECT_NE(::MonitorFromRect(&frame, MONITOR_DEFAULTTONULL), nullptr)
        << frame.left << "," << frame.top;
    ::SendMessageW(again.m_hWnd, WM_CLOSE, 0, 0);
    ui_harness::pumpMessages(50);
    EXPECT_EQ(CMainDlg::existingInstance(), nullptr);
}

namespace {

std::wstring clipboardText() {
    std::wstring text;
    if (!::OpenClipboard(nullptr)) return L"<clipboard busy>";
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

std::string sourceField(int port, const std::string& mount, const std::string& field) {
    std::istringstream xml(httpGet(port, "/admin/stats", peers::kIcecastAdminUser, peers::kIcecastAdminPassword));
    Poco::AutoPtr<Poco::Util::XMLConfiguration> stats(new Poco::Util::XMLConfiguration(xml));
    const std::string key = "source[@mount=" + mount + "]";
    return stats->has(key) ? stats->getString(key + "." + field, "") : std::string();
}

void killSource(int port, const std::string& mount) {
    httpGet(port, "/admin/killsource?mount=" + mount, peers::kIcecastAdminUser, peers::kIcecastAdminPassword);
}

}  // namespace

// Two MP3 streams through lame.exe to icecast2: Connect and Disconnect
// with their icons, captions and worker; the title with Auto-update on;
// statistics of the selected stream; the Clients view from icecast's
// listener list; the tray popup; a killed source reconnected with its
// attempt row, then with Auto-reconnect off stopped with a message box
// captioned with the stream's name; closing asks while a stream runs and
// Cancel keeps it running; Connect on Startup connects the first stream
// only.
TEST_F(MainWindow, StreamsToIcecastReconnectsAndAsksBeforeClosing) {
    VELMORA_NEED_DISPLAY();
    VELMORA_PEER_PORT(port, peers::Kind::Icecast);
    std::string no_probe;
    const int probe_port = peers::port(peers::Kind::Probe, &no_probe);
    if (probe_port == 0 && peers::required()) FAIL() << no_probe;
    const std::string lame = pipetest::lameExe();
    if (!pipetest::pathExists(lame)) {
        if (peers::required()) FAIL() << lame << " is missing (bash scripts/setup.sh builds it)";
        GTEST_SKIP() << lame << " is missing";
    }
    Group a{"Wine A", 0, port, "/win-a.mp3"};
    a.encoder = lame;
    a.params = kLameParams;
    Group b = a;
    b.name = "Wine B";
    b.mount = "/win-b.mp3";
    writeSettings("<auto_update_metadata>1</auto_update_metadata><auto_reconnect>1</auto_reconnect>"
                  "<vumeter_switch>1</vumeter_switch><vol>80</vol>",
                  {a, b});
    host.play({kestrune_host::signal_track("Artist", "Tone", 300, 440.0)});
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    ASSERT_EQ(window.allStreams().size(), 2u);
    Stream* first = window.allStreams()[0].get();
    Stream* second = window.allStreams()[1].get();
    first->setReconnectWait(1500ms);

    // The second stream renamed through the option sheet, opened by a
    // double click on its row.
    selectRow(dialog, 1);
    {
        ui_harness::Autopilot pilot({directoryFieldSetTo(IDC_YP_NAME, L"Wine Bee")});
        ::SendMessageW(dialog, WM_NOTIFY, IDC_STREAM_LIST,
                       reinterpret_cast<LPARAM>(&(const NMHDR&)NMHDR{item(dialog, IDC_STREAM_LIST), IDC_STREAM_LIST,
                                                                       static_cast<UINT>(NM_DBLCLK)}));
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_EQ(second->serverSettings().yp.name, "Wine Bee");
    EXPECT_EQ(streamRows(dialog)[1], L"Wine Bee");
    EXPECT_EQ(monitor(dialog, L"Name"), L"Wine Bee");
    selectRow(dialog, 0);

    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(first->status().running) << first->status().error_text;
    EXPECT_EQ(smallIcon(dialog), icon(IDI_STREAMING));
    EXPECT_EQ(window.CurrentIcon(), icon(IDI_STREAMING));
    EXPECT_EQ(text(dialog, IDC_CONNECT), L"Disconnect");
    EXPECT_FALSE(::IsWindowEnabled(item(dialog, IDC_CONFIG)));
    EXPECT_EQ(monitor(dialog, L"Status"), L"Connected");
    EXPECT_TRUE(window.workerRunning());
    EXPECT_TRUE(window.meterDriven());
    // The meter's switch, while the stream runs: off ends the updater at
    // once, on starts it again.
    setCheck(dialog, IDC_VU_SWITCH, false);
    EXPECT_FALSE(window.meterDriven());
    setCheck(dialog, IDC_VU_SWITCH, true);
    EXPECT_TRUE(window.meterDriven());
    EXPECT_TRUE(host.console_log().contains("velmora: Streaming start: Wine A"));
    EXPECT_EQ(monitor(dialog, L"Metadata"), L"Artist - Tone");
    EXPECT_EQ(view_test::rows(view(dialog, L"History")), std::vector<std::wstring>{L"01 | Artist | Tone"});
    // The selected stream's statistics reach the Monitor.
    EXPECT_TRUE(pumpUntil([&] { return sourceField(port, "/win-a.mp3", "title") == "Artist - Tone"; }))
        << sourceField(port, "/win-a.mp3", "title");
    EXPECT_TRUE(requestEnded(window, "velmora: metadata update: Wine A", 1));
    EXPECT_TRUE(pumpUntil([&] { return monitor(dialog, L"Elapsed Time") != L"0:00:00"; }));
    // The rate of a second of MP3 at 128 kbps (its frames go out unevenly
    // from second to second), not what the stream counted since.
    EXPECT_TRUE(pumpUntil([&] {
        const int kbps = std::wcstol(monitor(dialog, L"Transfer Rate").c_str(), nullptr, 10);
        return kbps >= 64 && kbps <= 256;
    })) << monitor(dialog, L"Transfer Rate");

    // The listener list from icecast.
    {
        HttpListener listener(port, "/win-a.mp3", "VelmoraWindowTest/1.0");
        ASSERT_TRUE(listener.waitForAudio(4096));
        press(dialog, IDC_UPDATE_CLIENTS);
        EXPECT_TRUE(pumpUntil([&] {
            const auto rows = view_test::rows(view(dialog, L"Clients"));
            return rows.size() == 1 && rows[0].find(L"VelmoraWindowTest/1.0") != std::wstring::npos;
        }));
        EXPECT_TRUE(requestEnded(window, "velmora: client list update: Wine A", 1));
    }
    // A new title from the player (a radio's track information) reaches
    // the running stream's server and history.
    host.set_dynamic_info({{"artist", "Live"}, {"title", "Update"}});
    EXPECT_TRUE(pumpUntil([&] { return sourceField(port, "/win-a.mp3", "title") == "Live - Update"; }))
        << sourceField(port, "/win-a.mp3", "title");
    EXPECT_EQ(view_test::rows(view(dialog, L"History")),
              (std::vector<std::wstring>{L"01 | Artist | Tone", L"02 | Live | Update"}));
    EXPECT_EQ(monitor(dialog, L"Metadata"), L"Live - Update");
    EXPECT_TRUE(requestEnded(window, "velmora: metadata update: Wine A", 2));

    // The listen URL through the Monitor's popup command.
    press(dialog, ID_COPY_LISTEN_URL);
    EXPECT_EQ(clipboardText(), L"http://127.0.0.1:" + std::to_wstring(port) + L"/win-a.mp3");

    // The gain the streams apply follows the volume: what a listener
    // decodes drops by 6 dB at half volume, and to silence when muted.
    if (probe_port != 0) {
        auto levelAfter = [&](const std::function<void()>& change) {
            change();
            // Every chunk captured before the change has been read by the
            // stream once the player delivered one more and the worker
            // finished a round that began after that.
            const std::uint64_t delivered = host.frames_delivered();
            EXPECT_TRUE(pumpUntil([&] { return host.frames_delivered() > delivered; }));
            std::uint64_t read = first->status().samples_read;
            for (int round = 0; round < 2; ++round) {
                const std::uint64_t before = read;
                EXPECT_TRUE(pumpUntil([&] { return (read = first->status().samples_read) != before; }));
            }
            // icecast's burst at a new listener (64 KB) then holds audio
            // played after the change only, once the server holds that
            // much more than the MP3 of what came before (128 kbps, 16000
            // bytes a second), with a second to spare for the encoder.
            const std::uint64_t needed = read / 2 * 16000 / 44100 + 65536 + 16000;
            EXPECT_TRUE(pumpUntil([&] {
                return std::strtoull(sourceField(port, "/win-a.mp3", "total_bytes_read").c_str(), nullptr, 10) >=
                       needed;
            })) << sourceField(port, "/win-a.mp3", "total_bytes_read") << " of " << needed;
            auto heard = std::async(std::launch::async,
                                    [&] { return listenAndProbe(probe_port, port, "/win-a.mp3", 3); });
            while (heard.wait_for(0ms) != std::future_status::ready) ui_harness::pumpMessages(20);
            const auto fields = heard.get();
            // (A listen cut at any byte may end in half a frame.)
            EXPECT_GE(std::atof(fields.at("decoded_seconds").c_str()), 2.5);
            return std::atof(fields.at("rms_dbfs").c_str());
        };
        const double full = levelAfter([&] { drag(dialog, -100); });
        const double half = levelAfter([&] { drag(dialog, -50); });
        const double muted = levelAfter([&] { setCheck(dialog, IDC_MUTE, true); });
        EXPECT_NEAR(full - half, 6.02, 0.5) << full << " dB at 100%, " << half << " dB at 50%";
        EXPECT_LT(muted, -60.0);
        setCheck(dialog, IDC_MUTE, false);
        drag(dialog, -80);
    }
    ui_harness::pumpMessages(300);
    EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureDrawn(dialog), "main-window-streaming"), "");

    // A second stream runs and stops; the icon and the worker stay.
    selectRow(dialog, 1);
    ASSERT_EQ(window.selectedStream(), second);
    EXPECT_EQ(text(dialog, IDC_CONNECT), L"Connect");
    // The running first stream's statistics show nowhere meanwhile.
    ui_harness::pumpMessages(2500);
    EXPECT_EQ(monitor(dialog, L"Elapsed Time"), L"0:00:00");
    EXPECT_EQ(monitor(dialog, L"Status"), L"Disconnected");
    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(second->status().running) << second->status().error_text;
    press(dialog, IDC_CONNECT);
    EXPECT_FALSE(second->status().running);
    EXPECT_TRUE(host.console_log().contains("velmora: Streaming finish: Wine Bee"));
    EXPECT_EQ(smallIcon(dialog), icon(IDI_STREAMING));
    EXPECT_TRUE(window.workerRunning());
    selectRow(dialog, 0);
    ASSERT_EQ(window.selectedStream(), first);

    // The tray popup offers to disconnect the running selected stream.
    {
        std::vector<std::wstring> items;
        std::thread look([&] {
            for (int i = 0; i < 500; ++i) {
                HWND menu = ::FindWindowW(L"#32768", nullptr);
                if (menu && ::IsWindowVisible(menu)) {
                    HMENU handle = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
                    for (int n = 0; n < ::GetMenuItemCount(handle); ++n) {
                        wchar_t label[64] = {};
                        ::GetMenuStringW(handle, static_cast<UINT>(n), label, 64, MF_BYPOSITION);
                        items.push_back(label);
                    }
                    ui_harness::saveScreenshot(ui_harness::captureDrawn(dialog, menu), "main-window-tray-popup");
                    ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
                    return;
                }
                ::Sleep(10);
            }
        });
        ::SetCursorPos(200, 150);
        ::SendMessageW(dialog, window.TrayMessage(), IDR_POPUPS, WM_RBUTTONUP);
        look.join();
        EXPECT_EQ(items, (std::vector<std::wstring>{L"Open(&O)", L"", L"Disconnect(&D)", L"", L"Copy Listen URL(&L)",
                                                    L"Copy Stream URL(&S)", L"", L"Exit (&X)"}));
    }

    // icecast drops the source: the stream reconnects, its row counting
    // the attempt.
    killSource(port, "/win-a.mp3");
    EXPECT_TRUE(pumpUntil([&] { return streamRows(dialog)[0] == L"Wine A(1/3)"; }))
        << toUtf8(streamRows(dialog)[0]);
    EXPECT_EQ(monitor(dialog, L"Status"), L"Reconnecting...");
    EXPECT_NE(ui_harness::saveScreenshot(ui_harness::captureDrawn(dialog), "main-window-reconnecting"), "");
    EXPECT_TRUE(pumpUntil([&] { return host.console_log().contains("velmora: Reconnection succeeded: Wine A"); }));
    EXPECT_TRUE(pumpUntil([&] { return streamRows(dialog)[0] == L"Wine A"; }));
    EXPECT_TRUE(host.console_log().contains("velmora: Error: Wine A"));
    EXPECT_TRUE(first->status().running);
    EXPECT_TRUE(pumpUntil([&] { return !sourceField(port, "/win-a.mp3", "listenurl").empty(); }));

    // Without Auto-reconnect the next drop stops it, and the error reaches
    // the user in a box captioned with the stream's name.
    setCheck(dialog, IDC_AUTO_RECONNECT, false);
    std::wstring box_text;
    {
        ui_harness::Autopilot pilot({Step{L"Wine A", [&](Window& box) {
                                              box_text = box.messageText();
                                              box.click(IDOK);
                                          },
                                          true}},
                                    30000);
        ui_harness::pumpMessages(1500);
        killSource(port, "/win-a.mp3");
        EXPECT_TRUE(pumpUntil([&] { return !first->status().running && !box_text.empty(); }, 30s));
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_EQ(box_text, fromUtf8(first->status().error_text));
    EXPECT_TRUE(pumpUntil([&] { return !window.workerRunning(); }));
    EXPECT_EQ(smallIcon(dialog), icon(IDI_IDLE));
    EXPECT_EQ(window.CurrentIcon(), icon(IDI_IDLE));
    EXPECT_FALSE(window.meterDriven());
    EXPECT_EQ(text(dialog, IDC_CONNECT), L"Connect");

    // Closing asks while a stream runs; Cancel keeps everything.
    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(first->status().running);
    std::wstring question;
    {
        ui_harness::Autopilot pilot({Step{L"Velmora", [&](Window& box) {
                                              question = box.messageText();
                                              ui_harness::saveScreenshot(ui_harness::captureDrawn(dialog, box.hwnd),
                                                                         "main-window-closing-question");
                                              box.click(IDCANCEL);
                                          },
                                          true}});
        ::SendMessageW(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_EQ(question, L"Disconnect all and exit?");
    EXPECT_EQ(monitor(dialog, L"Status"), L"Connected");
    EXPECT_TRUE(::IsWindow(dialog));
    EXPECT_TRUE(first->status().running);
    EXPECT_TRUE(window.workerRunning());
    {
        ui_harness::Autopilot pilot({Step{L"Velmora", [](Window& box) { box.click(IDOK); }, true}});
        ::SendMessageW(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(pilot.finish(), "");
    }
    ui_harness::pumpMessages(50);
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_EQ(CMainDlg::existingInstance(), nullptr);
    EXPECT_TRUE(pumpUntil([&] { return sourceField(port, "/win-a.mp3", "listenurl").empty(); }));

    // Connect on Startup: the first stream only.
    auto saved = savedSettings();
    EXPECT_EQ(saved->getString("stream[1].server.yp.name"), "Wine Bee");
    saved->setInt("common.connect_on_startup", 1);
    saved->save(folder + "\\velmora.xml");
    CMainDlg& again = open();
    ASSERT_EQ(again.allStreams().size(), 2u);
    EXPECT_TRUE(again.allStreams()[0]->status().running);
    EXPECT_FALSE(again.allStreams()[1]->status().running);
    EXPECT_EQ(text(again.m_hWnd, IDC_CONNECT), L"Disconnect");
}

// Two SHOUTcast v2 streams of one stream id on a scripted server: the
// option sheet's OK stores the charset UTF-8 for them whatever the sheet
// held; the admin credentials are asked before the first listener request
// of each start and again after a refused request, not otherwise; the
// second stream's start stops with the message box captioned with its
// name, without a reconnection although Auto-reconnect is on, and the
// first keeps running.
TEST_F(MainWindow, ShoutcastV2AsksForAdminCredentialsAndRefusesASecondStreamOfOneId) {
    VELMORA_NEED_DISPLAY();
    Shoutcast2Server server;
    Group a{"V2 One", SERVER_SHOUTCAST2, server.port()};
    a.user = "dj";
    a.password = "sc2-pass";
    a.stream_id = 1;
    a.encoder = pipetest::binDir() + "passthrough.exe";
    a.params = "";
    Group b = a;
    b.name = "V2 Two";
    // A server whose listener list cannot be read.
    Shoutcast2Options broken_options;
    broken_options.stream_id = 2;
    broken_options.admin_reply =
        "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?><SHOUTCASTSERVER><LISTENERS><LIS";
    Shoutcast2Server broken(broken_options);
    Group c = a;
    c.name = "V2 Unreadable";
    c.port = broken.port();
    c.stream_id = 2;
    writeSettings("<auto_reconnect>1</auto_reconnect><vumeter_switch>0</vumeter_switch>", {a, b, c});
    host.play({kestrune_host::signal_track("Artist", "Tone", 300, 440.0)});
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    Stream* first = window.allStreams()[0].get();
    Stream* second = window.allStreams()[1].get();

    selectRow(dialog, 1);
    {
        ui_harness::Autopilot pilot({directoryFieldSetTo(IDC_YP_CHARSET, L"SHIFT_JIS")});
        press(dialog, IDC_CONFIG);
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_EQ(second->serverSettings().yp.charset, "UTF-8");
    selectRow(dialog, 0);

    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(first->status().running) << first->status().error_text;
    // The worker takes one request at a time and drops what comes while
    // it is busy: each step waits for the last request to end.
    EXPECT_TRUE(requestEnded(window, "velmora: metadata update: V2 One", 1));
    auto askedFor = [&](const std::wstring& user, const std::wstring& password) {
        return Step{L"Authorization", [user, password](Window& w) {
                        w.setText(IDC_AUTH_USER, user);
                        w.setText(IDC_AUTH_PASSWORD, password);
                        w.click(IDOK);
                    }};
    };
    const auto clientRows = [&] { return view_test::rows(view(dialog, L"Clients")).size(); };
    {
        // A wrong password: the request fails and the next one asks again.
        ui_harness::Autopilot pilot({askedFor(L"admin", L"wrong")});
        press(dialog, IDC_UPDATE_CLIENTS);
        EXPECT_EQ(pilot.finish(), "");
        EXPECT_TRUE(pumpUntil([&] {
            return host.console_log().contains("velmora: client list update error: V2 One") && window.workerIdle();
        }));
    }
    {
        ui_harness::Autopilot pilot({askedFor(L"admin", L"sc2-admin")});
        press(dialog, IDC_UPDATE_CLIENTS);
        EXPECT_EQ(pilot.finish(), "");
        EXPECT_TRUE(requestEnded(window, "velmora: client list update: V2 One", 1));
        EXPECT_EQ(clientRows(), sampleListeners().size());
    }
    {
        // Asked once: no dialog now (one would be closed and reported).
        ui_harness::Autopilot pilot({}, 3000);
        ::SendMessageW(view(dialog, L"Clients"), LVM_DELETEALLITEMS, 0, 0);
        press(dialog, IDC_UPDATE_CLIENTS);
        EXPECT_TRUE(requestEnded(window, "velmora: client list update: V2 One", 2));
        EXPECT_EQ(clientRows(), sampleListeners().size());
        EXPECT_EQ(pilot.finish(), "");
    }

    // The second stream with the same id does not start.
    selectRow(dialog, 1);
    std::wstring box_text;
    {
        ui_harness::Autopilot pilot({Step{L"V2 Two", [&](Window& box) {
                                              box_text = box.messageText();
                                              box.click(IDOK);
                                          },
                                          true}});
        press(dialog, IDC_CONNECT);
        EXPECT_TRUE(pumpUntil([&] { return !box_text.empty(); }));
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_EQ(box_text, L"streamid is already used by another stream.");
    EXPECT_FALSE(second->status().running);
    EXPECT_EQ(second->status().reconnect_count, 0);
    EXPECT_TRUE(host.console_log().contains("velmora: Error: V2 Two"));
    EXPECT_EQ(streamRows(dialog)[1], L"V2 Two");
    EXPECT_EQ(text(dialog, IDC_CONNECT), L"Connect");
    EXPECT_TRUE(first->status().running);
    EXPECT_TRUE(window.workerRunning());
    EXPECT_EQ(smallIcon(dialog), icon(IDI_STREAMING));

    // A new start of the first stream asks again.
    selectRow(dialog, 0);
    press(dialog, IDC_CONNECT);
    EXPECT_FALSE(first->status().running);
    EXPECT_EQ(smallIcon(dialog), icon(IDI_IDLE));
    EXPECT_EQ(window.CurrentIcon(), icon(IDI_IDLE));
    EXPECT_FALSE(window.workerRunning());
    EXPECT_EQ(monitor(dialog, L"Status"), L"Disconnected");
    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(first->status().running);
    EXPECT_TRUE(requestEnded(window, "velmora: metadata update: V2 One", 2));
    {
        ui_harness::Autopilot pilot({askedFor(L"admin", L"sc2-admin")});
        press(dialog, IDC_UPDATE_CLIENTS);
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_TRUE(requestEnded(window, "velmora: client list update: V2 One", 3));

    // A listener list that cannot be read is reported, and the worker
    // serves the next request (the credentials are not asked again: the
    // server answered).
    selectRow(dialog, 2);
    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(window.allStreams()[2]->status().running) << window.allStreams()[2]->status().error_text;
    EXPECT_TRUE(requestEnded(window, "velmora: metadata update: V2 Unreadable", 1));
    {
        ui_harness::Autopilot pilot({askedFor(L"admin", L"sc2-admin")});
        press(dialog, IDC_UPDATE_CLIENTS);
        EXPECT_EQ(pilot.finish(), "");
    }
    const std::string failed = "velmora: client list update error: V2 Unreadable";
    EXPECT_TRUE(requestEnded(window, failed, 1));
    {
        ui_harness::Autopilot pilot({}, 3000);
        press(dialog, IDC_UPDATE_CLIENTS);
        EXPECT_TRUE(requestEnded(window, failed, 2));
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_TRUE(window.workerRunning());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
}

// The window's worker around a slow listener list and a reconnection, on a
// scripted Icecast2 server: titles that come while the worker waits for
// the list follow it (the latest one); while the stream waits to
// reconnect, a title is kept with one console line and a listener request
// asks nothing, and the reconnection sends the current title.
TEST_F(MainWindow, TitlesFollowASlowListenerListAndWaitForAReconnection) {
    VELMORA_NEED_DISPLAY();
    ListHoldingServer server;
    Group a{"Held", SERVER_ICECAST2, server.port(), "/held"};
    a.encoder = pipetest::binDir() + "passthrough.exe";
    a.params = "";
    writeSettings("<auto_update_metadata>1</auto_update_metadata><auto_reconnect>1</auto_reconnect>"
                  "<vumeter_switch>0</vumeter_switch>",
                  {a});
    host.play({kestrune_host::signal_track("Artist", "One", 300, 440.0)});
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    Stream* stream = window.allStreams()[0].get();
    // Long enough for the requests below to fall inside the wait.
    stream->setReconnectWait(3s);
    stream->setSettleSeconds(0);
    const auto titles = [&] { return server.titles("/held"); };
    // A radio's new title, as far as the window's request for it.
    const auto retitle = [&](const std::string& title) {
        host.set_dynamic_info({{"artist", "Artist"}, {"title", title}});
        return pumpUntil([&] { return monitor(dialog, L"Metadata") == fromUtf8("Artist - " + title); });
    };
    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(stream->status().running) << stream->status().error_text;
    ASSERT_TRUE(requestEnded(window, "velmora: metadata update: Held", 1));
    EXPECT_EQ(titles(), std::vector<std::string>{"Artist - One"});

    server.hold(true);
    press(dialog, IDC_UPDATE_CLIENTS);
    ASSERT_TRUE(pumpUntil([&] { return server.listRequests() == 1; }));
    ASSERT_TRUE(retitle("Two"));
    ASSERT_TRUE(retitle("Three"));
    server.hold(false);
    EXPECT_TRUE(requestEnded(window, "velmora: client list update: Held", 1));
    EXPECT_TRUE(requestEnded(window, "velmora: metadata update: Held", 2));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Artist - One", "Artist - Three"}));

    const int asked = server.adminRequests();
    server.dropSources();
    ASSERT_TRUE(pumpUntil([&] { return stream->status().reconnecting; }));
    ASSERT_TRUE(retitle("Four"));
    EXPECT_TRUE(requestEnded(window, "velmora: metadata update postponed: Held (will be sent when the stream reconnects)", 1));
    press(dialog, IDC_UPDATE_CLIENTS);
    EXPECT_TRUE(pumpUntil([&] { return window.workerIdle(); }));
    // (All of it inside the wait.)
    ASSERT_TRUE(stream->status().reconnecting);
    EXPECT_EQ(server.adminRequests(), asked);
    EXPECT_TRUE(pumpUntil([&] { return host.console_log().contains("velmora: Reconnection succeeded: Held"); }));
    EXPECT_TRUE(pumpUntil([&] { return titles().back() == "Artist - Four"; })) << titles().back();
    EXPECT_EQ(consoleCount("velmora: metadata update postponed: "), 1u);
    // Neither a skipped nor a failed listener request printed a line.
    EXPECT_EQ(consoleCount("velmora: client list update"), 1u);
    // The title the reconnection sent again has its line, once the stream
    // runs again.
    EXPECT_TRUE(pumpUntil([&] { return consoleCount("velmora: metadata update: Held") == 3; }));
    const std::vector<std::string> lines = host.console_log().lines();
    const auto last = std::find(lines.rbegin(), lines.rend(), "velmora: metadata update: Held");
    EXPECT_TRUE(std::find(last, lines.rend(), "velmora: Reconnection succeeded: Held") != lines.rend());
    if (HasFailure()) {
        std::string console;
        for (const std::string& line : host.console_log().lines())
            if (line.find("Statistics") == std::string::npos) console += line + "\n";
        ADD_FAILURE() << console;
    }
}

// Closing the window while a listener list trickles in (a byte a second:
// the exchange alone could take half a minute) ends the stream within
// about a second of the answer to the question: the stop ends the request
// the window's worker waits for.
TEST_F(MainWindow, ClosingWhileAListenerListTricklesInEndsWithinASecond) {
    VELMORA_NEED_DISPLAY();
    TricklingServer server;
    Group a{"Trickle", 0, server.port(), "/trickle"};
    a.encoder = pipetest::binDir() + "passthrough.exe";
    a.params = "";
    writeSettings("<auto_update_metadata>0</auto_update_metadata><vumeter_switch>0</vumeter_switch>", {a});
    host.play({kestrune_host::signal_track("Artist", "Tone", 300, 440.0)});
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    Stream* stream = window.allStreams()[0].get();
    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(stream->status().running) << stream->status().error_text;
    press(dialog, IDC_UPDATE_CLIENTS);
    ASSERT_TRUE(pumpUntil([&] { return server.trickling(); }));

    std::atomic<std::chrono::steady_clock::rep> answered{0};
    {
        ui_harness::Autopilot pilot({Step{L"Velmora", [&](Window& box) {
                                              answered = std::chrono::steady_clock::now().time_since_epoch().count();
                                              box.click(IDOK);
                                          },
                                          true}});
        ::SendMessageW(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(pilot.finish(), "");
    }
    // (Measured at the server: the window's own end takes its time under
    // Wine, whose tray takes seconds to let an icon go.)
    ASSERT_TRUE(pumpUntil([&] { return server.sourceClosed() != std::chrono::steady_clock::time_point(); }));
    ASSERT_NE(answered.load(), 0);
    const auto took = server.sourceClosed().time_since_epoch() - std::chrono::steady_clock::duration(answered.load());
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    ui_harness::pumpMessages(50);
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_EQ(CMainDlg::existingInstance(), nullptr);
    EXPECT_TRUE(host.console_log().contains("velmora: Streaming finish: Trickle"));
    // The user's own close ended the request: no error.
    EXPECT_EQ(consoleCount("velmora: client list update"), 0u);
}

// Closing the window while the server has not answered a title ends the
// request without an error line: the user's own stop is no failure.
TEST_F(MainWindow, ClosingWhileATitleIsInFlightPrintsNoError) {
    VELMORA_NEED_DISPLAY();
    ListHoldingServer server;
    server.holdTitles(true);
    Group a{"Held", SERVER_ICECAST2, server.port(), "/held"};
    a.encoder = pipetest::binDir() + "passthrough.exe";
    a.params = "";
    writeSettings("<auto_update_metadata>1</auto_update_metadata><vumeter_switch>0</vumeter_switch>", {a});
    host.play({kestrune_host::signal_track("Artist", "One", 300, 440.0)});
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    Stream* stream = window.allStreams()[0].get();
    press(dialog, IDC_CONNECT);
    ASSERT_TRUE(stream->status().running) << stream->status().error_text;
    ASSERT_TRUE(pumpUntil([&] { return !server.titles("/held").empty(); }));
    {
        ui_harness::Autopilot pilot({Step{L"Velmora", [](Window& box) { box.click(IDOK); }, true}});
        ::SendMessageW(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(pilot.finish(), "");
    }
    ASSERT_TRUE(pumpUntil([&] { return host.console_log().contains("velmora: Streaming finish: Held"); }));
    ui_harness::pumpMessages(50);
    EXPECT_EQ(CMainDlg::existingInstance(), nullptr);
    EXPECT_EQ(consoleCount("velmora: metadata update"), 0u);
}

// With the reconnection off, a title that comes after a stream failed,
// while the window is about to stop it, is not reported as waiting for a
// reconnection. (The stream's error line holds its worker until the title
// went to both streams.)
TEST_F(MainWindow, ATitleAfterAFailureIsNotPostponedWhenTheStreamIsStopped) {
    VELMORA_NEED_DISPLAY();
    ListHoldingServer failing_server, other_server;
    Group a{"Failing", SERVER_ICECAST2, failing_server.port(), "/failing"};
    Group b{"Other", SERVER_ICECAST2, other_server.port(), "/other"};
    for (Group* g : {&a, &b}) {
        g->encoder = pipetest::binDir() + "passthrough.exe";
        g->params = "";
    }
    writeSettings("<auto_update_metadata>1</auto_update_metadata><auto_reconnect>0</auto_reconnect>"
                  "<vumeter_switch>0</vumeter_switch>",
                  {a, b});
    ConsoleGate gate(host.console_log(), "velmora: Error: Failing");

    host.play({kestrune_host::signal_track("Artist", "One", 300, 440.0)});
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    // The track's title was taken before the streams start.
    ASSERT_TRUE(pumpUntil([&] { return monitor(dialog, L"Metadata") == L"Artist - One"; }));
    for (int row = 0; row < 2; ++row) {
        selectRow(dialog, row);
        press(dialog, IDC_CONNECT);
        ASSERT_TRUE(window.allStreams()[row]->status().running) << window.allStreams()[row]->status().error_text;
    }
    ASSERT_TRUE(requestEnded(window, "velmora: metadata update: Other", 1));
    const std::size_t failing_titles = consoleCount("velmora: metadata update: Failing");
    failing_server.dropSources();
    ASSERT_TRUE(pumpUntil([&] { return gate.held(); }));
    host.set_dynamic_info({{"artist", "Artist"}, {"title", "Two"}});
    ASSERT_TRUE(requestEnded(window, "velmora: metadata update: Other", 2));
    {
        // The stream stops, and its error comes in a box.
        std::atomic<bool> answered{false};
        ui_harness::Autopilot pilot({Step{L"Failing",
                                          [&](Window& box) {
                                              box.click(IDOK);
                                              answered = true;
                                          },
                                          true}});
        gate.release();
        ASSERT_TRUE(pumpUntil([&] {
            return answered && host.console_log().contains("velmora: Streaming finish: Failing");
        }));
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_EQ(consoleCount("velmora: metadata update postponed: "), 0u);
    EXPECT_EQ(consoleCount("velmora: metadata update: Failing"), failing_titles);
}

// The window goes right after the first title. The Ogg stream, second in
// the list, stands in its title restart (its old encoder's input closed)
// until the close first waits for a stream, the first one, whose encoder
// stays until the stop's cut-off: it starts no new encoder once the close
// has begun, and its listeners get the old encoder's tail and nothing after
// it. (Connected before anything plays, neither stream has a title before.)
TEST_F(MainWindow, ClosingStartsNoEncoderInAStreamThatTookATitleJustBefore) {
    VELMORA_NEED_DISPLAY();
    ListHoldingServer lingering_server, ogg_server;
    Group a{"Lingering", SERVER_ICECAST2, lingering_server.port(), "/lingering"};
    a.encoder = pipetest::binDir() + "lingerer.exe";
    a.params = "";
    Group b{"Vorbis", SERVER_ICECAST2, ogg_server.port(), "/vorbis.ogg"};
    b.encoder = pipetest::binDir() + "latetail.exe";
    b.params = "0 11 0 %title%";
    b.format = FORMAT_OGG_VORBIS;
    writeSettings("<auto_update_metadata>1</auto_update_metadata><vumeter_switch>0</vumeter_switch>", {a, b});
    CMainDlg& window = open();
    const HWND dialog = window.m_hWnd;
    for (int row = 0; row < 2; ++row) {
        selectRow(dialog, row);
        press(dialog, IDC_CONNECT);
        ASSERT_TRUE(window.allStreams()[row]->status().running) << window.allStreams()[row]->status().error_text;
    }
    ConsoleGate gate(host.console_log(), "input ended");
    host.play({kestrune_host::signal_track("Artist", "One", 300, 440.0)});
    ASSERT_TRUE(pumpUntil([&] { return gate.held(); }));
    host.post([&] { gate.release(); });
    ::DestroyWindow(dialog);
    EXPECT_EQ(consoleCount("velmora: Streaming finish: "), 2u);
    ASSERT_TRUE(pumpUntil([&] { return ogg_server.sourceBytes().size() == 1; }));
    EXPECT_EQ(ogg_server.sourceBytes()[0], "END OF TAIL") << "an encoder started after the close began";
}
