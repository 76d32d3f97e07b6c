// tests/display/images/image_resource_test.cpp
// Pictures among the resources: none registered gives nothing; a registered
// one, in memory or as a file of the resources folder, decodes.
#include "display/images/image_resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_test_support.h"
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

}  // namespace
}  // namespace qob
