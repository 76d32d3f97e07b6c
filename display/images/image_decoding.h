// display/images/image_decoding.h
// Pictures in memory to new RGB565 surfaces: the format told by the bytes
// themselves, then its decoder.
#pragma once

#include <cstdint>
#include <span>

#include "display/images/image_sink.h"
#include "display/pixel_surface.h"

namespace qob {

enum class ImageFormat { Unknown, Png, Jpeg, Gif, Bmp };

// The format whose signature the bytes start with; never past their end.
[[nodiscard]] ImageFormat DetectImageFormat(std::span<const uint8_t> bytes);

// The decoder of the bytes' format into the sink; Failed for an unknown one.
[[nodiscard]] DecodeOutcome DecodeImage(std::span<const uint8_t> bytes, ImageSink& sink);

// A new surface (NewSurface's kind, colour key -1) holding the picture, or
// null with nothing left allocated: bytes that are no picture we read, a size
// of zero or past the pixel buffers' cap (refused before anything of that
// size is allocated), no memory, or data damaged before the first row. Rows
// that damaged or short data did not reach are black.
[[nodiscard]] PixelSurface* ImageToSurface(std::span<const uint8_t> bytes);

// The same for the bytes [start, end); null when either is null or end lies
// before start. Nothing at or past end is read.
[[nodiscard]] PixelSurface* DecodeImageMemory(const void* start, const void* end);

}  // namespace qob
