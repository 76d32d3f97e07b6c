// tests/platform/gdi/png_file_test.cpp
// Surfaces saved as PNG files read back with libpng directly, and writes
// that cannot succeed leaving nothing behind.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>

#include "../temp_directory.h"
#include "gdi_test_support.h"

namespace qob::platform {
namespace {

using testing::PatternPixel;
using testing::TestSurface;
using qob::testing::TempDirectory;

// The file's pixels as 0x00RRGGBB words; empty when it is no 8-bit RGB PNG.
std::vector<uint32_t> ReadPng(const std::string& path, int* width, int* height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return {};
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    std::vector<uint32_t> pixels(image.width * image.height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint32_t{bytes[3 * i]} << 16 | uint32_t{bytes[3 * i + 1]} << 8 | bytes[3 * i + 2];
    return pixels;
}

TEST(GdiPngFile, ASavedSurfaceReadsBackPixelForPixel) {
    TempDirectory folder;
    TestSurface target(37, 21, 40);  // padding in each row is not written
    const std::string path = folder.Path() + "/surface.png";
    ASSERT_TRUE(SaveSurfacePng(target.surface, path));
    int width = 0, height = 0;
    const std::vector<uint32_t> pixels = ReadPng(path, &width, &height);
    ASSERT_EQ(width, 37);
    ASSERT_EQ(height, 21);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(pixels[static_cast<size_t>(y) * 37 + x], PatternPixel(x, y)) << x << "," << y;
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));

    // Saving again replaces the file.
    target.FillPattern();
    target.At(0, 0) = 0x123456;
    ASSERT_TRUE(SaveSurfacePng(target.surface, path));
    EXPECT_EQ(ReadPng(path, &width, &height)[0], 0x123456u);
}

TEST(GdiPngFile, WritesThatCannotSucceedLeaveNothing) {
    TempDirectory folder;
    TestSurface target(4, 4);
    const std::string missing = folder.Path() + "/no such folder/surface.png";
    EXPECT_FALSE(SaveSurfacePng(target.surface, missing));
    EXPECT_FALSE(std::filesystem::exists(missing + ".partial"));
    Surface32 empty = target.surface;
    empty.width = 0;
    const std::string path = folder.Path() + "/empty.png";
    EXPECT_FALSE(SaveSurfacePng(empty, path));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(SaveSurfacePng(Surface32{}, path));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace qob::platform
