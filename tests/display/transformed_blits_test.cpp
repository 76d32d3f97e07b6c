// tests/display/transformed_blits_test.cpp
// Rotated, scaled and masked blits against the same pictures made the simple
// way: plain blits, turned and doubled pictures, and masked blends of them.
#include "display/transformed_blits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

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

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// The picture placed with its top-left at (x, y), cut to the area; pixels
// equal to the key are left out.
Picture Placed(Picture target, const Picture& picture, int64_t x, int64_t y, const Rect& area, int32_t key = -1) {
    for (int32_t v = 0; v < picture.height; ++v)
        for (int32_t u = 0; u < picture.width; ++u)
            if (ComputeOutcode(area, x + u, y + v) == 0 && (key < 0 || picture.At(u, v) != key))
                target.At(x + u, y + v) = picture.At(u, v);
    return target;
}

// The picture turned a quarter (counter-clockwise on screen) or a half turn.
Picture QuarterTurned(const Picture& p) {
    Picture turned(p.height, p.width);
    for (int32_t v = 0; v < turned.height; ++v)
        for (int32_t u = 0; u < turned.width; ++u) turned.At(u, v) = p.At(p.width - 1 - v, u);
    return turned;
}
Picture HalfTurned(const Picture& p) {
    Picture turned(p.width, p.height);
    for (int32_t v = 0; v < p.height; ++v)
        for (int32_t u = 0; u < p.width; ++u) turned.At(u, v) = p.At(p.width - 1 - u, p.height - 1 - v);
    return turned;
}

Picture Doubled(const Picture& p) {
    Picture doubled(2 * p.width, 2 * p.height);
    for (int32_t v = 0; v < doubled.height; ++v)
        for (int32_t u = 0; u < doubled.width; ++u) doubled.At(u, v) = p.At(u / 2, v / 2);
    return doubled;
}

// A rotation by 0 of a 10 x 10 surface at (50, 50): R = 8, so it may touch
// only the square (42, 42)-(58, 58); the source lands unchanged in the middle.
TEST(RotatedBlitTest, ByZeroEqualsAPlainBlitInsideTheRSquare) {
    const Picture background = PatternPicture(100, 100);
    const Picture source = SourcePicture(10, 10);
    FramedTarget target(100, 100);
    target.Load(background);
    TestCanvas canvas(&target.surface);
    OwnedSurface surface(source);
    EXPECT_EQ(CanvasBlitRotated(canvas, 50, 50, 0.0f, surface), 1);
    EXPECT_TRUE(SamePicture(target.Pixels(), Placed(background, source, 45, 45, Rect{42, 42, 58, 58})));
    EXPECT_TRUE(target.FrameIntact());
}

// Odd and even sizes, clipped or not: the rotation by 0 is the plain blit at
// (cx - (w + 1) / 2, cy - (h + 1) / 2).
TEST(RotatedBlitTest, ByZeroPlacesByTheCentreRule) {
    struct Case {
        int32_t width, height, cx, cy;
        Rect clip;
    };
    const Case kCases[] = {{7, 5, 10, 8, {0, 0, 0, 0}}, {6, 4, 3, 2, {0, 0, 0, 0}}, {9, 9, 12, 7, {5, 4, 13, 15}},
                           {1, 1, 0, 0, {0, 0, 0, 0}}};
    for (const Case& c : kCases) {
        const Picture background = PatternPicture(24, 16);
        const Picture source = SourcePicture(c.width, c.height);
        FramedTarget target(24, 16);
        target.Load(background);
        TestCanvas canvas(&target.surface);
        CanvasSetClip(canvas, c.clip);
        OwnedSurface surface(source);
        CanvasBlitRotated(canvas, c.cx, c.cy, 0.0f, surface);
        const Rect area = IsRectEmpty(c.clip) ? Rect{0, 0, 24, 16} : c.clip;
        EXPECT_TRUE(SamePicture(target.Pixels(), Placed(background, source, c.cx - (c.width + 1) / 2,
                                                        c.cy - (c.height + 1) / 2, area)))
            << c.width << " x " << c.height;
        EXPECT_TRUE(target.FrameIntact());
    }
}

