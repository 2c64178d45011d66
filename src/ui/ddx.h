#pragma once
// Data exchange between a dialog's controls and its members. A dialog
// derives from CWinDataExchange<T> and lists its fields in a DDX map:
//
//   BEGIN_DDX_MAP(CMyDlg)
//       DDX_CONTROL(IDC_METER, meter)           // subclass once
//       DDX_CONTROL_HANDLE(IDC_NAME, name_edit) // take the handle once
//       DDX_TEXT_LEN(IDC_NAME, name, 128)
//       DDX_INT_RANGE(IDC_PORT, port, 0, 65535)
//       DDX_CHECK(IDC_PUBLIC, pub)
//   END_DDX_MAP()
//
// DoDataExchange(FALSE) shows the members in the controls, DoDataExchange(
// TRUE) reads them back and stops at the first field that fails. A failure
// calls T's hooks, which a dialog overrides to say what is wrong:
//   OnDataExchangeError(id, save)          the control holds no value of
//                                          the field's kind (a number
//                                          field without a number)
//   OnDataValidateError(id, save, data)    the value is outside its limits
//                                          (text too long, number out of
//                                          range); `data` says which
// The default hooks beep and put the focus into the control.
#include "ui/window.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwctype>
#include <string>

namespace WTL {

enum _XDataType { ddxDataNull = 0, ddxDataText = 1, ddxDataInt = 2 };
struct _XTextData {
    int nLength;
    int nMaxLength;
};
struct _XIntData {
    long long nVal;
    long long nMin;
    long long nMax;
};
struct _XData {
    _XDataType nDataType;
    union {
        _XTextData textData;
        _XIntData intData;
    };
};

// A whole text that is a signed decimal number (white space around it
// allowed), as a 64-bit value; false for anything else.
inline bool ParseWholeInteger(const std::wstring& text, long long& value) {
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    long long parsed = std::wcstoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) return false;
    while (*end && std::iswspace(*end)) ++end;
    if (*end) return false;
    value = parsed;
    return true;
}

template <class T>
class CWinDataExchange {
public:
    void OnDataExchangeError(UINT nCtrlID, BOOL /*bSave*/) {
        ::MessageBeep(static_cast<UINT>(-1));
        ::SetFocus(static_cast<T*>(this)->GetDlgItem(static_cast<int>(nCtrlID)));
    }
    void OnDataValidateError(UINT nCtrlID, BOOL /*bSave*/, _XData& /*data*/) {
        ::MessageBeep(static_cast<UINT>(-1));
        ::SetFocus(static_cast<T*>(this)->GetDlgItem(static_cast<int>(nCtrlID)));
    }

    BOOL DDX_Text(UINT id, std::wstring& text, BOOL save, BOOL validate = FALSE, int maxLength = 0) {
        T* self = static_cast<T*>(this);
        ATL::CWindow control = self->GetDlgItem(static_cast<int>(id));
        if (!save) {
            control.SetWindowText(text.c_str());
            return TRUE;
        }
        std::wstring read = control.GetWindowText();
        if (validate && maxLength > 0 && read.size() > static_cast<std::size_t>(maxLength)) {
            _XData data;
            data.nDataType = ddxDataText;
            data.textData.nLength = static_cast<int>(read.size());
            data.textData.nMaxLength = maxLength;
            self->OnDataValidateError(id, save, data);
            return FALSE;
        }
        text = read;
        return TRUE;
    }

    BOOL DDX_Int(UINT id, int& value, BOOL save, BOOL validate = FALSE, int minimum = 0, int maximum = 0) {
        T* self = static_cast<T*>(this);
        ATL::CWindow control = self->GetDlgItem(static_cast<int>(id));
        if (!save) {
            control.SetWindowText(std::to_wstring(value).c_str());
            return TRUE;
        }
        long long read = 0;
        if (!ParseWholeInteger(control.GetWindowText(), read)) {
            self->OnDataExchangeError(id, save);
            return FALSE;
        }
        long long low = validate ? minimum : INT_MIN, high = validate ? maximum : INT_MAX;
        if (read < low || read > high) {
            _XData data;
            data.nDataType = ddxDataInt;
            data.intData.nVal = read;
            data.intData.nMin = low;
            data.intData.nMax = high;
            self->OnDataValidateError(id, save, data);
            return FALSE;
        }
        value = static_cast<int>(read);
        return TRUE;
    }

    void DDX_Check(UINT id, bool& checked, BOOL save) {
        ATL::CWindow control = static_cast<T*>(this)->GetDlgItem(static_cast<int>(id));
        if (save) {
            checked = control.SendMessage(BM_GETCHECK) == BST_CHECKED;
        } else {
            control.SendMessage(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
        }
    }

    // Subclasses the control with `object` the first time the controls
    // are shown.
    template <class TControl>
    BOOL DDX_Control(UINT id, TControl& object, BOOL save) {
        if (save || object.m_hWnd) return TRUE;
        return object.SubclassWindow(static_cast<T*>(this)->GetDlgItem(static_cast<int>(id)));
    }

    // Takes the control's handle the first time the controls are shown.
    template <class TWindow>
    void DDX_Control_Handle(UINT id, TWindow& handle, BOOL save) {
        if (!save && !handle.m_hWnd) handle = static_cast<HWND>(static_cast<T*>(this)->GetDlgItem(static_cast<int>(id)));
    }

protected:
    ~CWinDataExchange() = default;
};

#define BEGIN_DDX_MAP(thisClass)                                                  \
    BOOL DoDataExchange(BOOL bSaveAndValidate = FALSE, UINT nCtlID = static_cast<UINT>(-1)) { \
        (void)bSaveAndValidate;                                                   \
        (void)nCtlID;

#define VELMORA_DDX_FOR(nID) if (nCtlID == static_cast<UINT>(-1) || nCtlID == static_cast<UINT>(nID))

#define DDX_TEXT(nID, var) \
    VELMORA_DDX_FOR(nID) { if (!DDX_Text(nID, var, bSaveAndValidate)) return FALSE; }
#define DDX_TEXT_LEN(nID, var, len) \
    VELMORA_DDX_FOR(nID) { if (!DDX_Text(nID, var, bSaveAndValidate, TRUE, len)) return FALSE; }
#define DDX_INT(nID, var) \
    VELMORA_DDX_FOR(nID) { if (!DDX_Int(nID, var, bSaveAndValidate)) return FALSE; }
#define DDX_INT_RANGE(nID, var, min, max) \
    VELMORA_DDX_FOR(nID) { if (!DDX_Int(nID, var, bSaveAndValidate, TRUE, min, max)) return FALSE; }
#define DDX_CHECK(nID, var) \
    VELMORA_DDX_FOR(nID) { DDX_Check(nID, var, bSaveAndValidate); }
#define DDX_CONTROL(nID, obj) \
    VELMORA_DDX_FOR(nID) { if (!DDX_Control(nID, obj, bSaveAndValidate)) return FALSE; }
#define DDX_CONTROL_HANDLE(nID, obj) \
    VELMORA_DDX_FOR(nID) { DDX_Control_Handle(nID, obj, bSaveAndValidate); }

#define END_DDX_MAP() \
        return TRUE;  \
    }

}  // namespace WTL
