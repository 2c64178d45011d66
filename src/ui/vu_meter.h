#pragma once
// One level meter: a vertical bar lit from the bottom over a gradient that
// runs from green at the bottom through yellow to red at the top (every
// other row darker), showing a level from -40 dB (dark) to 0 dB (the whole
// gradient). The gradient is rendered once (prerender) into a memory DC;
// each paint is one blit and one fill into an off-screen buffer.
//
// The level may be set from any thread; painting happens on the window's.
#include <atomic>

#include "ui/gdi.h"

class CStaticVUMeter : public WTL::CDoubleBufferWindowImpl<CStaticVUMeter, ATL::CWindow, ATL::CControlWinTraits> {
public:
    CStaticVUMeter() = default;
    ~CStaticVUMeter() override = default;

    // Renders the gradient at the control's current size (again when
    // called again). Before it has run the meter paints black.
    void prerender();
    // Paints the level into `dc` (the client area's coordinates).
    void draw(HDC dc);
    void DoPaint(HDC dc) { draw(dc); }

    // The level in decibels; values outside -40..0 (and NaN, as -40) are
    // clamped when the meter paints.
    void setLevel(double decibels) { m_level.store(decibels); }
    double level() const { return m_level.load(); }

    BEGIN_MSG_MAP(CStaticVUMeter)
        MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        CHAIN_MSG_MAP(WTL::CDoubleBufferWindowImpl<CStaticVUMeter>)
    END_MSG_MAP()

private:
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled);
    void releaseGradient();

    WTL::CBitmap m_gradient;
    HBITMAP m_oldBitmap = nullptr;
    WTL::CDC m_memory;
    std::atomic<double> m_level{-40.0};
};
