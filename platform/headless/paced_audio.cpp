// platform/headless/paced_audio.cpp
// The output device without sound hardware: a thread takes each buffer at the
// format's pace by the platform clock and may append it to a WAVE file.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/audio_out.h"
#include "platform/clock.h"

namespace qob::platform {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr int64_t kNanosecondsPerMillisecond = 1'000'000;
constexpr uint32_t kLongestNap = 5;  // milliseconds, so Pause and Close are felt soon
constexpr long kWaveHeaderBytes = 44;

void PutLittleEndian(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// A RIFF WAVE file of PCM whose header always states the data written so far,
// so that a process ending at any point leaves a readable file.
class WaveRecording {
public:
    ~WaveRecording() { Close(); }

    [[nodiscard]] bool Open(const std::string& path, const AudioFormat& format) {
        file = std::fopen(path.c_str(), "wb");
        if (!file) return false;
        dataBytes = 0;
        uint8_t header[kWaveHeaderBytes] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
        const uint32_t blockAlign = static_cast<uint32_t>(format.FrameBytes());
        PutLittleEndian(header + 16, 16, 4);
        PutLittleEndian(header + 20, 1, 2);  // PCM
        PutLittleEndian(header + 22, static_cast<uint32_t>(format.channels), 2);
        PutLittleEndian(header + 24, static_cast<uint32_t>(format.rate), 4);
        PutLittleEndian(header + 28, static_cast<uint32_t>(format.rate) * blockAlign, 4);
        PutLittleEndian(header + 32, blockAlign, 2);
        PutLittleEndian(header + 34, static_cast<uint32_t>(format.bits), 2);
        header[36] = 'd', header[37] = 'a', header[38] = 't', header[39] = 'a';
        if (std::fwrite(header, 1, sizeof header, file) != sizeof header) return false;
        return UpdateSizes();
    }

    // Appends the bytes and rewrites both sizes of the header. A file that
    // would pass the 32-bit sizes of the format stops growing.
    void Append(const uint8_t* data, size_t bytes) {
        if (!file || dataBytes + bytes > 0xFFFFFFFFu - kWaveHeaderBytes) return;
        if (std::fseek(file, 0, SEEK_END) != 0 || std::fwrite(data, 1, bytes, file) != bytes) return;
        dataBytes += static_cast<uint32_t>(bytes);
        (void)UpdateSizes();
    }

    void Close() {
        if (file) std::fclose(file);
        file = nullptr;
    }

private:
    bool UpdateSizes() {
        uint8_t size[4];
        PutLittleEndian(size, dataBytes + kWaveHeaderBytes - 8, 4);
        if (std::fseek(file, 4, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file) != 4) return false;
        PutLittleEndian(size, dataBytes, 4);
        if (std::fseek(file, 40, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file) != 4) return false;
        return std::fflush(file) == 0;
    }

    FILE* file = nullptr;
    uint32_t dataBytes = 0;
};

class PacedAudioBackend final : public AudioBackend {
public:
    PacedAudioBackend(double pace, std::string recordingPath) : pace(pace), recordingPath(std::move(recordingPath)) {}
    ~PacedAudioBackend() override { Close(); }

    bool Open(const AudioFormat& openFormat, AudioDoneCallback doneCallback, void* doneContext) override {
        format = openFormat;
        if (!recordingPath.empty() && !recording.Open(recordingPath, format)) {
            recording.Close();
            return false;
        }
        done = doneCallback;
        context = doneContext;
        paused = true;
        closing = false;
        worker = std::thread([this] { TakeBuffers(); });
        return true;
    }

    void Write(const uint8_t* data, size_t bytes) override {
        std::lock_guard lock(mutex);
        queue.push_back({data, bytes});
        wake.notify_one();
    }

    void Pause() override {
        std::lock_guard lock(mutex);
        paused = true;
    }

    void Restart() override {
        std::lock_guard lock(mutex);
        paused = false;
        headStarted = false;
        wake.notify_one();
    }

    void Reset() override {
        std::lock_guard lock(mutex);
        queue.clear();
        headStarted = false;
    }

    void Close() override {
        {
            std::lock_guard lock(mutex);
            closing = true;
            queue.clear();
            wake.notify_one();
        }
        if (worker.joinable()) worker.join();
        recording.Close();
    }

private:
    struct Buffer {
        const uint8_t* data;
        size_t bytes;
    };

    // Nanoseconds of playing time of a buffer at the pace.
    int64_t PlayingTime(size_t bytes) const {
        const double frames = static_cast<double>(bytes) / format.FrameBytes();
        return static_cast<int64_t>(frames * kNanosecondsPerSecond / format.rate / pace);
    }

    // The device's thread: each buffer ends one playing time after the
    // previous one (or after it was written, when the queue had run dry).
    void TakeBuffers() {
        std::unique_lock lock(mutex);
        while (!closing) {
            if (paused || queue.empty()) {
                headStarted = false;
                wake.wait(lock);
                continue;
            }
            const Buffer head = queue.front();
            if (pace > 0) {
                const int64_t now = QueryPerformanceCounter();
                if (!headStarted) headStart = now, headStarted = true;
                const int64_t due = headStart + PlayingTime(head.bytes);
                if (now < due) {
                    const int64_t wait = (due - now + kNanosecondsPerMillisecond - 1) / kNanosecondsPerMillisecond;
                    lock.unlock();
                    Sleep(static_cast<uint32_t>(std::min<int64_t>(wait, kLongestNap)));
                    lock.lock();
                    continue;
                }
                headStart = due;
            }
            queue.pop_front();
            recording.Append(head.data, head.bytes);
            lock.unlock();
            done(context);
            lock.lock();
        }
    }

    const double pace;
    const std::string recordingPath;
    WaveRecording recording;
    AudioFormat format;
    AudioDoneCallback done = nullptr;
    void* context = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Buffer> queue;
    bool paused = true;
    bool closing = false;
    bool headStarted = false;
    int64_t headStart = 0;  // performance counter when the head buffer began
    std::thread worker;
};

}  // namespace

std::unique_ptr<AudioBackend> MakePacedAudioBackend(double pace, std::string recordingPath) {
    return std::make_unique<PacedAudioBackend>(pace, std::move(recordingPath));
}

}  // namespace qob::platform
