// tests/runtime/data/byte_counts_test.cpp
// Byte-value counts over buffers of every short length and alignment, and the
// marker byte choice.
#include "runtime/data/byte_counts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace qob {
namespace {

TEST(ByteCountsTest, EveryByteOfEveryLengthAndAlignmentIsCounted) {
    std::vector<uint8_t> buffer(40);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 37 + (i % 3 == 0 ? 0xF0 : 0));
    buffer[5] = 0xFF;
    buffer[6] = 0x00;
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 0; offset + length <= buffer.size(); ++length) {
            const std::span<const uint8_t> input(buffer.data() + offset, length);
            ByteCounts expected{};
            for (uint8_t b : input) ++expected[b];
            EXPECT_EQ(CountByteValues(input), expected) << "offset " << offset << " length " << length;
        }
    }
}

// Large inputs are counted by pairs of bytes, summed into bytes at the end:
// lengths around the size where that starts, odd tails and starts, every
// value, and long runs of one value that put many counts on a single pair.
TEST(ByteCountsTest, LargeInputsCountedByPairsGiveEveryByteItsCount) {
    constexpr size_t kPairsFrom = size_t{1} << 18;
    std::vector<uint8_t> buffer(kPairsFrom + 64);
    uint32_t state = 12345;
    for (size_t i = 0; i < buffer.size(); ++i) {
        state = state * 1103515245u + 12345u;
        buffer[i] = static_cast<uint8_t>(state >> 16);
    }
    std::fill_n(buffer.begin() + 1000, 50000, uint8_t{0x41});
    std::fill_n(buffer.begin() + 60000, 3000, uint8_t{0xFF});
    for (const size_t offset : {size_t{0}, size_t{3}})
        for (const size_t length : {kPairsFrom - 1, kPairsFrom, kPairsFrom + 1, kPairsFrom + 13, kPairsFrom + 56}) {
            const std::span<const uint8_t> input(buffer.data() + offset, length);
            ByteCounts expected{};
            for (uint8_t b : input) ++expected[b];
            EXPECT_EQ(CountByteValues(input), expected) << "offset " << offset << " length " << length;
        }
}

TEST(ByteCountsTest, TheMarkerIsTheRarestValueAndTheLowestAmongEquals) {
    ByteCounts counts{};
    counts.fill(3);
    counts[9] = 1;
    counts[200] = 1;
    EXPECT_EQ(PickMarkerByte(counts), 9);
    counts[250] = 0;
    EXPECT_EQ(PickMarkerByte(counts), 250);
}

}  // namespace
}  // namespace qob