// By pi/2 and pi: the source turned a quarter or a half, its centre on
// (cx, cy) (even sizes, so the centre falls between pixels); a keyed source
// leaves the destination under its keyed pixels.
TEST(RotatedBlitTest, QuarterAndHalfTurns) {
    const Picture background = PatternPicture(30, 24);
    Picture source = SourcePicture(6, 4);
    const uint16_t key = source.At(1, 2);
    struct Case {
        float angle;
        bool quarter;
    };
    const Case kCases[] = {{std::numbers::pi_v<float> / 2, true}, {std::numbers::pi_v<float>, false}};
    for (const Case& c : kCases)
        for (int32_t colorKey : {-1, int32_t{key}}) {
            FramedTarget target(30, 24);
            target.Load(background);
            TestCanvas canvas(&target.surface);
            OwnedSurface surface(source, colorKey);
            EXPECT_EQ(CanvasBlitRotated(canvas, 15, 12, c.angle, surface), 1);
            const Picture turned = c.quarter ? QuarterTurned(source) : HalfTurned(source);
            const Picture expected = Placed(background, turned, 15 - turned.width / 2, 12 - turned.height / 2,
                                            Rect{0, 0, 30, 24}, colorKey);
            EXPECT_TRUE(SamePicture(target.Pixels(), expected)) << c.angle << " key " << colorKey;
        }
}

TEST(ScaledBlitTest, OneToOneIsAPlainBlitAndTwoToOneDoublesEachPixel) {
    const Picture background = PatternPicture(30, 20);
    Picture source = SourcePicture(7, 5);
    const uint16_t key = source.At(3, 3);
    for (int32_t colorKey : {-1, int32_t{key}})
        for (const Rect clip : {Rect{0, 0, 0, 0}, Rect{4, 3, 17, 12}}) {
            OwnedSurface surface(source, colorKey);
            const Rect area = IsRectEmpty(clip) ? Rect{0, 0, 30, 20} : clip;
            {
                FramedTarget target(30, 20);
                target.Load(background);
                TestCanvas canvas(&target.surface);
                CanvasSetClip(canvas, clip);
                EXPECT_EQ(CanvasBlitTransformed(canvas, Rect{2, 1, 9, 6}, surface, nullptr), 1);
                EXPECT_TRUE(SamePicture(target.Pixels(), Placed(background, source, 2, 1, area, colorKey)));
            }
            {
                FramedTarget target(30, 20);
                target.Load(background);
                TestCanvas canvas(&target.surface);
                CanvasSetClip(canvas, clip);
                EXPECT_EQ(CanvasBlitTransformed(canvas, Rect{3, 2, 17, 12}, surface, nullptr), 1);
                EXPECT_TRUE(SamePicture(target.Pixels(), Placed(background, Doubled(source), 3, 2, area, colorKey)));
                EXPECT_TRUE(target.FrameIntact());
            }
        }
}

// A destination of zero width or height (a sprite scaled to 0) draws nothing
// and divides by nothing.
TEST(ScaledBlitTest, EmptyDestinationDrawsNothing) {
    FramedTarget target(10, 10, 0x0303);
    TestCanvas canvas(&target.surface);
    OwnedSurface source(SourcePicture(4, 4)), mask(Picture(4, 4, 0xFFFF));
    for (const Rect destination : {Rect{2, 2, 2, 8}, Rect{2, 2, 8, 2}, Rect{8, 8, 2, 2}, Rect{0, 0, 0, 0}}) {
        EXPECT_EQ(CanvasBlitTransformed(canvas, destination, source, nullptr), 1);
        EXPECT_EQ(CanvasBlitTransformedEx(canvas, destination, source, mask, nullptr), 1);
    }
    OwnedSurface emptyScratch(0, 0);
    EXPECT_EQ(CanvasBlitScaledRotated(canvas, 5, 5, 0.3f, source, emptyScratch, nullptr), 1);
    EXPECT_TRUE(SamePicture(target.Pixels(), Picture(10, 10, 0x0303)));
}

// Positions and rectangles at the 32-bit limits keep to the target.
TEST(TransformedBlitTest, ExtremeCoordinatesKeepToTheTarget) {
    FramedTarget target(12, 9);
    TestCanvas canvas(&target.surface);
    OwnedSurface source(SourcePicture(5, 4)), mask(Picture(5, 4, 0xFFFF));
    const Rect wide{kMin, kMin, kMax, kMax};
    EXPECT_EQ(CanvasBlitRotated(canvas, kMax, kMin, 1.0f, source), 1);
    EXPECT_EQ(CanvasBlitRotatedEx(canvas, kMin, kMax, 2.0f, source, mask), 1);
    EXPECT_EQ(CanvasBlitTransformed(canvas, wide, source, nullptr), 1);
    EXPECT_EQ(CanvasBlitTransformed(canvas, Rect{0, 0, 12, 9}, source, &wide), 1);
    EXPECT_EQ(CanvasBlitTransformed(canvas, Rect{kMax - 1, 0, kMax, 1}, source, &wide), 1);
    EXPECT_EQ(CanvasBlitTransformedEx(canvas, wide, source, mask, &wide), 1);
    EXPECT_EQ(CanvasBlitMasked(canvas, kMin, kMin, source, mask, &wide), 1);
    EXPECT_EQ(CanvasBlitMasked(canvas, 2, 2, source, mask, &wide), 1);
    EXPECT_TRUE(target.FrameIntact());
    EXPECT_EQ(CanvasBlitRotated(canvas, 5, 5, std::numeric_limits<float>::quiet_NaN(), source), 0);
    EXPECT_EQ(CanvasBlitRotated(canvas, 5, 5, std::numeric_limits<float>::infinity(), source), 0);
}

