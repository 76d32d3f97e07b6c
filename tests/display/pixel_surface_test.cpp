// tests/display/pixel_surface_test.cpp
// Pixel buffers and surfaces: the pitch rule, refused sizes, release, clone,
// lock; and the rectangle helpers.
#include "display/pixel_surface.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "display/canvas.h"
#include "display/rect.h"
#include "display_test_support.h"
#include "platform/memory.h"

namespace qob {
namespace {

using testing::OwnedSurface;
using testing::Picture;
using testing::SourcePicture;

TEST(PixelBufferTest, PitchIsTwoBytesAPixelRoundedUpToFour) {
    struct Case {
        int32_t width, pitch;
    };
    constexpr Case kCases[] = {{0, 0}, {1, 4}, {2, 4}, {3, 8}, {4, 8}, {5, 12}, {240, 480}, {241, 484}};
    for (const Case& c : kCases) {
        PixelBuffer* buffer = CreatePixelBuffer(c.width, 2);
        ASSERT_NE(buffer, nullptr) << c.width;
        EXPECT_EQ(buffer->pitch, c.pitch) << c.width;
        EXPECT_EQ(buffer->width, c.width);
        EXPECT_EQ(buffer->height, 2);
        EXPECT_TRUE(buffer->ownsBits);
        EXPECT_EQ(platform::GetBlockSize(buffer->bits), size_t(c.pitch) * 2) << c.width;
        EXPECT_LT(reinterpret_cast<uintptr_t>(buffer->bits), platform::kLowMemoryLimit);
        EXPECT_LT(reinterpret_cast<uintptr_t>(buffer), platform::kLowMemoryLimit);
        delete buffer;
    }
}

// Sizes from scripts and image headers: a negative side, or a pitch x height
// that would wrap 32 bits, gives no buffer instead of a small one.
TEST(PixelBufferTest, NegativeAndOversizedSizesGiveNoBuffer) {
    struct Case {
        int32_t width, height;
    };
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr Case kRefused[] = {{-1, 10},     {10, -1},          {kMax, 1}, {1, kMax}, {65536, 65536},
                                 {46341, 46341}, {kMax, 0},       {std::numeric_limits<int32_t>::min(), 1},
                                 {16385, 8193}};
    for (const Case& c : kRefused) {
        EXPECT_EQ(CreatePixelBuffer(c.width, c.height), nullptr) << c.width << " x " << c.height;
        EXPECT_EQ(NewSurface(c.width, c.height), nullptr) << c.width << " x " << c.height;
        PixelSurface record;
        EXPECT_EQ(SurfaceInit(&record, c.width, c.height), &record);
        EXPECT_EQ(record.buffer, nullptr);
    }
    // Zero sides stay allowed, and the cap itself still fits.
    constexpr Case kAllowed[] = {{0, 0}, {0, 100}, {100, 0}, {8192, 16384}};
    for (const Case& c : kAllowed) {
        PixelBuffer* buffer = CreatePixelBuffer(c.width, c.height);
        EXPECT_NE(buffer, nullptr) << c.width << " x " << c.height;
        delete buffer;
    }
}

TEST(PixelSurfaceTest, NewSurfaceHasNoKeyAndItsRecordLivesInLowMemory) {
    PixelSurface* surface = NewSurface(3, 2);
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(platform::IsLiveBlock(surface));
    EXPECT_LT(reinterpret_cast<uintptr_t>(surface), platform::kLowMemoryLimit);
    EXPECT_EQ(surface->colorKey, -1);
    EXPECT_EQ(surface->savedBuffer, nullptr);
    EXPECT_EQ(surface->dc, 0u);
    uint8_t* bits = surface->buffer->bits;
    SurfaceRelease(surface);
    EXPECT_EQ(surface->buffer, nullptr);
    EXPECT_FALSE(platform::IsLiveBlock(bits));
    platform::FreeBlock(surface);
}

TEST(PixelSurfaceTest, ReleaseLeavesABufferTheSurfaceDoesNotOwn) {
    PixelBuffer* buffer = CreatePixelBuffer(4, 4);
    PixelSurface wrapper;
    SurfaceInitFromBuffer(&wrapper, buffer);
    wrapper.ownsBuffer = false;
    SurfaceRelease(&wrapper);
    EXPECT_EQ(wrapper.buffer, nullptr);
    EXPECT_TRUE(platform::IsLiveBlock(buffer->bits));
    delete buffer;
}

// A keyed surface's clone holds every pixel, key-coloured ones included, and
// keeps the key: copying through a keyed blit would leave the new buffer's
// uncleared bytes where the source is transparent.
TEST(PixelSurfaceTest, CloneCopiesEveryPixelAndTheKey) {
    Picture picture = SourcePicture(7, 5);
    const uint16_t key = picture.At(2, 3);
    picture.At(0, 0) = key;
    picture.At(6, 4) = key;
    for (int32_t colorKey : {-1, int32_t{key}}) {
        OwnedSurface source(picture, colorKey);
        PixelSurface* clone = SurfaceClone(source);
        ASSERT_NE(clone, nullptr);
        EXPECT_NE(clone->buffer, source->buffer);
        EXPECT_EQ(clone->colorKey, colorKey);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(*PixelAt(*clone->buffer, x, y), picture.At(x, y)) << x << "," << y;
        SurfaceRelease(clone);
        platform::FreeBlock(clone);
    }
    PixelSurface empty{nullptr, -1, nullptr, 0, true};
    EXPECT_EQ(SurfaceClone(&empty), nullptr);
    EXPECT_EQ(SurfaceClone(nullptr), nullptr);
}

TEST(PixelSurfaceTest, LockGivesThePitchAndThePixelAddress) {
    OwnedSurface surface(5, 4);
    SurfaceLockRecord record{};
    EXPECT_EQ(SurfaceLock(surface, record, nullptr), 1);
    EXPECT_EQ(record.pitch, 12);
    EXPECT_EQ(record.address, reinterpret_cast<uintptr_t>(surface->buffer->bits));
    const Point point{3, 2};
    EXPECT_EQ(SurfaceLock(surface, record, &point), 1);
    EXPECT_EQ(record.address, reinterpret_cast<uintptr_t>(surface->buffer->bits) + 2 * 12 + 2 * 3);
    EXPECT_EQ(SurfaceUnlock(surface), 1);

    PixelSurface bufferless{nullptr, -1, nullptr, 0, true};
    EXPECT_EQ(SurfaceLock(&bufferless, record, nullptr), 0);
    EXPECT_EQ(record.address, 0u);
    EXPECT_EQ(record.pitch, 0);
}

TEST(RectTest, IntersectUnionAndIncludePoint) {
    Rect rect{0, 0, 10, 10};
    RectIntersect(rect, Rect{5, -5, 20, 3});
    EXPECT_EQ(rect, (Rect{5, 0, 10, 3}));
    RectIntersect(rect, Rect{20, 20, 30, 30});
    EXPECT_EQ(rect, (Rect{20, 20, 10, 3}));  // empty, not normalised
    EXPECT_TRUE(IsRectEmpty(rect));

    rect = Rect{0, 0, 2, 2};
    RectUnion(rect, Rect{-3, 1, 1, 9});
    EXPECT_EQ(rect, (Rect{-3, 0, 2, 9}));

    rect = Rect{0, 0, 2, 2};
    RectIncludePoint(rect, Point{2, 5});
    EXPECT_EQ(rect, (Rect{0, 0, 3, 6}));
    RectIncludePoint(rect, Point{-4, 1});
    EXPECT_EQ(rect, (Rect{-4, 0, 3, 6}));
    RectIncludePoint(rect, Point{1, 1});
    EXPECT_EQ(rect, (Rect{-4, 0, 3, 6}));
}

TEST(RectTest, OutcodeBits) {
    const Rect clip{10, 20, 30, 40};
    EXPECT_EQ(ComputeOutcode(clip, 10, 20), 0);
    EXPECT_EQ(ComputeOutcode(clip, 29, 39), 0);
    EXPECT_EQ(ComputeOutcode(clip, 9, 25), kOutcodeLeft);
    EXPECT_EQ(ComputeOutcode(clip, 30, 25), kOutcodeRight);
    EXPECT_EQ(ComputeOutcode(clip, 15, 19), kOutcodeTop);
    EXPECT_EQ(ComputeOutcode(clip, 15, 40), kOutcodeBottom);
    EXPECT_EQ(ComputeOutcode(clip, 0, 100), kOutcodeLeft | kOutcodeBottom);
}

}  // namespace
}  // namespace qob
