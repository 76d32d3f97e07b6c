// tests/display/pixel_operators_test.cpp
// The operators' arithmetic (blend and masked blend vectors computed with an
// independent Python version of the formulas), the fill paths against a
// plain loop, the clipped circle walk against the step-by-step one, and each
// operator's rule against the pixels the copy operator sets.
#include "display/pixel_operators.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "display/blend.h"
#include "display/drawing.h"
#include "display/operator_loops.h"
#include "display/transformed_blits.h"
#include "display_test_support.h"

namespace qob {
namespace {

using testing::FramedTarget;
using testing::OwnedSurface;
using testing::PatternPicture;
using testing::Picture;
using testing::SamePicture;
using testing::SourcePicture;
using testing::TestCanvas;

TEST(BlendTest, Vectors) {
    struct Case {
        uint16_t source, destination;
        int32_t level;
        uint16_t expected;
    };
    constexpr Case kCases[] = {
        {0xFFFF, 0x0000, 128, 0x7BEF},  // white over black, half way
        {0x1234, 0xABCD, 0, 0xABCD},    // level 0 keeps the destination
        {0xFFFF, 0x0000, 251, 0xF7BE},  // 31/32, 62/64, 31/32 of each channel
        {0x0800, 0x001F, 128, 0x000F},  // a borrow from blue into red, kept as it falls
        {0x001F, 0xF800, 200, 0x3018},
        {0x1234, 0xABCD, 100, 0x6B0F},
        {0x0000, 0xFFFF, 64, 0xBDF7},
    };
    for (const Case& c : kCases) EXPECT_EQ(Blend(c.source, c.destination, c.level), c.expected) << c.level;
}

// MaskedBlend of one pixel through each operator.
TEST(MaskedBlendTest, Vectors) {
    struct Case {
        uint16_t source, destination, mask;
        uint16_t copy, alpha200;  // copy operator; alpha operator at level 200
    };
    constexpr Case kCases[] = {
        {0xFFFF, 0x0000, 0x07C0, 0xF7BE, 0xBDF7},  // weight 31: 31/32 of the source
        {0xFFFF, 0x0000, 0x0040, 0x0020, 0x0000},  // weight 1; at level 200 it rounds to 0
        {0x1234, 0xABCD, 0x0400, 0x5AF0, 0x6B2F},
        {0x001F, 0xF800, 0x0200, 0xB807, 0xC805},
        {0xF81F, 0x07E0, 0x03C0, 0x742E, 0x552A},
        {0x0000, 0xFFFF, 0x07C0, 0x0020, 0x39E7},  // a negative difference, computed wrapped
        {0xFFFF, 0x1234, 0x0000, 0x1234, 0x1234},  // weight 0 leaves the destination
        {0xFFFF, 0x1234, 0xF83F, 0x1234, 0x1234},  // bits 6-10 clear: weight 0
    };
    for (const Case& c : kCases) {
        PixelBuffer* source = CreatePixelBuffer(1, 1);
        PixelBuffer* mask = CreatePixelBuffer(1, 1);
        PixelBuffer* destination = CreatePixelBuffer(1, 1);
        *PixelAt(*source, 0, 0) = c.source;
        *PixelAt(*mask, 0, 0) = c.mask;
        AlphaOperator alpha(200);
        const std::pair<PixelOperator*, uint16_t> kOperators[] = {{&SharedCopyOperator(), c.copy}, {&alpha, c.alpha200}};
        for (const auto& [op, expected] : kOperators) {
            *PixelAt(*destination, 0, 0) = c.destination;
            op->MaskedBlend(*destination, Point{0, 0}, *source, *mask, Rect{0, 0, 1, 1});
            EXPECT_EQ(*PixelAt(*destination, 0, 0), expected) << std::hex << c.source << " " << c.mask;
        }
        delete source;
        delete mask;
        delete destination;
    }
}

// Through a pixel function, a masked blend applies the function to the
// source pixel and blends its result in by the mask's weight, as the copy
// operator blends the source; a zero weight calls nothing.
TEST(MaskedBlendTest, FunctionOperatorBlendsTheFunctionsResult) {
    struct Swap : PixelFunction {
        int calls = 0;
        uint16_t Apply(uint16_t source, uint16_t destination) override {
            ++calls;
            return static_cast<uint16_t>(source ^ destination);
        }
    } swap;
    PixelFunctionOperator function(&swap);
    PixelBuffer* source = CreatePixelBuffer(2, 1);
    PixelBuffer* mask = CreatePixelBuffer(2, 1);
    PixelBuffer* destination = CreatePixelBuffer(2, 1);
    *PixelAt(*source, 0, 0) = 0xF0F0, *PixelAt(*source, 1, 0) = 0x1234;
    *PixelAt(*mask, 0, 0) = 0x0400, *PixelAt(*mask, 1, 0) = 0x003F;  // weight 16; weight 0
    *PixelAt(*destination, 0, 0) = 0x0F0F, *PixelAt(*destination, 1, 0) = 0x5678;
    function.MaskedBlend(*destination, Point{0, 0}, *source, *mask, Rect{0, 0, 2, 1});
    // (0xF0F0 ^ 0x0F0F) = 0xFFFF blended half way over 0x0F0F (Python: 0x8777).
    EXPECT_EQ(*PixelAt(*destination, 0, 0), 0x8777);
    EXPECT_EQ(*PixelAt(*destination, 1, 0), 0x5678);
    EXPECT_EQ(swap.calls, 1);
    delete source;
    delete mask;
    delete destination;
}

// The three fill paths (equal bytes, whole words, pixel by pixel) give the
// same pixels as a plain loop, on library buffers (rows back to back) and on
// targets inside a larger buffer whose rows start 2-byte aligned only.
TEST(CopyFillTest, EveryPathEqualsAPlainLoop) {
    struct Case {
        int32_t width, height;
        uint16_t colour;
    };
    constexpr Case kCases[] = {{7, 5, 0x0000}, {7, 5, 0xFFFF}, {7, 5, 0x1234}, {16, 3, 0x1234}, {16, 3, 0xABAB},
                               {8, 1, 0xF00F}, {1, 4, 0x1234}, {0, 4, 0x1234}, {9, 0, 0x1234}};
    for (const Case& c : kCases) {
        FramedTarget target(c.width, c.height, 0x5555);
        SharedCopyOperator().Fill(target.view, c.colour);
        EXPECT_TRUE(SamePicture(target.Pixels(), Picture(c.width, c.height, c.colour))) << c.width;
        EXPECT_TRUE(target.FrameIntact()) << c.width << " " << std::hex << c.colour;

        OwnedSurface surface(c.width, c.height);
        SharedCopyOperator().Fill(*surface->buffer, c.colour);
        EXPECT_TRUE(SamePicture(surface.Pixels(), Picture(c.width, c.height, c.colour))) << c.width;
    }
}

TEST(CopyFillTest, RunsStartingOnAnyAlignment) {
    for (int32_t left = 0; left < 4; ++left)
        for (int32_t count = 0; count < 9; ++count) {
            FramedTarget target(12, 2, 0x5555);
            SharedCopyOperator().HorizontalRun(target.view, Point{left, 1}, count, 0x1234);
            SharedCopyOperator().FillRect(target.view, Rect{left, 0, left + count, 1}, 0x4321);
            Picture expected(12, 2, 0x5555);
            for (int32_t x = left; x < left + count; ++x) expected.At(x, 1) = 0x1234, expected.At(x, 0) = 0x4321;
            EXPECT_TRUE(SamePicture(target.Pixels(), expected)) << left << " " << count;
            EXPECT_TRUE(target.FrameIntact());
        }
    FramedTarget target(3, 6, 0x5555);
    SharedCopyOperator().VerticalRun(target.view, Point{1, 2}, 0, 0x1234);  // last offset 0: one pixel
    SharedCopyOperator().VerticalRun(target.view, Point{2, 2}, -1, 0x1234);  // negative: none
    Picture expected(3, 6, 0x5555);
    expected.At(1, 2) = 0x1234;
    EXPECT_TRUE(SamePicture(target.Pixels(), expected));
}

// The clipped circle walk skips the steps whose points all miss the clip;
// it must plot exactly what the step-by-step walk plots inside the clip.
TEST(CircleWalkTest, SkippingWalkPlotsWhatTheFullWalkPlotsInsideTheClip) {
    std::mt19937 random(29);
    using Points = std::vector<std::pair<int64_t, int64_t>>;
    for (int i = 0; i < 3000; ++i) {
        const int64_t radius = i < 200 ? i : int64_t(random() % 5000);
        const int64_t cx = int64_t(random() % 400) - 200, cy = int64_t(random() % 400) - 200;
        const int32_t left = int32_t(random() % 200) - 100, top = int32_t(random() % 200) - 100;
        const Rect clip{left, top, left + 1 + int32_t(random() % 60), top + 1 + int32_t(random() % 60)};
        Points full, skipping;
        operator_loops::TraceCircle(cx, cy, radius, [&](int64_t x, int64_t y) {
            if (ComputeOutcode(clip, x, y) == 0) full.emplace_back(x, y);
        });
        operator_loops::TraceCircleClipped(cx, cy, radius, clip, [&](int64_t x, int64_t y) { skipping.emplace_back(x, y); });
        ASSERT_EQ(skipping, full) << "radius " << radius << " centre " << cx << "," << cy;
    }
}

// A circle of the largest radius crossing the target: the walk skips to the
// few steps that show, and the shown points lie on the circle.
TEST(CircleWalkTest, HugeCircleCrossingTheTargetIsDrawn) {
    constexpr int32_t kRadius = 0x7FFFFFFF - 100;
    FramedTarget target(40, 30);
    TestCanvas canvas(&target.surface);
    DrawCircle(canvas, 20, kRadius + 15, kRadius, 0xFFFF);  // its top passes through (20, 15)
    EXPECT_EQ(target.At(20, 15), 0xFFFF);
    int drawn = 0;
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x)
            if (target.At(x, y) != 0) {
                ++drawn;
                EXPECT_NEAR(y, 15, 1) << x;
            }
    EXPECT_GE(drawn, 40);
    EXPECT_TRUE(target.FrameIntact());
}

// The two ways of a transformed copy (64-bit accumulators with per-row
// ranges stepped from row to row, and 128-bit ranges worked out per row) draw
// the same pixels for any transform both can take: from a short source, read
// through a table of row starts, and from one taller than that table, read
// with a multiply by the pitch.
TEST(TransformedCopyTest, NarrowAndWideWaysAgree) {
    struct SourceCase {
        int32_t width, height;
        int32_t aimX, aimY;  // where the rectangle's top-left pixel roughly maps to
    };
    const SourceCase sources[] = {
        {13, 9, 6, 4},
        {7, operator_loops::kTabledSourceRows + 40, 3, operator_loops::kTabledSourceRows + 20},
        {9, operator_loops::kTabledSourceRows, 4, operator_loops::kTabledSourceRows - 5},
    };
    const auto draw = [](bool wide, const TransformBlock& t, const Rect& rect, const PixelBuffer& from, bool keyed) {
        FramedTarget target(40, 30, 0xFFFF);
        const auto copy = [](uint16_t colour, uint16_t) { return colour; };
        if (wide && keyed) operator_loops::CopyTransformedWide<true>(copy, target.view, rect, t, from, 0x0101);
        if (wide && !keyed) operator_loops::CopyTransformedWide<false>(copy, target.view, rect, t, from, 0);
        if (!wide && keyed) operator_loops::CopyTransformedNarrow<true>(copy, target.view, rect, t, from, 0x0101);
        if (!wide && !keyed) operator_loops::CopyTransformedNarrow<false>(copy, target.view, rect, t, from, 0);
        EXPECT_TRUE(target.FrameIntact());
        return target.Pixels();
    };
    for (const SourceCase& sourceCase : sources) {
        std::mt19937 random(61);
        const Picture sourcePicture = SourcePicture(sourceCase.width, sourceCase.height);
        OwnedSurface source(sourcePicture);
        int drawnCases = 0;
        for (int i = 0; i < 400; ++i) {
            const auto word = [&](int range) { return __int128(int64_t(random() % uint32_t(2 * range + 1)) - range); };
            TransformBlock t{word(3000), word(3000), word(3000), word(3000), 0, 0};
            if (i % 4 == 0) t.b = t.c = 0;  // scaling only
            const int32_t left = int32_t(random() % 30), top = int32_t(random() % 20);
            const Rect rect{left, top, left + 1 + int32_t(random() % 10), top + 1 + int32_t(random() % 10)};
            const __int128 x = 64 * left + 32, y = 64 * top + 32;
            t.e = word(16 << 16) + (__int128{sourceCase.aimX} << 16) - t.a * x - t.c * y;
            t.f = word(12 << 16) + (__int128{sourceCase.aimY} << 16) - t.b * x - t.d * y;
            const bool keyed = i % 2 == 1;
            const Picture narrow = draw(false, t, rect, *source->buffer, keyed);
            ASSERT_TRUE(SamePicture(narrow, draw(true, t, rect, *source->buffer, keyed)))
                << i << " source height " << sourceCase.height;
            drawnCases += narrow != Picture(40, 30, 0xFFFF);
        }
        EXPECT_GT(drawnCases, 100) << "source height " << sourceCase.height;
    }
}

// A huge source rectangle squeezed onto one pixel far to the right needs the
// 128-bit way: the pixel still comes from the right source column.
TEST(TransformedCopyTest, FarScalingUsesTheSourcePixelItMapsTo) {
    constexpr int32_t kMax = 0x7FFFFFFF;
    FramedTarget target(5000, 1);
    TestCanvas canvas(&target.surface);
    OwnedSurface source(SourcePicture(4, 1));
    const Rect from{-kMax, 0, kMax, 1};  // its first pixel's centre maps to source column 0
    EXPECT_EQ(CanvasBlitTransformed(canvas, Rect{4999, 0, 5000, 1}, source, &from), 1);
    EXPECT_EQ(target.At(4999, 0), *PixelAt(*source->buffer, 0, 0));
    EXPECT_EQ(target.At(4998, 0), 0);
    EXPECT_TRUE(target.FrameIntact());
}

// x ^ y: a rule that changes every pixel it touches.
struct MixColours : PixelFunction {
    uint16_t Apply(uint16_t source, uint16_t destination) override {
        return static_cast<uint16_t>((source ^ destination ^ 0x0F0F) | 1);
    }
};

using Drawer = std::function<void(Canvas*, const PixelSurface* source)>;

struct NamedDrawer {
    std::string name;
    Drawer draw;
};

std::vector<NamedDrawer> OperatorDrawers() {
    static const std::vector<uint8_t> font = [] {
        std::vector<uint8_t> bytes(4096);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
        return bytes;
    }();
    constexpr uint16_t kColour = 0x1234;  // no background pixel has the top bit clear
    return {
        {"fill", [](Canvas* c, const PixelSurface*) { FillRectangle(c, 2, 3, 17, 11, kColour); }},
        {"clear", [](Canvas* c, const PixelSurface*) { CanvasClear(c, kColour); }},
        {"outline", [](Canvas* c, const PixelSurface*) { DrawRectangle(c, 1, 2, 15, 12, kColour); }},
        {"runs", [](Canvas* c, const PixelSurface*) {
             DrawHorizontalLine(c, -3, 4, 14, kColour);
             DrawVerticalLine(c, 9, 6, 40, kColour);
         }},
        {"lines", [](Canvas* c, const PixelSurface*) {
             DrawLine(c, 0, 0, 19, 13, kColour);
             DrawLine(c, 6, 7, -6, 19, kColour);  // meets neither the first line nor itself
         }},
        {"pixel", [](Canvas* c, const PixelSurface*) { SetPixel565(c, 7, 7, kColour); }},
        {"polygon", [](Canvas* c, const PixelSurface*) {
             const Point points[] = {{1, 1}, {18, 3}, {12, 13}, {3, 9}};
             FillPolygon(c, points, kColour);
         }},
        {"text", [](Canvas* c, const PixelSurface*) {
             const uint16_t text[] = {'a', 'Z'};
             DrawBuiltinFontText(c, font.data(), text, 0, 1, 0, kColour, 9);
         }},
        {"blit", [](Canvas* c, const PixelSurface* s) { CanvasBlit(c, 3, 2, s, nullptr); }},
        {"rotated", [](Canvas* c, const PixelSurface* s) { CanvasBlitRotated(c, 10, 7, 0.6f, s); }},
        {"scaled", [](Canvas* c, const PixelSurface* s) { CanvasBlitTransformed(c, Rect{1, 1, 19, 12}, s, nullptr); }},
    };
}

TEST(OperatorRuleTest, EachOperatorChangesTheCopysPixelsByItsOwnRule) {
    const Picture background = PatternPicture(20, 14);
    Picture sourcePicture = SourcePicture(9, 6, 3);
    for (int32_t key : {-1, int32_t{sourcePicture.At(4, 2)}}) {
        OwnedSurface source(sourcePicture, key);
        for (const NamedDrawer& drawer : OperatorDrawers()) {
            FramedTarget copied(20, 14);
            copied.Load(background);
            {
                TestCanvas canvas(&copied.surface);
                drawer.draw(canvas, source);
            }
            const Picture copy = copied.Pixels();
            ASSERT_NE(copy, background) << drawer.name;

            for (int variant = 0; variant < 2; ++variant) {
                FramedTarget target(20, 14);
                target.Load(background);
                TestCanvas canvas(&target.surface);
                MixColours mix;
                if (variant == 0)
                    CanvasSetBlend(canvas, 100);
                else
                    CanvasSetPixelFunction(canvas, &mix);
                drawer.draw(canvas, source);
                Picture expected = background;
                for (size_t i = 0; i < expected.pixels.size(); ++i)
                    if (copy.pixels[i] != background.pixels[i])
                        expected.pixels[i] = variant == 0 ? Blend(copy.pixels[i], background.pixels[i], 100)
                                                          : mix.Apply(copy.pixels[i], background.pixels[i]);
                EXPECT_TRUE(SamePicture(target.Pixels(), expected))
                    << drawer.name << (variant == 0 ? " alpha" : " function") << " key " << key;
                EXPECT_TRUE(target.FrameIntact());
            }
        }
    }
}

// The shared copy operator is usable however late: it is never destroyed.
TEST(OperatorRuleTest, SharedCopyOperatorIsOneObject) {
    EXPECT_EQ(&SharedCopyOperator(), &SharedCopyOperator());
}

}  // namespace
}  // namespace qob
