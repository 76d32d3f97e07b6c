// tests/runtime/data/rle_coder_test.cpp
// Run-length streams byte for byte, and the decoder on malformed items.
#include "runtime/data/rle_coder.h"

#include <gtest/gtest.h>

#include "runtime/data/coder_samples.h"

namespace qob {
namespace {

using test::Bytes;

Bytes Compressed(const Bytes& input) {
    Bytes out(RleCompressBound(input.size()));
    const CoderResult result = RleCompress(input, out);
    EXPECT_TRUE(result.Ok());
    out.resize(result.length);
    return out;
}

Bytes Repeat(uint8_t value, size_t count) {
    return Bytes(count, value);
}

TEST(RleCoder, WritesTheStreamByteForByte) {
    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    };
    const Case cases[] = {
        {"empty", {}, {}},
        // 0x00 does not occur, so it is the marker; 99 = 100 - 1.
        {"100 bytes 0x41", Repeat(0x41, 100), {0x00, 0x00, 0x63, 0x41}},
        {"one byte", {0x41}, {0x00, 0x41}},
        {"one zero byte: marker 1", {0x00}, {0x01, 0x00}},
        {"run of 3 is plain", Bytes{0x41, 0x41, 0x41, 0x42}, {0x00, 0x41, 0x41, 0x41, 0x42}},
        {"run of 4", Repeat(0x41, 4), {0x00, 0x00, 0x03, 0x41}},
        {"run of 128", Repeat(0x41, 128), {0x00, 0x00, 0x7F, 0x41}},
        {"run of 129", Repeat(0x41, 129), {0x00, 0x00, 0x80, 0x80, 0x41}},
        {"run of 32768", Repeat(0x41, 32768), {0x00, 0x00, 0xFF, 0xFF, 0x41}},
        // 32768 + 7232; 7231 = 0x1C3F.
        {"run of 40000", Repeat(0x41, 40000),
         {0x00, 0x00, 0xFF, 0xFF, 0x41, 0x00, 0x9C, 0x3F, 0x41}},
        // 0x00 and 0x01 both absent: the lower one is the marker.
        {"rarest lowest", Bytes{0x02, 0x03}, {0x00, 0x02, 0x03}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Compressed(c.input), c.expected) << c.name;
}

TEST(RleCoder, MarkerBytesInTheInputAreEscaped) {
    // Byte 0 occurs 3 times, every other value 4 times (as one run): 0 is the
    // rarest, so three 0 bytes become marker, 2 and each run marker, 3, b.
    Bytes input = Repeat(0x00, 3);
    Bytes expected = {0x00, 0x00, 0x02};
    for (int v = 1; v < 256; ++v) {
        input.insert(input.end(), 4, static_cast<uint8_t>(v));
        expected.insert(expected.end(), {0x00, 0x03, static_cast<uint8_t>(v)});
    }
    EXPECT_EQ(Compressed(input), expected);

    // Every value twice, 7 three times: the marker is 0, each lone 0 costs
    // marker, 0, and the stream reaches the bound exactly.
    input.clear();
    expected = {0x00};
    for (int round = 0; round < 2; ++round)
        for (int v = 0; v < 256; ++v) {
            input.push_back(static_cast<uint8_t>(v));
            if (v == 0)
                expected.insert(expected.end(), {0x00, 0x00});
            else
                expected.push_back(static_cast<uint8_t>(v));
        }
    input.push_back(7);
    expected.push_back(7);
    EXPECT_EQ(Compressed(input), expected);
}

TEST(RleCoder, DecoderRefusesMalformedItems) {
    struct Case {
        const char* name;
        Bytes stream;
        size_t capacity;
        CoderStatus status;
        Bytes output;  // what was written before the decoder stopped
    };
    const Case cases[] = {
        {"empty stream", {}, 4, CoderStatus::Ok, {}},
        {"marker only", {0x00}, 4, CoderStatus::Ok, {}},
        {"short marker forms", {0x00, 0x00, 0x00, 0x00, 0x02}, 4, CoderStatus::Ok,
         {0x00, 0x00, 0x00, 0x00}},
        {"marker at the end", {0x00, 0x41, 0x00}, 4, CoderStatus::InputTruncated, {0x41}},
        {"run without its byte", {0x00, 0x00, 0x05}, 8, CoderStatus::InputTruncated, {}},
        {"long count cut", {0x00, 0x00, 0x80}, 8, CoderStatus::InputTruncated, {}},
        {"long run without its byte", {0x00, 0x00, 0x80, 0x05}, 8, CoderStatus::InputTruncated, {}},
        // The long form always names its byte, even for a small count.
        {"long form, count 2", {0x00, 0x00, 0x80, 0x01, 0x41}, 8, CoderStatus::Ok, {0x41, 0x41}},
        {"run past capacity", {0x00, 0x42, 0x00, 0x7F, 0x41}, 127, CoderStatus::OutputFull, {0x42}},
        {"run fits exactly", {0x00, 0x00, 0x03, 0x41}, 4, CoderStatus::Ok, Repeat(0x41, 4)},
        {"plain byte past capacity", {0x00, 0x41, 0x42}, 1, CoderStatus::OutputFull, {0x41}},
        {"marker copies past capacity", {0x00, 0x00, 0x02}, 2, CoderStatus::OutputFull, {}},
        {"longest run", {0x01, 0x01, 0xFF, 0xFF, 0x00}, 32768, CoderStatus::Ok,
         Repeat(0x00, 32768)},
    };
    for (const Case& c : cases) {
        Bytes out(c.capacity);
        const CoderResult result = RleUncompress(c.stream, out);
        EXPECT_EQ(result.status, c.status) << c.name;
        ASSERT_EQ(result.length, c.output.size()) << c.name;
        EXPECT_TRUE(std::equal(c.output.begin(), c.output.end(), out.begin())) << c.name;
    }
}

}  // namespace
}  // namespace qob
