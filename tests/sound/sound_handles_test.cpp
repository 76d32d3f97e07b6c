// tests/sound/sound_handles_test.cpp
// Sound handles over a mixer on a test device: handle numbers, the lowest
// free index after a free, range checks, negative and stale channel ids,
// stored settings, and what s_init and s_shut leave.
#include "sound/sound_handles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/temp_directory.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"
#include "sound_file_support.h"
#include "sound_test_support.h"
#include "synthetic_module_support.h"

namespace qob {
namespace {

using testing::TempDirectory;
using testing::Utf16;

constexpr int kRate = 22050;

class SoundHandlesTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::UseManualDevices({&device});
        handles.Init(kRate, 16, false, 2, 8);
        ASSERT_TRUE(mixer.open);
        testing::SyntheticModule image;
        image.samples = {testing::ConstantSample(64, 100)};
        image.Set(0, 0, 0, {1, 428, 0, 0});
        moduleBytes = image.Bytes();
        // 4,000 frames of 16-bit mono at the output rate.
        waveBytes = testing::PcmWave(1, kRate, 16, std::string(8000, '\x10'));
    }
    void TearDown() override {
        handles.Shut();
        testing::RestoreDeviceOptions();
    }
    int LoadSample() { return handles.LoadMemory(waveBytes.data(), waveBytes.size(), 0); }
    int LoadModule() { return handles.LoadMemory(moduleBytes.data(), moduleBytes.size(), 1); }
    SoundChannel* ChannelOfState(int handle) {
        const SoundPlayState* state = handles.PlayState(handle);
        return state ? SoundGetChannel(mixer, state->channelId) : nullptr;
    }

    testing::ManualDeviceState device;
    SoundMixer mixer;
    SoundHandles handles{mixer};
    std::vector<uint8_t> moduleBytes;
    std::string waveBytes;
};

TEST_F(SoundHandlesTest, FirstHandlesOfEachKind) {
    TempDirectory dir;
    const std::string wave = dir.Write("a.wav", waveBytes);
    const std::string tune = dir.Write("a.mod", std::string(moduleBytes.begin(), moduleBytes.end()));
    EXPECT_EQ(handles.LoadFile(Utf16(wave), 0), 0);
    EXPECT_EQ(handles.LoadFile(Utf16(tune), 1), 1024);
    EXPECT_EQ(handles.LoadFile(Utf16(tune), 7), 1025);
    EXPECT_EQ(handles.LoadFile(Utf16(wave), 3), 1);
    EXPECT_EQ(handles.LoadFile(Utf16(dir.Join("missing.wav")), 0), kSoundCannotOpen);
    EXPECT_EQ(handles.LoadFile(Utf16(wave), 1), kSoundUnknownFormat) << "a WAVE file is no module";
    EXPECT_EQ(handles.LoadFile(Utf16(wave), 2), 2) << "failed loads keep the lowest free index";
    EXPECT_EQ(handles.LoadMemory(nullptr, 100, 0), kSoundNoMemory);
    EXPECT_EQ(handles.LoadMemory(nullptr, 100, 1), kSoundNoMemory);
}

TEST_F(SoundHandlesTest, FreeingKeepsHandlesAndTheirStates) {
    ASSERT_EQ(LoadSample(), 0);
    ASSERT_EQ(LoadSample(), 1);
    ASSERT_EQ(LoadSample(), 2);
    handles.SetVolume(2, 20);
    handles.Play(1);
    const SoundChannel* voice = ChannelOfState(1);
    ASSERT_NE(voice, nullptr);
    EXPECT_TRUE(voice->IsPlaying());
    handles.Free(1);
    EXPECT_TRUE(voice->stopped.load()) << "freeing stops the voice that plays the object";
    EXPECT_FALSE(handles.IsLoaded(1));
    EXPECT_EQ(handles.PlayState(2)->volume, 20) << "play states never shift";
    EXPECT_EQ(LoadSample(), 1) << "the lowest free index";
    handles.Free(0);  // never played: freed all the same
    EXPECT_FALSE(handles.IsLoaded(0));
    EXPECT_EQ(LoadSample(), 0);
    EXPECT_EQ(LoadSample(), 3);
    // A module handle the same way.
    ASSERT_EQ(LoadModule(), 1024);
    ASSERT_EQ(LoadModule(), 1025);
    handles.Play(1024);
    EXPECT_EQ(handles.State(1024), 1);
    handles.Free(1024);
    EXPECT_EQ(SoundCountPlayingMusic(mixer), 0);
    EXPECT_EQ(handles.State(1024), 0);
    EXPECT_EQ(LoadModule(), 1024);
}

