#include "ui/option_page_encoder.h"

#include <exception>
#include <string>

#include "console.h"
#include "engine/config.h"
#include "plugin/utils.h"
#include "ui/dlg_encoder_setup.h"

namespace {

EncoderSettings preset(const char* name, int format, const char* file, const char* params, bool header, int rate,
                       int bitrate, const char* description) {
    EncoderSettings e;
    e.encoder_file = file;
    e.encoder_params = params;
    e.format = format;
    e.wave_format = WAVE_INT16;
    e.wave_header = header;
    e.sampling_rate = rate;
    e.channel = 2;
    e.encoder_name = name;
    e.bitrate = bitrate;
    e.description = description;
    return e;
}

const char kFlacParams[] =
    "--ignore-chunk-sizes --silent --stdout --ogg --tag=ARTIST=\"%artist%\" --tag=TITLE=\"%title%\" -5 -";

}  // namespace

std::vector<EncoderSettings> OptionPageEncoder::builtInPresets() {
    std::vector<EncoderSettings> list = {
        preset("lame", FORMAT_MP3, "encoders\\lame.exe", "-r --quiet --flush --preset cbr 128 -", false, 44100, 128,
               "CBR 128kbps"),
        preset("fhgaacenc", FORMAT_LC_AAC, "encoders\\fhgaacenc.exe", "--ignorelength --quiet --adts --vbr 4 - -", true,
               44100, 128, "VBR 128kbps"),
        preset("fhgaacenc", FORMAT_HE_AAC_V2, "encoders\\fhgaacenc.exe", "--ignorelength --quiet --adts --vbr 1 - -",
               true, 44100, 32, "VBR 32kbps"),
        preset("qaac", FORMAT_LC_AAC, "encoders\\qaac.exe", "--raw --silent --adts --tvbr 64 -o - -", false, 44100, 128,
               "TVBR Q64 (128kbps)"),
        preset("qaac", FORMAT_HE_AAC, "encoders\\qaac.exe", "--raw --silent --adts --he --cvbr 80 -o - -", false, 44100,
               80, "CVBR 80kbps"),
        preset("oggenc2", FORMAT_OGG_VORBIS, "encoders\\oggenc2.exe",
               "--raw --quiet --artist \"%artist%\" --title \"%title%\" --quality 4 -", false, 44100, 128,
               "Quality 4 (128kbps)"),
        preset("flac", FORMAT_OGG_FLAC, "encoders\\flac.exe", kFlacParams, true, 44100, 1000, "Compression Level 5"),
        preset("flac", FORMAT_OGG_FLAC, "encoders\\flac.exe", kFlacParams, true, 44100, 500,
               "flac via lossyWAV (Quality Standard)"),
        preset("opus", FORMAT_OGG_OPUS, "encoders\\opusenc.exe",
               "--raw --quiet --max-delay 0 --artist \"%artist%\" --title \"%title%\" --vbr --bitrate 96 - -", false,
               48000, 96, "VBR 96kbps"),
    };
    list[7].program_file = "encoders\\lossyWAV.exe";
    list[7].program_params = "- --stdout --silent --ignore-chunk-sizes --quality S";
    return list;
}

EncoderSettings OptionPageEncoder::addNewDefault() {
    return preset("lame", FORMAT_MP3, "encoders\\lame.exe", "-r --flush --quiet --preset cbr 128 -", false, 44100, 128,
                  "CBR 128kbps");
}

const wchar_t* OptionPageEncoder::formatLabel(int format) {
    static const wchar_t* const labels[] = {L"MP3", L"LC-AAC", L"HE-AAC", L"HE-AAC v2", L"Vorbis", L"FLAC", L"Opus"};
    return format >= 0 && format < 7 ? labels[format] : L"";
}

// ---------------------------------------------------------------- list
void OptionPageEncoder::report(const wchar_t* what, const char* why) {
    std::wstring text = what;
    text += L"\r\n";
    try {
        text += fromUtf8(why);
    } catch (const std::exception&) {
        text += L"(no readable reason)";
    }
    console_printf("velmora: encoder presets: %s", why);
    // While the page goes away the message belongs to the sheet's owner.
    HWND owner = m_closing ? ::GetWindow(::GetParent(m_hWnd), GW_OWNER) : m_hWnd;
    ::MessageBoxW(owner, text.c_str(), L"Velmora", MB_OK | MB_ICONEXCLAMATION);
}

void OptionPageEncoder::initEncoderList() {
    m_presets.clear();
    try {
        Config* config = getConfig();
        const int count = config->countEncoderSettings();
        for (int i = 0; i < count; ++i) {
            EncoderSettings e;
            config->loadEncoderSetting(i, e);
            m_presets.push_back(e);
        }
    } catch (const std::exception& e) {
        // What was read is incomplete: show the built-in presets and leave
        // the saved ones where they are.
        m_presets.clear();
        m_storeRead = false;
        report(L"The saved encoder presets cannot be read; they are kept as they are.", e.what());
    }
    if (m_presets.empty()) m_presets = builtInPresets();

    m_list.ModifyStyle(0, LVS_REPORT | LVS_SINGLESEL);
    const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    m_list.SetExtendedListViewStyle(extended, extended);
    m_list.InsertColumn(0, L"Name", LVCFMT_LEFT, 95);
    m_list.InsertColumn(1, L"Format", LVCFMT_LEFT, 85);
    m_list.InsertColumn(2, L"Description", LVCFMT_LEFT, 280);
    for (std::size_t i = 0; i < m_presets.size(); ++i) insertRow(static_cast<int>(i));

    for (std::size_t i = 0; i < m_presets.size(); ++i) {
        const EncoderSettings& e = m_presets[i];
        if (e.encoder_name == m_settings->encoder_name && e.encoder_params == m_settings->encoder_params &&
            e.program_params == m_settings->program_params) {
            m_list.SelectItem(static_cast<int>(i));
            break;
        }
    }
}

