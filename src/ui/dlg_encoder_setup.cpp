#include "ui/dlg_encoder_setup.h"

#include <commdlg.h>

#include <stdexcept>
#include <string>

#include "plugin/utils.h"

namespace {

const wchar_t* const kFormats[] = {L"MP3", L"LC-AAC", L"HE-AAC", L"HE-AAC v2", L"Ogg Vorbis", L"Ogg FLAC", L"Ogg Opus"};
const wchar_t* const kWaveFormats[] = {L"16bit int", L"24bit int", L"32bit float"};
const wchar_t* const kSamplingRates[] = {L"8000", L"11025", L"16000", L"22050", L"24000", L"32000", L"44100", L"48000", L"96000"};
const wchar_t* const kChannels[] = {L"1", L"2"};

// The leading decimal integer of a text (white space skipped, an optional
// sign, the digits; whatever follows is ignored); false when the text does
// not begin with one or it does not fit 32 bits.
bool leadingInteger(const std::wstring& text, std::int32_t& value) {
    try {
        value = std::stoi(text);
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const std::out_of_range&) {
        return false;
    }
}

}  // namespace

LRESULT CDlgEncoderSetup::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    DoDataExchange(FALSE);
    for (const wchar_t* entry : kFormats) m_format.AddString(entry);
    for (const wchar_t* entry : kWaveFormats) m_waveFormat.AddString(entry);
    for (const wchar_t* entry : kSamplingRates) m_samplingRate.AddString(entry);
    for (const wchar_t* entry : kChannels) m_channels.AddString(entry);

    const EncoderSettings& settings = *m_settings;
    m_encoderFile.SetWindowText(fromUtf8(settings.encoder_file).c_str());
    m_encoderParams.SetWindowText(fromUtf8(settings.encoder_params).c_str());
    m_programFile.SetWindowText(fromUtf8(settings.program_file).c_str());
    m_programParams.SetWindowText(fromUtf8(settings.program_params).c_str());
    m_encoderName.SetWindowText(fromUtf8(settings.encoder_name).c_str());
    m_description.SetWindowText(fromUtf8(settings.description).c_str());
    // A value outside a list selects nothing.
    m_format.SetCurSel(settings.format >= 0 && settings.format < m_format.GetCount() ? settings.format : -1);
    m_waveFormat.SetCurSel(settings.wave_format >= 0 && settings.wave_format < m_waveFormat.GetCount() ? settings.wave_format : -1);
    m_waveHeader.SetCheck(settings.wave_header ? BST_CHECKED : BST_UNCHECKED);
    m_samplingRate.SetWindowText(std::to_wstring(settings.sampling_rate).c_str());
    m_channels.SetWindowText(std::to_wstring(settings.channel).c_str());
    m_bitrate.SetWindowText(std::to_wstring(settings.bitrate).c_str());
    return TRUE;
}

LRESULT CDlgEncoderSetup::OnChooseFile(WORD, WORD id, HWND, BOOL&) {
    WTL::CEdit& target = id == IDC_SETUP_ENCODER_BROWSE ? m_encoderFile : m_programFile;
    wchar_t file[MAX_PATH] = {};
    OPENFILENAMEW choice = {};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = m_hWnd;
    choice.lpstrFilter = L"Executables (*.exe)\0*.exe\0";
    choice.lpstrFile = file;
    choice.nMaxFile = MAX_PATH;
    choice.lpstrTitle = L"ファイルを開く";
    choice.Flags = OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (::GetOpenFileNameW(&choice)) target.SetWindowText(file);
    return 0;
}

LRESULT CDlgEncoderSetup::OnOK(WORD, WORD, HWND, BOOL&) {
    // The numbers first: a field that holds none leaves the record whole.
    struct NumberField {
        ATL::CWindow control;
        const wchar_t* name;
        std::int32_t value;
    } numbers[] = {
        {m_samplingRate, L"Sampling Rate", 0},
        {m_channels, L"Channels", 0},
        {m_bitrate, L"Bitrate", 0},
    };
    for (NumberField& field : numbers) {
        if (!leadingInteger(field.control.GetWindowText(), field.value)) {
            std::wstring message = std::wstring(field.name) + L" must be a whole number.";
            MessageBox(message.c_str(), L"Velmora", MB_OK | MB_ICONINFORMATION);
            field.control.SetFocus();
            return 0;
        }
    }

    // A text field is one line: a line break would split the encoder's
    // command line.
    struct TextField {
        ATL::CWindow control;
        const wchar_t* name;
    } texts[] = {
        {m_encoderFile, L"Encoder file"},        {m_encoderParams, L"Encoder parameters"},
        {m_programFile, L"Program file"},        {m_programParams, L"Pre-processing parameters"},
        {m_encoderName, L"Encoder name"},        {m_description, L"Description"},
    };
    for (TextField& field : texts) {
        if (field.control.GetWindowText().find_first_of(L"\r\n") != std::wstring::npos) {
            std::wstring message = std::wstring(field.name) + L" must be one line: remove the line breaks.";
            MessageBox(message.c_str(), L"Velmora", MB_OK | MB_ICONINFORMATION);
            field.control.SetFocus();
            return 0;
        }
    }

    // Read into a copy, so that a text that cannot be converted leaves the
    // record whole as well.
    EncoderSettings settings = *m_settings;
    settings.encoder_file = toUtf8(m_encoderFile.GetWindowText());
    settings.encoder_params = toUtf8(m_encoderParams.GetWindowText());
    settings.format = m_format.GetCurSel();
    settings.program_file = toUtf8(m_programFile.GetWindowText());
    settings.program_params = toUtf8(m_programParams.GetWindowText());
    settings.wave_format = m_waveFormat.GetCurSel();
    settings.wave_header = m_waveHeader.GetCheck() == BST_CHECKED;
    settings.sampling_rate = numbers[0].value;
    settings.channel = numbers[1].value;
    settings.encoder_name = toUtf8(m_encoderName.GetWindowText());
    settings.bitrate = numbers[2].value;
    settings.description = toUtf8(m_description.GetWindowText());
    *m_settings = settings;
    EndDialog(IDOK);
    return 0;
}

LRESULT CDlgEncoderSetup::OnCancel(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}
