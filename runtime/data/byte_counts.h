// runtime/data/byte_counts.h
// How often each byte value occurs in a buffer, and the rarest value, which
// the run-length and LZ streams use as their marker byte.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qob {

using ByteCounts = std::array<uint64_t, 256>;

ByteCounts CountByteValues(std::span<const uint8_t> input);

// The value that occurs least often; among equally rare values the lowest,
// so a value that does not occur at all is chosen whenever there is one.
uint8_t PickMarkerByte(const ByteCounts& counts);

}  // namespace qob
