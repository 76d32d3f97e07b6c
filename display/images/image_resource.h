// display/images/image_resource.h
// Pictures among the executable's resources, and device bitmaps as surfaces.
#pragma once

#include <cstdint>
#include <span>

#include "display/pixel_surface.h"
#include "platform/resources.h"

namespace qob {

// The bitmap resource type (RT_BITMAP).
inline const platform::ResourceText kBitmapResource = platform::MakeIntResource(2);

// A new surface (NewSurface's kind, no colour key) holding a copy of the
// window layer's bitmap, or null with nothing left allocated: a handle that
// is no bitmap, a bitmap selected into another DC, a size past the pixel
// buffers' cap, or no memory.
[[nodiscard]] PixelSurface* BitmapToSurface(uintptr_t bitmap);

// The device bitmap of a bitmap resource (type 2) of the module (null: the
// executable), or 0. Its bytes are a BMP file, or a BMP without its 14-byte
// file header (a packed DIB, as bitmap resources are compiled). The caller
// deletes the bitmap with DeleteObject.
[[nodiscard]] uintptr_t LoadBitmapResource(const void* module, platform::ResourceText name);

// The device bitmap of a bitmap resource's bytes (as above), or 0.
[[nodiscard]] uintptr_t DeviceBitmapFromBytes(std::span<const uint8_t> bytes);

// The picture held by the resource of that name and type in the module (null:
// the executable) as a new surface (see ImageToSurface), or null. Resources
// of type 2 are device bitmaps, which take the bitmap way (LoadBitmapResource
// and BitmapToSurface); so does a name that no resource of the type has.
[[nodiscard]] PixelSurface* LoadImageResource(platform::ResourceText name, platform::ResourceText type,
                                              const void* module);

}  // namespace qob
