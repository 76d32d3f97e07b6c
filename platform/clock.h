// platform/clock.h
// The millisecond tick count and the performance counter, both on the
// monotonic clock, and a test clock that replaces it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob::platform {

// Milliseconds on the monotonic clock, truncated to 32 bits: it wraps about
// every 49.7 days, so compare ticks by their difference, never by order.
uint32_t GetTickCount();

// Counts of the performance counter, and how many of them make a second.
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();

// Waits for milliseconds; under the test clock, advances it instead.
void Sleep(uint32_t milliseconds);

// The test clock: time stands at the given nanosecond count and moves only
// when a test advances it, when Sleep is called, or by step nanoseconds at
// every reading (so that code spinning on the clock sees time pass).
void SetTestClock(uint64_t nanoseconds, uint64_t step = 0);
void AdvanceTestClock(uint64_t nanoseconds);
// Scripted readings for the test clock: the next readings answer these
// nanosecond counts in turn (Sleep and AdvanceTestClock do not use them up);
// once they are used up, time stands at the last of them and goes on by the
// step. Starts the test clock when it is off.
void ScriptTestClock(const uint64_t* nanoseconds, size_t count, uint64_t step = 0);
void ClearTestClock();  // back to the monotonic clock
[[nodiscard]] bool IsTestClockOn();

}  // namespace qob::platform
