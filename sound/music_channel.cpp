// sound/music_channel.cpp
// The music slot's volume, pan and position, and the default player hooks.
#include "sound/music_channel.h"

#include <mutex>

#include "sound/sound_mixer.h"

namespace qob {

namespace {

constexpr int kRowsPerPattern = 64;

bool RefuseModule(MusicChannel&, const SoundModule&) { return false; }
bool KeepPlaying(MusicChannel&) { return true; }

}  // namespace

MusicPlayerHooks MusicPlayer = {RefuseModule, KeepPlaying};

void ResetMusicPlayerHooks() { MusicPlayer = {RefuseModule, KeepPlaying}; }

void MusicChannel::SetVolume(int newVolume) {
    SoundChannel::SetVolume(newVolume);
    const int master = mixer ? mixer->musicVolume.load(std::memory_order_relaxed) : kFullVolume;
    const int effective = (master * volume.load(std::memory_order_relaxed)) >> 6;
    effectiveVolume.store(effective, std::memory_order_relaxed);
    std::lock_guard guard(LockOf(*mixer));  // the tracks are the mixer's to read
    for (int i = 0; i < trackCount; ++i) tracks[i].effectiveVolume = (effective * tracks[i].volume) >> 6;
}

void MusicChannel::SetPan(int newPan) {
    SoundChannel::SetPan(newPan);
    const int separation = ((255 - pan.load(std::memory_order_relaxed)) * 64) >> 8;
    std::lock_guard guard(LockOf(*mixer));
    for (int i = 0; i < trackCount; ++i) tracks[i].pan = (i % 2 == 0) ? 64 + separation : 192 - separation;
}

int64_t MusicChannel::GetPosition() { return static_cast<int64_t>(currentOrder) * kRowsPerPattern + currentRow; }

void MusicChannel::SetPosition(int64_t position) {
    if (position < 0 || position / kRowsPerPattern >= songLength) return;
    std::lock_guard guard(LockOf(*mixer));
    currentOrder = static_cast<int>(position / kRowsPerPattern);
    currentRow = static_cast<int>(position % kRowsPerPattern);
}

int64_t MusicChannel::GetLength() { return static_cast<int64_t>(songLength) * kRowsPerPattern; }

}  // namespace qob

