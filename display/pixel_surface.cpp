// display/pixel_surface.cpp
// Making, releasing, cloning and locking surfaces.
#include "display/pixel_surface.h"

#include <cstring>

#include "display/pixel_operators.h"
#include "platform/memory.h"

namespace qob {

PixelSurface* SurfaceInit(PixelSurface* surface, int32_t width, int32_t height) {
    return SurfaceInitFromBuffer(surface, CreatePixelBuffer(width, height));
}

PixelSurface* SurfaceInitFromBuffer(PixelSurface* surface, PixelBuffer* buffer) {
    *surface = PixelSurface{buffer, -1, nullptr, 0, true};
    return surface;
}

// While a device context is out, buffer is the lent copy, which the surface
// always owns, and savedBuffer its own buffer; releasing ends both.
void SurfaceRelease(PixelSurface* surface) {
    if (surface == nullptr) return;
    if (surface->savedBuffer != nullptr) {
        delete surface->buffer;
        surface->buffer = surface->savedBuffer;
    }
    if (surface->ownsBuffer) delete surface->buffer;
    surface->buffer = nullptr;
    surface->savedBuffer = nullptr;
    surface->dc = 0;
}

PixelSurface* SurfaceClone(const PixelSurface* surface) {
    if (surface == nullptr || surface->buffer == nullptr) return nullptr;
    const PixelBuffer& source = *surface->buffer;
    PixelSurface* clone = NewSurface(source.width, source.height);
    if (clone == nullptr) return nullptr;
    SharedCopyOperator().CopyRect(*clone->buffer, Point{0, 0}, source, Rect{0, 0, source.width, source.height});
    clone->colorKey = surface->colorKey;
    return clone;
}

int SurfaceLock(const PixelSurface* surface, SurfaceLockRecord& record, const Point* point) {
    if (surface == nullptr || surface->buffer == nullptr) {
        record = SurfaceLockRecord{0, 0};
        return 0;
    }
    const PixelBuffer& buffer = *surface->buffer;
    const int64_t x = point ? point->x : 0, y = point ? point->y : 0;
    const uintptr_t address = reinterpret_cast<uintptr_t>(buffer.bits) + buffer.pitch * y + 2 * x;
    record = SurfaceLockRecord{buffer.pitch, static_cast<uint32_t>(address)};
    return 1;
}

int SurfaceUnlock(const PixelSurface*) { return 1; }

PixelSurface* NewSurface(int32_t width, int32_t height) {
    auto* surface = static_cast<PixelSurface*>(platform::AllocateBlock(sizeof(PixelSurface)));
    if (surface == nullptr) return nullptr;
    SurfaceInit(surface, width, height);
    if (surface->buffer == nullptr) {
        platform::FreeBlock(surface);
        return nullptr;
    }
    return surface;
}

}  // namespace qob
