// tests/sound/sound_mixer_test.cpp
// The mixer's opening rules, its channel starts and SoundMix's arithmetic,
// mixed by hand from a mixer opened on a device that the test drives.
#include "sound/sound_mixer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "sound/sound_codes.h"
#include "sound_test_support.h"

namespace qob {
namespace {

using testing::MakeSample;
using testing::Mix;
using testing::MixSixteen;
using testing::SixteenBitBytes;

constexpr int kRate = 22050;

class MixerTest : public ::testing::Test {
protected:
    void SetUp() override { testing::UseManualDevices({&device}); }
    void TearDown() override {
        SoundClose(mixer);
        testing::RestoreDeviceOptions();
        ResetMusicPlayerHooks();
    }
    void Open(int bits, bool stereo, int slots = 1, int voices = 8) {
        ASSERT_EQ(SoundOpen(mixer, kRate, bits, stereo, slots, voices), 0);
    }

    testing::ManualDeviceState device;
    SoundMixer mixer;
};

TEST_F(MixerTest, OpenClampsSlotsAndVoices) {
    struct Case {
        int slots, voices, expectedSlots, expectedVoices;
    };
    constexpr Case kCases[] = {{0, 4, 1, 8}, {5, 100, 3, 64}, {1, 8, 1, 8}, {3, 64, 3, 64}, {2, 9, 2, 9}};
    for (const Case& c : kCases) {
        ASSERT_EQ(SoundOpen(mixer, kRate, 16, false, c.slots, c.voices), 0);
        EXPECT_EQ(mixer.musicSlotCount, c.expectedSlots) << c.slots;
        EXPECT_EQ(SoundGetVoiceCount(mixer), c.expectedVoices) << c.voices;
        EXPECT_EQ(SoundGetChannel(mixer, -1), nullptr);
        EXPECT_EQ(SoundGetChannel(mixer, 0), &mixer.musicSlots[0]);
        EXPECT_EQ(SoundGetChannel(mixer, c.expectedSlots), &mixer.voices[0]);
        EXPECT_EQ(SoundGetChannel(mixer, c.expectedSlots + c.expectedVoices - 1), &mixer.voices[c.expectedVoices - 1]);
        EXPECT_EQ(SoundGetChannel(mixer, c.expectedSlots + c.expectedVoices), nullptr);
        EXPECT_EQ(SoundOpen(mixer, kRate, 16, false, 1, 8), kSoundAlreadyOpen);
        SoundClose(mixer);
        EXPECT_EQ(mixer.voiceCount, 0);
    }
}

// A negative slot count would put the voices at negative channel ids.
TEST_F(MixerTest, NegativeMusicSlotCountOpensOneSlot) {
    ASSERT_EQ(SoundOpen(mixer, kRate, 16, false, -3, 8), 0);
    EXPECT_EQ(mixer.musicSlotCount, 1);
    const std::vector<uint8_t> bytes = SixteenBitBytes({1000});
    EXPECT_EQ(SoundPlaySample(mixer, MakeSample(bytes, false, false, kRate), kPlayFirstFree), 1);
    EXPECT_EQ(SoundGetChannel(mixer, 1), &mixer.voices[0]);
}

// A rate of 0 divided by zero in the device and the step table; negative or
// huge rates overflowed the buffer size.
TEST_F(MixerTest, OutputRateOutsideOneTo384000IsABadFormat) {
    for (int rate : {0, -1, -22050, 384001, INT_MAX, INT_MIN}) {
        EXPECT_EQ(SoundOpen(mixer, rate, 16, true, 1, 8), kSoundBadDevice) << rate;
        EXPECT_FALSE(mixer.open);
        EXPECT_FALSE(device.opened) << "the device is left alone";
    }
    for (int rate : {1, 384000}) {
        EXPECT_EQ(SoundOpen(mixer, rate, 8, false, 1, 8), 0) << rate;
        SoundClose(mixer);
    }
}

TEST_F(MixerTest, BufferLengthIsSetOnlyWhileClosedAndFrom60) {
    EXPECT_EQ(SoundGetBufferLength(mixer), 160);
    EXPECT_EQ(SoundSetBufferLength(mixer, 59), kSoundBufferTooShort);
    EXPECT_EQ(SoundSetBufferLength(mixer, 60), 0);
    EXPECT_EQ(SoundGetBufferLength(mixer), 60);
    Open(16, false);
    EXPECT_EQ(SoundSetBufferLength(mixer, 100), kSoundAlreadyOpen);
    EXPECT_EQ(SoundGetBufferLength(mixer), 60);
    SoundMixerInit(mixer);
    EXPECT_FALSE(mixer.open);
    EXPECT_EQ(SoundGetBufferLength(mixer), 160);
}

// Silence used to be written in whole 32-bit words, past the end of a byte
// count that is not a multiple of 4; the guard bytes behind must stay.
TEST_F(MixerTest, SilenceFillsExactlyTheByteCount) {
    for (int bits : {8, 16}) {
        Open(bits, true);
        const uint8_t silence = bits == 8 ? 0x80 : 0;
        for (size_t bytes : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 1768u, 1770u}) {
            std::vector<uint8_t> buffer(bytes + 8, 0xAB);
            SoundFillCallback(&mixer, buffer.data(), bytes);
            for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(buffer[i], silence) << bits << " " << bytes << " " << i;
            for (size_t i = bytes; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << bits << " " << bytes;
        }
        SoundClose(mixer);
    }
}

TEST_F(MixerTest, PartialFrameAfterMixedFramesIsSilence) {
    Open(16, true);
    const std::vector<uint8_t> bytes = SixteenBitBytes({1000, 1000, 1000, 1000});
    ASSERT_GE(SoundPlaySample(mixer, MakeSample(bytes, false, false, kRate), kPlayFirstFree), 0);
    std::vector<uint8_t> buffer(6 + 8, 0xAB);
    SoundMix(mixer, buffer.data(), 6);
    int16_t frame[2];
    std::memcpy(frame, buffer.data(), 4);
    EXPECT_EQ(frame[0], 500);
    EXPECT_EQ(frame[1], 500);
    EXPECT_EQ(buffer[4], 0);
    EXPECT_EQ(buffer[5], 0);
    for (size_t i = 6; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xAB);
}

TEST_F(MixerTest, StepTableAtTheOutputRate) {
    StepTable table;
    BuildStepTable(table, 22050);
    EXPECT_EQ(table[428], 24856u);
    EXPECT_EQ(table[0], 0u);
    BuildStepTable(table, 44100);
    EXPECT_EQ(table[428], 12428u);
    EXPECT_EQ(table[1712], ((7159090u / 3424u) << 16) / 44100u);
    Open(16, false);
    EXPECT_EQ(mixer.stepTable[428], 24856u);
}

TEST_F(MixerTest, NoteTableFindsTheNearestPeriod) {
    struct Case {
        int period, note;
    };
    // 1664 lies 48 from both 1712 and 1616: the first of equals wins.
    constexpr Case kCases[] = {{1712, 0}, {1616, 1}, {1664, 0}, {1663, 1}, {2000, 0}, {907, 11}, {428, 24}, {0, 83}};
    NoteTable table;
    BuildNoteTable(table);
    for (const Case& c : kCases) {
        EXPECT_EQ(FindNearestPeriod(c.period), c.note) << c.period;
        if (c.period <= kHighestPeriod) {
            EXPECT_EQ(table[c.period], c.note) << c.period;
        }
    }
}

// A voice at step 256 reads one source frame per output frame: at full
// volume and pan 128 each output sample is half the source value (mono
// output: half the sum of both source channels).
TEST_F(MixerTest, StepTwoFiftySixOutputForEveryFormat) {
    struct Source {
        const char* name;
        bool eightBit, stereo;
        std::vector<uint8_t> bytes;
    };
    const Source sources[] = {
        {"16-bit mono", false, false, SixteenBitBytes({1000, -1000, 32767, -32768})},
        {"16-bit stereo", false, true, SixteenBitBytes({1000, -2000, 32767, 32767, -32768, 100, 7, -7})},
        {"8-bit mono", true, false, {0x80, 0xFF, 0x00, 0x90}},
        {"8-bit stereo", true, true, {0xFF, 0x00, 0x81, 0x7F, 0x80, 0x80, 0xC0, 0x40}},
    };
    struct Case {
        int source, bits;
        bool stereo;
        std::vector<int> expected;  // output samples
    };
    const Case cases[] = {
        {0, 16, false, {500, -500, 16383, -16384}},
        {0, 16, true, {500, 500, -500, -500, 16383, 16383, -16384, -16384}},
        {0, 8, false, {129, 126, 191, 64}},
        {0, 8, true, {129, 129, 126, 126, 191, 191, 64, 64}},
        {1, 16, false, {-500, 32767, -16334, 0}},
        {1, 16, true, {500, -1000, 16383, 16383, -16384, 50, 3, -4}},
        {1, 8, false, {126, 255, 64, 128}},
        {1, 8, true, {129, 124, 191, 191, 64, 128, 128, 127}},
        {2, 16, false, {0, 16256, -16384, 2048}},
        {2, 16, true, {0, 0, 16256, 16256, -16384, -16384, 2048, 2048}},
        {2, 8, false, {128, 191, 64, 136}},
        {2, 8, true, {128, 128, 191, 191, 64, 64, 136, 136}},
        {3, 16, false, {-128, 0, 0, 0}},
        {3, 16, true, {16256, -16384, 128, -128, 0, 0, 8192, -8192}},
        {3, 8, false, {127, 128, 128, 128}},
        {3, 8, true, {191, 64, 128, 127, 128, 128, 160, 96}},
    };
    for (const Case& c : cases) {
        const Source& source = sources[c.source];
        Open(c.bits, c.stereo);
        ASSERT_GE(SoundPlaySample(mixer, MakeSample(source.bytes, source.eightBit, source.stereo, kRate), kPlayFirstFree), 0);
        const size_t samples = c.expected.size();
        std::vector<int> got;
        if (c.bits == 16) {
            for (int16_t value : MixSixteen(mixer, samples + (c.stereo ? 2 : 1))) got.push_back(value);
        } else {
            for (uint8_t value : Mix(mixer, samples + (c.stereo ? 2 : 1))) got.push_back(value);
        }
        std::vector<int> expected = c.expected;
        // The sample has ended by the next frame: silence.
        for (int i = 0; i < (c.stereo ? 2 : 1); ++i) expected.push_back(c.bits == 16 ? 0 : 128);
        EXPECT_EQ(got, expected) << source.name << " into " << c.bits << (c.stereo ? "-bit stereo" : "-bit mono");
        EXPECT_EQ(SoundCountPlayingVoices(mixer), 0) << "a voice that does not loop stops at its end";
        SoundClose(mixer);
    }
}

TEST_F(MixerTest, FullVoicesAddUpAndClamp) {
    Open(16, false);
    const std::vector<uint8_t> high = SixteenBitBytes({32767, 32767, 32767, 32767});
    const std::vector<uint8_t> low = SixteenBitBytes({-32768, -32768, -32768, -32768});
    const SoundSample loud = MakeSample(high, false, false, kRate);
    const SoundSample quiet = MakeSample(low, false, false, kRate);
    const int expectedHigh[] = {16383, 32767, 32767};
    const int expectedLow[] = {-16384, -32768, -32768};
    for (int voices = 1; voices <= 3; ++voices) {
        SoundStopAllVoices(mixer);
        for (int i = 0; i < voices; ++i) ASSERT_GE(SoundPlaySample(mixer, loud, kPlayFirstFree), 0);
        EXPECT_EQ(MixSixteen(mixer, 1)[0], expectedHigh[voices - 1]) << voices;
        SoundStopAllVoices(mixer);
        for (int i = 0; i < voices; ++i) ASSERT_GE(SoundPlaySample(mixer, quiet, kPlayFirstFree), 0);
        EXPECT_EQ(MixSixteen(mixer, 1)[0], expectedLow[voices - 1]) << voices;
    }
}

TEST_F(MixerTest, PanKeepsStereoChannelsApartOnlyAtCentre) {
    struct Case {
        bool stereoSource;
        int pan, left, right;
    };
    constexpr Case kCases[] = {
        {true, 128, 500, -1000},  // the sample's own channels
        {true, 0, -1000, 0},      // l = 128, r = 0: both channels, left only
        {true, 64, -750, -250},   // l = 96, r = 32
        {true, 255, -8, -993},    // l = 1, r = 127
        {false, 128, 1000 / 2, 1000 / 2},
        {false, 64, 750, 250},
        {false, 192, 250, 750},
    };
    Open(16, true);
    const std::vector<uint8_t> stereoBytes = SixteenBitBytes({1000, -2000});
    const std::vector<uint8_t> monoBytes = SixteenBitBytes({1000});
    for (const Case& c : kCases) {
        SoundSample sample = MakeSample(c.stereoSource ? stereoBytes : monoBytes, false, c.stereoSource, kRate);
        sample.SetPan(c.pan);
        ASSERT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
        const std::vector<int16_t> out = MixSixteen(mixer, 2);
        EXPECT_EQ(out[0], c.left) << c.stereoSource << " pan " << c.pan;
        EXPECT_EQ(out[1], c.right) << c.stereoSource << " pan " << c.pan;
    }
}

TEST_F(MixerTest, MasterVolumesScaleEffectiveVolumes) {
    Open(16, false);
    const std::vector<uint8_t> bytes = SixteenBitBytes({32767, 32767});
    SoundSample sample = MakeSample(bytes, false, false, kRate);
    sample.loop = true;
    const int id = SoundPlaySample(mixer, sample, kPlayFirstFree);
    ASSERT_GE(id, 0);
    SoundSetSoundVolume(mixer, 32);
    EXPECT_EQ(SoundGetSoundVolume(mixer), 32);
    EXPECT_EQ(SoundGetChannel(mixer, id)->effectiveVolume.load(), 32);
    EXPECT_EQ(MixSixteen(mixer, 1)[0], 8191);  // 32767 x 32 >> 7
    SoundSetSoundVolume(mixer, 200);
    EXPECT_EQ(SoundGetSoundVolume(mixer), 64);
    SoundGetChannel(mixer, id)->SetVolume(16);
    EXPECT_EQ(MixSixteen(mixer, 1)[0], 4095);  // 32767 x 16 >> 7
    SoundGetChannel(mixer, id)->SetVolume(65);
    EXPECT_EQ(SoundGetChannel(mixer, id)->volume.load(), 64) << "outside 0..64 becomes 64";
    SoundSetMusicVolume(mixer, 70);
    EXPECT_EQ(SoundGetMusicVolume(mixer), 64);
}

TEST_F(MixerTest, FrequencyChangesTheStep) {
    Open(16, false);
    std::vector<int16_t> values;
    for (int i = 0; i < 16; ++i) values.push_back(static_cast<int16_t>(i * 100));
    const std::vector<uint8_t> bytes = SixteenBitBytes(values);
    const int id = SoundPlaySample(mixer, MakeSample(bytes, false, false, kRate), kPlayFirstFree);
    ASSERT_GE(id, 0);
    ChannelSetFrequency(*SoundGetChannel(mixer, id), kRate * 2);
    EXPECT_EQ(MixSixteen(mixer, 4), (std::vector<int16_t>{0, 100, 200, 300}));  // frames 0, 2, 4, 6 halved
    ChannelSetFrequency(*SoundGetChannel(mixer, id), kRate / 2);
    EXPECT_EQ(MixSixteen(mixer, 4), (std::vector<int16_t>{400, 400, 450, 450}));
}

// A looping voice whose step passes the whole sample in one frame wraps as
// often as needed and never reads past the sample.
TEST_F(MixerTest, LoopingVoiceWrapsAStepLongerThanTheSample) {
    Open(16, false);
    const std::vector<uint8_t> bytes = SixteenBitBytes({100, 200, 300});
    SoundSample sample = MakeSample(bytes, false, false, kRate);
    sample.loop = true;
    const int id = SoundPlaySample(mixer, sample, kPlayFirstFree);
    ASSERT_GE(id, 0);
    ChannelSetFrequency(*SoundGetChannel(mixer, id), kRate * 10);
    EXPECT_EQ(MixSixteen(mixer, 6), (std::vector<int16_t>{50, 100, 150, 50, 100, 150}));
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 1);
}

// A sample without frames (a data chunk too short for one frame) gave a voice
// nothing to read; it is refused like a sample without data.
TEST_F(MixerTest, SampleOfLengthZeroIsRefused) {
    Open(16, false);
    const std::vector<uint8_t> oneByte = {0x12};
    SoundSample sample = MakeSample(oneByte, false, false, kRate);
    ASSERT_EQ(sample.length, 0);
    sample.loop = true;
    EXPECT_EQ(SoundPlaySample(mixer, sample, kPlayFirstFree), kSoundUnavailable);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0);
    SoundSample empty;
    EXPECT_EQ(SoundPlaySample(mixer, empty, kPlayFirstFree), kSoundUnavailable);
}

