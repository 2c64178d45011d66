#include "ui/vu_meter.h"

namespace {
constexpr double kFloor = -40.0;
}

void CStaticVUMeter::releaseGradient() {
    if (!m_memory.IsNull()) {
        m_memory.SelectBitmap(m_oldBitmap);
        m_oldBitmap = nullptr;
    }
    m_gradient.DeleteObject();
    m_memory.DeleteDC();
}

void CStaticVUMeter::prerender() {
    releaseGradient();
    RECT client = {};
    GetClientRect(&client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    {
        WTL::CClientDC screen(m_hWnd);
        m_gradient.CreateCompatibleBitmap(screen, width, height);
        m_memory.CreateCompatibleDC(screen);
    }
    m_oldBitmap = m_memory.SelectBitmap(m_gradient);
    if (height < 1) return;

    const int half = height / 2;
    const double step = 510.0 / height;
    for (int i = 0; i < height; ++i) {
        int red = i <= half ? 255 : static_cast<int>(510.0 - step * i);
        int green = i < half ? static_cast<int>(step * i) : 255;
        COLORREF colour = (i % 2 == 1) ? RGB(red, green, 32)
                                       : RGB(static_cast<int>(red * 0.8), static_cast<int>(green * 0.8), 25);
        WTL::CPen pen;
        pen.CreatePen(PS_SOLID, 1, colour);
        HPEN old = m_memory.SelectPen(pen);
        m_memory.MoveTo(client.left, client.top + i);
        m_memory.LineTo(client.right, client.top + i);
        m_memory.SelectPen(old);
    }
}

void CStaticVUMeter::draw(HDC dc) {
    WTL::CDCHandle target(dc);
    RECT client = {};
    GetClientRect(&client);
    if (m_memory.IsNull()) {
        target.FillSolidRect(client, RGB(0, 0, 0));
        return;
    }
    int height = client.bottom - client.top;
    target.BitBlt(client.left, client.top, client.right - client.left, height, m_memory, 0, 0, SRCCOPY);

    double read = m_level.load();
    double level = read;
    if (!(level >= kFloor)) level = kFloor;  // NaN too
    if (level > 0.0) level = 0.0;
    // A level set meanwhile by another thread is kept.
    if (level != read) m_level.compare_exchange_strong(read, level);

    int dark = static_cast<int>((level / kFloor) * height);
    RECT black = {client.left, client.top, client.right, client.top + dark};
    target.FillSolidRect(black, RGB(0, 0, 0));
}

LRESULT CStaticVUMeter::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    releaseGradient();
    bHandled = FALSE;
    return 0;
}
