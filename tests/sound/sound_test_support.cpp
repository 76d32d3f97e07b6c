// tests/sound/sound_test_support.cpp
// The manual output device and the sample helpers.
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace qob::testing {
namespace {

class ManualBackend final : public platform::AudioBackend {
public:
    explicit ManualBackend(ManualDeviceState* state) : state(state) {}

    bool Open(const platform::AudioFormat& format, platform::AudioDoneCallback done, void* context) override {
        std::lock_guard lock(state->mutex);
        if (state->refuseOpen) return false;
        state->opened = true;
        state->format = format;
        state->done = done;
        state->context = context;
        return true;
    }
    void Write(const uint8_t* data, size_t) override {
        std::lock_guard lock(state->mutex);
        state->written.push_back(data);
        state->queue.push_back(data);
        state->changed.notify_all();
    }
    void Pause() override {
        std::lock_guard lock(state->mutex);
        state->paused = true;
    }
    void Restart() override {
        std::lock_guard lock(state->mutex);
        state->paused = false;
    }
    void Reset() override {
        std::lock_guard lock(state->mutex);
        state->queue.clear();
    }
    void Close() override {
        std::lock_guard lock(state->mutex);
        state->closed = true;
    }

private:
    ManualDeviceState* state;
};

}  // namespace

void ManualDeviceState::FinishNext() {
    platform::AudioDoneCallback callback;
    void* callbackContext;
    {
        std::lock_guard lock(mutex);
        ASSERT_FALSE(queue.empty()) << "no buffer queued";
        queue.pop_front();
        callback = done;
        callbackContext = context;
    }
    callback(callbackContext);
}

bool ManualDeviceState::WaitForWrites(size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return written.size() >= count; });
}

void UseManualDevices(std::vector<ManualDeviceState*> states) {
    WaveOutOptions.settleMilliseconds = 0;
    WaveOutOptions.listDevices = [states] {
        platform::AudioDeviceList devices;
        for (ManualDeviceState* state : states) devices.push_back(std::make_unique<ManualBackend>(state));
        return devices;
    };
}

void RestoreDeviceOptions() { WaveOutOptions = WaveOutSettings{}; }

SoundSample MakeSample(const std::vector<uint8_t>& bytes, bool eightBit, bool stereo, int rate) {
    SoundSample sample;
    sample.data = bytes.data();
    sample.eightBit = eightBit ? 1 : 0;
    sample.stereo = stereo ? 1 : 0;
    sample.rate = rate;
    sample.length = static_cast<int64_t>(bytes.size()) / ((eightBit ? 1 : 2) * (stereo ? 2 : 1));
    sample.frequency = rate;
    sample.step = 128;
    sample.kind = SampleKind::Memory;
    return sample;
}

std::vector<uint8_t> SixteenBitBytes(const std::vector<int16_t>& values) {
    std::vector<uint8_t> bytes(values.size() * 2);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

std::vector<uint8_t> Mix(SoundMixer& mixer, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    SoundMix(mixer, out.data(), out.size());
    return out;
}

std::vector<int16_t> MixSixteen(SoundMixer& mixer, size_t samples) {
    const std::vector<uint8_t> bytes = Mix(mixer, samples * 2);
    std::vector<int16_t> values(samples);
    std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
}

}  // namespace qob::testing
