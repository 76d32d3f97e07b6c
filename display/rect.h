// display/rect.h
// Rectangles and points of the display library, and the outcode that line
// clipping tests points with.
#pragma once

#include <cstdint>

namespace qob {

// {left, top, right, bottom}; right and bottom are exclusive. A rectangle
// whose right <= left or bottom <= top is empty.
struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    bool operator==(const Rect&) const = default;
};

struct Point {
    int32_t x;
    int32_t y;
    bool operator==(const Point&) const = default;
};

[[nodiscard]] constexpr bool IsRectEmpty(const Rect& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

// rect := the common part of both: the larger left and top, the smaller right
// and bottom. An empty result is kept as it falls (not normalised).
void RectIntersect(Rect& rect, const Rect& other);

// rect := the smallest rectangle that holds both.
void RectUnion(Rect& rect, const Rect& other);

// Grows rect so that it holds the pixel at point: right and bottom become the
// point + 1 where the point lies on or beyond them.
void RectIncludePoint(Rect& rect, const Point& point);

// Outcode bits of a point against a clip rectangle.
constexpr int kOutcodeLeft = 1;    // x < left
constexpr int kOutcodeRight = 2;   // x >= right
constexpr int kOutcodeTop = 4;     // y < top
constexpr int kOutcodeBottom = 8;  // y >= bottom

// The outcode of (x, y); 0 when the point lies inside the clip. Takes 64-bit
// coordinates so that points computed on the way need no narrowing.
[[nodiscard]] constexpr int ComputeOutcode(const Rect& clip, int64_t x, int64_t y) {
    int code = 0;
    if (x < clip.left) code |= kOutcodeLeft;
    if (x >= clip.right) code |= kOutcodeRight;
    if (y < clip.top) code |= kOutcodeTop;
    if (y >= clip.bottom) code |= kOutcodeBottom;
    return code;
}

}  // namespace qob
