// sound/sound_sample.h
// SoundSample: one sound effect that voices play, here as PCM in memory.
#pragma once

#include <cstdint>

namespace qob {

enum class SampleKind : uint8_t { Empty = 0, Memory = 1, Streamed = 2 };

constexpr int kNoVoiceLimit = -1;

struct SoundSample {
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

    void SetVolume(int newVolume) { volume = newVolume < 0 || newVolume > 64 ? 64 : newVolume; }
    void SetPan(int newPan) { pan = newPan < 0 || newPan > 255 ? 255 : newPan; }
    void SetLoop(bool newLoop) { loop = newLoop; }
    void SetVoiceLimit(int limit) { voiceLimit = limit; }
    // step = ((frequency << 16) / rate) >> 9
    void SetFrequency(int newFrequency);
};

}  // namespace qob