// A looping voice whose seek back to the start finds no data (as a stream
// that holds no samples) used to read the empty buffer on every frame; it
// stops like a voice that does not loop.
TEST_F(MixerTest, LoopingVoiceWhoseSeekFindsNothingStops) {
    Open(16, false);
    const std::vector<uint8_t> bytes = SixteenBitBytes({20000, 20000});
    SoundSample sample = MakeSample(bytes, false, false, kRate);
    sample.loop = true;
    const int id = SoundPlaySample(mixer, sample, kPlayFirstFree);
    ASSERT_GE(id, 0);
    {
        std::lock_guard guard(LockOf(mixer));
        static_cast<SoundVoice*>(SoundGetChannel(mixer, id))->length = 0;
    }
    EXPECT_EQ(MixSixteen(mixer, 4), (std::vector<int16_t>{0, 0, 0, 0}));
    EXPECT_TRUE(SoundGetChannel(mixer, id)->stopped.load());
}

TEST_F(MixerTest, LoopingVoiceStartsOverAtItsEnd) {
    Open(8, false);
    const std::vector<uint8_t> bytes = {0x90, 0xA0};
    SoundSample sample = MakeSample(bytes, true, false, kRate);
    sample.SetLoop(true);
    ASSERT_GE(SoundPlaySample(mixer, sample, kPlayFirstFree), 0);
    EXPECT_EQ(Mix(mixer, 5), (std::vector<uint8_t>{136, 144, 136, 144, 136}));
}

