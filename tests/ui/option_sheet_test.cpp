// The "Configuration" sheet on copies of a stream's records, driven by the
// autopilot as a user would: switching pages, typing, choosing, pressing OK
// or Cancel and answering the message boxes; then the records and the
// settings store (and its file) are checked.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/config.h"
#include "plugin/utils.h"
#include "res/resource.h"
#include "sdk_fixture.h"
#include "settings_text.h"
#include "temp_dir.h"
#include "ui/option_sheet.h"
#include "ui_harness.h"
#include "view_support.h"

using ui_harness::Autopilot;
using ui_harness::Step;
using ui_harness::Window;
using Rows = std::vector<std::wstring>;

namespace {

const wchar_t kSheet[] = L"Configuration";

using settings_text::describe;

// The store's defaults for a stream's server record.
ServerSettings defaultServer() {
    ServerSettings s;
    s.type = SERVER_ICECAST2;
    s.host = "127.0.0.1";
    s.port = 8000;
    s.proxy_host = "127.0.0.1";
    s.proxy_port = 9050;
    s.password = "wombat";
    s.mount_point = "/stream";
    s.stream_id = 1;
    s.yp.name = "Stream Name";
    s.yp.desc = "Stream Description";
    s.yp.genre = "Genre";
    s.yp.url = "http://";
    s.yp.charset = "UTF-8";
    return s;
}

EncoderSettings encoder(const std::string& name, const std::string& params, int format = FORMAT_MP3) {
    EncoderSettings e;
    e.encoder_file = "encoders\\" + name + ".exe";
    e.encoder_params = params;
    e.format = format;
    e.sampling_rate = 44100;
    e.channel = 2;
    e.encoder_name = name;
    e.bitrate = 128;
    e.description = name + " preset";
    return e;
}

// ---- the sheet, seen from the autopilot's thread
Window currentPage(const Window& sheet) {
    return Window(reinterpret_cast<HWND>(::SendMessageW(sheet.hwnd, PSM_GETCURRENTPAGEHWND, 0, 0)));
}
int currentIndex(const Window& sheet) {
    return static_cast<int>(
        ::SendMessageW(sheet.hwnd, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(currentPage(sheet).hwnd), 0));
}
// Clicks the page's tab.
Window showPage(const Window& sheet, int index) {
    HWND tabs = reinterpret_cast<HWND>(::SendMessageW(sheet.hwnd, PSM_GETTABCONTROL, 0, 0));
    RECT tab = {};
    ::SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&tab));
    const LPARAM at = MAKELPARAM((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
    ::SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(tabs, WM_LBUTTONUP, 0, at);
    return currentPage(sheet);
}
// A button press handled before the call returns (for buttons that open
// no modal window).
void press(const Window& w, int id) {
    ::SendMessageW(w.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(w.item(id)));
}
void choose(const Window& w, int id, int index) {
    ::SendMessageW(w.item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::SendMessageW(w.hwnd, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(w.item(id)));
}
int selectedRow(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); }
// Selects a row as a click would; -1 clears the selection.
void selectRow(HWND list, int row) {
    LVITEMW item = {};
    item.stateMask = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : LVIS_SELECTED;
    item.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}
// The sheet as the user sees it, frame and caption included, with the
// message box over it when one is given.
void screenshot(const Window& sheet, const std::string& name, HWND box = nullptr) {
    for (HWND window : {sheet.hwnd, box})
        if (window)
            ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // The sheet's thread paints after the calls above have returned.
    ui_harness::saveScreenshot(ui_harness::captureDrawn(sheet.hwnd, box), name);
}

const Rows kBuiltInRows = {
    L"lame | MP3 | CBR 128kbps",
    L"fhgaacenc | LC-AAC | VBR 128kbps",
    L"fhgaacenc | HE-AAC v2 | VBR 32kbps",
    L"qaac | LC-AAC | TVBR Q64 (128kbps)",
    L"qaac | HE-AAC | CVBR 80kbps",
    L"oggenc2 | Vorbis | Quality 4 (128kbps)",
    L"flac | FLAC | Compression Level 5",
    L"flac | FLAC | flac via lossyWAV (Quality Standard)",
    L"opus | Opus | VBR 96kbps",
};

// A profile folder of its own for the settings store, and a current
// folder holding "encoders\" for the presets' relative program paths.
class OptionSheetTest : public with_player {
protected:
    void SetUp() override {
        profile = scratch.path() + "profile";
        host.set_profile_folder(profile);
        with_player::SetUp();
        wchar_t cwd[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        old_cwd = cwd;
        Poco::File(scratch.path() + "encoders").createDirectories();
        ::SetCurrentDirectoryW(fromUtf8(scratch.path()).c_str());
    }
    void TearDown() override {
        deleteConfig();
        ::SetCurrentDirectoryW(old_cwd.c_str());
        with_player::TearDown();
    }

    // The stream's encoder: the first built-in preset, whose program exists.
    EncoderSettings lame() {
        program("lame.exe");
        EncoderSettings e = encoder("lame", "-r --quiet --flush --preset cbr 128 -");
        e.description = "CBR 128kbps";
        return e;
    }

    void program(const std::string& name) { Poco::FileOutputStream(scratch.path() + "encoders/" + name) << "MZ"; }

    // The settings file as the store writes it when it goes.
    std::string savedFile() {
        deleteConfig();
        Poco::FileInputStream in(profile + "/velmora.xml");
        std::string text;
        Poco::StreamCopier::copyToString(in, text);
        return text;
    }

    TempDir scratch;
    std::string profile;
    std::wstring old_cwd;
};

// A message box that must say `text`, answered with `button`; `also` runs
// while it is open.
Step answer(const wchar_t* caption, const std::wstring& text, int button = IDOK,
            std::function<void()> also = nullptr) {
    return {caption, [=](Window& box) {
        EXPECT_EQ(box.messageText(), text) << toUtf8(box.messageText());
        if (also) also();
        box.click(button);
    }};
}

// The sheet after a refusal: the focus must be in `focus` on the page in
// view; then `act` on that page and OK.
Step retry(int focus, std::function<void(const Window&)> act) {
    return {kSheet, [=](Window& w) {
        Window page = currentPage(w);
        EXPECT_EQ(page.focusId(), focus);
        act(page);
        w.click(IDOK);
    }};
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

// Reset (asked first), Add New, Remove, and the checks of OK in their
// order; OK at once asks the Encoder page alone; the list goes to the store.
TEST_F(OptionSheetTest, EncoderPresetsResetAddRemoveAndTheChosenPresetsProgramsAreChecked) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow owner(400, 300);
    getConfig()->saveEncoderSetting(0, encoder("mine", "-r --quiet -"));
    getConfig()->saveEncoderSetting(1, encoder("odd", "--odd", 9));
    // Matches the fourth built-in preset by name and parameters; the other
    // fields take no part.
    EncoderSettings chosen = encoder("qaac", "--raw --silent --adts --tvbr 64 -o - -");
    chosen.bitrate = 1;
    ServerSettings server = defaultServer();
    server.type = 7;  // the Server page is never shown: nothing is touched
    server.mount_point = "";
    const std::string server_before = describe(server);
    // A stored format outside 0 to 6 reads as the default, MP3.
    const Rows stored = {L"mine | MP3 | mine preset", L"odd | MP3 | odd preset"};
    auto list = [](const Window& sheet) { return currentPage(sheet).item(IDC_ENCODER_LIST); };

    OptionSheet sheet(&chosen, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [&](Window& w) {
             EXPECT_EQ(w.text(IDCANCEL), L"Cancel");
             HWND apply = ::GetDlgItem(w.hwnd, 0x3021);
             EXPECT_FALSE(apply && ::IsWindowVisible(apply));
             EXPECT_EQ(::GetWindowLongW(w.hwnd, GWL_EXSTYLE) & WS_EX_CONTEXTHELP, 0) << "no help button";
             EXPECT_EQ(view_test::rows(list(w)), stored);
             EXPECT_EQ(selectedRow(list(w)), -1);
             currentPage(w).click(IDC_ENCODER_RESET);
         }},
        answer(L"Reset", L"All current settings are overwritten.\nAre you sure you want to restore default?",
               IDCANCEL),
        {kSheet,
         [&](Window& w) {
             EXPECT_EQ(view_test::rows(list(w)), stored);
             currentPage(w).click(IDC_ENCODER_RESET);
         }},
        {L"Reset", [](Window& box) { box.click(IDOK); }},
        {kSheet,
         [&](Window& w) {
             Window page = currentPage(w);
             HWND presets = list(w);
             EXPECT_EQ(getConfig()->countEncoderSettings(), 0) << "the saved presets go at once";
             EXPECT_EQ(view_test::rows(presets), kBuiltInRows);
             EXPECT_EQ(selectedRow(presets), 3);
             screenshot(w, "option-sheet-encoder");
             press(page, IDC_ENCODER_ADD);  // a copy of the selected row
             Rows rows = kBuiltInRows;
             rows.push_back(kBuiltInRows[3]);
             EXPECT_EQ(view_test::rows(presets), rows);
             EXPECT_EQ(selectedRow(presets), 3);
             selectRow(presets, 9);
             press(page, IDC_ENCODER_REMOVE);  // the last row: the new last one is selected
             EXPECT_EQ(view_test::rows(presets), kBuiltInRows);
             EXPECT_EQ(selectedRow(presets), 8);
             selectRow(presets, -1);
             press(page, IDC_ENCODER_ADD);  // nothing selected: the Add New default
             EXPECT_EQ(view_test::row(presets, 9), L"lame | MP3 | CBR 128kbps");
             selectRow(presets, 2);
             w.click(IDOK);
         }},
        answer(L"fhgaacenc", L"The encoder file cannot be found."),
        {kSheet,
         [&](Window& w) {
             program("flac.exe");
             selectRow(list(w), 7);
             w.click(IDOK);
         }},
        answer(L"Pre-processing", L"The program file cannot be found."),
        {kSheet,
         [&](Window& w) {
             program("opusenc.exe");
             selectRow(list(w), 8);
             w.click(IDOK);
         }},
    });
    EXPECT_EQ(sheet.DoModal(owner), 1);
    EXPECT_EQ(pilot.finish(), "");

    // The whole preset, as the built-in table gives it, became the stream's.
    EncoderSettings opus = encoder("opus", "--raw --quiet --max-delay 0 --artist \"%artist%\" --title \"%title%\" "
                                           "--vbr --bitrate 96 - -", FORMAT_OGG_OPUS);
    opus.encoder_file = "encoders\\opusenc.exe";
    opus.sampling_rate = 48000;
    opus.bitrate = 96;
    opus.description = "VBR 96kbps";
    EXPECT_EQ(describe(chosen), describe(opus));
    EXPECT_EQ(describe(server), server_before);

    // The store holds the page's ten presets in list order.
    Config* config = getConfig();
    ASSERT_EQ(config->countEncoderSettings(), 10);
    EncoderSettings first, lossy, added;
    config->loadEncoderSetting(0, first);
    config->loadEncoderSetting(7, lossy);
    config->loadEncoderSetting(9, added);
    EXPECT_EQ(first.encoder_params, "-r --quiet --flush --preset cbr 128 -");
    EXPECT_EQ(lossy.program_file, "encoders\\lossyWAV.exe");
    EXPECT_EQ(lossy.program_params, "- --stdout --silent --ignore-chunk-sizes --quality S");
    EXPECT_EQ(added.encoder_params, "-r --flush --quiet --preset cbr 128 -");
    const std::string file = savedFile();
    EXPECT_EQ(occurrences(file, "<encoder_setting>"), 10u) << file;
    EXPECT_EQ(occurrences(file, "mine preset"), 0u);
}

