// tests/runtime/data/prefix_coder_test.cpp
// Shannon-Fano streams bit for bit, and the decoder on malformed trees and
// codes.
#include "runtime/data/prefix_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <string>

#include "runtime/data/bit_cursor.h"
#include "runtime/data/coder_samples.h"

namespace qob {
namespace {

using test::Bytes;

// Tree nodes written as text of bits, as the stream lays them out.
std::string Leaf(uint8_t symbol) {
    return std::string("1").append(std::bitset<8>(symbol).to_string()).append(" ");
}

// A present subtree is announced by a 1, a missing one is a 0.
std::string Branch(const std::string& subtree) {
    return subtree.empty() ? std::string("0") : std::string("1").append(subtree);
}

std::string Inner(const std::string& left, const std::string& right) {
    return std::string("0").append(Branch(left)).append(Branch(right));
}

// A complete tree `depth` levels deep whose leaves hold their own codes.
std::string CompleteTree(int depth, int code = 0) {
    if (depth == 0)
        return Leaf(static_cast<uint8_t>(code));
    return Inner(CompleteTree(depth - 1, code * 2), CompleteTree(depth - 1, code * 2 + 1));
}

// One leaf `depth` levels down, reached by left branches only.
std::string LeftChain(int depth, uint8_t symbol) {
    return depth == 0 ? Leaf(symbol) : Inner(LeftChain(depth - 1, symbol), "");
}

std::string Times(const std::string& bits, int count) {
    std::string all;
    for (int i = 0; i < count; ++i)
        all += bits;
    return all;
}

// "ABAB..." of the given length.
Bytes Alternating(size_t length) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = i % 2 ? 'B' : 'A';
    return bytes;
}

Bytes Compressed(const Bytes& input) {
    // Filled with ones: the unused bits of the last byte must come out 0.
    Bytes out(ShannonFanoCompressBound(input.size()), 0xFF);
    const CoderResult result = ShannonFanoCompress(input, out);
    EXPECT_TRUE(result.Ok());
    out.resize(result.length);
    return out;
}

TEST(PrefixCoder, WritesTheStreamBitForBit) {
    const std::string a = Leaf('A'), b = Leaf('B'), c = Leaf('C'), d = Leaf('D');
    struct Case {
        const char* name;
        Bytes input;
        std::string bits;  // tree, then the codes
    };
    const Case cases[] = {
        // One distinct byte: a split with only a left leaf, 1-bit codes.
        {"AAAA", test::BytesOf("AAAA"), Inner(a, "") + "0000"},
        {"A", test::BytesOf("A"), Inner(a, "") + "0"},
        {"AAB", test::BytesOf("AAB"), Inner(a, b) + "0 0 1"},
        // Equal counts keep ascending byte order: A left of B.
        {"BA", test::BytesOf("BA"), Inner(a, b) + "1 0"},
        // 3 of 6 reaches half at once: A, then B and C split again.
        {"AAABBC", test::BytesOf("AAABBC"), Inner(a, Inner(b, c)) + "0 0 0 10 10 11"},
        // 10 of 21 is short of half (11): A and B go left together.
        {"A10 B10 C", test::BytesOf(std::string(10, 'A') + std::string(10, 'B') + "C"),
         Inner(Inner(a, b), c) + Times("00", 10) + Times("01", 10) + "1"},
        {"ABC", test::BytesOf("ABC"), Inner(Inner(a, b), c) + "00 01 1"},
        {"ABCD", test::BytesOf("DCBA"), Inner(Inner(a, b), Inner(c, d)) + "11 10 01 00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Compressed(c.input), test::PackBits(c.bits)) << c.name;
    EXPECT_EQ(Compressed({}), Bytes{});
}

TEST(PrefixCoder, DecoderRefusesMalformedTreesAndCodes) {
    struct Case {
        const char* name;
        std::string bits;
        size_t outputSize;
        CoderStatus status;
        Bytes output;  // what was written before the decoder stopped
    };
    const Case cases[] = {
        {"empty output reads nothing", "", 0, CoderStatus::Ok, {}},
        {"empty stream", "", 1, CoderStatus::InputTruncated, {}},
        {"tree cut in a symbol", "0 1 1 0100", 1, CoderStatus::InputTruncated, {}},
        {"code cut", Inner(Leaf('A'), Leaf('B')) + "0 0 1", 4, CoderStatus::InputTruncated,
         test::BytesOf("AAB")},
        {"a leaf at the root takes no bits", Leaf('A'), 3, CoderStatus::Ok, test::BytesOf("AAA")},
        {"tree without leaves", Inner("", "") + "0000", 1, CoderStatus::UnknownCode, {}},
        {"code of the missing branch", Inner(Leaf('A'), "") + "0 1", 2, CoderStatus::UnknownCode,
         test::BytesOf("A")},
        {"256 leaves", CompleteTree(8) + "01000001 01000010", 2, CoderStatus::Ok,
         test::BytesOf("AB")},
        {"more than 256 leaves", CompleteTree(9) + "000000000", 1, CoderStatus::BadTree, {}},
        {"32 levels", LeftChain(32, 'Z') + std::string(64, '0'), 2, CoderStatus::Ok,
         test::BytesOf("ZZ")},
        {"33 levels", LeftChain(33, 'Z') + std::string(33, '0'), 1, CoderStatus::BadTree, {}},
        // Long runs go through the decoder's fast path, which must stop at
        // exactly the same code as the checked one: the padding bit of the
        // last byte is the missing branch here ...
        {"missing branch after a long run", Inner("", Leaf('A')) + std::string(100, '1'), 200,
         CoderStatus::UnknownCode, Bytes(100, 'A')},
        // ... and 21 tree bits and 107 code bits fill 16 bytes exactly.
        {"stream ends after a long run", Inner(Leaf('A'), Leaf('B')) + Times("01", 53) + "0", 200,
         CoderStatus::InputTruncated, Alternating(107)},
    };
    for (const Case& c : cases) {
        const Bytes stream = test::PackBits(c.bits);
        Bytes out(c.outputSize);
        const CoderResult result = ShannonFanoUncompress(stream, out);
        EXPECT_EQ(result.status, c.status) << c.name;
        ASSERT_EQ(result.length, c.output.size()) << c.name;
        EXPECT_TRUE(std::equal(c.output.begin(), c.output.end(), out.begin())) << c.name;
    }
}

// Skewed counts give codes far longer than the decoder's table next to
// one-bit ones; mixed in an irregular order, every kind of step between the
// table and the tree walk is taken, and the stream must come back whole.
TEST(PrefixCoder, LongAndShortCodesMixedRoundTrip) {
    Bytes input;
    for (int symbol = 0; symbol < 18; ++symbol)
        input.insert(input.end(), size_t{1} << (17 - symbol), static_cast<uint8_t>('a' + symbol));
    uint32_t state = 12345;
    for (size_t i = input.size() - 1; i > 0; --i) {
        state = state * 1103515245u + 12345u;
        std::swap(input[i], input[(state >> 8) % (i + 1)]);
    }
    const Bytes stream = Compressed(input);
    Bytes out(input.size());
    const CoderResult result = ShannonFanoUncompress(stream, out);
    EXPECT_TRUE(result.Ok());
    EXPECT_EQ(result.length, input.size());
    EXPECT_EQ(out, input);
    // Without its last byte the stream cannot give every byte back.
    const Bytes cut(stream.begin(), stream.end() - 1);
    EXPECT_FALSE(ShannonFanoUncompress(cut, out).Ok());
}

// Every length up to a few hundred bytes, of data whose codes are mostly one
// or two bits (the output's end is met first) and of random bytes (the
// input's end is met first): the decoder's fast reads stop where they must
// and the careful steps finish the rest.
TEST(PrefixCoder, EveryShortLengthRoundTrips) {
    const Bytes skewed = test::SkewedBytes(400, 3);
    const Bytes random = test::RandomBytes(400, 4);
    for (const Bytes* source : {&skewed, &random})
        for (size_t length = 1; length <= source->size(); ++length) {
            const Bytes input(source->begin(), source->begin() + static_cast<std::ptrdiff_t>(length));
            const Bytes stream = Compressed(input);
            Bytes out(length);
            const CoderResult result = ShannonFanoUncompress(stream, out);
            ASSERT_TRUE(result.Ok()) << length;
            EXPECT_EQ(out, input) << length;
        }
}

// The coding loops have a build for any x86-64 and one for BMI2, taken where
// the processor has it: both must write the same stream and read it back,
// over inputs long enough for the writer's pair loop (past 1 MiB) and the
// reader's run loop.
TEST(PrefixCoder, PlainAndBmi2LoopsAgree) {
    const bool saved = coder_internal::useBmi2;
    for (size_t length : {size_t{1}, size_t{9}, size_t{400}, size_t{100000}, (size_t{1} << 20) + 4099})
        for (const Bytes& input : {test::SkewedBytes(length, 5), test::RandomBytes(length, 6), Alternating(length)}) {
            Bytes streams[2];
            for (int bmi2 = 0; bmi2 < 2; ++bmi2) {
                coder_internal::useBmi2 = bmi2 == 1;
                streams[bmi2] = Compressed(input);
                Bytes out(input.size());
                const CoderResult result = ShannonFanoUncompress(streams[bmi2], out);
                EXPECT_TRUE(result.Ok()) << length << ' ' << bmi2;
                EXPECT_EQ(out, input) << length << ' ' << bmi2;
            }
            EXPECT_EQ(streams[0], streams[1]) << length;
        }
    coder_internal::useBmi2 = saved;
}

}  // namespace
}  // namespace qob
