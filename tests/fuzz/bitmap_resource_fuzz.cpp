// tests/fuzz/bitmap_resource_fuzz.cpp
// A bitmap resource's bytes (a BMP file, or one without its file header)
// through the device-bitmap way: the device bitmap they make, then the
// surface made from that bitmap, which must have the bitmap's size.

#include "display/images/image_resource.h"
#include "fuzz_support.h"
#include "platform/gdi.h"
#include "platform/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uintptr_t bitmap = qob::DeviceBitmapFromBytes(std::span(data, size));
    if (bitmap == 0) return 0;
    qob::platform::BITMAP description{};
    if (qob::platform::GetObjectW(bitmap, sizeof description, &description) != int(sizeof description))
        __builtin_trap();  // a bitmap that cannot describe itself
    qob::PixelSurface* surface = qob::BitmapToSurface(bitmap);
    if (surface == nullptr || surface->buffer->width != description.bmWidth ||
        surface->buffer->height != description.bmHeight)
        __builtin_trap();
    qob::SurfaceRelease(surface);
    qob::platform::FreeBlock(surface);
    qob::platform::DeleteObject(bitmap);
    return 0;
}
