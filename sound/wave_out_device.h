// sound/wave_out_device.h
// The output device: a ring of 20 ms buffers that a thread of its own refills
// through the fill callback whenever the back end hands one back.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/audio_out.h"

namespace qob {

// Format flags of WaveOutFormat.
constexpr int kWaveFormat8Bit = 0x1;
constexpr int kWaveFormat16Bit = 0x2;
constexpr int kWaveFormatSigned = 0x10;
constexpr int kWaveFormatUnsigned = 0x20;

constexpr int kLowestOutputRate = 1;
constexpr int kHighestOutputRate = 384'000;

struct WaveOutFormat {
    int rate = 0;      // Hz
    int flags = 0;     // kWaveFormat...: the mixer gives 0x21 or 0x12
    int channels = 0;  // 1 or 2
};

// Writes bytes of output into buffer; it must write all of them.
using WaveOutFillCallback = void (*)(void* context, uint8_t* buffer, size_t bytes);

// Where the device finds its back ends, and the pause it makes after
// creating its thread and after stopping it (tests set it to 0).
struct WaveOutSettings {
    std::function<platform::AudioDeviceList()> listDevices = platform::ListAudioDevices;
    uint32_t settleMilliseconds = 100;
};
extern WaveOutSettings WaveOutOptions;

class WaveOutDevice {
public:
    WaveOutDevice() = default;
    WaveOutDevice(const WaveOutDevice&) = delete;
    WaveOutDevice& operator=(const WaveOutDevice&) = delete;
    virtual ~WaveOutDevice();

    // 0; -1 for a bad format or when no back end opens, -10 without memory,
    // -3 when the thread cannot start. The device is left paused.
    [[nodiscard]] virtual int Open(const WaveOutFormat* format, int64_t bufferFrames, WaveOutFillCallback fill,
                                   void* context);
    virtual int Close();
    virtual void Lock();
    virtual void Unlock();
    virtual void Pause();
    virtual void Resume();

    int BufferCount() const { return bufferCount; }
    size_t BufferBytes() const { return bufferBytes; }
    const uint8_t* BufferData(int index) const { return samples.get() + index * bufferBytes; }
    std::recursive_mutex& DeviceLock() { return lock; }

private:
    static void BufferDone(void* self);
    void RunThread();
    bool StartThread();
    void StopThread();

    std::unique_ptr<platform::AudioBackend> backend;
    platform::AudioFormat format;
    int bufferCount = 0;
    size_t bufferBytes = 0;
    std::unique_ptr<uint8_t[]> samples;  // every buffer, one block
    int refillIndex = 0;                 // the buffer the back end returns next
    WaveOutFillCallback fill = nullptr;
    void* fillContext = nullptr;

    std::recursive_mutex lock;  // the sound library's one lock, held around every fill
    std::thread thread;
    std::mutex signalMutex;  // guards the three fields below
    std::condition_variable signal;
    int returnedBuffers = 0;  // buffers handed back and not refilled yet
    bool paused = true;
    bool stopping = false;
};

}  // namespace qob
