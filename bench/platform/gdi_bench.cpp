// bench/platform/gdi_bench.cpp
// Drawing on a screen-sized surface (240 x 320 pixels of 4 bytes: 307,200
// bytes): a full-screen FillRect against memcpy of the same bytes, and text
// (8 lines of 20 characters in the forms' default font).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/gdi.h"

namespace {

using namespace qob::platform;

constexpr int kWidth = 240;
constexpr int kHeight = 320;
constexpr size_t kScreenBytes = size_t{kWidth} * kHeight * 4;

struct Screen {
    std::vector<uint32_t> pixels = std::vector<uint32_t>(size_t{kWidth} * kHeight);
    Surface32 surface{pixels.data(), kWidth, kHeight, kWidth};
    HDC dc = CreateTargetDC(DrawTarget{&surface, {0, 0}, {0, 0, kWidth, kHeight}});
    ~Screen() { DeleteTargetDC(dc); }
};

void BM_MemcpyScreen(benchmark::State& state) {
    std::vector<uint32_t> from(size_t{kWidth} * kHeight, 0x123456), to(size_t{kWidth} * kHeight);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kScreenBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kScreenBytes));
}
BENCHMARK(BM_MemcpyScreen);

void BM_FillRectScreen(benchmark::State& state) {
    Screen screen;
    const HBRUSH brush = CreateSolidBrush(RGB(10, 200, 30));
    const RECT all{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        FillRect(screen.dc, &all, brush);
        benchmark::DoNotOptimize(screen.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kScreenBytes));
    DeleteObject(brush);
}
BENCHMARK(BM_FillRectScreen);

// Eight lines of twenty characters, as a form paints a block of text, in
// the default font of forms; the glyphs are cached after the first round.
void BM_TextEightLines(benchmark::State& state) {
    Screen screen;
    LOGFONTW description{};
    description.lfHeight = -12;
    description.lfCharSet = 1;
    const char16_t face[] = u"MS Sans Serif";
    std::memcpy(description.lfFaceName, face, sizeof face);
    const HFONT font = CreateFontIndirectW(&description);
    SelectObject(screen.dc, font);
    SetBkMode(screen.dc, static_cast<int>(state.range(0)));
    const char16_t* lines[8] = {u"The quick brown fox ", u"jumps over the lazy ", u"dog: 0123456789 ABCD",
                                u"Sphinx of black quar", u"tz, judge my vow.   ", u"Pack my box with fiv",
                                u"e dozen liquor jugs!", u"(QOB) [] {} <> +-*/="};
    for (auto _ : state) {
        for (int i = 0; i < 8; ++i) ExtTextOutW(screen.dc, 4, 4 + 16 * i, 0, nullptr, lines[i], 20, nullptr);
        benchmark::DoNotOptimize(screen.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 160));  // characters
    SelectObject(screen.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
}
BENCHMARK(BM_TextEightLines)->Arg(TRANSPARENT)->Arg(OPAQUE)->ArgName("backMode");

}  // namespace
