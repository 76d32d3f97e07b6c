// display/canvas.h
// Canvases: a target surface, a clip rectangle and the current pixel operator
// through which every drawing call writes; and the basic blit.
#pragma once

#include <cstdint>

#include "display/pixel_operator.h"
#include "display/pixel_operators.h"
#include "display/pixel_surface.h"
#include "display/rect.h"

namespace qob {

struct DisplayCanvas;

// An empty clip (right <= left or bottom <= top) means no clip: drawing then
// keeps to the target's bounds only. Every call keeps to the target's buffer
// in any case, and draws nothing while the target or its buffer is missing.
struct Canvas {
    PixelSurface* target;              // not owned
    Rect clip;
    PixelOperator* currentOperator;    // at first the shared copy operator
    AlphaOperator* alphaOperator;      // the canvas's own, made on first use
    PixelFunctionOperator* functionOperator;  // the canvas's own, made on first use
    DisplayCanvas* display;            // the rest of a display canvas; null for a surface canvas
};

// A canvas record from low memory drawing into the surface (clip: the whole
// surface); null for a null surface or when memory ran out. Destroy it with
// DestroyCanvas, then free the record with platform::FreeBlock.
[[nodiscard]] Canvas* CreateSurfaceCanvas(PixelSurface* surface);

// Deletes the canvas's own operators, and of a display canvas the display
// (see ReleaseDisplayCanvas); the record is the caller's to free.
void DestroyCanvas(Canvas* canvas);

// Sets the target and resets the clip to the whole of its buffer (empty for a
// null surface or one without a buffer). Returns the previous target.
PixelSurface* CanvasSetTarget(Canvas* canvas, PixelSurface* surface);

// A target with its clip, as saved by CanvasSwapTarget.
struct CanvasTargetState {
    PixelSurface* target;
    Rect clip;
};

// Sets a new target (clip reset, as CanvasSetTarget) and returns the previous
// target together with its clip, for CanvasRestoreTarget to put back. Code
// that draws into a surface for a moment keeps the program's clip this way.
[[nodiscard]] CanvasTargetState CanvasSwapTarget(Canvas* canvas, PixelSurface* surface);
void CanvasRestoreTarget(Canvas* canvas, const CanvasTargetState& state);

// clip := the whole target intersected with the rectangle.
void CanvasSetClip(Canvas* canvas, const Rect& rect);

// The level's low byte below 252 makes the canvas's alpha operator current
// with that level (so 256 acts as 0); 252..255 the copy operator. 0 when the
// alpha operator could not be made (the operator is then unchanged), else 1.
int CanvasSetBlend(Canvas* canvas, int32_t level);

// The shared copy operator becomes current.
void CanvasResetOperator(Canvas* canvas);

// The canvas's function operator, holding the function, becomes current; a
// null function makes the copy operator current. 0 when the operator could
// not be made (the operator is then unchanged), else 1.
int CanvasSetPixelFunction(Canvas* canvas, PixelFunction* function);

// The area a canvas draws into: its clip, or the whole target when the clip
// is empty, always cut to the target's buffer. False (nothing to draw into)
// when the canvas, target or buffer is missing.
[[nodiscard]] bool GetCanvasArea(const Canvas* canvas, PixelBuffer*& buffer, Rect& area);

// Draws the source rectangle (null: the whole source) with its top-left at
// (x, y): keyed when the source has a colour key >= 0, else plain. The part
// of the rectangle outside the source is dropped (the destination moves with
// it), then the destination is clipped. 1 when drawn or clipped away
// entirely, 0 when the canvas, target or source (or a buffer) is missing.
int CanvasBlit(Canvas* canvas, int32_t x, int32_t y, const PixelSurface* source, const Rect* sourceRect);

// A source rectangle cut to the source's bounds (and a mask's), moved with
// the destination point, then the destination clipped to the area: the
// rectangles that a copying operator slot is given. False when nothing is
// left to draw.
[[nodiscard]] bool ClipBlit(const Rect& area, int64_t x, int64_t y, const PixelBuffer& source, const PixelBuffer* mask,
                            const Rect* sourceRect, Point& point, Rect& clippedSource);

}  // namespace qob
