// bench/display/desktop_present_bench.cpp
// One frame of the desktop device, from CanvasUpdate to the screen surface:
// the GDI driver's BitBlt from its 16-bit DIB section into the game window's
// 32-bit surface, and the screen composed from that window. Compare its
// bytes per second (counted over the screen surface's bytes) with
// BM_MemcpyScreen's, memcpy of the same number of bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "display/display_canvas.h"
#include "platform/display_device.h"
#include "platform/memory.h"
#include "platform/window_manager.h"

namespace {

using namespace qob;

platform::LRESULT GameProcedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam) {
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

int64_t ScreenBytes(int32_t width, int32_t height) { return int64_t{width} * height * 4; }

void BM_DesktopPresent(benchmark::State& state) {
    const int32_t width = int32_t(state.range(0)), height = int32_t(state.range(1));
    platform::ResetWindowManager();
    ResetDisplayStatics();
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.screenWidth = width;
    profile.screenHeight = height;
    profile.panel = platform::PanelLayout{width, height, 2, 2 * width};
    platform::SelectDisplayDevice(profile);
    platform::WNDCLASSW windowClass;
    windowClass.lpfnWndProc = &GameProcedure;
    windowClass.lpszClassName = u"QobGame";
    (void)platform::RegisterClassW(&windowClass);
    // The window covers the window layer's screen (its size comes from
    // QOB_SCREEN); the DIB section has the device's size.
    const platform::SIZE screen = platform::ScreenSize();
    const platform::HWND window = platform::CreateWindowExW(0, u"QobGame", u"game", platform::WS_POPUP | platform::WS_VISIBLE,
                                                            0, 0, screen.cx, screen.cy, 0, 0, 0, nullptr);
    DisplayParams params{0, 0, 4, 1};
    Canvas* canvas = window ? CreateDisplayCanvas(window, &params) : nullptr;
    if (!canvas) {
        state.SkipWithError("no display");
        return;
    }
    for (auto _ : state) {
        PixelSurface* frame = CanvasBeginScene(canvas);
        benchmark::DoNotOptimize(frame);
        CanvasUpdate(canvas, nullptr);
        benchmark::DoNotOptimize(platform::ComposeScreen());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * ScreenBytes(screen.cx, screen.cy));
    DestroyCanvas(canvas);
    platform::FreeBlock(canvas);
    platform::ResetWindowManager();
    ResetDisplayStatics();
}
BENCHMARK(BM_DesktopPresent)->Args({240, 320});

void BM_MemcpyScreen(benchmark::State& state) {
    const platform::SIZE screen = platform::ScreenSize();
    const size_t bytes = size_t(ScreenBytes(screen.cx, screen.cy));
    std::vector<uint8_t> from(bytes, 0x35), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_MemcpyScreen);

}  // namespace
