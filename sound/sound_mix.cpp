// sound/sound_mix.cpp
// SoundMix: music tracks and voices added into integer accumulators a chunk
// of frames at a time, then clamped into 8-bit or 16-bit output.
#include <algorithm>
#include <cstring>

#include "sound/sound_mixer.h"

namespace qob {
namespace {

// How a voice reaches the output channels.
enum class Placement {
    Mono,    // mono output: both source channels into the one
    Apart,   // stereo output at pan 128: the sample's own channels
    Panned,  // stereo output at another pan: both source channels to both sides
};

// The voice has read its buffer: moves it on, or back to the start when it
// loops; a voice left without data to read is stopped.
bool ContinueVoice(SoundVoice& voice) {
    if (voice.Refill(kRefillNoSeek) == 0 && voice.bufferPosition < voice.bufferEnd) return true;
    if (voice.loop.load(std::memory_order_relaxed)) {
        // Past the end by more than one length (a step longer than the
        // sample) wraps as often as needed, so the seek lands inside it.
        const uint64_t played = voice.playedPosition;
        const uint64_t restart = played < voice.length || voice.length == 0 ? 0 : played % voice.length;
        if (voice.Refill(static_cast<int64_t>(restart)) == 0 && voice.bufferPosition < voice.bufferEnd) return true;
    }
    voice.Stop();
    return false;
}

// One frame of the source as (a, b): 8-bit data is centred and scaled to 16
// bits; a mono sample has b = 0.
template <bool kEightBit, bool kStereoSource>
inline void ReadFrame(const uint8_t* data, uint64_t index, int32_t& a, int32_t& b) {
    if constexpr (kEightBit) {
        const uint8_t* frame = data + index * (kStereoSource ? 2 : 1);
        a = (frame[0] - 128) * 256;
        b = kStereoSource ? (frame[1] - 128) * 256 : 0;
    } else {
        int16_t values[2] = {0, 0};
        std::memcpy(values, data + index * (kStereoSource ? 4 : 2), kStereoSource ? 4 : 2);
        a = values[0];
        b = values[1];
    }
}

template <bool kEightBit, bool kStereoSource, Placement kPlacement>
void MixVoiceChunk(SoundVoice& voice, int32_t* left, int32_t* right, int frames, int32_t v, int32_t l, int32_t r) {
    const uint8_t* data = voice.data;
    uint64_t position = voice.bufferPosition;
    uint64_t played = voice.playedPosition;
    uint64_t end = voice.bufferEnd;
    const uint64_t step = voice.step;
    for (int i = 0; i < frames; ++i) {
        if (position >= end) {
            voice.bufferPosition = position;
            voice.playedPosition = played;
            if (!ContinueVoice(voice)) return;
            data = voice.data;
            position = voice.bufferPosition;
            played = voice.playedPosition;
            end = voice.bufferEnd;
        }
        int32_t a, b;
        ReadFrame<kEightBit, kStereoSource>(data, position >> 8, a, b);
        if constexpr (kPlacement == Placement::Mono) {
            left[i] += a * v + b * v;
        } else if constexpr (kPlacement == Placement::Apart) {
            left[i] += a * v;
            right[i] += (kStereoSource ? b : a) * v;
        } else {
            left[i] += l * a + l * b;
            right[i] += r * a + r * b;
        }
        position += step;
        played += step;
    }
    voice.bufferPosition = position;
    voice.playedPosition = played;
}

template <bool kEightBit, bool kStereoSource>
void MixVoiceBySource(SoundVoice& voice, bool stereoOutput, int32_t* left, int32_t* right, int frames) {
    const int32_t v = voice.effectiveVolume.load(std::memory_order_relaxed);
    const int32_t p = voice.pan.load(std::memory_order_relaxed);
    if (!stereoOutput) return MixVoiceChunk<kEightBit, kStereoSource, Placement::Mono>(voice, left, right, frames, v, 0, 0);
    if (p == kCentrePan)
        return MixVoiceChunk<kEightBit, kStereoSource, Placement::Apart>(voice, left, right, frames, v, 0, 0);
    const int32_t r = (2 * v * p) >> 8;
    MixVoiceChunk<kEightBit, kStereoSource, Placement::Panned>(voice, left, right, frames, v, 2 * v - r, r);
}

void MixVoice(SoundMixer& mixer, SoundVoice& voice, int frames) {
    if (voice.stopped.load(std::memory_order_relaxed)) return;
    if (voice.stepDirty.exchange(false, std::memory_order_relaxed)) {
        const uint64_t frequency = static_cast<uint64_t>(std::max(voice.frequency.load(std::memory_order_relaxed), 0));
        voice.step = (frequency << 16) / (static_cast<uint64_t>(mixer.rate) << 8);
    }
    int32_t* left = mixer.voiceLeft;
    int32_t* right = mixer.voiceRight;
    if (voice.eightBit) {
        if (voice.stereo) return MixVoiceBySource<true, true>(voice, mixer.stereo, left, right, frames);
        return MixVoiceBySource<true, false>(voice, mixer.stereo, left, right, frames);
    }
    if (voice.stereo) return MixVoiceBySource<false, true>(voice, mixer.stereo, left, right, frames);
    MixVoiceBySource<false, false>(voice, mixer.stereo, left, right, frames);
}

// One output frame of a slot: its tick and row logic, then every track.
void MixMusicFrame(MusicChannel& slot, bool stereoOutput, int32_t& left, int32_t& right) {
    if (slot.stopped.load(std::memory_order_relaxed)) return;
    if (!MusicPlayer.advanceFrame(slot)) {
        slot.Stop();
        return;
    }
    for (int t = 0; t < slot.trackCount; ++t) {
        MusicTrack& track = slot.tracks[t];
        if (!track.sampleData) continue;
        if (track.loopLength != 0 && track.position >= track.loopStart + track.loopLength) track.position -= track.loopLength;
        if (track.position >= track.sampleLength) continue;
        const int32_t s = track.sampleData[track.position >> 16];
        const int32_t e = track.effectiveVolume;
        if (stereoOutput) {
            const int32_t share = (e * track.pan) >> 8;  // the right side's
            left += (e - share) * 2 * s;
            right += share * 2 * s;
        } else {
            left += e * s;
        }
        track.position += track.step;
    }
}

template <typename Sample>
inline void Store(uint8_t*& out, Sample value) {
    std::memcpy(out, &value, sizeof value);
    out += sizeof value;
}

inline void StoreOutput(uint8_t*& out, int32_t value, bool sixteenBit) {
    if (sixteenBit) return Store(out, static_cast<int16_t>(std::clamp(value, -32768, 32767)));
    Store(out, static_cast<uint8_t>(std::clamp(value >> 8, -128, 127) + 128));
}

}  // namespace

void SoundMix(SoundMixer& mixer, uint8_t* buffer, size_t bytes) {
    std::lock_guard guard(LockOf(mixer));
    const uint8_t silence = mixer.sixteenBit ? 0 : 0x80;
    int slots = 0;
    int voices = 0;
    for (int i = 0; i < mixer.musicSlotCount; ++i)
        if (mixer.musicSlots[i].IsPlaying()) mixer.playingSlots[slots++] = &mixer.musicSlots[i];
    for (int i = 0; i < mixer.voiceCount; ++i)
        if (mixer.voices[i].IsPlaying()) mixer.playingVoices[voices++] = &mixer.voices[i];
    if (slots == 0 && voices == 0) {
        std::memset(buffer, silence, bytes);
        return;
    }

    const size_t frameBytes = (mixer.stereo ? 2u : 1u) * (mixer.sixteenBit ? 2u : 1u);
    const size_t frames = bytes / frameBytes;
    uint8_t* out = buffer;
    for (size_t start = 0; start < frames; start += kMixChunkFrames) {
        const int count = static_cast<int>(std::min<size_t>(kMixChunkFrames, frames - start));
        std::fill_n(mixer.musicLeft, count, 0);
        std::fill_n(mixer.musicRight, count, 0);
        std::fill_n(mixer.voiceLeft, count, 0);
        std::fill_n(mixer.voiceRight, count, 0);
        for (int i = 0; i < slots; ++i)
            for (int f = 0; f < count; ++f)
                MixMusicFrame(*mixer.playingSlots[i], mixer.stereo, mixer.musicLeft[f], mixer.musicRight[f]);
        for (int i = 0; i < voices; ++i) MixVoice(mixer, *mixer.playingVoices[i], count);
        for (int f = 0; f < count; ++f) {
            StoreOutput(out, mixer.musicLeft[f] + (mixer.voiceLeft[f] >> 7), mixer.sixteenBit);
            if (mixer.stereo) StoreOutput(out, mixer.musicRight[f] + (mixer.voiceRight[f] >> 7), mixer.sixteenBit);
        }
    }
    // A byte count that is not a whole number of frames ends in silence.
    std::memset(out, silence, bytes - frames * frameBytes);
}

}  // namespace qob
