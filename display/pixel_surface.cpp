// display/pixel_surface.cpp
// Making, releasing, cloning and locking surfaces.
#include "display/pixel_surface.h"

#include <algorithm>
#include <cstring>

#include "display/dib_pixel_buffer.h"
#include "display/pixel_operators.h"
#include "platform/gdi.h"
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
    if (surface->dc != 0) SurfaceReleaseDC(surface, surface->dc);
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

namespace {

void CopyPixels(PixelBuffer& to, const PixelBuffer& from) {
    const size_t rowBytes = size_t(std::min(to.width, from.width)) * 2;
    const int32_t rows = std::min(to.height, from.height);
    for (int32_t y = 0; y < rows; ++y) std::memcpy(PixelRow(to, y), PixelRow(from, y), rowBytes);
}

}  // namespace

uintptr_t SurfaceGetDC(PixelSurface* surface, uint8_t noCopy) {
    if (surface == nullptr || surface->buffer == nullptr || surface->dc != 0) return 0;
    PixelBuffer* own = surface->buffer;
    DibPixelBuffer* lent = DibPixelBuffer::Create(own->width, own->height);
    if (lent == nullptr) return 0;
    if (noCopy == 0) CopyPixels(*lent, *own);
    surface->savedBuffer = own;
    surface->buffer = lent;
    surface->dc = lent->dc;
    return lent->dc;
}

int SurfaceReleaseDC(PixelSurface* surface, uintptr_t dc) {
    if (surface == nullptr || dc == 0 || surface->dc != dc) return 0;
    platform::GdiFlush();  // drawing through the DC reaches the section's bits
    PixelBuffer* lent = surface->buffer;
    if (surface->savedBuffer != nullptr && lent != nullptr) CopyPixels(*surface->savedBuffer, *lent);
    delete lent;
    surface->buffer = surface->savedBuffer;
    surface->savedBuffer = nullptr;
    surface->dc = 0;
    return 1;
}

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
