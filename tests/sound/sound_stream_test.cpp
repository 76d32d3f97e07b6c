// tests/sound/sound_stream_test.cpp
// The memory, file and switching streams, the loaders' path rule and the
// Ogg Vorbis callbacks over a stream.
#include "sound/sound_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <vector>

#include "platform/temp_directory.h"
#include "sound/vorbis_decoder.h"
#include "sound_file_support.h"

namespace qob {
namespace {

using testing::TempDirectory;
using testing::Utf16;

std::vector<uint8_t> Counting(size_t size) {
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

TEST(MemoryStream, ReadsUpToTheEnd) {
    const std::vector<uint8_t> bytes = Counting(100);
    MemoryStream stream;
    ASSERT_EQ(stream.Open(bytes.data(), bytes.size()), 1);
    ASSERT_EQ(stream.Seek(95, kSeekFromStart), 1);
    uint8_t buffer[10] = {};
    EXPECT_EQ(stream.Read(buffer, 10), 5u);
    EXPECT_EQ(buffer[0], 95);
    EXPECT_EQ(buffer[4], 99);
    EXPECT_EQ(stream.Read(buffer, 10), 0u);
    EXPECT_EQ(stream.Tell(), 100);
    EXPECT_EQ(stream.Size(), 100);
    EXPECT_EQ(stream.Open(nullptr, 10), 0);
}

// Only positions 0 to the size are taken, from every origin; a refused seek
// keeps the old position.
TEST(MemoryStream, SeeksInsideTheBlockOnly) {
    const std::vector<uint8_t> bytes = Counting(100);
    struct Case {
        int64_t offset;
        int origin;
        int expected;
        int64_t position;  // from position 50
    };
    constexpr Case kCases[] = {
        {-10, kSeekFromStart, 0, 50},   {200, kSeekFromStart, 0, 50},  {100, kSeekFromStart, 1, 100},
        {0, kSeekFromStart, 1, 0},      {10, kSeekFromCurrent, 1, 60}, {-50, kSeekFromCurrent, 1, 0},
        {-51, kSeekFromCurrent, 0, 50}, {51, kSeekFromCurrent, 0, 50}, {10, kSeekBackFromEnd, 1, 90},
        {0, kSeekBackFromEnd, 1, 100},  {-1, kSeekBackFromEnd, 0, 50}, {101, kSeekBackFromEnd, 0, 50},
        {5, 3, 0, 50},                  {INT64_MIN, kSeekFromCurrent, 0, 50}, {INT64_MAX, kSeekFromCurrent, 0, 50},
    };
    for (const Case& c : kCases) {
        MemoryStream stream;
        ASSERT_EQ(stream.Open(bytes.data(), bytes.size()), 1);
        ASSERT_EQ(stream.Seek(50, kSeekFromStart), 1);
        EXPECT_EQ(stream.Seek(c.offset, c.origin), c.expected) << c.offset << " origin " << c.origin;
        EXPECT_EQ(stream.Tell(), c.position) << c.offset << " origin " << c.origin;
    }
}

TEST(FileStream, ReadsSeeksAndMeasuresAFileFoundWithoutRegardToCase) {
    TempDirectory dir;
    const std::vector<uint8_t> bytes = Counting(100);
    dir.Write("Sounds/Boom.WAV", std::string(bytes.begin(), bytes.end()));
    FileStream stream;
    ASSERT_EQ(stream.Open(dir.Join("sounds/boom.wav")), 1);
    EXPECT_EQ(stream.Size(), 100);
    EXPECT_EQ(stream.Tell(), 0) << "Size leaves the position as it was";
    ASSERT_EQ(stream.Seek(10, kSeekBackFromEnd), 1) << "counted back from the end, as for memory";
    uint8_t buffer[20] = {};
    EXPECT_EQ(stream.Read(buffer, 20), 10u);
    EXPECT_EQ(buffer[0], 90);
    EXPECT_EQ(stream.Seek(-5, kSeekFromCurrent), 1);
    EXPECT_EQ(stream.Tell(), 95);
    EXPECT_EQ(stream.Seek(-1, kSeekFromStart), 0);
    EXPECT_EQ(stream.Seek(0, 7), 0);
    EXPECT_EQ(stream.Tell(), 95);
    EXPECT_EQ(stream.Close(), 1);
    EXPECT_EQ(stream.Open(dir.Join("sounds/missing.wav")), 0);
    EXPECT_EQ(stream.Open(dir.Join("sounds")), 0) << "a folder is not a file";
}

TEST(SwitchingStream, OpensByWhatItIsGivenAndForwards) {
    TempDirectory dir;
    const std::string path = dir.Write("a.bin", "file bytes");
    const std::string memory = "memory bytes";
    SwitchingStream stream;
    EXPECT_EQ(stream.Read(nullptr, 0), 0u) << "nothing open";
    EXPECT_EQ(stream.Size(), -1);
    ASSERT_EQ(stream.OpenFile(path), 1);
    char buffer[32] = {};
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 10u);
    EXPECT_STREQ(buffer, "file bytes");
    ASSERT_EQ(stream.OpenMemory(memory.data(), memory.size()), 1);
    EXPECT_EQ(stream.Size(), 12);
    EXPECT_EQ(stream.Seek(5, kSeekBackFromEnd), 1);
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), "bytes");
    EXPECT_EQ(stream.OpenMemory(nullptr, 3), 0);
    EXPECT_EQ(stream.OpenFile(dir.Join("none")), 0);
    EXPECT_EQ(stream.Close(), 1);
}

