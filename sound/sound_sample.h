// sound/sound_sample.h
// SoundSample: one sound effect that voices play, as PCM in memory or as an
// Ogg Vorbis stream that each voice decodes, and its loaders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "sound/sound_stream.h"

namespace qob {

enum class SampleKind : uint8_t { Empty = 0, Memory = 1, Streamed = 2 };

constexpr int kNoVoiceLimit = -1;

// Loader flags.
constexpr int kLoadCopy = 1;         // keep a private copy of memory data
constexpr int kLoadDecodeWhole = 2;  // decode an Ogg Vorbis sound into memory

// What describes a sample's sound and how it plays; a load sets it anew.
struct SampleSettings {
    const uint8_t* data = nullptr;  // interleaved frames: 8-bit unsigned or 16-bit signed
    uint8_t eightBit = 1;
    uint8_t stereo = 0;
    int rate = 0;        // Hz
    int64_t length = 0;  // frames
    int volume = 64;
    bool loop = false;
    int pan = 128;
    int voiceLimit = kNoVoiceLimit;  // voices that may play this sample at once
    int frequency = 0;
    int step = 0;
    SampleKind kind = SampleKind::Empty;
};

// Moving a sample keeps its owned data and stream where they are, so voices
// playing them go on. Clearing (a load, the destructor) first stops every
// voice that plays data or decodes a stream that the sample is about to free.
struct SoundSample : SampleSettings {
    SoundSample() = default;
    SoundSample(SoundSample&& other) noexcept;
    SoundSample& operator=(SoundSample&& other) noexcept;
    ~SoundSample();

    std::unique_ptr<uint8_t[]> ownedData;     // what data points into, or the copy a stream reads
    std::unique_ptr<SwitchingStream> stream;  // streamed Ogg Vorbis: what each voice decodes

    void SetVolume(int newVolume) { volume = newVolume < 0 || newVolume > 64 ? 64 : newVolume; }
    void SetPan(int newPan) { pan = newPan < 0 || newPan > 255 ? 255 : newPan; }
    void SetLoop(bool newLoop) { loop = newLoop; }
    void SetVoiceLimit(int limit) { voiceLimit = limit; }
    // step = ((frequency << 16) / rate) >> 9
    void SetFrequency(int newFrequency);

    // Stops the voices that use what the sample owns, frees it, and leaves
    // the sample empty (kind 0) with its settings as at construction.
    void Clear();

private:
    void TakeFrom(SoundSample& other);
};

// Each returns 0 or a negative code (-10 memory or null data, -100 format,
// -200 cannot open, -300 malformed or empty) and leaves the sample empty on
// failure. Every load clears the sample first.

// Ogg Vorbis first, then RIFF WAVE; the code of the WAVE attempt when both
// fail. The path follows ResolveSoundPath.
int SoundSampleLoadFile(SoundSample& sample, std::span<const uint16_t> path, int flags);
int SoundSampleLoadMemory(SoundSample& sample, const void* data, size_t size, int flags);
// The executable's resource of type "WAVE" (module null or the executable's
// instance) through SoundSampleLoadMemory; -200 when it is missing.
int SoundSampleLoadResource(SoundSample& sample, const void* module, int resourceId, int flags);

int LoadWaveFile(SoundSample& sample, std::span<const uint16_t> path, int flags);
int LoadWaveMemory(SoundSample& sample, const void* data, size_t size, int flags);
int LoadOggFile(SoundSample& sample, std::span<const uint16_t> path, int flags);
int LoadOggMemory(SoundSample& sample, const void* data, size_t size, int flags);

// The largest whole-decoded Ogg Vorbis sound (bytes of PCM); a stream that
// claims more is refused with -10 rather than allocated.
constexpr uint64_t kLargestDecodedBytes = uint64_t{1} << 30;

}  // namespace qob