// A stream whose encoder matches no preset: "Select any encoder." even
// from another page, which stays in view; a preset edited through the
// setup dialog (which refuses line breaks) survives Cancel, the stream's
// encoder does not change, and a stored preset is written back as it was.
TEST_F(OptionSheetTest, NoMatchingPresetRefusesOkAndEditedPresetsSurviveCancel) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow owner(400, 300);
    getConfig()->saveEncoderSetting(0, encoder("mine", "-r --quiet -"));
    getConfig()->saveEncoderSetting(1, encoder("odd", "--one\n--two"));
    EncoderSettings stream_encoder = encoder("mine", "-r --quiet -");
    stream_encoder.program_params = "--differs";
    const std::string encoder_before = describe(stream_encoder);
    ServerSettings server = defaultServer();

    OptionSheet sheet(&stream_encoder, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [&](Window& w) {
             HWND list = currentPage(w).item(IDC_ENCODER_LIST);
             EXPECT_EQ(view_test::rows(list), (Rows{L"mine | MP3 | mine preset", L"odd | MP3 | odd preset"}));
             EXPECT_EQ(selectedRow(list), -1);
             showPage(w, 2);
             w.click(IDOK);
         }},
        {L"Encoder",
         [&](Window& box) {
             EXPECT_EQ(box.messageText(), L"Select any encoder.");
             box.click(IDOK);
         }},
        {kSheet,
         [&](Window& w) {
             EXPECT_EQ(currentIndex(w), 2) << "the page in view stays in view";
             HWND list = showPage(w, 0).item(IDC_ENCODER_LIST);
             selectRow(list, 0);
             RECT row = {};
             row.left = LVIR_LABEL;
             ::SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
             const LPARAM at = MAKELPARAM((row.left + row.right) / 2, (row.top + row.bottom) / 2);
             ::PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);  // opens the setup dialog
             ::PostMessageW(list, WM_LBUTTONUP, 0, at);
         }},
        {L"Encoder Setup",
         [](Window& w) {
             w.setText(IDC_SETUP_ENCODER_PARAMS, L"--edited\r\n--split");
             w.setText(IDC_SETUP_DESCRIPTION, L"edited");
             w.click(IDOK);
         }},
        answer(L"Velmora", L"Encoder parameters must be one line: remove the line breaks."),
        {L"Encoder Setup",
         [](Window& w) {
             EXPECT_EQ(w.focusId(), IDC_SETUP_ENCODER_PARAMS);
             w.setText(IDC_SETUP_ENCODER_PARAMS, L"--edited");
             // Enter in the parameters presses OK instead of breaking the line.
             ::PostMessageW(w.item(IDC_SETUP_ENCODER_PARAMS), WM_KEYDOWN, VK_RETURN, 0x001C0001);
         }},
        {kSheet,
         [](Window& w) {
             EXPECT_EQ(view_test::rows(currentPage(w).item(IDC_ENCODER_LIST)),
                       (Rows{L"mine | MP3 | edited", L"odd | MP3 | odd preset"}));
             w.click(IDCANCEL);
         }},
    });
    EXPECT_EQ(sheet.DoModal(owner), 0);
    EXPECT_EQ(pilot.finish(), "");
    EXPECT_EQ(describe(stream_encoder), encoder_before);

    Config* config = getConfig();
    ASSERT_EQ(config->countEncoderSettings(), 2);
    EncoderSettings edited, kept;
    config->loadEncoderSetting(0, edited);
    config->loadEncoderSetting(1, kept);
    EncoderSettings expected = encoder("mine", "--edited");
    expected.description = "edited";
    EXPECT_EQ(describe(edited), describe(expected));
    EXPECT_EQ(describe(kept), describe(encoder("odd", "--one\n--two")));
}

