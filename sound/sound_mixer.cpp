// sound/sound_mixer.cpp
// Opening and closing the mixer, starting channels on it, and SoundMix.
#include "sound/sound_mixer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "sound/sound_codes.h"
#include "sound/vorbis_decoder.h"

namespace qob {

constinit SoundMixer Mixer;

SoundMixer::~SoundMixer() { SoundClose(*this); }

std::recursive_mutex& LockOf(SoundMixer& mixer) { return mixer.device ? mixer.device->DeviceLock() : mixer.idleLock; }

void SoundMixerInit(SoundMixer& mixer) {
    SoundClose(mixer);
    mixer.bufferLength = kDefaultBufferLength;
}

int SoundSetBufferLength(SoundMixer& mixer, int milliseconds) {
    if (mixer.open) return kSoundAlreadyOpen;
    if (milliseconds < kShortestBufferLength) return kSoundBufferTooShort;
    mixer.bufferLength = milliseconds;
    return 0;
}

int SoundGetBufferLength(const SoundMixer& mixer) { return mixer.bufferLength; }

namespace {

// Every mixer that has voices, so that a sample about to free its data can
// stop the voices that play it on any of them. Never destroyed: samples in
// static storage clear themselves at exit, in no fixed order with it.
struct MixerList {
    std::mutex mutex;
    std::vector<SoundMixer*> mixers;
};

MixerList& Mixers() {
    static MixerList* list = new MixerList;
    return *list;
}

void ListMixer(SoundMixer& mixer) {
    MixerList& list = Mixers();
    std::lock_guard guard(list.mutex);
    if (std::find(list.mixers.begin(), list.mixers.end(), &mixer) == list.mixers.end()) list.mixers.push_back(&mixer);
}

void UnlistMixer(SoundMixer& mixer) {
    MixerList& list = Mixers();
    std::lock_guard guard(list.mutex);
    std::erase(list.mixers, &mixer);
}

// The channels and their scratch arrays; false when memory runs out.
bool MakeChannels(SoundMixer& mixer, int slots, int voices) {
    mixer.musicSlots.reset(new (std::nothrow) MusicChannel[slots]);
    mixer.playingSlots.reset(new (std::nothrow) MusicChannel*[slots]);
    mixer.voices.reset(new (std::nothrow) SoundVoice[voices]);
    mixer.playingVoices.reset(new (std::nothrow) SoundVoice*[voices]);
    if (!mixer.musicSlots || !mixer.playingSlots || !mixer.voices || !mixer.playingVoices) return false;
    mixer.musicSlotCount = slots;
    mixer.voiceCount = voices;
    for (int i = 0; i < slots; ++i) mixer.musicSlots[i].mixer = &mixer;
    for (int i = 0; i < voices; ++i) mixer.voices[i].mixer = &mixer;
    ListMixer(mixer);
    return true;
}

void FreeChannels(SoundMixer& mixer) {
    UnlistMixer(mixer);
    mixer.musicSlots.reset();
    mixer.playingSlots.reset();
    mixer.voices.reset();
    mixer.playingVoices.reset();
    mixer.musicSlotCount = 0;
    mixer.voiceCount = 0;
}

}  // namespace

int SoundOpen(SoundMixer& mixer, int rate, int bits, bool stereo, int musicSlots, int voices) {
    if (mixer.open) return kSoundAlreadyOpen;
    mixer.device.reset();  // the device kept by a failed open
    mixer.device.reset(new (std::nothrow) WaveOutDevice);
    if (!mixer.device) return kSoundNoDeviceObject;
    const bool sixteenBit = bits != 8;
    const WaveOutFormat format{rate, sixteenBit ? kWaveFormat16Bit | kWaveFormatSigned : kWaveFormat8Bit | kWaveFormatUnsigned,
                               stereo ? 2 : 1};
    const int64_t bufferFrames = static_cast<int64_t>(mixer.bufferLength) * rate / 1000;
    if (const int code = mixer.device->Open(&format, bufferFrames, SoundFillCallback, &mixer); code != 0) return code;

    mixer.rate = rate;
    mixer.sixteenBit = sixteenBit;
    mixer.stereo = stereo;
    BuildStepTable(mixer.stepTable, rate);
    BuildNoteTable(mixer.noteTable);
    FreeChannels(mixer);
    if (!MakeChannels(mixer, std::clamp(musicSlots, 1, kMostMusicSlots), std::clamp(voices, kFewestVoices, kMostVoices))) {
        FreeChannels(mixer);
        return kSoundNoMemory;
    }
    mixer.musicVolume.store(kFullVolume, std::memory_order_relaxed);
    mixer.soundVolume.store(kFullVolume, std::memory_order_relaxed);
    mixer.device->Resume();
    mixer.devicePaused = false;
    mixer.open = true;
    return 0;
}

int SoundClose(SoundMixer& mixer) {
    if (mixer.open) {
        mixer.device->Close();
        mixer.open = false;
    }
    mixer.device.reset();
    FreeChannels(mixer);
    return 0;
}

SoundChannel* SoundGetChannel(SoundMixer& mixer, int channelId) {
    if (channelId < 0) return nullptr;
    if (channelId < mixer.musicSlotCount) return &mixer.musicSlots[channelId];
    if (channelId - mixer.musicSlotCount < mixer.voiceCount) return &mixer.voices[channelId - mixer.musicSlotCount];
    return nullptr;
}

namespace {

// The voice for a sample by the flags and its voice limit, or -1.
int ChooseVoice(SoundMixer& mixer, const SoundSample& sample, int flags) {
    const int limit = sample.voiceLimit;
    if (flags & kPlayFirstFree) {
        int chosen = -1;
        int busy = 0;  // voices playing this sample's data
        for (int i = 0; i < mixer.voiceCount; ++i) {
            const SoundVoice& voice = mixer.voices[i];
            if (voice.IsFree()) {
                chosen = i;
                if (limit == kNoVoiceLimit) return chosen;
            } else if (voice.Plays(sample)) {
                ++busy;
            }
        }
        return limit != kNoVoiceLimit && busy >= limit ? -1 : chosen;
    }
    const int index = flags & 0xFFFF;
    if (index >= mixer.voiceCount || !mixer.voices[index].IsFree()) return -1;
    if (limit != kNoVoiceLimit) {
        int busy = 0;  // voices of every sample
        for (int i = 0; i < mixer.voiceCount; ++i) busy += mixer.voices[i].IsFree() ? 0 : 1;
        if (busy >= limit) return -1;
    }
    return index;
}

}  // namespace

namespace {

// Whether a voice could play the sample: a sample without frames would leave
// it nothing to read.
bool IsPlayable(const SoundSample& sample) {
    if (sample.length <= 0) return false;
    if (sample.kind == SampleKind::Memory) return sample.data != nullptr;
    return sample.kind == SampleKind::Streamed && sample.stream;
}

}  // namespace

int SoundPlaySample(SoundMixer& mixer, const SoundSample& sample, int flags) {
    std::lock_guard guard(LockOf(mixer));
    if (!mixer.open || !IsPlayable(sample)) return kSoundUnavailable;
    const int index = ChooseVoice(mixer, sample, flags);
    if (index < 0) return kSoundUnavailable;

    SoundVoice& voice = mixer.voices[index];
    voice.ReleaseStream();
    if (sample.kind == SampleKind::Streamed) {
        // Each voice decodes the sample's stream with a decoder of its own;
        // the decoders read the stream only under the device lock.
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kStreamBufferBytes]);
        if (!buffer) return kSoundNoMemory;
        VorbisDecoder* decoder = OpenVorbisDecoder(sample.stream.get());
        if (!decoder) return kSoundUnavailable;
        voice.decoder = decoder;
        voice.streamBuffer = std::move(buffer);
        voice.data = voice.streamBuffer.get();
    } else {
        voice.data = sample.data;
    }
    voice.kind = sample.kind;
    voice.soundRate = sample.rate;
    voice.frequency.store(sample.frequency, std::memory_order_relaxed);
    voice.stepDirty.store(true, std::memory_order_relaxed);
    voice.playedPosition = 0;
    voice.length = static_cast<uint64_t>(sample.length) << 8;
    voice.loop.store(sample.loop, std::memory_order_relaxed);
    voice.pan.store(sample.pan, std::memory_order_relaxed);
    voice.eightBit = sample.eightBit;
    voice.stereo = sample.stereo;
    voice.bufferEnd = 0;
    voice.bufferPosition = 0;
    voice.SetVolume(sample.volume);
    ChannelStart(voice, (flags & kPlayPaused) != 0);
    return mixer.musicSlotCount + index;
}

