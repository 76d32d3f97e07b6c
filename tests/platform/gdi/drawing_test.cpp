// tests/platform/gdi/drawing_test.cpp
// Fills, frames, inversions, focus rectangles, lines, pixels and block
// copies: every pixel of the surface is checked against the rule the test
// states, so a stray write anywhere (padding included) fails.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "gdi_test_support.h"

namespace qob::platform {
namespace {

using testing::Inside;
using testing::PatternPixel;
using testing::TestDC;
using testing::TestSurface;

constexpr uint32_t kRed = 0xFF0000;  // as a surface pixel
constexpr COLORREF kRedColor = RGB(255, 0, 0);

// Checks every pixel of the surface, padding included: expected(x, y)
// answers the pixel that should be there.
void ExpectPixels(TestSurface& target, const std::function<uint32_t(int, int)>& expected, const char* what) {
    int wrong = 0;
    for (int y = 0; y < target.surface.height; ++y)
        for (int x = 0; x < target.surface.stride; ++x)
            if (target.At(x, y) != expected(x, y) && ++wrong <= 5)
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << std::hex << target.At(x, y)
                              << ", expected " << expected(x, y);
}

struct RectCase {
    const char* name;
    RECT rect;    // logical
    POINT origin;  // the target's origin on the surface
    RECT clip;    // the target's clip on the surface
};

// A 20 x 16 surface with 4 pixels of padding per row.
constexpr RectCase kRectCases[] = {
    {"inside", {2, 3, 9, 7}, {0, 0}, {0, 0, 20, 16}},
    {"past every edge", {-5, -5, 40, 40}, {0, 0}, {0, 0, 20, 16}},
    {"moved by the origin", {0, 0, 5, 5}, {6, 4}, {0, 0, 20, 16}},
    {"negative logical, origin inside", {-3, -2, 2, 2}, {5, 5}, {0, 0, 20, 16}},
    {"narrow clip", {0, 0, 20, 16}, {0, 0}, {4, 5, 10, 8}},
    {"clip past the surface", {0, 0, 30, 30}, {0, 0}, {15, 10, 40, 40}},
    {"empty: right before left", {9, 3, 2, 7}, {0, 0}, {0, 0, 20, 16}},
    {"one pixel", {4, 4, 5, 5}, {0, 0}, {0, 0, 20, 16}},
    {"one pixel wide", {4, 2, 5, 12}, {0, 0}, {0, 0, 20, 16}},
    {"one pixel high", {1, 9, 15, 10}, {0, 0}, {0, 0, 20, 16}},
    {"outside the clip", {0, 0, 4, 4}, {0, 0}, {10, 10, 20, 16}},
};

// Whether surface pixel (x, y) may be touched by a DC of the case.
bool Drawable(const RectCase& c, int x, int y) {
    return Inside(c.clip, x, y) && x < 20 && y < 16;
}

TEST(GdiDrawing, FillRectFillsTheRectangleWithinClipAndSurfaceOnly) {
    const HBRUSH brush = CreateSolidBrush(kRedColor);
    for (const RectCase& c : kRectCases) {
        TestSurface target(20, 16, 24);
        TestDC dc(target, c.origin, c.clip);
        EXPECT_NE(FillRect(dc.dc, &c.rect, brush), 0) << c.name;
        ExpectPixels(target, [&](int x, int y) {
            const bool in = Inside(c.rect, x - c.origin.x, y - c.origin.y) && Drawable(c, x, y);
            return in ? kRed : PatternPixel(x, y);
        }, c.name);
    }
    DeleteObject(brush);
}

TEST(GdiDrawing, FrameRectDrawsOnePixelInsideTheRectangle) {
    const HBRUSH brush = CreateSolidBrush(kRedColor);
    for (const RectCase& c : kRectCases) {
        TestSurface target(20, 16, 24);
        TestDC dc(target, c.origin, c.clip);
        EXPECT_NE(FrameRect(dc.dc, &c.rect, brush), 0) << c.name;
        const RECT& r = c.rect;
        ExpectPixels(target, [&](int x, int y) {
            const int lx = x - c.origin.x, ly = y - c.origin.y;
            const bool edge = lx == r.left || lx == r.right - 1 || ly == r.top || ly == r.bottom - 1;
            return Inside(r, lx, ly) && edge && Drawable(c, x, y) ? kRed : PatternPixel(x, y);
        }, c.name);
    }
    DeleteObject(brush);
}

TEST(GdiDrawing, FocusRectInvertsEveryOtherFramePixelAndASecondCallRestores) {
    for (const RectCase& c : kRectCases) {
        TestSurface target(20, 16, 24);
        TestDC dc(target, c.origin, c.clip);
        ASSERT_TRUE(DrawFocusRect(dc.dc, &c.rect)) << c.name;
        const RECT& r = c.rect;
        ExpectPixels(target, [&](int x, int y) {
            const int lx = x - c.origin.x, ly = y - c.origin.y;
            const bool edge = lx == r.left || lx == r.right - 1 || ly == r.top || ly == r.bottom - 1;
            const bool dot = ((lx - r.left) + (ly - r.top)) % 2 == 0;
            const bool inverted = Inside(r, lx, ly) && edge && dot && Drawable(c, x, y);
            return inverted ? PatternPixel(x, y) ^ 0xFFFFFF : PatternPixel(x, y);
        }, c.name);
        ASSERT_TRUE(DrawFocusRect(dc.dc, &c.rect)) << c.name;
        ExpectPixels(target, PatternPixel, c.name);
    }
}

TEST(GdiDrawing, InvertRectTwiceRestores) {
    for (const RectCase& c : kRectCases) {
        TestSurface target(20, 16, 24);
        TestDC dc(target, c.origin, c.clip);
        ASSERT_TRUE(InvertRect(dc.dc, &c.rect));
        ExpectPixels(target, [&](int x, int y) {
            const bool in = Inside(c.rect, x - c.origin.x, y - c.origin.y) && Drawable(c, x, y);
            return in ? PatternPixel(x, y) ^ 0xFFFFFF : PatternPixel(x, y);
        }, c.name);
        ASSERT_TRUE(InvertRect(dc.dc, &c.rect));
        ExpectPixels(target, PatternPixel, c.name);
    }
}

TEST(GdiDrawing, HollowBrushesDrawNothing) {
    TestSurface target(20, 16);
    TestDC dc(target);
    const RECT rect{0, 0, 20, 16};
    EXPECT_NE(FillRect(dc.dc, &rect, GetStockObject(NULL_BRUSH)), 0);
    EXPECT_NE(FrameRect(dc.dc, &rect, GetStockObject(NULL_BRUSH)), 0);
    ExpectPixels(target, PatternPixel, "hollow");
}

struct LineCase {
    const char* name;
    POINT from, to;
    std::vector<POINT> drawn;  // every pixel the line sets
};

TEST(GdiDrawing, LinesLeaveOutTheirEndPoint) {
    const std::vector<LineCase> cases = {
        {"horizontal", {2, 3}, {6, 3}, {{2, 3}, {3, 3}, {4, 3}, {5, 3}}},
        {"leftwards", {6, 3}, {2, 3}, {{6, 3}, {5, 3}, {4, 3}, {3, 3}}},
        {"vertical", {1, 1}, {1, 4}, {{1, 1}, {1, 2}, {1, 3}}},
        {"diagonal", {0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
        {"shallow", {0, 0}, {6, 2}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}}},
        {"zero length", {5, 5}, {5, 5}, {}},
        {"past the left edge", {-3, 2}, {2, 2}, {{0, 2}, {1, 2}}},
    };
    const HPEN pen = CreatePen(PS_SOLID, 1, kRedColor);
    for (const LineCase& c : cases) {
        TestSurface target(10, 8);
        TestDC dc(target);
        SelectObject(dc.dc, pen);
        MoveToEx(dc.dc, c.from.x, c.from.y, nullptr);
        ASSERT_TRUE(LineTo(dc.dc, c.to.x, c.to.y));
        ExpectPixels(target, [&](int x, int y) {
            for (const POINT p : c.drawn)
                if (p.x == x && p.y == y) return kRed;
            return PatternPixel(x, y);
        }, c.name);
        POINT position{};
        MoveToEx(dc.dc, 0, 0, &position);
        EXPECT_EQ(position.x, c.to.x) << c.name;  // the line ends at its end point
        EXPECT_EQ(position.y, c.to.y) << c.name;
    }
    DeleteObject(pen);
}

TEST(GdiDrawing, DashedWideAndNullPens) {
    TestSurface target(24, 8);
    TestDC dc(target);
    const HPEN dashed = CreatePen(PS_DASH, 1, kRedColor);
    SelectObject(dc.dc, dashed);
    MoveToEx(dc.dc, 0, 1, nullptr);
    LineTo(dc.dc, 24, 1);
    // Four on, four off.
    for (int x = 0; x < 24; ++x)
        EXPECT_EQ(target.At(x, 1), (x / 4) % 2 == 0 ? kRed : PatternPixel(x, 1)) << x;

    const HPEN wide = CreatePen(PS_SOLID, 3, kRedColor);
    SelectObject(dc.dc, wide);
    MoveToEx(dc.dc, 2, 5, nullptr);
    LineTo(dc.dc, 6, 5);  // a 3-pixel square nib centred on x 2..5, y 5
    for (int y = 3; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(target.At(x, y), (x >= 1 && x <= 6 && y >= 4 && y <= 6) ? kRed : PatternPixel(x, y)) << x << "," << y;

    SelectObject(dc.dc, GetStockObject(NULL_PEN));
    target.FillPattern();
    MoveToEx(dc.dc, 0, 0, nullptr);
    LineTo(dc.dc, 20, 7);
    ExpectPixels(target, PatternPixel, "null pen");
    DeleteObject(dashed);
    DeleteObject(wide);
}

TEST(GdiDrawing, PolylineJoinsItsPoints) {
    TestSurface target(10, 10);
    TestDC dc(target);
    SelectObject(dc.dc, GetStockObject(BLACK_PEN));
    const POINT points[] = {{1, 1}, {4, 1}, {4, 4}};
    ASSERT_TRUE(Polyline(dc.dc, points, 3));
    ExpectPixels(target, [](int x, int y) {
        const bool drawn = (y == 1 && x >= 1 && x <= 3) || (x == 4 && y >= 1 && y <= 3);
        return drawn ? 0u : PatternPixel(x, y);
    }, "polyline");
    EXPECT_FALSE(Polyline(dc.dc, points, 1));
}

TEST(GdiDrawing, RectangleOutlinesWithThePenAndFillsWithTheBrush) {
    const HBRUSH red = CreateSolidBrush(kRedColor);
    struct Case {
        const char* name;
        HGDIOBJ pen;
        HGDIOBJ brush;
    };
    const Case cases[] = {
        {"black pen, red brush", GetStockObject(BLACK_PEN), red},
        {"null pen", GetStockObject(NULL_PEN), red},
        {"hollow brush", GetStockObject(BLACK_PEN), GetStockObject(NULL_BRUSH)},
    };
    const RECT r{2, 2, 8, 7};
    for (const Case& c : cases) {
        TestSurface target(10, 10);
        TestDC dc(target);
        SelectObject(dc.dc, c.pen);
        SelectObject(dc.dc, c.brush);
        ASSERT_TRUE(Rectangle(dc.dc, r.left, r.top, r.right, r.bottom));
        const bool outlined = c.pen != GetStockObject(NULL_PEN);
        const bool filled = c.brush == red;
        ExpectPixels(target, [&](int x, int y) {
            if (!Inside(r, x, y)) return PatternPixel(x, y);
            const bool edge = x == r.left || x == r.right - 1 || y == r.top || y == r.bottom - 1;
            if (edge && outlined) return 0u;
            return filled ? kRed : PatternPixel(x, y);
        }, c.name);
    }
    DeleteObject(red);
}

TEST(GdiDrawing, PixelsInsideTheClipOnly) {
    TestSurface target(10, 10);
    TestDC dc(target, {2, 2}, {2, 2, 6, 6});
    EXPECT_EQ(SetPixel(dc.dc, 0, 0, kRedColor), kRedColor);
    EXPECT_EQ(target.At(2, 2), kRed);
    EXPECT_EQ(GetPixel(dc.dc, 0, 0), kRedColor);
    EXPECT_EQ(GetPixel(dc.dc, 1, 0), ColorFromPixel(PatternPixel(3, 2)));
    for (const POINT p : {POINT{-1, 0}, POINT{0, -1}, POINT{4, 0}, POINT{0, 4}}) {
        EXPECT_EQ(SetPixel(dc.dc, p.x, p.y, kRedColor), CLR_INVALID) << p.x << "," << p.y;
        EXPECT_EQ(GetPixel(dc.dc, p.x, p.y), CLR_INVALID) << p.x << "," << p.y;
    }
    target.At(2, 2) = PatternPixel(2, 2);
    ExpectPixels(target, PatternPixel, "pixels outside the clip");
}

TEST(GdiDrawing, BitBltCopiesBetweenDCsWithinBothClips) {
    TestSurface screen(16, 12);
    TestDC dc(screen, {1, 1}, {1, 1, 15, 11});
    const HDC memory = CreateCompatibleDC(dc.dc);
    const HBITMAP bitmap = CreateCompatibleBitmap(dc.dc, 6, 5);
    ASSERT_NE(SelectObject(memory, bitmap), 0u);
    const RECT all{0, 0, 6, 5};
    const HBRUSH red = CreateSolidBrush(kRedColor);
    FillRect(memory, &all, red);
    SetPixel(memory, 0, 0, RGB(0, 0, 255));

    // From the bitmap's (-2, -1): the two columns and the row before it do
    // not exist, so only 6 x 5 pixels land, at logical (12, 8) onwards,
    // and the DC's clip cuts them at surface x 15 and y 11.
    ASSERT_TRUE(BitBlt(dc.dc, 10, 7, 10, 10, memory, -2, -1, SRCCOPY));
    ExpectPixels(screen, [](int x, int y) {
        if (x == 13 && y == 9) return 0x0000FFu;
        return (x >= 13 && x < 15 && y >= 9 && y < 11) ? kRed : PatternPixel(x, y);
    }, "copy");

    // Back the other way, and an inverting copy.
    screen.FillPattern();
    ASSERT_TRUE(BitBlt(memory, 0, 0, 6, 5, dc.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(memory, 3, 2), ColorFromPixel(PatternPixel(4, 3)));
    ASSERT_TRUE(BitBlt(dc.dc, 0, 0, 6, 5, memory, 0, 0, SRCINVERT));
    EXPECT_EQ(screen.At(4, 3), 0u);

    EXPECT_FALSE(BitBlt(dc.dc, 0, 0, 4, 4, memory, 0, 0, 0x12345678));  // unknown operation
    DeleteDC(memory);
    DeleteObject(bitmap);
    DeleteObject(red);
}

TEST(GdiDrawing, BitBltWithinOneSurfaceReadsTheOldPixels) {
    struct Case {
        int dx, dy;
    };
    for (const Case c : {Case{1, 0}, Case{-1, 0}, Case{0, 1}, Case{0, -1}, Case{2, 3}}) {
        TestSurface target(12, 10);
        TestDC dc(target);
        ASSERT_TRUE(BitBlt(dc.dc, 3 + c.dx, 3 + c.dy, 5, 4, dc.dc, 3, 3, SRCCOPY));
        ExpectPixels(target, [&](int x, int y) {
            const bool moved = x >= 3 + c.dx && x < 8 + c.dx && y >= 3 + c.dy && y < 7 + c.dy;
            return moved ? PatternPixel(x - c.dx, y - c.dy) : PatternPixel(x, y);
        }, "overlap");
    }
}

TEST(GdiDrawing, FillsWholeRowsOfASurfaceWithPadding) {
    // Rows as wide as the surface but not its stride: the padding stays.
    TestSurface target(8, 4, 11);
    TestDC dc(target);
    const RECT rect{0, 0, 8, 4};
    FillRect(dc.dc, &rect, GetStockObject(BLACK_BRUSH));
    ExpectPixels(target, [](int x, int y) { return x < 8 ? 0u : PatternPixel(x, y); }, "padding");
}

// Programs pass any numbers: coordinates at the ends of the 32-bit range
// neither overflow nor make a call walk the whole range.
TEST(GdiDrawing, CoordinatesAtTheEndsOfTheRange) {
    TestSurface target(16, 12);
    TestDC dc(target);
    const RECT everything{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    ASSERT_NE(FillRect(dc.dc, &everything, GetStockObject(BLACK_BRUSH)), 0);
    ExpectPixels(target, [](int x, int y) { return x < 16 ? 0u : PatternPixel(x, y); }, "fill everything");

    target.FillPattern();
    ASSERT_NE(FrameRect(dc.dc, &everything, GetStockObject(BLACK_BRUSH)), 0);
    ASSERT_TRUE(InvertRect(dc.dc, &everything));
    ASSERT_TRUE(InvertRect(dc.dc, &everything));
    ExpectPixels(target, PatternPixel, "a frame far outside");

    // A focus rectangle whose top edge crosses the surface: every other
    // pixel of row 3, and back again.
    const RECT tall{INT_MIN, 3, INT_MAX, INT_MAX};
    ASSERT_TRUE(DrawFocusRect(dc.dc, &tall));
    int inverted = 0;
    for (int x = 0; x < 16; ++x) inverted += target.At(x, 3) != PatternPixel(x, 3);
    EXPECT_EQ(inverted, 8);
    ASSERT_TRUE(DrawFocusRect(dc.dc, &tall));
    ExpectPixels(target, PatternPixel, "focus rectangle far outside");

    // Lines between far ends still cross the surface where they should.
    MoveToEx(dc.dc, INT_MIN, 5, nullptr);
    ASSERT_TRUE(LineTo(dc.dc, INT_MAX, 5));
    MoveToEx(dc.dc, INT_MIN, INT_MIN, nullptr);
    ASSERT_TRUE(LineTo(dc.dc, INT_MAX, INT_MAX));
    ExpectPixels(target, [](int x, int y) { return (y == 5 || x == y) && x < 16 ? 0u : PatternPixel(x, y); }, "far lines");

    target.FillPattern();
    ASSERT_TRUE(Rectangle(dc.dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX));
    EXPECT_EQ(target.At(7, 7), 0xFFFFFFu);  // the white brush inside, the outline far away
    EXPECT_TRUE(BitBlt(dc.dc, INT_MAX - 1, INT_MAX - 1, INT_MAX, INT_MAX, dc.dc, INT_MIN, INT_MIN, SRCCOPY));
    EXPECT_TRUE(BitBlt(dc.dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX, dc.dc, INT_MAX, INT_MAX, SRCCOPY));
    EXPECT_EQ(SetPixel(dc.dc, INT_MAX, INT_MIN, 0), CLR_INVALID);
    EXPECT_EQ(IntersectClipRect(dc.dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX), SIMPLEREGION);
    EXPECT_TRUE(SetViewportOrgEx(dc.dc, INT_MAX, INT_MAX, nullptr));
    EXPECT_NE(FillRect(dc.dc, &everything, GetStockObject(BLACK_BRUSH)), 0);
    EXPECT_TRUE(ExtTextOutW(dc.dc, INT_MIN, INT_MAX, ETO_OPAQUE, &everything, u"far", 3, nullptr));
    RECT box = everything;
    EXPECT_GT(DrawTextW(dc.dc, u"far\naway", -1, &box, DT_CENTER | DT_WORDBREAK), 0);
    box = everything;
    EXPECT_GT(DrawTextW(dc.dc, u"far", -1, &box, DT_CALCRECT | DT_RIGHT), 0);
    EXPECT_EQ(box.left, INT_MIN);
}

}  // namespace
}  // namespace qob::platform
