// tests/display/bitmap_file_test.cpp
// Saving surfaces as ".bmp": the exact bytes of small files, ImageMagick
// reading saved files back, where files go, and failures that leave no file.
#include "display/bitmap_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "display_test_support.h"
#include "platform/files.h"
#include "platform/temp_directory.h"

namespace qob {
namespace {

using testing::FramedTarget;
using testing::OwnedSurface;
using testing::Picture;
using testing::ScopedEnvironment;
using testing::TempDirectory;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::optional<std::string> bytes = platform::ReadFileBytes(path);
    EXPECT_TRUE(bytes.has_value()) << path;
    return bytes ? std::vector<uint8_t>(bytes->begin(), bytes->end()) : std::vector<uint8_t>{};
}

// The 66 header bytes for a w x h picture with rows of s bytes.
std::vector<uint8_t> Header(uint8_t fileSize, uint8_t width, uint8_t height, uint8_t imageSize) {
    return {'B', 'M', fileSize, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0,              // file header
            40, 0, 0, 0, width, 0, 0, 0, height, 0, 0, 0, 1, 0, 16, 0,         // size, w, h, planes, bits
            3, 0, 0, 0, imageSize, 0, 0, 0,                                     // BI_BITFIELDS, image size
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                     // resolutions, colours
            0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0x00, 0, 0};              // masks
}

// 3 x 2: 66 bytes of headers and two rows of 6 pixel bytes and 2 zero bytes,
// bottom row first. The target's own row gaps hold sentinels: the padding
// written must be zeros, not those.
TEST(SaveSurfaceBitmapTest, ThreeByTwoGivesEightyTwoBytes) {
    TempDirectory directory;
    FramedTarget target(3, 2);
    const uint16_t pixels[2][3] = {{0x0102, 0x0304, 0x0506}, {0xF800, 0x07E0, 0x001F}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) target.At(x, y) = pixels[y][x];
    const std::string name = directory.Join("three");
    ASSERT_EQ(SaveSurfaceBitmap(&target.surface, name.c_str()), 1);
    std::vector<uint8_t> expected = Header(82, 3, 2, 16);
    const std::vector<uint8_t> rows = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0,   // bottom row
                                       0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0, 0};  // top row
    expected.insert(expected.end(), rows.begin(), rows.end());
    EXPECT_EQ(ReadAll(name + ".bmp"), expected);
}

TEST(SaveSurfaceBitmapTest, FourByOneGivesSeventyFourBytesWithoutPadding) {
    TempDirectory directory;
    OwnedSurface surface(Picture(4, 1, 0xABCD));
    const std::string name = directory.Join("four");
    ASSERT_EQ(SaveSurfaceBitmap(surface, name.c_str()), 1);
    std::vector<uint8_t> expected = Header(74, 4, 1, 8);
    for (int i = 0; i < 4; ++i) expected.insert(expected.end(), {0xCD, 0xAB});
    EXPECT_EQ(ReadAll(name + ".bmp"), expected);
}

