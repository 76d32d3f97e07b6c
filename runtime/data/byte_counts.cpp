// runtime/data/byte_counts.cpp
// Byte-value counts and the marker byte choice.
#include "runtime/data/byte_counts.h"

#include <cstring>
#include <vector>

namespace qob {

namespace {

// From this size on, counting the input's 16-bit pairs and summing them into
// bytes at the end does fewer steps: a count per two bytes, against a sum of
// 65536 counts once.
constexpr size_t kPairCountsWorth = size_t{1} << 18;
// Each pair count stays within 32 bits below this size.
constexpr uint64_t kPairCountsLimit = uint64_t{1} << 32;

// Counts the pairs of whole blocks of sixteen bytes into counts and gives the
// bytes after them, which the caller counts one by one.
const uint8_t* CountPairs(const uint8_t* at, const uint8_t* end, ByteCounts& counts) {
    std::vector<uint32_t> pairs(65536);
    uint32_t* const pair = pairs.data();
    // Indexed by the two bytes as a little-endian load reads them: the
    // first low, the second high. The order of counting changes no count.
    // A pair loaded on its own is one instruction, where taking it out of a
    // word read once is two or three.
    const auto countPair = [pair](const uint8_t* from) {
        uint16_t two;
        std::memcpy(&two, from, sizeof two);
        ++pair[two];
    };
    // Written out: a loop over the pairs is not unrolled by an -O2 build.
    for (; end - at >= 16; at += 16) {
        countPair(at);
        countPair(at + 2);
        countPair(at + 4);
        countPair(at + 6);
        countPair(at + 8);
        countPair(at + 10);
        countPair(at + 12);
        countPair(at + 14);
    }
    for (unsigned high = 0; high < 256; ++high) {
        const uint32_t* const row = pair + (high << 8);
        uint64_t rowTotal = 0;
        for (unsigned low = 0; low < 256; ++low) {
            counts[low] += row[low];
            rowTotal += row[low];
        }
        counts[high] += rowTotal;
    }
    return at;
}

}  // namespace

ByteCounts CountByteValues(std::span<const uint8_t> input) {
    ByteCounts counts{};
    const uint8_t* at = input.data();
    const uint8_t* const end = at + input.size();
    if (input.size() >= kPairCountsWorth && input.size() < kPairCountsLimit) {
        at = CountPairs(at, end, counts);
    } else {
        // Eight bytes per load: each is a shift and a count, without the
        // loop's own test per byte. The order of counting changes no count.
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
