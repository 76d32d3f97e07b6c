// tests/display/images/image_resource_test.cpp
// Pictures among the resources: none registered gives nothing; a registered
// one, in memory or as a file of the resources folder, decodes.
#include "display/images/image_resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/images/image_decoding.h"
#include "image_test_support.h"
#include "platform/gdi.h"
#include "platform/temp_directory.h"

namespace qob {
namespace {

using testing::DecodedSurface;
using testing::ScopedEnvironment;
using testing::TempDirectory;

std::u16string Wide(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }
platform::ResourceText Text(const std::u16string& text) {
    return reinterpret_cast<platform::ResourceText>(text.c_str());
}

class ImageResourceTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ForgetRegisteredResources(); }
    TempDirectory directory;
    ScopedEnvironment root{"QOB_ROOT", (directory.Path() + "/").c_str()};
};

TEST_F(ImageResourceTest, NoSuchResourceGivesNothing) {
    const std::u16string name = Wide("LOGO"), type = Wide("PNG");
    EXPECT_FALSE(DecodedSurface(LoadImageResource(Text(name), Text(type), nullptr)));
    EXPECT_FALSE(DecodedSurface(LoadImageResource(platform::MakeIntResource(101), Text(type), nullptr)));
}

TEST_F(ImageResourceTest, RegisteredPicturesDecode) {
    const std::vector<uint8_t> png = testing::ReadSeed("png_image", "rgb.png");
    const std::vector<uint8_t> gif = testing::ReadSeed("gif_image", "plain.gif");
    platform::RegisterResource("PNG", "logo", std::string(png.begin(), png.end()));
    platform::RegisterResource("IMAGE", "#101", std::string(gif.begin(), gif.end()));
    platform::RegisterResource("PNG", "broken", "not a picture");
    const std::u16string logo = Wide("Logo"), png16 = Wide("png"), image = Wide("IMAGE"), broken = Wide("BROKEN");
    DecodedSurface fromName(LoadImageResource(Text(logo), Text(png16), nullptr));
    ASSERT_TRUE(fromName);
    EXPECT_EQ(fromName.Width(), 11);
    EXPECT_EQ(fromName.Height(), 7);
    DecodedSurface fromNumber(LoadImageResource(platform::MakeIntResource(101), Text(image),
                                                reinterpret_cast<const void*>(platform::kExecutableModule)));
    EXPECT_TRUE(fromNumber);
    EXPECT_FALSE(DecodedSurface(LoadImageResource(Text(broken), Text(png16), nullptr)));
    // Another module carries no resources.
    EXPECT_FALSE(DecodedSurface(LoadImageResource(Text(logo), Text(png16), reinterpret_cast<const void*>(0x20000))));
}

// A file "resources/<TYPE>/<NAME>" of the application directory is a resource.
TEST_F(ImageResourceTest, ResourceFilesDecode) {
    const std::vector<uint8_t> jpeg = testing::ReadSeed("jpeg_image", "baseline420.jpg");
    directory.Write("resources/JPEG/SPLASH", std::string(jpeg.begin(), jpeg.end()));
    const std::u16string name = Wide("splash"), type = Wide("jpeg");
    DecodedSurface surface(LoadImageResource(Text(name), Text(type), nullptr));
    ASSERT_TRUE(surface);
    EXPECT_EQ(surface.Width(), 11);
}

