// sound/wave_out_device.cpp
// Open checks the format and sizes the ring; the thread refills buffers in
// the order the back end returns them, under the device lock.
#include "sound/wave_out_device.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "platform/clock.h"
#include "sound/sound_codes.h"

namespace qob {

WaveOutSettings WaveOutOptions;

namespace {

constexpr int64_t kBufferMilliseconds = 20;
constexpr int kFewestBuffers = 4;
constexpr int kMostBuffers = 32;

// The sample format of the flags, or 0 when they are refused.
int BitsOfFlags(int flags) {
    if (flags == 0) return 0;
    const bool sixteen = (flags & kWaveFormat16Bit) != 0;
    if (!sixteen && (flags & kWaveFormatSigned)) return 0;
    if (sixteen && (flags & kWaveFormatUnsigned)) return 0;
    return sixteen ? 16 : 8;
}

}  // namespace

WaveOutDevice::~WaveOutDevice() { Close(); }

int WaveOutDevice::Open(const WaveOutFormat* request, int64_t bufferFrames, WaveOutFillCallback fillCallback,
                        void* context) {
    if (!request || !fillCallback) return kSoundBadDevice;
    if (request->rate < kLowestOutputRate || request->rate > kHighestOutputRate) return kSoundBadDevice;
    const int bits = BitsOfFlags(request->flags);
    if (bits == 0 || (request->channels != 1 && request->channels != 2)) return kSoundBadDevice;
    if (backend) return kSoundBadDevice;

    const int64_t milliseconds = std::max<int64_t>(bufferFrames, 0) * 1000 / request->rate;
    bufferCount = static_cast<int>(std::clamp<int64_t>(milliseconds / kBufferMilliseconds, kFewestBuffers, kMostBuffers));
    format = {request->rate, bits, request->channels};
    const size_t frameBytes = static_cast<size_t>(format.FrameBytes());
    bufferBytes = (static_cast<size_t>(format.rate) * frameBytes * kBufferMilliseconds / 1000 + 7) / 8 * 8;
    samples.reset(new (std::nothrow) uint8_t[bufferCount * bufferBytes]);
    if (!samples) return kSoundNoMemory;
    std::memset(samples.get(), bits == 8 ? 0x80 : 0, bufferCount * bufferBytes);
    fill = fillCallback;
    fillContext = context;

    if (!StartThread()) {
        samples.reset();
        return kSoundNoThread;
    }
    platform::Sleep(WaveOutOptions.settleMilliseconds);

    for (auto& candidate : WaveOutOptions.listDevices()) {
        if (candidate && candidate->Open(format, BufferDone, this)) {
            backend = std::move(candidate);
            break;
        }
    }
    if (!backend) {
        StopThread();
        samples.reset();
        return kSoundBadDevice;
    }
    // Every buffer of silence is queued while the device is paused.
    backend->Pause();
    refillIndex = 0;
    for (int i = 0; i < bufferCount; ++i) backend->Write(BufferData(i), bufferBytes);
    return 0;
}

bool WaveOutDevice::StartThread() {
    {
        std::lock_guard guard(signalMutex);
        returnedBuffers = 0;
        paused = true;
        stopping = false;
    }
    try {
        thread = std::thread([this] { RunThread(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

// Resumes the thread if it was paused and asks it to end, then waits for it
// outside the device lock, which the thread needs to finish a fill.
void WaveOutDevice::StopThread() {
    {
        std::lock_guard device(lock);
        std::lock_guard guard(signalMutex);
        paused = false;
        stopping = true;
        signal.notify_all();
    }
    if (thread.joinable()) thread.join();
}

int WaveOutDevice::Close() {
    if (!backend) return 0;
    StopThread();
    platform::Sleep(WaveOutOptions.settleMilliseconds);
    backend->Reset();
    backend->Close();
    backend.reset();
    samples.reset();
    return 0;
}

void WaveOutDevice::Lock() { lock.lock(); }

void WaveOutDevice::Unlock() { lock.unlock(); }

// Taken under the device lock, so the thread is never paused inside a fill:
// a fill in progress ends before Pause can take the lock.
void WaveOutDevice::Pause() {
    std::lock_guard device(lock);
    if (backend) backend->Pause();
    std::lock_guard guard(signalMutex);
    paused = true;
}

void WaveOutDevice::Resume() {
    std::lock_guard device(lock);
    {
        std::lock_guard guard(signalMutex);
        paused = false;
        signal.notify_all();
    }
    if (backend) backend->Restart();
}

void WaveOutDevice::BufferDone(void* self) {
    auto* device = static_cast<WaveOutDevice*>(self);
    std::lock_guard guard(device->signalMutex);
    ++device->returnedBuffers;
    device->signal.notify_all();
}

// Buffers come back in the order they were written, so the refill index
// always names the one just returned.
void WaveOutDevice::RunThread() {
    for (;;) {
        {
            std::unique_lock guard(signalMutex);
            signal.wait(guard, [this] { return stopping || (!paused && returnedBuffers > 0); });
            if (stopping) return;
        }
        std::lock_guard device(lock);
        {
            std::lock_guard guard(signalMutex);
            if (stopping) return;
            if (paused || returnedBuffers == 0) continue;
            --returnedBuffers;
        }
        uint8_t* buffer = samples.get() + refillIndex * bufferBytes;
        fill(fillContext, buffer, bufferBytes);
        backend->Write(buffer, bufferBytes);
        refillIndex = (refillIndex + 1) % bufferCount;
    }
}

}  // namespace qob
