// display/drawing.cpp
// The canvas drawing calls. Positions are worked out in 64 bits (products of
// two differences in 128), so that nothing overflows before the clip.
#include "display/drawing.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "platform/text_codec.h"

namespace qob {
namespace {

// The operator, buffer and area of a canvas that can be drawn into.
struct Drawing {
    PixelOperator* op;
    PixelBuffer* buffer;
    Rect area;
};

bool BeginDrawing(const Canvas* canvas, Drawing& drawing) {
    if (!GetCanvasArea(canvas, drawing.buffer, drawing.area)) return false;
    drawing.op = canvas->currentOperator;
    return true;
}

void DrawHorizontalRun(Canvas* canvas, int64_t x, int64_t y, int64_t length, uint16_t colour) {
    Drawing d;
    if (!BeginDrawing(canvas, d) || y < d.area.top || y >= d.area.bottom) return;
    const int64_t left = std::max<int64_t>(x, d.area.left), right = std::min<int64_t>(x + length, d.area.right);
    if (right - left < 1) return;
    d.op->HorizontalRun(*d.buffer, Point{static_cast<int32_t>(left), static_cast<int32_t>(y)},
                        static_cast<int32_t>(right - left), colour);
}

void DrawVerticalRun(Canvas* canvas, int64_t x, int64_t y, int64_t length, uint16_t colour) {
    Drawing d;
    if (!BeginDrawing(canvas, d) || x < d.area.left || x >= d.area.right) return;
    const int64_t top = std::max<int64_t>(y, d.area.top), bottom = std::min<int64_t>(y + length, d.area.bottom);
    if (bottom - top < 1) return;
    d.op->VerticalRun(*d.buffer, Point{static_cast<int32_t>(x), static_cast<int32_t>(top)},
                      static_cast<int32_t>(bottom - top - 1), colour);
}

void PlotPixel(Canvas* canvas, int64_t x, int64_t y, uint16_t colour) {
    Drawing d;
    if (!BeginDrawing(canvas, d) || ComputeOutcode(d.area, x, y) != 0) return;
    d.op->SetPixel(*d.buffer, Point{static_cast<int32_t>(x), static_cast<int32_t>(y)}, colour);
}

// A point of the line as a fraction t = numerator / denominator (> 0) of the
// way from the first end to the second.
struct LineParameter {
    __int128 numerator;
    __int128 denominator;
};

bool IsBefore(const LineParameter& a, const LineParameter& b) {
    return a.numerator * b.denominator < b.numerator * a.denominator;
}

// Narrows [enter, leave] by the constraint p x t <= q.
bool ApplyConstraint(int64_t p, int64_t q, LineParameter& enter, LineParameter& leave) {
    if (p == 0) return q >= 0;
    const LineParameter bound = p < 0 ? LineParameter{-__int128{q}, -__int128{p}} : LineParameter{q, p};
    if (p < 0) {
        if (IsBefore(enter, bound)) enter = bound;
    } else if (IsBefore(bound, leave)) {
        leave = bound;
    }
    return !IsBefore(leave, enter);
}

// start + delta x t, rounded to the nearest pixel (halves away from the start).
int64_t PointAt(int64_t start, int64_t delta, const LineParameter& t) {
    const __int128 product = __int128{delta} * t.numerator;
    const __int128 half = t.denominator / 2;
    const __int128 step = product >= 0 ? (product + half) / t.denominator : -((-product + half) / t.denominator);
    return start + static_cast<int64_t>(step);
}

// Cuts the line to the part whose pixel centres lie in the clip, one edge
// at a time (left, right, top, bottom). Both new ends are computed from the
// original ends with 128-bit products and rounded to the nearest pixel, so
// they lie inside the clip and within half a pixel of the line; computing an
// end from the other, already rounded one would let the errors add up to
// nearly two pixels. False when the line misses the clip.
bool ClipLine(const Rect& clip, int64_t& x1, int64_t& y1, int64_t& x2, int64_t& y2) {
    const int64_t dx = x2 - x1, dy = y2 - y1;
    LineParameter enter{0, 1}, leave{1, 1};
    if (!ApplyConstraint(-dx, x1 - clip.left, enter, leave) ||
        !ApplyConstraint(dx, int64_t{clip.right} - 1 - x1, enter, leave) ||
        !ApplyConstraint(-dy, y1 - clip.top, enter, leave) ||
        !ApplyConstraint(dy, int64_t{clip.bottom} - 1 - y1, enter, leave))
        return false;
    const int64_t startX = x1, startY = y1;
    x1 = PointAt(startX, dx, enter), y1 = PointAt(startY, dy, enter);
    x2 = PointAt(startX, dx, leave), y2 = PointAt(startY, dy, leave);
    return true;
}

void DrawAnyLine(Canvas* canvas, int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint16_t colour) {
    if (x1 == x2) return DrawVerticalRun(canvas, x1, std::min(y1, y2), y1 > y2 ? y1 - y2 : y2 - y1, colour);
    if (y1 == y2) return DrawHorizontalRun(canvas, std::min(x1, x2), y1, x1 > x2 ? x1 - x2 : x2 - x1, colour);
    Drawing d;
    if (!BeginDrawing(canvas, d)) return;
    const bool inside = ComputeOutcode(d.area, x1, y1) == 0 && ComputeOutcode(d.area, x2, y2) == 0;
    if (!inside && !ClipLine(d.area, x1, y1, x2, y2)) return;
    d.op->Line(*d.buffer, Point{static_cast<int32_t>(x1), static_cast<int32_t>(y1)},
               Point{static_cast<int32_t>(x2), static_cast<int32_t>(y2)}, colour);
}

// The glyph of a UTF-16 unit: its low byte, or the byte an escape unit stands
// for (a byte that was no valid UTF-8).
uint8_t GlyphIndex(uint16_t unit) {
    if (unit >= platform::kEscapeBase + 0x80 && unit <= platform::kEscapeBase + 0xFF)
        return static_cast<uint8_t>(unit - platform::kEscapeBase);
    return static_cast<uint8_t>(unit & 0xFF);
}

}  // namespace

void CanvasClear(Canvas* canvas, uint16_t colour) {
    if (canvas == nullptr || canvas->target == nullptr || canvas->target->buffer == nullptr) return;
    canvas->currentOperator->Fill(*canvas->target->buffer, colour);
}

void FillRectangle(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour) {
    Drawing d;
    if (!BeginDrawing(canvas, d)) return;
    Rect rect{left, top, right, bottom};
    RectIntersect(rect, d.area);
    if (!IsRectEmpty(rect)) d.op->FillRect(*d.buffer, rect, colour);
}

void FillRectangleRect(Canvas* canvas, const Rect& rect, uint16_t colour) {
    FillRectangle(canvas, rect.left, rect.top, rect.right, rect.bottom, colour);
}

void DrawRectangle(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour) {
    const int64_t width = int64_t{right} - left, height = int64_t{bottom} - top;
    DrawHorizontalRun(canvas, left, top, width, colour);
    DrawHorizontalRun(canvas, left, int64_t{bottom} - 1, width, colour);
    DrawVerticalRun(canvas, left, int64_t{top} + 1, height - 2, colour);
    DrawVerticalRun(canvas, int64_t{right} - 1, int64_t{top} + 1, height - 2, colour);
}

void DrawRectangleRect(Canvas* canvas, const Rect& rect, uint16_t colour) {
    DrawRectangle(canvas, rect.left, rect.top, rect.right, rect.bottom, colour);
}

void DrawHorizontalLine(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour) {
    DrawHorizontalRun(canvas, x, y, length, colour);
}

void DrawVerticalLine(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour) {
    DrawVerticalRun(canvas, x, y, length, colour);
}

void DrawLine(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour) {
    DrawAnyLine(canvas, x1, y1, x2, y2, colour);
}

void DrawLineAlias(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour) {
    DrawLine(canvas, x1, y1, x2, y2, colour);
}

void DrawPolygon(Canvas* canvas, std::span<const Point> points, uint16_t colour) {
    if (points.empty()) return;
    for (size_t i = 1; i < points.size(); ++i)
        DrawLine(canvas, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, colour);
    DrawLine(canvas, points.front().x, points.front().y, points.back().x, points.back().y, colour);
}

// Scan-line fill: per row of the target the first crossing goes to A and any
// later one to B; each row with a crossing is drawn from A to B (to A alone
// when B is unset). Rows outside the target are never visited, and x is
// worked out in 64 bits.
void FillPolygon(Canvas* canvas, std::span<const Point> points, uint16_t colour) {
    if (points.empty()) return;
    if (points.size() == 1) return SetPixel565(canvas, points[0].x, points[0].y, colour);
    if (points.size() == 2) return DrawLine(canvas, points[0].x, points[0].y, points[1].x, points[1].y, colour);
    Drawing d;
    if (!BeginDrawing(canvas, d)) return;
    const int64_t height = d.buffer->height;
    constexpr int64_t kUnset = std::numeric_limits<int64_t>::min();
    std::unique_ptr<int64_t[]> first(new (std::nothrow) int64_t[height]);
    std::unique_ptr<int64_t[]> last(new (std::nothrow) int64_t[height]);
    if (!first || !last) return;
    std::fill_n(first.get(), height, kUnset);
    std::fill_n(last.get(), height, kUnset);

    int64_t top = std::numeric_limits<int64_t>::max(), bottom = std::numeric_limits<int64_t>::min();
    for (size_t i = 0; i < points.size(); ++i) {
        Point upper = points[i], lower = points[(i + 1) % points.size()];
        if (upper.y == lower.y) continue;
        if (upper.y > lower.y) std::swap(upper, lower);
        const int64_t xa = upper.x, ya = upper.y, xb = lower.x, yb = lower.y;
        const int64_t slope = (xb - xa) * 256 / (yb - ya);
        top = std::min(top, ya);
        bottom = std::max(bottom, yb);
        for (int64_t row = std::max<int64_t>(ya + 1, 0); row <= std::min(yb, height - 1); ++row) {
            const int64_t x = (xa * 256 + slope * (row - ya)) >> 8;
            (first[row] == kUnset ? first[row] : last[row]) = x;
        }
    }
    for (int64_t row = std::max<int64_t>(top, 0); row < std::min(bottom, height); ++row)
        if (first[row] != kUnset) DrawAnyLine(canvas, first[row], row, last[row] != kUnset ? last[row] : first[row], row, colour);
}

// Wholly outside the area: nothing; wholly inside: the unclipped circle; else
// every point tested. Right and bottom are exclusive.
void DrawCircle(Canvas* canvas, int32_t cx, int32_t cy, int32_t radius, uint16_t colour) {
    Drawing d;
    if (radius < 0 || !BeginDrawing(canvas, d)) return;
    const int64_t left = int64_t{cx} - radius, right = int64_t{cx} + radius;
    const int64_t top = int64_t{cy} - radius, bottom = int64_t{cy} + radius;
    if (right < d.area.left || left >= d.area.right || bottom < d.area.top || top >= d.area.bottom) return;
    if (left >= d.area.left && right < d.area.right && top >= d.area.top && bottom < d.area.bottom)
        d.op->Circle(*d.buffer, Point{cx, cy}, radius, colour);
    else
        d.op->CircleClipped(*d.buffer, Point{cx, cy}, radius, colour, d.area);
}

uint16_t GetPixel565(const Canvas* canvas, int32_t x, int32_t y) {
    if (canvas == nullptr || canvas->target == nullptr || canvas->target->buffer == nullptr) return 0;
    const PixelBuffer& buffer = *canvas->target->buffer;
    if (x < 0 || y < 0 || x >= buffer.width || y >= buffer.height) return 0;
    return *PixelAt(buffer, x, y);
}

void SetPixel565(Canvas* canvas, int32_t x, int32_t y, uint16_t colour) { PlotPixel(canvas, x, y, colour); }

void DrawBuiltinFontText(Canvas* canvas, const uint8_t* font, std::span<const uint16_t> text, int32_t alignment,
                         int32_t x, int32_t y, uint16_t colour, int32_t advance) {
    Drawing d;
    if (font == nullptr || text.empty() || !BeginDrawing(canvas, d)) return;
    const int64_t spare = int64_t{d.buffer->width} + 1 - 9 * static_cast<int64_t>(text.size());
    int64_t left = alignment == 0 ? x : alignment == 2 ? spare >> 1 : alignment == 3 ? spare : 0;
    for (uint16_t unit : text) {
        const uint8_t* glyph = font + 16 * GlyphIndex(unit);
        for (int64_t row = 0; row < 16; ++row)
            for (int64_t bit = 0; bit < 8; ++bit)
                if (glyph[row] & (0x80 >> bit)) PlotPixel(canvas, left + bit, y + row, colour);
        left += advance;
    }
}

}  // namespace qob
