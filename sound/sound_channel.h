// sound/sound_channel.h
// SoundChannel: what music slots and sample voices share, and the channel
// operations that start, pause, resume and adjust one.
#pragma once

#include <atomic>
#include <cstdint>

namespace qob {

class SoundMixer;

constexpr int kFullVolume = 64;
constexpr int kCentrePan = 128;

// The setters of volume, pan, frequency and loop write single fields without
// the device lock, so those fields are atomics (relaxed: the mixer sees a
// change either before or after it mixes a buffer). Starting, stopping,
// pausing and resuming happen under the device lock.
class SoundChannel {
public:
    SoundChannel() = default;
    SoundChannel(const SoundChannel&) = delete;
    SoundChannel& operator=(const SoundChannel&) = delete;
    virtual ~SoundChannel() = default;

    virtual void SetVolume(int newVolume);  // outside 0..64 becomes 64
    virtual void SetPan(int newPan);        // outside 0..255 becomes 255
    virtual int64_t GetPosition() = 0;
    virtual void SetPosition(int64_t position) = 0;
    virtual int64_t GetLength() = 0;
    virtual void Stop();  // stopped, not paused

    bool IsPlaying() const { return !stopped.load(std::memory_order_relaxed) && !paused.load(std::memory_order_relaxed); }
    bool IsFree() const { return stopped.load(std::memory_order_relaxed) && !paused.load(std::memory_order_relaxed); }

    SoundMixer* mixer = nullptr;
    std::atomic<int> volume{0};           // 0 to 64
    std::atomic<int> effectiveVolume{0};  // volume x the kind's master volume >> 6
    std::atomic<int> pan{kCentrePan};     // 0 left to 255 right
    std::atomic<bool> loop{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> stopped{true};
    int soundRate = 0;                  // Hz of the sound's data
    std::atomic<int> frequency{0};      // Hz to play it at
    std::atomic<bool> stepDirty{false};  // the step must follow the frequency
};

// Each takes the mixer's device lock.
void ChannelStart(SoundChannel& channel, bool startPaused);
void ChannelPause(SoundChannel& channel);   // a playing channel becomes paused
void ChannelResume(SoundChannel& channel);  // a paused channel plays on

void ChannelSetFrequency(SoundChannel& channel, int frequency);
void ChannelSetLoop(SoundChannel& channel, bool loop);

}  // namespace qob
