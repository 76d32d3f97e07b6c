// runtime/byte_counts.cpp
// Byte-value counts and the marker byte choice.
#include "runtime/byte_counts.h"

namespace qob {

ByteCounts CountByteValues(std::span<const uint8_t> input) {
    ByteCounts counts{};
    for (uint8_t b : input)
        ++counts[b];
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
