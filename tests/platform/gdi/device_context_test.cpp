// tests/platform/gdi/device_context_test.cpp
// Device contexts: defaults, colours and modes, the origin and the clip,
// capabilities and the QOB_DPI setting.
#include <gtest/gtest.h>

#include <cstdlib>

#include "gdi_test_support.h"

namespace qob::platform {
namespace {

using testing::PatternPixel;
using testing::TestDC;
using testing::TestSurface;

TEST(GdiDeviceContext, DefaultsAndTheValuesEachSetterReplaces) {
    TestSurface target(4, 4);
    TestDC dc(target);
    EXPECT_EQ(GetTextColor(dc.dc), RGB(0, 0, 0));
    EXPECT_EQ(GetBkColor(dc.dc), RGB(255, 255, 255));
    EXPECT_EQ(GetBkMode(dc.dc), OPAQUE);

    EXPECT_EQ(SetTextColor(dc.dc, RGB(1, 2, 3)), RGB(0, 0, 0));
    EXPECT_EQ(SetTextColor(dc.dc, RGB(4, 5, 6)), RGB(1, 2, 3));
    EXPECT_EQ(SetBkColor(dc.dc, RGB(7, 8, 9)), RGB(255, 255, 255));
    EXPECT_EQ(SetBkMode(dc.dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(dc.dc, 7), 0);  // no such mode: unchanged
    EXPECT_EQ(GetBkMode(dc.dc), TRANSPARENT);

    // Each DC keeps its own state.
    TestDC other(target);
    EXPECT_EQ(GetTextColor(other.dc), RGB(0, 0, 0));
    EXPECT_EQ(GetTextColor(dc.dc), RGB(4, 5, 6));
}

TEST(GdiDeviceContext, ADeletedDcIsDeadAndItsHandleNeverComesBack) {
    TestSurface target(4, 4);
    const HDC dc = CreateTargetDC(DrawTarget{&target.surface, {0, 0}, {0, 0, 4, 4}});
    ASSERT_NE(dc, 0u);
    DeleteTargetDC(dc);
    EXPECT_EQ(GetTextColor(dc), CLR_INVALID);
    const RECT all{0, 0, 4, 4};
    EXPECT_EQ(FillRect(dc, &all, GetStockObject(BLACK_BRUSH)), 0);
    DeleteTargetDC(dc);  // twice: ignored
    const HDC next = CreateTargetDC(DrawTarget{&target.surface, {0, 0}, {0, 0, 4, 4}});
    EXPECT_NE(next, dc);
    DeleteTargetDC(next);

    // A memory DC is not deleted as a target DC, nor the other way round.
    const HDC memory = CreateCompatibleDC(0);
    DeleteTargetDC(memory);
    EXPECT_EQ(GetBkMode(memory), OPAQUE);
    EXPECT_TRUE(DeleteDC(memory));
}

TEST(GdiDeviceContext, TheViewportOriginMovesDrawingAndTheClipBox) {
    TestSurface target(12, 10);
    TestDC dc(target, {2, 1}, {2, 1, 10, 9});
    RECT box{};
    ASSERT_EQ(GetClipBox(dc.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, 8);
    EXPECT_EQ(box.bottom, 8);

    POINT previous{-1, -1};
    ASSERT_TRUE(SetViewportOrgEx(dc.dc, 3, 2, &previous));
    EXPECT_EQ(previous.x, 0);
    EXPECT_EQ(previous.y, 0);
    POINT origin{};
    ASSERT_TRUE(GetViewportOrgEx(dc.dc, &origin));
    EXPECT_EQ(origin.x, 3);
    EXPECT_EQ(origin.y, 2);
    ASSERT_EQ(GetClipBox(dc.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, -3);
    EXPECT_EQ(box.top, -2);
    EXPECT_EQ(box.right, 5);
    EXPECT_EQ(box.bottom, 6);

    SetPixel(dc.dc, 0, 0, RGB(255, 0, 0));
    EXPECT_EQ(target.At(5, 3), 0xFF0000u);  // target (2, 1) + viewport (3, 2)
}

TEST(GdiDeviceContext, IntersectClipRectOnlyNarrows) {
    TestSurface target(12, 10);
    TestDC dc(target, {1, 1}, {1, 1, 11, 9});
    EXPECT_EQ(IntersectClipRect(dc.dc, 2, 2, 20, 20), SIMPLEREGION);
    EXPECT_EQ(IntersectClipRect(dc.dc, -5, -5, 6, 5), SIMPLEREGION);
    RECT box{};
    ASSERT_EQ(GetClipBox(dc.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, 2);
    EXPECT_EQ(box.top, 2);
    EXPECT_EQ(box.right, 6);
    EXPECT_EQ(box.bottom, 5);

    const RECT all{-100, -100, 100, 100};
    FillRect(dc.dc, &all, GetStockObject(BLACK_BRUSH));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool in = x >= 3 && x < 7 && y >= 3 && y < 6;
            EXPECT_EQ(target.At(x, y), in ? 0u : PatternPixel(x, y)) << x << "," << y;
        }

    // The clip stays where it was on the surface when the origin moves.
    SetViewportOrgEx(dc.dc, 10, 10, nullptr);
    ASSERT_EQ(GetClipBox(dc.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, -8);
    EXPECT_EQ(IntersectClipRect(dc.dc, 0, 0, 1, 1), NULLREGION);
    EXPECT_EQ(GetClipBox(dc.dc, &box), NULLREGION);
    EXPECT_EQ(IntersectClipRect(0, 0, 0, 1, 1), ERROR);
}

TEST(GdiDeviceContext, ATargetClipPastItsSurfaceIsCutToTheSurface) {
    TestSurface target(6, 4);
    TestDC dc(target, {-2, -2}, {-10, -10, 100, 100});
    RECT box{};
    ASSERT_EQ(GetClipBox(dc.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, 2);
    EXPECT_EQ(box.top, 2);
    EXPECT_EQ(box.right, 8);
    EXPECT_EQ(box.bottom, 6);
}

TEST(GdiDeviceContext, CapabilitiesAreTheScreens) {
    TestSurface target(4, 4);
    TestDC dc(target);
    EXPECT_EQ(GetDeviceCaps(dc.dc, LOGPIXELSX), ScreenDpi());
    EXPECT_EQ(GetDeviceCaps(dc.dc, LOGPIXELSY), ScreenDpi());
    const SIZE screen = GetGdiScreenSize();
    EXPECT_EQ(GetDeviceCaps(dc.dc, HORZRES), screen.cx);
    EXPECT_EQ(GetDeviceCaps(dc.dc, VERTRES), screen.cy);
    EXPECT_EQ(GetDeviceCaps(dc.dc, BITSPIXEL), 32);
    EXPECT_EQ(GetDeviceCaps(dc.dc, 1234), 0);
    SetGdiScreenSize({480, 640});
    EXPECT_EQ(GetDeviceCaps(dc.dc, VERTRES), 640);
    SetGdiScreenSize(screen);
}

TEST(GdiDeviceContext, DpiSettings) {
    struct Case {
        const char* text;
        std::optional<int> dpi;
    };
    const Case cases[] = {
        {"96", 96}, {"1", 1}, {"2400", 2400}, {"0192", 192},
        {"", std::nullopt}, {"0", std::nullopt}, {"2401", std::nullopt}, {"-96", std::nullopt},
        {"96.5", std::nullopt}, {" 96", std::nullopt}, {"96 ", std::nullopt}, {"abc", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseDpi(c.text), c.dpi) << '"' << c.text << '"';
}

// QOB_DPI is read once per process, so each case runs in a fresh one.
TEST(GdiDeviceContextDeathTest, QobDpiIsReadOnceAndAMalformedValueIsReportedOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* value;
        int dpi;
        const char* report;  // the whole of standard error, as a pattern
    };
    const Case cases[] = {
        {"144", 144, "^$"},
        {"12x", kDefaultDpi, "^QOB_DPI \"12x\" is not a whole number of dots per inch from 1 to 2400; 96 is used\n$"},
        {"0", kDefaultDpi, "^QOB_DPI \"0\" is not a whole number of dots per inch from 1 to 2400; 96 is used\n$"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                setenv("QOB_DPI", c.value, 1);
                const int first = ScreenDpi();
                TestSurface target(2, 2);
                TestDC dc(target);
                const int second = GetDeviceCaps(dc.dc, LOGPIXELSY);
                std::exit(first == c.dpi && second == c.dpi ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), c.report)
            << c.value;
    }
}

}  // namespace
}  // namespace qob::platform
