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

class CountingBackend final : public platform::AudioBackend {
public:
    CountingBackend(std::unique_ptr<platform::AudioBackend> inner, DoneCounter* counter)
        : inner(std::move(inner)), counter(counter) {}

    bool Open(const platform::AudioFormat& format, platform::AudioDoneCallback doneCallback, void* doneContext) override {
        done = doneCallback;
        context = doneContext;
        return inner->Open(format, Forward, this);
    }
    void Write(const uint8_t* data, size_t bytes) override { inner->Write(data, bytes); }
    void Pause() override { inner->Pause(); }
    void Restart() override { inner->Restart(); }
    void Reset() override { inner->Reset(); }
    void Close() override { inner->Close(); }

private:
    static void Forward(void* self) {
        auto* backend = static_cast<CountingBackend*>(self);
        {
            std::lock_guard lock(backend->counter->mutex);
            ++backend->counter->done;
            backend->counter->changed.notify_all();
        }
        backend->done(backend->context);
    }

    std::unique_ptr<platform::AudioBackend> inner;
    DoneCounter* counter;
    platform::AudioDoneCallback done = nullptr;
    void* context = nullptr;
};

}  // namespace

size_t DoneCounter::Count() {
    std::lock_guard lock(mutex);
    return done;
}

bool DoneCounter::WaitFor(size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(60), [&] { return done >= count; });
}

std::unique_ptr<platform::AudioBackend> CountDone(std::unique_ptr<platform::AudioBackend> inner, DoneCounter* counter) {
    return std::make_unique<CountingBackend>(std::move(inner), counter);
}

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
