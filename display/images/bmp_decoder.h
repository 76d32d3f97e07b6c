// display/images/bmp_decoder.h
// BMP pictures, read by our own reader.
#pragma once

#include <cstdint>
#include <span>

#include "display/images/image_sink.h"

namespace qob {

// "BM".
[[nodiscard]] bool IsBmpSignature(std::span<const uint8_t> bytes);

// Decodes a BMP held in bytes (never read outside them) into the sink. Read:
// information headers of 12 (core), 40, 52, 56, 108 and 124 bytes; 1, 4 and 8
// bits per pixel with a palette; 16 and 32 bits plain (5-5-5 and 8-8-8) or
// with bit-field masks (the 5-6-5 files that SaveSurfaceBitmap writes among
// them); 24 bits; rows bottom-up (positive height) or top-down (negative).
// 8-bit RLE8 and 4-bit RLE4 run-length files (bottom-up, as the format
// has them). Alpha is ignored, as a device bitmap ignores it. Embedded JPEG
// or PNG gives Failed. Rows that the data does not hold whole stay black;
// with none whole (for run-length files: with no run data at all), Failed.
[[nodiscard]] DecodeOutcome DecodeBmp(std::span<const uint8_t> bytes, ImageSink& sink);

}  // namespace qob
