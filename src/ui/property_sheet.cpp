// Procedures behind property sheets and pages.
#include "ui/property_sheet.h"

#include <exception>

#include "console.h"

namespace WTL {
namespace detail {

namespace {
thread_local SheetHook* t_creating_sheet = nullptr;
}

INT_PTR CALLBACK StartPageProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    // Messages before WM_INITDIALOG (WM_SETFONT) have no page object yet.
    if (uMsg != WM_INITDIALOG) return FALSE;
    const PROPSHEETPAGEW* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
    ATL::CWindowImplRoot* self = reinterpret_cast<ATL::CWindowImplRoot*>(page->lParam);
    if (!self) return FALSE;
    self->AttachDialog(hWnd);
    return ATL::CWindowImplRoot::DialogProc(hWnd, uMsg, wParam, lParam);
}

void SheetHook::SetCreating(SheetHook* sheet) { t_creating_sheet = sheet; }

int CALLBACK SheetHook::Callback(HWND hWnd, UINT uMsg, LPARAM lParam) {
    if (uMsg == PSCB_PRECREATE && lParam) {
        // The template is a DLGTEMPLATE or, marked by 0xFFFF in its second
        // word, a DLGTEMPLATEEX whose style sits after signature and help id.
        WORD* words = reinterpret_cast<WORD*>(lParam);
        DWORD* style = words[1] == 0xFFFF ? reinterpret_cast<DWORD*>(words + 6) : reinterpret_cast<DWORD*>(words);
        *style &= ~static_cast<DWORD>(DS_CONTEXTHELP);
    } else if (uMsg == PSCB_INITIALIZED) {
        SheetHook* sheet = t_creating_sheet;
        t_creating_sheet = nullptr;
        try {
            if (sheet) sheet->TieSheet(hWnd);
        } catch (const std::exception& e) {
            console_printf("velmora: property sheet failed: %s", e.what());
        } catch (...) {
            console_printf("velmora: property sheet failed: unknown error");
        }
    }
    return 0;
}

}  // namespace detail
}  // namespace WTL
