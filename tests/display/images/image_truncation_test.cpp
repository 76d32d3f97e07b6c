// tests/display/images/image_truncation_test.cpp
// Pictures cut short: a file cut after some rows keeps the rows already
// decoded and the rest is black; one cut before its first row gives nothing.
// The files are made by convert (40 x 64, so that a cut falls among many
// rows) and cut at chosen places.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/images/image_decoding.h"
#include "image_test_support.h"
#include "platform/temp_directory.h"

namespace qob {
namespace {

using testing::DecodedSurface;
using testing::Picture;
using testing::Source;
using testing::TempDirectory;

constexpr int32_t kWidth = 40;
constexpr int32_t kHeight = 64;

// The file convert makes from the test picture with these options.
std::vector<uint8_t> MakeFile(const std::vector<std::string>& options, const std::string& output) {
    TempDirectory directory;
    std::vector<std::string> arguments{testing::WriteSource(directory.Path(), kWidth, kHeight, Source::Opaque)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const size_t colon = output.find(':');
    const std::string name = directory.Join("out");
    arguments.push_back(colon == std::string::npos ? name : output.substr(0, colon + 1) + name);
    EXPECT_TRUE(testing::RunConvert(arguments));
    return testing::ReadFileToBytes(name);
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& file, size_t length) {
    return std::vector<uint8_t>(file.begin(), file.begin() + ptrdiff_t(std::min(length, file.size())));
}

bool RowIsBlack(const Picture& picture, int32_t y) {
    for (int32_t x = 0; x < picture.width; ++x)
        if (picture.At(x, y) != 0) return false;
    return true;
}

bool SameRow(const Picture& a, const Picture& b, int32_t y) {
    for (int32_t x = 0; x < a.width; ++x)
        if (a.At(x, y) != b.At(x, y)) return false;
    return true;
}

// The rows of the cut picture, in the order the format stores them, are the
// whole picture's rows up to some row, then black to the end; the test
// picture has no black row of its own. Returns how many rows were kept.
int32_t ExpectKeptThenBlack(const Picture& cut, const Picture& whole, bool bottomUp) {
    int32_t kept = 0;
    for (; kept < cut.height; ++kept) {
        const int32_t y = bottomUp ? cut.height - 1 - kept : kept;
        if (!SameRow(cut, whole, y)) break;
    }
    for (int32_t i = kept; i < cut.height; ++i) {
        const int32_t y = bottomUp ? cut.height - 1 - i : i;
        EXPECT_TRUE(RowIsBlack(cut, y)) << "row " << y << " is neither the picture's nor black";
    }
    return kept;
}

class ImageTruncationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (testing::FindConvert() == nullptr) GTEST_SKIP() << "ImageMagick is missing: run scripts/install-deps";
    }
};

// Where the image data starts: the first IDAT chunk of a PNG, the image
// descriptor of a GIF, the pixels of a BMP.
size_t ImageDataStart(const std::vector<uint8_t>& b) {
    switch (DetectImageFormat(b)) {
        case ImageFormat::Png:
            return size_t(std::search(b.begin(), b.end(), std::begin("IDAT"), std::end("IDAT") - 1) - b.begin()) - 4;
        case ImageFormat::Gif: {
            size_t i = 13 + ((b[10] & 0x80) ? size_t(3) << ((b[10] & 7) + 1) : 0);
            while (b[i] == 0x21) {
                i += 2;
                while (b[i] != 0) i += b[i] + 1u;
                ++i;
            }
            EXPECT_EQ(b[i], 0x2C);
            return i;
        }
        case ImageFormat::Bmp: return size_t(b[10] | b[11] << 8);
        default: break;
    }
    ADD_FAILURE() << "not a row format";
    return 0;
}

// Cut at a fraction of the image data.
std::vector<uint8_t> CutInData(const std::vector<uint8_t>& file, double fraction) {
    const size_t start = ImageDataStart(file);
    return Cut(file, start + size_t(double(file.size() - start) * fraction));
}

// Rows at a fixed distance in the file: PNG stored without compression, GIF,
// and BMP (bottom-up). Cut in their image data, part of the rows remain.
TEST_F(ImageTruncationTest, RowFormatsKeepTheRowsBeforeTheCut) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        const char* output;
        bool bottomUp;
    };
    const Case cases[] = {
        {"png", {"-define", "png:compression-level=0", "-define", "png:compression-filter=0"}, "PNG24:", false},
        {"gif", {}, "GIF:", false},
        {"bmp", {"-type", "TrueColor"}, "BMP3:", true},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> file = MakeFile(c.options, c.output);
        DecodedSurface whole(ImageToSurface(file));
        ASSERT_TRUE(whole) << c.name;
        for (const double fraction : {0.3, 0.5, 0.8}) {
            DecodedSurface cut(ImageToSurface(CutInData(file, fraction)));
            ASSERT_TRUE(cut) << c.name << " " << fraction;
            ASSERT_EQ(cut.Width(), kWidth);
            ASSERT_EQ(cut.Height(), kHeight);
            const int32_t kept = ExpectKeptThenBlack(cut.Pixels(), whole.Pixels(), c.bottomUp);
            EXPECT_GT(kept, 0) << c.name << " " << fraction;
            EXPECT_LT(kept, kHeight) << c.name << " " << fraction;
        }
    }
}

