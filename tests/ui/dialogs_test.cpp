// The encoder setup and authorization dialogs, run modally and driven by
// the autopilot as a user would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "plugin/settings.h"
#include "plugin/utils.h"
#include "ui/dlg_auth.h"
#include "ui/dlg_encoder_setup.h"
#include "settings_text.h"
#include "ui_harness.h"

using ui_harness::Autopilot;
using ui_harness::Window;

namespace {

using settings_text::describe;

EncoderSettings preset() {
    EncoderSettings s;
    s.encoder_file = "encoders\\lame.exe";
    s.encoder_params = "-r --quiet --preset cbr 128 - \"%title%\"";
    s.format = 9;  // outside the list
    s.program_file = "";
    s.program_params = "--stdout";
    s.wave_format = 1;
    s.wave_header = true;
    s.sampling_rate = 44000;  // not in the list
    s.channel = 2;
    s.encoder_name = "lame";
    s.bitrate = 0;
    s.description = "CBR 128kbps caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
    return s;
}

const wchar_t kSetup[] = L"Encoder Setup";
const wchar_t kOpen[] = L"ファイルを開く";

// Types a full path into the open-file dialog's name field and opens it.
void chooseFile(Window& w, const std::wstring& path) {
    int field = ::GetDlgItem(w.hwnd, 0x480) ? 0x480 : 0x47c;  // the name edit, or the combo box holding it
    w.setText(field, path);
    w.click(IDOK);
}

// An existing file for the open-file dialog.
struct TempExe {
    std::wstring path;
    TempExe() {
        wchar_t dir[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, dir);
        path = std::wstring(dir) + L"velmora-encoder-" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
        std::ofstream(path.c_str()) << "MZ";
    }
    ~TempExe() { ::DeleteFileW(path.c_str()); }
};

}  // namespace

TEST(EncoderSetupDialog, ShowsEveryFieldAndStoresItBack) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(400, 300);
    EncoderSettings settings = preset();
    CDlgEncoderSetup dialog(&settings);
    Autopilot pilot({{kSetup, [](Window& w) {
        EXPECT_EQ(w.entries(IDC_SETUP_FORMAT), (std::vector<std::wstring>{L"MP3", L"LC-AAC", L"HE-AAC", L"HE-AAC v2",
                                                                        L"Ogg Vorbis", L"Ogg FLAC", L"Ogg Opus"}));
        EXPECT_EQ(w.entries(IDC_SETUP_WAVE_FORMAT), (std::vector<std::wstring>{L"16bit int", L"24bit int", L"32bit float"}));
        EXPECT_EQ(w.entries(IDC_SETUP_SAMPLING_RATE),
                  (std::vector<std::wstring>{L"8000", L"11025", L"16000", L"22050", L"24000", L"32000", L"44100", L"48000", L"96000"}));
        EXPECT_EQ(w.entries(IDC_SETUP_CHANNELS), (std::vector<std::wstring>{L"1", L"2"}));
        EXPECT_EQ(w.text(IDC_SETUP_ENCODER_FILE), L"encoders\\lame.exe");
        EXPECT_EQ(w.text(IDC_SETUP_ENCODER_PARAMS), L"-r --quiet --preset cbr 128 - \"%title%\"");
        EXPECT_EQ(w.selection(IDC_SETUP_FORMAT), -1);
        EXPECT_EQ(w.text(IDC_SETUP_PROGRAM_FILE), L"");
        EXPECT_EQ(w.text(IDC_SETUP_PROGRAM_PARAMS), L"--stdout");
        EXPECT_EQ(w.selection(IDC_SETUP_WAVE_FORMAT), 1);
        EXPECT_TRUE(w.checked(IDC_SETUP_WAVE_HEADER));
        EXPECT_EQ(w.text(IDC_SETUP_SAMPLING_RATE), L"44000");
        EXPECT_EQ(w.text(IDC_SETUP_CHANNELS), L"2");
        EXPECT_EQ(w.text(IDC_SETUP_ENCODER_NAME), L"lame");
        EXPECT_EQ(w.text(IDC_SETUP_BITRATE), L"0");
        EXPECT_EQ(w.text(IDC_SETUP_DESCRIPTION), L"CBR 128kbps café 日本");
        ui_harness::saveScreenshot(ui_harness::captureClient(w.hwnd), "encoder-setup");
        w.click(IDOK);
    }}});
    EXPECT_EQ(dialog.DoModal(host), IDOK);
    EXPECT_EQ(pilot.finish(), "");
    EncoderSettings expected = preset();
    expected.format = -1;  // no entry was selected
    EXPECT_EQ(describe(settings), describe(expected));

    // Chosen entries and typed values come back as shown.
    CDlgEncoderSetup again(&settings);
    Autopilot second({{kSetup, [](Window& w) {
        w.select(IDC_SETUP_FORMAT, 6);
        w.select(IDC_SETUP_WAVE_FORMAT, 2);
        w.check(IDC_SETUP_WAVE_HEADER, false);
        w.setText(IDC_SETUP_SAMPLING_RATE, L"  12345 Hz, typed");
        w.setText(IDC_SETUP_CHANNELS, L"+6");
        w.setText(IDC_SETUP_ENCODER_PARAMS, L"--raw --quiet \"%artist%\"");
        w.setText(IDC_SETUP_ENCODER_NAME, L"opus ü");
        w.click(IDOK);
    }}});
    EXPECT_EQ(again.DoModal(host), IDOK);
    EXPECT_EQ(second.finish(), "");
    expected.format = 6;
    expected.wave_format = 2;
    expected.wave_header = false;
    expected.sampling_rate = 12345;
    expected.channel = 6;
    expected.encoder_params = "--raw --quiet \"%artist%\"";
    expected.encoder_name = "opus \xC3\xBC";
    EXPECT_EQ(describe(settings), describe(expected));
}

