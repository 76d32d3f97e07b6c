// tests/sound/wave_out_device_test.cpp
// The output device's format checks, ring sizes and device thread, driven
// by a back end that hands buffers back when the test says so.
#include "sound/wave_out_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "sound/sound_codes.h"
#include "sound_test_support.h"

namespace qob {
namespace {

// Records every fill: which buffer, and stamps it with the fill's number.
struct FillLog {
    std::mutex mutex;
    std::vector<const uint8_t*> buffers;
    std::atomic<bool> forbidden{false};  // set while the device must not fill
    std::atomic<int> forbiddenFills{0};
};

void LogFill(void* context, uint8_t* buffer, size_t bytes) {
    auto* log = static_cast<FillLog*>(context);
    if (log->forbidden.load()) ++log->forbiddenFills;
    std::lock_guard lock(log->mutex);
    std::fill_n(buffer, bytes, static_cast<uint8_t>(log->buffers.size()));
    log->buffers.push_back(buffer);
}

class WaveOutDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { testing::UseManualDevices({&first, &second}); }
    void TearDown() override {
        device.Close();
        testing::RestoreDeviceOptions();
    }
    void OpenStereo16() {
        const WaveOutFormat format{22050, kWaveFormat16Bit | kWaveFormatSigned, 2};
        ASSERT_EQ(device.Open(&format, 3528, LogFill, &log), 0);
    }

