#pragma once
// GDI objects and double-buffered painting. The managed forms (CFont,
// CPen, CBitmap, CDC) delete their object; the handle forms (CFontHandle,
// CBitmapHandle, CDCHandle) only hold it.
#include "ui/window.h"

namespace WTL {

template <class THandle, bool t_bManaged>
class CGdiObjectT {
public:
    THandle m_hObject;

    CGdiObjectT(THandle handle = nullptr) : m_hObject(handle) {}
    ~CGdiObjectT() { DeleteObject(); }
    CGdiObjectT(const CGdiObjectT&) = delete;
    CGdiObjectT& operator=(const CGdiObjectT&) = delete;
    operator THandle() const { return m_hObject; }
    bool IsNull() const { return m_hObject == nullptr; }

    void Attach(THandle handle) {
        DeleteObject();
        m_hObject = handle;
    }
    THandle Detach() {
        THandle handle = m_hObject;
        m_hObject = nullptr;
        return handle;
    }
    void DeleteObject() {
        if (t_bManaged && m_hObject) ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }
};

template <bool t_bManaged>
class CFontT : public CGdiObjectT<HFONT, t_bManaged> {
public:
    CFontT(HFONT font = nullptr) : CGdiObjectT<HFONT, t_bManaged>(font) {}
    HFONT CreateFontIndirect(const LOGFONTW* font) {
        this->Attach(::CreateFontIndirectW(font));
        return this->m_hObject;
    }
    BOOL GetLogFont(LOGFONTW* font) const { return ::GetObjectW(this->m_hObject, sizeof(*font), font) == sizeof(*font); }
};
typedef CFontT<true> CFont;
typedef CFontT<false> CFontHandle;

template <bool t_bManaged>
class CPenT : public CGdiObjectT<HPEN, t_bManaged> {
public:
    CPenT(HPEN pen = nullptr) : CGdiObjectT<HPEN, t_bManaged>(pen) {}
    HPEN CreatePen(int style, int width, COLORREF colour) {
        this->Attach(::CreatePen(style, width, colour));
        return this->m_hObject;
    }
};
typedef CPenT<true> CPen;

template <bool t_bManaged>
class CBitmapT : public CGdiObjectT<HBITMAP, t_bManaged> {
public:
    CBitmapT(HBITMAP bitmap = nullptr) : CGdiObjectT<HBITMAP, t_bManaged>(bitmap) {}
    HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
        this->Attach(::CreateCompatibleBitmap(dc, width, height));
        return this->m_hObject;
    }
};
typedef CBitmapT<true> CBitmap;
typedef CBitmapT<false> CBitmapHandle;

// ---------------------------------------------------------------- device contexts
template <bool t_bManaged>
class CDCT {
public:
    HDC m_hDC;

    CDCT(HDC dc = nullptr) : m_hDC(dc) {}
    ~CDCT() {
        if (t_bManaged && m_hDC) ::DeleteDC(m_hDC);
    }
    CDCT(const CDCT&) = delete;
    CDCT& operator=(const CDCT&) = delete;
    operator HDC() const { return m_hDC; }
    bool IsNull() const { return m_hDC == nullptr; }

    HDC CreateCompatibleDC(HDC dc = nullptr) {
        DeleteDC();
        m_hDC = ::CreateCompatibleDC(dc);
        return m_hDC;
    }
    void DeleteDC() {
        if (t_bManaged && m_hDC) ::DeleteDC(m_hDC);
        m_hDC = nullptr;
    }
    HDC Detach() {
        HDC dc = m_hDC;
        m_hDC = nullptr;
        return dc;
    }

    HBITMAP SelectBitmap(HBITMAP bitmap) { return static_cast<HBITMAP>(::SelectObject(m_hDC, bitmap)); }
    HPEN SelectPen(HPEN pen) { return static_cast<HPEN>(::SelectObject(m_hDC, pen)); }
    HFONT SelectFont(HFONT font) { return static_cast<HFONT>(::SelectObject(m_hDC, font)); }
    COLORREF SetBkColor(COLORREF colour) { return ::SetBkColor(m_hDC, colour); }
    COLORREF SetTextColor(COLORREF colour) { return ::SetTextColor(m_hDC, colour); }
    BOOL MoveTo(int x, int y) { return ::MoveToEx(m_hDC, x, y, nullptr); }
    BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
    BOOL BitBlt(int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, width, height, source, sx, sy, rop);
    }
    // Fills the rectangle with a colour (an opaque empty text output);
    // the background colour is restored after.
    void FillSolidRect(const RECT& rect, COLORREF colour) {
        COLORREF old = ::SetBkColor(m_hDC, colour);
        ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
        ::SetBkColor(m_hDC, old);
    }
};
typedef CDCT<true> CDC;
typedef CDCT<false> CDCHandle;

