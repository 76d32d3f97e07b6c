// platform/gdi/text.cpp
// Text on a DC: drawing a run of characters in the selected font (glyph
// coverage blended over the surface), measuring runs, font metrics, and
// the line layout of DrawTextW.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/gdi/font_engine.h"
#include "platform/gdi/gdi_objects.h"

namespace qob::platform {

namespace gdi {

namespace {

// The body of BlendCoverageRow, inlined into the glyph loop so that its
// constants are made once per glyph rather than once per row.
[[gnu::always_inline]] inline void BlendRow(uint32_t* out, const uint8_t* coverage, int count, uint32_t pixel) {
    int x = 0;
#if defined(__SSE2__)
    // Each channel in a 16-bit lane, the rule's sums staying below 2^16.
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255), half = _mm_set1_epi16(127);
    const __m128i reciprocal = _mm_set1_epi16(static_cast<short>(0x8081));  // x / 255 = (x * 0x8081) >> 23
    const __m128i colour = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(pixel)), zero);
    const __m128i noTopByte = _mm_set1_epi32(0x00FFFFFF);
    const auto half4 = [&](__m128i old, __m128i a) {
        __m128i sum = _mm_add_epi16(_mm_mullo_epi16(colour, a), _mm_mullo_epi16(old, _mm_sub_epi16(full, a)));
        sum = _mm_add_epi16(sum, half);
        return _mm_srli_epi16(_mm_mulhi_epu16(sum, reciprocal), 7);
    };
    // Up to four pixels in old, their coverages in the low bytes of levels.
    const auto blend = [&](__m128i old, uint32_t levels) {
        __m128i a = _mm_cvtsi32_si128(static_cast<int>(levels));
        a = _mm_unpacklo_epi8(a, a);
        a = _mm_unpacklo_epi16(a, a);  // each pixel's coverage in its four bytes
        const __m128i low = half4(_mm_unpacklo_epi8(old, zero), _mm_unpacklo_epi8(a, zero));
        const __m128i high = half4(_mm_unpackhi_epi8(old, zero), _mm_unpackhi_epi8(a, zero));
        const __m128i blended = _mm_and_si128(_mm_packus_epi16(low, high), noTopByte);
        const __m128i untouched = _mm_cmpeq_epi32(a, zero);
        return _mm_or_si128(_mm_and_si128(untouched, old), _mm_andnot_si128(untouched, blended));
    };
    for (; x + 4 <= count; x += 4) {
        uint32_t levels;
        std::memcpy(&levels, coverage + x, 4);
        auto* at = reinterpret_cast<__m128i*>(out + x);
        _mm_storeu_si128(at, blend(_mm_loadu_si128(at), levels));
    }
    if (x + 2 <= count) {
        auto* at = reinterpret_cast<__m128i*>(out + x);
        _mm_storel_epi64(at, blend(_mm_loadl_epi64(at), uint32_t{coverage[x]} | uint32_t{coverage[x + 1]} << 8));
        x += 2;
    }
    if (x < count) {
        out[x] = static_cast<uint32_t>(_mm_cvtsi128_si32(blend(_mm_cvtsi32_si128(static_cast<int>(out[x])), coverage[x])));
        ++x;
    }
#endif
    for (; x < count; ++x) out[x] = BlendCoverage(out[x], pixel, coverage[x]);
}

}  // namespace

void BlendCoverageRow(uint32_t* out, const uint8_t* coverage, int count, uint32_t pixel) {
    BlendRow(out, coverage, count, pixel);
}

}  // namespace gdi

using namespace gdi;

namespace {

constexpr int kTabColumns = 8;

// What text is laid out with: the strike when the font file could be read,
// else estimates from the character height so that layouts keep their
// shape while no text is drawn.
struct TextFont {
    const Font* font;
    Strike* strike;
    int ascent;
    int descent;
    int averageWidth;
    int maxWidth;

