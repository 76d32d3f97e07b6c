// tests/platform/gdi/gdi_test_support.h
// A surface filled with a known pattern and a DC drawing into it, for the
// drawing layer's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gdi.h"

namespace qob::platform::testing {

// A pattern no drawing call produces by chance: each pixel its own value.
inline uint32_t PatternPixel(int x, int y) { return (static_cast<uint32_t>(x * 7919 + y * 104729) * 2654435761u) & 0xFFFFFF; }

struct TestSurface {
    std::vector<uint32_t> pixels;
    Surface32 surface;

    TestSurface(int width, int height, int stride = 0) {
        if (stride == 0) stride = width;
        pixels.resize(static_cast<size_t>(stride) * height);
        surface = {pixels.data(), width, height, stride};
        FillPattern();
    }
    TestSurface(const TestSurface&) = delete;
    TestSurface& operator=(const TestSurface&) = delete;

    void FillPattern() {
        for (int y = 0; y < surface.height; ++y)
            for (int x = 0; x < surface.stride; ++x) At(x, y) = PatternPixel(x, y);
    }

    uint32_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * surface.stride + x]; }
};

// A target DC over a test surface, deleted with the object.
struct TestDC {
    HDC dc;

    TestDC(TestSurface& target, POINT origin = {0, 0}) : TestDC(target, origin, {0, 0, target.surface.width, target.surface.height}) {}
    TestDC(TestSurface& target, POINT origin, RECT clip) {
        dc = CreateTargetDC(DrawTarget{&target.surface, origin, clip});
    }
    ~TestDC() { DeleteTargetDC(dc); }
    TestDC(const TestDC&) = delete;
    TestDC& operator=(const TestDC&) = delete;
};

inline bool Inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

}  // namespace qob::platform::testing
