// display/images/image_resource.h
// Pictures among the executable's resources.
#pragma once

#include "display/pixel_surface.h"
#include "platform/resources.h"

namespace qob {

// The bitmap resource type (RT_BITMAP).
inline const platform::ResourceText kBitmapResource = platform::MakeIntResource(2);

// The picture held by the resource of that name and type in the module (null:
// the executable) as a new surface (see ImageToSurface), or null. Resources
// of type 2 are device bitmaps, which take the bitmap way; so does a name
// that no resource of the type has. Neither is read yet: both give null.
[[nodiscard]] PixelSurface* LoadImageResource(platform::ResourceText name, platform::ResourceText type,
                                              const void* module);

}  // namespace qob