    explicit TextFont(const Font& selected) : font(&selected), strike(StrikeFor(selected.face)) {
        const int em = selected.face.pixelHeight;
        if (strike) {
            ascent = strike->ascent;
            descent = strike->descent;
            averageWidth = strike->averageWidth;
            maxWidth = strike->maxWidth;
        } else {
            ascent = em;
            descent = (em + 3) / 4;
            averageWidth = std::max(1, em / 2);
            maxWidth = em;
        }
    }

    int Height() const { return ascent + descent; }

    // Control characters take no room and draw nothing.
    int Advance(char32_t code) const {
        if (code < 0x20) return 0;
        return strike ? strike->GlyphFor(code).advance : averageWidth;
    }
};

// One character of a run: its code point and where it starts in the text.
struct Character {
    char32_t code;
    int unit;  // index of its first UTF-16 unit
};

std::vector<Character> Decode(const char16_t* text, int count) {
    std::vector<Character> out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            out.push_back({0x10000 + ((char32_t{c} - 0xD800) << 10) + (text[i + 1] - 0xDC00), i});
            ++i;
        } else {
            out.push_back({c >= 0xD800 && c < 0xE000 ? char32_t{0xFFFD} : char32_t{c}, i});
        }
    }
    return out;
}

// Blends one glyph's coverage in the colour over the surface, inside clip:
// each channel becomes (colour * a + old * (255 - a) + 127) / 255.
void BlendGlyph(Surface32& surface, const RECT& clip, const Glyph& glyph, int penX, int baselineY, uint32_t pixel) {
    const int left = penX + glyph.left, top = baselineY - glyph.top;
    const int x0 = std::max(left, clip.left), x1 = std::min(left + glyph.width, clip.right);
    const int y0 = std::max(top, clip.top), y1 = std::min(top + glyph.rows, clip.bottom);
    // A glyph whole across and with room for its padded rows inside the clip
    // is blended a padded row at a time, the padding (coverage 0) leaving
    // its pixels as they are.
    const bool wholeRows = x0 == left && x1 == left + glyph.width && left + glyph.stride <= clip.right;
    const int count = wholeRows ? glyph.stride : x1 - x0;
    for (int y = y0; y < y1; ++y) {
        const uint8_t* coverage = &glyph.coverage[static_cast<size_t>(y - top) * glyph.stride + (x0 - left)];
        uint32_t* out = surface.pixels + static_cast<ptrdiff_t>(y) * surface.stride + x0;
        BlendRow(out, coverage, count, pixel);
    }
}

// Fills the surface rectangle (64-bit coordinates) inside clip.
void FillClipped(Surface32& surface, const RECT& clip, int64_t left, int64_t top, int64_t right, int64_t bottom,
                 uint32_t pixel) {
    const RECT target = Intersect(RECT{ClampCoordinate(left), ClampCoordinate(top), ClampCoordinate(right),
                                       ClampCoordinate(bottom)},
                                  clip);
    if (!IsEmpty(target)) FillSurfaceRect(surface, target, pixel);
}

