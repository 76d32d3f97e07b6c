// tests/sound/sound_test_support.h
// An output device that the test drives (it hands buffers back one at a
// time), and helpers that open a mixer on it and make samples in memory.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio_out.h"
#include "sound/sound_mixer.h"

namespace qob::testing {

// What the test sees of its device: kept apart from the back end, which the
// device owns and destroys when it closes.
struct ManualDeviceState {
    std::mutex mutex;
    std::condition_variable changed;
    bool refuseOpen = false;
    bool opened = false;
    bool closed = false;
    bool paused = true;
    platform::AudioFormat format;
    std::vector<const uint8_t*> written;  // every Write, in order
    std::deque<const uint8_t*> queue;
    platform::AudioDoneCallback done = nullptr;
    void* context = nullptr;

    // Hands the oldest queued buffer back to the device, as finished.
    void FinishNext();
    // Waits (up to a generous limit) until count buffers were written in all;
    // false when that never happens.
    bool WaitForWrites(size_t count);
};

// The device list of WaveOutOptions: one manual device per state, in order.
void UseManualDevices(std::vector<ManualDeviceState*> states);
// Puts WaveOutOptions back: the machine's devices, the 100 ms settle time.
void RestoreDeviceOptions();

// Counts the buffers a back end reports done.
struct DoneCounter {
    std::mutex mutex;
    std::condition_variable changed;
    size_t done = 0;

    size_t Count();
    // Waits (up to a generous limit) until count buffers are done.
    bool WaitFor(size_t count);
};

// The back end, reporting each finished buffer to counter as well.
std::unique_ptr<platform::AudioBackend> CountDone(std::unique_ptr<platform::AudioBackend> inner, DoneCounter* counter);

// A sample of frames in memory (interleaved when stereo) at a rate, played
// at that rate.
SoundSample MakeSample(const std::vector<uint8_t>& bytes, bool eightBit, bool stereo, int rate);
std::vector<uint8_t> SixteenBitBytes(const std::vector<int16_t>& values);

// Mixes bytes of output from the mixer.
std::vector<uint8_t> Mix(SoundMixer& mixer, size_t bytes);
std::vector<int16_t> MixSixteen(SoundMixer& mixer, size_t samples);

}  // namespace qob::testing