// The Server page's fields are read in order, each failure with its message
// and the focus in its field, and the record is written only once every
// check passed; a type outside the table shows none and stores Icecast2.
TEST_F(OptionSheetTest, ServerFieldsAreCheckedInOrderAndWrittenOnlyWhenAllPass) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow owner(400, 300);
    EncoderSettings stream_encoder = lame();
    ServerSettings server = defaultServer();
    server.type = 5;
    server.host = "old.example";
    server.use_proxy = 1;
    server.proxy_host = "proxy.example";
    server.proxy_port = 1080;
    server.password = "pw";
    server.mount_point = "live";
    server.stream_id = 3;
    const std::string before = describe(server);
    auto unchanged = [&] { EXPECT_EQ(describe(server), before); };
    const std::wstring port = L"Port must be an integer between 0 and 65535.";

    OptionSheet sheet(&stream_encoder, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [&](Window& w) {
             Window page = showPage(w, 1);
             EXPECT_EQ(page.entries(IDC_SERVER_TYPE),
                       (std::vector<std::wstring>{L"Icecast2", L"SHOUTCast v1", L"SHOUTCast v2"}));
             EXPECT_EQ(page.selection(IDC_SERVER_TYPE), -1);
             EXPECT_TRUE(page.enabled(IDC_SERVER_MOUNT) && page.enabled(IDC_SERVER_STREAM_ID));
             EXPECT_FALSE(page.visible(IDC_SERVER_USE_PROXY) || page.visible(IDC_SERVER_PROXY_HOST) ||
                          page.visible(IDC_SERVER_PROXY_PORT));
             std::vector<std::wstring> shown;
             for (int id : {IDC_SERVER_HOST, IDC_SERVER_PORT, IDC_SERVER_USERNAME, IDC_SERVER_PASSWORD,
                            IDC_SERVER_MOUNT, IDC_SERVER_STREAM_ID, IDC_SERVER_PROXY_HOST, IDC_SERVER_PROXY_PORT})
                 shown.push_back(page.text(id));
             EXPECT_EQ(shown, (std::vector<std::wstring>{L"old.example", L"8000", L"", L"pw", L"live", L"3",
                                                         L"proxy.example", L"1080"}));
             page.setText(IDC_SERVER_PORT, L"65536");
             w.click(IDOK);
         }},
        answer(L"Velmora", port, IDOK, unchanged),
        retry(IDC_SERVER_PORT, [](const Window& page) { page.setText(IDC_SERVER_PORT, L""); }),
        answer(L"Velmora", port, IDOK, unchanged),
        retry(IDC_SERVER_PORT,
              [](const Window& page) {
                  page.setText(IDC_SERVER_PORT, L"65535");
                  page.setText(IDC_SERVER_HOST, std::wstring(129, L'h'));
              }),
        answer(L"Velmora", L"String must be under 128 characters.\r\n", IDOK, unchanged),
        retry(IDC_SERVER_HOST,
              [](const Window& page) {
                  page.setText(IDC_SERVER_HOST, std::wstring(128, L'h'));
                  page.setText(IDC_SERVER_STREAM_ID, L"0");  // read although disabled for Icecast2
              }),
        answer(L"Velmora", L"Stream ID must be an integer between 1 and 2147483647.", IDOK, unchanged),
        retry(IDC_SERVER_STREAM_ID,
              [](const Window& page) {
                  page.setText(IDC_SERVER_STREAM_ID, L"7");
                  page.setText(IDC_SERVER_USERNAME, std::wstring(1, wchar_t(0xD800)));  // not text in any charset
              }),
        answer(L"Velmora", L"The server settings cannot be taken over.\r\nbad conversion", IDOK, unchanged),
        retry(IDC_SERVER_STREAM_ID, [](const Window& page) { page.setText(IDC_SERVER_USERNAME, L"source"); }),
    });
    EXPECT_EQ(sheet.DoModal(owner), 1);
    EXPECT_EQ(pilot.finish(), "");

    ServerSettings expected = defaultServer();
    expected.host = std::string(128, 'h');
    expected.port = 65535;
    expected.use_proxy = 1;
    expected.proxy_host = "proxy.example";
    expected.proxy_port = 1080;
    expected.username = "source";
    expected.password = "pw";
    expected.mount_point = "/live";
    expected.stream_id = 7;
    EXPECT_EQ(describe(server), describe(expected));
}