    testing::ManualDeviceState first;
    testing::ManualDeviceState second;
    FillLog log;
    WaveOutDevice device;
};

TEST_F(WaveOutDeviceTest, RingSizesFollowTheBufferLengthAndFormat) {
    struct Case {
        int rate, flags, channels;
        int64_t frames;
        int count;
        size_t bytes;
        uint8_t silence;
    };
    constexpr Case kCases[] = {
        {22050, 0x12, 2, 22050 * 160 / 1000, 8, 1768, 0},  // 1,764 bytes rounded up to 8
        {11025, 0x21, 1, 11025 * 60 / 1000, 4, 224, 0x80},  // 220 bytes; 59 ms: 2 buffers, at least 4
        {22050, 0x12, 2, 22050 * 60 / 1000, 4, 1768, 0},    // 3 buffers, at least 4
        {22050, 0x12, 1, 22050 * 1000 / 1000, 32, 888, 0},  // 50 buffers, at most 32
        {44100, 0x12, 2, 44100 * 200 / 1000, 10, 3528, 0},
        {8000, 0x01, 1, 0, 4, 160, 0x80},                   // flags without 0x2 are 8-bit
    };
    for (const Case& c : kCases) {
        first.written.clear();
        const WaveOutFormat format{c.rate, c.flags, c.channels};
        ASSERT_EQ(device.Open(&format, c.frames, LogFill, &log), 0) << c.rate;
        EXPECT_EQ(device.BufferCount(), c.count) << c.rate << " " << c.frames;
        EXPECT_EQ(device.BufferBytes(), c.bytes) << c.rate << " " << c.channels;
        EXPECT_EQ(first.format.rate, c.rate);
        EXPECT_EQ(first.format.channels, c.channels);
        EXPECT_EQ(first.format.bits, (c.flags & kWaveFormat16Bit) ? 16 : 8);
        EXPECT_TRUE(first.paused) << "opened paused";
        ASSERT_EQ(first.written.size(), static_cast<size_t>(c.count)) << "every buffer queued once";
        for (int i = 0; i < c.count; ++i) {
            EXPECT_EQ(first.written[i], device.BufferData(i));
            for (size_t b = 0; b < c.bytes; ++b) ASSERT_EQ(device.BufferData(i)[b], c.silence);
        }
        EXPECT_EQ(device.Close(), 0);
        EXPECT_TRUE(first.closed);
    }
    EXPECT_TRUE(log.buffers.empty()) << "nothing is filled before Resume";
}

TEST_F(WaveOutDeviceTest, BadFormatsAreRefusedBeforeAnyDeviceOpens) {
    const WaveOutFormat good{22050, 0x12, 2};
    EXPECT_EQ(device.Open(nullptr, 1000, LogFill, &log), kSoundBadDevice);
    EXPECT_EQ(device.Open(&good, 1000, nullptr, &log), kSoundBadDevice);
    const WaveOutFormat bad[] = {
        {22050, 0, 2},     {22050, 0x11, 2}, {22050, 0x22, 1}, {22050, 0x12, 0}, {22050, 0x12, 3},
        {0, 0x12, 2},      {-1, 0x12, 2},    {384001, 0x21, 1},
    };
    for (const WaveOutFormat& format : bad)
        EXPECT_EQ(device.Open(&format, 1000, LogFill, &log), kSoundBadDevice)
            << format.rate << " " << format.flags << " " << format.channels;
    EXPECT_FALSE(first.opened);
    EXPECT_FALSE(second.opened);
}

TEST_F(WaveOutDeviceTest, FirstDeviceRefusingTheSecondIsUsed) {
    first.refuseOpen = true;
    OpenStereo16();
    EXPECT_FALSE(first.opened);
    EXPECT_TRUE(second.opened);
    EXPECT_EQ(second.written.size(), 8u);
}

TEST_F(WaveOutDeviceTest, NoDeviceOpeningIsMinusOne) {
    first.refuseOpen = true;
    second.refuseOpen = true;
    const WaveOutFormat format{22050, 0x12, 2};
    EXPECT_EQ(device.Open(&format, 3528, LogFill, &log), kSoundBadDevice);
    EXPECT_EQ(device.Close(), 0);
    WaveOutOptions.listDevices = [] { return platform::AudioDeviceList{}; };
    EXPECT_EQ(device.Open(&format, 3528, LogFill, &log), kSoundBadDevice);
}

TEST_F(WaveOutDeviceTest, BuffersAreRefilledInTheOrderReturnedEachOnce) {
    OpenStereo16();
    device.Resume();
    EXPECT_FALSE(first.paused);
    const size_t count = 8;
    for (size_t i = 0; i < 2 * count + 3; ++i) {
        first.FinishNext();
        ASSERT_TRUE(first.WaitForWrites(count + i + 1)) << i;
        std::lock_guard lock(first.mutex);
        EXPECT_EQ(first.written.back(), device.BufferData(static_cast<int>(i % count))) << i;
        EXPECT_EQ(first.written.back()[0], static_cast<uint8_t>(i)) << "filled before it was queued";
    }
    device.Close();
    EXPECT_EQ(log.buffers.size(), 2 * count + 3) << "one fill per returned buffer";
    EXPECT_EQ(first.written.size(), 3 * count + 3);
}

TEST_F(WaveOutDeviceTest, PausedDeviceDoesNotFillUntilResumed) {
    OpenStereo16();
    device.Resume();
    first.FinishNext();
    ASSERT_TRUE(first.WaitForWrites(9));
    device.Pause();
    EXPECT_TRUE(first.paused);
    log.forbidden = true;
    first.FinishNext();
    first.FinishNext();
    log.forbidden = false;
    device.Resume();
    ASSERT_TRUE(first.WaitForWrites(11));
    EXPECT_EQ(log.forbiddenFills.load(), 0);
    EXPECT_EQ(log.buffers.size(), 3u);
}

TEST_F(WaveOutDeviceTest, ClosesWhilePaused) {
    OpenStereo16();
    device.Resume();
    device.Pause();
    for (int i = 0; i < 8; ++i) first.FinishNext();
    EXPECT_EQ(device.Close(), 0);
    EXPECT_TRUE(first.closed);
    EXPECT_TRUE(log.buffers.empty());
    EXPECT_TRUE(first.queue.empty()) << "the queue was reset";
}

TEST_F(WaveOutDeviceTest, ClosesWithTheWholeRingReturned) {
    OpenStereo16();
    device.Resume();
    device.Lock();  // the thread waits for the lock with buffers in hand
    for (int i = 0; i < 8; ++i) first.FinishNext();
    device.Unlock();
    EXPECT_EQ(device.Close(), 0);
    EXPECT_TRUE(first.closed);
    EXPECT_LE(log.buffers.size(), 8u);
    EXPECT_EQ(first.written.size(), 8 + log.buffers.size());
}

}  // namespace
}  // namespace qob
