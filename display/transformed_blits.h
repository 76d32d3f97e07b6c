// display/transformed_blits.h
// Blits that scale, rotate or blend through a mask. Each keeps to the
// canvas's area and draws its final pixels through the current operator; the
// intermediate surfaces are always filled and copied plainly.
#pragma once

#include <cstdint>

#include "display/canvas.h"

namespace qob {

// Results: 1 when drawn or clipped away entirely; 0 when nothing could be
// drawn because the canvas, target, a surface or a buffer is missing, the
// angle is not finite, or a temporary surface could not be made.

// The source turned by angle (radians, counter-clockwise on screen) about
// its centre and drawn centred on (cx, cy), keyed when the source has a key.
int CanvasBlitRotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const PixelSurface* source);

// The source rectangle scaled plainly onto the whole scratch surface (first
// cleared to the source's key when it has one; the scratch takes the
// source's key, -1 for none), then the scratch rotated as CanvasBlitRotated.
int CanvasBlitScaledRotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const PixelSurface* source,
                            PixelSurface* scratch, const Rect* sourceRect);

// The source rectangle (null: the whole source) scaled onto the destination
// rectangle, keyed when the source has a key. An empty destination draws
// nothing.
int CanvasBlitTransformed(Canvas* canvas, const Rect& destination, const PixelSurface* source, const Rect* sourceRect);

// As CanvasBlit, through the operator's masked blend with the mask surface
// (read at the source pixel's position; cut to both surfaces' bounds).
int CanvasBlitMasked(Canvas* canvas, int32_t x, int32_t y, const PixelSurface* source, const PixelSurface* mask,
                     const Rect* sourceRect);

// The source and the mask turned as by CanvasBlitRotated (both mapped by the
// source's size, without keys), then blended onto the target.
int CanvasBlitRotatedEx(Canvas* canvas, int32_t cx, int32_t cy, float angle, const PixelSurface* source,
                        const PixelSurface* mask);

// The source rectangle and the same rectangle of the mask scaled onto the
// destination, then blended onto the target.
int CanvasBlitTransformedEx(Canvas* canvas, const Rect& destination, const PixelSurface* source,
                            const PixelSurface* mask, const Rect* sourceRect);

}  // namespace qob
