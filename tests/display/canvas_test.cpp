// tests/display/canvas_test.cpp
// Canvases: target and clip, operator choice, and the basic blit with its
// clipping of both the destination and the source rectangle.
#include "display/canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "display/blend.h"
#include "display/drawing.h"
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

TEST(CanvasTest, NewCanvasClipsToItsTargetWithTheCopyOperator) {
    FramedTarget target(12, 7);
    TestCanvas canvas(&target.surface);
    ASSERT_NE(canvas.canvas, nullptr);
    EXPECT_EQ(canvas->target, &target.surface);
    EXPECT_EQ(canvas->clip, (Rect{0, 0, 12, 7}));
    EXPECT_EQ(canvas->currentOperator, &SharedCopyOperator());
    EXPECT_EQ(CreateSurfaceCanvas(nullptr), nullptr);
}

TEST(CanvasTest, SetBlendUsesTheLevelsLowByte) {
    FramedTarget target(4, 4);
    TestCanvas canvas(&target.surface);
    struct Case {
        int32_t level;
        bool alpha;
        int32_t stored;
    };
    constexpr Case kCases[] = {{251, true, 251}, {0, true, 0},     {128, true, 128}, {252, false, 0},
                               {255, false, 0},  {0x1FF, false, 0}, {256, true, 0},  {256 + 100, true, 100}};
    for (const Case& c : kCases) {
        EXPECT_EQ(CanvasSetBlend(canvas, c.level), 1);
        if (c.alpha) {
            ASSERT_NE(canvas->alphaOperator, nullptr);
            EXPECT_EQ(canvas->currentOperator, canvas->alphaOperator) << c.level;
            EXPECT_EQ(canvas->alphaOperator->level, c.stored) << c.level;
        } else {
            EXPECT_EQ(canvas->currentOperator, &SharedCopyOperator()) << c.level;
        }
    }
    // A level of 256 acts as 0: the destination stays.
    target.At(1, 1) = 0x1234;
    CanvasSetBlend(canvas, 256);
    SetPixel565(canvas, 1, 1, 0xFFFF);
    EXPECT_EQ(target.At(1, 1), 0x1234);
}

struct SwapColours : PixelFunction {
    uint16_t Apply(uint16_t source, uint16_t destination) override { return source ^ destination; }
};

TEST(CanvasTest, PixelFunctionBecomesCurrentAndNullFallsBackToCopy) {
    FramedTarget target(4, 4);
    TestCanvas canvas(&target.surface);
    SwapColours function;
    EXPECT_EQ(CanvasSetPixelFunction(canvas, &function), 1);
    EXPECT_EQ(canvas->currentOperator, canvas->functionOperator);
    EXPECT_EQ(canvas->functionOperator->function, &function);
    EXPECT_EQ(CanvasSetPixelFunction(canvas, nullptr), 1);
    EXPECT_EQ(canvas->currentOperator, &SharedCopyOperator());
    CanvasSetPixelFunction(canvas, &function);
    CanvasResetOperator(canvas);
    EXPECT_EQ(canvas->currentOperator, &SharedCopyOperator());
}

// A null or bufferless target gives an empty clip, and every call then draws
// nothing instead of reaching for the missing pixels.
TEST(CanvasTest, MissingTargetOrBufferDrawsNothing) {
    FramedTarget target(8, 8, 0x0101);
    TestCanvas canvas(&target.surface);
    OwnedSurface source(SourcePicture(4, 4));
    PixelSurface bufferless{nullptr, -1, nullptr, 0, false};
    for (PixelSurface* surface : {static_cast<PixelSurface*>(nullptr), &bufferless}) {
        EXPECT_EQ(CanvasSetTarget(canvas, surface), &target.surface);
        EXPECT_TRUE(IsRectEmpty(canvas->clip));
        CanvasSetClip(canvas, Rect{0, 0, 4, 4});
        EXPECT_TRUE(IsRectEmpty(canvas->clip));
        EXPECT_EQ(CanvasBlit(canvas, 0, 0, source, nullptr), 0);
        CanvasClear(canvas, 0xFFFF);
        FillRectangle(canvas, 0, 0, 8, 8, 0xFFFF);
        DrawLine(canvas, 0, 0, 7, 5, 0xFFFF);
        DrawCircle(canvas, 3, 3, 2, 0xFFFF);
        SetPixel565(canvas, 1, 1, 0xFFFF);
        EXPECT_EQ(GetPixel565(canvas, 1, 1), 0);
        CanvasSetTarget(canvas, &target.surface);
    }
    EXPECT_TRUE(SamePicture(target.Pixels(), Picture(8, 8, 0x0101)));
    EXPECT_TRUE(target.FrameIntact());
}

// Code that draws into another surface for a moment keeps the program's clip.
TEST(CanvasTest, SwapTargetSavesAndRestoresTargetAndClip) {
    FramedTarget first(10, 10), second(6, 6);
    TestCanvas canvas(&first.surface);
    CanvasSetClip(canvas, Rect{2, 3, 7, 8});
    const CanvasTargetState saved = CanvasSwapTarget(canvas, &second.surface);
    EXPECT_EQ(canvas->target, &second.surface);
    EXPECT_EQ(canvas->clip, (Rect{0, 0, 6, 6}));
    CanvasRestoreTarget(canvas, saved);
    EXPECT_EQ(canvas->target, &first.surface);
    EXPECT_EQ(canvas->clip, (Rect{2, 3, 7, 8}));
}

