// sound/sound_voice.cpp
// The voice operations of a sample in memory.
#include "sound/sound_voice.h"

#include <mutex>

#include "sound/sound_mixer.h"

namespace qob {

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

// In memory the whole sample is the buffer: a seek moves both positions, and
// without one the window ends at the length until the sample has played.
int SoundVoice::Refill(int64_t seekPosition) {
    if (seekPosition != kRefillNoSeek) {
        playedPosition = bufferPosition = static_cast<uint64_t>(seekPosition);
        bufferEnd = length;
    } else {
        bufferEnd = playedPosition >= length ? 0 : length;
    }
    return bufferEnd != 0 ? 0 : -1;
}

}  // namespace qob
