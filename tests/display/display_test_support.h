// tests/display/display_test_support.h
// Drawing targets for the display tests: a target inside a larger buffer of
// sentinel pixels (so writes outside it or into the gaps between its rows
// show), canvases over it, and plain pictures to compare with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "display/canvas.h"
#include "platform/memory.h"

namespace qob::testing {

constexpr uint16_t kSentinel = 0xA5C3;

// A picture of width x height pixels, row by row.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint16_t> pixels;

    Picture(int32_t w, int32_t h, uint16_t fill = 0) : width(w), height(h), pixels(size_t(w) * size_t(h), fill) {}
    uint16_t& At(int64_t x, int64_t y) { return pixels[size_t(y * width + x)]; }
    uint16_t At(int64_t x, int64_t y) const { return pixels[size_t(y * width + x)]; }
    // Ignores positions outside the picture, as a clip would.
    void Set(int64_t x, int64_t y, uint16_t colour) {
        if (x >= 0 && y >= 0 && x < width && y < height) At(x, y) = colour;
    }
    bool operator==(const Picture&) const = default;
};

// Prints where two pictures differ first, for failure messages.
inline ::testing::AssertionResult SamePicture(const Picture& actual, const Picture& expected) {
    if (actual.width != expected.width || actual.height != expected.height)
        return ::testing::AssertionFailure() << "sizes differ";
    int differences = 0;
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    for (int32_t y = 0; y < actual.height; ++y)
        for (int32_t x = 0; x < actual.width; ++x)
            if (actual.At(x, y) != expected.At(x, y) && differences++ < 8)
                failure << "(" << x << ", " << y << "): 0x" << std::hex << actual.At(x, y) << " expected 0x"
                        << expected.At(x, y) << std::dec << "; ";
    if (differences == 0) return ::testing::AssertionSuccess();
    return failure << differences << " pixels differ";
}

// A target of width x height inside a buffer with a margin of sentinels on
// every side; its pitch is the whole buffer's row, so the margins are also
// the gaps between its rows.
class FramedTarget {
public:
    static constexpr int32_t kMargin = 5;

    FramedTarget(int32_t width, int32_t height, uint16_t fill = 0)
        : width(width),
          height(height),
          stride(width + 2 * kMargin),
          storage(size_t(stride) * size_t(height + 2 * kMargin), kSentinel),
          view(width, height, stride * 2, reinterpret_cast<uint8_t*>(&storage[size_t(kMargin * stride + kMargin)]),
               false) {
        surface = PixelSurface{&view, -1, nullptr, 0, false};
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) At(x, y) = fill;
    }
    FramedTarget(const FramedTarget&) = delete;
    FramedTarget& operator=(const FramedTarget&) = delete;

    uint16_t& At(int64_t x, int64_t y) { return storage[size_t((y + kMargin) * stride + x + kMargin)]; }

    void Load(const Picture& picture) {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) At(x, y) = picture.At(x, y);
    }
    Picture Pixels() {
        Picture picture(width, height);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) picture.At(x, y) = At(x, y);
        return picture;
    }
    // True when every pixel outside the target still holds the sentinel.
    bool FrameIntact() const {
        for (int64_t y = 0; y < height + 2 * kMargin; ++y)
            for (int64_t x = 0; x < stride; ++x) {
                const bool inside = x >= kMargin && x < kMargin + width && y >= kMargin && y < kMargin + height;
                if (!inside && storage[size_t(y * stride + x)] != kSentinel) return false;
            }
        return true;
    }

    int32_t width;
    int32_t height;
    int32_t stride;
    std::vector<uint16_t> storage;
    PixelBuffer view;
    PixelSurface surface{};
};

// A canvas made by CreateSurfaceCanvas, destroyed and freed at the end.
class TestCanvas {
public:
    explicit TestCanvas(PixelSurface* surface) : canvas(CreateSurfaceCanvas(surface)) {}
    ~TestCanvas() {
        DestroyCanvas(canvas);
        platform::FreeBlock(canvas);
    }
    TestCanvas(const TestCanvas&) = delete;
    TestCanvas& operator=(const TestCanvas&) = delete;
    Canvas* operator->() const { return canvas; }
    operator Canvas*() const { return canvas; }

    Canvas* canvas;
};

// A surface from NewSurface holding a picture, released and freed at the end.
class OwnedSurface {
public:
    explicit OwnedSurface(const Picture& picture, int32_t key = -1)
        : surface(NewSurface(picture.width, picture.height)) {
        for (int32_t y = 0; y < picture.height; ++y)
            for (int32_t x = 0; x < picture.width; ++x) *PixelAt(*surface->buffer, x, y) = picture.At(x, y);
        surface->colorKey = key;
    }
    OwnedSurface(int32_t width, int32_t height) : surface(NewSurface(width, height)) {}
    ~OwnedSurface() {
        SurfaceRelease(surface);
        platform::FreeBlock(surface);
    }
    OwnedSurface(const OwnedSurface&) = delete;
    OwnedSurface& operator=(const OwnedSurface&) = delete;
    PixelSurface* operator->() const { return surface; }
    operator PixelSurface*() const { return surface; }
    Picture Pixels() const {
        Picture picture(surface->buffer->width, surface->buffer->height);
        for (int32_t y = 0; y < picture.height; ++y)
            for (int32_t x = 0; x < picture.width; ++x) picture.At(x, y) = *PixelAt(*surface->buffer, x, y);
        return picture;
    }

    PixelSurface* surface;
};

// A picture whose pixels all differ from their neighbours and all have the
// top bit set (so no test colour without it equals one of them).
inline Picture PatternPicture(int32_t width, int32_t height, uint16_t seed = 0) {
    Picture picture(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            picture.At(x, y) = static_cast<uint16_t>(0x8000 | ((x * 37 + y * 101 + seed * 7) & 0x7FFF));
    return picture;
}

// The same without the top bit: source pictures never match a background.
inline Picture SourcePicture(int32_t width, int32_t height, uint16_t seed = 0) {
    Picture picture = PatternPicture(width, height, seed);
    for (uint16_t& pixel : picture.pixels) pixel &= 0x7FFF;
    return picture;
}

}  // namespace qob::testing
