// platform/clock.cpp
// Every reading goes through ReadNanoseconds, which the test clock replaces.
#include "platform/clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <vector>

namespace qob::platform {

namespace {

constexpr uint64_t kNanosecondsPerMillisecond = 1'000'000;

std::atomic<bool> gTestClockOn{false};
std::atomic<uint64_t> gTestNow{0};
std::atomic<uint64_t> gTestStep{0};

// Scripted readings still to come; gScriptLeft lets readings skip the lock
// when there are none.
std::mutex gScriptLock;
std::vector<uint64_t> gScript;
size_t gScriptNext = 0;
std::atomic<bool> gScriptLeft{false};

bool TakeScriptedReading(uint64_t& reading) {
    std::lock_guard<std::mutex> hold(gScriptLock);
    if (gScriptNext >= gScript.size()) return false;
    reading = gScript[gScriptNext++];
    if (gScriptNext == gScript.size()) {
        gTestNow.store(reading, std::memory_order_release);
        gScriptLeft.store(false, std::memory_order_release);
    }
    return true;
}

void DropScript() {
    std::lock_guard<std::mutex> hold(gScriptLock);
    gScript.clear();
    gScriptNext = 0;
    gScriptLeft.store(false, std::memory_order_release);
}

uint64_t ReadNanoseconds() {
    if (gTestClockOn.load(std::memory_order_acquire)) {
        uint64_t reading = 0;
        if (gScriptLeft.load(std::memory_order_acquire) && TakeScriptedReading(reading)) return reading;
        return gTestNow.fetch_add(gTestStep.load(std::memory_order_relaxed), std::memory_order_acq_rel);
    }
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace

uint32_t GetTickCount() { return static_cast<uint32_t>(ReadNanoseconds() / kNanosecondsPerMillisecond); }

int64_t QueryPerformanceCounter() { return static_cast<int64_t>(ReadNanoseconds()); }

int64_t QueryPerformanceFrequency() { return 1'000'000'000; }

void Sleep(uint32_t milliseconds) {
    if (gTestClockOn.load(std::memory_order_acquire)) {
        AdvanceTestClock(milliseconds * kNanosecondsPerMillisecond);
        return;
    }
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

void SetTestClock(uint64_t nanoseconds, uint64_t step) {
    DropScript();
    gTestNow.store(nanoseconds, std::memory_order_relaxed);
    gTestStep.store(step, std::memory_order_relaxed);
    gTestClockOn.store(true, std::memory_order_release);
}

void AdvanceTestClock(uint64_t nanoseconds) { gTestNow.fetch_add(nanoseconds, std::memory_order_acq_rel); }

void ScriptTestClock(const uint64_t* nanoseconds, size_t count, uint64_t step) {
    {
        std::lock_guard<std::mutex> hold(gScriptLock);
        gScript.assign(nanoseconds, nanoseconds + count);
        gScriptNext = 0;
        gTestStep.store(step, std::memory_order_relaxed);
        gScriptLeft.store(count != 0, std::memory_order_release);
    }
    gTestClockOn.store(true, std::memory_order_release);
}

void ClearTestClock() {
    DropScript();
    gTestClockOn.store(false, std::memory_order_release);
}

bool IsTestClockOn() { return gTestClockOn.load(std::memory_order_acquire); }

}  // namespace qob::platform
