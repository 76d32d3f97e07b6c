// tests/platform/resources_test.cpp
// The resource table: resources registered in memory and files under
// "resources/<TYPE>/<NAME>" of the application directory, by text or integer
// type and name, without regard to case.
#include "platform/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/temp_directory.h"
#include "platform/text_codec.h"

namespace qob::platform {
namespace {

using testing::ScopedEnvironment;
using testing::TempDirectory;

// A UTF-16 text that lives as long as the object.
struct Wide {
    explicit Wide(std::string_view text) : units(DecodeAnsi(text)) { units.push_back(0); }
    operator ResourceText() const { return units.data(); }
    std::vector<uint16_t> units;
};

std::string BytesOf(const void* module, ResourceHandle found) {
    const void* data = LockResource(LoadResource(module, found));
    if (!data) return "<null>";
    return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override { ForgetRegisteredResources(); }
    void TearDown() override { ForgetRegisteredResources(); }
    TempDirectory dir;
    ScopedEnvironment root{"QOB_ROOT", dir.Path().c_str()};
};

TEST_F(ResourcesTest, KeysOfTextsAndIntegers) {
    struct Case {
        ResourceText text;
        const char* key;
    };
    const Wide wave("wave"), hashed("#0101"), digits("0101"), mixed("Snd_1.x"), utf8("klänge");
    const Case kCases[] = {
        {MakeIntResource(101), "101"}, {MakeIntResource(0), "0"},     {MakeIntResource(65535), "65535"},
        {wave, "WAVE"},                {hashed, "101"},                {digits, "101"},
        {mixed, "SND_1.X"},            {utf8, "KLäNGE"},
    };
    for (const Case& c : kCases) EXPECT_EQ(ResourceKey(c.text), c.key) << c.key;
}

TEST_F(ResourcesTest, RegisteredResourcesAreFoundByTextOrIntegerWithoutRegardToCase) {
    RegisterResource("Wave", "101", "abc");
    RegisterResource("PTMOD", "Tune", std::string("\0\1\2", 3));
    EXPECT_EQ(BytesOf(nullptr, FindResourceW(nullptr, MakeIntResource(101), Wide("WAVE"))), "abc");
    EXPECT_EQ(BytesOf(nullptr, FindResourceW(nullptr, Wide("#101"), Wide("wave"))), "abc");
    EXPECT_EQ(BytesOf(nullptr, FindResourceW(nullptr, Wide("tune"), Wide("ptmod"))), std::string("\0\1\2", 3));
    const auto executable = reinterpret_cast<const void*>(kExecutableModule);
    EXPECT_EQ(BytesOf(executable, FindResourceW(executable, Wide("TUNE"), Wide("PTMOD"))), std::string("\0\1\2", 3));

    EXPECT_EQ(FindResourceW(nullptr, MakeIntResource(102), Wide("WAVE")), nullptr);
    EXPECT_EQ(FindResourceW(nullptr, MakeIntResource(101), Wide("PTMOD")), nullptr);
    EXPECT_EQ(FindResourceW(reinterpret_cast<const void*>(0x20000), MakeIntResource(101), Wide("WAVE")), nullptr)
        << "another module carries no resources";
}

TEST_F(ResourcesTest, NullHandleGivesNoDataAndSizeZero) {
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
    EXPECT_EQ(LockResource(nullptr), nullptr);
}

TEST_F(ResourcesTest, FilesBesideTheExecutableAreFoundWithoutRegardToCase) {
    dir.Write("resources/Wave/101", "file 101");
    dir.Write("resources/Wave/Boom.wav", "boom");
    EXPECT_EQ(BytesOf(nullptr, FindResourceW(nullptr, MakeIntResource(101), Wide("WAVE"))), "file 101");
    EXPECT_EQ(BytesOf(nullptr, FindResourceW(nullptr, Wide("BOOM.WAV"), Wide("wave"))), "boom");
    EXPECT_EQ(FindResourceW(nullptr, Wide("other"), Wide("WAVE")), nullptr);
    dir.MakeDirectory("resources/WAVE/sub");
    EXPECT_EQ(FindResourceW(nullptr, Wide("sub"), Wide("WAVE")), nullptr) << "a folder is not a resource";
}

TEST_F(ResourcesTest, NamesThatWouldLeaveTheFolderAreNotFound) {
    dir.Write("resources/WAVE/x", "x");
    dir.Write("secret", "s");
    for (const char* name : {"../../secret", "..", ".", "", "a/b", "a\\b"})
        EXPECT_EQ(FindResourceW(nullptr, Wide(name), Wide("WAVE")), nullptr) << name;
    EXPECT_EQ(FindResourceW(nullptr, Wide("x"), Wide("..")), nullptr);
}

TEST_F(ResourcesTest, MemoryHidesFileAndReplacedDataStaysValid) {
    dir.Write("resources/WAVE/7", "from file");
    const ResourceHandle fromFile = FindResourceW(nullptr, MakeIntResource(7), Wide("WAVE"));
    const void* fileData = LockResource(LoadResource(nullptr, fromFile));
    RegisterResource("WAVE", "7", "first");
    const void* first = LockResource(LoadResource(nullptr, FindResourceW(nullptr, MakeIntResource(7), Wide("WAVE"))));
    RegisterResource("WAVE", "#7", "second");
    EXPECT_EQ(BytesOf(nullptr, FindResourceW(nullptr, MakeIntResource(7), Wide("WAVE"))), "second");
    EXPECT_EQ(std::memcmp(first, "first", 5), 0) << "data handed out before a replacement is kept";
    ForgetRegisteredResources();
    EXPECT_EQ(std::memcmp(fileData, "from file", 9), 0);
    EXPECT_EQ(BytesOf(nullptr, FindResourceW(nullptr, MakeIntResource(7), Wide("WAVE"))), "from file");
}

TEST_F(ResourcesTest, FileIsReadOnceAndKept) {
    dir.Write("resources/WAVE/1", "one");
    const ResourceHandle found = FindResourceW(nullptr, MakeIntResource(1), Wide("WAVE"));
    dir.Write("resources/WAVE/1", "changed");
    EXPECT_EQ(FindResourceW(nullptr, MakeIntResource(1), Wide("WAVE")), found);
    EXPECT_EQ(BytesOf(nullptr, found), "one");
}

}  // namespace
}  // namespace qob::platform
