// display/images/gif_decoder.h
// GIF pictures through giflib.
#pragma once

#include <cstdint>
#include <span>

#include "display/images/image_sink.h"

namespace qob {

// "GIF87a" or "GIF89a".
[[nodiscard]] bool IsGifSignature(std::span<const uint8_t> bytes);

// Decodes the first image of a GIF held in bytes (never read outside them)
// into the sink. The picture is the logical screen (grown to hold the image
// where the image reaches beyond it); the image lies at its offset, and the
// screen outside it and the image's transparent pixels are black, as are
// indices past its colour table. Interlaced rows go to their places; data
// cut short after the first row keeps the rows read.
[[nodiscard]] DecodeOutcome DecodeGif(std::span<const uint8_t> bytes, ImageSink& sink);

}  // namespace qob
