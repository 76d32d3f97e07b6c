// display/images/image_sink.h
// Where a picture decoder puts its pixels: it announces the picture's size,
// then fills whole RGB565 rows one at a time, in any order.
#pragma once

#include <cstdint>

namespace qob {

class ImageSink {
public:
    virtual ~ImageSink() = default;

    // The picture's size, announced once, before the decoder allocates
    // anything that grows with it. False refuses the picture (an empty or
    // too large size, no memory): the decoder then stops and reports failure.
    [[nodiscard]] virtual bool Start(int32_t width, int32_t height) = 0;

    // Row y (0 at the top, below the announced height) for the decoder to
    // fill whole: width pixels. A row never asked for stays black.
    [[nodiscard]] virtual uint16_t* Row(int32_t y) = 0;
};

// What a decoder made of its bytes: nothing (no picture, refused, or an
// error before the first row), or a picture whose rows not decoded (when the
// data was damaged or cut short part way) are black.
enum class DecodeOutcome { Failed, Decoded };

// 8-bit channels to RGB565 by truncation, as a 16-bit device bitmap takes
// them; no dithering.
[[nodiscard]] constexpr uint16_t PackRgb565(uint32_t red, uint32_t green, uint32_t blue) {
    return static_cast<uint16_t>(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

// A channel composited over black: value x alpha / 255, rounded.
[[nodiscard]] constexpr uint32_t OverBlack(uint32_t value, uint32_t alpha) {
    const uint32_t product = value * alpha + 128;
    return (product + (product >> 8)) >> 8;
}

// Rows of RGB, BGR or RGBA bytes to RGB565; RGBA pixels are composited
// over black.
void ConvertRgbRow(const uint8_t* rgb, uint16_t* row, int32_t width);
void ConvertBgrRow(const uint8_t* bgr, uint16_t* row, int32_t width);
void ConvertRgbaRow(const uint8_t* rgba, uint16_t* row, int32_t width);

}  // namespace qob