TEST_F(MixerTest, VoiceChoiceByFlagsAndVoiceLimit) {
    Open(16, false, 2, 8);
    const std::vector<uint8_t> bytesA = SixteenBitBytes({1, 2});
    const std::vector<uint8_t> bytesB = SixteenBitBytes({3, 4});
    SoundSample a = MakeSample(bytesA, false, false, kRate);
    const SoundSample b = MakeSample(bytesB, false, false, kRate);

    // Unlimited: the first free voice.
    EXPECT_EQ(SoundPlaySample(mixer, a, kPlayFirstFree), 2);
    EXPECT_EQ(SoundPlaySample(mixer, a, kPlayFirstFree), 3);
    SoundStopAllVoices(mixer);

    // Limited: the last free voice, and no more voices of this sample's data
    // than the limit.
    a.SetVoiceLimit(2);
    EXPECT_EQ(SoundPlaySample(mixer, a, kPlayFirstFree), 2 + 7);
    EXPECT_EQ(SoundPlaySample(mixer, a, kPlayFirstFree), 2 + 6);
    EXPECT_EQ(SoundPlaySample(mixer, a, kPlayFirstFree), kSoundUnavailable);
    EXPECT_EQ(SoundPlaySample(mixer, b, kPlayFirstFree), 2 + 0) << "another sample's voices do not count";

    // An explicit voice: it must exist and be free; a limit counts the busy
    // voices of every sample (three now).
    EXPECT_EQ(SoundPlaySample(mixer, b, 1), 2 + 1);
    EXPECT_EQ(SoundPlaySample(mixer, b, 1), kSoundUnavailable);
    EXPECT_EQ(SoundPlaySample(mixer, b, 8), kSoundUnavailable);
    a.SetVoiceLimit(4);
    EXPECT_EQ(SoundPlaySample(mixer, a, 4), kSoundUnavailable);
    a.SetVoiceLimit(5);
    EXPECT_EQ(SoundPlaySample(mixer, a, 4), 2 + 4);

    // Every voice busy.
    SoundStopAllVoices(mixer);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(SoundPlaySample(mixer, b, kPlayFirstFree), 2 + i);
    EXPECT_EQ(SoundPlaySample(mixer, b, kPlayFirstFree), kSoundUnavailable);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 8);
}

