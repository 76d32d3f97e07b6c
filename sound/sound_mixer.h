// sound/sound_mixer.h
// SoundMixer: the software mixer that owns the output device, the music
// slots and the sample voices, and mixes them into each output buffer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sound/music_channel.h"
#include "sound/sound_sample.h"
#include "sound/sound_tables.h"
#include "sound/sound_voice.h"
#include "sound/wave_out_device.h"

namespace qob {

constexpr int kDefaultBufferLength = 160;  // milliseconds
constexpr int kShortestBufferLength = 60;
constexpr int kMostMusicSlots = 3;
constexpr int kFewestVoices = 8;
constexpr int kMostVoices = 64;

// Flags of SoundPlaySample and SoundPlayModule.
constexpr int kPlayFirstFree = 0x10000000;  // else the low 16 bits name the voice or slot
constexpr int kPlayPaused = 0x20000000;

// Frames mixed at a time into the mixer's accumulators.
constexpr int kMixChunkFrames = 256;

class SoundMixer {
public:
    SoundMixer() = default;
    SoundMixer(const SoundMixer&) = delete;
    SoundMixer& operator=(const SoundMixer&) = delete;
    virtual ~SoundMixer();  // closes the mixer

    std::unique_ptr<WaveOutDevice> device;
    bool open = false;
    bool devicePaused = false;
    int musicSlotCount = 0;
    std::unique_ptr<MusicChannel[]> musicSlots;
    std::unique_ptr<MusicChannel*[]> playingSlots;  // scratch: the slots of this buffer
    int voiceCount = 0;
    std::unique_ptr<SoundVoice[]> voices;
    std::unique_ptr<SoundVoice*[]> playingVoices;  // scratch: the voices of this buffer
    StepTable stepTable{};
    NoteTable noteTable{};
    std::atomic<int> musicVolume{kFullVolume};
    std::atomic<int> soundVolume{kFullVolume};
    int rate = 0;
    bool stereo = false;
    bool sixteenBit = true;
    int bufferLength = kDefaultBufferLength;

    // Accumulators of one chunk: music (L, R) and voices (VL, VR). Set to
    // zero, so that the process-wide Mixer is made before any code runs
    // (constinit) and a start touches none of its pages.
    int32_t musicLeft[kMixChunkFrames]{};
    int32_t musicRight[kMixChunkFrames]{};
    int32_t voiceLeft[kMixChunkFrames]{};
    int32_t voiceRight[kMixChunkFrames]{};
    std::recursive_mutex idleLock;  // stands for the device lock while there is no device
};

// The process's one mixer.
extern SoundMixer Mixer;

// The device lock of the mixer: every start, stop, pause, resume and position
// change of a channel, and every mix, happens under it.
std::recursive_mutex& LockOf(SoundMixer& mixer);

void SoundMixerInit(SoundMixer& mixer);
int SoundSetBufferLength(SoundMixer& mixer, int milliseconds);
int SoundGetBufferLength(const SoundMixer& mixer);

// 0, or a negative code: -2 already open, -4 no device object, the device's
// own code, -10 without memory.
int SoundOpen(SoundMixer& mixer, int rate, int bits, bool stereo, int musicSlots, int voices);
int SoundClose(SoundMixer& mixer);

// Ids 0 to music slot count - 1 are the slots, the following ones the voices.
SoundChannel* SoundGetChannel(SoundMixer& mixer, int channelId);

// The channel id of the voice started, or -1000 / -10.
int SoundPlaySample(SoundMixer& mixer, const SoundSample& sample, int flags);
// The channel id of the slot started, or -1000.
int SoundPlayModule(SoundMixer& mixer, const SoundModule* module, int flags);

void SoundStopAllVoices(SoundMixer& mixer);
// Stops, on every mixer with voices and under its device lock, each voice
// that plays from data or decodes stream (either may be null).
void SoundStopVoicesOf(const uint8_t* data, const SoundStream* stream);
// Stops, on every mixer, each music slot that plays the module.
void SoundStopMusicOf(const SoundModule* module);
void SoundStopAllMusic(SoundMixer& mixer);
void SoundPauseAllVoices(SoundMixer& mixer);
void SoundResumeAllVoices(SoundMixer& mixer);
void SoundPauseAllMusic(SoundMixer& mixer);
void SoundResumeAllMusic(SoundMixer& mixer);

// The output device stops taking buffers / takes them again.
void SoundPauseDevice(SoundMixer& mixer);
void SoundResumeDevice(SoundMixer& mixer);

// 0 to 64; above 64 becomes 64. The channels' effective volumes follow.
void SoundSetSoundVolume(SoundMixer& mixer, int volume);
void SoundSetMusicVolume(SoundMixer& mixer, int volume);
int SoundGetSoundVolume(const SoundMixer& mixer);
int SoundGetMusicVolume(const SoundMixer& mixer);

int SoundGetVoiceCount(const SoundMixer& mixer);
int SoundCountPlayingMusic(SoundMixer& mixer);
int SoundCountPlayingVoices(SoundMixer& mixer);

// The device's fill callback: SoundMix of the mixer given as context (a null
// context leaves the buffer as it is).
void SoundFillCallback(void* mixer, uint8_t* buffer, size_t bytes);

// Mixes every playing slot and voice into bytes of output, under the device
// lock. Writes exactly bytes bytes.
void SoundMix(SoundMixer& mixer, uint8_t* buffer, size_t bytes);

}  // namespace qob
