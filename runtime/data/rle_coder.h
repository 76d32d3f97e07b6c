// runtime/data/rle_coder.h
// The run-length coder: a marker byte, then plain bytes and marked runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/data/coder_result.h"

namespace qob {

// Stream: the marker byte (the input's rarest value), then items:
//   a byte other than the marker         that byte once
//   marker, 0 / 1 / 2                    1 / 2 / 3 copies of the marker byte
//   marker, c (3..127), b                c + 1 copies of b (runs of 4 to 128)
//   marker, c1 (0x80..0xFF), c2, b       ((c1 & 0x7F) * 256 + c2) + 1 copies of b
// The stream carries no length: the caller keeps the uncompressed length.

// The largest stream RleCompress can make of `inputLength` bytes: every
// lone marker byte costs one extra byte, and the marker is the rarest value.
constexpr size_t RleCompressBound(size_t inputLength) {
    const size_t extra = 1 + inputLength / 256;
    return inputLength > SIZE_MAX - extra ? SIZE_MAX : inputLength + extra;
}

// Writes the stream for `input` into `output`; an empty input writes nothing
// and gives length 0. Fails with OutputFull when `output` is smaller than
// the stream (never when it holds RleCompressBound(input.size()) bytes).
[[nodiscard]] CoderResult RleCompress(std::span<const uint8_t> input, std::span<uint8_t> output);

// Restores the bytes of a whole stream into `output`, whose size is the
// capacity. Fails on a run that does not fit or an item cut off by the end.
[[nodiscard]] CoderResult RleUncompress(std::span<const uint8_t> input, std::span<uint8_t> output);

}  // namespace qob
