// tests/runtime/data/bit_cursor_test.cpp
// The coder's bulk code writer against the same codes written one by one.
#include "runtime/data/bit_cursor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qob {
namespace {

// Long inputs (past the size where codes go two bytes at a time) with an odd
// length, after some bits already written, for code lengths whose pairs all
// fit 32 bits (16 at most), some do not (17) and most do not (32), and an
// output that fills up on the way: the stream, and where it stops, must be
// the one of a WriteBits per byte.
TEST(BitCursorWriter, BulkCodesEqualCodesWrittenOneByOne) {
    struct Case {
        int longest;
        int bitsBefore;
        bool outputFills;
    };
    const Case cases[] = {{16, 0, false}, {16, 5, false}, {17, 3, false}, {4, 31, false},
                          {32, 7, false}, {17, 0, true},  {32, 9, true}};
    for (const Case& c : cases) {
        uint32_t state = 2463534242u;
        auto next = [&state] {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state;
        };
        uint32_t codes[256];
        uint8_t lengths[256];
        for (int b = 0; b < 256; ++b) {
            lengths[b] = static_cast<uint8_t>(1 + b % c.longest);
            codes[b] = next() & static_cast<uint32_t>((uint64_t{1} << lengths[b]) - 1);
        }
        std::vector<uint8_t> input((size_t{1} << 20) + 3);
        for (uint8_t& byte : input) byte = static_cast<uint8_t>(next() >> 24);

        const size_t room = c.outputFills ? input.size() / 2 + 3 : input.size() * 4 + 16;
        std::vector<uint8_t> bulk(room), single(room);
        BitCursorWriter bulkWriter(bulk), singleWriter(single);
        bulkWriter.WriteBits(0x5A5A5A5A, c.bitsBefore);
        singleWriter.WriteBits(0x5A5A5A5A, c.bitsBefore);
        bulkWriter.WriteCodes(input, codes, lengths);
        for (uint8_t byte : input) singleWriter.WriteBits(codes[byte], lengths[byte]);
        bulkWriter.WriteBits(0x3, 2);  // the bits held after the codes go on from where they stop
        singleWriter.WriteBits(0x3, 2);
        bulkWriter.Flush();
        singleWriter.Flush();
        ASSERT_EQ(bulkWriter.IsFull(), c.outputFills) << c.longest << " " << c.bitsBefore;
        ASSERT_EQ(singleWriter.IsFull(), c.outputFills) << c.longest << " " << c.bitsBefore;
        ASSERT_EQ(bulkWriter.Written(), singleWriter.Written()) << c.longest << " " << c.bitsBefore;
        bulk.resize(bulkWriter.Written());
        single.resize(singleWriter.Written());
        EXPECT_EQ(bulk, single) << c.longest << " " << c.bitsBefore;
    }
}

}  // namespace
}  // namespace qob
