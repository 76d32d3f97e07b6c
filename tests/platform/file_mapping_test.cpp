// tests/platform/file_mapping_test.cpp
// Whole-file read-only views: found as the file layer finds names, refused
// for what is not a non-empty regular file, and valid until unmapped.
#include "platform/file_mapping.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/temp_directory.h"

namespace qob::platform {
namespace {

using testing::TempDirectory;

std::string Text(const FileView& view) { return std::string(reinterpret_cast<const char*>(view.data), view.size); }

TEST(FileMappingTest, MapsTheWholeFileFoundInAnyCase) {
    TempDirectory directory;
    directory.Write("Data/Some.Bin", "bytes of the file");
    for (const std::string& name : {directory.Join("Data/Some.Bin"), directory.Join("data/SOME.bin"),
                                    TempDirectory::Backslashed(directory.Join("DATA/some.BIN"))}) {
        const std::optional<FileView> view = MapFileView(name);
        ASSERT_TRUE(view.has_value()) << name;
        EXPECT_EQ(Text(*view), "bytes of the file");
        UnmapFileView(*view);
    }
}

TEST(FileMappingTest, MissingEmptyAndDirectoriesDoNotMap) {
    TempDirectory directory;
    const std::string empty = directory.Write("empty", "");
    const std::string folder = directory.MakeDirectory("folder");
    for (const std::string& name : {directory.Join("missing"), empty, folder, std::string("/dev/null"), std::string()})
        EXPECT_FALSE(MapFileView(name).has_value()) << name;
}

// The view keeps the bytes it was made over after the file is deleted.
TEST(FileMappingTest, TheViewOutlivesTheFilesName) {
    TempDirectory directory;
    const std::string path = directory.Write("gone", "still here");
    const std::optional<FileView> view = MapFileView(path);
    ASSERT_TRUE(view.has_value());
    std::filesystem::remove(path);
    EXPECT_EQ(Text(*view), "still here");
    UnmapFileView(*view);
}

}  // namespace
}  // namespace qob::platform
