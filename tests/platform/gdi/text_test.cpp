// tests/platform/gdi/text_test.cpp
// Text against a reference drawn here with FreeType directly: the same font
// file and pixel size, each glyph rendered and placed by the stated rule
// (pen from x, baseline at y plus the size's ascender rounded up, each glyph
// at the pen plus its left bearing and its top above the baseline, the pen
// moving by the rounded advance) and blended by this file's own loop. Also
// the face chosen for a LOGFONTW, measuring, DrawTextW's layout and a
// missing font file.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <random>
#include <vector>
#include <string>

#include "gdi_test_support.h"
#include "platform/gdi/font_engine.h"

namespace qob::platform {
namespace {

using testing::PatternPixel;
using testing::TestDC;
using testing::TestSurface;

// The background the text tests draw over: a smooth gradient, so blending
// over every shade is checked.
void FillGradient(TestSurface& target) {
    for (int y = 0; y < target.surface.height; ++y)
        for (int x = 0; x < target.surface.stride; ++x)
            target.At(x, y) = static_cast<uint32_t>((x * 5 & 0xFF) << 16 | (y * 9 & 0xFF) << 8 | ((x + y) * 3 & 0xFF));
}

LOGFONTW MakeFont(int height, const char16_t* face = u"", int weight = FW_NORMAL, bool italic = false,
                  uint8_t quality = 0, uint8_t pitchAndFamily = 0) {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfItalic = italic;
    font.lfQuality = quality;
    font.lfPitchAndFamily = pitchAndFamily;
    for (int i = 0; face[i] != 0 && i < LF_FACESIZE - 1; ++i) font.lfFaceName[i] = face[i];
    return font;
}

// The reference: FreeType called directly.
class Reference {
public:
    explicit Reference(const FontFace& face) {
        EXPECT_EQ(FT_Init_FreeType(&library), 0);
        ok = FT_New_Face(library, face.file.c_str(), 0, &ftFace) == 0;
        EXPECT_TRUE(ok) << face.file;
        if (!ok) return;
        FT_Set_Pixel_Sizes(ftFace, 0, static_cast<FT_UInt>(face.pixelHeight));
        if (face.oblique) {
            FT_Matrix shear{0x10000, 0x3333, 0, 0x10000};  // x += 0.2 y
            FT_Set_Transform(ftFace, &shear, nullptr);
        }
        monochrome = face.monochrome;
        ascent = static_cast<int>((ftFace->size->metrics.ascender + 63) >> 6);
        descent = static_cast<int>((-ftFace->size->metrics.descender + 63) >> 6);
    }
    ~Reference() {
        if (ftFace) FT_Done_Face(ftFace);
        FT_Done_FreeType(library);
    }

    int Advance(char32_t code) {
        FT_Load_Char(ftFace, code, LoadFlags());
        return static_cast<int>((ftFace->glyph->advance.x + 32) >> 6);
    }

    int Width(std::u32string_view text) {
        int width = 0;
        for (char32_t c : text) width += Advance(c);
        return width;
    }

    // Draws the text with its cell's top-left at surface (x, y).
    void Draw(TestSurface& target, std::u32string_view text, int x, int y, uint32_t pixel) {
        const int baseline = y + ascent;
        for (char32_t c : text) {
            ASSERT_EQ(FT_Load_Char(ftFace, c, LoadFlags() | FT_LOAD_RENDER), 0);
            const FT_GlyphSlot slot = ftFace->glyph;
            const FT_Bitmap& bitmap = slot->bitmap;
            for (int row = 0; row < static_cast<int>(bitmap.rows); ++row)
                for (int column = 0; column < static_cast<int>(bitmap.width); ++column) {
                    const int px = x + slot->bitmap_left + column, py = baseline - slot->bitmap_top + row;
                    if (px < 0 || py < 0 || px >= target.surface.width || py >= target.surface.height) continue;
                    const unsigned char* line = bitmap.buffer + row * bitmap.pitch;
                    const uint32_t a = monochrome ? ((line[column / 8] >> (7 - column % 8)) & 1) * 255 : line[column];
                    uint32_t& out = target.At(px, py);
                    uint32_t blended = 0;
                    for (int shift : {16, 8, 0}) {
                        const uint32_t channel = ((pixel >> shift & 0xFF) * a + (out >> shift & 0xFF) * (255 - a) + 127) / 255;
                        blended |= channel << shift;
                    }
                    out = blended;
                }
            x += static_cast<int>((slot->advance.x + 32) >> 6);
        }
    }

