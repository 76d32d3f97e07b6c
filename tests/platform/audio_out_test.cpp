// tests/platform/audio_out_test.cpp
// The paced back end's timing on the test clock, the recorder's WAVE file,
// and the choice of devices by QOB_AUDIO.
#include "platform/audio_out.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "temp_directory.h"

namespace qob::platform {
namespace {

constexpr uint64_t kMillisecond = 1'000'000;

// The done reports of a back end, with the test clock's time of each.
struct DoneLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint64_t> times;

    static void Record(void* context) {
        auto* log = static_cast<DoneLog*>(context);
        std::lock_guard lock(log->mutex);
        log->times.push_back(static_cast<uint64_t>(QueryPerformanceCounter()));
        log->changed.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return times.size() >= count; });
    }
};

class AudioOutTest : public ::testing::Test {
protected:
    void TearDown() override {
        ClearTestClock();
        unsetenv("QOB_AUDIO");
        unsetenv("QOB_AUDIO_PACE");
    }
};

// Three 20 ms buffers (20 frames of 8-bit mono at 1,000 Hz) end 20, 40 and
// 60 ms after the device starts, or at a multiple of that pace.
TEST_F(AudioOutTest, PacedBackEndTakesBuffersAtTheFormatsPace) {
    struct Case {
        double pace;
        uint64_t period;  // nanoseconds per buffer
    };
    constexpr Case kCases[] = {{1, 20 * kMillisecond}, {2, 10 * kMillisecond}, {0.5, 40 * kMillisecond}, {0, 0}};
    const std::vector<uint8_t> buffer(20, 0x80);
    for (const Case& c : kCases) {
        SetTestClock(1000 * kMillisecond);
        DoneLog log;
        auto backend = MakePacedAudioBackend(c.pace);
        ASSERT_TRUE(backend->Open({1000, 8, 1}, DoneLog::Record, &log));
        for (int i = 0; i < 3; ++i) backend->Write(buffer.data(), buffer.size());
        backend->Restart();
        ASSERT_TRUE(log.WaitFor(3));
        backend->Close();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(log.times[i], 1000 * kMillisecond + (i + 1) * c.period) << c.pace << " " << i;
    }
}

uint32_t ReadLittleEndian(const std::vector<uint8_t>& bytes, size_t offset, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[offset + i];
    return value;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The header states the data written so far after every buffer, so a file
// is readable at any moment, not only after Close.
TEST_F(AudioOutTest, RecorderKeepsTheWaveHeaderCurrent) {
    testing::TempDirectory directory;
    const std::string path = directory.Join("out.wav");
    DoneLog log;
    auto backend = MakePacedAudioBackend(0, path);
    ASSERT_TRUE(backend->Open({8000, 16, 2}, DoneLog::Record, &log));
    std::vector<uint8_t> first(32), second(32);
    for (size_t i = 0; i < 32; ++i) first[i] = static_cast<uint8_t>(i), second[i] = static_cast<uint8_t>(100 + i);
    backend->Write(first.data(), first.size());
    backend->Restart();
    ASSERT_TRUE(log.WaitFor(1));
    std::vector<uint8_t> file = ReadFile(path);
    ASSERT_EQ(file.size(), 44u + 32u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(ReadLittleEndian(file, 4, 4), 36u + 32u);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(ReadLittleEndian(file, 16, 4), 16u);
    EXPECT_EQ(ReadLittleEndian(file, 20, 2), 1u);      // PCM
    EXPECT_EQ(ReadLittleEndian(file, 22, 2), 2u);      // channels
    EXPECT_EQ(ReadLittleEndian(file, 24, 4), 8000u);   // rate
    EXPECT_EQ(ReadLittleEndian(file, 28, 4), 32000u);  // bytes per second
    EXPECT_EQ(ReadLittleEndian(file, 32, 2), 4u);      // block align
    EXPECT_EQ(ReadLittleEndian(file, 34, 2), 16u);     // bits
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(ReadLittleEndian(file, 40, 4), 32u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), file.begin() + 44));

    backend->Write(second.data(), second.size());
    ASSERT_TRUE(log.WaitFor(2));
    file = ReadFile(path);
    ASSERT_EQ(file.size(), 44u + 64u);
    EXPECT_EQ(ReadLittleEndian(file, 4, 4), 36u + 64u);
    EXPECT_EQ(ReadLittleEndian(file, 40, 4), 64u);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), file.begin() + 76));
    backend->Close();
}

TEST_F(AudioOutTest, RecorderRefusesAPathItCannotWrite) {
    testing::TempDirectory directory;
    DoneLog log;
    auto backend = MakePacedAudioBackend(0, directory.Join("missing/out.wav"));
    EXPECT_FALSE(backend->Open({8000, 8, 1}, DoneLog::Record, &log));
}

TEST_F(AudioOutTest, ResetDropsQueuedBuffersUnreported) {
    DoneLog log;
    auto backend = MakePacedAudioBackend(0);
    ASSERT_TRUE(backend->Open({8000, 8, 1}, DoneLog::Record, &log));
    const std::vector<uint8_t> buffer(16, 0x80);
    backend->Write(buffer.data(), buffer.size());
    backend->Write(buffer.data(), buffer.size());
    backend->Reset();
    backend->Write(buffer.data(), buffer.size());
    backend->Restart();
    ASSERT_TRUE(log.WaitFor(1));
    backend->Close();
    EXPECT_EQ(log.times.size(), 1u);
}

TEST_F(AudioOutTest, QobAudioChoosesTheDevices) {
    testing::TempDirectory directory;
    setenv("QOB_AUDIO", "none", 1);
    EXPECT_EQ(ListAudioDevices().size(), 1u);

    const std::string path = directory.Join("chosen.wav");
    setenv("QOB_AUDIO", ("record:" + path).c_str(), 1);
    AudioDeviceList devices = ListAudioDevices();
    ASSERT_EQ(devices.size(), 1u);
    DoneLog log;
    ASSERT_TRUE(devices[0]->Open({11025, 8, 1}, DoneLog::Record, &log));
    devices[0]->Close();
    EXPECT_EQ(std::filesystem::file_size(path), 44u);

    unsetenv("QOB_AUDIO");
    devices = ListAudioDevices();
    EXPECT_EQ(devices.size(), MakeSdlAudioBackend() ? 2u : 1u) << "SDL2 when built in, then the silent device";
}

}  // namespace
}  // namespace qob::platform