// Interlaced rows arrive in passes: a cut keeps what the passes so far gave
// (the first pixel of the first pass among it) over black.
TEST_F(ImageTruncationTest, InterlacedFormatsKeepThePassesBeforeTheCut) {
    const std::vector<uint8_t> files[] = {
        MakeFile({"-interlace", "PNG", "-define", "png:compression-level=0"}, "PNG24:"),
        MakeFile({"-interlace", "GIF"}, "GIF:"),
    };
    for (const std::vector<uint8_t>& file : files) {
        const char* name = DetectImageFormat(file) == ImageFormat::Png ? "png" : "gif";
        DecodedSurface whole(ImageToSurface(file));
        ASSERT_TRUE(whole) << name;
        DecodedSurface cut(ImageToSurface(CutInData(file, 0.6)));
        ASSERT_TRUE(cut) << name;
        const Picture pixels = cut.Pixels(), wholePixels = whole.Pixels();
        EXPECT_EQ(pixels.At(0, 0), wholePixels.At(0, 0)) << name;
        EXPECT_NE(pixels, wholePixels) << name;
        int black = 0;
        for (uint16_t pixel : pixels.pixels) black += pixel == 0;
        EXPECT_GT(black, 0) << name;
    }
}

// Where each scan's data starts: just past each SOS segment.
std::vector<size_t> JpegScanStarts(const std::vector<uint8_t>& b) {
    std::vector<size_t> starts;
    for (size_t i = 2; i + 4 <= b.size(); ++i) {
        if (b[i] != 0xFF || b[i + 1] != 0xDA) continue;
        starts.push_back(i + 2 + (size_t(b[i + 2]) << 8 | b[i + 3]));
    }
    return starts;
}

// A baseline JPEG cut in its data keeps the iMCU rows read before the cut
// (the one being read when the data ran out among them), and the rows below
// are black; the iMCU rows of a 4:2:0 file are 16 pixels high.
TEST_F(ImageTruncationTest, BaselineJpegKeepsTheRowsWhoseDataArrived) {
    const std::vector<uint8_t> file = MakeFile({"-quality", "95", "-sampling-factor", "2x2"}, "JPEG:");
    DecodedSurface whole(ImageToSurface(file));
    ASSERT_TRUE(whole);
    const std::vector<size_t> scans = JpegScanStarts(file);
    ASSERT_EQ(scans.size(), 1u);
    const size_t dataBytes = file.size() - 2 - scans[0];
    for (const double fraction : {0.1, 0.4, 0.6}) {
        DecodedSurface cut(ImageToSurface(Cut(file, scans[0] + size_t(double(dataBytes) * fraction))));
        ASSERT_TRUE(cut) << fraction;
        const Picture pixels = cut.Pixels(), wholePixels = whole.Pixels();
        int32_t black = kHeight;
        while (black > 0 && RowIsBlack(pixels, black - 1)) --black;
        EXPECT_EQ(black % 16, 0) << fraction;
        EXPECT_GT(black, 0) << fraction;
        EXPECT_LT(black, kHeight) << fraction;
        // The iMCU rows above the last one kept are the picture's own, but
        // for their last row, whose colour is smoothed with the next.
        for (int32_t y = 0; y + 17 < black; ++y) EXPECT_TRUE(SameRow(pixels, wholePixels, y)) << fraction << " row " << y;
    }
    // Without only its end-of-image marker, nothing is lost.
    DecodedSurface noEnd(ImageToSurface(Cut(file, file.size() - 2)));
    ASSERT_TRUE(noEnd);
    EXPECT_EQ(noEnd.Pixels(), whole.Pixels());
    // Cut where its data begins, it has no row.
    EXPECT_FALSE(DecodedSurface(ImageToSurface(Cut(file, scans[0]))));
}