// The masked blend of a source through a mask at (x, y), the simple way.
Picture MaskedOnto(Picture target, const Picture& source, const Picture& mask, int64_t x, int64_t y, PixelOperator& op) {
    PixelBuffer* s = CreatePixelBuffer(1, 1);
    PixelBuffer* m = CreatePixelBuffer(1, 1);
    PixelBuffer* d = CreatePixelBuffer(1, 1);
    for (int32_t v = 0; v < std::min(source.height, mask.height); ++v)
        for (int32_t u = 0; u < std::min(source.width, mask.width); ++u) {
            if (x + u < 0 || y + v < 0 || x + u >= target.width || y + v >= target.height) continue;
            *PixelAt(*s, 0, 0) = source.At(u, v);
            *PixelAt(*m, 0, 0) = mask.At(u, v);
            *PixelAt(*d, 0, 0) = target.At(x + u, y + v);
            op.MaskedBlend(*d, Point{0, 0}, *s, *m, Rect{0, 0, 1, 1});
            target.At(x + u, y + v) = *PixelAt(*d, 0, 0);
        }
    delete s;
    delete m;
    delete d;
    return target;
}

struct Tint : PixelFunction {
    uint16_t Apply(uint16_t source, uint16_t destination) override {
        return static_cast<uint16_t>((source & 0xF800) | (destination & 0x07FF));
    }
};

// A mask with every weight 0..31, and a smaller one.
Picture WeightMask(int32_t width, int32_t height) {
    Picture mask(width, height);
    for (int32_t v = 0; v < height; ++v)
        for (int32_t u = 0; u < width; ++u) mask.At(u, v) = static_cast<uint16_t>(((u * 5 + v * 3) % 32) << 6);
    return mask;
}

// The masked blits under each operator equal one masked blend of the plainly
// made picture: the intermediates are never drawn through the operator (an
// alpha operator would blend them with leftover memory, and blend twice).
TEST(MaskedBlitTest, RotatedAndScaledMaskedBlitsBlendOnceThroughTheOperator) {
    const Picture background = PatternPicture(30, 22);
    const Picture source = SourcePicture(8, 6), mask = WeightMask(8, 6);
    AlphaOperator alpha(150);
    Tint tint;
    PixelFunctionOperator function(&tint);
    for (int variant = 0; variant < 3; ++variant) {
        PixelOperator& op = variant == 0 ? static_cast<PixelOperator&>(SharedCopyOperator())
                                         : variant == 1 ? static_cast<PixelOperator&>(alpha) : function;
        const auto setOperator = [&](Canvas* canvas) {
            if (variant == 1) CanvasSetBlend(canvas, 150);
            if (variant == 2) CanvasSetPixelFunction(canvas, &tint);
        };
        OwnedSurface sourceSurface(source), maskSurface(mask);
        {
            FramedTarget target(30, 22);
            target.Load(background);
            TestCanvas canvas(&target.surface);
            setOperator(canvas);
            EXPECT_EQ(CanvasBlitMasked(canvas, 3, 4, sourceSurface, maskSurface, nullptr), 1);
            EXPECT_TRUE(SamePicture(target.Pixels(), MaskedOnto(background, source, mask, 3, 4, op))) << variant;
        }
        {
            FramedTarget target(30, 22);
            target.Load(background);
            TestCanvas canvas(&target.surface);
            setOperator(canvas);
            EXPECT_EQ(CanvasBlitRotatedEx(canvas, 12, 9, 0.0f, sourceSurface, maskSurface), 1);
            EXPECT_TRUE(SamePicture(target.Pixels(), MaskedOnto(background, source, mask, 8, 6, op))) << variant;
        }
        {
            FramedTarget target(30, 22);
            target.Load(background);
            TestCanvas canvas(&target.surface);
            setOperator(canvas);
            EXPECT_EQ(CanvasBlitRotatedEx(canvas, 12, 9, std::numbers::pi_v<float>, sourceSurface, maskSurface), 1);
            EXPECT_TRUE(SamePicture(target.Pixels(),
                                    MaskedOnto(background, HalfTurned(source), HalfTurned(mask), 8, 6, op)))
                << variant;
        }
        {
            FramedTarget target(30, 22);
            target.Load(background);
            TestCanvas canvas(&target.surface);
            setOperator(canvas);
            CanvasSetClip(canvas, Rect{5, 3, 20, 12});
            EXPECT_EQ(CanvasBlitTransformedEx(canvas, Rect{1, 1, 17, 13}, sourceSurface, maskSurface, nullptr), 1);
            Picture expected = MaskedOnto(background, Doubled(source), Doubled(mask), 1, 1, op);
            for (int32_t v = 0; v < 22; ++v)
                for (int32_t u = 0; u < 30; ++u)
                    if (ComputeOutcode(Rect{5, 3, 20, 12}, u, v) != 0) expected.At(u, v) = background.At(u, v);
            EXPECT_TRUE(SamePicture(target.Pixels(), expected)) << variant;
            EXPECT_TRUE(target.FrameIntact());
        }
    }
}

