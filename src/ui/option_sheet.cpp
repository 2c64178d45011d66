#include "ui/option_sheet.h"

#include <exception>

#include "console.h"
#include "res/resource.h"

namespace {

// A page template's size in its dialog units (0 x 0 when unreadable).
SIZE templateSize(int id) {
    SIZE size = {0, 0};
    HRSRC found = ::FindResourceW(ATL::ModuleInstance(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    HGLOBAL loaded = found ? ::LoadResource(ATL::ModuleInstance(), found) : nullptr;
    const WORD* words = loaded ? static_cast<const WORD*>(::LockResource(loaded)) : nullptr;
    if (!words) return size;
    // DLGTEMPLATEEX (version 1, signature 0xFFFF): the size follows the
    // help id, both styles, the item count and the position; DLGTEMPLATE:
    // after both styles, the item count and the position.
    const bool extended = words[0] == 1 && words[1] == 0xFFFF;
    const short* box = reinterpret_cast<const short*>(words + (extended ? 11 : 7));
    size.cx = box[0];
    size.cy = box[1];
    return size;
}

// Pixels of a page, whose templates use "MS Shell Dlg" at 10 points: dialog
// units as the system makes them from that font (a quarter of the average
// letter width, an eighth of the height).
SIZE pagePixels(HWND window, SIZE units) {
    SIZE pixels = {0, 0};
    HDC dc = ::GetDC(window);
    if (!dc) return pixels;
    LOGFONTW face = {};
    face.lfHeight = -::MulDiv(10, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
    face.lfWeight = FW_NORMAL;
    face.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(face.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    HFONT font = ::CreateFontIndirectW(&face);
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics = {};
    SIZE letters = {0, 0};
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (::GetTextMetricsW(dc, &metrics) && ::GetTextExtentPoint32W(dc, kLetters, 52, &letters)) {
        const int baseX = (letters.cx / 26 + 1) / 2;
        const int baseY = metrics.tmHeight;
        pixels.cx = ::MulDiv(units.cx, baseX, 4);
        pixels.cy = ::MulDiv(units.cy, baseY, 8);
    }
    ::SelectObject(dc, old);
    ::DeleteObject(font);
    ::ReleaseDC(window, dc);
    return pixels;
}

void moveBy(HWND parent, HWND child, int dx, int dy) {
    RECT r = {};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    ::SetWindowPos(child, nullptr, r.left + dx, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void growBy(HWND window, int dx, int dy) {
    RECT r = {};
    ::GetWindowRect(window, &r);
    ::SetWindowPos(window, nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

OptionSheet::OptionSheet(EncoderSettings* encoder, ServerSettings* server, const wchar_t* title)
    : Base(title, 0), m_pageEncoder(encoder), m_pageServer(server), m_pageYP(server) {
    // A page that cannot be made is left out; the others still come.
    if (!AddPage(m_pageEncoder)) console_printf("velmora: the encoder page cannot be made");
    if (!AddPage(m_pageServer)) console_printf("velmora: the server page cannot be made");
    if (!AddPage(m_pageYP)) console_printf("velmora: the yellow pages page cannot be made");
}

OptionSheet::~OptionSheet() = default;

INT_PTR OptionSheet::DoModal(HWND owner) {
    try {
        INT_PTR result = Base::DoModal(owner);
        if (result < 0) return -1;
        return result > 0 ? 1 : 0;
    } catch (const std::exception& e) {
        console_printf("velmora: the configuration sheet failed: %s", e.what());
        return -1;
    }
}

void OptionSheet::OnSheetInitialized() {
    SetDlgItemText(IDCANCEL, L"Cancel");
    fitPages();
}

void OptionSheet::fitPages() {
    HWND tab = reinterpret_cast<HWND>(SendMessage(PSM_GETTABCONTROL));
    if (!tab) return;
    SIZE units = {0, 0};
    for (int id : {IDD_PAGE_ENCODER, IDD_PAGE_SERVER, IDD_PAGE_YP}) {
        SIZE page = templateSize(id);
        if (page.cx > units.cx) units.cx = page.cx;
        if (page.cy > units.cy) units.cy = page.cy;
    }
    const SIZE need = pagePixels(m_hWnd, units);
    RECT display = {};
    ::GetClientRect(tab, &display);
    ::SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    const int dx = need.cx > display.right - display.left ? need.cx - (display.right - display.left) : 0;
    const int dy = need.cy > display.bottom - display.top ? need.cy - (display.bottom - display.top) : 0;
    if (dx == 0 && dy == 0) return;

    growBy(tab, dx, dy);
    // The buttons below the tabs, the hidden ones too.
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        ::GetClassNameW(child, name, 16);
        if (lstrcmpiW(name, L"Button") == 0) moveBy(m_hWnd, child, dx, dy);
    }
    growBy(m_hWnd, dx, dy);
    fitActivePage();
}

void OptionSheet::fitActivePage() {
    HWND tab = reinterpret_cast<HWND>(SendMessage(PSM_GETTABCONTROL));
    HWND page = GetActivePage();
    if (!tab || !page) return;
    RECT area = {}, now = {};
    ::GetClientRect(tab, &area);
    ::SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    ::MapWindowPoints(tab, m_hWnd, reinterpret_cast<POINT*>(&area), 2);
    ::GetWindowRect(page, &now);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&now), 2);
    if (!::EqualRect(&area, &now))
        ::SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT OptionSheet::OnPageChange(UINT, WPARAM, LPARAM, BOOL&) {
    LRESULT result = DefWindowProc();
    fitActivePage();
    return result;
}

LRESULT OptionSheet::OnTabChange(int, NMHDR*, BOOL&) {
    LRESULT result = DefWindowProc();
    fitActivePage();
    return result;
}
