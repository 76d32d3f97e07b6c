// sound/music_channel.h
// MusicChannel: a music slot whose tracks play 8-bit module samples, and the
// hooks by which the module player starts a module and advances it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sound/sound_channel.h"

namespace qob {

constexpr int kMostTracks = 32;

// A loaded module as the mixer sees it. Its data holds at least size bytes,
// of which the loader checked the header and the patterns, and cut the
// samples to what is present (see sound/module_loader.h).
struct SoundModule {
    const uint8_t* data = nullptr;
    int volume = 64;
    bool loop = false;
    int pan = 255;
    int rate = 44100;
    int frequency = 44100;  // the tick-length reference
    int step = 0;
    bool ownsData = false;
    size_t size = 0;       // bytes of data the module uses
    int channelCount = 0;  // from the tag; only 1 to 32 play
    std::unique_ptr<uint8_t[]> ownedData;  // data, when ownsData

    void SetVolume(int newVolume) { volume = newVolume < 0 || newVolume > 64 ? 64 : newVolume; }
    void SetPan(int newPan) { pan = newPan < 0 || newPan > 255 ? 255 : newPan; }
    void SetLoop(bool newLoop) { loop = newLoop; }
    // step = ((frequency << 16) / rate) >> 9
    void SetFrequency(int newFrequency) {
        frequency = newFrequency;
        if (rate > 0) step = static_cast<int>(((static_cast<int64_t>(newFrequency) << 16) / rate) >> 9);
    }
};

// One track of a slot. Positions and lengths are 16.16 fixed point in bytes.
struct MusicTrack {
    const int8_t* sampleData = nullptr;
    uint64_t sampleLength = 0;
    uint64_t loopStart = 0;
    uint64_t loopLength = 0;  // 0: no loop
    uint64_t position = 0;
    uint64_t step = 0;
    int volume = 0;           // the track's own, 0 to 64 (effects may go above)
    int effectiveVolume = 0;  // the slot's effective volume x volume >> 6
    int pan = kCentrePan;

    // What the module player keeps of the track between rows and ticks.
    int sample = 0;    // 1 to 31, 0 none
    int noteSlot = 0;  // finetune x 84 + note
    int period = 0;
    int effect = 0;    // of the row last read, with its parameter and nibbles
    int parameter = 0;
    int x = 0;
    int y = 0;
    int volumeSlide = 0;
    int portamentoPeriod = 0;
    int portamentoTarget = 0;
    int portamentoSpeed = 0;
    int arpeggioPhase = 0;
    uint64_t arpeggioSteps[3] = {0, 0, 0};
    int vibratoPosition = 0;
    int vibratoSpeed = 9;
    int vibratoDepth = 2;
    int cutCounter = 0;
    int delayCounter = 0;  // kNoDelay when no delayed note waits
    int delayPeriod = 0;
    uint32_t sampleOffset = 0;  // bytes, of effect 9
    uint8_t loopState = 0;      // 0xF0 while a pattern loop runs, low nibble its count
    uint8_t loopStartRow = 0;
};

// One sample of the playing module, in 16.16 bytes, cut to its data.
struct MusicSample {
    const int8_t* data = nullptr;
    uint64_t length = 0;
    uint64_t loopStart = 0;
    uint64_t loopLength = 0;
    int volume = 0;
    int finetune = 0;
};

class MusicChannel final : public SoundChannel {
public:
    // Effective volume = music master x volume >> 6, and each track's follows.
    void SetVolume(int newVolume) override;
    // Separation: even tracks 64 + ((255 - pan) x 64 >> 8), odd tracks 192 - that.
    void SetPan(int newPan) override;
    int64_t GetPosition() override;  // order x 64 + row
    void SetPosition(int64_t position) override;
    int64_t GetLength() override;  // song length x 64

    const SoundModule* module = nullptr;
    int trackCount = 0;
    std::array<MusicTrack, kMostTracks> tracks{};
    int songLength = 0;    // orders
    std::atomic<int> currentOrder{0};  // of the next row to read
    std::atomic<int> currentRow{0};

    // The module player's state (each touched under the device lock).
    const uint8_t* orders = nullptr;   // 128 pattern numbers
    const uint8_t* patterns = nullptr;  // 64 rows x tracks x 4 bytes each
    int patternCount = 0;
    int restartOrder = 0;
    int64_t samplesPerTick = 0;
    int64_t sampleCounter = 0;
    int speed = 6;  // ticks per row
    int tick = 6;
    int ticksPerSecond = 50;
    int jumpOrder = -1;  // a pending jump, -1 none
    int jumpRow = 0;
    bool songEnds = false;     // the row being read ends the song
    bool lastRowRead = false;  // the song ends when this row has played
    int patternDelay = 0;
    std::array<MusicSample, 32> samples{};  // 1 to 31; 0 stays empty
};

// What the module player does for a slot. Each is called under the device
// lock. startModule prepares a free slot for the module and answers false,
// changing nothing that plays, when the module cannot play; advanceFrame runs
// the tick and row logic before the slot is mixed into one output frame and
// answers false when the song has ended (the slot is then stopped).
struct MusicPlayerHooks {
    bool (*startModule)(MusicChannel& slot, const SoundModule& module);
    bool (*advanceFrame)(MusicChannel& slot);
};

// The module player of sound/module_player.h; tests may put their own.
extern MusicPlayerHooks MusicPlayer;
void ResetMusicPlayerHooks();

}  // namespace qob