TEST(SoundPath, RelativeNamesJoinTheExecutablesFolder) {
    struct Case {
        const char* path;
        const char* folder;
        const char* expected;  // null: the load fails
    };
    constexpr Case kCases[] = {
        {"boom.wav", "/opt/qob/", "/opt/qob/boom.wav"},
        {"sfx\\boom.wav", "/opt/qob/", "/opt/qob/sfx\\boom.wav"},
        {"\\Storage Card\\boom.wav", "/opt/qob/", "\\Storage Card\\boom.wav"},
        {"/tmp/boom.wav", "/opt/qob/", "/tmp/boom.wav"},
        {"boom.wav", "\\Windows\\qob.exe", "\\Windows\\boom.wav"},
        {"boom.wav", "/opt/qob/qob", "/opt/qob/boom.wav"},
        {"boom.wav", "qob.exe", nullptr},
        {"boom.wav", "", nullptr},
    };
    for (const Case& c : kCases) {
        const std::optional<std::string> resolved = ResolveSoundPath(Utf16(c.path), c.folder);
        if (c.expected) {
            EXPECT_EQ(resolved, std::optional<std::string>(c.expected)) << c.path << " in " << c.folder;
        } else {
            EXPECT_FALSE(resolved) << c.path << " in " << c.folder;
        }
    }
    std::vector<uint16_t> withNul = Utf16("a.wav");
    withNul.insert(withNul.begin() + 1, 0);
    EXPECT_FALSE(ResolveSoundPath(withNul, "/opt/")) << "a path cut short by a NUL is not another file";
}

TEST(SoundPath, DefaultFolderIsTheApplicationDirectory) {
    TempDirectory dir;
    testing::ScopedEnvironment root("QOB_ROOT", dir.Path().c_str());
    EXPECT_EQ(ResolveSoundPath(Utf16("x.wav")), dir.Path() + "/x.wav");
}

