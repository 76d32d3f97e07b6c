// runtime/byte_counts.cpp
// Byte-value counts and the marker byte choice.
#include "runtime/byte_counts.h"

#include <cstring>

namespace qob {

ByteCounts CountByteValues(std::span<const uint8_t> input) {
    ByteCounts counts{};
    const uint8_t* at = input.data();
    const uint8_t* const end = at + input.size();
    // Eight bytes per load: each is a shift and a count, without the loop's
    // own test per byte. The order of counting changes no count.
    for (; end - at >= 8; at += 8) {
        uint64_t word;
        std::memcpy(&word, at, sizeof word);
        ++counts[word & 0xFF];
        ++counts[(word >> 8) & 0xFF];
        ++counts[(word >> 16) & 0xFF];
        ++counts[(word >> 24) & 0xFF];
        ++counts[(word >> 32) & 0xFF];
        ++counts[(word >> 40) & 0xFF];
        ++counts[(word >> 48) & 0xFF];
        ++counts[word >> 56];
    }
    for (; at != end; ++at) ++counts[*at];
    return counts;
}

uint8_t PickMarkerByte(const ByteCounts& counts) {
    int best = 0;
    for (int value = 1; value < 256; ++value)
        if (counts[value] < counts[best])
            best = value;
    return static_cast<uint8_t>(best);
}

}  // namespace qob