TEST(EncoderSetupDialog, NumberFieldsWithoutAWholeNumberKeepTheDialogOpenAndTheRecordWhole) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(400, 300);
    EncoderSettings settings = preset();
    const std::string before = describe(settings);
    CDlgEncoderSetup dialog(&settings);
    std::wstring first_message, second_message;
    int focus_after_first = 0, focus_after_second = 0;
    std::string record_while_refused;
    Autopilot pilot({
        {kSetup,
         [](Window& w) {
             w.setText(IDC_SETUP_SAMPLING_RATE, L"44100");
             w.setText(IDC_SETUP_CHANNELS, L"");
             w.setText(IDC_SETUP_BITRATE, L"abc");
             w.setText(IDC_SETUP_DESCRIPTION, L"changed");
             w.click(IDOK);
         }},
        {L"Velmora",
         [&](Window& box) {
             first_message = box.messageText();
             record_while_refused = describe(settings);
             box.click(IDOK);
         }},
        {kSetup,
         [&](Window& w) {
             focus_after_first = w.focusId();
             w.setText(IDC_SETUP_CHANNELS, L"2 channels");
             w.setText(IDC_SETUP_BITRATE, L"99999999999");  // beyond 32 bits
             w.click(IDOK);
         }},
        {L"Velmora",
         [&](Window& box) {
             second_message = box.messageText();
             box.click(IDOK);
         }},
        {kSetup,
         [&](Window& w) {
             focus_after_second = w.focusId();
             w.setText(IDC_SETUP_BITRATE, L"-0128kbps");
             w.click(IDOK);
         }},
    });
    EXPECT_EQ(dialog.DoModal(host), IDOK);
    EXPECT_EQ(pilot.finish(), "");
    EXPECT_EQ(first_message, L"Channels must be a whole number.");
    EXPECT_EQ(focus_after_first, IDC_SETUP_CHANNELS);
    EXPECT_EQ(second_message, L"Bitrate must be a whole number.");
    EXPECT_EQ(focus_after_second, IDC_SETUP_BITRATE);
    EXPECT_EQ(record_while_refused, before);
    EXPECT_EQ(settings.sampling_rate, 44100);
    EXPECT_EQ(settings.channel, 2);
    EXPECT_EQ(settings.bitrate, -128);
    EXPECT_EQ(settings.description, "changed");
}

