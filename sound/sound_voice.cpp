// sound/sound_voice.cpp
// The voice operations, for a sample in memory and for a streamed one.
#include "sound/sound_voice.h"

#include <mutex>

#include "sound/sound_mixer.h"
#include "sound/vorbis_decoder.h"

namespace qob {

SoundVoice::~SoundVoice() { ReleaseStream(); }

void SoundVoice::SetVolume(int newVolume) {
    SoundChannel::SetVolume(newVolume);
    const int master = mixer ? mixer->soundVolume.load(std::memory_order_relaxed) : kFullVolume;
    effectiveVolume.store((master * volume.load(std::memory_order_relaxed)) >> 6, std::memory_order_relaxed);
}

int64_t SoundVoice::GetPosition() { return static_cast<int64_t>(playedPosition >> PositionShift()); }

int64_t SoundVoice::GetLength() { return static_cast<int64_t>(length >> PositionShift()); }

void SoundVoice::SetPosition(int64_t position) {
    if (position < 0) return;
    const uint64_t played = static_cast<uint64_t>(position) << PositionShift();
    if (played > length) return;
    std::lock_guard guard(LockOf(*mixer));
    (void)Refill(static_cast<int64_t>(played));
}

void SoundVoice::Stop() {
    if (!mixer) {
        ReleaseStream();
        return SoundChannel::Stop();
    }
    std::lock_guard guard(LockOf(*mixer));
    ReleaseStream();
    SoundChannel::Stop();
}

void SoundVoice::ReleaseStream() {
    CloseVorbisDecoder(decoder);
    decoder = nullptr;
    if (streamBuffer) data = nullptr;
    streamBuffer.reset();
}

bool SoundVoice::Plays(const SoundSample& sample) const {
    if (kind == SampleKind::Streamed) return decoder && sample.stream && decoder->stream == sample.stream.get();
    return kind == SampleKind::Memory && data && data == sample.data;
}

// In memory the whole sample is the buffer: a seek moves both positions, and
// without one the window ends at the length until the sample has played.
int SoundVoice::Refill(int64_t seekPosition) {
    if (kind == SampleKind::Streamed) return RefillStreamed(seekPosition);
    if (seekPosition != kRefillNoSeek) {
        playedPosition = bufferPosition = static_cast<uint64_t>(seekPosition);
        bufferEnd = length;
    } else {
        bufferEnd = playedPosition >= length ? 0 : length;
    }
    return bufferEnd != 0 ? 0 : -1;
}

// A streamed voice's buffer holds the next piece of decoded 16-bit PCM. A
// seek goes to the frame of the played position (its whole part; the
// fraction stays) and the played position becomes the frame the decoder
// reached. Without a seek the window moves past the buffer just played; a
// step longer than a buffer skips whole buffers.
int SoundVoice::RefillStreamed(int64_t seekPosition) {
    if (!decoder || !streamBuffer) {
        bufferEnd = 0;
        return -1;
    }
    uint64_t position;
    if (seekPosition != kRefillNoSeek) {
        const auto seek = static_cast<uint64_t>(seekPosition);
        const ogg_int64_t frame = static_cast<ogg_int64_t>(seek >> 8);
        ogg_int64_t reached = -1;
        if (ov_pcm_seek(&decoder->file, frame) == 0) reached = ov_pcm_tell(&decoder->file);
        if (reached < 0) {
            bufferEnd = 0;
            return -1;
        }
        position = reached == frame ? (seek & 255) : 0;
        playedPosition = (static_cast<uint64_t>(reached) << 8) + position;
    } else {
        position = bufferPosition >= bufferEnd ? bufferPosition - bufferEnd : bufferPosition;
    }
    data = streamBuffer.get();
    for (;;) {
        int link = 0;
        const long got = ov_read(&decoder->file, reinterpret_cast<char*>(streamBuffer.get()), kStreamBufferBytes, &link);
        if (got <= 0) {
            bufferEnd = 0;
            bufferPosition = position;
            return -1;
        }
        const uint64_t end = (static_cast<uint64_t>(got) * 128) >> (stereo ? 1 : 0);
        if (position < end) {
            bufferEnd = end;
            bufferPosition = position;
            return 0;
        }
        position -= end;
    }
}

}  // namespace qob
