// The "Configuration" sheet on copies of a stream's records, driven by the
// autopilot as a user would: switching pages, typing, choosing, pressing OK
// or Cancel and answering the message boxes; then the records and the
// settings store (and its file) are checked.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/config.h"
#include "plugin/utils.h"
#include "res/resource.h"
#include "sdk_fixture.h"
#include "temp_dir.h"
#include "ui/option_sheet.h"
#include "ui_harness.h"
#include "view_support.h"

using ui_harness::Autopilot;
using ui_harness::Window;
using Rows = std::vector<std::wstring>;

namespace {

const wchar_t kSheet[] = L"Configuration";

std::string describe(const EncoderSettings& s) {
    std::ostringstream out;
    out << "file=" << s.encoder_file << " params=" << s.encoder_params << " format=" << s.format
        << " program=" << s.program_file << " program_params=" << s.program_params << " wave=" << s.wave_format
        << " header=" << s.wave_header << " rate=" << s.sampling_rate << " channels=" << s.channel
        << " name=" << s.encoder_name << " bitrate=" << s.bitrate << " description=" << s.description;
    return out.str();
}

std::string describe(const ServerSettings& s) {
    std::ostringstream out;
    out << "type=" << s.type << " host=" << s.host << " port=" << s.port << " use_proxy=" << s.use_proxy
        << " proxy_host=" << s.proxy_host << " proxy_port=" << s.proxy_port << " user=" << s.username
        << " password=" << s.password << " mount=" << s.mount_point << " id=" << s.stream_id << " pub=" << s.yp.pub
        << " name=" << s.yp.name << " desc=" << s.yp.desc << " genre=" << s.yp.genre << " url=" << s.yp.url
        << " charset=" << s.yp.charset;
    return out.str();
}

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
// Selects a tab as a click on it would.
Window showPage(const Window& sheet, int index) {
    ::SendMessageW(sheet.hwnd, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
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
    RECT area = {};
    ::GetWindowRect(sheet.hwnd, &area);
    for (HWND window : {sheet.hwnd, box}) {
        if (!window) continue;
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        RECT r = {};
        ::GetWindowRect(window, &r);
        ::UnionRect(&area, &area, &r);
    }
    // The sheet's thread paints after the calls above have returned.
    ::Sleep(300);
    ui_harness::saveScreenshot(ui_harness::captureScreen(area), name);
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
    EncoderSettings mine = encoder("mine", "-r --quiet -");
    EncoderSettings odd = encoder("odd", "--odd", 9);
    getConfig()->saveEncoderSetting(0, mine);
    getConfig()->saveEncoderSetting(1, odd);

    // The stream's encoder matches the fourth built-in preset by name and
    // parameters; its other fields take no part.
    EncoderSettings chosen = encoder("qaac", "--raw --silent --adts --tvbr 64 -o - -");
    chosen.bitrate = 1;
    ServerSettings server = defaultServer();
    server.type = 7;  // not shown, so not touched either
    server.mount_point = "";
    const std::string server_before = describe(server);

    Rows stored_rows, rows_after_cancel, reset_rows, added_rows, removed_rows, default_rows;
    int stored_selection = 0, reset_selection = -1, added_selection = -1, removed_selection = -1;
    int presets_after_reset = -1;
    std::wstring cancel_text, reset_question, file_message, program_message;
    bool apply_button = true;
    LONG ex_style = 0;
    OptionSheet sheet(&chosen, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [&](Window& w) {
             Window page = currentPage(w);
             stored_rows = view_test::rows(page.item(IDC_ENCODER_LIST));
             stored_selection = selectedRow(page.item(IDC_ENCODER_LIST));
             cancel_text = w.text(IDCANCEL);
             HWND apply = ::GetDlgItem(w.hwnd, 0x3021);
             apply_button = apply && ::IsWindowVisible(apply);
             ex_style = static_cast<LONG>(::GetWindowLongW(w.hwnd, GWL_EXSTYLE));
             page.click(IDC_ENCODER_RESET);
         }},
        {L"Reset",
         [&](Window& box) {
             reset_question = box.messageText();
             box.click(IDCANCEL);
         }},
        {kSheet,
         [&](Window& w) {
             rows_after_cancel = view_test::rows(currentPage(w).item(IDC_ENCODER_LIST));
             currentPage(w).click(IDC_ENCODER_RESET);
         }},
        {L"Reset", [&](Window& box) { box.click(IDOK); }},
        {kSheet,
         [&](Window& w) {
             Window page = currentPage(w);
             HWND list = page.item(IDC_ENCODER_LIST);
             presets_after_reset = getConfig()->countEncoderSettings();
             reset_rows = view_test::rows(list);
             reset_selection = selectedRow(list);
             screenshot(w, "option-sheet-encoder");
             press(page, IDC_ENCODER_ADD);  // a copy of the selected row
             added_rows = view_test::rows(list);
             added_selection = selectedRow(list);
             selectRow(list, 9);
             press(page, IDC_ENCODER_REMOVE);  // the last row: the new last one is selected
             removed_rows = view_test::rows(list);
             removed_selection = selectedRow(list);
             selectRow(list, -1);
             press(page, IDC_ENCODER_ADD);  // nothing selected: the Add New default
             default_rows = view_test::rows(list);
             selectRow(list, 2);
             w.click(IDOK);
         }},
        {L"fhgaacenc",
         [&](Window& box) {
             file_message = box.messageText();
             box.click(IDOK);
         }},
        {kSheet,
         [&](Window& w) {
             program("flac.exe");
             selectRow(currentPage(w).item(IDC_ENCODER_LIST), 7);
             w.click(IDOK);
         }},
        {L"Pre-processing",
         [&](Window& box) {
             program_message = box.messageText();
             box.click(IDOK);
         }},
        {kSheet,
         [&](Window& w) {
             program("opusenc.exe");
             selectRow(currentPage(w).item(IDC_ENCODER_LIST), 8);
             w.click(IDOK);
         }},
    });
    EXPECT_EQ(sheet.DoModal(owner), 1);
    EXPECT_EQ(pilot.finish(), "");