TEST(EncoderSetupDialog, FileButtonsFillTheirEditsAndCancelLeavesTheRecord) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(400, 300);
    TempExe exe;
    EncoderSettings settings = preset();
    const std::string before = describe(settings);
    CDlgEncoderSetup dialog(&settings);
    std::wstring chosen, program_after_cancel;
    Autopilot pilot({
        {kSetup, [](Window& w) { w.click(IDC_SETUP_ENCODER_BROWSE); }},
        {kOpen, [&](Window& w) { chooseFile(w, exe.path); }},
        {kSetup,
         [&](Window& w) {
             chosen = w.text(IDC_SETUP_ENCODER_FILE);
             w.setText(IDC_SETUP_PROGRAM_FILE, L"keep.exe");
             w.click(IDC_SETUP_PROGRAM_BROWSE);
         }},
        {kOpen, [](Window& w) {
             // Its caption too, which the system draws.
             ::RedrawWindow(w.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
             ui_harness::saveScreenshot(ui_harness::captureDrawn(w.hwnd), "open-file-dialog");
             w.click(IDCANCEL);
         }},
        {kSetup,
         [&](Window& w) {
             program_after_cancel = w.text(IDC_SETUP_PROGRAM_FILE);
             w.select(IDC_SETUP_FORMAT, 0);
             w.setText(IDC_SETUP_BITRATE, L"320");
             w.click(IDCANCEL);
         }},
    });
    EXPECT_EQ(dialog.DoModal(host), IDCANCEL);
    EXPECT_EQ(pilot.finish(), "");
    EXPECT_EQ(_wcsicmp(chosen.c_str(), exe.path.c_str()), 0) << toUtf8(chosen);
    EXPECT_EQ(program_after_cancel, L"keep.exe");
    EXPECT_EQ(describe(settings), before);
}

// The system draws the caption in its caption font, and each character
// that font lacks in the first font linked to it that has it, else as the
// font's box for a missing glyph: drawn, the caption differs from as many
// characters that no font has (unassigned ones).
TEST(EncoderSetupDialog, OpenFileCaptionIsDrawnInItsGlyphsNotAsBoxes) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(400, 300);
    EncoderSettings settings = preset();
    CDlgEncoderSetup dialog(&settings);
    ui_harness::Image caption, missing;
    Autopilot pilot({
        {kSetup, [](Window& w) { w.click(IDC_SETUP_ENCODER_BROWSE); }},
        {kOpen, [&](Window& w) {
             caption = ui_harness::drawCaption(w.hwnd);
             const std::wstring unassigned(w.caption().size(), L'\x0378');
             ::SetWindowTextW(w.hwnd, unassigned.c_str());
             missing = ui_harness::drawCaption(w.hwnd);
             w.click(IDCANCEL);
         }},
        {kSetup, [](Window& w) { w.click(IDCANCEL); }},
    });
    EXPECT_EQ(dialog.DoModal(host), IDCANCEL);
    EXPECT_EQ(pilot.finish(), "");
    ASSERT_FALSE(caption.empty());
    EXPECT_TRUE(caption.pixels != missing.pixels) << "the caption is drawn as boxes: no font has its glyphs";
}

