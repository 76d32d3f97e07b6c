// platform/surface.h
// The window layer's drawing surfaces (32-bit RGB, one per top-level window
// and one for the screen) and the shared geometry types of the window layer.
#pragma once

#include <cstdint>

namespace qob::platform {

struct POINT {
    int32_t x;
    int32_t y;
};

struct SIZE {
    int32_t cx;
    int32_t cy;
};

// Right and bottom are exclusive.
struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// 0x00BBGGRR; the flag 0x40000000 marks a system colour index in the low byte.
using COLORREF = uint32_t;

// Pixels are 0x00RRGGBB words, rows `stride` words apart.
struct Surface32 {
    uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;  // in pixels
};

// Where a device context draws: a surface, the surface point that is the DC's
// (0, 0), and the rectangle of the surface it may touch (a window's client or
// whole area, clipped to its parents and to the surface).
struct DrawTarget {
    Surface32* surface = nullptr;
    POINT origin{0, 0};
    RECT clip{0, 0, 0, 0};
};

}  // namespace qob::platform
