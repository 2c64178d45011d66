#pragma once
// The modal dialog in which the user edits one encoder preset in place:
// programs and parameters, the encoded format, the PCM fed to the
// programs and the display fields. OK stores every field back; a sampling
// rate, channel count or bit rate that does not begin with a whole number
// fitting 32 bits, or a text field holding a line break (which would split
// the encoder's command line), keeps the dialog open with a message naming
// the field, and the record untouched. Cancel leaves the record as it was.
#include "plugin/settings.h"
#include "res/resource.h"
#include "ui/controls.h"
#include "ui/ddx.h"

class CDlgEncoderSetup : public ATL::CDialogImpl<CDlgEncoderSetup, ATL::CWindow>,
                         public WTL::CWinDataExchange<CDlgEncoderSetup> {
public:
    enum { IDD = IDD_ENCODER_SETUP };

    explicit CDlgEncoderSetup(EncoderSettings* settings) : m_settings(settings) {}
    ~CDlgEncoderSetup() override = default;

    BEGIN_MSG_MAP(CDlgEncoderSetup)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        COMMAND_ID_HANDLER(IDC_SETUP_ENCODER_BROWSE, OnChooseFile)
        COMMAND_ID_HANDLER(IDC_SETUP_PROGRAM_BROWSE, OnChooseFile)
        COMMAND_ID_HANDLER(IDOK, OnOK)
        COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

    BEGIN_DDX_MAP(CDlgEncoderSetup)
        DDX_CONTROL_HANDLE(IDC_SETUP_ENCODER_FILE, m_encoderFile)
        DDX_CONTROL_HANDLE(IDC_SETUP_ENCODER_PARAMS, m_encoderParams)
        DDX_CONTROL_HANDLE(IDC_SETUP_FORMAT, m_format)
        DDX_CONTROL_HANDLE(IDC_SETUP_PROGRAM_FILE, m_programFile)
        DDX_CONTROL_HANDLE(IDC_SETUP_PROGRAM_PARAMS, m_programParams)
        DDX_CONTROL_HANDLE(IDC_SETUP_WAVE_FORMAT, m_waveFormat)
        DDX_CONTROL_HANDLE(IDC_SETUP_WAVE_HEADER, m_waveHeader)
        DDX_CONTROL_HANDLE(IDC_SETUP_SAMPLING_RATE, m_samplingRate)
        DDX_CONTROL_HANDLE(IDC_SETUP_CHANNELS, m_channels)
        DDX_CONTROL_HANDLE(IDC_SETUP_ENCODER_NAME, m_encoderName)
        DDX_CONTROL_HANDLE(IDC_SETUP_BITRATE, m_bitrate)
        DDX_CONTROL_HANDLE(IDC_SETUP_DESCRIPTION, m_description)
    END_DDX_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnChooseFile(WORD, WORD id, HWND, BOOL&);
    LRESULT OnOK(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);

    EncoderSettings* m_settings;
    WTL::CEdit m_encoderFile;
    WTL::CEdit m_encoderParams;
    WTL::CComboBox m_format;
    WTL::CEdit m_programFile;
    WTL::CEdit m_programParams;
    WTL::CComboBox m_waveFormat;
    WTL::CButton m_waveHeader;
    WTL::CComboBox m_samplingRate;
    WTL::CComboBox m_channels;
    WTL::CEdit m_encoderName;
    WTL::CEdit m_bitrate;
    WTL::CEdit m_description;
};
