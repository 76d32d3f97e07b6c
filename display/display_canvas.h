// display/display_canvas.h
// The display canvas: a canvas bound to the screen. Opening a scene attaches
// the display's drawing buffer to its embedded surface; updating presents the
// dirty rectangle and detaches it again.
#pragma once

#include <cstdint>

#include "display/canvas.h"
#include "display/display.h"

namespace qob {

// The canvas comes first, so the record's address is the canvas's.
struct DisplayCanvas {
    Canvas canvas;
    DisplayParams params;  // as the display returned them
    Display* display;      // owned
    PixelSurface surface;  // wraps the display's buffer within a scene, no buffer otherwise; owns none
};

// A display canvas for the window (a record from low memory, canvas with no
// target), its display opened with the params, which receive the display's
// final params. Null, with everything freed, when no display could be opened
// or memory ran out. Destroy it with DestroyCanvas and free the record with
// platform::FreeBlock.
[[nodiscard]] Canvas* CreateDisplayCanvas(uintptr_t window, DisplayParams* params);

// Opens the display's scene and makes the embedded surface, holding the
// buffer to draw into, the canvas's target (clip: the whole screen). Null
// when the canvas is no display canvas, the display is suspended or the
// frame buffer cannot be locked.
PixelSurface* CanvasBeginScene(Canvas* canvas);

// With a rectangle, it becomes the dirty rectangle first; with null the last
// one stays (after start-up the whole screen). Presents, and the embedded
// surface holds no buffer afterwards. The present's result (0 outside a
// scene).
int CanvasUpdate(Canvas* canvas, const Rect* rect);

// DestroyCanvas's part for a display canvas: the embedded surface lets go of
// the display's buffer without destroying it (a copy lent out as a device
// context is destroyed), then the display goes, unlocking a frame buffer
// still locked.
void ReleaseDisplayCanvas(DisplayCanvas* canvas);

}  // namespace qob
