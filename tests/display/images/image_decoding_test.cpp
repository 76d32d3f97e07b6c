// tests/display/images/image_decoding_test.cpp
// Decoded pictures against ImageMagick's decode of the same files: each
// format and variant made by convert from one picture of gradients and sharp
// edges, with the file's own bytes checked to hold the variant meant.
#include "display/images/image_decoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "display/images/image_file.h"
#include "image_test_support.h"
#include "platform/temp_directory.h"

namespace qob {
namespace {

using testing::DecodedSurface;
using testing::Picture;
using testing::Source;
using testing::TempDirectory;

constexpr int32_t kWidth = 37;   // odd, and no multiple of 8 or 16: padding, partial blocks
constexpr int32_t kHeight = 23;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}
uint32_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8; }

bool Contains(const std::vector<uint8_t>& bytes, std::string_view text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// What the PNG's header says: bit depth, colour type, interlace method.
std::function<bool(const std::vector<uint8_t>&)> PngIs(int depth, int colourType, bool interlaced, bool trns = false) {
    return [=](const std::vector<uint8_t>& b) {
        return b.size() > 29 && b[24] == depth && b[25] == colourType && b[28] == (interlaced ? 1 : 0) &&
               Contains(b, "tRNS") == trns;
    };
}

// The JPEG's frame marker (0xC0 baseline, 0xC2 progressive), its component
// count and first sampling byte, and the Adobe transform (-1: no marker).
struct JpegFacts {
    int frame = 0, components = 0, sampling = 0, adobe = -1;
};
JpegFacts ReadJpegFacts(const std::vector<uint8_t>& b) {
    JpegFacts facts;
    for (size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF;) {
        const int marker = b[i + 1];
        const size_t length = size_t(b[i + 2]) << 8 | b[i + 3];
        if ((marker == 0xC0 || marker == 0xC2) && i + 12 < b.size())
            facts.frame = marker, facts.components = b[i + 9], facts.sampling = b[i + 11];
        if (marker == 0xEE && i + 15 < b.size()) facts.adobe = b[i + 15];
        if (marker == 0xDA) break;
        i += 2 + length;
    }
    return facts;
}
std::function<bool(const std::vector<uint8_t>&)> JpegIs(int frame, int components, int sampling, int adobe = -1) {
    return [=](const std::vector<uint8_t>& b) {
        const JpegFacts facts = ReadJpegFacts(b);
        return facts.frame == frame && facts.components == components && facts.sampling == sampling &&
               facts.adobe == adobe;
    };
}

// The GIF's screen size, image offset, interlace flag and whether a graphic
// control block names a transparent colour.
std::function<bool(const std::vector<uint8_t>&)> GifIs(int screenWidth, int left, bool interlaced, bool transparent) {
    return [=](const std::vector<uint8_t>& b) {
        if (b.size() < 13 || int(Le16(b, 6)) != screenWidth) return false;
        size_t i = 13 + ((b[10] & 0x80) ? size_t(3) << ((b[10] & 7) + 1) : 0);
        bool seenTransparent = false;
        while (i + 10 < b.size() && b[i] == 0x21) {
            if (b[i + 1] == 0xF9) seenTransparent = (b[i + 3] & 1) != 0;
            i += 2;
            while (i < b.size() && b[i] != 0) i += b[i] + 1u;
            ++i;
        }
        return i + 10 < b.size() && b[i] == 0x2C && int(Le16(b, i + 1)) == left && ((b[i + 9] & 0x40) != 0) == interlaced &&
               seenTransparent == transparent;
    };
}

// The BMP's information header size, bits per pixel, compression, and for
// 16 bits the red mask.
std::function<bool(const std::vector<uint8_t>&)> BmpIs(uint32_t header, uint32_t bits, uint32_t compression,
                                                       uint32_t redMask = 0) {
    return [=](const std::vector<uint8_t>& b) {
        if (b.size() < 66 || Le32(b, 14) != header) return false;
        if (header == 12) return Le16(b, 24) == bits;
        return Le16(b, 28) == bits && Le32(b, 30) == compression && (redMask == 0 || Le32(b, 54) == redMask);
    };
}

struct Case {
    const char* name;
    Source source;
    std::vector<std::string> options;  // convert's, output file last
    std::function<bool(const std::vector<uint8_t>&)> holds;
    int steps;                         // tolerance per channel
    int32_t width = kWidth, height = kHeight;  // of the decoded picture
};

std::vector<Case> PngCases() {
    return {
        // PNG: exact when opaque and 8-bit, one step for alpha and 16-bit samples.
        {"png rgb", Source::Opaque, {"PNG24:p.png"}, PngIs(8, 2, false), 0},
        {"png rgb interlaced", Source::Opaque, {"-interlace", "PNG", "PNG24:p.png"}, PngIs(8, 2, true), 0},
        {"png palette", Source::Opaque, {"PNG8:p.png"}, PngIs(8, 3, false), 0},
        {"png palette interlaced", Source::Opaque, {"-interlace", "PNG", "PNG8:p.png"}, PngIs(8, 3, true), 0},
        {"png palette trns", Source::BinaryAlpha, {"PNG8:p.png"}, PngIs(8, 3, false, true), 0},
        {"png grey", Source::Opaque, {"-colorspace", "Gray", "-define", "png:color-type=0", "-depth", "8", "p.png"},
         PngIs(8, 0, false), 0},
        {"png grey 1-bit", Source::Opaque, {"-colorspace", "Gray", "-depth", "1", "-define", "png:bit-depth=1",
                                            "-define", "png:color-type=0", "p.png"}, PngIs(1, 0, false), 0},
        {"png grey 2-bit", Source::Opaque, {"-colorspace", "Gray", "-depth", "2", "-define", "png:bit-depth=2",
                                            "-define", "png:color-type=0", "p.png"}, PngIs(2, 0, false), 0},
        {"png grey 4-bit", Source::Opaque, {"-colorspace", "Gray", "-depth", "4", "-define", "png:bit-depth=4",
                                            "-define", "png:color-type=0", "p.png"}, PngIs(4, 0, false), 0},
        {"png grey trns", Source::Opaque, {"-colorspace", "Gray", "-depth", "8", "-transparent", "gray(30)",
                                           "-define", "png:color-type=0", "p.png"}, PngIs(8, 0, false, true), 0},
        {"png rgb trns", Source::Opaque, {"-transparent", "rgb(0,0,30)", "PNG24:p.png"}, PngIs(8, 2, false, true), 0},
        {"png grey 16-bit", Source::Opaque, {"-colorspace", "Gray", "-depth", "16", "-define", "png:color-type=0",
                                             "p.png"}, PngIs(16, 0, false), 1},
        {"png rgb 16-bit", Source::Opaque, {"PNG48:p.png"}, PngIs(16, 2, false), 1},
        {"png rgba", Source::Alpha, {"PNG32:p.png"}, PngIs(8, 6, false), 1},
        {"png rgba interlaced", Source::Alpha, {"-interlace", "PNG", "PNG32:p.png"}, PngIs(8, 6, true), 1},
        {"png rgba 16-bit", Source::Alpha, {"PNG64:p.png"}, PngIs(16, 6, false), 1},
        {"png grey alpha", Source::Alpha, {"-colorspace", "Gray", "-define", "png:color-type=4", "p.png"},
         PngIs(8, 4, false), 1},
    };
}

std::vector<Case> JpegCases() {
    return {
        // JPEG: one step (the two decoders may round the colour conversion apart).
        {"jpeg 4:2:0", Source::Opaque, {"-quality", "90", "-sampling-factor", "2x2", "p.jpg"}, JpegIs(0xC0, 3, 0x22), 1},
        {"jpeg 4:2:2", Source::Opaque, {"-quality", "90", "-sampling-factor", "2x1", "p.jpg"}, JpegIs(0xC0, 3, 0x21), 1},
        {"jpeg 4:4:4", Source::Opaque, {"-quality", "90", "-sampling-factor", "1x1", "p.jpg"}, JpegIs(0xC0, 3, 0x11), 1},
        {"jpeg progressive", Source::Opaque, {"-quality", "80", "-sampling-factor", "2x2", "-interlace", "JPEG", "p.jpg"},
         JpegIs(0xC2, 3, 0x22), 1},
        {"jpeg grey", Source::Opaque, {"-colorspace", "Gray", "p.jpg"}, JpegIs(0xC0, 1, 0x11), 1},
        {"jpeg grey progressive", Source::Opaque, {"-colorspace", "Gray", "-interlace", "JPEG", "p.jpg"},
         JpegIs(0xC2, 1, 0x11), 1},
        {"jpeg ycck", Source::Opaque, {"-colorspace", "CMYK", "p.jpg"}, JpegIs(0xC0, 4, 0x11, 2), 1},
    };
}

std::vector<Case> GifCases() {
    return {
        // GIF: exact.
        {"gif", Source::Opaque, {"p.gif"}, GifIs(kWidth, 0, false, false), 0},
        {"gif interlaced", Source::Opaque, {"-interlace", "GIF", "p.gif"}, GifIs(kWidth, 0, true, false), 0},
        {"gif transparent", Source::BinaryAlpha, {"p.gif"}, GifIs(kWidth, 0, false, true), 0},
        {"gif on a larger screen", Source::Opaque, {"-page", "50x40+5+7", "p.gif"}, GifIs(50, 5, false, false), 0, 50, 40},
    };
}

std::vector<Case> BmpCases() {
    return {
        // BMP: exact.
        {"bmp 24-bit", Source::Opaque, {"-type", "TrueColor", "BMP3:p.bmp"}, BmpIs(40, 24, 0), 0},
        {"bmp 32-bit", Source::Opaque, {"-type", "TrueColorAlpha", "BMP:p.bmp"}, BmpIs(124, 32, 3), 0},
        {"bmp 8-bit palette", Source::Opaque, {"-type", "Palette", "-compress", "None", "BMP3:p.bmp"}, BmpIs(40, 8, 0), 0},
        {"bmp 4-bit palette", Source::Opaque, {"-colors", "16", "-type", "Palette", "-compress", "None", "BMP3:p.bmp"},
         BmpIs(40, 4, 0), 0},
        {"bmp 1-bit palette", Source::Opaque, {"-monochrome", "-compress", "None", "BMP3:p.bmp"}, BmpIs(40, 1, 0), 0},
        {"bmp 16-bit 565", Source::Opaque, {"-define", "bmp:subtype=RGB565", "BMP:p.bmp"}, BmpIs(124, 16, 3, 0xF800), 0},
        {"bmp 16-bit 555", Source::Opaque, {"-define", "bmp:subtype=RGB555", "BMP:p.bmp"}, BmpIs(124, 16, 3, 0x7C00), 0},
        {"bmp core header", Source::Opaque, {"BMP2:p.bmp"}, BmpIs(12, 24, 0), 0},
        {"bmp core header palette", Source::Opaque, {"-type", "Palette", "BMP2:p.bmp"}, BmpIs(12, 8, 0), 0},
        {"bmp 8-bit run-length", Source::Opaque, {"-type", "Palette", "-compress", "RLE", "BMP3:p.bmp"},
         BmpIs(40, 8, 1), 0},
    };
}

// Decodes the file with ours and with ImageMagick; they agree within the
// case's tolerance.
void ExpectSameAsImageMagick(const std::string& path, const Case& c) {
    const std::optional<Picture> expected = testing::DecodeWithImageMagick(path, c.width, c.height);
    ASSERT_TRUE(expected.has_value()) << c.name << ": ImageMagick did not decode " << path;
    DecodedSurface surface(DecodeImageFile(path.c_str()));
    ASSERT_TRUE(surface) << c.name;
    EXPECT_EQ(surface->colorKey, -1) << c.name;
    EXPECT_TRUE(testing::NearPicture(surface.Pixels(), *expected, c.steps)) << c.name;
}

// Makes each case's file with convert, checks that it is the variant meant,
// and compares the two decodes.
void CheckCases(const std::vector<Case>& cases) {
    if (testing::FindConvert() == nullptr) GTEST_SKIP() << "ImageMagick is missing: run scripts/install-deps";
    for (const Case& c : cases) {
        TempDirectory directory;
        const std::string source = testing::WriteSource(directory.Path(), kWidth, kHeight, c.source);
        std::vector<std::string> arguments{source};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        // The output is "name" or "FORMAT:name"; it goes into the directory.
        const std::string& output = c.options.back();
        const size_t colon = output.find(':');
        const std::string prefix = colon == std::string::npos ? "" : output.substr(0, colon + 1);
        const std::string path = directory.Join(output.substr(prefix.size()));
        arguments.back() = prefix + path;
        ASSERT_TRUE(testing::RunConvert(arguments)) << c.name;
        ASSERT_TRUE(c.holds(testing::ReadFileToBytes(path))) << c.name << ": the file is not the variant meant";
        ExpectSameAsImageMagick(path, c);
    }
}

TEST(ImageDecodingTest, PngVariantsMatchImageMagick) { CheckCases(PngCases()); }
TEST(ImageDecodingTest, JpegVariantsMatchImageMagick) { CheckCases(JpegCases()); }
TEST(ImageDecodingTest, GifVariantsMatchImageMagick) { CheckCases(GifCases()); }
TEST(ImageDecodingTest, BmpVariantsMatchImageMagick) { CheckCases(BmpCases()); }

// Top-down rows (a negative height): the 24-bit file turned over by hand,
// then read by both.
TEST(ImageDecodingTest, TopDownBmpMatchesImageMagick) {
    if (testing::FindConvert() == nullptr) GTEST_SKIP() << "ImageMagick is missing: run scripts/install-deps";
    TempDirectory directory;
    const std::string source = testing::WriteSource(directory.Path(), kWidth, kHeight, Source::Opaque);
    const std::string bottomUp = directory.Join("up.bmp");
    ASSERT_TRUE(testing::RunConvert({source, "-type", "TrueColor", "BMP3:" + bottomUp}));
    const std::vector<uint8_t> file = testing::ReadFileToBytes(bottomUp);
    ASSERT_TRUE(BmpIs(40, 24, 0)(file));
    const size_t offset = Le32(file, 10), stride = (kWidth * 3 + 3) & ~size_t{3};
    ASSERT_EQ(file.size(), offset + stride * kHeight);
    std::vector<uint8_t> flipped(file.begin(), file.begin() + ptrdiff_t(offset));
    const int32_t negative = -kHeight;
    std::memcpy(&flipped[22], &negative, 4);
    for (int32_t row = kHeight - 1; row >= 0; --row) {
        const auto start = file.begin() + ptrdiff_t(offset + size_t(row) * stride);
        flipped.insert(flipped.end(), start, start + ptrdiff_t(stride));
    }
    const std::string topDown = directory.Join("down.bmp");
    testing::WriteBytesToFile(topDown, flipped);
    ExpectSameAsImageMagick(topDown, Case{"bmp top-down", Source::Opaque, {}, nullptr, 0});
    // The same rows as the bottom-up file, as well.
    DecodedSurface up(DecodeImageFile(bottomUp.c_str())), down(DecodeImageFile(topDown.c_str()));
    ASSERT_TRUE(up && down);
    EXPECT_EQ(up.Pixels(), down.Pixels());
}

// Plain CMYK, which convert does not write (its CMYK files are YCCK): made
// with libjpeg, inverted as the Adobe marker says, with black ink varying
// across the picture; ImageMagick reads it.
TEST(ImageDecodingTest, CmykJpegMatchesImageMagick) {
    if (testing::FindConvert() == nullptr) GTEST_SKIP() << "ImageMagick is missing: run scripts/install-deps";
    const std::vector<uint8_t> rgba = testing::MakeRgba(kWidth, kHeight, Source::Opaque);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, JCS_CMYK);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(size_t(kWidth) * 4);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t* pixel = &rgba[size_t(y * kWidth + x) * 4];
            // Inverted: 255 is no ink. Less black to the right.
            row[size_t(x) * 4 + 0] = pixel[0];
            row[size_t(x) * 4 + 1] = pixel[1];
            row[size_t(x) * 4 + 2] = pixel[2];
            row[size_t(x) * 4 + 3] = uint8_t(128 + x * 127 / (kWidth - 1));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::vector<uint8_t> file(buffer, buffer + size);
    std::free(buffer);
    ASSERT_TRUE(JpegIs(0xC0, 4, 0x11, 0)(file));
    TempDirectory directory;
    const std::string path = directory.Join("cmyk.jpg");
    testing::WriteBytesToFile(path, file);
    ExpectSameAsImageMagick(path, Case{"jpeg cmyk", Source::Opaque, {}, nullptr, 1});
}