    EXPECT_EQ(cancel_text, L"Cancel");
    EXPECT_FALSE(apply_button);
    EXPECT_EQ(ex_style & WS_EX_CONTEXTHELP, 0);
    EXPECT_EQ(stored_rows, (Rows{L"mine | MP3 | mine preset", L"odd |  | odd preset"}));
    EXPECT_EQ(stored_selection, -1);
    EXPECT_EQ(reset_question, L"All current settings are overwritten.\nAre you sure you want to restore default?");
    EXPECT_EQ(rows_after_cancel, stored_rows);
    EXPECT_EQ(presets_after_reset, 0) << "the saved presets go at once";
    EXPECT_EQ(reset_rows, kBuiltInRows);
    EXPECT_EQ(reset_selection, 3);
    Rows expected = kBuiltInRows;
    expected.push_back(kBuiltInRows[3]);
    EXPECT_EQ(added_rows, expected);
    EXPECT_EQ(added_selection, 3);
    EXPECT_EQ(removed_rows, kBuiltInRows);
    EXPECT_EQ(removed_selection, 8);
    expected = kBuiltInRows;
    expected.push_back(L"lame | MP3 | CBR 128kbps");
    EXPECT_EQ(default_rows, expected);
    EXPECT_EQ(file_message, L"The encoder file cannot be found.");
    EXPECT_EQ(program_message, L"The program file cannot be found.");

    // The whole preset, as the built-in table gives it, became the stream's.
    EncoderSettings opus;
    opus.encoder_file = "encoders\\opusenc.exe";
    opus.encoder_params = "--raw --quiet --max-delay 0 --artist \"%artist%\" --title \"%title%\" --vbr --bitrate 96 - -";
    opus.format = FORMAT_OGG_OPUS;
    opus.wave_format = WAVE_INT16;
    opus.wave_header = false;
    opus.sampling_rate = 48000;
    opus.channel = 2;
    opus.encoder_name = "opus";
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
    EXPECT_EQ(added.description, "CBR 128kbps");
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

    Rows rows_at_open, rows_after_edit;
    int selection_at_open = 0, page_after_refusal = -1, focus_after_line_break = 0;
    std::wstring refusal, refusal_caption, line_break_message;
    OptionSheet sheet(&stream_encoder, &server, kSheet);
    Autopilot pilot({
        {kSheet,
         [&](Window& w) {
             rows_at_open = view_test::rows(currentPage(w).item(IDC_ENCODER_LIST));
             selection_at_open = selectedRow(currentPage(w).item(IDC_ENCODER_LIST));
             showPage(w, 2);
             w.click(IDOK);
         }},
        {L"Encoder",
         [&](Window& box) {
             refusal = box.messageText();
             refusal_caption = box.caption();
             box.click(IDOK);
         }},
        {kSheet,
         [&](Window& w) {
             page_after_refusal = currentIndex(w);
             Window page = showPage(w, 0);
             HWND list = page.item(IDC_ENCODER_LIST);
             selectRow(list, 0);
             RECT row = {};
             row.left = LVIR_LABEL;
             ::SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
             const LPARAM at = MAKELPARAM((row.left + row.right) / 2, (row.top + row.bottom) / 2);
             ::PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
             ::PostMessageW(list, WM_LBUTTONUP, 0, at);
         }},
        {L"Encoder Setup",
         [&](Window& w) {
             w.setText(IDC_SETUP_ENCODER_PARAMS, L"--edited\r\n--split");
             w.setText(IDC_SETUP_DESCRIPTION, L"edited");
             w.click(IDOK);
         }},
        {L"Velmora",
         [&](Window& box) {
             line_break_message = box.messageText();
             box.click(IDOK);
         }},
        {L"Encoder Setup",
         [&](Window& w) {
             focus_after_line_break = w.focusId();
             w.setText(IDC_SETUP_ENCODER_PARAMS, L"--edited");
             w.click(IDOK);
         }},
        {kSheet,
         [&](Window& w) {
             rows_after_edit = view_test::rows(currentPage(w).item(IDC_ENCODER_LIST));
             w.click(IDCANCEL);
         }},
    });
    EXPECT_EQ(sheet.DoModal(owner), 0);
    EXPECT_EQ(pilot.finish(), "");

    EXPECT_EQ(rows_at_open, (Rows{L"mine | MP3 | mine preset", L"odd | MP3 | odd preset"}));
    EXPECT_EQ(selection_at_open, -1);
    EXPECT_EQ(refusal, L"Select any encoder.");
    EXPECT_EQ(refusal_caption, L"Encoder");
    EXPECT_EQ(page_after_refusal, 2) << "the page in view stays in view";
    EXPECT_EQ(line_break_message, L"Encoder parameters must be one line: remove the line breaks.");
    EXPECT_EQ(focus_after_line_break, IDC_SETUP_ENCODER_PARAMS);
    EXPECT_EQ(rows_after_edit, (Rows{L"mine | MP3 | edited", L"odd | MP3 | odd preset"}));
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
