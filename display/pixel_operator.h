// display/pixel_operator.h
// The pixel operator interface through which a canvas writes every pixel, the
// caller-supplied pixel function, and the fixed-point transform block.
#pragma once

#include <cstdint>

#include "display/pixel_buffer.h"
#include "display/rect.h"

namespace qob {

// A colour rule of the caller's (the game engine's colour effect): the pixel
// to store for a source colour written over a destination colour.
class PixelFunction {
public:
    virtual ~PixelFunction() = default;
    virtual uint16_t Apply(uint16_t source, uint16_t destination) = 0;
};

// Maps a destination pixel centre (X, Y), in 1/64 pixel (X = 64 x column + 32,
// Y = 64 x row + 32), to a source pixel:
//   source column = (a x X + c x Y + e) >> 16, source row = (b x X + d x Y + f) >> 16
// a..d are in 1/1024 pixel, e and f in 1/65536. The words are 128-bit so that
// coordinates and scales anywhere in the 32-bit range never overflow.
struct TransformBlock {
    __int128 a, b, c, d, e, f;
};

// Every slot writes colour c over pixel p by the operator's rule (copy:
// p = c; alpha: p = Blend(c, p, level); function: p = Apply(c, p)); for the
// copying slots c is the source pixel. Operators do no clipping: the canvas
// functions hand them positions inside the buffers. Rectangles are
// {left, top, right, bottom}, right and bottom exclusive.
class PixelOperator {
public:
    virtual ~PixelOperator() = default;

    // The source rectangle, row by row, to the destination point.
    virtual void CopyRect(PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect) = 0;
    // The same, skipping source pixels equal to the key.
    virtual void CopyRectKeyed(PixelBuffer& destination, Point point, const PixelBuffer& source,
                               const Rect& sourceRect, uint16_t key) = 0;
    // Each pixel of the destination rectangle from the source pixel the
    // transform gives; pixels whose source lies outside the source buffer are
    // left alone.
    virtual void CopyTransformed(PixelBuffer& destination, const Rect& destinationRect, const TransformBlock& transform,
                                 const PixelBuffer& source) = 0;
    virtual void CopyTransformedKeyed(PixelBuffer& destination, const Rect& destinationRect,
                                      const TransformBlock& transform, const PixelBuffer& source, uint16_t key) = 0;
    // Midpoint circle outline, each point tested against the clip.
    virtual void CircleClipped(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour,
                               const Rect& clip) = 0;
    // The same without tests: every point lies inside the buffer.
    virtual void Circle(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour) = 0;
    // Every pixel of the buffer.
    virtual void Fill(PixelBuffer& buffer, uint16_t colour) = 0;
    virtual void FillRect(PixelBuffer& buffer, const Rect& rect, uint16_t colour) = 0;
    // count pixels rightward from start.
    virtual void HorizontalRun(PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) = 0;
    // The line between both points, both ends drawn.
    virtual void Line(PixelBuffer& buffer, Point from, Point to, uint16_t colour) = 0;
    virtual void SetPixel(PixelBuffer& buffer, Point point, uint16_t colour) = 0;
    // lastOffset + 1 pixels downward from start; nothing when lastOffset < 0.
    virtual void VerticalRun(PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) = 0;
    // The source rectangle blended onto the destination point by the mask
    // pixel at the same column and row as each source pixel.
    virtual void MaskedBlend(PixelBuffer& destination, Point point, const PixelBuffer& source, const PixelBuffer& mask,
                             const Rect& sourceRect) = 0;
};

}  // namespace qob
