// tests/runtime/data/coder_samples.h
// Deterministic inputs for the coder tests: random, text-like, small
// alphabets, runs and skewed byte counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qob::test {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t size, uint32_t seed);
// Words of a small vocabulary with spaces, punctuation and line ends.
Bytes TextLikeBytes(size_t size, uint32_t seed);
// Random bytes drawn from the first `alphabet` letters.
Bytes SmallAlphabetBytes(size_t size, int alphabet, uint32_t seed);
// Runs of random length (1 to 300) of random bytes.
Bytes RunBytes(size_t size, uint32_t seed);
// A random block of `period` bytes over and over, about one byte in 50
// changed at random.
Bytes RepeatedBlockBytes(size_t size, size_t period, uint32_t seed);
// Byte k occurs about twice as often as byte k + 1, so prefix codes get long.
Bytes SkewedBytes(size_t size, uint32_t seed);

Bytes BytesOf(std::string_view text);

// Packs a text of '0' and '1' (other characters ignored) into bytes, most
// significant bit first, the last byte padded with 0.
Bytes PackBits(std::string_view bits);

}  // namespace qob::test
