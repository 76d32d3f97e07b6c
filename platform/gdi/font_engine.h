// platform/gdi/font_engine.h
// Glyphs from the font files through FreeType, which is loaded on first use
// (not linked, so that programs without text never load it), with a cache
// of rendered glyphs per face and size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi.h"

namespace qob::platform::gdi {

// One rendered glyph: coverage 0..255 per pixel, rows top down, placed
// relative to the pen position on the baseline. Each row of coverage holds
// stride bytes: the width rounded up to a multiple of kGlyphRowAlignment,
// padded with 0.
constexpr int kGlyphRowAlignment = 4;
struct Glyph {
    int left = 0;     // from the pen to the bitmap's first column
    int top = 0;      // from the baseline up to the bitmap's first row
    int width = 0;
    int rows = 0;
    int stride = 0;
    int advance = 0;  // whole pixels to the next pen position
    std::vector<uint8_t> coverage;
};

// The vertical design metrics of a font file, for turning a cell height
// into a character height.
struct FileMetrics {
    int unitsPerEm = 0;
    int ascender = 0;   // design units above the baseline
    int descender = 0;  // design units below it (positive)
};

// A face at one pixel size (one font file, one drawing mode).
class Strike {
public:
    virtual ~Strike() = default;
    int ascent = 0;   // whole pixels above the baseline
    int descent = 0;  // whole pixels below it
    int averageWidth = 0;
    int maxWidth = 0;
    // The glyph of a code point (the file's missing-glyph box when it has
    // none), valid until the next call on this strike.
    [[nodiscard]] virtual const Glyph& GlyphFor(char32_t code) = 0;
};

// One pixel of a glyph in the colour pixel over old at coverage a (0..255):
// each channel becomes (colour * a + old * (255 - a) + 127) / 255, and the
// pixel is old itself where a is 0. Red and blue share one multiply in two
// 16-bit lanes; x / 255 is (x + 1 + (x >> 8)) >> 8 for every x the rule can
// reach (at most 255 * 255 + 127), with no carry between the lanes. No
// branch on the coverage, whose values vary from pixel to pixel.
[[nodiscard]] inline uint32_t BlendCoverage(uint32_t old, uint32_t pixel, uint32_t a) {
    const uint32_t rest = 255 - a;
    uint32_t redBlue = (pixel & 0xFF00FFu) * a + (old & 0xFF00FFu) * rest + 0x7F007Fu;
    redBlue = ((redBlue + ((redBlue >> 8) & 0xFF00FFu) + 0x10001u) >> 8) & 0xFF00FFu;
    uint32_t green = (pixel >> 8 & 0xFFu) * a + (old >> 8 & 0xFFu) * rest + 127u;
    green = (green + (green >> 8) + 1u) >> 8;
    const uint32_t blended = redBlue | green << 8;
    return a == 0 ? old : blended;
}

// BlendCoverage over a row of count pixels, four at a time where it can.
void BlendCoverageRow(uint32_t* out, const uint8_t* coverage, int count, uint32_t pixel);

// The strike for a font's face, or null when the font file or the font
// library cannot be loaded (each is reported once on standard error).
[[nodiscard]] Strike* StrikeFor(const FontFace& face);

// The metrics of a font file; nullopt when it cannot be read.
[[nodiscard]] std::optional<FileMetrics> MetricsOfFile(const std::string& file);

// Drops every cached face and glyph.
void ClearFontCache();

}  // namespace qob::platform::gdi
