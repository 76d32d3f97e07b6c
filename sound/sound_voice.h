// sound/sound_voice.h
// SoundVoice: a channel that plays one SoundSample, reading it through a
// buffer window that Refill moves.
#pragma once

#include <cstdint>

#include "sound/sound_channel.h"
#include "sound/sound_sample.h"

namespace qob {

constexpr int kRefillNoSeek = -1;

class SoundVoice final : public SoundChannel {
public:
    // Positions are 24.8 fixed point: 1/256 of a frame.
    void SetVolume(int newVolume) override;  // also the effective volume, by the sound master volume
    int64_t GetPosition() override;
    void SetPosition(int64_t position) override;
    int64_t GetLength() override;

    // Moves the buffer window: to seekPosition, or on when it is kRefillNoSeek.
    // 0 while there is data to read, -1 when there is none.
    int Refill(int64_t seekPosition);

    // The shift between a position and the 24.8 played position.
    int PositionShift() const { return (eightBit ? 8 : 9) + (stereo ? 1 : 0); }

    const uint8_t* data = nullptr;  // the sample's frames
    uint64_t step = 0;              // frames per output frame, 24.8
    uint64_t playedPosition = 0;
    uint64_t length = 0;  // sample length << 8
    uint8_t eightBit = 1;
    uint8_t stereo = 0;
    SampleKind kind = SampleKind::Empty;
    uint64_t bufferEnd = 0;       // end of the data readable now
    uint64_t bufferPosition = 0;  // position in that data
};

}  // namespace qob