TEST_F(MixerTest, PausedVoicesAreNotMixedAndNotFree) {
    Open(16, false);
    const std::vector<uint8_t> bytes = SixteenBitBytes({1000, 2000, 3000});
    const SoundSample sample = MakeSample(bytes, false, false, kRate);
    const int id = SoundPlaySample(mixer, sample, kPlayFirstFree | kPlayPaused);
    ASSERT_EQ(id, 1);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0);
    EXPECT_EQ(MixSixteen(mixer, 1)[0], 0);
    EXPECT_EQ(SoundPlaySample(mixer, sample, 0), kSoundUnavailable) << "a paused voice is not free";
    ChannelResume(*SoundGetChannel(mixer, id));
    EXPECT_EQ(MixSixteen(mixer, 1)[0], 500);
    SoundPauseAllVoices(mixer);
    EXPECT_EQ(MixSixteen(mixer, 1)[0], 0);
    SoundResumeAllVoices(mixer);
    EXPECT_EQ(MixSixteen(mixer, 1)[0], 1000);
    SoundGetChannel(mixer, id)->Stop();
    ChannelResume(*SoundGetChannel(mixer, id));
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0) << "a stopped channel stays stopped";
}

TEST_F(MixerTest, PlayingRequiresAnOpenMixer) {
    const std::vector<uint8_t> bytes = SixteenBitBytes({1});
    EXPECT_EQ(SoundPlaySample(mixer, MakeSample(bytes, false, false, kRate), kPlayFirstFree), kSoundUnavailable);
    SoundModule module;
    EXPECT_EQ(SoundPlayModule(mixer, &module, kPlayFirstFree), kSoundUnavailable);
    SoundPauseDevice(mixer);
    SoundResumeDevice(mixer);
    EXPECT_FALSE(mixer.devicePaused);
}

