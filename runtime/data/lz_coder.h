// runtime/data/lz_coder.h
// The LZ77 coder: a marker byte, then literal bytes and copies of earlier
// output, with lengths and offsets as 7-bit variable-length numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/data/coder_result.h"

namespace qob {

// Stream: the marker byte (the input's rarest value), then items:
//   a byte other than the marker     that byte
//   marker, 0                        the marker byte itself
//   marker, length, offset           copy `length` bytes starting `offset`
//                                    bytes back in the output made so far
// A number is written in groups of 7 bits, most significant group first;
// every byte but the last has 0x80 set. The stream carries no length.

// Copies never cost more than the bytes they stand for, so the only growth
// is one extra byte per lone marker byte, the rarest value of the input.
constexpr size_t LzCompressBound(size_t inputLength) {
    const size_t extra = 1 + inputLength / 256;
    return inputLength > SIZE_MAX - extra ? SIZE_MAX : inputLength + extra;
}

// Writes the stream for `input` into `output`; an empty input writes nothing
// and gives length 0. At each position the longest earlier match within
// 100,000 bytes that does not overlap the position is taken (the nearest
// among equally long ones), when it is long enough for its offset to pay.
// Fails with OutputFull when `output` is smaller than the stream.
[[nodiscard]] CoderResult LzCompress(std::span<const uint8_t> input, std::span<uint8_t> output);

// Restores the bytes of a whole stream into `output`, whose size is the
// capacity. Fails on a copy from before the start of the output, a write
// past the capacity, or an item cut off by the end of the input.
[[nodiscard]] CoderResult LzUncompress(std::span<const uint8_t> input, std::span<uint8_t> output);

}  // namespace qob