// A run drawn at logical (x, y) (the top of its cells); clip is in surface
// coordinates. advances, when given, replace the characters' own (indexed
// by UTF-16 unit). underlined, when not -1, is one character to underline
// on its own (a DrawTextW prefix).
void DrawRun(const DeviceContext& dc, const Canvas& canvas, const TextFont& font, const std::vector<Character>& run,
             int x, int y, const RECT& clip, const int* advances, int underlined = -1) {
    Surface32& surface = *canvas.surface;
    const int64_t left = int64_t{x} + canvas.originX, top = int64_t{y} + canvas.originY;
    std::vector<int64_t> starts(run.size() + 1);  // pen positions on the surface
    starts[0] = left;
    for (size_t i = 0; i < run.size(); ++i)
        starts[i + 1] = starts[i] + (advances ? advances[run[i].unit] : font.Advance(run[i].code));
    const int64_t right = starts.back();
    if (dc.backMode == OPAQUE) FillClipped(surface, clip, left, top, right, top + font.Height(), PixelFromColor(dc.backColor));
    if (!font.strike) return;
    const uint32_t pixel = PixelFromColor(dc.textColor);
    const int64_t baseline = top + font.ascent;
    if (baseline - font.ascent - font.maxWidth >= clip.bottom || baseline + font.descent + font.maxWidth < clip.top) return;
    for (size_t i = 0; i < run.size(); ++i) {
        // Glyphs reach at most a few cells past their pen position.
        if (starts[i] + 4 * font.maxWidth < clip.left || run[i].code < 0x20) continue;
        if (starts[i] - 4 * font.maxWidth >= clip.right) break;
        BlendGlyph(surface, clip, font.strike->GlyphFor(run[i].code), static_cast<int>(starts[i]),
                   static_cast<int>(baseline), pixel);
    }
    const int em = font.font->face.pixelHeight;
    const int thickness = std::max(1, (em + 7) / 14);
    const int64_t underlineTop = baseline + std::max(1, font.descent / 3);
    if (font.font->underline) FillClipped(surface, clip, left, underlineTop, right, underlineTop + thickness, pixel);
    if (font.font->strikeOut) {
        const int64_t strikeTop = baseline - font.ascent * 3 / 10;
        FillClipped(surface, clip, left, strikeTop, right, strikeTop + thickness, pixel);
    }
    if (underlined >= 0 && static_cast<size_t>(underlined) < run.size())
        FillClipped(surface, clip, starts[underlined], underlineTop, starts[underlined + 1], underlineTop + thickness, pixel);
}

// ---- DrawTextW layout ----

struct Line {
    std::vector<Character> characters;
    int underlined = -1;
    int64_t width = 0;
};

// The text with "&" prefixes taken out ("&&" is one "&") and line breaks
// made '\n' (CR, LF and CR LF alike); marked receives, in ascending order,
// the index of each character a prefix marks.
std::vector<Character> StripPrefixes(const std::vector<Character>& text, bool prefixes, std::vector<int>* marked) {
    std::vector<Character> out;
    for (size_t i = 0; i < text.size(); ++i) {
        Character c = text[i];
        if (c.code == U'\r') {
            if (i + 1 < text.size() && text[i + 1].code == U'\n') ++i;
            c.code = U'\n';
        } else if (prefixes && c.code == U'&' && i + 1 < text.size()) {
            c = text[++i];
            if (c.code != U'&') marked->push_back(static_cast<int>(out.size()));
        }
        out.push_back(c);
    }
    return out;
}

// Splits into lines at line breaks (unless single-line) and, with word
// breaks, before a word that would pass width; tabs become room up to the
// next stop.
std::vector<Line> LayOut(const TextFont& font, const std::vector<Character>& text, const std::vector<int>& marked,
                         uint32_t format, int width) {
    const bool singleLine = format & DT_SINGLELINE;
    const bool wrap = (format & DT_WORDBREAK) && !singleLine;
    const int tabStop = kTabColumns * font.averageWidth;
    std::vector<Line> lines(1);
    auto advanceOf = [&](const Line& line, char32_t code) {
        if (code == U'\t' && (format & DT_EXPANDTABS) && tabStop > 0) return tabStop - line.width % tabStop;
        return int64_t{font.Advance(code)};
    };
    size_t lastBreak = 0;  // in the current line: index after the last space, 0 for none
    size_t nextMark = 0;   // marked is in ascending order
    for (size_t i = 0; i < text.size(); ++i) {
        Line* line = &lines.back();
        const char32_t code = text[i].code;
        if (code == U'\n') {
            if (singleLine) continue;
            lines.emplace_back();
            lastBreak = 0;
            continue;
        }
        const int64_t advance = advanceOf(*line, code);
        if (wrap && code != U' ' && line->width + advance > width && lastBreak > 0) {
            // Move the word after the last space to a new line; the spaces
            // at the break are dropped.
            Line next;
            next.characters.assign(line->characters.begin() + static_cast<ptrdiff_t>(lastBreak), line->characters.end());
            if (line->underlined >= static_cast<int>(lastBreak)) {
                next.underlined = line->underlined - static_cast<int>(lastBreak);
                line->underlined = -1;
            }
            line->characters.resize(lastBreak);
            while (!line->characters.empty() && line->characters.back().code == U' ') line->characters.pop_back();
            if (line->underlined >= static_cast<int>(line->characters.size())) line->underlined = -1;
            line->width = 0;
            for (const Character& c : line->characters) line->width += advanceOf(*line, c.code);
            lines.push_back(std::move(next));
            lastBreak = 0;
            line = &lines.back();
            for (const Character& c : line->characters) line->width += advanceOf(*line, c.code);
        }
        while (nextMark < marked.size() && marked[nextMark] < static_cast<int>(i)) ++nextMark;
        if (nextMark < marked.size() && marked[nextMark] == static_cast<int>(i))
            line->underlined = static_cast<int>(line->characters.size());
        line->characters.push_back(text[i]);
        line->width += advanceOf(*line, code);
        if (code == U' ') lastBreak = line->characters.size();
    }
    return lines;
}

}  // namespace

