#pragma once
// The option sheet's "Yellow Pages" page: the stream's directory fields
// (public flag, name, description, genre, URL, charset). OK requires a
// name, a description and a genre, checks that the charset can be
// converted to, and only then writes the fields into the record.
#include <string>

#include "plugin/settings.h"
#include "res/resource.h"
#include "ui/controls.h"
#include "ui/ddx.h"
#include "ui/property_sheet.h"

class OptionPageYP : public WTL::CPropertyPageImpl<OptionPageYP, WTL::CPropertyPageWindow>,
                     public WTL::CWinDataExchange<OptionPageYP> {
public:
    enum { IDD = IDD_PAGE_YP };
    typedef WTL::CPropertyPageImpl<OptionPageYP, WTL::CPropertyPageWindow> Base;

    explicit OptionPageYP(ServerSettings* settings) : m_settings(settings) {}
    ~OptionPageYP() override = default;

    BEGIN_MSG_MAP(OptionPageYP)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        CHAIN_MSG_MAP(Base)
    END_MSG_MAP()

    BEGIN_DDX_MAP(OptionPageYP)
        DDX_CHECK(IDC_YP_PUBLIC, m_public)
        DDX_TEXT_LEN(IDC_YP_NAME, m_name, kMaxText)
        DDX_TEXT_LEN(IDC_YP_DESCRIPTION, m_description, kMaxText)
        DDX_TEXT_LEN(IDC_YP_GENRE, m_genre, kMaxText)
        DDX_TEXT_LEN(IDC_YP_URL, m_url, kMaxText)
        DDX_TEXT_LEN(IDC_YP_CHARSET, m_charset, kMaxText)
    END_DDX_MAP()

    // The sheet's OK: validate().
    BOOL OnApply();

    // A text over 128 characters: the message, then the focus to the field.
    void OnDataValidateError(UINT id, BOOL save, WTL::_XData& data);

    void initLists();
    bool validate();

private:
    static constexpr int kMaxText = 128;

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    void tell(const wchar_t* message);

    ServerSettings* m_settings;
    // False when the record could not be shown: OK then leaves it alone.
    bool m_ready = false;

    WTL::CButton m_publicCheck;
    WTL::CEdit m_nameEdit, m_descriptionEdit, m_urlEdit;
    WTL::CComboBox m_genreCombo, m_charsetCombo;

    bool m_public = false;
    std::wstring m_name;
    std::wstring m_description;
    std::wstring m_genre;
    std::wstring m_url;
    std::wstring m_charset;
};
