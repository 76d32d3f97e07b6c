// runtime/data/coders.h
// The three byte coders chosen by their method number, as the compress and
// uncompress built-ins number them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/data/coder_result.h"

namespace qob {

enum class CoderMethod {
    Rle = 0,
    ShannonFano = 1,
    Lz = 2,
};

// The output capacity that always holds Compress's stream of `inputLength`
// bytes; every caller sizes its buffer with it. A method number outside the
// enumeration (it may come from a program) gives 0 here and UnknownMethod
// from the coder calls, which then do nothing.
size_t CompressBound(CoderMethod method, size_t inputLength);

[[nodiscard]] CoderResult Compress(CoderMethod method, std::span<const uint8_t> input,
                                   std::span<uint8_t> output);

// Restores a whole stream into `output`, whose size is the capacity. The
// prefix coder restores exactly output.size() bytes; the other two as many as
// the stream holds (result length), failing if that exceeds the capacity.
[[nodiscard]] CoderResult Uncompress(CoderMethod method, std::span<const uint8_t> input,
                                     std::span<uint8_t> output);

}  // namespace qob