// A run-length BMP of the given bits (4 or 8) with a 16-colour palette in
// which index 0 is not black, and the runs as they are.
std::vector<uint8_t> RunLengthBmp(int32_t width, int32_t height, uint16_t bits, const std::vector<uint8_t>& runs) {
    const uint32_t colours = 16, offset = 14 + 40 + 4 * colours;
    std::vector<uint8_t> file(offset + runs.size(), 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put32(2, uint32_t(offset + runs.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    file[26] = 1;
    file[28] = uint8_t(bits);
    put32(30, bits == 8 ? 1 : 2);
    put32(46, colours);
    for (uint32_t i = 0; i < colours; ++i) {  // blue, green, red, 0
        file[54 + 4 * i] = uint8_t(i * 16 + 8);
        file[55 + 4 * i] = uint8_t(255 - i * 16);
        file[56 + 4 * i] = uint8_t(i * 12 + 40);
    }
    std::copy(runs.begin(), runs.end(), file.begin() + offset);
    return file;
}

uint16_t PaletteColour(uint32_t index) { return PackRgb565(index * 12 + 40, 255 - index * 16, index * 16 + 8); }

// Encoded runs, plain (absolute) runs with their padding, pixels past the
// row's end, a move that skips a row, the end marker, and data cut short;
// pixels skipped or never reached are black, not palette colour 0. Runs that
// give no pixel at all are no picture.
TEST(ImageDecodingTest, RunLengthBmpRuns) {
    constexpr uint16_t kBlack = 0xFFFF;  // marks "black" below
    struct Case {
        const char* name;
        int32_t width, height;
        uint16_t bits;
        std::vector<uint8_t> runs;
        std::vector<std::vector<uint16_t>> rows;  // top row first: palette indexes, kBlack for black
        bool decoded = true;
    };
    const Case cases[] = {
        {"rle4 runs, plain pixels past the end, a skipped row", 6, 3, 4,
         {4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 2, 1, 2, 0x77, 0, 1},
         {{kBlack, kBlack, 7, 7, kBlack, kBlack}, {kBlack, kBlack, kBlack, kBlack, kBlack, kBlack}, {1, 2, 1, 2, 3, 4}}},
        {"rle4 odd plain run padded to a word", 4, 1, 4, {0, 3, 0x9A, 0xB0, 1, 0xC0, 0, 1}, {{9, 10, 11, 12}}},
        {"rle8 plain run with its pad byte, then a run", 5, 2, 8,
         {0, 3, 9, 8, 7, 0, 2, 15, 0, 0, 5, 1, 0, 1},
         {{1, 1, 1, 1, 1}, {9, 8, 7, 15, 15}}},
        {"rle8 run longer than the row", 3, 1, 8, {200, 5, 0, 1}, {{5, 5, 5}}},
        {"rle8 cut short inside a plain run", 4, 2, 8, {2, 3, 0, 0, 0, 4, 6},
         {{6, kBlack, kBlack, kBlack}, {3, 3, kBlack, kBlack}}},
        {"rle8 move past the top", 2, 2, 8, {2, 4, 0, 2, 0, 9, 1, 4}, {{kBlack, kBlack}, {4, 4}}},
        {"rle8 that gives no pixel before moving past the top", 2, 2, 8, {0, 2, 0, 9, 1, 4}, {}, false},
        {"rle8 with no run data", 2, 2, 8, {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = RunLengthBmp(c.width, c.height, c.bits, c.runs);
        DecodedSurface surface(DecodeImageMemory(file.data(), file.data() + file.size()));
        ASSERT_EQ(bool(surface), c.decoded);
        if (!c.decoded) continue;
        Picture expected(c.width, c.height);
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                const uint16_t index = c.rows[size_t(y)][size_t(x)];
                expected.At(x, y) = index == kBlack ? 0 : PaletteColour(index);
            }
        EXPECT_TRUE(testing::NearPicture(surface.Pixels(), expected, 0));
    }
    // Top-down run-length data is no BMP.
    std::vector<uint8_t> topDown = RunLengthBmp(2, 2, 8, {2, 1, 0, 1});
    topDown[25] = 0xFF, topDown[24] = 0xFF, topDown[23] = 0xFF, topDown[22] = 0xFE;  // height -2
    EXPECT_FALSE(DecodedSurface(DecodeImageMemory(topDown.data(), topDown.data() + topDown.size())));
}

}  // namespace
}  // namespace qob
