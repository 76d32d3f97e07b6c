// tests/runtime/data/lz_coder_test.cpp
// LZ77 streams byte for byte, the match choice against a plain scan of every
// offset, the 100,000-byte window, and the decoder on malformed items.
#include "runtime/data/lz_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "runtime/data/byte_counts.h"
#include "runtime/data/coder_samples.h"

namespace qob {
namespace {

using test::Bytes;

Bytes Compressed(const Bytes& input) {
    Bytes out(LzCompressBound(input.size()));
    const CoderResult result = LzCompress(input, out);
    EXPECT_TRUE(result.Ok());
    out.resize(result.length);
    return out;
}

// The match rule written as directly as possible: every offset from 3 up,
// a match never longer than the bytes left nor than its offset, the first
// strictly longer one wins, and short matches pay only when near.
Bytes CompressByScanningEveryOffset(const Bytes& input) {
    if (input.empty())
        return {};
    const uint8_t marker = PickMarkerByte(CountByteValues(input));
    Bytes out = {marker};
    auto literal = [&](uint8_t b) {
        out.push_back(b);
        if (b == marker)
            out.push_back(0);
    };
    auto number = [&](size_t value) {
        Bytes groups = {static_cast<uint8_t>(value & 0x7F)};
        for (value >>= 7; value != 0; value >>= 7)
            groups.insert(groups.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
        out.insert(out.end(), groups.begin(), groups.end());
    };
    size_t p = 0;
    size_t r = input.size();
    while (r > 3) {
        size_t bestLength = 3;
        size_t bestOffset = 0;
        if (p >= 3)
            for (size_t d = 3; d <= std::min<size_t>(p, 100000); ++d) {
                size_t count = 0;
                while (count < std::min(r, d) && input[p + count] == input[p - d + count])
                    ++count;
                if (count > bestLength) {
                    bestLength = count;
                    bestOffset = d;
                }
            }
        const bool accept = bestLength >= 8 || (bestLength == 7 && bestOffset <= 0xFFFFFFF) ||
                            (bestLength == 6 && bestOffset <= 0x1FFFFF) ||
                            (bestLength == 5 && bestOffset <= 16383) ||
                            (bestLength == 4 && bestOffset <= 127);
        if (accept) {
            out.push_back(marker);
            number(bestLength);
            number(bestOffset);
            p += bestLength;
            r -= bestLength;
        } else {
            literal(input[p++]);
            --r;
        }
    }
    while (p < input.size())
        literal(input[p++]);
    return out;
}

struct Copy {
    size_t at;  // position in the output where the copy starts
    size_t length;
    size_t offset;
    bool operator==(const Copy&) const = default;
};

// The copy items of a well-formed stream.
std::vector<Copy> CopiesIn(const Bytes& stream) {
    std::vector<Copy> copies;
    size_t produced = 0;
    auto number = [&](size_t& i) {
        size_t value = 0;
        while (stream[i] & 0x80)
            value = value * 128 + (stream[i++] & 0x7F);
        return value * 128 + stream[i++];
    };
    for (size_t i = 1; i < stream.size();) {
        if (stream[i++] != stream[0]) {
            ++produced;
        } else if (stream[i] == 0) {
            ++i;
            ++produced;
        } else {
            const size_t length = number(i);
            const size_t offset = number(i);
            copies.push_back({produced, length, offset});
            produced += length;
        }
    }
    return copies;
}

TEST(LzCoder, WritesTheStreamByteForByte) {
    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    };
    Bytes lone;  // every value once, from 255 down to 0
    for (int v = 255; v >= 0; --v)
        lone.push_back(static_cast<uint8_t>(v));
    Bytes loneExpected = {0x00};
    loneExpected.insert(loneExpected.end(), lone.begin(), lone.end() - 1);
    loneExpected.insert(loneExpected.end(), {0x00, 0x00});
    // 'A' x 20: four literals (offset 3 can give at most 3 bytes), then
    // copies doubling with the output: 4 at 4, 8 at 8, and the last 4 at 4.
    const Bytes run20 = {0x00, 'A', 'A', 'A', 'A', 0x00, 4, 4, 0x00, 8, 8, 0x00, 4, 4};
    // 'A' x 300: ... 64 at 64, then 128 at 128 (two-byte numbers), 44 at 44.
    const Bytes run300 = {0x00, 'A', 'A', 'A', 'A', 0x00, 4, 4, 0x00, 8, 8, 0x00, 16, 16,
                          0x00, 32, 32, 0x00, 64, 64, 0x00, 0x81, 0x00, 0x81, 0x00,
                          0x00, 44, 44};
    const Case cases[] = {
        {"empty", {}, {}},
        {"one zero byte: marker 1", {0x00}, {0x01, 0x00}},
        {"ABCDABCD", test::BytesOf("ABCDABCD"),
         {0x00, 'A', 'B', 'C', 'D', 0x00, 4, 4}},
        {"run of 20", Bytes(20, 'A'), run20},
        {"run of 300", Bytes(300, 'A'), run300},
        // Every value once: all literals, the marker 0 written as 0, 0.
        {"every value once", lone, loneExpected},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Compressed(c.input), c.expected) << c.name;
}

TEST(LzCoder, ShortMatchesPayOnlyWhenNear) {
    // The repeat starts 128 bytes after the original: 4 bytes there would
    // need a 2-byte offset and are left as literals, 5 bytes are copied.
    Bytes filler;
    for (int i = 0; i < 124; ++i)
        filler.push_back(static_cast<uint8_t>(0x80 + i));
    const Bytes four = test::BytesOf("WXYZ");
    Bytes input = four;
    input.insert(input.end(), filler.begin(), filler.end());
    input.insert(input.end(), four.begin(), four.end());
    Bytes expected = {0x00};
    expected.insert(expected.end(), input.begin(), input.end());
    EXPECT_EQ(Compressed(input), expected);

    const Bytes five = test::BytesOf("VWXYZ");
    input = five;
    input.insert(input.end(), filler.begin(), filler.end() - 1);
    input.insert(input.end(), five.begin(), five.end());
    expected = {0x00};
    expected.insert(expected.end(), input.begin(), input.end() - 5);
    expected.insert(expected.end(), {0x00, 5, 0x81, 0x00});
    EXPECT_EQ(Compressed(input), expected);
}

TEST(LzCoder, ChoosesTheSameMatchesAsAScanOfEveryOffset) {
    Bytes growingRuns;  // a, b, aa, b, aaa, b, ...
    for (size_t k = 1; growingRuns.size() < 6000; ++k) {
        growingRuns.insert(growingRuns.end(), k, 'a');
        growingRuns.push_back('b');
    }
    const Bytes inputs[] = {
        test::TextLikeBytes(6000, 1),         test::SmallAlphabetBytes(5000, 2, 2),
        test::SmallAlphabetBytes(5000, 4, 3), test::RunBytes(6000, 4),
        test::SkewedBytes(6000, 5),           test::RandomBytes(3000, 6),
        Bytes(3000, 0x41),                    growingRuns,
        test::RepeatedBlockBytes(6000, 3, 7), test::RepeatedBlockBytes(6000, 40, 8),
        test::RepeatedBlockBytes(6000, 700, 9),
    };
    for (size_t i = 0; i < std::size(inputs); ++i)
        EXPECT_EQ(Compressed(inputs[i]), CompressByScanningEveryOffset(inputs[i])) << i;
}

TEST(LzCoder, CopiesReachBackAtMost100000Bytes) {
    // Random bytes (no chance matches worth coding) with two planted
    // repeats: one exactly 100,000 bytes back, one 100,001 bytes back. Both
    // lie beyond the first 131,072 bytes, where the search tables wrap.
    Bytes input = test::RandomBytes(400000, 7);
    auto plant = [&](std::string_view pattern, size_t at) {
        std::copy(pattern.begin(), pattern.end(), input.begin() + at);
    };
    plant("0123456789abcdef", 150000);
    plant("0123456789abcdef", 250000);
    plant("fedcba9876543210", 260000);
    plant("fedcba9876543210", 360001);
    const std::vector<Copy> expected = {{250000, 16, 100000}};
    EXPECT_EQ(CopiesIn(Compressed(input)), expected);
}

TEST(LzCoder, DecoderRefusesMalformedItems) {
    struct Case {
        const char* name;
        Bytes stream;
        size_t capacity;
        CoderStatus status;
        Bytes output;  // what was written before the decoder stopped
    };
    const Case cases[] = {
        {"marker only", {0x00}, 4, CoderStatus::Ok, {}},
        {"escaped marker", {0x00, 0x00, 0x00}, 4, CoderStatus::Ok, {0x00}},
        // Offsets 1 and 2 are never written but copy byte by byte.
        {"overlapping copy", {0x00, 'A', 'B', 0x00, 5, 1}, 7, CoderStatus::Ok,
         test::BytesOf("ABBBBBB")},
        {"offset past the start", {0x00, 'A', 0x00, 4, 2}, 8, CoderStatus::BadOffset, {'A'}},
        {"offset 0", {0x00, 'A', 0x00, 1, 0}, 8, CoderStatus::BadOffset, {'A'}},
        {"copy before any output", {0x00, 0x00, 4, 4}, 8, CoderStatus::BadOffset, {}},
        {"marker at the end", {0x00, 'A', 0x00}, 8, CoderStatus::InputTruncated, {'A'}},
        {"offset missing", {0x00, 'A', 0x00, 4}, 8, CoderStatus::InputTruncated, {'A'}},
        {"length cut", {0x00, 'A', 0x00, 0x84}, 8, CoderStatus::InputTruncated, {'A'}},
        {"offset cut", {0x00, 'A', 0x00, 4, 0x81}, 8, CoderStatus::InputTruncated, {'A'}},
        {"copy past capacity", {0x00, 'A', 'B', 0x00, 5, 1}, 6, CoderStatus::OutputFull,
         test::BytesOf("AB")},
        {"literal past capacity", {0x00, 'A', 'B'}, 1, CoderStatus::OutputFull, {'A'}},
        {"huge length", {0x00, 'A', 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0x7F, 1},
         8, CoderStatus::OutputFull, {'A'}},
        {"huge offset", {0x00, 'A', 0x00, 1, 0x8F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0x7F},
         8, CoderStatus::BadOffset, {'A'}},
    };
    for (const Case& c : cases) {
        Bytes out(c.capacity);
        const CoderResult result = LzUncompress(c.stream, out);
        EXPECT_EQ(result.status, c.status) << c.name;
        ASSERT_EQ(result.length, c.output.size()) << c.name;
        EXPECT_TRUE(std::equal(c.output.begin(), c.output.end(), out.begin())) << c.name;
    }
}

}  // namespace
}  // namespace qob
