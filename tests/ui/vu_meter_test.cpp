// The level meter as it paints: pixel rows read back from the window.
// Expected colours are worked out by hand from the gradient's rule (rows
// from red at the top to green at the bottom, even rows at 80 %).
#include <gtest/gtest.h>

#include <string>

#include "ui/vu_meter.h"
#include "ui_harness.h"

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);

// A bordered static control with a client area of width x height,
// subclassed by the meter as the main window does with its dialog's.
HWND meterStatic(HWND parent, int x, int width, int height) {
    RECT frame = {0, 0, width, height};
    ::AdjustWindowRectEx(&frame, WS_CHILD | WS_BORDER, FALSE, 0);
    return ::CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, x, 10, frame.right - frame.left,
                           frame.bottom - frame.top, parent, nullptr, nullptr, nullptr);
}

// Every pixel of a row has one colour; that colour.
COLORREF rowColour(const ui_harness::Image& image, int y) {
    COLORREF first = image.at(0, y);
    for (int x = 1; x < image.width; ++x)
        if (image.at(x, y) != first) return CLR_INVALID;
    return first;
}

std::string show(COLORREF c) {
    if (c == CLR_INVALID) return "mixed row";
    return std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," + std::to_string(GetBValue(c));
}

}  // namespace

TEST(LevelMeter, RowsFollowTheGradientBelowTheLevelAndAreBlackAbove) {
    VELMORA_NEED_DISPLAY();
    ui_harness::HostWindow host(200, 140);
    CStaticVUMeter meter;
    ASSERT_TRUE(meter.SubclassWindow(meterStatic(host, 10, 14, 100)));

    // Before the gradient exists the meter is dark, whatever the level.
    meter.setLevel(0.0);
    ui_harness::Image unrendered = ui_harness::printClient(meter);
    for (int y : {0, 50, 99}) EXPECT_EQ(show(rowColour(unrendered, y)), show(kBlack));

    meter.prerender();
    struct Row {
        int y;
        COLORREF colour;
    };
    // Top red (even row dimmed), yellow from the middle, green at the bottom.
    const Row gradient[] = {{0, RGB(204, 0, 25)},     {1, RGB(255, 5, 32)},     {2, RGB(204, 8, 25)},
                            {50, RGB(204, 204, 25)},  {51, RGB(249, 255, 32)},  {98, RGB(8, 204, 25)},
                            {99, RGB(5, 255, 32)}};
    struct Case {
        double level;
        int black_rows;
        double stored;
    } cases[] = {{3.0, 0, 0.0}, {0.0, 0, 0.0}, {-20.0, 50, -20.0}, {-40.0, 100, -40.0}, {-60.0, 100, -40.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        meter.setLevel(c.level);
        ui_harness::Image image = ui_harness::printClient(meter);
        ASSERT_EQ(image.height, 100);
        for (int y = 0; y < c.black_rows; ++y) ASSERT_EQ(show(rowColour(image, y)), show(kBlack)) << "row " << y;
        for (const Row& row : gradient) {
            if (row.y < c.black_rows) continue;
            EXPECT_EQ(show(rowColour(image, row.y)), show(row.colour)) << "row " << row.y;
        }
        EXPECT_EQ(meter.level(), c.stored) << "the meter keeps the clamped level";
    }

    // On screen (WM_PAINT, double-buffered) the meter shows what it prints.
    meter.setLevel(-20.0);
    ui_harness::Image printed = ui_harness::printClient(meter);
    ui_harness::Image screen = ui_harness::captureClient(meter);
    EXPECT_EQ(screen.pixels, printed.pixels);

    // A meter one pixel high: its one row at the middle's colour, dimmed.
    CStaticVUMeter thin;
    ASSERT_TRUE(thin.SubclassWindow(meterStatic(host, 40, 14, 1)));
    thin.prerender();
    thin.setLevel(0.0);
    EXPECT_EQ(show(rowColour(ui_harness::printClient(thin), 0)), show(RGB(204, 204, 25)));
}

TEST(LevelMeter, ScreenshotAtSeveralLevels) {
    VELMORA_NEED_DISPLAY();
    // Meters of the main window's size (14 x 52 dialog units at its font
    // is about 28 x 104 pixels) side by side.
    const double levels[] = {-40.0, -30.0, -20.0, -10.0, -3.0, 0.0};
    ui_harness::HostWindow host(20 + 40 * 6, 130);
    CStaticVUMeter meters[6];
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(meters[i].SubclassWindow(meterStatic(host, 10 + 40 * i, 28, 104)));
        meters[i].prerender();
        meters[i].setLevel(levels[i]);
    }
    ui_harness::Image image = ui_harness::captureClient(host);
    // The quietest is dark, the loudest shows red at its top.
    EXPECT_EQ(show(rowColour(ui_harness::printClient(meters[0]), 0)), show(kBlack));
    EXPECT_EQ(show(rowColour(ui_harness::printClient(meters[5]), 1)), show(RGB(255, 4, 32)));
    EXPECT_NE(ui_harness::saveScreenshot(image, "meter-levels"), "");
}
