// display/bitmap_file.h
// Saving a surface as an uncompressed 16-bit RGB565 ".bmp" file.
#pragma once

#include "display/pixel_surface.h"

namespace qob {

// Writes name + ".bmp" (a name not starting with a separator lies in the
// application directory): a 66-byte header (file header, 40-byte information
// header with BI_BITFIELDS, the masks 0xF800, 0x07E0, 0x001F), then the rows
// bottom-up, each padded with zero bytes to a multiple of 4; little-endian.
// 1 on success; 0 for a null surface or name, a surface without a buffer, a
// file that cannot be created, or any failed write or close, after which the
// partial file is removed.
int SaveSurfaceBitmap(const PixelSurface* surface, const char* name);

}  // namespace qob
