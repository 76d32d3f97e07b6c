// sound/music_channel.cpp
// The music slot's volume, pan and position, and the player hooks.
#include "sound/music_channel.h"

#include <mutex>

#include "sound/module_player.h"
#include "sound/sound_mixer.h"

namespace qob {

namespace {

constexpr int kRowsPerPattern = 64;

}  // namespace

MusicPlayerHooks MusicPlayer = {StartModulePlayback, AdvanceModuleFrame};

void ResetMusicPlayerHooks() { MusicPlayer = {StartModulePlayback, AdvanceModuleFrame}; }

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

// The next row read is the one set; a jump that the row last read asked for
// is dropped.
void MusicChannel::SetPosition(int64_t position) {
    std::lock_guard guard(LockOf(*mixer));
    if (position < 0 || position / kRowsPerPattern >= songLength) return;
    currentOrder = static_cast<int>(position / kRowsPerPattern);
    currentRow = static_cast<int>(position % kRowsPerPattern);
    jumpOrder = -1;
    songEnds = false;
    lastRowRead = false;
}

int64_t MusicChannel::GetLength() { return static_cast<int64_t>(songLength) * kRowsPerPattern; }

}  // namespace qob