// The module player stands in here: one track over an 8-bit sample of four
// bytes whose last three loop, one byte per output frame.
const int8_t kTrackBytes[] = {10, 20, 30, -40};
int gFramesLeft = 0;

bool StartTestModule(MusicChannel& slot, const SoundModule& module) {
    if (!module.data) return false;
    slot.trackCount = 2;
    slot.tracks[0] = MusicTrack{};
    slot.tracks[0].sampleData = kTrackBytes;
    slot.tracks[0].sampleLength = 4u << 16;
    slot.tracks[0].loopStart = 1u << 16;
    slot.tracks[0].loopLength = 3u << 16;
    slot.tracks[0].step = 1u << 16;
    slot.tracks[0].volume = 64;
    slot.tracks[1] = MusicTrack{};
    return true;
}

bool CountDownFrames(MusicChannel&) { return gFramesLeft-- > 0; }

TEST_F(MixerTest, MusicSlotsMixTheirTracks) {
    MusicPlayer = {StartTestModule, CountDownFrames};
    gFramesLeft = 1000;
    const uint8_t moduleBytes[1] = {0};
    SoundModule module;
    module.data = moduleBytes;
    module.channelCount = 2;
    module.pan = 128;
    Open(16, false, 2, 8);
    SoundModule empty;
    EXPECT_EQ(SoundPlayModule(mixer, &empty, kPlayFirstFree), kSoundUnavailable) << "the player refuses it";
    EXPECT_EQ(SoundPlayModule(mixer, nullptr, kPlayFirstFree), kSoundUnavailable);
    EXPECT_EQ(SoundPlayModule(mixer, &module, 1), 1);
    EXPECT_EQ(SoundPlayModule(mixer, &module, 1), kSoundUnavailable) << "slot 1 is busy";
    EXPECT_EQ(SoundPlayModule(mixer, &module, 2), kSoundUnavailable) << "no slot 2";
    EXPECT_EQ(SoundCountPlayingMusic(mixer), 1);
    // Mono: L += e x s with e = 64 x 64 >> 6; the loop goes back from 4 to 1.
    EXPECT_EQ(MixSixteen(mixer, 7), (std::vector<int16_t>{640, 1280, 1920, -2560, 1280, 1920, -2560}));
    SoundStopAllMusic(mixer);
    SoundClose(mixer);

    // Stereo: track 0 gets pan 64 + ((255 - 128) x 64 >> 8) = 95, so the
    // right side takes 64 x 95 >> 8 = 23 and the left 41, each of 2s.
    Open(16, true, 1, 8);
    ASSERT_EQ(SoundPlayModule(mixer, &module, kPlayFirstFree), 0);
    EXPECT_EQ(mixer.musicSlots[0].tracks[0].pan, 95);
    EXPECT_EQ(mixer.musicSlots[0].tracks[1].pan, 192 - 31);
    EXPECT_EQ(MixSixteen(mixer, 4), (std::vector<int16_t>{820, 460, 1640, 920}));
    SoundSetMusicVolume(mixer, 32);
    EXPECT_EQ(mixer.musicSlots[0].tracks[0].effectiveVolume, 32);

    // The player ends the song: the slot stops and adds nothing more.
    gFramesLeft = 1;
    EXPECT_EQ(MixSixteen(mixer, 4), (std::vector<int16_t>{(32 - 11) * 2 * 30, 11 * 2 * 30, 0, 0}));
    EXPECT_EQ(SoundCountPlayingMusic(mixer), 0);
}

