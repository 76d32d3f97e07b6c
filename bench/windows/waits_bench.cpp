// bench/windows/waits_bench.cpp
// What a wait costs the processor on the real clock: the window manager's
// blocking wait for 10 ms with nothing arriving, against a loop that polls
// the queue until the same deadline. The wall time of both is about 10 ms;
// the CPU column shows the difference.

#include <benchmark/benchmark.h>

#include "platform/clock.h"
#include "platform/window_manager.h"

namespace {

using namespace qob::platform;

constexpr uint32_t kWaitMs = 10;

void BM_BlockingWaitUntilDeadline(benchmark::State& state) {
    ResetWindowManager();
    for (auto _ : state) benchmark::DoNotOptimize(WaitForMessage(kWaitMs));
}
BENCHMARK(BM_BlockingWaitUntilDeadline)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PollingUntilDeadline(benchmark::State& state) {
    ResetWindowManager();
    MSG message;
    for (auto _ : state) {
        const uint32_t start = GetTickCount();
        while (GetTickCount() - start < kWaitMs) benchmark::DoNotOptimize(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
    }
}
BENCHMARK(BM_PollingUntilDeadline)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
