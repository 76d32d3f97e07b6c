// tests/sound/ms_adpcm_test.cpp
// The MS ADPCM decoder over blocks computed by hand, and the checks of the
// format's values that come before any decoding.
#include "sound/ms_adpcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "sound_file_support.h"

namespace qob {
namespace {

using testing::LittleEndian16;

// The seven standard coefficient pairs.
constexpr int kStandard[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

// A format chunk's bytes: the PCM fields, extension size, samples per block,
// coefficient count and the pairs.
std::string AdpcmFormatBytes(int channels, int blockAlign, int samplesPerBlock, int coefficientCount = 7) {
    std::string format = LittleEndian16(2) + LittleEndian16(channels) + testing::LittleEndian32(8000) +
                         testing::LittleEndian32(4000) + LittleEndian16(blockAlign) + LittleEndian16(4) +
                         LittleEndian16(32) + LittleEndian16(samplesPerBlock) + LittleEndian16(coefficientCount);
    for (const auto& pair : kStandard) format += LittleEndian16(pair[0]) + LittleEndian16(pair[1]);
    return format;
}

std::span<const uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::vector<int16_t> Decode(const AdpcmFormat& format, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(AdpcmDecodedBytes(format, data.size()));
    EXPECT_TRUE(DecodeAdpcm(format, data, out.data()));
    return testing::SixteenBitValues(std::string(out.begin(), out.end()));
}

TEST(MsAdpcm, HandBuiltBlocksDecode) {
    struct Case {
        const char* name;
        int channels, blockAlign, samplesPerBlock;
        std::vector<uint8_t> block;
        std::vector<int16_t> expected;
    };
    const Case kCases[] = {
        // Predictor 0 (256, 0); nibble 8 is -8.
        {"mono", 1, 9, 6, {0x00, 0x10, 0x00, 0x64, 0x00, 0x32, 0x00, 0x78, 0x0F}, {50, 100, 212, -92, -92, -194}},
        // Predictor 5 (460, -208): -252 / 256 rounds toward zero, to 0 (a
        // shift would give -1 and 15); the delta stays at least 16.
        {"toward zero", 1, 8, 4, {0x05, 0x10, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x01}, {0, -1, -1, 16}},
        // Stereo: per channel predictor, delta, sample 1, sample 2; the high
        // nibble to the left, the low to the right.
        {"stereo",
         2,
         16,
         4,
         {0x00, 0x00, 0x10, 0x00, 0x20, 0x00, 0x64, 0x00, 0xC8, 0x00, 0x0A, 0x00, 0x14, 0x00, 0x1F, 0x70},
         {10, 20, 100, 200, 116, 168, 228, 168}},
        // An odd number of codes in mono: the last byte's low nibble is unused.
        {"odd codes", 1, 8, 3, {0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}, {0, 0, 16}},
    };
    for (const Case& c : kCases) {
        const std::string formatBytes = AdpcmFormatBytes(c.channels, c.blockAlign, c.samplesPerBlock);
        const std::optional<AdpcmFormat> format = ReadAdpcmFormat(Bytes(formatBytes));
        ASSERT_TRUE(format) << c.name;
        EXPECT_EQ(Decode(*format, c.block), c.expected) << c.name;
    }
}

// Two blocks and a partial third: only whole blocks are decoded, each from
// its own header.
TEST(MsAdpcm, OnlyWholeBlocksAreDecoded) {
    const std::optional<AdpcmFormat> format = ReadAdpcmFormat(Bytes(AdpcmFormatBytes(1, 9, 6)));
    ASSERT_TRUE(format);
    std::vector<uint8_t> data = {0x00, 0x10, 0x00, 0x64, 0x00, 0x32, 0x00, 0x78, 0x0F,
                                 0x02, 0x10, 0x00, 0x05, 0x00, 0x07, 0x00, 0x00, 0x00,
                                 0x00, 0x10, 0x00};
    EXPECT_EQ(AdpcmDecodedBytes(*format, data.size()), 24u);
    EXPECT_EQ(Decode(*format, data), (std::vector<int16_t>{50, 100, 212, -92, -92, -194, 7, 5, 0, 0, 0, 0}));
}

// The largest delta hostile data can reach is held, so that delta x 768 and
// code x delta stay inside 32 bits (the sanitizer would stop an overflow).
TEST(MsAdpcm, DeltaGrowthIsBounded) {
    const int samplesPerBlock = 2 + 2 * 1000;
    const std::optional<AdpcmFormat> format = ReadAdpcmFormat(Bytes(AdpcmFormatBytes(1, 7 + 1000, samplesPerBlock)));
    ASSERT_TRUE(format);
    std::vector<uint8_t> block(7 + 999, 0x88);  // every code -8: delta x 768 / 256 each time
    const uint8_t header[] = {0x02, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00};  // predictor (0, 0), delta 32767
    std::copy(std::begin(header), std::end(header), block.begin());
    block.push_back(0x01);         // then 0 and +1: the held delta still fills the range
    const std::vector<int16_t> out = Decode(*format, block);
    ASSERT_EQ(out.size(), static_cast<size_t>(samplesPerBlock));
    EXPECT_EQ(out[out.size() - 3], -32768);
    EXPECT_EQ(out.back(), 32767);
}

TEST(MsAdpcm, FormatValuesAreCheckedBeforeDecoding) {
    struct Case {
        const char* name;
        std::string format;
        bool valid;
    };
    const Case kCases[] = {
        {"standard mono", AdpcmFormatBytes(1, 256, 500), true},
        {"largest samples per block", AdpcmFormatBytes(1, 256, 2 + (256 - 7) * 2), true},
        {"samples past the block", AdpcmFormatBytes(1, 256, 3 + (256 - 7) * 2), false},
        {"stereo largest", AdpcmFormatBytes(2, 512, 2 + (512 - 14)), true},
        {"stereo past the block", AdpcmFormatBytes(2, 512, 3 + (512 - 14)), false},
        {"block align 0", AdpcmFormatBytes(1, 0, 2), false},
        {"block align below the header", AdpcmFormatBytes(2, 13, 2), false},
        {"header only", AdpcmFormatBytes(2, 14, 2), true},
        {"one sample per block", AdpcmFormatBytes(1, 256, 1), false},
        {"no samples per block", AdpcmFormatBytes(1, 256, 0), false},
        {"six coefficients", AdpcmFormatBytes(1, 256, 500, 6), false},
        {"eight coefficients", AdpcmFormatBytes(1, 256, 500, 8), false},
        {"three channels", AdpcmFormatBytes(3, 256, 100), false},
        {"format tag 1", std::string(LittleEndian16(1)) + AdpcmFormatBytes(1, 256, 500).substr(2), false},
        {"cut short", AdpcmFormatBytes(1, 256, 500).substr(0, 49), false},
    };
    for (const Case& c : kCases) EXPECT_EQ(ReadAdpcmFormat(Bytes(c.format)).has_value(), c.valid) << c.name;
}

TEST(MsAdpcm, PredictorIndexAboveSixFails) {
    const std::optional<AdpcmFormat> format = ReadAdpcmFormat(Bytes(AdpcmFormatBytes(2, 16, 4)));
    ASSERT_TRUE(format);
    std::vector<uint8_t> block(16, 0);
    std::vector<uint8_t> out(AdpcmDecodedBytes(*format, block.size()));
    EXPECT_TRUE(DecodeAdpcm(*format, block, out.data()));
    block[1] = 7;  // the right channel's index
    EXPECT_FALSE(DecodeAdpcm(*format, block, out.data()));
    block[1] = 0xFF;
    EXPECT_FALSE(DecodeAdpcm(*format, block, out.data()));
}

TEST(MsAdpcm, DecodedSizeIsComputedIn64Bits) {
    AdpcmFormat format;
    format.channels = 2;
    format.blockAlign = 14;
    format.samplesPerBlock = 65535;
    EXPECT_EQ(AdpcmDecodedBytes(format, uint64_t{14} * 100000), uint64_t{100000} * 65535 * 2 * 2);
}

}  // namespace
}  // namespace qob