// One byte is no module the player can read: no slot starts.
TEST_F(MixerTest, AModuleThePlayerCannotReadDoesNotPlay) {
    Open(16, false);
    const uint8_t moduleBytes[1] = {0};
    SoundModule module;
    module.data = moduleBytes;
    module.channelCount = 4;
    EXPECT_EQ(SoundPlayModule(mixer, &module, kPlayFirstFree), kSoundUnavailable);
    EXPECT_TRUE(mixer.musicSlots[0].stopped.load());
}

TEST_F(MixerTest, PauseAndResumeTheDevice) {
    Open(16, false);
    EXPECT_FALSE(device.paused);
    SoundPauseDevice(mixer);
    EXPECT_TRUE(mixer.devicePaused);
    EXPECT_TRUE(device.paused);
    SoundPauseDevice(mixer);
    SoundResumeDevice(mixer);
    EXPECT_FALSE(mixer.devicePaused);
    EXPECT_FALSE(device.paused);
}

TEST_F(MixerTest, FailedOpenKeepsItsDeviceUntilTheNextOpen) {
    device.refuseOpen = true;
    EXPECT_EQ(SoundOpen(mixer, kRate, 16, false, 1, 8), kSoundBadDevice);
    EXPECT_FALSE(mixer.open);
    EXPECT_NE(mixer.device, nullptr);
    device.refuseOpen = false;
    EXPECT_EQ(SoundOpen(mixer, kRate, 16, false, 1, 8), 0);
    EXPECT_TRUE(mixer.open);
    EXPECT_EQ(SoundClose(mixer), 0);
    EXPECT_EQ(mixer.device, nullptr);
    EXPECT_TRUE(device.closed);
}

}  // namespace
}  // namespace qob