// The callbacks keep the decoder's own position and give the stream back its
// position after every read.
TEST(VorbisCallbacks, ReadAtTheDecodersPositionAndRestoreTheStreams) {
    const std::vector<uint8_t> bytes = Counting(100);
    MemoryStream stream;
    ASSERT_EQ(stream.Open(bytes.data(), bytes.size()), 1);
    ASSERT_EQ(stream.Seek(30, kSeekFromStart), 1);
    VorbisDecoder a, b;
    a.stream = b.stream = &stream;
    uint8_t buffer[16] = {};
    EXPECT_EQ(VorbisReadCallback(buffer, 1, 10, &a), 10u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(VorbisSeekCallback(&b, 60, SEEK_SET), 0);
    EXPECT_EQ(VorbisReadCallback(buffer, 4, 3, &b), 3u) << "whole elements";
    EXPECT_EQ(buffer[0], 60);
    EXPECT_EQ(VorbisReadCallback(buffer, 1, 4, &a), 4u);
    EXPECT_EQ(buffer[0], 10);
    EXPECT_EQ(VorbisTellCallback(&a), 14);
    EXPECT_EQ(VorbisTellCallback(&b), 72);
    EXPECT_EQ(stream.Tell(), 30);
    EXPECT_EQ(VorbisCloseCallback(&a), 0);
    EXPECT_EQ(stream.Tell(), 30) << "the stream belongs to the sample";

    EXPECT_EQ(VorbisSeekCallback(&b, 7, SEEK_SET), 0);
    EXPECT_EQ(VorbisReadCallback(buffer, 4, 3, &b), 3u);
    EXPECT_EQ(VorbisReadCallback(buffer, 4, 0, &b), 0u);
    EXPECT_EQ(VorbisReadCallback(buffer, 0, 4, &b), 0u);
}

TEST(VorbisCallbacks, SeeksWithTheCLibrarysOrigins) {
    const std::vector<uint8_t> bytes = Counting(100);
    MemoryStream stream;
    ASSERT_EQ(stream.Open(bytes.data(), bytes.size()), 1);
    VorbisDecoder decoder;
    decoder.stream = &stream;
    struct Case {
        int64_t offset;
        int origin;
        int expected;
        long position;  // from 40
    };
    constexpr Case kCases[] = {
        {10, SEEK_SET, 0, 10},   {10, SEEK_CUR, 0, 50},    {-10, SEEK_CUR, 0, 30},
        {0, SEEK_END, 0, 100},   {-10, SEEK_END, 0, 90},   {-41, SEEK_CUR, -1, 40},
        {-1, SEEK_SET, -1, 40},  {5, 9, -1, 40},           {int64_t{1} << 40, SEEK_SET, 0, static_cast<long>(int64_t{1} << 40)},
        {INT64_MAX, SEEK_CUR, -1, 40},
    };
    for (const Case& c : kCases) {
        decoder.readPosition = 40;
        EXPECT_EQ(VorbisSeekCallback(&decoder, c.offset, c.origin), c.expected) << c.offset << " origin " << c.origin;
        EXPECT_EQ(VorbisTellCallback(&decoder), c.position) << c.offset << " origin " << c.origin;
    }
}

// A read position outside the stream is the end of the data, not a read from
// wherever the stream happened to be.
TEST(VorbisCallbacks, ReadBeyondTheEndGivesNothing) {
    const std::vector<uint8_t> bytes = Counting(100);
    MemoryStream stream;
    ASSERT_EQ(stream.Open(bytes.data(), bytes.size()), 1);
    ASSERT_EQ(stream.Seek(20, kSeekFromStart), 1);
    VorbisDecoder decoder;
    decoder.stream = &stream;
    uint8_t buffer[8] = {};
    for (int64_t position : {int64_t{100}, int64_t{101}, int64_t{1} << 40}) {
        decoder.readPosition = position;
        EXPECT_EQ(VorbisReadCallback(buffer, 1, 8, &decoder), 0u) << position;
        EXPECT_EQ(decoder.readPosition, position);
        EXPECT_EQ(stream.Tell(), 20);
    }
}

TEST(VorbisDecoder, RefusesWhatIsNotOggVorbis) {
    const std::string wave = testing::PcmWave(1, 8000, 8, std::string(100, '\x80'));
    MemoryStream stream;
    ASSERT_EQ(stream.Open(wave.data(), wave.size()), 1);
    EXPECT_EQ(OpenVorbisDecoder(&stream), nullptr);
    EXPECT_EQ(OpenVorbisDecoder(nullptr), nullptr);
    CloseVorbisDecoder(nullptr);
}

}  // namespace
}  // namespace qob
