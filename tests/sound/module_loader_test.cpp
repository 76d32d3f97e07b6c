// tests/sound/module_loader_test.cpp
// Tracker module layouts and loaders over modules written by the test:
// channel tags, the pattern count, sizes held against the bytes present.
#include "sound/module_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/resources.h"
#include "platform/temp_directory.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"
#include "sound_file_support.h"
#include "sound_test_support.h"

namespace qob {
namespace {

using testing::TempDirectory;
using testing::Utf16;

struct SampleHeader {
    int words = 0;  // length in 16-bit words
    int finetune = 0;
    int volume = 64;
    int loopStartWords = 0;
    int loopWords = 0;
};

std::string BigEndian16(int value) { return {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)}; }

// A module: header, the given orders, patterns of zero cells and each
// sample's declared bytes (a ramp), all present unless cut later.
struct ModuleImage {
    std::string tag = "M.K.";
    int channels = 4;
    int songLength = 1;
    int restart = 127;
    std::vector<int> orders = {0};
    int patterns = 1;  // written to the file
    std::vector<SampleHeader> samples = {{32, 0, 64, 0, 0}};

    std::string Bytes() const {
        std::string bytes(20, 'T');
        for (int s = 0; s < 31; ++s) {
            const SampleHeader h = s < static_cast<int>(samples.size()) ? samples[s] : SampleHeader{};
            bytes += std::string(22, 'n') + BigEndian16(h.words) + static_cast<char>(h.finetune) +
                     static_cast<char>(h.volume) + BigEndian16(h.loopStartWords) + BigEndian16(h.loopWords);
        }
        bytes += static_cast<char>(songLength);
        bytes += static_cast<char>(restart);
        std::string orderBytes(128, '\0');
        for (size_t i = 0; i < orders.size(); ++i) orderBytes[i] = static_cast<char>(orders[i]);
        bytes += orderBytes + tag;
        bytes += std::string(static_cast<size_t>(patterns) * 64 * channels * 4, '\0');
        for (const SampleHeader& h : samples)
            for (int i = 0; i < 2 * h.words; ++i) bytes += static_cast<char>(i);
        return bytes;
    }
};

std::span<const uint8_t> Span(const std::string& bytes) { return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}; }

TEST(ModuleTags, ChannelCounts) {
    struct Case {
        const char* tag;
        int channels;
    };
    constexpr Case kCases[] = {{"M.K.", 4}, {"M!K!", 4}, {"MxKy", 4}, {"8CHN", 8}, {"6CHN", 6},   {"12CH", 12},
                               {"32CH", 32}, {"33CH", 33}, {"1CHN", 1}, {"xCHN", 0}, {"FLT4", 0},  {"    ", 0},
                               {"2ACH", 2},  {"9C  ", 9},  {"M.k.", 0}};
    for (const Case& c : kCases) EXPECT_EQ(ModuleChannelCount(reinterpret_cast<const uint8_t*>(c.tag)), c.channels) << c.tag;
}

TEST(ModuleLayoutTest, HeaderFieldsAndPlaces) {
    ModuleImage image;
    image.channels = 8;
    image.tag = "8CHN";
    image.songLength = 3;
    image.restart = 1;
    image.orders = {0, 2, 1};
    image.patterns = 3;
    image.samples = {{10, 0x1F, 40, 2, 4}, {0}, {6, 3, 64, 0, 1}};
    const std::string bytes = image.Bytes();
    ModuleLayout layout;
    ASSERT_EQ(ReadModuleLayout(Span(bytes), layout), 0);
    EXPECT_EQ(layout.channels, 8);
    EXPECT_EQ(layout.songLength, 3);
    EXPECT_EQ(layout.restartOrder, 1);
    EXPECT_EQ(layout.patternCount, 3);
    const size_t start = 1084 + 3 * 64 * 8 * 4;
    EXPECT_EQ(layout.sampleDataStart, start);
    EXPECT_EQ(layout.samples[0].offset, start);
    EXPECT_EQ(layout.samples[0].length, 20u);
    EXPECT_EQ(layout.samples[0].finetune, 15) << "the low 4 bits of the byte";
    EXPECT_EQ(layout.samples[0].volume, 40);
    EXPECT_EQ(layout.samples[0].loopStart, 4u);
    EXPECT_EQ(layout.samples[0].loopLength, 8u);
    EXPECT_EQ(layout.samples[2].offset, start + 20);
    EXPECT_EQ(layout.samples[2].loopLength, 0u) << "a loop of one word is no loop";
    EXPECT_EQ(layout.size, bytes.size());
}

