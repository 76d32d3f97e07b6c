// tests/display/drawing_test.cpp
// The drawing calls: the primitives' own cases, clipped drawings against the
// unclipped ones cut to the clip, and coordinates at the 32-bit limits.
#include "display/drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "display_test_support.h"

namespace qob {
namespace {

using testing::FramedTarget;
using testing::PatternPicture;
using testing::Picture;
using testing::SamePicture;
using testing::TestCanvas;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// Every write adds one to the pixel, so a picture drawn on zeros counts how
// often each pixel was written.
struct CountWrites : PixelFunction {
    uint16_t Apply(uint16_t, uint16_t destination) override { return static_cast<uint16_t>(destination + 1); }
};

// Draws on a zeroed target through the counting function.
template <class Draw>
Picture CountedPicture(int32_t width, int32_t height, Draw draw) {
    FramedTarget target(width, height);
    TestCanvas canvas(&target.surface);
    CountWrites counter;
    CanvasSetPixelFunction(canvas, &counter);
    draw(canvas.canvas);
    EXPECT_TRUE(target.FrameIntact());
    return target.Pixels();
}

TEST(DrawRectangleTest, OutlineOfFourByFourTouchesTwelvePixelsOnce) {
    const Picture counted = CountedPicture(6, 6, [](Canvas* c) { DrawRectangle(c, 0, 0, 4, 4, 0); });
    Picture expected(6, 6);
    for (int32_t i = 0; i < 4; ++i) expected.At(i, 0) = expected.At(i, 3) = expected.At(0, i) = expected.At(3, i) = 1;
    EXPECT_TRUE(SamePicture(counted, expected));
}

// Height 1: the top and the bottom run fall on the same row; no side runs.
TEST(DrawRectangleTest, OnePixelHighOutlineDrawsTheRowTwice) {
    const Picture counted = CountedPicture(8, 4, [](Canvas* c) { DrawRectangleRect(c, Rect{1, 2, 6, 3}, 0); });
    Picture expected(8, 4);
    for (int32_t x = 1; x < 6; ++x) expected.At(x, 2) = 2;
    EXPECT_TRUE(SamePicture(counted, expected));
}

TEST(DrawLineTest, VerticalLeavesOutTheLargerEndAndDiagonalDrawsBothEnds) {
    Picture vertical = CountedPicture(8, 8, [](Canvas* c) { DrawLine(c, 5, 5, 5, 1, 0); });
    Picture expected(8, 8);
    for (int32_t y = 1; y <= 4; ++y) expected.At(5, y) = 1;
    EXPECT_TRUE(SamePicture(vertical, expected));

    Picture horizontal = CountedPicture(8, 8, [](Canvas* c) { DrawLineAlias(c, 6, 2, 1, 2, 0); });
    expected = Picture(8, 8);
    for (int32_t x = 1; x <= 5; ++x) expected.At(x, 2) = 1;
    EXPECT_TRUE(SamePicture(horizontal, expected));

    // Both ends, each pixel once, one pixel per column.
    Picture diagonal = CountedPicture(8, 8, [](Canvas* c) { DrawLine(c, 1, 1, 4, 3, 0); });
    EXPECT_EQ(diagonal.At(1, 1), 1);
    EXPECT_EQ(diagonal.At(4, 3), 1);
    int total = 0;
    for (uint16_t pixel : diagonal.pixels) total += pixel;
    EXPECT_EQ(total, 4);

    EXPECT_TRUE(SamePicture(CountedPicture(8, 8, [](Canvas* c) { DrawLine(c, 3, 3, 3, 3, 0); }), Picture(8, 8)));
}

TEST(SetPixelTest, RightAndBottomEdgesOfTheClipAreOutside) {
    FramedTarget target(10, 10);
    TestCanvas canvas(&target.surface);
    CanvasSetClip(canvas, Rect{2, 2, 6, 6});
    SetPixel565(canvas, 6, 3, 0xFFFF);
    SetPixel565(canvas, 3, 6, 0xFFFF);
    SetPixel565(canvas, 1, 3, 0xFFFF);
    EXPECT_TRUE(SamePicture(target.Pixels(), Picture(10, 10)));
    SetPixel565(canvas, 5, 5, 0xFFFF);
    EXPECT_EQ(target.At(5, 5), 0xFFFF);
}

// Outside the target GetPixel565 reads nothing; inside it ignores the clip.
TEST(GetPixelTest, ZeroOutsideTheTargetAndNoClipTest) {
    FramedTarget target(6, 4);
    target.Load(PatternPicture(6, 4));
    TestCanvas canvas(&target.surface);
    CanvasSetClip(canvas, Rect{0, 0, 2, 2});
    EXPECT_EQ(GetPixel565(canvas, 5, 3), target.At(5, 3));
    const Point outside[] = {{-1, 0}, {6, 0}, {0, 4}, {0, -1}, {kMax, kMax}, {kMin, kMin}, {kMin, 0}};
    for (Point p : outside) EXPECT_EQ(GetPixel565(canvas, p.x, p.y), 0) << p.x << "," << p.y;
}

// A glyph font where glyph g has row r = g ^ r, so each glyph is recognisable.
std::vector<uint8_t> TestFont() {
    std::vector<uint8_t> font(4096);
    for (int g = 0; g < 256; ++g)
        for (int r = 0; r < 16; ++r) font[size_t(16 * g + r)] = static_cast<uint8_t>(g ^ (r * 17));
    return font;
}

// The picture of a glyph drawn at (left, top) the simple way.
void DrawGlyph(Picture& picture, const std::vector<uint8_t>& font, int glyph, int64_t left, int64_t top,
               uint16_t colour) {
    for (int r = 0; r < 16; ++r)
        for (int b = 0; b < 8; ++b)
            if (font[size_t(16 * glyph + r)] & (0x80 >> b)) picture.Set(left + b, top + r, colour);
}

TEST(BuiltinFontTextTest, AlignmentsPlaceTheFirstCharacter) {
    const std::vector<uint8_t> font = TestFont();
    const std::vector<uint16_t> text = {'A', 'b', 0x00E9};  // the low byte picks the glyph
    struct Case {
        int32_t alignment;
        int64_t left;
    };
    // Width 240, three characters: centred (241 - 27) >> 1 = 107, right 214.
    constexpr Case kCases[] = {{0, 30}, {1, 0}, {2, 107}, {3, 214}, {7, 0}, {-1, 0}};
    for (const Case& c : kCases) {
        FramedTarget target(240, 20);
        TestCanvas canvas(&target.surface);
        DrawBuiltinFontText(canvas, font.data(), text, c.alignment, 30, 2, 0xF800, 10);
        Picture expected(240, 20);
        DrawGlyph(expected, font, 'A', c.left, 2, 0xF800);
        DrawGlyph(expected, font, 'b', c.left + 10, 2, 0xF800);
        DrawGlyph(expected, font, 0xE9, c.left + 20, 2, 0xF800);
        EXPECT_TRUE(SamePicture(target.Pixels(), expected)) << "alignment " << c.alignment;
        EXPECT_TRUE(target.FrameIntact());
    }
}

// A byte that was no valid UTF-8 reaches the call as an escape unit and is
// drawn with the glyph of that byte, not of the escape unit's low byte.
TEST(BuiltinFontTextTest, EscapedBytesUseTheirOwnGlyph) {
    const std::vector<uint8_t> font = TestFont();
    const std::vector<uint16_t> text = {0xDC80 + 0xE9, 0xDC80 + 0x80, 0xDCFF};
    FramedTarget target(40, 16);
    TestCanvas canvas(&target.surface);
    DrawBuiltinFontText(canvas, font.data(), text, 0, 0, 0, 0x001F, 9);
    Picture expected(40, 16);
    DrawGlyph(expected, font, 0xE9, 0, 0, 0x001F);
    DrawGlyph(expected, font, 0x80, 9, 0, 0x001F);
    DrawGlyph(expected, font, 0xFF, 18, 0, 0x001F);
    EXPECT_TRUE(SamePicture(target.Pixels(), expected));
    DrawBuiltinFontText(canvas, nullptr, text, 0, 0, 0, 0xFFFF, 9);
    DrawBuiltinFontText(canvas, font.data(), {}, 0, 0, 0, 0xFFFF, 9);
    EXPECT_TRUE(SamePicture(target.Pixels(), expected));
}

// A primitive drawn shifted by (dx, dy).
using Drawer = std::function<void(Canvas*, int32_t dx, int32_t dy)>;

struct NamedDrawer {
    std::string name;
    Drawer draw;
};

std::vector<NamedDrawer> ClippableDrawers() {
    static const std::vector<uint8_t> font = TestFont();
    return {
        {"fill rectangle", [](Canvas* c, int32_t dx, int32_t dy) { FillRectangle(c, dx - 3, dy + 2, dx + 15, dy + 9, 0x1234); }},
        {"outline", [](Canvas* c, int32_t dx, int32_t dy) { DrawRectangle(c, dx - 2, dy - 1, dx + 17, dy + 13, 0x1234); }},
        {"horizontal", [](Canvas* c, int32_t dx, int32_t dy) { DrawHorizontalLine(c, dx - 4, dy + 3, 30, 0x1234); }},
        {"vertical", [](Canvas* c, int32_t dx, int32_t dy) { DrawVerticalLine(c, dx + 5, dy - 4, 30, 0x1234); }},
        {"circle", [](Canvas* c, int32_t dx, int32_t dy) { DrawCircle(c, dx + 6, dy + 6, 7, 0x1234); }},
        {"small circle", [](Canvas* c, int32_t dx, int32_t dy) { DrawCircle(c, dx + 8, dy + 5, 2, 0x1234); }},
        {"radius 0", [](Canvas* c, int32_t dx, int32_t dy) { DrawCircle(c, dx + 3, dy + 4, 0, 0x1234); }},
        {"pixels", [](Canvas* c, int32_t dx, int32_t dy) {
             for (int32_t i = -3; i < 20; ++i) SetPixel565(c, dx + i, dy + i / 2, 0x1234);
         }},
        {"text", [](Canvas* c, int32_t dx, int32_t dy) {
             const uint16_t text[] = {'Q', 'o', 'b'};
             DrawBuiltinFontText(c, font.data(), text, 0, dx - 3, dy - 2, 0x1234, 9);
         }},
        {"filled polygon", [](Canvas* c, int32_t dx, int32_t dy) {
             const Point points[] = {{dx - 3, dy + 1}, {dx + 14, dy - 2}, {dx + 9, dy + 15}, {dx + 2, dy + 8}};
             FillPolygon(c, points, 0x1234);
         }},
        {"polygon outline (straight sides)", [](Canvas* c, int32_t dx, int32_t dy) {
             const Point points[] = {{dx - 3, dy + 1}, {dx + 14, dy + 1}, {dx + 14, dy + 11}, {dx - 3, dy + 11}};
             DrawPolygon(c, points, 0x1234);
         }},
    };
}

// Each primitive drawn with a clip equals the same primitive drawn on a
// larger target without one, cut to the clip; and nothing is written outside
// the target or into the gaps between its rows.
TEST(ClippedDrawingTest, EqualsTheUnclippedDrawingCutToTheClip) {
    constexpr int32_t kWidth = 16, kHeight = 12, kPad = 24;
    const Rect kClips[] = {{0, 0, 0, 0}, {0, 0, kWidth, kHeight}, {3, 2, 11, 9}, {0, 5, 7, 12}, {9, 0, 16, 4},
                           {5, 5, 6, 6}};
    for (const NamedDrawer& drawer : ClippableDrawers()) {
        FramedTarget large(kWidth + 2 * kPad, kHeight + 2 * kPad);
        {
            TestCanvas canvas(&large.surface);
            drawer.draw(canvas, kPad, kPad);
        }
        const Picture whole = large.Pixels();
        for (const Rect& clip : kClips) {
            FramedTarget target(kWidth, kHeight);
            TestCanvas canvas(&target.surface);
            CanvasSetClip(canvas, clip);
            drawer.draw(canvas, 0, 0);
            const Rect area = IsRectEmpty(clip) ? Rect{0, 0, kWidth, kHeight} : clip;
            Picture expected(kWidth, kHeight);
            for (int32_t y = area.top; y < area.bottom; ++y)
                for (int32_t x = area.left; x < area.right; ++x) expected.At(x, y) = whole.At(x + kPad, y + kPad);
            EXPECT_TRUE(SamePicture(target.Pixels(), expected))
                << drawer.name << " clip " << clip.left << "," << clip.top << "," << clip.right << "," << clip.bottom;
            EXPECT_TRUE(target.FrameIntact()) << drawer.name;
        }
    }
}

// The perpendicular distance of a pixel from the line through both points.
long double DistanceFromLine(int64_t px, int64_t py, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    const long double dx = x2 - x1, dy = y2 - y1;
    return std::fabs(dx * (y1 - py) - (x1 - px) * dy) / std::sqrt(dx * dx + dy * dy);
}

// Whether the ideal segment passes through the clip rectangle's pixels.
bool LineCrossesRect(int64_t x1, int64_t y1, int64_t x2, int64_t y2, const Rect& clip) {
    for (int64_t y = clip.top; y < clip.bottom; ++y)
        for (int64_t x = clip.left; x < clip.right; ++x)
            if (x >= std::min(x1, x2) && x <= std::max(x1, x2) && y >= std::min(y1, y2) && y <= std::max(y1, y2) &&
                DistanceFromLine(x, y, x1, y1, x2, y2) < 0.5L)
                return true;
    return false;
}

// Diagonal lines, some with ends near the 32-bit limits (whose clipping
// products need more than 64 bits): every pixel lies inside the clip and
// within one pixel of the ideal line, and a line that crosses the clip shows.
TEST(ClippedDrawingTest, DiagonalLinesStayInsideTheClipAndNearTheLine) {
    struct Case {
        int32_t x1, y1, x2, y2;
    };
    const Case kCases[] = {
        {-5, -3, 30, 20},
        {25, -4, -6, 14},
        {3, 30, 12, -10},
        {kMin, kMin, kMax, kMax},
        {kMin, kMax, kMax, kMin},
        {kMin, 5, kMax, 7},
        {-2000000000, 6, 2000000000, 7},
        {kMin, kMin + 3, 10, 6},
        {8, kMax, 9, kMin},
        {kMax, 3, kMin, 4},
        {-100000, -70000, 100000, 70001},
        {kMin, kMin, 0, 1},
    };
    const Rect kClips[] = {{0, 0, 0, 0}, {2, 1, 14, 10}, {6, 0, 7, 12}};
    for (const Case& c : kCases)
        for (const Rect& clip : kClips) {
            FramedTarget target(16, 12);
            TestCanvas canvas(&target.surface);
            CanvasSetClip(canvas, clip);
            DrawLine(canvas, c.x1, c.y1, c.x2, c.y2, 0xFFFF);
            EXPECT_TRUE(target.FrameIntact());
            const Rect area = IsRectEmpty(clip) ? Rect{0, 0, 16, 12} : clip;
            int drawn = 0;
            for (int32_t y = 0; y < 12; ++y)
                for (int32_t x = 0; x < 16; ++x) {
                    if (target.At(x, y) == 0) continue;
                    ++drawn;
                    EXPECT_EQ(ComputeOutcode(area, x, y), 0) << x << "," << y;
                    EXPECT_LE(DistanceFromLine(x, y, c.x1, c.y1, c.x2, c.y2), 1.0L)
                        << x << "," << y << " line " << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
                }
            if (LineCrossesRect(c.x1, c.y1, c.x2, c.y2, area)) {
                EXPECT_GT(drawn, 0) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
            }
        }
}

// Every other primitive with positions and sizes anywhere in the 32-bit
// range keeps to the target and ends.
TEST(ClippedDrawingTest, ExtremeCoordinatesKeepToTheTarget) {
    FramedTarget target(16, 12);
    TestCanvas canvas(&target.surface);
    CanvasSetClip(canvas, Rect{1, 1, 15, 11});
    FillRectangle(canvas, kMin, kMin, kMax, kMax, 0x1111);
    DrawRectangle(canvas, kMin, kMin, kMax, kMax, 0x2222);
    DrawRectangle(canvas, 3, 3, kMax, kMax, 0x2222);
    DrawHorizontalLine(canvas, kMin, 4, kMax, 0x3333);
    DrawHorizontalLine(canvas, 5, 5, kMax, 0x3333);
    DrawVerticalLine(canvas, 4, kMin, kMax, 0x4444);
    DrawVerticalLine(canvas, 6, 8, kMax, 0x4444);
    DrawLine(canvas, 7, kMin, 7, kMax, 0x5555);
    DrawLine(canvas, kMax, 8, kMin, 8, 0x5555);
    const Point far[] = {{kMin, kMin}, {kMax, 0}, {5, kMax}, {kMin, 7}};
    FillPolygon(canvas, far, 0x6666);
    DrawPolygon(canvas, far, 0x6666);
    DrawCircle(canvas, kMax, kMax, kMax, 0x7777);
    DrawCircle(canvas, kMin, kMin, kMax, 0x7777);
    DrawCircle(canvas, kMax - 5, 6, 10, 0x7777);
    const uint16_t text[] = {'x', 'y'};
    const std::vector<uint8_t> font = TestFont();
    DrawBuiltinFontText(canvas, font.data(), text, 0, kMax - 3, kMax - 3, 0x8888, kMax);
    DrawBuiltinFontText(canvas, font.data(), text, 0, kMin, kMin, 0x8888, kMin);
    EXPECT_TRUE(target.FrameIntact());
    for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(target.At(x, 0), 0) << x;
    EXPECT_EQ(target.At(15, 11), 0);
}

// A polygon with a vertex at a huge y is filled over the target's rows only
// (visiting every row up to the vertex would take seconds), and a rectangle
// shaped polygon fills the rows below its top edge up to its bottom edge.
TEST(FillPolygonTest, RectangleShapeAndFarVertices) {
    FramedTarget target(16, 12);
    TestCanvas canvas(&target.surface);
    const Point box[] = {{2, 2}, {10, 2}, {10, 8}, {2, 8}};
    FillPolygon(canvas, box, 0xFFFF);
    Picture expected(16, 12);
    for (int32_t y = 3; y < 8; ++y)
        for (int32_t x = 2; x < 10; ++x) expected.At(x, y) = 0xFFFF;
    EXPECT_TRUE(SamePicture(target.Pixels(), expected));

    FramedTarget far(16, 12);
    TestCanvas farCanvas(&far.surface);
    const Point spike[] = {{0, 0}, {15, 0}, {8, kMax}};
    FillPolygon(farCanvas, spike, 0xFFFF);
    for (int32_t y = 1; y < 12; ++y) EXPECT_NE(far.At(8, y), 0) << y;
    EXPECT_TRUE(far.FrameIntact());

    const Point one[] = {{4, 5}};
    FillPolygon(farCanvas, one, 0x1234);
    EXPECT_EQ(far.At(4, 5), 0x1234);
    FillPolygon(farCanvas, std::span<const Point>(), 0x1234);
}

// Midpoint circles lie within one pixel of the ideal circle, are symmetric,
// and have one pixel per column in each octant.
TEST(DrawCircleTest, PointsLieOnTheCircle) {
    for (int32_t radius = 0; radius <= 14; ++radius) {
        const Picture counted = CountedPicture(32, 32, [radius](Canvas* c) {
            CanvasResetOperator(c);
            DrawCircle(c, 15, 15, radius, 1);
        });
        for (int32_t y = 0; y < 32; ++y)
            for (int32_t x = 0; x < 32; ++x) {
                if (counted.At(x, y) == 0) continue;
                const double distance = std::hypot(x - 15.0, y - 15.0);
                EXPECT_LT(std::fabs(distance - radius), 1.0) << radius << ": " << x << "," << y;
                EXPECT_EQ(counted.At(30 - x, y), 1);
                EXPECT_EQ(counted.At(x, 30 - y), 1);
                EXPECT_EQ(counted.At(15 + (y - 15), 15 + (x - 15)), 1);
            }
        for (int32_t dx = 0; dx * dx * 2 <= radius * radius; ++dx) {
            int inColumn = 0;
            for (int32_t y = 0; y <= 15; ++y) inColumn += counted.At(15 + dx, y);
            EXPECT_EQ(inColumn, 1) << "radius " << radius << " column " << dx;
        }
    }
    EXPECT_TRUE(SamePicture(CountedPicture(8, 8, [](Canvas* c) { DrawCircle(c, 4, 4, -1, 0); }), Picture(8, 8)));
}

// Big radii: the square tests and the decision value need 64 bits. A circle
// whose square, added in 32 bits, would wrap is still classed right.
TEST(DrawCircleTest, SquareTestsDoNotWrap) {
    FramedTarget target(16, 12);
    TestCanvas canvas(&target.surface);
    DrawCircle(canvas, kMax - 2, 6, 20, 0xFFFF);   // cx + r wraps in 32 bits: wholly right of the target
    DrawCircle(canvas, kMin + 2, 6, 20, 0xFFFF);   // cx - r wraps: wholly left
    EXPECT_TRUE(SamePicture(target.Pixels(), Picture(16, 12)));
    // A circle of radius 3,000 whose leftmost point is on the target.
    DrawCircle(canvas, 3005, 6, 3000, 0xFFFF);
    EXPECT_EQ(target.At(5, 6), 0xFFFF);
    EXPECT_TRUE(target.FrameIntact());
}

TEST(CanvasClearTest, FillsTheWholeTargetIgnoringTheClip) {
    FramedTarget target(7, 5);
    TestCanvas canvas(&target.surface);
    CanvasSetClip(canvas, Rect{1, 1, 2, 2});
    CanvasClear(canvas, 0x1234);
    EXPECT_TRUE(SamePicture(target.Pixels(), Picture(7, 5, 0x1234)));
    EXPECT_TRUE(target.FrameIntact());
}

}  // namespace
}  // namespace qob
