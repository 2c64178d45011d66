#include "ui/option_page_yp.h"

#include <cwctype>
#include <exception>

#include "plugin/utils.h"
#include "ui/page_failure.h"
#include "server/charset_converter.h"

namespace {

const wchar_t* const kGenres[] = {L"Anime",     L"Classic", L"Game", L"Easy Listening", L"Funk",   L"Hard Rock",
                                  L"Hip-Hop",   L"Jpop",    L"Jazz", L"Rock",           L"Metal",  L"Punk",
                                  L"Reggae",    L"Soundtrack", L"Talk", L"Test",         L"Trance", L"Techno"};
const wchar_t* const kCharsets[] = {L"UTF-8",        L"SHIFT_JIS",    L"GB2312",       L"KS_C_5601-1987",
                                    L"BIG5",         L"Windows-1250", L"Windows-1251", L"Windows-1252",
                                    L"Windows-1253", L"Windows-1254", L"Windows-1255", L"Windows-1256",
                                    L"Windows-1257", L"Windows-1258"};

std::wstring trimmed(const std::wstring& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::iswspace(text[begin])) ++begin;
    while (end > begin && std::iswspace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

void OptionPageYP::tell(const wchar_t* message) { MessageBox(message, L"Velmora", MB_OK | MB_ICONINFORMATION); }

void OptionPageYP::OnDataValidateError(UINT id, BOOL, WTL::_XData&) {
    tell(L"String must be under 128 characters.\r\n");
    ::SetFocus(GetDlgItem(static_cast<int>(id)));
}

void OptionPageYP::initLists() {
    const YpSettings& yp = m_settings->yp;
    m_public = yp.pub;
    m_name = fromUtf8(yp.name);
    m_description = fromUtf8(yp.desc);
    m_genre = fromUtf8(yp.genre);
    m_url = fromUtf8(yp.url);
    m_charset = fromUtf8(yp.charset);
    for (const wchar_t* genre : kGenres) m_genreCombo.AddString(genre);
    for (const wchar_t* charset : kCharsets) m_charsetCombo.AddString(charset);
    DoDataExchange(FALSE);
}

bool OptionPageYP::validate() {
    if (!m_ready) return true;
    if (!DoDataExchange(TRUE)) return false;

    const std::wstring name = trimmed(m_name);
    if (name.empty()) {
        tell(L"Steram Name is not set.");
        m_nameEdit.SetFocus();
        return false;
    }
    const std::wstring description = trimmed(m_description);
    if (description.empty()) {
        tell(L"Stream Description is not set.");
        m_descriptionEdit.SetFocus();
        return false;
    }
    const std::wstring genre = trimmed(m_genre);
    if (genre.empty()) {
        tell(L"Genre is not set.");
        m_genreCombo.SetFocus();
        return false;
    }
    try {
        CharsetConverter probe("UTF-8", toUtf8(m_charset));
    } catch (const std::exception&) {
        tell(L"Unsupported Charset");
        return false;
    }

    // Everything converted first, so that the record is written whole or
    // not at all.
    YpSettings yp = m_settings->yp;
    yp.pub = m_public;
    yp.name = toUtf8(name);
    yp.desc = toUtf8(description);
    yp.genre = toUtf8(genre);
    yp.url = toUtf8(m_url);
    yp.charset = toUtf8(m_charset);
    m_settings->yp = yp;
    return true;
}

BOOL OptionPageYP::OnApply() {
    try {
        return validate() ? TRUE : FALSE;
    } catch (const std::exception& e) {
        reportPageFailure(m_hWnd, "directory settings", L"The directory settings cannot be taken over.", e.what());
        return FALSE;
    }
}

LRESULT OptionPageYP::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    m_publicCheck = GetDlgItem(IDC_YP_PUBLIC);
    m_nameEdit = GetDlgItem(IDC_YP_NAME);
    m_descriptionEdit = GetDlgItem(IDC_YP_DESCRIPTION);
    m_genreCombo = GetDlgItem(IDC_YP_GENRE);
    m_urlEdit = GetDlgItem(IDC_YP_URL);
    m_charsetCombo = GetDlgItem(IDC_YP_CHARSET);
    try {
        initLists();
        m_ready = true;
    } catch (const std::exception& e) {
        reportPageFailure(m_hWnd, "directory settings",
                          L"The directory settings cannot be shown; they are kept as they are.", e.what());
    }
    return TRUE;
}