TEST(ModuleLayoutTest, RestartOrderAndSongLength) {
    struct Case {
        int songLength, restart;
        int expectedLength, expectedRestart;
    };
    constexpr Case kCases[] = {{4, 127, 4, 0}, {4, 3, 4, 3}, {4, 4, 4, 0}, {200, 5, 128, 5}, {255, 127, 128, 0}, {0, 0, 0, 0}};
    for (const Case& c : kCases) {
        ModuleImage image;
        image.songLength = c.songLength;
        image.restart = c.restart;
        const std::string bytes = image.Bytes();
        ModuleLayout layout;
        ASSERT_EQ(ReadModuleLayout(Span(bytes), layout), 0) << c.songLength;
        EXPECT_EQ(layout.songLength, c.expectedLength) << c.songLength;
        EXPECT_EQ(layout.restartOrder, c.expectedRestart) << c.songLength << " " << c.restart;
        EXPECT_EQ(layout.patternCount, 1) << c.songLength << ": orders past the song hold 0";
    }
}

// Patterns that only unused orders name are stored too: the samples follow
// all of them when the file holds them all.
TEST(ModuleLayoutTest, PatternCountFromAllOrdersWhenTheyFit) {
    ModuleImage image;
    image.songLength = 2;
    image.orders = {0, 1, 0, 3};  // pattern 3 only after the song's end
    image.patterns = 4;
    std::string bytes = image.Bytes();
    ModuleLayout layout;
    ASSERT_EQ(ReadModuleLayout(Span(bytes), layout), 0);
    EXPECT_EQ(layout.patternCount, 4);
    EXPECT_EQ(layout.samples[0].length, 64u);
    EXPECT_EQ(layout.size, bytes.size());

    // A file that holds only the song's patterns keeps the song's count.
    image.patterns = 2;
    bytes = image.Bytes();
    ASSERT_EQ(ReadModuleLayout(Span(bytes), layout), 0);
    EXPECT_EQ(layout.patternCount, 2);
    EXPECT_EQ(layout.samples[0].length, 64u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[layout.samples[0].offset + 5]), 5) << "the sample's own bytes";
}

TEST(ModuleLayoutTest, ShortDataIsRefusedOrCut) {
    ModuleImage image;
    image.samples = {{16, 0, 64, 4, 10}, {8, 0, 64, 0, 0}};
    const std::string whole = image.Bytes();
    const size_t sampleStart = 1084 + 64 * 4 * 4;
    struct Case {
        size_t size;
        int code;
        uint32_t first, second, firstLoop;
    };
    const Case kCases[] = {
        {0, kSoundUnknownFormat, 0, 0, 0},
        {1083, kSoundUnknownFormat, 0, 0, 0},
        {1084, kSoundUnknownFormat, 0, 0, 0},
        {sampleStart - 1, kSoundUnknownFormat, 0, 0, 0},
        {sampleStart, 0, 0, 0, 0},
        {sampleStart + 20, 0, 20, 0, 12},
        {sampleStart + 33, 0, 32, 1, 20},
        {whole.size(), 0, 32, 16, 20},
    };
    for (const Case& c : kCases) {
        ModuleLayout layout;
        EXPECT_EQ(ReadModuleLayout(Span(whole.substr(0, c.size)), layout), c.code) << c.size;
        if (c.code != 0) continue;
        EXPECT_EQ(layout.samples[0].length, c.first) << c.size;
        EXPECT_EQ(layout.samples[1].length, c.second) << c.size;
        EXPECT_EQ(layout.samples[0].loopLength, c.firstLoop) << c.size;
        EXPECT_LE(layout.size, c.size);
    }
    ModuleImage noTag;
    noTag.tag = "ABCD";
    ModuleLayout layout;
    EXPECT_EQ(ReadModuleLayout(Span(noTag.Bytes()), layout), kSoundUnknownFormat);
}