void OptionPageEncoder::insertRow(int index) {
    const EncoderSettings& e = m_presets[static_cast<std::size_t>(index)];
    // A text that is not UTF-8 shows empty; the record stays as it is.
    auto wide = [](const std::string& text) {
        try {
            return fromUtf8(text);
        } catch (const std::exception&) {
            return std::wstring();
        }
    };
    const int row = m_list.InsertItem(index, wide(e.encoder_name).c_str());
    m_list.SetItemText(row, 1, formatLabel(e.format));
    m_list.SetItemText(row, 2, wide(e.description).c_str());
}

void OptionPageEncoder::refreshRows() {
    for (std::size_t i = 0; i < m_presets.size(); ++i) {
        const EncoderSettings& e = m_presets[i];
        const int row = static_cast<int>(i);
        try {
            m_list.SetItemText(row, 0, fromUtf8(e.encoder_name).c_str());
            m_list.SetItemText(row, 2, fromUtf8(e.description).c_str());
        } catch (const std::exception&) {
        }
        m_list.SetItemText(row, 1, formatLabel(e.format));
    }
}

void OptionPageEncoder::saveEncoderList() {
    if (!m_storeRead) return;
    try {
        Config* config = getConfig();
        config->removeEncoderSettings();
        for (std::size_t i = 0; i < m_presets.size(); ++i) config->saveEncoderSetting(static_cast<int>(i), m_presets[i]);
    } catch (const std::exception& e) {
        report(L"The encoder presets cannot be saved.", e.what());
    }
}

void OptionPageEncoder::addSetting() {
    const int selected = m_list.GetSelectedIndex();
    m_presets.push_back(selected >= 0 ? m_presets[static_cast<std::size_t>(selected)] : addNewDefault());
    insertRow(static_cast<int>(m_presets.size()) - 1);
}

void OptionPageEncoder::editSetting() {
    const int selected = m_list.GetSelectedIndex();
    if (selected < 0) return;
    CDlgEncoderSetup dialog(&m_presets[static_cast<std::size_t>(selected)]);
    if (dialog.DoModal(m_hWnd) == IDOK) refreshRows();
}

void OptionPageEncoder::deleteSetting() {
    const int selected = m_list.GetSelectedIndex();
    if (selected < 0) return;
    m_presets.erase(m_presets.begin() + selected);
    m_list.DeleteItem(selected);
    const int count = m_list.GetItemCount();
    if (count > 0) m_list.SelectItem(selected < count ? selected : count - 1);
    refreshRows();
}

void OptionPageEncoder::resetDefaults() {
    if (MessageBox(L"All current settings are overwritten.\nAre you sure you want to restore default?", L"Reset",
                   MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    m_list.DeleteAllItems();
    while (m_list.DeleteColumn(0)) {
    }
    m_presets.clear();
    try {
        getConfig()->removeEncoderSettings();
        m_storeRead = true;
    } catch (const std::exception& e) {
        report(L"The saved encoder presets cannot be removed.", e.what());
    }
    initEncoderList();
}

bool OptionPageEncoder::validate() {
    const int selected = m_list.GetSelectedIndex();
    if (selected < 0 || static_cast<std::size_t>(selected) >= m_presets.size()) {
        MessageBox(L"Select any encoder.", L"Encoder", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    const EncoderSettings& chosen = m_presets[static_cast<std::size_t>(selected)];
    if (!fileExists(chosen.encoder_file)) {
        MessageBox(L"The encoder file cannot be found.", fromUtf8(chosen.encoder_name).c_str(),
                   MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (!chosen.program_file.empty() && !fileExists(chosen.program_file)) {
        MessageBox(L"The program file cannot be found.", L"Pre-processing", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    *m_settings = chosen;
    return true;
}

// ---------------------------------------------------------------- messages
BOOL OptionPageEncoder::OnApply() {
    try {
        return validate() ? TRUE : FALSE;
    } catch (const std::exception& e) {
        report(L"The encoder cannot be taken over.", e.what());
        return FALSE;
    }
}

LRESULT OptionPageEncoder::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    m_list = GetDlgItem(IDC_ENCODER_LIST);
    initEncoderList();
    return TRUE;
}

LRESULT OptionPageEncoder::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    m_closing = true;
    saveEncoderList();
    handled = FALSE;
    return 0;
}

LRESULT OptionPageEncoder::OnItemChanged(int, NMHDR* header, BOOL&) {
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_FOCUSED) && !m_reselecting) {
        const int selected = m_list.GetSelectedIndex();
        if (selected >= 0) {
            m_reselecting = true;
            m_list.SelectItem(selected);
            m_reselecting = false;
        }
    }
    return 0;
}

LRESULT OptionPageEncoder::OnDoubleClick(int, NMHDR*, BOOL&) {
    if (m_list.GetSelectedIndex() >= 0) GetDlgItem(IDC_ENCODER_EDIT).SendMessage(BM_CLICK);
    return 0;
}

LRESULT OptionPageEncoder::OnAdd(WORD, WORD, HWND, BOOL&) {
    addSetting();
    return 0;
}

LRESULT OptionPageEncoder::OnEdit(WORD, WORD, HWND, BOOL&) {
    editSetting();
    return 0;
}

LRESULT OptionPageEncoder::OnRemove(WORD, WORD, HWND, BOOL&) {
    deleteSetting();
    return 0;
}

LRESULT OptionPageEncoder::OnResetDefaults(WORD, WORD, HWND, BOOL&) {
    resetDefaults();
    return 0;
}