bool ExtTextOutW(HDC handle, int x, int y, uint32_t options, const RECT* rect, const char16_t* text, uint32_t count,
                 const int* advances) {
    const DeviceContext* dc = LookUpDC(handle);
    if (!dc || (!text && count > 0)) return false;
    Canvas canvas;
    if (!CanvasOf(*dc, &canvas)) return true;
    RECT clip = canvas.clip;
    if (rect) {
        const RECT area = OnSurface(canvas, rect->left, rect->top, rect->right, rect->bottom);
        if (options & ETO_OPAQUE) FillClipped(*canvas.surface, clip, area.left, area.top, area.right, area.bottom,
                                              PixelFromColor(dc->backColor));
        if (options & ETO_CLIPPED) clip = Intersect(clip, area);
    }
    if (count == 0 || IsEmpty(clip)) return true;
    const TextFont font(SelectedFont(*dc));
    DrawRun(*dc, canvas, font, Decode(text, static_cast<int>(count)), x, y, clip, advances);
    return true;
}

bool GetTextExtentPoint32W(HDC dc, const char16_t* text, int count, SIZE* size) {
    return GetTextExtentExPointW(dc, text, count, 0, nullptr, nullptr, size);
}

bool GetTextExtentExPointW(HDC handle, const char16_t* text, int count, int maxExtent, int* fit, int* extents,
                           SIZE* size) {
    const DeviceContext* dc = LookUpDC(handle);
    if (!dc || count < 0 || (!text && count > 0)) return false;
    const TextFont font(SelectedFont(*dc));
    int64_t width = 0;
    int fitting = 0;
    for (const Character& c : Decode(text, count)) {
        width += font.Advance(c.code);
        const int extent = static_cast<int>(std::min<int64_t>(width, INT32_MAX));
        if (width <= maxExtent) fitting = c.unit + (c.code >= 0x10000 ? 2 : 1);
        if (extents) {
            extents[c.unit] = extent;
            if (c.code >= 0x10000) extents[c.unit + 1] = extent;
        }
    }
    if (fit) *fit = fitting;
    if (size) *size = {static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX)), font.Height()};
    return true;
}