// A progressive JPEG cut in a later scan keeps the whole picture the scans
// before gave (no black row); cut in its first scan, the rows below the data
// are black.
TEST_F(ImageTruncationTest, ProgressiveJpegKeepsWhatItsScansGave) {
    const std::vector<uint8_t> file =
        MakeFile({"-quality", "95", "-sampling-factor", "2x2", "-interlace", "JPEG"}, "JPEG:");
    DecodedSurface whole(ImageToSurface(file));
    ASSERT_TRUE(whole);
    const std::vector<size_t> scans = JpegScanStarts(file);
    ASSERT_GT(scans.size(), 3u);
    DecodedSurface late(ImageToSurface(Cut(file, scans[scans.size() - 1] + 10)));
    ASSERT_TRUE(late);
    const Picture latePixels = late.Pixels();
    for (int32_t y = 0; y < kHeight; ++y) EXPECT_FALSE(RowIsBlack(latePixels, y)) << "row " << y;
    DecodedSurface early(ImageToSurface(Cut(file, scans[0] + (scans[1] - scans[0]) / 3)));
    ASSERT_TRUE(early);
    const Picture earlyPixels = early.Pixels();
    EXPECT_FALSE(RowIsBlack(earlyPixels, 0));
    EXPECT_TRUE(RowIsBlack(earlyPixels, kHeight - 1));
    EXPECT_FALSE(DecodedSurface(ImageToSurface(Cut(file, scans[0]))));
}

// Cut before the first row: nothing.
TEST_F(ImageTruncationTest, CutsBeforeTheFirstRowGiveNothing) {
    const std::vector<uint8_t> png = MakeFile({}, "PNG24:");
    const std::vector<uint8_t> gif = MakeFile({}, "GIF:");
    const std::vector<uint8_t> bmp = MakeFile({"-type", "TrueColor"}, "BMP3:");
    const size_t idat = size_t(std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1) - png.begin());
    const size_t bmpFirstRowEnd = size_t(bmp[10] | bmp[11] << 8) + kWidth * 3;
    // The GIF's image descriptor: past the screen, its colour table and the
    // extensions.
    size_t image = 13 + ((gif[10] & 0x80) ? size_t(3) << ((gif[10] & 7) + 1) : 0);
    while (gif[image] == 0x21) {
        image += 2;
        while (gif[image] != 0) image += gif[image] + 1u;
        ++image;
    }
    ASSERT_EQ(gif[image], 0x2C);
    const std::pair<const char*, std::vector<uint8_t>> cuts[] = {
        {"png at its image data", Cut(png, idat + 4)},
        {"png in its header", Cut(png, 20)},
        {"gif after its screen", Cut(gif, 13)},
        {"gif with its image's first data block cut", Cut(gif, image + 14)},
        {"bmp within its first row", Cut(bmp, bmpFirstRowEnd - 1)},
        {"bmp in its header", Cut(bmp, 30)},
    };
    for (const auto& [name, bytes] : cuts) EXPECT_FALSE(DecodedSurface(ImageToSurface(bytes))) << name;
    EXPECT_TRUE(DecodedSurface(ImageToSurface(Cut(bmp, bmpFirstRowEnd)))) << "bmp with its first row whole";
}

}  // namespace
}  // namespace qob
