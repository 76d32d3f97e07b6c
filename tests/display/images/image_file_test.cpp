// tests/display/images/image_file_test.cpp
// Picture files: how names resolve, what maps, what gives nothing, and
// surfaces saved as ".bmp" read back unchanged.
#include "display/images/image_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/bitmap_file.h"
#include "display/images/image_decoding.h"
#include "image_test_support.h"
#include "platform/temp_directory.h"

namespace qob {
namespace {

using testing::DecodedSurface;
using testing::OwnedSurface;
using testing::Picture;
using testing::ScopedEnvironment;
using testing::TempDirectory;

std::vector<uint8_t> Seed() { return testing::ReadSeed("bmp_image", "rgb24.bmp"); }

TEST(ResolvePathTest, RelativeNamesGoToTheApplicationDirectoryAndAbsoluteOnesStay) {
    ScopedEnvironment root("QOB_ROOT", "/srv/app/");
    std::string path = "unchanged";
    EXPECT_EQ(ResolvePath("", path), 0u);
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(ResolvePath("pics\\a.png", path), 19u);
    EXPECT_EQ(path, "/srv/app/pics\\a.png");
    EXPECT_EQ(ResolvePath("\\abs\\b.png", path), 10u);
    EXPECT_EQ(path, "\\abs\\b.png");
    EXPECT_EQ(ResolvePath("/abs/c.png", path), 10u);
    EXPECT_EQ(path, "/abs/c.png");
    // No fixed-size buffer: a name far past 260 characters comes through whole.
    const std::string longName = std::string(1000, 'n') + ".png";
    EXPECT_EQ(ResolvePath(longName, path), 9 + longName.size());
    EXPECT_EQ(path, "/srv/app/" + longName);
}

TEST(MapFileReadOnlyTest, MapsTheWholeFileAndUnmapsWhatWasThere) {
    TempDirectory directory;
    const std::string first = directory.Write("first.bin", "abc"), second = directory.Write("second.bin", "hello");
    MappedFile file;
    ASSERT_EQ(MapFileReadOnly(file, first), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.view), size_t(file.end - file.view)), "abc");
    ASSERT_EQ(MapFileReadOnly(file, second), 1);  // the first mapping goes first
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.view), size_t(file.end - file.view)), "hello");
    // A failed mapping leaves the record empty, the old mapping gone.
    EXPECT_EQ(MapFileReadOnly(file, directory.Join("missing.bin")), 0);
    EXPECT_EQ(file.view, nullptr);
    EXPECT_EQ(file.end, nullptr);
    UnmapFile(file);
    UnmapFile(file);
}

TEST(DecodeImageFileTest, MissingEmptyDirectoryAndNoPictureGiveNothing) {
    TempDirectory directory;
    const std::string empty = directory.Write("empty.bmp", "");
    const std::string text = directory.Write("text.bmp", "this is no picture at all, only words");
    const std::string folder = directory.MakeDirectory("folder.bmp");
    const std::string bare = directory.Write("bare.bmp", "BM");
    for (const std::string& path : {directory.Join("missing.bmp"), empty, text, folder, bare})
        EXPECT_FALSE(DecodedSurface(DecodeImageFile(path.c_str()))) << path;
    EXPECT_FALSE(DecodedSurface(DecodeImageFile(nullptr)));
    EXPECT_FALSE(DecodedSurface(DecodeImageFile("")));
    MappedFile file;
    EXPECT_EQ(MapFileReadOnly(file, empty), 0) << "an empty file does not map";
    EXPECT_EQ(MapFileReadOnly(file, folder), 0) << "a directory does not map";
}

// Relative names are found under QOB_ROOT, with either separator and in any
// letter case; a name with a leading separator is used as it stands.
TEST(DecodeImageFileTest, NamesResolveUnderTheRootInAnyCase) {
    TempDirectory directory;
    ScopedEnvironment root("QOB_ROOT", (directory.Path() + "/").c_str());
    const std::vector<uint8_t> seed = Seed();
    const std::string stored(seed.begin(), seed.end());
    directory.Write("Pictures/Hero.BMP", stored);
    for (const char* name : {"Pictures/Hero.BMP", "pictures\\hero.bmp", "PICTURES/HERO.bmp"}) {
        DecodedSurface surface(DecodeImageFile(name));
        ASSERT_TRUE(surface) << name;
        EXPECT_EQ(surface.Width(), 11) << name;
        EXPECT_EQ(surface.Height(), 7) << name;
    }
    const std::string absolute = TempDirectory::Backslashed(directory.Join("pictures/hero.bmp"));
    EXPECT_TRUE(DecodedSurface(DecodeImageFile(absolute.c_str())));
    EXPECT_TRUE(DecodedSurface(DecodeImageFile(directory.Join("PICTURES/hero.bmp").c_str())));
    // Without a leading separator the same absolute-looking text is relative.
    EXPECT_FALSE(DecodedSurface(DecodeImageFile(absolute.substr(1).c_str())));
}

// The format is told by the bytes, not the name.
TEST(DecodeImageFileTest, TheFormatComesFromTheContent) {
    TempDirectory directory;
    const std::vector<uint8_t> seed = Seed();
    const std::string path = directory.Write("really_a_bitmap.png", std::string(seed.begin(), seed.end()));
    EXPECT_TRUE(DecodedSurface(DecodeImageFile(path.c_str())));
}

// SaveSurfaceBitmap then DecodeImageFile: the same pixels, for widths 1 to 5
// (every padding of a 16-bit row) and a few heights.
TEST(DecodeImageFileTest, SavedBitmapsReadBackUnchanged) {
    TempDirectory directory;
    for (int32_t width = 1; width <= 5; ++width)
        for (int32_t height : {1, 2, 7}) {
            const Picture picture = testing::PatternPicture(width, height, uint16_t(width * 10 + height));
            OwnedSurface surface(picture);
            const std::string name = directory.Join("saved" + std::to_string(width) + "x" + std::to_string(height));
            ASSERT_EQ(SaveSurfaceBitmap(surface, name.c_str()), 1);
            DecodedSurface read(DecodeImageFile((name + ".bmp").c_str()));
            ASSERT_TRUE(read) << width << " x " << height;
            EXPECT_EQ(read.Pixels(), picture) << width << " x " << height;
        }
}

// A range that ends before its data begins, or a null end, is no picture.
TEST(DecodeImageMemoryTest, BadRangesGiveNothing) {
    const std::vector<uint8_t> seed = Seed();
    const uint8_t* start = seed.data();
    EXPECT_FALSE(DecodedSurface(DecodeImageMemory(start + 10, start)));
    EXPECT_FALSE(DecodedSurface(DecodeImageMemory(nullptr, start)));
    EXPECT_FALSE(DecodedSurface(DecodeImageMemory(start, nullptr)));
    EXPECT_FALSE(DecodedSurface(DecodeImageMemory(start, start)));
    EXPECT_TRUE(DecodedSurface(DecodeImageMemory(start, start + seed.size())));
}

}  // namespace
}  // namespace qob
