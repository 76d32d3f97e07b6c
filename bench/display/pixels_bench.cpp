// bench/display/pixels_bench.cpp
// Speed of the pixel core against a peer measured in the same run: clears
// against memset, blits against memcpy, lines against plain stores to the
// same pixels, and a rotated blit against a gather through a table of
// source indices. Compare bytes (or items) per second of each pair.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "display/canvas.h"
#include "display/drawing.h"
#include "display/operator_loops.h"
#include "display/transformed_blits.h"
#include "platform/memory.h"

namespace {

using namespace qob;

// A surface and a canvas over it, freed at the end.
struct Frame {
    PixelSurface* surface;
    Canvas* canvas;
    Frame(int32_t width, int32_t height) : surface(NewSurface(width, height)), canvas(CreateSurfaceCanvas(surface)) {
        std::memset(surface->buffer->bits, 0, size_t(surface->buffer->pitch) * size_t(height));
    }
    ~Frame() {
        DestroyCanvas(canvas);
        platform::FreeBlock(canvas);
        SurfaceRelease(surface);
        platform::FreeBlock(surface);
    }
    int64_t Bytes() const { return int64_t{surface->buffer->pitch} * surface->buffer->height; }
};

void FrameSizes(benchmark::internal::Benchmark* b) { b->Args({240, 320})->Args({1280, 720}); }

void BM_CanvasClear(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    for (auto _ : state) {
        CanvasClear(frame.canvas, 0x1234);  // two different bytes: the word path
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.Bytes());
}
BENCHMARK(BM_CanvasClear)->Apply(FrameSizes);

void BM_Memset(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    for (auto _ : state) {
        std::memset(frame.surface->buffer->bits, 0x12, size_t(frame.Bytes()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.Bytes());
}
BENCHMARK(BM_Memset)->Apply(FrameSizes);

// A source of the frame's size with about one pixel in eight keyed.
PixelSurface* MakeSource(int32_t width, int32_t height, int32_t key) {
    PixelSurface* source = NewSurface(width, height);
    std::mt19937 random(7);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            *PixelAt(*source->buffer, x, y) = (random() % 8 == 0) ? 0xF81F : static_cast<uint16_t>(random() & 0xF7FF);
    source->colorKey = key;
    return source;
}

void FreeSurface(PixelSurface* surface) {
    SurfaceRelease(surface);
    platform::FreeBlock(surface);
}

template <int32_t Key, int32_t Level>
void BlitFrame(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    PixelSurface* source = MakeSource(int32_t(state.range(0)), int32_t(state.range(1)), Key);
    if (Level >= 0) CanvasSetBlend(frame.canvas, Level);
    for (auto _ : state) {
        CanvasBlit(frame.canvas, 0, 0, source, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.Bytes());
    FreeSurface(source);
}
void BM_PlainBlit(benchmark::State& state) { BlitFrame<-1, -1>(state); }
void BM_KeyedBlit(benchmark::State& state) { BlitFrame<0xF81F, -1>(state); }
void BM_AlphaBlit(benchmark::State& state) { BlitFrame<-1, 128>(state); }
BENCHMARK(BM_PlainBlit)->Apply(FrameSizes);
BENCHMARK(BM_KeyedBlit)->Apply(FrameSizes);
BENCHMARK(BM_AlphaBlit)->Apply(FrameSizes);

void BM_Memcpy(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    std::vector<uint8_t> source(size_t(frame.Bytes()), 0x5A);
    for (auto _ : state) {
        std::memcpy(frame.surface->buffer->bits, source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.Bytes());
}
BENCHMARK(BM_Memcpy)->Apply(FrameSizes);

// 1,000 random lines of up to 100 pixels inside the frame.
struct LineSet {
    std::vector<Point> ends;
    std::vector<uint32_t> offsets;  // the pixels the lines draw, for the peer
    LineSet(int32_t width, int32_t height) {
        std::mt19937 random(11);
        for (int i = 0; i < 1000; ++i) {
            const int32_t x1 = int32_t(random() % uint32_t(width)), y1 = int32_t(random() % uint32_t(height));
            const int32_t x2 = std::clamp<int32_t>(x1 + int32_t(random() % 141) - 70, 0, width - 1);
            const int32_t y2 = std::clamp<int32_t>(y1 + int32_t(random() % 141) - 70, 0, height - 1);
            ends.push_back(Point{x1, y1});
            ends.push_back(Point{x2, y2});
            operator_loops::TraceLine(Point{x1, y1}, Point{x2, y2}, 2 * int64_t{width},
                                      [&](int64_t offset) { offsets.push_back(uint32_t(offset / 2)); });
        }
    }
};

void BM_RandomLines(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    const LineSet lines(int32_t(state.range(0)), int32_t(state.range(1)));
    for (auto _ : state) {
        for (size_t i = 0; i < lines.ends.size(); i += 2)
            DrawLine(frame.canvas, lines.ends[i].x, lines.ends[i].y, lines.ends[i + 1].x, lines.ends[i + 1].y, 0x1234);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(lines.offsets.size()));
}
BENCHMARK(BM_RandomLines)->Apply(FrameSizes);

void BM_StoresToLinePixels(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    const LineSet lines(int32_t(state.range(0)), int32_t(state.range(1)));
    auto* pixels = reinterpret_cast<uint16_t*>(frame.surface->buffer->bits);
    for (auto _ : state) {
        for (uint32_t offset : lines.offsets) pixels[offset] = 0x1234;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(lines.offsets.size()));
}
BENCHMARK(BM_StoresToLinePixels)->Apply(FrameSizes);

// A 64 x 64 source turned by 0.5 radians onto the frame's middle.
void BM_RotatedBlit64(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    PixelSurface* source = MakeSource(64, 64, -1);
    const int32_t cx = int32_t(state.range(0)) / 2, cy = int32_t(state.range(1)) / 2;
    for (auto _ : state) {
        CanvasBlitRotated(frame.canvas, cx, cy, 0.5f, source);
        benchmark::ClobberMemory();
    }
    // The pixels drawn: those of the square whose source lies inside.
    int64_t drawn = 0;
    for (int32_t y = cy - 46; y < cy + 46; ++y)
        for (int32_t x = cx - 46; x < cx + 46; ++x) drawn += GetPixel565(frame.canvas, x, y) != 0;
    state.SetItemsProcessed(state.iterations() * drawn);
    FreeSurface(source);
}
BENCHMARK(BM_RotatedBlit64)->Apply(FrameSizes);

// The peer: the same destination pixels gathered through a precomputed table
// of (destination offset, source offset) pairs.
void BM_GatherRotated64(benchmark::State& state) {
    Frame frame(int32_t(state.range(0)), int32_t(state.range(1)));
    PixelSurface* source = MakeSource(64, 64, -1);
    const int32_t width = int32_t(state.range(0));
    const int32_t cx = width / 2, cy = int32_t(state.range(1)) / 2;
    // The rotation's own mapping, worked out once per destination pixel.
    const int64_t c = int32_t(std::cos(-0.5f) * 1024.0f), s = int32_t(std::sin(-0.5f) * 1024.0f);
    const int64_t e = ((64 << 9) - c * cx - s * cy) << 6, f = (s * cx - c * cy + (64 << 9)) << 6;
    std::vector<uint32_t> to, from;
    for (int64_t y = cy - 46; y < cy + 46; ++y)
        for (int64_t x = cx - 46; x < cx + 46; ++x) {
            const int64_t sx = (c * (64 * x + 32) + s * (64 * y + 32) + e) >> 16;
            const int64_t sy = (-s * (64 * x + 32) + c * (64 * y + 32) + f) >> 16;
            if (sx < 0 || sy < 0 || sx >= 64 || sy >= 64) continue;
            to.push_back(uint32_t(y * (frame.surface->buffer->pitch / 2) + x));
            from.push_back(uint32_t(sy * 64 + sx));
        }
    const auto* sourcePixels = reinterpret_cast<const uint16_t*>(source->buffer->bits);
    auto* pixels = reinterpret_cast<uint16_t*>(frame.surface->buffer->bits);
    for (auto _ : state) {
        for (size_t i = 0; i < to.size(); ++i) pixels[to[i]] = sourcePixels[from[i]];
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(to.size()));
    FreeSurface(source);
}
BENCHMARK(BM_GatherRotated64)->Apply(FrameSizes);

}  // namespace