int SoundPlayModule(SoundMixer& mixer, const SoundModule* module, int flags) {
    std::lock_guard guard(LockOf(mixer));
    if (!mixer.open || !module || !module->data) return kSoundUnavailable;
    // A tag may name up to 99 channels; a slot has 32 tracks.
    if (module->channelCount < 1 || module->channelCount > kMostTracks) return kSoundUnavailable;
    int index = -1;
    if (flags & kPlayFirstFree) {
        for (int i = 0; i < mixer.musicSlotCount && index < 0; ++i)
            if (mixer.musicSlots[i].IsFree()) index = i;
    } else if ((flags & 0xFFFF) < mixer.musicSlotCount && mixer.musicSlots[flags & 0xFFFF].IsFree()) {
        index = flags & 0xFFFF;
    }
    if (index < 0) return kSoundUnavailable;
    MusicChannel& slot = mixer.musicSlots[index];
    if (!MusicPlayer.startModule(slot, *module)) return kSoundUnavailable;
    slot.module = module;
    slot.SetVolume(module->volume);
    slot.SetPan(module->pan);
    slot.loop.store(module->loop, std::memory_order_relaxed);
    ChannelStart(slot, (flags & kPlayPaused) != 0);
    return index;
}

void SoundStopVoicesOf(const uint8_t* data, const SoundStream* stream) {
    MixerList& list = Mixers();
    std::lock_guard listGuard(list.mutex);
    for (SoundMixer* mixer : list.mixers) {
        std::lock_guard guard(LockOf(*mixer));
        for (int i = 0; i < mixer->voiceCount; ++i) {
            SoundVoice& voice = mixer->voices[i];
            const bool usesData = data && voice.kind == SampleKind::Memory && voice.data == data;
            const bool usesStream = stream && voice.decoder && voice.decoder->stream == stream;
            if (usesData || usesStream) voice.Stop();
        }
    }
}

