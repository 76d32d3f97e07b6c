// bench/display/present_bench.cpp
// Speed of presenting a frame against memcpy of the same bytes in the same
// run: a whole frame from the back buffer into a raw frame buffer, and whole
// frames turned a quarter, half and three quarters by the rotation driver.
// Compare bytes per second of each present with BM_MemcpyFrame's.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "display/display.h"
#include "display/display_window.h"
#include "platform/display_device.h"

namespace {

using namespace qob;

constexpr uintptr_t kWindow = 0x100;

// One window that exists and takes a window procedure.
intptr_t QuietProcedure(uintptr_t, uint32_t, uintptr_t, intptr_t) { return 0; }

void InstallWindow() {
    DisplayWindowServices services;
    services.isWindow = [](uintptr_t window) { return window == kWindow; };
    services.setWindowProcedure = [](uintptr_t, WindowProcedure) -> WindowProcedure { return &QuietProcedure; };
    SetDisplayWindowServices(services);
}

// A display on an upright raw frame buffer of that size, asked for an
// orientation (4: the native one).
std::unique_ptr<Display> OpenRaw(int32_t width, int32_t height, int32_t orientation) {
    InstallWindow();
    ResetDisplayStatics();
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.screenWidth = width;
    profile.screenHeight = height;
    profile.panel = platform::PanelLayout{width, height, 2, 2 * width};
    profile.rawFrameBufferEscape = true;
    platform::SelectDisplayDevice(profile);
    DisplayParams params{0, 0, orientation, 1};
    return Display::Create(kWindow, params);
}

void Present(benchmark::State& state, int32_t orientation) {
    const int32_t width = int32_t(state.range(0)), height = int32_t(state.range(1));
    auto display = OpenRaw(width, height, orientation);
    if (!display) {
        state.SkipWithError("no display");
        return;
    }
    DisplayBase& base = display->Base();
    if (!base.BeginScene()) {
        state.SkipWithError("no scene");
        return;
    }
    std::memset(base.GetBackBuffer()->bits, 0x35, size_t(base.GetBackBuffer()->pitch) * size_t(base.Height()));
    base.Present(0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(base.BeginScene());
        base.SetDirtyRect(nullptr);
        base.Present(0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{width} * height * 2);
    display.reset();
    ResetDisplayStatics();
}

void FrameSizes(benchmark::internal::Benchmark* b) { b->Args({240, 320})->Args({1280, 720}); }

void BM_PresentFrame(benchmark::State& state) { Present(state, 4); }
BENCHMARK(BM_PresentFrame)->Apply(FrameSizes);

// Asked orientation 3, 2, 1 on a native orientation 0 screen: r = 1, 2, 3.
void BM_PresentTurnedR1(benchmark::State& state) { Present(state, 3); }
void BM_PresentTurnedR2(benchmark::State& state) { Present(state, 2); }
void BM_PresentTurnedR3(benchmark::State& state) { Present(state, 1); }
BENCHMARK(BM_PresentTurnedR1)->Apply(FrameSizes);
BENCHMARK(BM_PresentTurnedR2)->Apply(FrameSizes);
BENCHMARK(BM_PresentTurnedR3)->Apply(FrameSizes);

void BM_MemcpyFrame(benchmark::State& state) {
    const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 2;
    std::vector<uint8_t> from(bytes, 0x35), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_MemcpyFrame)->Apply(FrameSizes);

}  // namespace