// A source rectangle reaching past the source, or a mask smaller than it,
// is cut to what both hold; nothing is read outside either.
TEST(MaskedBlitTest, SourceRectangleIsCutToTheSourceAndTheMask) {
    const Picture background = PatternPicture(20, 16);
    const Picture source = SourcePicture(9, 7), mask = WeightMask(5, 4);
    OwnedSurface sourceSurface(source), maskSurface(mask);
    FramedTarget target(20, 16);
    target.Load(background);
    TestCanvas canvas(&target.surface);
    const Rect from{-2, -1, 30, 30};
    EXPECT_EQ(CanvasBlitMasked(canvas, 4, 3, sourceSurface, maskSurface, &from), 1);
    EXPECT_TRUE(SamePicture(target.Pixels(), MaskedOnto(background, source, mask, 6, 4, SharedCopyOperator())));
    EXPECT_EQ(CanvasBlitMasked(canvas, 4, 3, sourceSurface, nullptr, nullptr), 0);
}

// The scaled-then-rotated blit keeps the caller's clip, and a scratch surface
// that was keyed before takes the new source's "no key".
TEST(ScaledRotatedBlitTest, KeepsTheClipAndTakesTheSourcesKey) {
    const Picture background = PatternPicture(30, 24);
    Picture source = SourcePicture(6, 4);
    const uint16_t oldKey = source.At(2, 1);
    OwnedSurface sourceSurface(source);
    OwnedSurface scratch(12, 8);
    scratch->colorKey = oldKey;  // left from an earlier keyed source
    FramedTarget target(30, 24);
    target.Load(background);
    TestCanvas canvas(&target.surface);
    CanvasSetClip(canvas, Rect{10, 6, 19, 30});
    EXPECT_EQ(CanvasBlitScaledRotated(canvas, 15, 12, 0.0f, sourceSurface, scratch, nullptr), 1);
    EXPECT_EQ(scratch->colorKey, -1);
    EXPECT_EQ(canvas->clip, (Rect{10, 6, 19, 24}));
    EXPECT_EQ(canvas->target, &target.surface);
    EXPECT_TRUE(SamePicture(target.Pixels(), Placed(background, Doubled(source), 9, 8, Rect{10, 6, 19, 24})));

    // A keyed source: the scratch is cleared to the key and keyed, so only the
    // source's own pixels show.
    OwnedSurface keyedSource(source, oldKey);
    FramedTarget keyed(30, 24);
    keyed.Load(background);
    TestCanvas keyedCanvas(&keyed.surface);
    OwnedSurface bigScratch(16, 10);
    const Rect kWhole{0, 0, 6, 4};
    EXPECT_EQ(CanvasBlitScaledRotated(keyedCanvas, 15, 12, 0.0f, keyedSource, bigScratch, &kWhole), 1);
    EXPECT_EQ(bigScratch->colorKey, oldKey);
    // Sampled at each pixel's centre with steps of (6 << 10) / 16 and
    // (4 << 10) / 10 in 1/1024 pixel.
    Picture scaled(16, 10, oldKey);
    for (int32_t v = 0; v < 10; ++v)
        for (int32_t u = 0; u < 16; ++u) scaled.At(u, v) = source.At((384 * (64 * u + 32)) >> 16, (409 * (64 * v + 32)) >> 16);
    EXPECT_TRUE(SamePicture(bigScratch.Pixels(), scaled));
    EXPECT_TRUE(SamePicture(keyed.Pixels(), Placed(background, scaled, 7, 7, Rect{0, 0, 30, 24}, oldKey)));
}

}  // namespace
}  // namespace qob
