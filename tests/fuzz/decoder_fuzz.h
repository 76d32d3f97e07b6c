// tests/fuzz/decoder_fuzz.h
// The shape of the decoder targets: the first two bytes of an input give the
// output's capacity (up to 64 KiB), the rest is the coded stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "runtime/data/coder_result.h"

namespace qob::fuzz {

template <class Decoder>
int DecodeWithCapacity(const uint8_t* data, size_t size, Decoder decode) {
    if (size < 2) return 0;
    const size_t capacity = data[0] | static_cast<size_t>(data[1]) << 8;
    std::vector<uint8_t> output(capacity);
    const CoderResult result = decode(std::span(data + 2, size - 2), std::span(output));
    // A decoder never claims more than the room it was given.
    if (result.length > capacity) __builtin_trap();
    return 0;
}

}  // namespace qob::fuzz