// A proxy port out of range in the settings file, whose field the page
// hides (so the user could not mend it there): the sheet opens on what the
// store read and closes with OK.
TEST_F(OptionSheetTest, ASheetOnAProxyPortOutOfRangeInTheFileClosesWithOk) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow owner(400, 300);
    Poco::FileOutputStream(profile + "/velmora.xml")
        << "<velmora><stream><server><proxy_port>70000</proxy_port></server></stream></velmora>";
    EncoderSettings stream_encoder = lame();
    EncoderSettings stored_encoder;
    ServerSettings server;
    getConfig()->loadStream(0, stored_encoder, server);

    OptionSheet sheet(&stream_encoder, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [](Window& w) {
             showPage(w, 1);
             w.click(IDOK);
         }},
    });
    EXPECT_EQ(sheet.DoModal(owner), 1);
    EXPECT_EQ(pilot.finish(), "");
    EXPECT_EQ(describe(server), describe(defaultServer()));
}

// Mount point and stream id follow the chosen type; each type's mount
// point rule, and an emptied host keeping host and port.
TEST_F(OptionSheetTest, ServerTypesEnableTheirFieldsAndNormaliseTheMountPoint) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow owner(400, 300);
    EncoderSettings stream_encoder = lame();
    ServerSettings shown = defaultServer();
    OptionSheet first(&stream_encoder, &shown, kSheet);
    Autopilot pilot({{kSheet, [&](Window& w) {
        Window page = showPage(w, 1);
        const char* names[] = {"icecast2", "shoutcast1", "shoutcast2"};
        const bool mount[] = {true, false, false}, id[] = {false, false, true};
        for (int type : {0, 2, 1}) {  // v2 to v1 disables the stream id
            if (type != 0) choose(page, IDC_SERVER_TYPE, type);
            EXPECT_EQ(page.enabled(IDC_SERVER_MOUNT), mount[type]) << names[type];
            EXPECT_EQ(page.enabled(IDC_SERVER_STREAM_ID), id[type]) << names[type];
            screenshot(w, std::string("option-sheet-server-") + names[type]);
        }
        w.click(IDCANCEL);
    }}});
    EXPECT_EQ(first.DoModal(owner), 0);
    EXPECT_EQ(pilot.finish(), "");

    struct Case {
        int type;
        const wchar_t* mount;
        const char* stored;  // nullptr: refused with "Mountpoint is empty.\n"
    } cases[] = {
        {0, L"abc", "/abc"}, {0, L"/", nullptr}, {0, L"", nullptr}, {1, L"", ""},
        {1, L"abc", "abc"},  {2, L"", "/"},      {2, L"/", "/"},    {2, L"abc", "/abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " \"" + toUtf8(c.mount) + "\"");
        ServerSettings server = defaultServer();
        std::vector<Step> steps = {{kSheet, [&](Window& w) {
            Window page = showPage(w, 1);
            choose(page, IDC_SERVER_TYPE, c.type);
            page.setText(IDC_SERVER_MOUNT, c.mount);
            page.setText(IDC_SERVER_HOST, L"");  // keeps host and port
            page.setText(IDC_SERVER_PORT, L"9000");
            w.click(IDOK);
        }}};
        if (!c.stored) {
            steps.push_back(answer(L"Velmora", L"Mountpoint is empty.\n"));
            steps.push_back({kSheet, [](Window& w) { w.click(IDCANCEL); }});
        }
        OptionSheet sheet(&stream_encoder, &server, kSheet);
        Autopilot run(std::move(steps));
        EXPECT_EQ(sheet.DoModal(owner), c.stored ? 1 : 0);
        EXPECT_EQ(run.finish(), "");
        EXPECT_EQ(server.type, c.stored ? c.type : 0);
        EXPECT_EQ(server.mount_point, c.stored ? c.stored : "/stream");
        EXPECT_EQ(server.host + ":" + std::to_string(server.port), "127.0.0.1:8000");
    }
}

