// tests/runtime/data/coders_test.cpp
// All three coders: round trips, their size bounds, writers that stop at
// capacity, and decoders fed cut, damaged or random streams.
#include "runtime/data/coders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "runtime/data/coder_samples.h"

namespace qob {
namespace {

using test::Bytes;

struct Method {
    CoderMethod method;
    const char* name;
    bool restoresWholeOutput;  // decodes exactly output.size() bytes
};

constexpr Method kMethods[] = {
    {CoderMethod::Rle, "rle", false},
    {CoderMethod::ShannonFano, "prefix", true},
    {CoderMethod::Lz, "lz", false},
};

struct Sample {
    std::string name;
    Bytes bytes;
};

Bytes AllValues(int times) {
    Bytes bytes;
    for (int t = 0; t < times; ++t)
        for (int v = 0; v < 256; ++v)
            bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

std::vector<Sample> Samples() {
    return {
        {"empty", {}},
        {"one byte 0x00", {0x00}},
        {"one byte 0xFF", {0xFF}},
        {"two bytes", {0x41, 0x42}},
        {"all one byte", Bytes(5000, 0x41)},
        {"all zero", Bytes(70000, 0x00)},
        {"every value once", AllValues(1)},
        {"every value often", AllValues(40)},
        {"incompressible", test::RandomBytes(4096, 1)},
        {"runs", test::RunBytes(50000, 2)},
        {"two letters", test::SmallAlphabetBytes(20000, 2, 3)},
        {"skewed", test::SkewedBytes(60000, 4)},
        {"text", test::TextLikeBytes(65536, 5)},
        {"random 1 MB", test::RandomBytes(1 << 20, 6)},
        {"runs 1 MB", test::RunBytes(1 << 20, 7)},
    };
}

Bytes CompressWhole(const Method& m, const Bytes& input) {
    Bytes out(CompressBound(m.method, input.size()));
    const CoderResult result = Compress(m.method, input, out);
    EXPECT_TRUE(result.Ok()) << m.name << " status " << static_cast<int>(result.status);
    EXPECT_LE(result.length, out.size());
    out.resize(result.length);
    return out;
}

TEST(Coders, RoundTripRestoresEveryInputWithinTheBound) {
    for (const Sample& sample : Samples()) {
        for (const Method& m : kMethods) {
            SCOPED_TRACE(sample.name + " / " + m.name);
            const Bytes packed = CompressWhole(m, sample.bytes);
            EXPECT_EQ(packed.empty(), sample.bytes.empty());
            Bytes restored(sample.bytes.size());
            const CoderResult result = Uncompress(m.method, packed, restored);
            ASSERT_TRUE(result.Ok()) << static_cast<int>(result.status);
            EXPECT_EQ(result.length, sample.bytes.size());
            EXPECT_TRUE(restored == sample.bytes);
        }
    }
}

TEST(Coders, SameInputGivesSameBytes) {
    // The partly filled last byte must not carry whatever the buffer held.
    const Bytes input = test::SkewedBytes(1001, 9);
    for (const Method& m : kMethods) {
        Bytes zeros(CompressBound(m.method, input.size()), 0x00);
        Bytes ones(zeros.size(), 0xFF);
        const CoderResult a = Compress(m.method, input, zeros);
        const CoderResult b = Compress(m.method, input, ones);
        ASSERT_TRUE(a.Ok() && b.Ok()) << m.name;
        ASSERT_EQ(a.length, b.length) << m.name;
        EXPECT_TRUE(std::equal(zeros.begin(), zeros.begin() + a.length, ones.begin())) << m.name;
    }
}

TEST(Coders, WorstCaseInputsStayWithinTheBound) {
    // Every value present and the marker spread alone: each costs two bytes.
    // For the prefix coder, skewed counts give the longest codes.
    const std::vector<Bytes> inputs = {AllValues(3), test::RandomBytes(256 * 64, 10),
                                       test::SkewedBytes(100000, 11)};
    for (const Bytes& input : inputs)
        for (const Method& m : kMethods)
            EXPECT_LE(CompressWhole(m, input).size(), CompressBound(m.method, input.size()))
                << m.name;
}

TEST(Coders, CompressorStopsAtTheOutputCapacity) {
    const Bytes input = test::TextLikeBytes(3000, 12);
    constexpr uint8_t kGuard = 0xA5;
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        const size_t needed = CompressWhole(m, input).size();
        for (size_t capacity : {size_t{0}, size_t{1}, needed / 2, needed - 1, needed}) {
            Bytes out(capacity + 16, kGuard);
            const CoderResult result = Compress(m.method, input, std::span(out).first(capacity));
            EXPECT_EQ(result.Ok(), capacity == needed) << capacity;
            if (!result.Ok()) {
                EXPECT_EQ(result.status, CoderStatus::OutputFull);
            }
            EXPECT_LE(result.length, capacity);
            EXPECT_TRUE(std::all_of(out.begin() + capacity, out.end(),
                                    [](uint8_t b) { return b == kGuard; }))
                << "wrote past capacity " << capacity;
        }
    }
}

TEST(Coders, DecoderStopsAtTheOutputCapacity) {
    const Bytes input = test::TextLikeBytes(3000, 13);
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        const Bytes packed = CompressWhole(m, input);
        Bytes smaller(input.size() - 1);  // exact size: ASan sees any overrun
        const CoderResult result = Uncompress(m.method, packed, smaller);
        if (m.restoresWholeOutput) {
            EXPECT_TRUE(result.Ok());
            EXPECT_TRUE(std::equal(smaller.begin(), smaller.end(), input.begin()));
        } else {
            EXPECT_EQ(result.status, CoderStatus::OutputFull);
            EXPECT_LE(result.length, smaller.size());
        }
    }
}

TEST(Coders, EveryCutStreamFailsOrGivesAPrefix) {
    const Bytes input = test::TextLikeBytes(1500, 14);
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        const Bytes packed = CompressWhole(m, input);
        for (size_t cut = 0; cut < packed.size(); ++cut) {
            const Bytes part(packed.begin(), packed.begin() + cut);  // exact size for ASan
            Bytes out(input.size());
            const CoderResult result = Uncompress(m.method, part, out);
            if (m.restoresWholeOutput) {
                // The stream's bits are all needed: none can go missing.
                EXPECT_EQ(result.status, CoderStatus::InputTruncated) << cut;
                continue;
            }
            if (!result.Ok()) {
                EXPECT_EQ(result.status, CoderStatus::InputTruncated) << cut;
            }
            ASSERT_LE(result.length, out.size());
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + result.length, input.begin())) << cut;
        }
    }
}