TEST_F(SoundHandlesTest, HandlesThatNameNothingDoNothing) {
    ASSERT_EQ(LoadSample(), 0);
    ASSERT_EQ(LoadModule(), 1024);
    handles.Play(0);
    handles.Play(1024);
    for (const int handle : {-1, -2, -1000, 1, 1023, 1025, 2047, 2048, 4096, 1 << 30}) {
        handles.Play(handle);
        handles.Stop(handle);
        handles.Pause(handle);
        handles.Resume(handle);
        handles.SetVolume(handle, 10);
        handles.SetFrequency(handle, 1000);
        handles.SetPan(handle, 10);
        handles.SetLoop(handle, 1);
        handles.Free(handle);
        EXPECT_EQ(handles.State(handle), 0) << handle;
        EXPECT_EQ(handles.Volume(handle), 0) << handle;
        EXPECT_EQ(handles.Frequency(handle), 0) << handle;
        EXPECT_EQ(handles.Pan(handle), 0) << handle;
        EXPECT_EQ(handles.Loop(handle), 0) << handle;
        EXPECT_EQ(handles.PlayState(handle), nullptr) << handle;
    }
    EXPECT_EQ(handles.State(0), 1);
    EXPECT_EQ(handles.State(1024), 1);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 1);
    EXPECT_EQ(SoundCountPlayingMusic(mixer), 1);
}

TEST_F(SoundHandlesTest, TheLoadAfterTheLastObjectFails) {
    for (int i = 0; i < kSoundObjects; ++i) ASSERT_EQ(LoadModule(), kModuleHandleBase + i);
    EXPECT_EQ(LoadModule(), kSoundUnavailable);
    handles.Free(kModuleHandleBase + 500);
    EXPECT_EQ(LoadModule(), kModuleHandleBase + 500);
    EXPECT_EQ(LoadSample(), 0) << "the other kind has its own objects";
}

TEST_F(SoundHandlesTest, StoredSettingsAndState) {
    ASSERT_EQ(LoadSample(), 0);
    handles.SetVolume(0, 300);
    EXPECT_EQ(handles.PlayState(0)->volume, 255);
    handles.SetPan(0, 10);  // no channel yet: forgotten
    handles.SetFrequency(0, 1000);
    handles.SetLoop(0, 1);
    EXPECT_EQ(handles.Volume(0), 0) << "no channel: queries give 0";
    handles.Play(0);
    SoundChannel* voice = ChannelOfState(0);
    ASSERT_NE(voice, nullptr);
    EXPECT_EQ(voice->volume.load(), 64) << "255 is outside the channel's 0..64";
    EXPECT_EQ(handles.Volume(0), 255);
    EXPECT_EQ(handles.Pan(0), 128) << "the sample's own pan";
    EXPECT_EQ(handles.Frequency(0), kRate);
    EXPECT_EQ(handles.Loop(0), 0);
    handles.SetPan(0, 30);
    EXPECT_EQ(voice->pan.load(), 30);
    EXPECT_EQ(handles.Pan(0), 30);
    handles.SetVolume(0, 32);
    EXPECT_EQ(voice->volume.load(), 32);
    handles.SetLoop(0, 5);
    EXPECT_TRUE(voice->loop.load());
    EXPECT_EQ(handles.Loop(0), 5);
    handles.SetFrequency(0, 11025);
    EXPECT_EQ(voice->frequency.load(), 11025);

    EXPECT_EQ(handles.State(0), 1);
    handles.Pause(0);
    EXPECT_EQ(handles.State(0), 2);
    handles.Resume(0);
    EXPECT_EQ(handles.State(0), 1);
    handles.Stop(0);
    EXPECT_EQ(handles.State(0), 0);
}