// ImageMagick (an independent reader) reads the saved pictures back: each of
// its 8-bit channels, cut to 5, 6 and 5 bits, is the surface's pixel.
TEST(SaveSurfaceBitmapTest, ImageMagickReadsThePixelsBack) {
    const char* convert = "/usr/bin/convert";
    if (access(convert, X_OK) != 0) GTEST_SKIP() << "ImageMagick is missing: run scripts/install-deps";
    TempDirectory directory;
    struct Size {
        int32_t width, height;
    };
    constexpr Size kSizes[] = {{1, 1}, {3, 2}, {4, 1}, {7, 5}, {16, 9}, {33, 17}};
    for (const Size& size : kSizes) {
        Picture picture(size.width, size.height);
        for (int32_t y = 0; y < size.height; ++y)
            for (int32_t x = 0; x < size.width; ++x)
                picture.At(x, y) = static_cast<uint16_t>(x * 2311 + y * 7919 + size.width * 13);
        picture.At(0, 0) = 0xFFFF;
        OwnedSurface surface(picture);
        const std::string name = directory.Join(std::string("p").append(std::to_string(size.width)));
        ASSERT_EQ(SaveSurfaceBitmap(surface, name.c_str()), 1);
        const std::string command = std::string(convert) + " '" + name + ".bmp' -depth 8 rgb:- 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::vector<uint8_t> rgb;
        for (int c; (c = std::fgetc(pipe)) != EOF;) rgb.push_back(static_cast<uint8_t>(c));
        EXPECT_EQ(pclose(pipe), 0) << std::string(rgb.begin(), rgb.end());
        ASSERT_EQ(rgb.size(), size_t(3 * size.width * size.height)) << size.width << " x " << size.height;
        for (int32_t y = 0; y < size.height; ++y)
            for (int32_t x = 0; x < size.width; ++x) {
                const uint8_t* p = &rgb[size_t(3 * (y * size.width + x))];
                const uint16_t read = static_cast<uint16_t>(((p[0] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[2] >> 3));
                EXPECT_EQ(read, picture.At(x, y)) << size.width << " x " << size.height << " at " << x << "," << y;
            }
    }
}

// A name that does not start with a separator is saved in the application
// directory; one that does is used as it stands, with either separator.
TEST(SaveSurfaceBitmapTest, RelativeNamesGoToTheApplicationDirectory) {
    TempDirectory directory;
    ScopedEnvironment root("QOB_ROOT", (directory.Path() + "/").c_str());
    OwnedSurface surface(Picture(2, 2, 0x1234));
    ASSERT_EQ(SaveSurfaceBitmap(surface, "saved"), 1);
    EXPECT_TRUE(std::filesystem::exists(directory.Join("saved.bmp")));
    directory.MakeDirectory("sub");
    ASSERT_EQ(SaveSurfaceBitmap(surface, "sub\\inner"), 1);
    EXPECT_TRUE(std::filesystem::exists(directory.Join("sub/inner.bmp")));
    const std::string absolute = TempDirectory::Backslashed(directory.Join("absolute"));
    ASSERT_EQ(SaveSurfaceBitmap(surface, absolute.c_str()), 1);
    EXPECT_TRUE(std::filesystem::exists(directory.Join("absolute.bmp")));
}

TEST(SaveSurfaceBitmapTest, BadInputGivesZeroAndNoFile) {
    TempDirectory directory;
    OwnedSurface surface(Picture(2, 2, 0x1234));
    PixelSurface bufferless{nullptr, -1, nullptr, 0, true};
    const std::string name = directory.Join("bad");
    EXPECT_EQ(SaveSurfaceBitmap(nullptr, name.c_str()), 0);
    EXPECT_EQ(SaveSurfaceBitmap(&bufferless, name.c_str()), 0);
    EXPECT_EQ(SaveSurfaceBitmap(surface, nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(name + ".bmp"));
    EXPECT_EQ(SaveSurfaceBitmap(surface, directory.Join("missing/dir/name").c_str()), 0);
    directory.MakeDirectory("folder.bmp");
    EXPECT_EQ(SaveSurfaceBitmap(surface, directory.Join("folder").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(directory.Join("folder.bmp")));
}

// A write that fails part way (here: a file size limit, as a full disk would)
// is reported, and the truncated file is removed. Run in a child process so
// that the limit touches nothing else.
TEST(SaveSurfaceBitmapTest, FailedWriteGivesZeroAndRemovesThePartialFile) {
    TempDirectory directory;
    OwnedSurface surface(Picture(64, 64, 0x1234));
    const std::string name = directory.Join("partial");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 100;
        setrlimit(RLIMIT_FSIZE, &limit);
        const int result = SaveSurfaceBitmap(surface, name.c_str());
        _exit(result == 0 && !std::filesystem::exists(name + ".bmp") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(name + ".bmp"));
}

}  // namespace
}  // namespace qob
