#pragma once
// The option sheet's "Encoder" page: the user's list of encoder presets
// (kept in the settings store as "encoder_setting[%d]." groups, or the nine
// built-in presets when the store holds none) with Add New, Edit, Remove
// and Reset, and the choice of the preset the configured stream will use.
//
// The list is read when the page window is made and written back to the
// store when it goes, after OK and after Cancel alike; only the copy of the
// chosen preset into the configured record depends on OK. A store that
// fails is reported in a message box; the page stays usable, and presets
// that could not be read are never overwritten.
#include <vector>

#include "plugin/settings.h"
#include "res/resource.h"
#include "ui/controls.h"
#include "ui/ddx.h"
#include "ui/property_sheet.h"

class OptionPageEncoder : public WTL::CPropertyPageImpl<OptionPageEncoder, WTL::CPropertyPageWindow>,
                          public WTL::CWinDataExchange<OptionPageEncoder> {
public:
    enum { IDD = IDD_PAGE_ENCODER };
    typedef WTL::CPropertyPageImpl<OptionPageEncoder, WTL::CPropertyPageWindow> Base;

    explicit OptionPageEncoder(EncoderSettings* settings) : m_settings(settings) {}
    ~OptionPageEncoder() override = default;

    BEGIN_MSG_MAP(OptionPageEncoder)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        NOTIFY_HANDLER(IDC_ENCODER_LIST, LVN_ITEMCHANGED, OnItemChanged)
        NOTIFY_HANDLER(IDC_ENCODER_LIST, NM_DBLCLK, OnDoubleClick)
        COMMAND_ID_HANDLER(IDC_ENCODER_ADD, OnAdd)
        COMMAND_ID_HANDLER(IDC_ENCODER_EDIT, OnEdit)
        COMMAND_ID_HANDLER(IDC_ENCODER_REMOVE, OnRemove)
        COMMAND_ID_HANDLER(IDC_ENCODER_RESET, OnResetDefaults)
        CHAIN_MSG_MAP(Base)
    END_MSG_MAP()

    // The sheet's OK: validate().
    BOOL OnApply();

    // The nine presets the page starts from when the store holds none, and
    // the record Add New appends when no row is selected.
    static std::vector<EncoderSettings> builtInPresets();
    static EncoderSettings addNewDefault();
    // The list's label of a format ("MP3", ..., "Opus"; empty when unknown).
    static const wchar_t* formatLabel(int format);

    void initEncoderList();
    void saveEncoderList();
    void addSetting();
    void editSetting();
    void deleteSetting();
    void resetDefaults();
    bool validate();

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled);
    LRESULT OnItemChanged(int, NMHDR* header, BOOL&);
    LRESULT OnDoubleClick(int, NMHDR*, BOOL&);
    LRESULT OnAdd(WORD, WORD, HWND, BOOL&);
    LRESULT OnEdit(WORD, WORD, HWND, BOOL&);
    LRESULT OnRemove(WORD, WORD, HWND, BOOL&);
    LRESULT OnResetDefaults(WORD, WORD, HWND, BOOL&);

    void insertRow(int index);
    void refreshRows();
    void report(const wchar_t* what, const char* why);

    EncoderSettings* m_settings;
    std::vector<EncoderSettings> m_presets;
    WTL::CListViewCtrl m_list;
    // False while the saved presets could not be read: the store keeps
    // them, whatever the list shows.
    bool m_storeRead = true;
    bool m_reselecting = false;
    bool m_closing = false;
};
