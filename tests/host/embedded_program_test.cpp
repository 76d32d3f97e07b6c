// tests/host/embedded_program_test.cpp
// The marker of a program carried inside an executable, and finding it.

#include "host/embedded_program.h"

#include <gtest/gtest.h>

#include "platform/temp_directory.h"

namespace qob {
namespace {

std::vector<uint8_t> BytesOf(std::string_view text) { return {text.begin(), text.end()}; }

TEST(EmbeddedProgramTest, TheMarkerIsItsTwelveCharacters) {
    // Compared one character at a time (shifted by one), so that this test
    // does not store the marker either.
    constexpr int kShifted[] = {'R', 'P', 'D', 'E', 'B', 'U', 'B', 'T', 'U', 'B', 'S', 'U'};
    const std::string marker = EmbeddedProgramMarker();
    ASSERT_EQ(marker.size(), std::size(kShifted));
    for (size_t i = 0; i < marker.size(); ++i) EXPECT_EQ(marker[i] + 1, kShifted[i]) << i;
}

TEST(EmbeddedProgramTest, FindsTheFirstWholeMarker) {
    const std::string marker = EmbeddedProgramMarker();
    const std::string partial = marker.substr(0, 11);
    struct Case {
        std::string bytes;
        std::optional<size_t> offset;
    };
    const Case cases[] = {
        {"", std::nullopt},
        {partial, std::nullopt},
        {"xx" + partial + "x" + marker + "image", 14},
        {marker, 0},
        {marker + marker, 0},
        {"abc" + marker, 3},
    };
    for (const Case& c : cases) EXPECT_EQ(FindEmbeddedMarker(BytesOf(c.bytes)), c.offset) << c.bytes;
}

TEST(EmbeddedProgramTest, ReadsWhatFollowsTheMarker) {
    testing::TempDirectory directory;
    const std::string marker = EmbeddedProgramMarker();
    const std::string with = directory.Write("with", "program code" + marker + "IMAGE" + marker + "more");
    const std::string empty = directory.Write("empty", "code" + marker);
    const std::string without = directory.Write("without", "just code");
    EXPECT_EQ(ReadEmbeddedProgram(with), BytesOf("IMAGE" + marker + "more"));
    EXPECT_EQ(ReadEmbeddedProgram(empty), std::vector<uint8_t>{});
    EXPECT_EQ(ReadEmbeddedProgram(without), std::nullopt);
    EXPECT_EQ(ReadEmbeddedProgram(directory.Join("missing")), std::nullopt);
}

// The file is read in pieces: a marker across two of them, or right at the
// start of one, is still found, and everything after it comes back.
TEST(EmbeddedProgramTest, MarkerAcrossTheReadsOfALongFile) {
    testing::TempDirectory directory;
    const std::string marker = EmbeddedProgramMarker();
    const std::string tail(200000, 'x');
    for (size_t before : {size_t{65530}, size_t{65536}, size_t{65536 - 11}, size_t{131072 + 3}}) {
        const std::string path = directory.Write("long", std::string(before, 'c') + marker + "IMAGE" + tail);
        const std::optional<std::vector<uint8_t>> image = ReadEmbeddedProgram(path);
        ASSERT_TRUE(image.has_value()) << before;
        EXPECT_EQ(*image, BytesOf("IMAGE" + tail)) << before;
    }
    const std::string half = marker.substr(0, 6);
    const std::string path = directory.Write("split", std::string(65530, 'c') + half + "zz" + marker.substr(6));
    EXPECT_EQ(ReadEmbeddedProgram(path), std::nullopt) << "two halves apart are no marker";
}

// A little-endian 64-bit ELF header with section headers right after it,
// and the first section's bytes after those.
std::string ElfFile(uint64_t sectionOffset, uint64_t sectionSize, uint32_t sectionType) {
    std::string bytes(64 + 2 * 64, '\0');
    auto put = [&bytes](size_t at, uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    bytes.replace(0, 4, "\x7F" "ELF");
    bytes[4] = 2;  // 64-bit
    bytes[5] = 1;  // little-endian
    put(40, 64, 8);  // section headers
    put(58, 64, 2);
    put(60, 2, 2);
    put(64 + 64 + 4, sectionType, 4);
    put(64 + 64 + 24, sectionOffset, 8);
    put(64 + 64 + 32, sectionSize, 8);
    return bytes + std::string(100, 's');
}

// The search starts where the executable's own content ends; headers that
// cannot be right, or a file that is no executable, are searched whole.
TEST(EmbeddedProgramTest, AnExecutableIsSearchedAfterItsOwnContent) {
    testing::TempDirectory directory;
    const std::string marker = EmbeddedProgramMarker();
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::vector<uint8_t>> image;
    };
    const Case cases[] = {
        {"appended after the sections", ElfFile(192, 100, 1) + marker + "IMAGE", BytesOf("IMAGE")},
        {"a section that takes no room", ElfFile(192, 5000, 8) + marker + "IMAGE", BytesOf("IMAGE")},
        {"nothing appended", ElfFile(192, 100, 1), std::nullopt},
        {"a section past the file's end", ElfFile(192, 1 << 20, 1) + marker + "IMAGE", BytesOf("IMAGE")},
        {"a section whose end wraps", ElfFile(192, UINT64_MAX - 100, 1) + marker + "IMAGE", BytesOf("IMAGE")},
        {"cut in its header", std::string("\x7F" "ELF\x02\x01", 6) + marker + "IMAGE", BytesOf("IMAGE")},
    };
    for (const Case& c : cases) {
        const std::string path = directory.Write("program", c.bytes);
        EXPECT_EQ(ReadEmbeddedProgram(path), c.image) << c.what;
    }
}

TEST(EmbeddedProgramTest, ThisExecutableCarriesNoMarker) {
    EXPECT_EQ(ReadEmbeddedProgram("/proc/self/exe"), std::nullopt);
}

}  // namespace
}  // namespace qob