bool GetTextMetricsW(HDC handle, TEXTMETRICW* metrics) {
    const DeviceContext* dc = LookUpDC(handle);
    if (!dc || !metrics) return false;
    const Font& selected = SelectedFont(*dc);
    const TextFont font(selected);
    const LOGFONTW& description = selected.description;
    const bool fixed = selected.face.file.find("Mono") != std::string::npos;
    const bool serif = selected.face.file.find("Serif") != std::string::npos;
    *metrics = {};
    metrics->tmHeight = font.Height();
    metrics->tmAscent = font.ascent;
    metrics->tmDescent = font.descent;
    metrics->tmInternalLeading = std::max(0, font.Height() - selected.face.pixelHeight);
    metrics->tmAveCharWidth = font.averageWidth;
    metrics->tmMaxCharWidth = font.maxWidth;
    metrics->tmWeight = selected.face.file.find("-Bold") != std::string::npos ? FW_BOLD : FW_NORMAL;
    metrics->tmDigitizedAspectX = ScreenDpi();
    metrics->tmDigitizedAspectY = ScreenDpi();
    metrics->tmFirstChar = u' ';
    metrics->tmLastChar = u'\xFFFC';
    metrics->tmDefaultChar = u'?';
    metrics->tmBreakChar = u' ';
    metrics->tmItalic = description.lfItalic ? 1 : 0;
    metrics->tmUnderlined = description.lfUnderline ? 1 : 0;
    metrics->tmStruckOut = description.lfStrikeOut ? 1 : 0;
    metrics->tmPitchAndFamily = static_cast<uint8_t>((fixed ? FF_MODERN : serif ? FF_ROMAN : FF_SWISS) | (fixed ? 0 : 1));
    metrics->tmCharSet = description.lfCharSet;
    return true;
}

int DrawTextW(HDC handle, const char16_t* text, int count, RECT* rect, uint32_t format) {
    const DeviceContext* dc = LookUpDC(handle);
    if (!dc || !rect || (!text && count != 0)) return 0;
    if (count < 0) {
        count = 0;
        while (text[count] != 0) ++count;
    }
    const TextFont font(SelectedFont(*dc));
    std::vector<int> marked;
    const std::vector<Character> stripped = StripPrefixes(Decode(text, count), !(format & DT_NOPREFIX), &marked);
    const int64_t boxWidth = int64_t{rect->right} - rect->left, boxHeight = int64_t{rect->bottom} - rect->top;
    const std::vector<Line> lines = LayOut(font, stripped, marked, format, ClampCoordinate(boxWidth));
    const int lineHeight = font.Height();
    const int height = lineHeight * static_cast<int>(lines.size());
    if (format & DT_CALCRECT) {
        int64_t widest = 0;
        for (const Line& line : lines) widest = std::max(widest, line.width);
        rect->right = ClampCoordinate(int64_t{rect->left} + widest);
        rect->bottom = ClampCoordinate(int64_t{rect->top} + height);
        return height;
    }
    Canvas canvas;
    if (!CanvasOf(*dc, &canvas)) return height;
    RECT clip = canvas.clip;
    if (!(format & DT_NOCLIP)) clip = Intersect(clip, OnSurface(canvas, rect->left, rect->top, rect->right, rect->bottom));
    int64_t y = rect->top;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER) y = rect->top + (boxHeight - lineHeight) / 2;
        else if (format & DT_BOTTOM) y = int64_t{rect->bottom} - lineHeight;
    }
    for (const Line& line : lines) {
        int64_t x = rect->left;
        if (format & DT_CENTER) x = rect->left + (boxWidth - line.width) / 2;
        else if (format & DT_RIGHT) x = int64_t{rect->right} - line.width;
        // Tabs are drawn as room: each one's advance replaces its glyph's.
        std::vector<int> advances;
        const bool tabs = (format & DT_EXPANDTABS) &&
                          std::any_of(line.characters.begin(), line.characters.end(), [](const Character& c) { return c.code == U'\t'; });
        std::vector<Character> run = line.characters;
        if (tabs) {
            int64_t at = 0;
            const int tabStop = kTabColumns * font.averageWidth;
            for (size_t i = 0; i < run.size(); ++i) {
                const int advance = run[i].code == U'\t' && tabStop > 0 ? static_cast<int>(tabStop - at % tabStop)
                                                                        : font.Advance(run[i].code);
                advances.push_back(advance);
                run[i].unit = static_cast<int>(i);
                at += advance;
            }
        }
        DrawRun(*dc, canvas, font, run, ClampCoordinate(x), ClampCoordinate(y), clip, tabs ? advances.data() : nullptr,
                line.underlined);
        y += lineHeight;
    }
    return height;
}

}  // namespace qob::platform
