// sound/sound_builtins.h
// The sound built-ins: each pops its arguments, calls the sound handles of
// sound/sound_handles.h and pushes at most one number.
#pragma once

namespace qob {

void Builtin_s_init();          // (rate, bits, stereo, music channels, sound channels)
void Builtin_s_bufferlength();  // (milliseconds)
void Builtin_s_shut();          // ()
void Builtin_loadsound();       // (file, type) -> handle or -1
void Builtin_loadsoundfrommem();  // (address, size, type) -> handle or -1
void Builtin_playsound();       // (handle)
void Builtin_stopsound();       // (handle)
void Builtin_pausesound();      // (handle)
void Builtin_resumesound();     // (handle)
void Builtin_soundstate();      // (handle) -> 0, 1 or 2
void Builtin_volume();          // (handle) -> stored volume
void Builtin_frequency();       // (handle) -> stored frequency
void Builtin_pan();             // (handle) -> stored pan
void Builtin_loop();            // (handle) -> stored loop
void Builtin_setvolume();       // (handle, volume)
void Builtin_setfrequency();    // (handle, frequency)
void Builtin_setpan();          // (handle, pan)
void Builtin_setloop();         // (handle, loop)
void Builtin_freesound();       // (handle)

}  // namespace qob
