// tests/sound/wave_loader_test.cpp
// RIFF WAVE samples built by the test, loaded from files and from memory:
// PCM of both sizes and layouts, chunk walks, sizes past the end, every
// error code, MS ADPCM, resources, and reloading a sample that plays.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "platform/temp_directory.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"
#include "sound/sound_sample.h"
#include "sound_file_support.h"
#include "sound_test_support.h"

namespace qob {
namespace {

using namespace testing;

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

std::string SampleBytes(const SoundSample& sample, size_t bytes) {
    return sample.data ? std::string(reinterpret_cast<const char*>(sample.data), bytes) : std::string();
}

struct Loaded {
    int code;
    SoundSample sample;
};

// Loads an image as a file and as a memory block; both must agree.
class WaveLoaderTest : public ::testing::Test {
protected:
    int LoadFromFile(SoundSample& sample, const std::string& image, int flags = 0) {
        const std::string path = dir.Write("sound.wav", image);
        return LoadWaveFile(sample, Utf16(path), flags);
    }
    TempDirectory dir;
};

TEST_F(WaveLoaderTest, PcmImagesLoadFromFilesAndMemory) {
    const std::string data4000 = Pattern(4000);
    const std::string list = Chunk("LIST", std::string(17, 'I'));  // odd: padded
    const std::string format = Chunk("fmt ", WaveFormat(1, 1, 11025, 8));
    struct Case {
        const char* name;
        std::string image;
        std::string data;  // the PCM the sample must hold
        int eightBit, stereo, rate;
        int64_t length;
    };
    const Case kCases[] = {
        {"8-bit mono", PcmWave(1, 11025, 8, Pattern(5)), Pattern(5), 1, 0, 11025, 5},
        {"8-bit stereo", PcmWave(2, 8000, 8, Pattern(10)), Pattern(10), 1, 1, 8000, 5},
        {"16-bit mono", PcmWave(1, 22050, 16, Pattern(10)), Pattern(10), 0, 0, 22050, 5},
        {"16-bit stereo", PcmWave(2, 44100, 16, data4000), data4000, 0, 1, 44100, 1000},
        {"16-bit odd byte", PcmWave(1, 22050, 16, Pattern(7)), Pattern(7).substr(0, 6), 0, 0, 22050, 3},
        {"format chunk of 100 bytes",
         Riff(Chunk("fmt ", WaveFormat(1, 1, 11025, 8, std::string(84, 'x'))) + Chunk("data", Pattern(9))), Pattern(9), 1,
         0, 11025, 9},
        {"odd LIST padded", Riff(format + Chunk("LIST", std::string(17, 'L')) + Chunk("data", Pattern(9))), Pattern(9), 1,
         0, 11025, 9},
        {"odd LIST unpadded", Riff(format + Chunk("LIST", std::string(17, 'L'), false) + Chunk("data", Pattern(9))),
         Pattern(9), 1, 0, 11025, 9},
        {"odd format chunk",
         Riff(Chunk("fmt ", WaveFormat(1, 1, 11025, 8, "\x01")) + list + Chunk("data", Pattern(4))), Pattern(4), 1, 0,
         11025, 4},
        {"data size past the end", Riff(format + "data" + LittleEndian32(0xFFFFFFFF) + Pattern(6)), Pattern(6), 1, 0,
         11025, 6},
        {"data size past the end by one", Riff(format + "data" + LittleEndian32(7) + Pattern(6)), Pattern(6), 1, 0, 11025,
         6},
        // Fewer than the 80 bytes the reader takes of the format follow its
        // header: a 16-byte format and 2 bytes of data.
        {"tiny file", PcmWave(1, 8000, 8, "\x10\x90"), "\x10\x90", 1, 0, 8000, 2},
        {"one 16-bit frame", PcmWave(1, 8000, 16, "\x01\x02"), "\x01\x02", 0, 0, 8000, 1},
    };
    for (const Case& c : kCases) {
        SoundSample fromFile, fromMemory, copied;
        ASSERT_EQ(LoadFromFile(fromFile, c.image), 0) << c.name;
        ASSERT_EQ(LoadWaveMemory(fromMemory, c.image.data(), c.image.size(), 0), 0) << c.name;
        ASSERT_EQ(LoadWaveMemory(copied, c.image.data(), c.image.size(), kLoadCopy), 0) << c.name;
        for (const SoundSample* sample : {&fromFile, &fromMemory, &copied}) {
            EXPECT_EQ(sample->kind, SampleKind::Memory) << c.name;
            EXPECT_EQ(sample->eightBit, c.eightBit) << c.name;
            EXPECT_EQ(sample->stereo, c.stereo) << c.name;
            EXPECT_EQ(sample->rate, c.rate) << c.name;
            EXPECT_EQ(sample->frequency, c.rate) << c.name;
            EXPECT_EQ(sample->step, 128) << c.name;
            EXPECT_EQ(sample->length, c.length) << c.name;
            EXPECT_EQ(SampleBytes(*sample, c.data.size()), c.data) << c.name;
        }
        EXPECT_TRUE(fromFile.ownedData) << c.name;
        EXPECT_FALSE(fromMemory.ownedData) << c.name << ": used in place";
        EXPECT_GE(fromMemory.data, reinterpret_cast<const uint8_t*>(c.image.data())) << c.name;
        EXPECT_TRUE(copied.ownedData && copied.data == copied.ownedData.get()) << c.name << ": a private copy";
    }
}

TEST_F(WaveLoaderTest, BadImagesGiveTheirCodesAndLeaveTheSampleEmpty) {
    const std::string format = Chunk("fmt ", WaveFormat(1, 1, 11025, 8));
    struct Case {
        const char* name;
        std::string image;
        int code;
    };
    const Case kCases[] = {
        {"empty", "", kSoundUnreadable},
        {"RIFF header only", std::string("RIFF\x04\0\0\0WAVE", 12), kSoundUnreadable},
        {"no format chunk", Riff(Chunk("data", Pattern(8))), kSoundUnreadable},
        {"format cut short", Riff("fmt " + LittleEndian32(16) + std::string(6, '\x01')), kSoundUnreadable},
        {"12 bits", PcmWave(1, 8000, 12, Pattern(12)), kSoundUnknownFormat},
        {"0 bits", PcmWave(1, 8000, 0, Pattern(12)), kSoundUnknownFormat},
        {"3 channels", PcmWave(3, 8000, 8, Pattern(12)), kSoundUnknownFormat},
        {"0 channels", PcmWave(0, 8000, 8, Pattern(12)), kSoundUnknownFormat},
        {"rate 0", PcmWave(1, 0, 8, Pattern(12)), kSoundUnknownFormat},
        {"rate above 2^31", PcmWave(1, 0x80000000u, 8, Pattern(12)), kSoundUnknownFormat},
        {"no data chunk", Riff(format + Chunk("LIST", Pattern(20))), kSoundUnreadable},
        {"data size 0", Riff(format + Chunk("data", "")), kSoundUnreadable},
        {"data header at the end", Riff(format + "data" + LittleEndian32(8)), kSoundUnreadable},
        {"data header cut short", Riff(format + "data" + std::string(2, '\x08')), kSoundUnreadable},
        {"chunk size past the end", Riff(format + "LIST" + LittleEndian32(0xFFFFFFF0) + Chunk("data", Pattern(8))),
         kSoundUnreadable},
        {"16-bit without a whole frame", PcmWave(2, 8000, 16, Pattern(3)), kSoundUnreadable},
        {"4 bits but PCM", PcmWave(1, 8000, 4, Pattern(12)), kSoundUnknownFormat},
        {"4 bits without the ADPCM extension", Riff(Chunk("fmt ", WaveFormat(2, 1, 8000, 4)) + Chunk("data", Pattern(9))),
         kSoundUnknownFormat},
    };
    for (const Case& c : kCases) {
        SoundSample fromFile, fromMemory;
        fromFile.rate = fromMemory.rate = 1;  // something a failed load must clear
        EXPECT_EQ(LoadFromFile(fromFile, c.image), c.code) << c.name;
        EXPECT_EQ(LoadWaveMemory(fromMemory, c.image.data(), c.image.size(), kLoadCopy), c.code) << c.name;
        for (const SoundSample* sample : {&fromFile, &fromMemory}) {
            EXPECT_EQ(sample->kind, SampleKind::Empty) << c.name;
            EXPECT_EQ(sample->data, nullptr) << c.name;
            EXPECT_EQ(sample->rate, 0) << c.name;
            EXPECT_FALSE(sample->ownedData) << c.name;
        }
    }
}

// The memory reader is given a size: it never reads past it, even when the
// bytes that follow in memory would make a valid image.
TEST_F(WaveLoaderTest, MemoryReadsStayInsideTheBlock) {
    const std::string image = PcmWave(1, 8000, 8, Pattern(16));
    const size_t dataStart = image.size() - 16;
    struct Case {
        size_t size;
        int code;
        int64_t length;
    };
    const Case kCases[] = {{0, kSoundUnreadable, 0},          {35, kSoundUnreadable, 0},  {36, kSoundUnreadable, 0},
                           {dataStart - 1, kSoundUnreadable, 0}, {dataStart, kSoundUnreadable, 0},
                           {dataStart + 1, 0, 1},             {image.size(), 0, 16}};
    for (const Case& c : kCases) {
        // A copy of exactly the given size, so that the sanitizer sees any
        // read past it.
        std::vector<uint8_t> block(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(c.size));
        SoundSample sample;
        EXPECT_EQ(LoadWaveMemory(sample, block.empty() ? image.data() : static_cast<const void*>(block.data()), c.size, 0),
                  c.code)
            << c.size;
        EXPECT_EQ(sample.length, c.length) << c.size;
    }
    SoundSample sample;
    EXPECT_EQ(LoadWaveMemory(sample, nullptr, 100, 0), kSoundNoMemory);
}

TEST_F(WaveLoaderTest, MissingFileCannotBeOpened) {
    SoundSample sample;
    EXPECT_EQ(LoadWaveFile(sample, Utf16(dir.Join("none.wav")), 0), kSoundCannotOpen);
    EXPECT_EQ(LoadWaveFile(sample, Utf16(dir.Path()), 0), kSoundCannotOpen) << "a folder";
    EXPECT_EQ(SoundSampleLoadFile(sample, Utf16(dir.Join("none.wav")), 0), kSoundCannotOpen);
}

// Relative names are found in the executable's folder, without regard to case.
TEST_F(WaveLoaderTest, RelativePathIsTheExecutablesFolder) {
    ScopedEnvironment root("QOB_ROOT", dir.Path().c_str());
    dir.Write("Sfx/Boom.wav", PcmWave(1, 8000, 8, Pattern(3)));
    SoundSample sample;
    EXPECT_EQ(SoundSampleLoadFile(sample, Utf16("SFX\\BOOM.WAV"), 0), 0);
    EXPECT_EQ(sample.length, 3);
}

// The format is told by the content: Ogg Vorbis is tried first, and when
// both fail the code is the WAVE reader's.
TEST_F(WaveLoaderTest, LoadFileTriesOggThenWave) {
    struct Case {
        const char* name;
        std::string image;
        int code;
    };
    const Case kCases[] = {
        {"wave named .ogg", PcmWave(1, 8000, 8, Pattern(3)), 0},
        {"text", "hello, this is not a sound at all", kSoundUnreadable},
        {"wave of 12 bits", PcmWave(1, 8000, 12, Pattern(12)), kSoundUnknownFormat},
    };
    for (const Case& c : kCases) {
        const std::string path = dir.Write("sound.ogg", c.image);
        SoundSample sample;
        EXPECT_EQ(SoundSampleLoadFile(sample, Utf16(path), 0), c.code) << c.name;
        SoundSample inMemory;
        EXPECT_EQ(SoundSampleLoadMemory(inMemory, c.image.data(), c.image.size(), 0), c.code) << c.name;
    }
}

std::string AdpcmExtension(int samplesPerBlock) {
    constexpr int kStandard[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
    std::string extra = LittleEndian16(32) + LittleEndian16(samplesPerBlock) + LittleEndian16(7);
    for (const auto& pair : kStandard) extra += LittleEndian16(pair[0]) + LittleEndian16(pair[1]);
    return extra;
}

std::string AdpcmFormatChunk(int channels, int blockAlign, int samplesPerBlock) {
    std::string format = WaveFormat(2, channels, 8000, 4, AdpcmExtension(samplesPerBlock));
    format.replace(12, 2, LittleEndian16(blockAlign));
    return Chunk("fmt ", format);
}

TEST_F(WaveLoaderTest, AdpcmIsDecodedAtLoad) {
    const std::string block("\x00\x10\x00\x64\x00\x32\x00\x78\x0F", 9);
    // Two blocks and three bytes of a third, which is dropped.
    const std::string image = Riff(AdpcmFormatChunk(1, 9, 6) + Chunk("data", std::string(block, 0, 9) + std::string(block, 0, 9) + "abc"));
    const std::vector<int16_t> expected = {50, 100, 212, -92, -92, -194, 50, 100, 212, -92, -92, -194};
    SoundSample fromFile, fromMemory;
    ASSERT_EQ(LoadFromFile(fromFile, image), 0);
    ASSERT_EQ(LoadWaveMemory(fromMemory, image.data(), image.size(), 0), 0);
    for (const SoundSample* sample : {&fromFile, &fromMemory}) {
        EXPECT_EQ(sample->eightBit, 0);
        EXPECT_EQ(sample->length, 12);
        ASSERT_TRUE(sample->ownedData);
        EXPECT_EQ(SixteenBitValues(SampleBytes(*sample, 24)), expected);
    }
}

TEST_F(WaveLoaderTest, HostileAdpcmValuesAreRefused) {
    struct Case {
        const char* name;
        std::string image;
        int code;
    };
    const std::string block("\x00\x10\x00\x64\x00\x32\x00\x78\x0F", 9);
    const Case kCases[] = {
        {"block align 0", Riff(AdpcmFormatChunk(1, 0, 6) + Chunk("data", block)), kSoundUnknownFormat},
        {"samples past the block", Riff(AdpcmFormatChunk(1, 9, 7) + Chunk("data", block)), kSoundUnknownFormat},
        {"one sample per block", Riff(AdpcmFormatChunk(1, 9, 1) + Chunk("data", block)), kSoundUnknownFormat},
        {"predictor 7", Riff(AdpcmFormatChunk(1, 9, 6) + Chunk("data", "\x07" + block.substr(1))), kSoundUnknownFormat},
        {"no whole block", Riff(AdpcmFormatChunk(1, 9, 6) + Chunk("data", block.substr(0, 8))), kSoundUnknownFormat},
        {"ADPCM in 8 bits is PCM", Riff(Chunk("fmt ", WaveFormat(2, 1, 8000, 8, AdpcmExtension(6))) + Chunk("data", block)),
         0},
    };
    for (const Case& c : kCases) {
        SoundSample fromFile, fromMemory;
        EXPECT_EQ(LoadFromFile(fromFile, c.image), c.code) << c.name;
        EXPECT_EQ(LoadWaveMemory(fromMemory, c.image.data(), c.image.size(), 0), c.code) << c.name;
        EXPECT_EQ(fromMemory.kind, c.code == 0 ? SampleKind::Memory : SampleKind::Empty) << c.name;
    }
}

TEST_F(WaveLoaderTest, ResourcesOfTypeWave) {
    platform::ForgetRegisteredResources();
    platform::RegisterResource("WAVE", "101", PcmWave(1, 8000, 8, Pattern(4)));
    platform::RegisterResource("PTMOD", "102", PcmWave(1, 8000, 8, Pattern(4)));
    SoundSample sample;
    EXPECT_EQ(SoundSampleLoadResource(sample, nullptr, 101, 0), 0);
    EXPECT_EQ(sample.length, 4);
    EXPECT_EQ(SoundSampleLoadResource(sample, nullptr, 102, 0), kSoundCannotOpen) << "another type";
    EXPECT_EQ(sample.kind, SampleKind::Empty);
    EXPECT_EQ(SoundSampleLoadResource(sample, nullptr, 103, 0), kSoundCannotOpen);
    EXPECT_EQ(SoundSampleLoadResource(sample, nullptr, -1, 0), kSoundCannotOpen);
    ScopedEnvironment root("QOB_ROOT", dir.Path().c_str());
    dir.Write("resources/wave/7", PcmWave(2, 8000, 16, Pattern(8)));
    EXPECT_EQ(SoundSampleLoadResource(sample, reinterpret_cast<const void*>(platform::kExecutableModule), 7, kLoadCopy), 0);
    EXPECT_EQ(sample.length, 2);
    platform::ForgetRegisteredResources();
}

class SamplePlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseManualDevices({&device});
        ASSERT_EQ(SoundOpen(mixer, 8000, 16, false, 1, 8), 0);
    }
    void TearDown() override {
        SoundClose(mixer);
        RestoreDeviceOptions();
    }
    ManualDeviceState device;
    SoundMixer mixer;
};

TEST_F(SamplePlaybackTest, FailedLoadLeavesASampleThatDoesNotPlay) {
    SoundSample sample;
    const std::string good = PcmWave(1, 8000, 16, Pattern(8));
    ASSERT_EQ(LoadWaveMemory(sample, good.data(), good.size(), 0), 0);
    EXPECT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
    const std::string bad = PcmWave(1, 8000, 12, Pattern(8));
    EXPECT_EQ(LoadWaveMemory(sample, bad.data(), bad.size(), 0), kSoundUnknownFormat);
    EXPECT_EQ(SoundPlaySample(mixer, sample, kPlayFirstFree), kSoundUnavailable);
}

// A load frees what the sample owned: the voices that play it stop first,
// under the device lock, so the mixer never reads freed data.
TEST_F(SamplePlaybackTest, ReloadingStopsTheVoicesThatPlayTheOldData) {
    std::string image = PcmWave(1, 8000, 16, SixteenBitText(std::vector<int16_t>(4000, 1000)));
    SoundSample sample, other;
    ASSERT_EQ(LoadWaveMemory(sample, image.data(), image.size(), kLoadCopy), 0);
    ASSERT_EQ(LoadWaveMemory(other, image.data(), image.size(), kLoadCopy), 0);
    ASSERT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
    ASSERT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree | kPlayPaused), 0);
    ASSERT_GE(SoundPlaySample(mixer, other, kPlayFirstFree), 0);
    EXPECT_EQ(MixSixteen(mixer, 4)[0], 1000);  // 2 playing voices: 2 x 1000 x 64 >> 7
    const std::string next = PcmWave(1, 8000, 16, SixteenBitText(std::vector<int16_t>(4000, 3000)));
    ASSERT_EQ(LoadWaveMemory(sample, next.data(), next.size(), kLoadCopy), 0);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 1) << "only the other sample's voice plays on";
    EXPECT_EQ(MixSixteen(mixer, 4)[0], 500);
    SoundResumeAllVoices(mixer);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 1) << "the paused voice was stopped too";
    // A sample that lends the caller's data leaves its voices alone: nothing is freed.
    SoundSample lent;
    ASSERT_EQ(LoadWaveMemory(lent, image.data(), image.size(), 0), 0);
    ASSERT_GE(SoundPlaySample(mixer, lent, kPlayFirstFree), 0);
    ASSERT_EQ(LoadWaveMemory(lent, next.data(), next.size(), 0), 0);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 2);
}

TEST_F(SamplePlaybackTest, DestroyingOrMovingAPlayingSample) {
    const std::string image = PcmWave(1, 8000, 16, SixteenBitText(std::vector<int16_t>(4000, 1000)));
    auto sample = std::make_unique<SoundSample>();
    ASSERT_EQ(LoadWaveMemory(*sample, image.data(), image.size(), kLoadCopy), 0);
    ASSERT_GE(SoundPlaySample(mixer, *sample, kPlayFirstFree), 0);
    SoundSample moved(std::move(*sample));
    sample.reset();
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 1) << "a move keeps the data where it is";
    EXPECT_EQ(MixSixteen(mixer, 2)[0], 500);
    moved = SoundSample{};
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0);
    EXPECT_EQ(MixSixteen(mixer, 2)[0], 0);
}

}  // namespace
}  // namespace qob
