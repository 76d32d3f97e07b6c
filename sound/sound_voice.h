// sound/sound_voice.h
// SoundVoice: a channel that plays one SoundSample, reading it through a
// buffer window that Refill moves.
#pragma once

#include <cstdint>
#include <memory>

#include "sound/sound_channel.h"
#include "sound/sound_sample.h"

namespace qob {

constexpr int kRefillNoSeek = -1;
constexpr int kStreamBufferBytes = 1024;  // a streamed voice's buffer of decoded PCM

struct VorbisDecoder;

class SoundVoice final : public SoundChannel {
public:
    ~SoundVoice() override;

    // Positions are 24.8 fixed point: 1/256 of a frame. GetPosition and
    // GetLength report them shifted right by PositionShift: neither frames
    // nor bytes (a 16-bit mono sample reports half its frame count), but the
    // scale SetPosition takes.
    void SetVolume(int newVolume) override;  // also the effective volume, by the sound master volume
    int64_t GetPosition() override;
    void SetPosition(int64_t position) override;
    int64_t GetLength() override;
    // Also frees a streamed voice's buffer and decoder, under the device lock.
    void Stop() override;

    // Moves the buffer window: to seekPosition, or on when it is kRefillNoSeek.
    // 0 while there is data to read, -1 when there is none. A streamed voice
    // decodes its next buffer (or seeks its decoder) here.
    int Refill(int64_t seekPosition);

    // True while the voice plays (or holds paused) this sample's data or
    // decodes its stream.
    bool Plays(const SoundSample& sample) const;
    // Frees a streamed voice's decoder and buffer.
    void ReleaseStream();

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
    VorbisDecoder* decoder = nullptr;            // streamed only: the voice's own
    std::unique_ptr<uint8_t[]> streamBuffer;     // streamed only: what data points at

private:
    int RefillStreamed(int64_t seekPosition);
};

}  // namespace qob