// Bitmap resources (type 2) are BMP files, or packed DIBs without the file
// header; they come through a device bitmap with the same pixels as the
// file's own decode, asked by type 2 or by a type that has no such name.
TEST_F(ImageResourceTest, BitmapResourcesComeThroughDeviceBitmaps) {
    for (const char* seed : {"rgb24.bmp", "palette8.bmp", "rgb565.bmp", "core4.bmp"}) {
        SCOPED_TRACE(seed);
        const std::vector<uint8_t> file = testing::ReadSeed("bmp_image", seed);
        DecodedSurface expected(DecodeImageMemory(file.data(), file.data() + file.size()));
        ASSERT_TRUE(expected);
        platform::RegisterResource("2", "whole", std::string(file.begin(), file.end()));
        platform::RegisterResource("2", "#7", std::string(file.begin() + 14, file.end()));
        const std::u16string whole = Wide("WHOLE"), png = Wide("PNG");
        DecodedSurface fromFile(LoadImageResource(Text(whole), kBitmapResource, nullptr));
        DecodedSurface fromPacked(LoadImageResource(platform::MakeIntResource(7), kBitmapResource, nullptr));
        DecodedSurface byOtherType(LoadImageResource(Text(whole), Text(png), nullptr));
        for (DecodedSurface* surface : {&fromFile, &fromPacked, &byOtherType}) {
            ASSERT_TRUE(*surface);
            EXPECT_EQ((*surface)->colorKey, -1);
            EXPECT_TRUE(testing::NearPicture(surface->Pixels(), expected.Pixels(), 0));
        }
        platform::ForgetRegisteredResources();
    }
    // Not a bitmap: nothing.
    platform::RegisterResource("2", "junk", "BM not really a bitmap");
    platform::RegisterResource("2", "short", std::string("\x28\0\0", 3));
    const std::u16string junk = Wide("junk"), shortName = Wide("short"), missing = Wide("missing");
    EXPECT_FALSE(DecodedSurface(LoadImageResource(Text(junk), kBitmapResource, nullptr)));
    EXPECT_FALSE(DecodedSurface(LoadImageResource(Text(shortName), kBitmapResource, nullptr)));
    EXPECT_FALSE(DecodedSurface(LoadImageResource(Text(missing), kBitmapResource, nullptr)));
    EXPECT_EQ(LoadBitmapResource(nullptr, Text(missing)), 0u);

    // Larger than a device bitmap can be: refused by its header, whether
    // packed or a whole file, however few bytes follow.
    for (const bool tall : {false, true}) {
        std::vector<uint8_t> file = testing::ReadSeed("bmp_image", "rle8.bmp");
        const size_t at = 14 + (tall ? 8 : 4);
        file[at] = 0x01, file[at + 1] = 0x10, file[at + 2] = 0, file[at + 3] = 0;  // 4097
        EXPECT_EQ(DeviceBitmapFromBytes(file), 0u) << tall;
        EXPECT_EQ(DeviceBitmapFromBytes(std::span(file).subspan(14)), 0u) << tall;
        file[at] = 0x00;  // 4096 fits
        const uintptr_t fits = DeviceBitmapFromBytes(file);
        EXPECT_NE(fits, 0u) << tall;
        platform::DeleteObject(fits);
    }
}

// A device bitmap's pixels, truncated to RGB565; handles that are no usable
// bitmap give nothing.
TEST_F(ImageResourceTest, BitmapToSurfaceCopiesTheBitmap) {
    const platform::HBITMAP bitmap = platform::CreateCompatibleBitmap(0, 5, 3);
    ASSERT_NE(bitmap, 0u);
    const platform::HDC memory = platform::CreateCompatibleDC(0);
    ASSERT_NE(platform::SelectObject(memory, bitmap), 0u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) platform::SetPixel(memory, x, y, platform::RGB(uint8_t(x * 60 + 7), uint8_t(y * 90 + 3), uint8_t(x * y * 20 + 5)));
    // Selected into a DC, it cannot be selected into the copy's.
    EXPECT_FALSE(DecodedSurface(BitmapToSurface(bitmap)));
    platform::DeleteDC(memory);

    DecodedSurface surface(BitmapToSurface(bitmap));
    ASSERT_TRUE(surface);
    EXPECT_EQ(surface.Width(), 5);
    EXPECT_EQ(surface.Height(), 3);
    const testing::Picture pixels = surface.Pixels();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(pixels.At(x, y), PackRgb565(uint32_t(x * 60 + 7), uint32_t(y * 90 + 3), uint32_t(x * y * 20 + 5)))
                << x << ", " << y;
    platform::DeleteObject(bitmap);

    const platform::HBRUSH brush = platform::CreateSolidBrush(0);
    EXPECT_FALSE(DecodedSurface(BitmapToSurface(brush)));
    platform::DeleteObject(brush);
    EXPECT_FALSE(DecodedSurface(BitmapToSurface(bitmap)));  // deleted
    EXPECT_FALSE(DecodedSurface(BitmapToSurface(0)));
}

}  // namespace
}  // namespace qob