// The window's client area for drawing outside WM_PAINT.
class CClientDC : public CDCHandle {
public:
    HWND m_hWnd;
    explicit CClientDC(HWND hWnd) : CDCHandle(::GetDC(hWnd)), m_hWnd(hWnd) {}
    ~CClientDC() { ::ReleaseDC(m_hWnd, m_hDC); }
};

// BeginPaint / EndPaint.
class CPaintDC : public CDCHandle {
public:
    HWND m_hWnd;
    PAINTSTRUCT m_ps;
    explicit CPaintDC(HWND hWnd) : m_hWnd(hWnd) { m_hDC = ::BeginPaint(hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
};

// An off-screen buffer for `paint` of the target: drawing goes into the
// buffer (in the target's coordinates) and is copied to the target in one
// blit when the object ends.
class CMemoryDC : public CDC {
public:
    HDC m_hDCOriginal;
    RECT m_rcPaint;
    CBitmap m_bmp;
    HBITMAP m_hBmpOld = nullptr;

    CMemoryDC(HDC target, const RECT& paint) : m_hDCOriginal(target), m_rcPaint(paint) {
        CreateCompatibleDC(target);
        m_bmp.CreateCompatibleBitmap(target, paint.right - paint.left, paint.bottom - paint.top);
        m_hBmpOld = SelectBitmap(m_bmp);
        ::SetViewportOrgEx(m_hDC, -paint.left, -paint.top, nullptr);
    }
    ~CMemoryDC() {
        ::BitBlt(m_hDCOriginal, m_rcPaint.left, m_rcPaint.top, m_rcPaint.right - m_rcPaint.left,
                 m_rcPaint.bottom - m_rcPaint.top, m_hDC, m_rcPaint.left, m_rcPaint.top, SRCCOPY);
        SelectBitmap(m_hBmpOld);
    }
};

// ---------------------------------------------------------------- double buffering
// Mix-in: WM_PAINT and WM_PRINTCLIENT are drawn by T::DoPaint(HDC) into an
// off-screen buffer and copied in one blit; background erasing is
// suppressed, so nothing flickers. For WM_PAINT the update rectangle is
// drawn, for WM_PRINTCLIENT the client rectangle into the given DC.
template <class T>
class CDoubleBufferImpl {
public:
    BEGIN_MSG_MAP(CDoubleBufferImpl<T>)
        MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
        MESSAGE_HANDLER(WM_PAINT, OnPaint)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
    END_MSG_MAP()

    LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&) { return 1; }

    LRESULT OnPaint(UINT uMsg, WPARAM wParam, LPARAM, BOOL&) {
        T* self = static_cast<T*>(this);
        if (uMsg == WM_PRINTCLIENT || wParam != 0) {
            RECT client;
            ::GetClientRect(self->m_hWnd, &client);
            CMemoryDC buffer(reinterpret_cast<HDC>(wParam), client);
            self->DoPaint(buffer.m_hDC);
        } else {
            CPaintDC dc(self->m_hWnd);
            CMemoryDC buffer(dc.m_hDC, dc.m_ps.rcPaint);
            self->DoPaint(buffer.m_hDC);
        }
        return 0;
    }

protected:
    ~CDoubleBufferImpl() = default;
};

template <class T, class TBase = ATL::CWindow, class TWinTraits = ATL::CControlWinTraits>
class CDoubleBufferWindowImpl : public ATL::CWindowImpl<T, TBase, TWinTraits>, public CDoubleBufferImpl<T> {
public:
    BEGIN_MSG_MAP(CDoubleBufferWindowImpl)
        CHAIN_MSG_MAP(CDoubleBufferImpl<T>)
    END_MSG_MAP()
};

}  // namespace WTL
