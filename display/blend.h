// display/blend.h
// The RGB565 blend arithmetic of the alpha operator and of masked blends.
#pragma once

#include <cstdint>

namespace qob {

// s over d at level 0..255 (in use 0..251). Red and blue share one multiply,
// so a borrow from blue into red is kept as it falls; signed arithmetic with
// arithmetic shifts.
[[nodiscard]] constexpr uint16_t Blend(uint16_t source, uint16_t destination, int32_t level) {
    const int32_t s = source, d = destination;
    const int32_t rb = (d & 0xF81F) + ((((s & 0xF81F) - (d & 0xF81F)) * (level >> 3)) >> 5);
    const int32_t g = (d & 0x07E0) + ((((s & 0x07E0) - (d & 0x07E0)) * (level >> 2)) >> 6);
    return static_cast<uint16_t>((g & 0x07E0) | (rb & 0xF81F));
}

// The 32-bit spread of a pixel: green moved to bits 21-26, so that one
// multiply blends all three channels.
[[nodiscard]] constexpr uint32_t SpreadPixel(uint16_t pixel) {
    return (pixel & 0xF81Fu) | (static_cast<uint32_t>(pixel & 0x07E0u) << 16);
}

// s over d by a weight m in 1/32 (0..31; 31 gives 31/32 of the source).
// Computed in uint32: only bits 0-26 reach the result, and those are the same
// as in the signed form, whose product would overflow.
[[nodiscard]] constexpr uint16_t BlendByWeight(uint16_t source, uint16_t destination, uint32_t weight) {
    const uint32_t s = SpreadPixel(source), d = SpreadPixel(destination);
    const uint32_t r = d + (((s - d) * weight) >> 5);
    return static_cast<uint16_t>((r & 0xF81Fu) | ((r & 0x07E0F81Fu) >> 16));
}

// The weight a mask pixel gives: the upper five bits of its green field.
[[nodiscard]] constexpr uint32_t MaskWeight(uint16_t mask) { return (mask >> 6) & 31u; }

}  // namespace qob