void SoundStopMusicOf(const SoundModule* module) {
    MixerList& list = Mixers();
    std::lock_guard listGuard(list.mutex);
    for (SoundMixer* mixer : list.mixers) {
        std::lock_guard guard(LockOf(*mixer));
        for (int i = 0; i < mixer->musicSlotCount; ++i)
            if (mixer->musicSlots[i].module == module) mixer->musicSlots[i].Stop();
    }
}

void SoundStopAllVoices(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    for (int i = 0; i < mixer.voiceCount; ++i) mixer.voices[i].Stop();
}

void SoundStopAllMusic(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    for (int i = 0; i < mixer.musicSlotCount; ++i) mixer.musicSlots[i].Stop();
}

void SoundPauseAllVoices(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    for (int i = 0; i < mixer.voiceCount; ++i) ChannelPause(mixer.voices[i]);
}

void SoundResumeAllVoices(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    for (int i = 0; i < mixer.voiceCount; ++i) ChannelResume(mixer.voices[i]);
}

void SoundPauseAllMusic(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    for (int i = 0; i < mixer.musicSlotCount; ++i) ChannelPause(mixer.musicSlots[i]);
}

void SoundResumeAllMusic(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    for (int i = 0; i < mixer.musicSlotCount; ++i) ChannelResume(mixer.musicSlots[i]);
}

void SoundPauseDevice(SoundMixer& mixer) {
    if (!mixer.open || mixer.devicePaused) return;
    mixer.device->Pause();
    mixer.devicePaused = true;
}

void SoundResumeDevice(SoundMixer& mixer) {
    if (!mixer.open || !mixer.devicePaused) return;
    mixer.device->Resume();
    mixer.devicePaused = false;
}

namespace {

int ClampMasterVolume(int volume) { return std::clamp(volume, 0, kFullVolume); }

}  // namespace

void SoundSetSoundVolume(SoundMixer& mixer, int volume) {
    mixer.soundVolume.store(ClampMasterVolume(volume), std::memory_order_relaxed);
    for (int i = 0; i < mixer.voiceCount; ++i) mixer.voices[i].SetVolume(mixer.voices[i].volume.load(std::memory_order_relaxed));
}

void SoundSetMusicVolume(SoundMixer& mixer, int volume) {
    mixer.musicVolume.store(ClampMasterVolume(volume), std::memory_order_relaxed);
    for (int i = 0; i < mixer.musicSlotCount; ++i)
        mixer.musicSlots[i].SetVolume(mixer.musicSlots[i].volume.load(std::memory_order_relaxed));
}

int SoundGetSoundVolume(const SoundMixer& mixer) { return mixer.soundVolume.load(std::memory_order_relaxed); }

int SoundGetMusicVolume(const SoundMixer& mixer) { return mixer.musicVolume.load(std::memory_order_relaxed); }

int SoundGetVoiceCount(const SoundMixer& mixer) { return mixer.voiceCount; }

int SoundCountPlayingMusic(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    int playing = 0;
    for (int i = 0; i < mixer.musicSlotCount; ++i) playing += mixer.musicSlots[i].IsPlaying() ? 1 : 0;
    return playing;
}

int SoundCountPlayingVoices(SoundMixer& mixer) {
    std::lock_guard guard(LockOf(mixer));
    int playing = 0;
    for (int i = 0; i < mixer.voiceCount; ++i) playing += mixer.voices[i].IsPlaying() ? 1 : 0;
    return playing;
}

void SoundFillCallback(void* mixer, uint8_t* buffer, size_t bytes) {
    if (mixer) SoundMix(*static_cast<SoundMixer*>(mixer), buffer, bytes);
}

}  // namespace qob
