// display/images/jpeg_decoder.h
// JPEG pictures through libjpeg.
#pragma once

#include <cstdint>
#include <span>

#include "display/images/image_sink.h"

namespace qob {

// A JPEG file starts with SOI and the start of a marker: FF D8 FF.
[[nodiscard]] bool IsJpegSignature(std::span<const uint8_t> bytes);

// Decodes a JPEG held in bytes (never read outside them) into the sink:
// baseline or progressive, greyscale, YCbCr or RGB, and CMYK or YCCK turned
// into RGB. When the data ends early, the rows whose data had begun to arrive
// are kept (for a progressive file: the picture the scans read so far gives,
// once its first scan is whole) and the rest stays black; a file with no
// image data at all gives Failed.
[[nodiscard]] DecodeOutcome DecodeJpeg(std::span<const uint8_t> bytes, ImageSink& sink);

}  // namespace qob