TEST_F(SoundHandlesTest, AFailedPlayLeavesNoChannel) {
    SoundClose(mixer);  // as after a failed s_init
    ASSERT_EQ(LoadSample(), 0);
    ASSERT_EQ(LoadModule(), 1024);
    for (const int handle : {0, 1024}) {
        handles.Play(handle);
        EXPECT_EQ(handles.PlayState(handle)->channelId, kSoundUnavailable);
        handles.Stop(handle);
        handles.Pause(handle);
        handles.SetPan(handle, 3);
        EXPECT_EQ(handles.State(handle), 0);
        EXPECT_EQ(handles.Pan(handle), 0);
    }
    handles.Shut();
}

TEST_F(SoundHandlesTest, ShutWhilePlayingClosesAndReleases) {
    ASSERT_EQ(LoadModule(), 1024);
    ASSERT_EQ(LoadSample(), 0);
    handles.Play(1024);
    handles.Play(0);
    ASSERT_EQ(handles.PlayState(1024)->channelId, 0) << "music slot 0 is a channel like any other";
    handles.Shut();
    EXPECT_FALSE(mixer.open);
    EXPECT_FALSE(handles.IsLoaded(1024));
    EXPECT_FALSE(handles.IsLoaded(0));
    EXPECT_EQ(LoadSample(), 0);
}

TEST_F(SoundHandlesTest, StaleChannelIdsActOnNothing) {
    // A short sample ends by itself; another sound then takes its voice.
    const std::string shortWave = testing::PcmWave(1, kRate, 16, std::string(8, '\x10'));
    ASSERT_EQ(handles.LoadMemory(shortWave.data(), shortWave.size(), 0), 0);
    ASSERT_EQ(LoadSample(), 1);
    handles.Play(0);
    const int voiceId = handles.PlayState(0)->channelId;
    testing::MixSixteen(mixer, 64);
    EXPECT_EQ(handles.State(0), 0) << "it ended";
    EXPECT_EQ(handles.Volume(0), 64) << "its voice still holds it";
    handles.Play(1);
    ASSERT_EQ(handles.PlayState(1)->channelId, voiceId) << "the first free voice again";
    handles.Stop(0);
    handles.Pause(0);
    handles.SetVolume(0, 5);
    EXPECT_EQ(handles.State(1), 1) << "the first handle no longer reaches the voice";
    EXPECT_EQ(SoundGetChannel(mixer, voiceId)->volume.load(), 64);
    EXPECT_EQ(handles.State(0), 0);
    EXPECT_EQ(handles.Volume(0), 0);
}

TEST_F(SoundHandlesTest, InitForgetsLoadsAndStopsWhatPlays) {
    ASSERT_EQ(LoadSample(), 0);
    ASSERT_EQ(LoadModule(), 1024);
    handles.Play(0);
    handles.Play(1024);
    handles.Init(kRate, 16, false, 2, 8);  // the mixer is open already: it stays so
    EXPECT_TRUE(mixer.open);
    EXPECT_EQ(SoundCountPlayingVoices(mixer), 0);
    EXPECT_EQ(SoundCountPlayingMusic(mixer), 0);
    EXPECT_FALSE(handles.IsLoaded(0));
    EXPECT_EQ(LoadSample(), 0);
    EXPECT_EQ(LoadModule(), 1024);
    // The new objects play, and the mixer reads only what is loaded.
    handles.Play(0);
    EXPECT_EQ(testing::MixSixteen(mixer, 1)[0], 0x1010 / 2);
}

}  // namespace
}  // namespace qob
