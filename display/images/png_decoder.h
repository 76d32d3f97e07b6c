// display/images/png_decoder.h
// PNG pictures through libpng.
#pragma once

#include <cstdint>
#include <span>

#include "display/images/image_sink.h"

namespace qob {

// The 8 bytes every PNG file starts with.
[[nodiscard]] bool IsPngSignature(std::span<const uint8_t> bytes);

// Decodes a PNG held in bytes (never read outside them) into the sink: every
// colour type and bit depth, interlaced or not; palette and grey become RGB,
// 16-bit samples keep their high byte, and tRNS or an alpha channel is
// composited over black. Data cut short or damaged after the first row keeps
// the rows read.
[[nodiscard]] DecodeOutcome DecodePng(std::span<const uint8_t> bytes, ImageSink& sink);

}  // namespace qob
