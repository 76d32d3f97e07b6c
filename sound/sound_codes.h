// sound/sound_codes.h
// The negative codes by which the sound library reports failures.
#pragma once

namespace qob {

constexpr int kSoundBadDevice = -1;         // bad output format, or no output device opened
constexpr int kSoundAlreadyOpen = -2;       // the mixer is open (open, set buffer length)
constexpr int kSoundNoThread = -3;          // the device thread could not be created
constexpr int kSoundNoDeviceObject = -4;    // the device object could not be created
constexpr int kSoundNoMemory = -10;         // out of memory, or no data given
constexpr int kSoundUnknownFormat = -100;   // not a recognised module or sample format
constexpr int kSoundCannotOpen = -200;      // file or resource cannot be opened or found
constexpr int kSoundUnreadable = -300;      // file empty or unreadable
constexpr int kSoundUnavailable = -1000;    // not open, no usable channel, not loaded, voice limit
constexpr int kSoundBufferTooShort = -10000;  // buffer length below 60 ms

}  // namespace qob