TEST(CanvasTest, SetClipIntersectsWithTheTarget) {
    FramedTarget target(10, 8);
    TestCanvas canvas(&target.surface);
    CanvasSetClip(canvas, Rect{-5, 2, 4, 100});
    EXPECT_EQ(canvas->clip, (Rect{0, 2, 4, 8}));
    CanvasSetClip(canvas, Rect{20, 20, 30, 30});
    EXPECT_TRUE(IsRectEmpty(canvas->clip));
}

// Draws the source rectangle at (x, y) the simple way: every source pixel
// inside the source (and the key test), every destination inside the area.
Picture ReferenceBlit(Picture target, const Picture& source, int64_t x, int64_t y, Rect from, Rect area,
                      int32_t key) {
    for (int64_t sy = std::max(from.top, 0); sy < std::min(from.bottom, source.height); ++sy)
        for (int64_t sx = std::max(from.left, 0); sx < std::min(from.right, source.width); ++sx) {
            const int64_t dx = x + sx - from.left, dy = y + sy - from.top;
            if (ComputeOutcode(area, dx, dy) != 0) continue;
            const uint16_t pixel = source.At(sx, sy);
            if (key >= 0 && pixel == key) continue;
            target.At(dx, dy) = pixel;
        }
    return target;
}

TEST(CanvasBlitTest, ClipsTheDestinationAndTheSourceRectangle) {
    const Picture background = PatternPicture(20, 16);
    Picture picture = SourcePicture(9, 7);
    picture.At(4, 3) = 0;  // a black pixel: keyed by a key of 0
    struct Case {
        int32_t x, y;
        Rect from;
        Rect clip;  // empty: no clip
        int32_t key;
    };
    constexpr int32_t kMax = 0x7FFFFFFF, kMin = -kMax - 1;
    const Case kCases[] = {
        {3, 2, {0, 0, 9, 7}, {0, 0, 0, 0}, -1},       // plain, whole source
        {3, 2, {0, 0, 9, 7}, {0, 0, 0, 0}, 0},        // key 0 is a key
        {3, 2, {0, 0, 9, 7}, {0, 0, 0, 0}, -5},       // any negative key is none
        {-4, -3, {0, 0, 9, 7}, {0, 0, 0, 0}, -1},     // half outside the target
        {15, 12, {0, 0, 9, 7}, {0, 0, 0, 0}, -1},
        {2, 2, {0, 0, 9, 7}, {4, 5, 8, 9}, -1},       // half outside the clip
        {2, 2, {2, 1, 6, 5}, {0, 0, 0, 0}, -1},       // a part of the source
        {2, 2, {-3, -2, 12, 10}, {0, 0, 0, 0}, -1},   // a rectangle reaching past the source
        {2, 2, {5, 4, 40, 40}, {0, 0, 0, 0}, -1},
        {2, 2, {kMin, kMin, kMax, kMax}, {0, 0, 0, 0}, -1},
        {kMax - 2, 3, {0, 0, 9, 7}, {0, 0, 0, 0}, -1},  // positions at the 32-bit limits
        {kMin, kMin, {0, 0, 9, 7}, {0, 0, 0, 0}, -1},
        {1, 1, {8, 2, 3, 6}, {0, 0, 0, 0}, -1},       // a reversed rectangle draws nothing
    };
    for (const Case& c : kCases) {
        FramedTarget target(20, 16);
        target.Load(background);
        TestCanvas canvas(&target.surface);
        if (!IsRectEmpty(c.clip)) CanvasSetClip(canvas, c.clip);
        OwnedSurface source(picture, c.key);
        EXPECT_EQ(CanvasBlit(canvas, c.x, c.y, source, &c.from), 1);
        const Rect area = IsRectEmpty(c.clip) ? Rect{0, 0, 20, 16} : c.clip;
        EXPECT_TRUE(SamePicture(target.Pixels(), ReferenceBlit(background, picture, c.x, c.y, c.from, area, c.key)))
            << c.x << "," << c.y << " from " << c.from.left << "," << c.from.top << "," << c.from.right << ","
            << c.from.bottom;
        EXPECT_TRUE(target.FrameIntact());
    }
}

TEST(CanvasBlitTest, ABlitOutsideTheClipReturnsOneAndTouchesNothing) {
    FramedTarget target(10, 10, 0x0202);
    TestCanvas canvas(&target.surface);
    CanvasSetClip(canvas, Rect{0, 0, 5, 5});
    OwnedSurface source(SourcePicture(3, 3));
    EXPECT_EQ(CanvasBlit(canvas, 6, 6, source, nullptr), 1);
    EXPECT_TRUE(SamePicture(target.Pixels(), Picture(10, 10, 0x0202)));
    EXPECT_EQ(CanvasBlit(canvas, 0, 0, nullptr, nullptr), 0);
}

// Blits onto a zero-size target: an empty clip means no clip, and the
// target's bounds still hold.
TEST(CanvasBlitTest, ZeroSizeTargetDrawsNothing) {
    FramedTarget target(0, 0);
    TestCanvas canvas(&target.surface);
    OwnedSurface source(SourcePicture(3, 3));
    EXPECT_EQ(CanvasBlit(canvas, 0, 0, source, nullptr), 1);
    FillRectangle(canvas, -10, -10, 10, 10, 0xFFFF);
    DrawHorizontalLine(canvas, -5, 0, 10, 0xFFFF);
    DrawVerticalLine(canvas, 0, -5, 10, 0xFFFF);
    EXPECT_TRUE(target.FrameIntact());
}

}  // namespace
}  // namespace qob