// The directory fields: lists, the order of the checks with their focus,
// trimming, the charset tested by the converter; the record keeps its
// fields until every check passed.
TEST_F(OptionSheetTest, YellowPagesChecksNameDescriptionGenreAndCharset) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow owner(400, 300);
    EncoderSettings stream_encoder = lame();
    program("opusenc.exe");
    ServerSettings server = defaultServer();
    server.type = SERVER_SHOUTCAST2;
    server.yp.name = "Old name";
    server.yp.genre = "Rock";
    const std::string before = describe(server);
    auto unchanged = [&] { EXPECT_EQ(describe(server), before); };

    OptionSheet sheet(&stream_encoder, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [&](Window& w) {
             selectRow(currentPage(w).item(IDC_ENCODER_LIST), 8);  // an Ogg format
             Window page = showPage(w, 2);
             EXPECT_EQ(page.entries(IDC_YP_GENRE),
                       (std::vector<std::wstring>{L"Anime", L"Classic", L"Game", L"Easy Listening", L"Funk",
                                                  L"Hard Rock", L"Hip-Hop", L"Jpop", L"Jazz", L"Rock", L"Metal",
                                                  L"Punk", L"Reggae", L"Soundtrack", L"Talk", L"Test", L"Trance",
                                                  L"Techno"}));
             EXPECT_EQ(page.entries(IDC_YP_CHARSET),
                       (std::vector<std::wstring>{L"UTF-8", L"SHIFT_JIS", L"GB2312", L"KS_C_5601-1987", L"BIG5",
                                                  L"Windows-1250", L"Windows-1251", L"Windows-1252", L"Windows-1253",
                                                  L"Windows-1254", L"Windows-1255", L"Windows-1256", L"Windows-1257",
                                                  L"Windows-1258"}));
             std::vector<std::wstring> shown;
             for (int id : {IDC_YP_NAME, IDC_YP_DESCRIPTION, IDC_YP_GENRE, IDC_YP_URL, IDC_YP_CHARSET})
                 shown.push_back(page.text(id));
             EXPECT_EQ(shown, (std::vector<std::wstring>{L"Old name", L"Stream Description", L"Rock", L"http://",
                                                         L"UTF-8"}));
             EXPECT_FALSE(page.checked(IDC_YP_PUBLIC));
             screenshot(w, "option-sheet-yellow-pages");
             page.setText(IDC_YP_NAME, L"   ");
             page.setText(IDC_YP_DESCRIPTION, std::wstring(129, L'd'));  // read before the name is checked
             w.click(IDOK);
         }},
        answer(L"Velmora", L"String must be under 128 characters.\r\n", IDOK, unchanged),
        retry(IDC_YP_DESCRIPTION, [](const Window& page) { page.setText(IDC_YP_DESCRIPTION, L" Talk and music "); }),
        answer(L"Velmora", L"Steram Name is not set.", IDOK, unchanged),
        retry(IDC_YP_NAME,
              [](const Window& page) {
                  page.setText(IDC_YP_NAME, L" My Radio ");
                  page.setText(IDC_YP_GENRE, L" \t ");
              }),
        answer(L"Velmora", L"Genre is not set.", IDOK, unchanged),
        retry(IDC_YP_GENRE,
              [](const Window& page) {
                  page.setText(IDC_YP_GENRE, L" Chiptune ");
                  page.setText(IDC_YP_CHARSET, L"NO-SUCH-CHARSET");
                  ::SendMessageW(page.hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(page.item(IDC_YP_URL)), TRUE);
              }),
        answer(L"Velmora", L"Unsupported Charset", IDOK, unchanged),
        retry(IDC_YP_URL,  // the focus stayed where it was
              [](const Window& page) {
                  page.setText(IDC_YP_CHARSET, L"ISO-8859-1");
                  page.setText(IDC_YP_URL, L"");
                  page.check(IDC_YP_PUBLIC, true);
              }),
    });
    EXPECT_EQ(sheet.DoModal(owner), 1);
    EXPECT_EQ(pilot.finish(), "");

    // Trimmed where asked, the typed genre and charset as typed; the Ogg
    // and SHOUTcast v2 charset rule is the main window's, not the sheet's.
    EXPECT_TRUE(server.yp.pub);
    EXPECT_EQ(server.yp.name + "|" + server.yp.desc + "|" + server.yp.genre + "|" + server.yp.url + "|" +
                  server.yp.charset,
              "My Radio|Talk and music|Chiptune||ISO-8859-1");
    EXPECT_EQ(stream_encoder.format, FORMAT_OGG_OPUS);
}

