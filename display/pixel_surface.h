// display/pixel_surface.h
// A surface: the pixel buffer it draws into and its colour key. Programs hold
// surfaces as numbers, so records and pixels live in low memory.
#pragma once

#include <cstdint>

#include "display/pixel_buffer.h"
#include "display/rect.h"

namespace qob {

struct PixelSurface {
    PixelBuffer* buffer;       // null when none could be made (or none is attached)
    int32_t colorKey;          // 0..65535 marks transparent source pixels; negative: no key
    PixelBuffer* savedBuffer;  // the surface's own buffer while a device context is lent out
    uintptr_t dc;              // the device context lent out, 0 when none
    bool ownsBuffer;           // false for a surface that only wraps a buffer of someone else's
};

// The record filled by SurfaceLock: 8 bytes, as programs read it by address.
struct SurfaceLockRecord {
    int32_t pitch;     // bytes from one row to the next
    uint32_t address;  // of the locked pixel (low memory, so 32 bits hold it)
};

// Fills the record with a new buffer of that size (pixels not cleared), no
// colour key, no device context. Returns the record; its buffer is null when
// the size was refused or memory ran out.
PixelSurface* SurfaceInit(PixelSurface* surface, int32_t width, int32_t height);

// The same over an existing buffer, which the surface takes over.
PixelSurface* SurfaceInitFromBuffer(PixelSurface* surface, PixelBuffer* buffer);

// Destroys the buffers the surface owns and leaves it without one. The record
// itself is the caller's to free (platform::FreeBlock for NewSurface's).
void SurfaceRelease(PixelSurface* surface);

// A new surface (from NewSurface) of the same size, holding a plain copy of
// every pixel and the same colour key; null for a null or bufferless surface
// or when memory ran out.
[[nodiscard]] PixelSurface* SurfaceClone(const PixelSurface* surface);

// record := {pitch, address of the pixel at point} ((0, 0) for a null point);
// 1. A null surface or one without a buffer gives {0, 0} and 0. Nothing else
// changes, and the point is not tested against the buffer.
int SurfaceLock(const PixelSurface* surface, SurfaceLockRecord& record, const Point* point);
int SurfaceUnlock(const PixelSurface* surface);

// Lends the surface's pixels out as a device context of the window layer's
// drawing: a DIB-section copy of the buffer (its pixels copied in unless the
// low byte of noCopy is non-zero) becomes the surface's buffer until
// SurfaceReleaseDC, and its memory DC is the result. 0, changing nothing, for
// a null or bufferless surface, one that has a DC out already, or when the
// section cannot be made. Pixels move plainly both ways, the colour key's
// among them.
[[nodiscard]] uintptr_t SurfaceGetDC(PixelSurface* surface, uint8_t noCopy);

// Ends the lending: what was drawn (through the DC or into the buffer) is
// copied back into the surface's own buffer, which is its buffer again. 0
// unless dc is the surface's lent DC; else 1.
int SurfaceReleaseDC(PixelSurface* surface, uintptr_t dc);

// A surface record from low memory with SurfaceInit of that size; null when
// the record or the buffer cannot be had. Release it with SurfaceRelease and
// free the record with platform::FreeBlock.
[[nodiscard]] PixelSurface* NewSurface(int32_t width, int32_t height);

}  // namespace qob