    bool ok = false;
    int ascent = 0;
    int descent = 0;

private:
    FT_Int32 LoadFlags() const { return monochrome ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL; }

    FT_Library library = nullptr;
    FT_Face ftFace = nullptr;
    bool monochrome = false;
};

int CountDifferences(TestSurface& a, TestSurface& b) {
    int differences = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) differences += a.pixels[i] != b.pixels[i];
    return differences;
}

std::u16string ToUtf16(std::u32string_view text) {
    std::u16string out;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

struct TextCase {
    const char* name;
    LOGFONTW font;
    std::u32string text;
    POINT at;
    COLORREF color;
};

TEST(GdiText, ExtTextOutEqualsFreeTypeBlendedByTheRule) {
    const TextCase cases[] = {
        {"default face", MakeFont(-12, u"MS Sans Serif"), U"Hello, World! 0123", {3, 4}, RGB(0, 0, 0)},
        {"bold", MakeFont(-16, u"", FW_BOLD), U"Bold text", {1, 2}, RGB(200, 30, 40)},
        {"fixed pitch", MakeFont(-13, u"", FW_NORMAL, false, 0, FIXED_PITCH), U"mono 1234", {0, 0}, RGB(0, 0, 255)},
        {"serif family", MakeFont(-14, u"", FW_NORMAL, false, 0, FF_ROMAN), U"Serif", {5, 5}, RGB(255, 255, 255)},
        {"oblique", MakeFont(-15, u"", FW_NORMAL, true), U"Leaning", {2, 1}, RGB(10, 120, 10)},
        {"monochrome", MakeFont(-12, u"", FW_NORMAL, false, NONANTIALIASED_QUALITY), U"Sharp", {4, 6}, RGB(0, 0, 0)},
        {"beyond ASCII", MakeFont(-12), U"Gr\u00fc\u00dfe \u20ac \U0001D400", {2, 3}, RGB(90, 0, 90)},
        {"off the top left", MakeFont(-20), U"Cut", {-6, -9}, RGB(0, 0, 0)},
        {"off the right", MakeFont(-20), U"Long line past the edge", {40, 8}, RGB(0, 0, 0)},
        {"positive height is the cell", MakeFont(17), U"Cell", {3, 3}, RGB(0, 0, 0)},
    };
    for (const TextCase& c : cases) {
        const HFONT font = CreateFontIndirectW(&c.font);
        FontFace face;
        ASSERT_TRUE(DescribeFont(font, &face)) << c.name;
        Reference reference(face);
        if (!reference.ok) continue;

        TestSurface drawn(120, 30), expected(120, 30);
        FillGradient(drawn);
        FillGradient(expected);
        TestDC dc(drawn);
        SelectObject(dc.dc, font);
        SetTextColor(dc.dc, c.color);
        SetBkMode(dc.dc, TRANSPARENT);
        const std::u16string text = ToUtf16(c.text);
        ASSERT_TRUE(ExtTextOutW(dc.dc, c.at.x, c.at.y, 0, nullptr, text.data(), static_cast<uint32_t>(text.size()), nullptr));
        reference.Draw(expected, c.text, c.at.x, c.at.y, PixelFromColor(c.color));
        EXPECT_EQ(CountDifferences(drawn, expected), 0) << c.name;
        TestSurface background(120, 30);
        FillGradient(background);
        EXPECT_GT(CountDifferences(drawn, background), 20) << c.name << ": the text shows";

        SIZE size{};
        ASSERT_TRUE(GetTextExtentPoint32W(dc.dc, text.data(), static_cast<int>(text.size()), &size));
        EXPECT_EQ(size.cx, reference.Width(c.text)) << c.name;
        EXPECT_EQ(size.cy, reference.ascent + reference.descent) << c.name;
        SelectObject(dc.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(font);
    }
}

// The row blend, four pixels at a time with a tail of one to three, against
// the rule channel by channel: every coverage from 0 to 255 over old pixels
// whose top byte is set, which coverage 0 keeps and any other clears.
TEST(GdiText, BlendingARowFollowsTheRuleForEveryCoverage) {
    std::mt19937 random(7);
    const auto rule = [](uint32_t old, uint32_t pixel, uint32_t a) {
        if (a == 0) return old;
        uint32_t blended = 0;
        for (int shift : {16, 8, 0}) {
            const uint32_t channel = ((pixel >> shift & 0xFF) * a + (old >> shift & 0xFF) * (255 - a) + 127) / 255;
            blended |= channel << shift;
        }
        return blended;
    };
    const uint32_t colours[] = {0x000000, 0xFFFFFF, 0x00FF00, 0xFF00FF, 0x7F8081, 0x123456};
    for (uint32_t pixel : colours)
        for (int count = 0; count <= 13; ++count)
            for (int round = 0; round < 40; ++round) {
                std::vector<uint8_t> coverage(static_cast<size_t>(count));
                std::vector<uint32_t> row(static_cast<size_t>(count)), expected(static_cast<size_t>(count));
                for (int i = 0; i < count; ++i) {
                    coverage[i] = static_cast<uint8_t>((round * 13 + i * 29 + count) % 256);
                    if (i % 5 == 0) coverage[i] = 0;
                    if (i % 7 == 3) coverage[i] = 255;
                    row[i] = static_cast<uint32_t>(random());
                    expected[i] = rule(row[i], pixel, coverage[i]);
                }
                gdi::BlendCoverageRow(row.data(), coverage.data(), count, pixel);
                ASSERT_EQ(row, expected) << "colour " << pixel << ", " << count << " pixels, round " << round;
            }
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t old : {0x00000000u, 0xFFFFFFFFu, 0x80402010u, 0x01FE7F80u})
            ASSERT_EQ(gdi::BlendCoverage(old, 0x3C5A96, a), rule(old, 0x3C5A96, a)) << a << " over " << old;
}

// Glyphs whose padded rows would pass the surface's right edge or the clip
// are blended only across their own width: the pixels equal the reference at
// every position up to the last column, with the surface exactly as wide as
// its rows (no slack past the last pixel) and the text over its bottom edge.
TEST(GdiText, GlyphsAtTheRightEdgeAreBlendedWithinIt) {
    const LOGFONTW description = MakeFont(-13);
    const HFONT font = CreateFontIndirectW(&description);
    FontFace face;
    ASSERT_TRUE(DescribeFont(font, &face));
    Reference reference(face);
    ASSERT_TRUE(reference.ok);
    for (int x = 18; x <= 37; ++x) {
        TestSurface drawn(37, 11), expected(37, 11);
        FillGradient(drawn);
        FillGradient(expected);
        TestDC dc(drawn);
        SelectObject(dc.dc, font);
        SetTextColor(dc.dc, RGB(20, 40, 220));
        SetBkMode(dc.dc, TRANSPARENT);
        ASSERT_TRUE(ExtTextOutW(dc.dc, x, 2, 0, nullptr, u"mWj", 3, nullptr));
        reference.Draw(expected, U"mWj", x, 2, PixelFromColor(RGB(20, 40, 220)));
        EXPECT_EQ(CountDifferences(drawn, expected), 0) << "at " << x;
        SelectObject(dc.dc, GetStockObject(SYSTEM_FONT));
    }
    // The same inside a clip rectangle: nothing changes past its right side.
    for (int right = 6; right <= 20; ++right) {
        TestSurface drawn(40, 16), expected(40, 16);
        FillGradient(drawn);
        FillGradient(expected);
        TestDC dc(drawn);
        SelectObject(dc.dc, font);
        SetBkMode(dc.dc, TRANSPARENT);
        const RECT clip{0, 0, right, 16};
        ASSERT_TRUE(ExtTextOutW(dc.dc, 1, 1, ETO_CLIPPED, &clip, u"mWjm", 4, nullptr));
        reference.Draw(expected, U"mWjm", 1, 1, PixelFromColor(RGB(0, 0, 0)));
        int differences = 0;
        for (int y = 0; y < 16; ++y)
            for (int column = 0; column < 40; ++column) {
                if (column < right) {
                    differences += drawn.At(column, y) != expected.At(column, y);
                } else {
                    TestSurface background(40, 16);
                    FillGradient(background);
                    differences += drawn.At(column, y) != background.At(column, y);
                }
            }
        EXPECT_EQ(differences, 0) << "clip right " << right;
        SelectObject(dc.dc, GetStockObject(SYSTEM_FONT));
    }
    DeleteObject(font);
}

TEST(GdiText, OpaqueModeFillsTheTextCellsFirst) {
    const LOGFONTW description = MakeFont(-12);
    const HFONT font = CreateFontIndirectW(&description);
    FontFace face;
    ASSERT_TRUE(DescribeFont(font, &face));
    Reference reference(face);
    ASSERT_TRUE(reference.ok);
    TestSurface drawn(80, 24), expected(80, 24);
    FillGradient(drawn);
    FillGradient(expected);
    TestDC dc(drawn);
    SelectObject(dc.dc, font);
    SetBkColor(dc.dc, SYS_COLOR_INDEX_FLAG | COLOR_INFOBK);
    const std::u16string text = u"Opaque";
    ASSERT_TRUE(ExtTextOutW(dc.dc, 4, 5, 0, nullptr, text.data(), 6, nullptr));

    const int width = reference.Width(U"Opaque");
    const uint32_t back = PixelFromColor(GetSysColor(COLOR_INFOBK));
    for (int y = 5; y < 5 + reference.ascent + reference.descent; ++y)
        for (int x = 4; x < 4 + width; ++x) expected.At(x, y) = back;
    reference.Draw(expected, U"Opaque", 4, 5, 0);
    EXPECT_EQ(CountDifferences(drawn, expected), 0);
    SelectObject(dc.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
}

TEST(GdiText, TheOpaqueAndClippedOptionsUseTheRectangle) {
    TestSurface drawn(60, 20), expected(60, 20);
    FillGradient(drawn);
    FillGradient(expected);
    TestDC dc(drawn, {2, 3}, {0, 0, 60, 20});
    SetBkMode(dc.dc, TRANSPARENT);
    SetBkColor(dc.dc, RGB(0, 0, 255));
    const RECT box{1, 1, 20, 9};
    const std::u16string text = u"Clipped words";
    ASSERT_TRUE(ExtTextOutW(dc.dc, 3, 0, ETO_OPAQUE | ETO_CLIPPED, &box, text.data(), 13, nullptr));

    // The same text drawn unclipped on a surface filled likewise, then
    // only the box copied: equal inside the box, untouched outside.
    TestSurface unclipped(60, 20);
    FillGradient(unclipped);
    for (int y = 4; y < 12; ++y)
        for (int x = 3; x < 22; ++x) unclipped.At(x, y) = 0x0000FF;
    TestDC other(unclipped, {2, 3}, {0, 0, 60, 20});
    SetBkMode(other.dc, TRANSPARENT);
    ASSERT_TRUE(ExtTextOutW(other.dc, 3, 0, 0, nullptr, text.data(), 13, nullptr));
    for (int y = 4; y < 12; ++y)
        for (int x = 3; x < 22; ++x) expected.At(x, y) = unclipped.At(x, y);
    EXPECT_EQ(CountDifferences(drawn, expected), 0);
}

TEST(GdiText, FacesForLogicalFonts) {
    const std::string folder = GetFontFolder() + "/";
    struct Case {
        const char* name;
        LOGFONTW font;
        const char* file;
        bool oblique;
        bool monochrome;
    };
    const Case cases[] = {
        {"the forms' default", MakeFont(-12, u"MS Sans Serif"), "DejaVuSans.ttf", false, false},
        {"no face", MakeFont(-12), "DejaVuSans.ttf", false, false},
        {"unknown face", MakeFont(-12, u"Qwerty Display"), "DejaVuSans.ttf", false, false},
        {"a mono name", MakeFont(-12, u"Courier"), "DejaVuSansMono.ttf", false, false},
        {"fixed pitch bits", MakeFont(-12, u"", FW_NORMAL, false, 0, FIXED_PITCH), "DejaVuSansMono.ttf", false, false},
        {"modern family", MakeFont(-12, u"", FW_NORMAL, false, 0, FF_MODERN), "DejaVuSansMono.ttf", false, false},
        {"a serif name", MakeFont(-12, u"Times Roman"), "DejaVuSerif.ttf", false, false},
        {"roman family", MakeFont(-12, u"", FW_NORMAL, false, 0, FF_ROMAN), "DejaVuSerif.ttf", false, false},
        {"a sans name beats the family", MakeFont(-12, u"Sans", FW_NORMAL, false, 0, FF_ROMAN), "DejaVuSans.ttf", false, false},
        {"weight 599", MakeFont(-12, u"", 599), "DejaVuSans.ttf", false, false},
        {"weight 600", MakeFont(-12, u"", 600), "DejaVuSans-Bold.ttf", false, false},
        {"bold mono", MakeFont(-12, u"Mono", FW_BOLD), "DejaVuSansMono-Bold.ttf", false, false},
        {"bold serif", MakeFont(-12, u"Serif", FW_BOLD), "DejaVuSerif-Bold.ttf", false, false},
        {"italic", MakeFont(-12, u"", FW_NORMAL, true), "DejaVuSans.ttf", true, false},
        {"no grey levels", MakeFont(-12, u"", FW_NORMAL, false, NONANTIALIASED_QUALITY), "DejaVuSans.ttf", false, true},
    };
    for (const Case& c : cases) {
        const HFONT font = CreateFontIndirectW(&c.font);
        FontFace face;
        ASSERT_TRUE(DescribeFont(font, &face)) << c.name;
        EXPECT_EQ(face.file, folder + c.file) << c.name;
        EXPECT_EQ(face.oblique, c.oblique) << c.name;
        EXPECT_EQ(face.monochrome, c.monochrome) << c.name;
        DeleteObject(font);
    }
}

TEST(GdiText, HeightsOfLogicalFonts) {
    // A positive height is the cell: ascender plus descender of the file.
    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face ftFace;
    ASSERT_EQ(FT_New_Face(library, (GetFontFolder() + "/DejaVuSans.ttf").c_str(), 0, &ftFace), 0);
    const double cellPerEm = static_cast<double>(ftFace->ascender - ftFace->descender) / ftFace->units_per_EM;
    FT_Done_Face(ftFace);
    FT_Done_FreeType(library);

    const int screenHeight = GetGdiScreenSize().cy;
    struct Case {
        int32_t height;
        int pixels;
    };
    const Case cases[] = {
        {-12, 12}, {-1, 1}, {0, 12}, {-screenHeight, screenHeight}, {-screenHeight - 1, screenHeight},
        {INT32_MIN, screenHeight}, {INT32_MAX, static_cast<int>(std::lround(screenHeight / cellPerEm))},
        {24, static_cast<int>(std::lround(24 / cellPerEm))}, {1, 1},
    };
    for (const Case& c : cases) {
        const LOGFONTW description = MakeFont(c.height);
        const HFONT font = CreateFontIndirectW(&description);
        FontFace face;
        ASSERT_TRUE(DescribeFont(font, &face));
        EXPECT_EQ(face.pixelHeight, c.pixels) << c.height;
        DeleteObject(font);
    }
}

TEST(GdiText, MetricsAgreeWithMeasuring) {
    TestSurface target(4, 4);
    TestDC dc(target);
    const LOGFONTW description = MakeFont(-18, u"", FW_BOLD);
    const HFONT font = CreateFontIndirectW(&description);
    SelectObject(dc.dc, font);
    TEXTMETRICW metrics{};
    ASSERT_TRUE(GetTextMetricsW(dc.dc, &metrics));
    EXPECT_EQ(metrics.tmHeight, metrics.tmAscent + metrics.tmDescent);
    EXPECT_GE(metrics.tmHeight, 18);
    EXPECT_EQ(metrics.tmInternalLeading, metrics.tmHeight - 18);
    EXPECT_EQ(metrics.tmWeight, FW_BOLD);
    EXPECT_EQ(metrics.tmPitchAndFamily & 1, 1);  // variable pitch
    SIZE x{};
    ASSERT_TRUE(GetTextExtentPoint32W(dc.dc, u"x", 1, &x));
    EXPECT_EQ(metrics.tmAveCharWidth, x.cx);
    EXPECT_EQ(x.cy, metrics.tmHeight);
    EXPECT_GE(metrics.tmMaxCharWidth, x.cx);

    // How much of a text fits, and the extent after each character.
    const std::u16string text = u"fit me";
    int extents[6] = {};
    int fit = -1;
    SIZE whole{};
    ASSERT_TRUE(GetTextExtentExPointW(dc.dc, text.data(), 6, 0, nullptr, extents, &whole));
    EXPECT_EQ(extents[5], whole.cx);
    for (int i = 1; i < 6; ++i) EXPECT_GT(extents[i], extents[i - 1]) << i;
    for (int limit : {0, extents[0] - 1, extents[0], extents[2] + 1, whole.cx, whole.cx + 100}) {
        ASSERT_TRUE(GetTextExtentExPointW(dc.dc, text.data(), 6, limit, &fit, nullptr, nullptr));
        int expected = 0;
        while (expected < 6 && extents[expected] <= limit) ++expected;
        EXPECT_EQ(fit, expected) << limit;
    }

    // A mono font: every character as wide as the next.
    const LOGFONTW monoDescription = MakeFont(-14, u"Mono");
    const HFONT mono = CreateFontIndirectW(&monoDescription);
    SelectObject(dc.dc, mono);
    SIZE narrow{}, wide{};
    GetTextExtentPoint32W(dc.dc, u"iiii", 4, &narrow);
    GetTextExtentPoint32W(dc.dc, u"WWWW", 4, &wide);
    EXPECT_EQ(narrow.cx, wide.cx);
    ASSERT_TRUE(GetTextMetricsW(dc.dc, &metrics));
    EXPECT_EQ(metrics.tmPitchAndFamily, FF_MODERN);
    SelectObject(dc.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
    DeleteObject(mono);
}

// DrawTextW against ExtTextOutW: each line of the expected layout drawn
// where the stated rule puts it, clipped to the rectangle.
void ExpectDrawTextLike(const char16_t* text, RECT rect, uint32_t format,
                        const std::vector<std::pair<std::u16string, POINT>>& lines, const char* what) {
    TestSurface drawn(100, 60), expected(100, 60);
    FillGradient(drawn);
    FillGradient(expected);
    TestDC dc(drawn), other(expected);
    for (HDC each : {dc.dc, other.dc}) {
        SetBkMode(each, TRANSPARENT);
        SetTextColor(each, RGB(0, 0, 0));
    }
    RECT box = rect;
    DrawTextW(dc.dc, text, -1, &box, format);
    for (const auto& [line, at] : lines)
        ExtTextOutW(other.dc, at.x, at.y, (format & DT_NOCLIP) ? 0u : uint32_t{ETO_CLIPPED}, &rect, line.data(),
                    static_cast<uint32_t>(line.size()), nullptr);
    EXPECT_EQ(CountDifferences(drawn, expected), 0) << what;
}

TEST(GdiText, DrawTextPlacesLinesByItsFormat) {
    TestSurface scratch(4, 4);
    TestDC measure(scratch);
    auto width = [&](const std::u16string& text) {
        SIZE size{};
        GetTextExtentPoint32W(measure.dc, text.data(), static_cast<int>(text.size()), &size);
        return static_cast<int>(size.cx);
    };
    TEXTMETRICW metrics{};
    GetTextMetricsW(measure.dc, &metrics);
    const int lineHeight = metrics.tmHeight;
    const RECT rect{5, 4, 95, 50};

    ExpectDrawTextLike(u"Top left", rect, DT_LEFT | DT_TOP, {{u"Top left", {5, 4}}}, "top left");
    ExpectDrawTextLike(u"Right", rect, DT_RIGHT, {{u"Right", {95 - width(u"Right"), 4}}}, "right");
    ExpectDrawTextLike(u"Middle", rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE,
                       {{u"Middle", {5 + (90 - width(u"Middle")) / 2, 4 + (46 - lineHeight) / 2}}}, "centred");
    ExpectDrawTextLike(u"Low", rect, DT_BOTTOM | DT_SINGLELINE, {{u"Low", {5, 50 - lineHeight}}}, "bottom");
    ExpectDrawTextLike(u"one\ntwo\r\nthree\rfour", rect, DT_LEFT,
                       {{u"one", {5, 4}}, {u"two", {5, 4 + lineHeight}}, {u"three", {5, 4 + 2 * lineHeight}},
                        {u"four", {5, 4 + 3 * lineHeight}}},
                       "line breaks");
    ExpectDrawTextLike(u"one\ntwo", rect, DT_SINGLELINE, {{u"onetwo", {5, 4}}}, "single line ignores breaks");
    ExpectDrawTextLike(u"Centre\nlines", rect, DT_CENTER,
                       {{u"Centre", {5 + (90 - width(u"Centre")) / 2, 4}},
                        {u"lines", {5 + (90 - width(u"lines")) / 2, 4 + lineHeight}}},
                       "each line centred");
    ExpectDrawTextLike(u"a&&b", rect, DT_LEFT, {{u"a&b", {5, 4}}}, "a doubled prefix is one &");
    ExpectDrawTextLike(u"&File", rect, DT_NOPREFIX, {{u"&File", {5, 4}}}, "no prefix");
    ExpectDrawTextLike(u"Clipped at the right edge of the box", {5, 4, 40, 30}, DT_LEFT,
                       {{u"Clipped at the right edge of the box", {5, 4}}}, "clipped");
    ExpectDrawTextLike(u"Not clipped at the right edge of the box", {5, 4, 40, 30}, DT_NOCLIP,
                       {{u"Not clipped at the right edge of the box", {5, 4}}}, "not clipped");

    // Word breaks: as many words as fit, the spaces at a break dropped; a
    // word longer than the line stays whole.
    const std::u16string words = u"alpha beta gamma delta";
    const int limit = std::max(width(u"alpha beta"), width(u"gamma delta")) + 1;
    ExpectDrawTextLike(words.c_str(), {5, 4, 5 + limit, 60}, DT_WORDBREAK,
                       {{u"alpha beta", {5, 4}}, {u"gamma delta", {5, 4 + lineHeight}}}, "word breaks");
    const int narrow = width(u"beta");
    ExpectDrawTextLike(words.c_str(), {5, 4, 5 + narrow, 60}, DT_WORDBREAK | DT_NOCLIP,
                       {{u"alpha", {5, 4}}, {u"beta", {5, 4 + lineHeight}}, {u"gamma", {5, 4 + 2 * lineHeight}},
                        {u"delta", {5, 4 + 3 * lineHeight}}},
                       "one word a line");

    // Tabs reach the next multiple of eight average widths.
    const int stop = 8 * metrics.tmAveCharWidth;
    ExpectDrawTextLike(u"a\tb", rect, DT_EXPANDTABS, {{u"a", {5, 4}}, {u"b", {5 + stop, 4}}}, "tab");
}

TEST(GdiText, APrefixUnderlinesItsCharacterOnly) {
    TestSurface prefixed(60, 20), plain(60, 20);
    TestDC dc(prefixed), other(plain);
    const RECT all{0, 0, 60, 20};
    for (HDC each : {dc.dc, other.dc}) FillRect(each, &all, GetStockObject(WHITE_BRUSH));
    RECT box = all;
    DrawTextW(dc.dc, u"&File", -1, &box, DT_LEFT);
    box = all;
    DrawTextW(other.dc, u"File", -1, &box, DT_LEFT);
    SIZE f{};
    TEXTMETRICW metrics{};
    GetTextExtentPoint32W(dc.dc, u"F", 1, &f);
    GetTextMetricsW(dc.dc, &metrics);
    int changed = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x) {
            if (prefixed.At(x, y) == plain.At(x, y)) continue;
            ++changed;
            EXPECT_LT(x, f.cx) << "only under the F";
            EXPECT_GE(y, metrics.tmAscent) << "only below the baseline";
        }
    EXPECT_GT(changed, 0);
}

TEST(GdiText, UnderlineAndStrikeOutRunUnderAndThroughTheWholeText) {
    struct Case {
        const char* name;
        bool underline;
        bool below;  // the line lies below the baseline, else above it
    };
    for (const Case c : {Case{"underline", true, true}, Case{"strike-out", false, false}}) {
        LOGFONTW plainDescription = MakeFont(-16);
        LOGFONTW linedDescription = plainDescription;
        (c.underline ? linedDescription.lfUnderline : linedDescription.lfStrikeOut) = 1;
        const HFONT plain = CreateFontIndirectW(&plainDescription);
        const HFONT lined = CreateFontIndirectW(&linedDescription);
        TestSurface without(80, 24), with(80, 24);
        TestDC plainDc(without), linedDc(with);
        SelectObject(plainDc.dc, plain);
        SelectObject(linedDc.dc, lined);
        ASSERT_TRUE(ExtTextOutW(plainDc.dc, 3, 2, 0, nullptr, u"Lines", 5, nullptr));
        ASSERT_TRUE(ExtTextOutW(linedDc.dc, 3, 2, 0, nullptr, u"Lines", 5, nullptr));
        SIZE size{};
        TEXTMETRICW metrics{};
        GetTextExtentPoint32W(linedDc.dc, u"Lines", 5, &size);
        GetTextMetricsW(linedDc.dc, &metrics);
        const int baseline = 2 + metrics.tmAscent;
        std::vector<bool> columns(80);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 80; ++x) {
                if (with.At(x, y) == without.At(x, y)) continue;
                columns[x] = true;
                EXPECT_EQ(with.At(x, y), 0u) << c.name << " " << x << "," << y;  // in the text colour
                EXPECT_TRUE(x >= 3 && x < 3 + size.cx) << c.name << " " << x;
                EXPECT_EQ(y >= baseline, c.below) << c.name << " " << y;
            }
        // Every column of the text is crossed, except where a glyph already
        // had the text colour there.
        int crossed = 0;
        for (int x = 3; x < 3 + size.cx; ++x) crossed += columns[x];
        EXPECT_GT(crossed, size.cx / 2) << c.name;
        for (HDC each : {plainDc.dc, linedDc.dc}) SelectObject(each, GetStockObject(SYSTEM_FONT));
        DeleteObject(plain);
        DeleteObject(lined);
    }
}

TEST(GdiText, CalcRectMeasuresWithoutDrawing) {
    TestSurface target(50, 50);
    TestDC dc(target);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.dc, &metrics);
    SIZE longest{};
    GetTextExtentPoint32W(dc.dc, u"longest", 7, &longest);
    RECT box{3, 7, 4, 8};
    EXPECT_EQ(DrawTextW(dc.dc, u"a\nlongest\nb", -1, &box, DT_CALCRECT), 3 * metrics.tmHeight);
    EXPECT_EQ(box.left, 3);
    EXPECT_EQ(box.top, 7);
    EXPECT_EQ(box.right, 3 + longest.cx);
    EXPECT_EQ(box.bottom, 7 + 3 * metrics.tmHeight);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x) ASSERT_EQ(target.At(x, y), PatternPixel(x, y));
    EXPECT_EQ(DrawTextW(dc.dc, u"x", 1, nullptr, 0), 0);
    EXPECT_EQ(DrawTextW(0, u"x", 1, &box, 0), 0);
}

TEST(GdiText, WithoutTheFontFileNothingIsDrawnAndOneLineNamesTheFile) {
    const std::string folder = GetFontFolder();
    SetFontFolder("/nonexistent-font-folder");
    const LOGFONTW description = MakeFont(-12);
    const HFONT font = CreateFontIndirectW(&description);
    TestSurface target(40, 20);
    TestDC dc(target);
    SelectObject(dc.dc, font);
    SetBkMode(dc.dc, TRANSPARENT);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(ExtTextOutW(dc.dc, 0, 0, 0, nullptr, u"Missing", 7, nullptr));
    RECT box{0, 0, 40, 20};
    EXPECT_GT(DrawTextW(dc.dc, u"Again", -1, &box, DT_LEFT), 0);
    SIZE size{};
    EXPECT_TRUE(GetTextExtentPoint32W(dc.dc, u"Sized", 5, &size));
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(report, "The font file \"/nonexistent-font-folder/DejaVuSans.ttf\" cannot be read; text is not drawn\n");
    EXPECT_GT(size.cx, 0);  // layouts keep a size
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(target.At(x, y), PatternPixel(x, y));
    SelectObject(dc.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
    SetFontFolder(folder);
}

}  // namespace
}  // namespace qob::platform
