// bench/display/slowfb_bench.cpp
// SlowFB's present of a 240 x 320 frame against memcmp of its two buffers'
// bytes in the same run: an unchanged frame (the whole band compared,
// nothing written), and a frame in which a tenth of the rows changed since
// the last present (the benchmark changes them before each present, which
// the timing includes). Compare bytes per second with BM_MemcmpFrame's.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "display/chip_drivers.h"
#include "display/display_window.h"

namespace {

using namespace qob;

constexpr uintptr_t kWindow = 0x100;
constexpr int32_t kWidth = 240;
constexpr int32_t kHeight = 320;
constexpr int32_t kPitch = 2 * kWidth;
constexpr size_t kBytes = size_t(kPitch) * kHeight;

void InstallWindow() {
    DisplayWindowServices services;
    services.isWindow = [](uintptr_t window) { return window == kWindow; };
    SetDisplayWindowServices(services);
}

// Two equal frames: memcmp reads both wholly.
void BM_MemcmpFrame(benchmark::State& state) {
    std::vector<uint8_t> a(kBytes, 0x35), b(kBytes, 0x35);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
        benchmark::DoNotOptimize(std::memcmp(a.data(), b.data(), kBytes));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_MemcmpFrame);

// changedRows of every ten rows change before each present.
void SlowFbPresent(benchmark::State& state, int32_t changedRows) {
    InstallWindow();
    std::vector<uint8_t> video(kBytes + 64);
    uint8_t* frame = video.data() + (64 - reinterpret_cast<uintptr_t>(video.data()) % 64) % 64;
    SlowFbDriver driver;
    if (!driver.Initialize(kWindow, DisplayParams{0, 0, 4, 1}, DriverInfo{kWidth, kHeight, 16, kPitch, 0, 0, frame}) ||
        !driver.ShadowMode()) {
        state.SkipWithError("no shadow mode");
        return;
    }
    PixelBuffer* drawing = driver.Lock();
    std::memset(drawing->bits, 0x35, kBytes);
    driver.AdjustDirtyRect(Rect{0, 0, kWidth, kHeight});
    driver.Unlock(0);
    uint16_t toggle = 0x0101;
    for (auto _ : state) {
        for (int32_t y = 0; y < kHeight; y += 10)
            for (int32_t row = y; row < y + changedRows; ++row) {
                uint16_t* pixels = PixelRow(*drawing, row);
                for (int32_t x = 0; x < kWidth; ++x) pixels[x] ^= toggle;
            }
        driver.Unlock(0);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}

void BM_SlowFbUnchanged(benchmark::State& state) { SlowFbPresent(state, 0); }
BENCHMARK(BM_SlowFbUnchanged);

void BM_SlowFbTenthOfRowsChanged(benchmark::State& state) { SlowFbPresent(state, 1); }
BENCHMARK(BM_SlowFbTenthOfRowsChanged);

}  // namespace
