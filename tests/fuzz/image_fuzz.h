// tests/fuzz/image_fuzz.h
// The shape of the picture targets: one decoder over the input, into a sink
// that checks the decoder's calls and gives each row as a block of exactly
// its width (so a write past a row's end is caught); then, for small
// pictures, the same bytes through ImageToSurface, whose surface must hold
// the same pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "display/images/image_decoding.h"
#include "display/images/image_sink.h"
#include "platform/memory.h"

namespace qob::fuzz {

// Pictures above this many pixels are refused, as the surface cap refuses
// larger ones: the code path is the same, and fuzzing stays fast.
constexpr int64_t kMostFuzzPixels = int64_t{1} << 22;

class CheckingSink final : public ImageSink {
public:
    bool Start(int32_t w, int32_t h) override {
        if (started) __builtin_trap();  // announced twice
        started = true;
        if (w <= 0 || h <= 0 || int64_t{w} * h > kMostFuzzPixels) return false;
        width = w;
        height = h;
        rows.resize(size_t(h));
        return true;
    }
    uint16_t* Row(int32_t y) override {
        if (width == 0 || y < 0 || y >= height) __builtin_trap();  // no picture, or a row outside it
        if (!rows[size_t(y)]) rows[size_t(y)] = std::make_unique<uint16_t[]>(size_t(width));
        return rows[size_t(y)].get();
    }

    bool started = false;
    int32_t width = 0, height = 0;
    std::vector<std::unique_ptr<uint16_t[]>> rows;
};

template <class Decoder>
int FuzzImageDecoder(const uint8_t* data, size_t size, Decoder decode) {
    const std::span<const uint8_t> bytes(data, size);
    CheckingSink sink;
    const DecodeOutcome outcome = decode(bytes, sink);
    if (outcome != DecodeOutcome::Decoded || int64_t{sink.width} * sink.height > 65536) return 0;
    bool anyRow = false;
    for (const auto& row : sink.rows) anyRow = anyRow || row != nullptr;
    if (!anyRow) __builtin_trap();  // a picture claimed with no row decoded

    PixelSurface* surface = ImageToSurface(bytes);
    if (surface == nullptr || surface->buffer->width != sink.width || surface->buffer->height != sink.height)
        __builtin_trap();
    for (int32_t y = 0; y < sink.height; ++y) {
        const uint16_t* expected = sink.rows[size_t(y)].get();
        const uint16_t* actual = PixelRow(*surface->buffer, y);
        for (int32_t x = 0; x < sink.width; ++x)
            if (actual[x] != (expected ? expected[x] : 0)) __builtin_trap();  // rows not given are black
    }
    SurfaceRelease(surface);
    platform::FreeBlock(surface);
    return 0;
}

}  // namespace qob::fuzz