TEST(Coders, DamagedStreamsStayInsideTheirBuffers) {
    const Bytes input = test::TextLikeBytes(2000, 15);
    std::mt19937 random(16);
    for (const Method& m : kMethods) {
        const Bytes packed = CompressWhole(m, input);
        for (int trial = 0; trial < 3000; ++trial) {
            Bytes damaged = packed;
            const int flips = 1 + trial % 4;
            for (int f = 0; f < flips; ++f)
                damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            Bytes out(input.size() + trial % 3 - 1);
            const CoderResult result = Uncompress(m.method, damaged, out);
            EXPECT_LE(result.length, out.size()) << m.name << " trial " << trial;
        }
    }
}

TEST(Coders, RandomGarbageStaysInsideItsBuffers) {
    std::mt19937 random(17);
    for (const Method& m : kMethods) {
        for (int seed = 0; seed < 4000; ++seed) {
            const Bytes garbage = test::RandomBytes(random() % 600, seed);
            Bytes out(random() % 5000);
            const CoderResult result = Uncompress(m.method, garbage, out);
            EXPECT_LE(result.length, out.size()) << m.name << " seed " << seed;
            if (m.restoresWholeOutput && result.Ok()) {
                EXPECT_EQ(result.length, out.size());
            }
        }
    }
}

TEST(Coders, UnknownMethodDoesNothing) {
    const auto bogus = static_cast<CoderMethod>(3);
    const Bytes input = test::BytesOf("data");
    Bytes out(16, 0x5A);
    EXPECT_EQ(CompressBound(bogus, input.size()), 0u);
    EXPECT_EQ(Compress(bogus, input, out).status, CoderStatus::UnknownMethod);
    EXPECT_EQ(Uncompress(bogus, input, out).status, CoderStatus::UnknownMethod);
    EXPECT_EQ(out, Bytes(16, 0x5A));
}

}  // namespace
}  // namespace qob