TEST(ModuleLoaders, FileMemoryAndResource) {
    TempDirectory dir;
    ModuleImage image;
    image.tag = "6CHN";
    image.channels = 6;
    const std::string bytes = image.Bytes() + "trailing bytes";
    const std::string path = dir.Write("Music/Tune.MOD", bytes);
    SoundModule fromFile, inPlace, copied, fromResource;
    ASSERT_EQ(SoundModuleLoadFile(fromFile, Utf16(dir.Join("music/tune.mod"))), 0);
    EXPECT_TRUE(fromFile.ownsData);
    EXPECT_EQ(fromFile.channelCount, 6);
    EXPECT_EQ(fromFile.size, bytes.size() - 14);
    ASSERT_EQ(SoundModuleLoadMemory(inPlace, bytes.data(), bytes.size(), false), 0);
    EXPECT_EQ(inPlace.data, reinterpret_cast<const uint8_t*>(bytes.data()));
    EXPECT_FALSE(inPlace.ownsData);
    ASSERT_EQ(SoundModuleLoadMemory(copied, bytes.data(), bytes.size(), true), 0);
    EXPECT_TRUE(copied.ownsData);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copied.data), copied.size), bytes.substr(0, copied.size));

    platform::ForgetRegisteredResources();
    platform::RegisterResource("PTMOD", "5", bytes);
    EXPECT_EQ(SoundModuleLoadResource(fromResource, nullptr, 5, false), 0);
    EXPECT_EQ(SoundModuleLoadResource(fromResource, nullptr, 6, false), kSoundCannotOpen);
    EXPECT_EQ(fromResource.data, nullptr);
    platform::ForgetRegisteredResources();

    struct Case {
        const char* name;
        std::string content;  // null: no file
        int code;
    };
    const Case kCases[] = {{"empty", "", kSoundUnreadable},
                           {"short", "hello", kSoundUnknownFormat},
                           {"a WAVE file", testing::PcmWave(1, 8000, 8, std::string(2000, 'x')), kSoundUnknownFormat}};
    for (const Case& c : kCases) {
        SoundModule module;
        module.volume = 3;
        EXPECT_EQ(SoundModuleLoadFile(module, Utf16(dir.Write("bad.mod", c.content))), c.code) << c.name;
        EXPECT_EQ(module.data, nullptr) << c.name;
        EXPECT_EQ(module.volume, 64) << c.name;
    }
    SoundModule module;
    EXPECT_EQ(SoundModuleLoadFile(module, Utf16(dir.Join("none.mod"))), kSoundCannotOpen);
    EXPECT_EQ(SoundModuleLoadMemory(module, nullptr, 100, true), kSoundNoMemory);
}

// The modules of tecnoballz-data: each with the tag M.K. loads whole (its
// size is the header, the patterns and the samples exactly); the one
// without a tag is refused.
TEST(ModuleLoaders, PackageModules) {
    const std::vector<std::string> files = testing::PackageFiles("tecnoballz-data", ".mod");
    if (files.empty()) GTEST_SKIP() << "tecnoballz-data is not installed";
    for (const std::string& path : files) {
        const std::string bytes = testing::ReadWholeFile(path).value_or("");
        ASSERT_GE(bytes.size(), 1084u) << path;
        SoundModule module;
        const int code = SoundModuleLoadFile(module, Utf16(path));
        if (bytes.compare(1080, 4, "M.K.") != 0) {
            EXPECT_EQ(code, kSoundUnknownFormat) << path;
            continue;
        }
        ASSERT_EQ(code, 0) << path;
        EXPECT_EQ(module.channelCount, 4) << path;
        EXPECT_EQ(module.size, bytes.size()) << path;
    }
}

// A load frees what the module owned: the slots that play it stop first.
TEST(ModuleLoaders, LoadingStopsTheSlotsThatPlayTheModule) {
    testing::ManualDeviceState device;
    testing::UseManualDevices({&device});
    MusicPlayer = {[](MusicChannel& slot, const SoundModule& module) {
                       slot.trackCount = 0;
                       return module.data != nullptr;
                   },
                   [](MusicChannel&) { return true; }};
    SoundMixer mixer;
    ASSERT_EQ(SoundOpen(mixer, 22050, 16, false, 2, 8), 0);
    const std::string bytes = ModuleImage{}.Bytes();
    SoundModule module, other;
    ASSERT_EQ(SoundModuleLoadMemory(module, bytes.data(), bytes.size(), true), 0);
    ASSERT_EQ(SoundModuleLoadMemory(other, bytes.data(), bytes.size(), true), 0);
    ASSERT_EQ(SoundPlayModule(mixer, &module, kPlayFirstFree), 0);
    ASSERT_EQ(SoundPlayModule(mixer, &other, kPlayFirstFree), 1);
    ASSERT_EQ(SoundModuleLoadMemory(module, bytes.data(), bytes.size(), true), 0);
    EXPECT_TRUE(mixer.musicSlots[0].stopped.load());
    EXPECT_FALSE(mixer.musicSlots[1].stopped.load()) << "another module's slot plays on";
    ClearModule(other);
    EXPECT_EQ(SoundCountPlayingMusic(mixer), 0);
    SoundClose(mixer);
    ResetMusicPlayerHooks();
    testing::RestoreDeviceOptions();
}

TEST(ModuleSetters, ClampAndStep) {
    SoundModule module;
    module.SetVolume(65);
    EXPECT_EQ(module.volume, 64);
    module.SetVolume(10);
    EXPECT_EQ(module.volume, 10);
    module.SetPan(256);
    EXPECT_EQ(module.pan, 255);
    module.SetPan(0);
    EXPECT_EQ(module.pan, 0);
    module.SetFrequency(22050);
    EXPECT_EQ(module.step, ((22050 << 16) / 44100) >> 9);
    module.SetLoop(true);
    EXPECT_TRUE(module.loop);
}

}  // namespace
}  // namespace qob
