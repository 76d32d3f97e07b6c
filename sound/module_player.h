// sound/module_player.h
// The tracker module player: what starts a module on a music slot, and the
// per-frame tick and row logic that SoundMix runs for each playing slot.
#pragma once

#include <cstdint>

#include "sound/music_channel.h"

namespace qob {

constexpr int kNoDelay = 0xFFFFFF;  // a track's note-delay counter when no note waits

// Prepares the slot for the module under the device lock: its samples, tracks,
// order 0 and row 0, speed 6 with the first frame reading row 0, 50 ticks a
// second, and the module's frequency. False, changing nothing, when the module
// has no data, its layout does not read, or its tag names more than 32 or no
// tracks.
bool StartModulePlayback(MusicChannel& slot, const SoundModule& module);

// Runs the slot's tick and row logic for one output frame; false when the
// song has ended (the mixer then stops the slot and adds nothing). The last
// row of a song plays for its whole length, its pattern delay included, and
// the song ends where the next row would be read.
bool AdvanceModuleFrame(MusicChannel& slot);

// Frames a tick counts before the next: ((rate << 16) / (((frequency << 8) /
// 44100) x ticks per second)) >> 8, where a divisor of 0 or less counts as 1
// (a slot frequency below 173 Hz then practically stops the ticks).
[[nodiscard]] int64_t SamplesPerTick(int outputRate, int frequency, int ticksPerSecond);

}  // namespace qob
