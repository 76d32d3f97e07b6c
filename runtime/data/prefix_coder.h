// runtime/data/prefix_coder.h
// The Shannon-Fano prefix coder: a code tree built from the byte counts,
// then the code of every input byte; compiled program files use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/data/coder_result.h"

namespace qob {

// Stream: the code tree depth-first, then each input byte's code, all as one
// bit stream filling bytes from their most significant bit down; the unused
// bits of the last byte are 0. Tree nodes:
//   leaf          1, then the symbol in 8 bits
//   inner node    0; then 1 and the left subtree, or 0 when there is none;
//                 then 1 and the right subtree, or 0 when there is none
// A left branch adds bit 0 to a code, a right branch bit 1. The stream
// carries no length: the caller keeps the number of bytes to restore.

// The largest stream of `inputLength` bytes: codes are at most 32 bits, and
// the tree of 256 leaves and 255 inner nodes takes at most 384 bytes.
constexpr size_t ShannonFanoCompressBound(size_t inputLength) {
    return inputLength > (SIZE_MAX - 384) / 4 ? SIZE_MAX : 4 * inputLength + 384;
}

// Writes the stream for `input` into `output`; an empty input writes nothing
// and gives length 0. Fails with CodeTooLong when a code would need more than
// 32 bits (only huge inputs with extremely skewed counts need that), and with
// OutputFull when `output` is smaller than the stream.
[[nodiscard]] CoderResult ShannonFanoCompress(std::span<const uint8_t> input,
                                              std::span<uint8_t> output);

// Restores exactly output.size() bytes from `input`. Fails on a tree of more
// than 256 leaves or deeper than 32 levels, on bits that lead to no leaf,
// and on a tree or code cut off by the end of the input.
[[nodiscard]] CoderResult ShannonFanoUncompress(std::span<const uint8_t> input,
                                                std::span<uint8_t> output);

}  // namespace qob
