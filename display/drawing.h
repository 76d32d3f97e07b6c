// display/drawing.h
// The canvas drawing calls: clear, rectangles, lines, polygons, circles,
// pixels and the built-in 8 x 16 text. Each keeps to the canvas's area (its
// clip, or the whole target when the clip is empty) and writes through the
// current operator; coordinates anywhere in the 32-bit range are safe.
#pragma once

#include <cstdint>
#include <span>

#include "display/canvas.h"

namespace qob {

// Operator Fill over the whole target buffer, clip or not.
void CanvasClear(Canvas* canvas, uint16_t colour);

void FillRectangle(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour);
void FillRectangleRect(Canvas* canvas, const Rect& rect, uint16_t colour);

// Outline: runs of right - left pixels at top and bottom - 1, and runs of
// bottom - top - 2 pixels down from top + 1 at left and right - 1.
void DrawRectangle(Canvas* canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, uint16_t colour);
void DrawRectangleRect(Canvas* canvas, const Rect& rect, uint16_t colour);

// length pixels rightward (downward) from (x, y), cut to the area.
void DrawHorizontalLine(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour);
void DrawVerticalLine(Canvas* canvas, int32_t x, int32_t y, int32_t length, uint16_t colour);

// A vertical or horizontal line runs from the smaller end and leaves out the
// larger one; any other line is clipped end by end onto the area and drawn
// with both ends.
void DrawLine(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour);
void DrawLineAlias(Canvas* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t colour);

// Lines between consecutive points and one from the first to the last.
void DrawPolygon(Canvas* canvas, std::span<const Point> points, uint16_t colour);

// One point: a pixel; two: a line; more: each row filled between its first
// and its last edge crossing.
void FillPolygon(Canvas* canvas, std::span<const Point> points, uint16_t colour);

// Midpoint circle outline.
void DrawCircle(Canvas* canvas, int32_t cx, int32_t cy, int32_t radius, uint16_t colour);

// The pixel at (x, y) of the target, not limited by the clip; 0 outside the
// target's buffer or without one.
[[nodiscard]] uint16_t GetPixel565(const Canvas* canvas, int32_t x, int32_t y);
void SetPixel565(Canvas* canvas, int32_t x, int32_t y, uint16_t colour);

// Draws each unit of the UTF-16 text as the 8 x 16 glyph at font + 16 x its
// low byte (a unit that stands for an undecodable byte uses that byte), rows
// at y .. y + 15, bit 7 leftmost, advancing x by advance per character. The
// first x by alignment: 0 x, 1 zero, 2 (target width + 1 - 9n) >> 1, 3 target
// width + 1 - 9n (n characters), others zero. The font is 4,096 bytes.
void DrawBuiltinFontText(Canvas* canvas, const uint8_t* font, std::span<const uint16_t> text, int32_t alignment,
                         int32_t x, int32_t y, uint16_t colour, int32_t advance);

}  // namespace qob
