#pragma once
// The modal "Configuration" sheet in which the user configures one stream:
// its encoder preset, its server connection and its directory fields, on
// copies of the stream's records that the caller takes over only when the
// sheet returns 1.
//
// OK asks every page that was shown, in page order, to check and store
// its fields; the first page that refuses keeps the sheet open on the page
// the user views, with that page's message. Cancel asks no page. The
// encoder presets are saved to the settings store whenever the sheet
// closes.
#include "plugin/settings.h"
#include "ui/option_page_encoder.h"
#include "ui/option_page_server.h"
#include "ui/option_page_yp.h"
#include "ui/property_sheet.h"

class OptionSheet : public WTL::CPropertySheetImpl<OptionSheet, WTL::CPropertySheetWindow> {
public:
    typedef WTL::CPropertySheetImpl<OptionSheet, WTL::CPropertySheetWindow> Base;

    // The pages edit *encoder and *server (the Yellow Pages page its `yp`);
    // both belong to the caller and must outlive the modal run.
    OptionSheet(EncoderSettings* encoder, ServerSettings* server, const wchar_t* title);
    ~OptionSheet() override;

    BEGIN_MSG_MAP(OptionSheet)
        MESSAGE_HANDLER(PSM_SETCURSEL, OnPageChange)
        NOTIFY_CODE_HANDLER(TCN_SELCHANGE, OnTabChange)
        CHAIN_MSG_MAP(Base)
    END_MSG_MAP()

    // Runs the sheet modal to `owner`: 1 when the user pressed OK and every
    // asked page accepted, 0 when the sheet was cancelled or closed, -1
    // when it could not open.
    INT_PTR DoModal(HWND owner);

    // Called once the sheet window exists: the Cancel button's text, and
    // room for a whole page.
    void OnSheetInitialized();

private:
    // The pages are laid out in the units of their own font, which is
    // larger than the sheet's: the sheet grows until a page fits.
    void fitPages();
    // The page in view fills the area below the tabs (a page made after
    // the sheet grew may have been given the sheet's first idea of it).
    void fitActivePage();
    LRESULT OnPageChange(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTabChange(int, NMHDR*, BOOL&);

    // Destroyed in reverse order: Yellow Pages, Server, Encoder.
    OptionPageEncoder m_pageEncoder;
    OptionPageServer m_pageServer;
    OptionPageYP m_pageYP;
};
