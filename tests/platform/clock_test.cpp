// tests/platform/clock_test.cpp
// The tick count and performance counter, read from the test clock and from
// the real monotonic clock.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <iterator>

namespace qob::platform {
namespace {

constexpr uint64_t kMillisecond = 1'000'000;

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { ClearTestClock(); }
};

TEST_F(ClockTest, ReadingsFollowTheTestClock) {
    SetTestClock(5000 * kMillisecond + 123);
    EXPECT_EQ(GetTickCount(), 5000u);
    EXPECT_EQ(QueryPerformanceCounter(), 5'000'000'123);
    EXPECT_EQ(QueryPerformanceFrequency(), 1'000'000'000);
    EXPECT_EQ(GetTickCount(), 5000u) << "time stands still until moved";
    AdvanceTestClock(kMillisecond + kMillisecond / 2);
    EXPECT_EQ(GetTickCount(), 5001u);
    EXPECT_EQ(QueryPerformanceCounter(), 5'001'500'123);
}

TEST_F(ClockTest, TickCountWrapsAtThirtyTwoBits) {
    constexpr uint64_t kWrap = uint64_t{1} << 32;
    SetTestClock((kWrap + 7) * kMillisecond);
    EXPECT_EQ(GetTickCount(), 7u);
    SetTestClock((kWrap - 3) * kMillisecond);
    const uint32_t before = GetTickCount();
    EXPECT_EQ(before, 0xFFFFFFFDu);
    AdvanceTestClock(10 * kMillisecond);
    const uint32_t after = GetTickCount();
    EXPECT_EQ(after, 7u);
    EXPECT_EQ(after - before, 10u) << "differences stay right across the wrap";
}

TEST_F(ClockTest, SleepAdvancesTheTestClock) {
    SetTestClock(0);
    Sleep(250);
    EXPECT_EQ(GetTickCount(), 250u);
    Sleep(0);
    EXPECT_EQ(GetTickCount(), 250u);
}

TEST_F(ClockTest, ASteppingClockMovesAtEveryReading) {
    SetTestClock(0, kMillisecond);
    EXPECT_EQ(GetTickCount(), 0u);
    EXPECT_EQ(GetTickCount(), 1u);
    EXPECT_EQ(QueryPerformanceCounter(), static_cast<int64_t>(2 * kMillisecond));
    // A loop that spins until 100 ms have passed ends.
    const uint32_t start = GetTickCount();
    int readings = 0;
    while (GetTickCount() - start < 100) ++readings;
    EXPECT_EQ(readings, 99);
}

uint64_t MonotonicNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

TEST_F(ClockTest, WithoutTheTestClockReadingsComeFromTheMonotonicClock) {
    SetTestClock(1);
    ClearTestClock();
    const uint64_t before = MonotonicNow();
    const int64_t counter = QueryPerformanceCounter();
    const uint32_t tick = GetTickCount();
    const uint64_t after = MonotonicNow();
    EXPECT_GE(static_cast<uint64_t>(counter), before);
    EXPECT_LE(static_cast<uint64_t>(counter), after);
    const uint32_t tickBefore = static_cast<uint32_t>(before / kMillisecond);
    EXPECT_LE(tick - tickBefore, static_cast<uint32_t>(after / kMillisecond) - tickBefore);
}

// Scripted readings come first, in order, whatever reads them; then time
// stands at the last one and goes on by the step. Setting the clock again
// drops what is left of a script.
TEST_F(ClockTest, ScriptedReadingsAnswerInTurnThenTheStepGoesOn) {
    const uint64_t script[] = {100 * kMillisecond, 100 * kMillisecond, 101 * kMillisecond + 5, 250 * kMillisecond};
    ScriptTestClock(script, std::size(script), kMillisecond);
    EXPECT_TRUE(IsTestClockOn());
    EXPECT_EQ(GetTickCount(), 100u);
    EXPECT_EQ(QueryPerformanceCounter(), static_cast<int64_t>(100 * kMillisecond));
    Sleep(40);  // uses up no reading
    EXPECT_EQ(QueryPerformanceCounter(), static_cast<int64_t>(101 * kMillisecond + 5));
    EXPECT_EQ(GetTickCount(), 250u);
    EXPECT_EQ(GetTickCount(), 250u) << "the last reading stands, then the step goes on";
    EXPECT_EQ(GetTickCount(), 251u);

    ScriptTestClock(script, std::size(script));
    SetTestClock(7 * kMillisecond);
    EXPECT_EQ(GetTickCount(), 7u);
    EXPECT_EQ(GetTickCount(), 7u);

    ScriptTestClock(script, std::size(script));
    ClearTestClock();
    EXPECT_FALSE(IsTestClockOn());
    EXPECT_NE(QueryPerformanceCounter(), static_cast<int64_t>(100 * kMillisecond));
}

}  // namespace
}  // namespace qob::platform