// An edit field draws its text in the dialog's font, and each character
// that font lacks in a font that has it, else as a box for a missing glyph,
// the same box for every such character: drawn, "日本" differs from "本日".
TEST(EncoderSetupDialog, EditFieldsDrawJapaneseInItsGlyphsNotAsBoxes) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(400, 300);
    EncoderSettings settings = preset();
    CDlgEncoderSetup dialog(&settings);
    ui_harness::Image drawn, swapped;
    Autopilot pilot({{kSetup, [&](Window& w) {
        // (No caret blinks in a field without the focus.)
        EXPECT_NE(w.focusId(), IDC_SETUP_DESCRIPTION);
        w.setText(IDC_SETUP_DESCRIPTION, L"日本");
        drawn = ui_harness::captureClient(w.item(IDC_SETUP_DESCRIPTION));
        w.setText(IDC_SETUP_DESCRIPTION, L"本日");
        swapped = ui_harness::captureClient(w.item(IDC_SETUP_DESCRIPTION));
        w.click(IDCANCEL);
    }}});
    EXPECT_EQ(dialog.DoModal(host), IDCANCEL);
    EXPECT_EQ(pilot.finish(), "");
    ASSERT_FALSE(drawn.empty());
    EXPECT_TRUE(drawn.pixels != swapped.pixels) << "the field draws its text as boxes: no font it uses has its glyphs";
}

TEST(AuthorizationDialog, OpensWithAdminAndHandsOverBothTextsInTheAnsiCodePage) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(600, 400);
    ASSERT_EQ(::GetACP(), 1252u) << "the expected bytes below are those of code page 1252";

    std::string user = "old user", password = "old password";
    std::wstring shown_user, shown_password;
    int focus = 0;
    RECT placed = {};
    {
        CDlgAuth dialog(&user, &password);
        Autopilot pilot({{L"Authorization", [&](Window& w) {
            shown_user = w.text(IDC_AUTH_USER);
            shown_password = w.text(IDC_AUTH_PASSWORD);
            focus = w.focusId();
            ::GetWindowRect(w.hwnd, &placed);
            ui_harness::saveScreenshot(ui_harness::captureClient(w.hwnd), "authorization");
            w.setText(IDC_AUTH_USER, L"Müller");
            w.setText(IDC_AUTH_PASSWORD, L"pässwörd €");
            w.click(IDOK);
        }}});
        EXPECT_EQ(dialog.DoModal(host), IDOK);
        EXPECT_EQ(pilot.finish(), "");
    }
    EXPECT_EQ(shown_user, L"admin");
    EXPECT_EQ(shown_password, L"");
    EXPECT_EQ(focus, IDC_AUTH_PASSWORD);
    RECT owner = {};
    host.GetWindowRect(&owner);
    EXPECT_LE(std::abs((placed.left + placed.right) - (owner.left + owner.right)), 2) << "centred over its owner";
    EXPECT_LE(std::abs((placed.top + placed.bottom) - (owner.top + owner.bottom)), 2);
    EXPECT_EQ(user, "M\xFCller");
    EXPECT_EQ(password, "p\xE4ssw\xF6rd \x80");

    // Both emptied: two empty texts.
    {
        CDlgAuth dialog(&user, &password);
        Autopilot pilot({{L"Authorization", [](Window& w) {
            w.setText(IDC_AUTH_USER, L"");
            w.click(IDOK);
        }}});
        EXPECT_EQ(dialog.DoModal(host), IDOK);
        EXPECT_EQ(pilot.finish(), "");
        EXPECT_EQ(user, "");
        EXPECT_EQ(password, "");
    }

    // Cancel after typing leaves the caller's texts.
    user = "kept";
    password = "kept too";
    CDlgAuth dialog(&user, &password);
    Autopilot pilot({{L"Authorization", [](Window& w) {
        w.setText(IDC_AUTH_PASSWORD, L"typed");
        w.click(IDCANCEL);
    }}});
    EXPECT_EQ(dialog.DoModal(host), IDCANCEL);
    EXPECT_EQ(pilot.finish(), "");
    EXPECT_EQ(user, "kept");
    EXPECT_EQ(password, "kept too");
}