// OK asks the shown pages in order and stops at the first refusal: its
// message only, the page in view stays; Cancel then returns 0.
TEST_F(OptionSheetTest, TheFirstRefusingPageEndsTheConfirmationAndCancelReturnsZero) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow owner(400, 300);
    EncoderSettings stream_encoder = lame();
    stream_encoder.bitrate = 320;  // not compared: the preset is still found
    ServerSettings server = defaultServer();
    const std::string server_before = describe(server);

    HWND sheet_window = nullptr;
    OptionSheet sheet(&stream_encoder, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [&](Window& w) {
             sheet_window = w.hwnd;
             showPage(w, 1).setText(IDC_SERVER_MOUNT, L"");
             showPage(w, 2).setText(IDC_YP_NAME, L"");
             w.click(IDOK);
         }},
        {L"Velmora",
         [&](Window& box) {
             EXPECT_EQ(box.messageText(), L"Mountpoint is empty.\n");
             screenshot(Window(sheet_window), "option-sheet-refusal", box.hwnd);
             box.click(IDOK);
         }},
        {kSheet,
         [](Window& w) {
             EXPECT_EQ(currentIndex(w), 2);
             w.click(IDCANCEL);
         }},
    });
    EXPECT_EQ(sheet.DoModal(owner), 0);
    EXPECT_EQ(pilot.finish(), "") << "one message box only";
    // The Encoder page, asked first, wrote its preset; the caller drops the
    // copies after Cancel.
    EXPECT_EQ(stream_encoder.bitrate, 128);
    EXPECT_EQ(describe(server), server_before);
}

