// sound/sound_channel.cpp
// The base channel's setters and the channel operations.
#include "sound/sound_channel.h"

#include <mutex>

#include "sound/sound_mixer.h"

namespace qob {

void SoundChannel::SetVolume(int newVolume) {
    volume.store(newVolume < 0 || newVolume > kFullVolume ? kFullVolume : newVolume, std::memory_order_relaxed);
}

void SoundChannel::SetPan(int newPan) {
    pan.store(newPan < 0 || newPan > 255 ? 255 : newPan, std::memory_order_relaxed);
}

void SoundChannel::Stop() {
    stopped.store(true, std::memory_order_relaxed);
    paused.store(false, std::memory_order_relaxed);
}

void ChannelStart(SoundChannel& channel, bool startPaused) {
    std::lock_guard guard(LockOf(*channel.mixer));
    channel.paused.store(startPaused, std::memory_order_relaxed);
    channel.stopped.store(false, std::memory_order_relaxed);
}

void ChannelPause(SoundChannel& channel) {
    std::lock_guard guard(LockOf(*channel.mixer));
    if (!channel.stopped.load(std::memory_order_relaxed)) channel.paused.store(true, std::memory_order_relaxed);
}

void ChannelResume(SoundChannel& channel) {
    std::lock_guard guard(LockOf(*channel.mixer));
    if (!channel.stopped.load(std::memory_order_relaxed)) channel.paused.store(false, std::memory_order_relaxed);
}

void ChannelSetFrequency(SoundChannel& channel, int frequency) {
    channel.frequency.store(frequency, std::memory_order_relaxed);
    channel.stepDirty.store(true, std::memory_order_relaxed);
}

void ChannelSetLoop(SoundChannel& channel, bool loop) { channel.loop.store(loop, std::memory_order_relaxed); }

}  // namespace qob
