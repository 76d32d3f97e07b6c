// display/rect.cpp
// Rectangle intersection, union and growth.
#include "display/rect.h"

#include <algorithm>
#include <limits>

namespace qob {

void RectIntersect(Rect& rect, const Rect& other) {
    rect.left = std::max(rect.left, other.left);
    rect.top = std::max(rect.top, other.top);
    rect.right = std::min(rect.right, other.right);
    rect.bottom = std::min(rect.bottom, other.bottom);
}

void RectUnion(Rect& rect, const Rect& other) {
    rect.left = std::min(rect.left, other.left);
    rect.top = std::min(rect.top, other.top);
    rect.right = std::max(rect.right, other.right);
    rect.bottom = std::max(rect.bottom, other.bottom);
}

// A point at the largest coordinate cannot be followed by an exclusive edge;
// the edge then stays at that largest value.
void RectIncludePoint(Rect& rect, const Point& point) {
    constexpr int32_t kLargest = std::numeric_limits<int32_t>::max();
    rect.left = std::min(rect.left, point.x);
    rect.top = std::min(rect.top, point.y);
    if (point.x >= rect.right) rect.right = point.x == kLargest ? kLargest : point.x + 1;
    if (point.y >= rect.bottom) rect.bottom = point.y == kLargest ? kLargest : point.y + 1;
}

}  // namespace qob