// The sheet's callback as the system calls it: before the sheet exists it
// takes the help button's style out of the sheet's template, in either
// template form, and leaves the other styles; once the sheet window exists
// its Cancel button reads "Cancel", whatever the system wrote there.
TEST_F(OptionSheetTest, TheCallbackTakesOutTheHelpButtonAndNamesCancel) {
    const DWORD styles = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    // DLGTEMPLATE: the style comes first.
    WORD plain[16] = {};
    const DWORD plain_style = styles | DS_CONTEXTHELP;
    std::memcpy(plain, &plain_style, sizeof plain_style);
    WTL::detail::SheetHook::Callback(nullptr, PSCB_PRECREATE, reinterpret_cast<LPARAM>(plain));
    DWORD read = 0;
    std::memcpy(&read, plain, sizeof read);
    EXPECT_EQ(read, styles);
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style,
    // then the style.
    WORD extended[16] = {1, 0xFFFF, 0x1234, 0x5678, LOWORD(WS_EX_CONTEXTHELP), HIWORD(WS_EX_CONTEXTHELP)};
    const DWORD extended_style = styles | DS_CONTEXTHELP;
    std::memcpy(extended + 6, &extended_style, sizeof extended_style);
    WTL::detail::SheetHook::Callback(nullptr, PSCB_PRECREATE, reinterpret_cast<LPARAM>(extended));
    std::memcpy(&read, extended + 6, sizeof read);
    EXPECT_EQ(read, styles);
    EXPECT_EQ(extended[0], 1);
    EXPECT_EQ(extended[1], 0xFFFF);
    EXPECT_EQ(extended[2], 0x1234) << "the help id is left alone";

    VELMORA_NEED_DISPLAY();
    EncoderSettings stream_encoder = lame();
    ServerSettings server = defaultServer();
    OptionSheet sheet(&stream_encoder, &server, kSheet);
    // A window standing in for the sheet's, whose Cancel button reads
    // another language's word.
    HWND window = ::CreateWindowExW(0, L"STATIC", kSheet, WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HWND cancel = ::CreateWindowExW(0, L"BUTTON", L"Abbrechen", WS_CHILD | BS_PUSHBUTTON, 10, 10, 80, 24, window,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), nullptr, nullptr);
    ASSERT_NE(cancel, nullptr);
    WTL::detail::SheetHook::SetCreating(&sheet);
    WTL::detail::SheetHook::Callback(window, PSCB_INITIALIZED, 0);
    WTL::detail::SheetHook::SetCreating(nullptr);
    EXPECT_EQ(sheet.m_hWnd, window) << "the sheet object is tied to its window";
    wchar_t text[32] = {};
    ::GetWindowTextW(cancel, text, 32);
    EXPECT_STREQ(text, L"Cancel");
    ::DestroyWindow(window);
}
