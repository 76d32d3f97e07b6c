// tests/platform/gdi/dib_section_test.cpp
// 16-bit DIB sections: which descriptions make one, the pixels' layout,
// copies between them and 32-bit surfaces in both directions, and drawing
// through a DC that GdiFlush brings into the pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/gdi.h"
#include "platform/gdi/gdi_test_support.h"
#include "platform/memory.h"

namespace qob::platform {
namespace {

using testing::PatternPixel;
using testing::TestDC;
using testing::TestSurface;

BITMAPINFO Rgb565Info(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 16;
    info.bmiHeader.biCompression = BI_BITFIELDS;
    info.bmiColors[0] = 0xF800;
    info.bmiColors[1] = 0x07E0;
    info.bmiColors[2] = 0x001F;
    return info;
}

uint16_t Pattern565(int x, int y) { return static_cast<uint16_t>(PatternPixel(x, y) * 40503u >> 8); }

// A DIB section selected into a memory DC, both deleted at the end.
struct Section {
    HBITMAP bitmap = 0;
    HDC dc = 0;
    uint8_t* bits = nullptr;
    int width;
    int height;
    int pitch;
    bool topDown;

    Section(int width, int height, bool topDown = true)
        : width(width), height(height), pitch((2 * width + 3) & ~3), topDown(topDown) {
        const BITMAPINFO info = Rgb565Info(width, topDown ? -height : height);
        void* start = nullptr;
        bitmap = CreateDIBSection(0, &info, DIB_RGB_COLORS, &start, 0, 0);
        bits = static_cast<uint8_t*>(start);
        dc = CreateCompatibleDC(0);
        SelectObject(dc, bitmap);
    }
    ~Section() {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    // Picture row y: the memory row y of a top-down section, counted from the
    // end of a bottom-up one.
    uint16_t& At(int x, int y) {
        const int row = topDown ? y : height - 1 - y;
        return reinterpret_cast<uint16_t*>(bits + static_cast<ptrdiff_t>(row) * pitch)[x];
    }
    void FillPattern() {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) At(x, y) = Pattern565(x, y);
    }
};

TEST(GdiDibSection, OnlyRgb565DescriptionsMakeASection) {
    struct Case {
        std::string name;
        void (*change)(BITMAPINFO&);
        bool made;
    };
    const Case cases[] = {
        {"top-down RGB565", [](BITMAPINFO&) {}, true},
        {"bottom-up RGB565", [](BITMAPINFO& i) { i.bmiHeader.biHeight = 5; }, true},
        {"32 bits per pixel", [](BITMAPINFO& i) { i.bmiHeader.biBitCount = 32; }, false},
        {"no bit fields", [](BITMAPINFO& i) { i.bmiHeader.biCompression = BI_RGB; }, false},
        {"5-5-5 masks", [](BITMAPINFO& i) { i.bmiColors[0] = 0x7C00; i.bmiColors[1] = 0x03E0; }, false},
        {"two planes", [](BITMAPINFO& i) { i.bmiHeader.biPlanes = 2; }, false},
        {"short header", [](BITMAPINFO& i) { i.bmiHeader.biSize = 12; }, false},
        {"zero width", [](BITMAPINFO& i) { i.bmiHeader.biWidth = 0; }, false},
        {"negative width", [](BITMAPINFO& i) { i.bmiHeader.biWidth = -4; }, false},
        {"zero height", [](BITMAPINFO& i) { i.bmiHeader.biHeight = 0; }, false},
        {"past the size cap", [](BITMAPINFO& i) { i.bmiHeader.biWidth = 40000; i.bmiHeader.biHeight = -40000; }, false},
        {"the most negative height", [](BITMAPINFO& i) { i.bmiHeader.biHeight = INT32_MIN; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BITMAPINFO info = Rgb565Info(3, -5);
        c.change(info);
        void* bits = reinterpret_cast<void*>(1);
        const HBITMAP bitmap = CreateDIBSection(0, &info, DIB_RGB_COLORS, &bits, 0, 0);
        EXPECT_EQ(bitmap != 0, c.made);
        EXPECT_EQ(bits != nullptr, c.made);
        if (!bitmap) continue;
        BITMAP description{};
        ASSERT_EQ(GetObjectW(bitmap, sizeof description, &description), int(sizeof description));
        EXPECT_EQ(description.bmWidth, 3);
        EXPECT_EQ(description.bmHeight, 5);
        EXPECT_EQ(description.bmWidthBytes, 8);  // rows DWORD-aligned
        EXPECT_EQ(description.bmBitsPixel, 16);
        EXPECT_EQ(description.bmBits, bits);
        // Zeroed, and in low memory where programs can hold the address.
        const auto* bytes = static_cast<const uint8_t*>(bits);
        for (int i = 0; i < 8 * 5; ++i) ASSERT_EQ(bytes[i], 0) << i;
        EXPECT_LT(reinterpret_cast<uintptr_t>(bits), uintptr_t{1} << 32);
        EXPECT_TRUE(DeleteObject(bitmap));
    }
    EXPECT_EQ(CreateDIBSection(0, nullptr, DIB_RGB_COLORS, nullptr, 0, 0), 0u);
    const BITMAPINFO info = Rgb565Info(2, 2);
    EXPECT_EQ(CreateDIBSection(0, &info, 1, nullptr, 0, 0), 0u);  // palette indexes
}

TEST(GdiDibSection, ConversionsTruncateAndWidenLosslessly) {
    // Every 16-bit value widens and truncates back to itself.
    for (uint32_t value = 0; value <= 0xFFFF; ++value)
        ASSERT_EQ(PixelTo565(PixelFrom565(static_cast<uint16_t>(value))), value);
    struct Case {
        uint32_t pixel;
        uint16_t rgb565;
    };
    const Case cases[] = {
        {0x000000, 0x0000}, {0xFFFFFF, 0xFFFF}, {0xFF0000, 0xF800}, {0x00FF00, 0x07E0}, {0x0000FF, 0x001F},
        {0x070307, 0x0000},  // below one step of each channel
        {0x080408, 0x0821}, {0x7F7F7F, 0x7BEF},
    };
    for (const Case& c : cases) EXPECT_EQ(PixelTo565(c.pixel), c.rgb565) << std::hex << c.pixel;
    EXPECT_EQ(PixelFrom565(0xF800), 0xFF0000u);
    EXPECT_EQ(PixelFrom565(0x0821), 0x080408u);
}

// Every 16-bit value through BitBlt, both ways, at every start within a row
// (the row converters take pixels in groups).
TEST(GdiDibSection, BitBltConvertsEveryValue) {
    for (const int offset : {0, 1, 3, 7}) {
        SCOPED_TRACE(offset);
        Section section(256 + offset, 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) section.At(x + offset, y) = static_cast<uint16_t>(y * 256 + x);
        TestSurface target(256, 256);
        TestDC dc(target);
        ASSERT_TRUE(BitBlt(dc.dc, 0, 0, 256, 256, section.dc, offset, 0, SRCCOPY));
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                ASSERT_EQ(target.At(x, y), PixelFrom565(static_cast<uint16_t>(y * 256 + x))) << x << ", " << y;
        Section back(256 + offset, 256);
        ASSERT_TRUE(BitBlt(back.dc, offset, 0, 256, 256, dc.dc, 0, 0, SRCCOPY));
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) ASSERT_EQ(back.At(x + offset, y), y * 256 + x) << x << ", " << y;
    }
}

// From the section to a 32-bit surface and back, with clips and offsets, in
// both row orders.
TEST(GdiDibSection, BitBltConvertsBetweenSectionsAndSurfaces) {
    for (const bool topDown : {true, false}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        Section section(7, 6, topDown);
        section.FillPattern();
        TestSurface target(9, 8);
        const RECT clip{1, 1, 8, 7};
        TestDC dc(target, {0, 0}, clip);
        ASSERT_TRUE(BitBlt(dc.dc, 2, 0, 7, 6, section.dc, 1, 2, SRCCOPY));
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 9; ++x) {
                const int sx = x - 2 + 1, sy = y + 2;
                const bool copied = testing::Inside(clip, x, y) && x >= 2 && sx < 7 && sy < 6;
                const uint32_t expected = copied ? PixelFrom565(Pattern565(sx, sy)) : PatternPixel(x, y);
                ASSERT_EQ(target.At(x, y), expected) << x << ", " << y;
            }

        // And back into a second section, truncating.
        Section back(5, 5, topDown);
        ASSERT_TRUE(BitBlt(back.dc, 0, 0, 5, 5, dc.dc, 3, 2, SRCCOPY));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) {
                const bool inside = testing::Inside(clip, x + 3, y + 2);
                ASSERT_EQ(back.At(x, y), inside ? PixelTo565(target.At(x + 3, y + 2)) : 0) << x << ", " << y;
            }
    }
}

TEST(GdiDibSection, BitBltWithinOneSectionReadsTheOldPixels) {
    Section section(6, 6);
    section.FillPattern();
    ASSERT_TRUE(BitBlt(section.dc, 1, 1, 5, 5, section.dc, 0, 0, SRCCOPY));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(section.At(x, y), x >= 1 && y >= 1 ? Pattern565(x - 1, y - 1) : Pattern565(x, y)) << x << ", " << y;
    Section other(3, 3);
    ASSERT_TRUE(BitBlt(other.dc, 0, 0, 3, 3, section.dc, 3, 3, SRCCOPY));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) ASSERT_EQ(other.At(x, y), section.At(x + 3, y + 3));
}

// Drawing calls work on a 32-bit copy; GdiFlush (or deleting the DC) brings
// it into the pixels, and a copy made after pixels were written directly
// starts from them.
TEST(GdiDibSection, DrawingReachesThePixelsThroughGdiFlush) {
    Section section(5, 4);
    section.FillPattern();
    const HBRUSH brush = CreateSolidBrush(RGB(0x10, 0x20, 0xF8));
    const RECT rect{1, 1, 3, 3};
    ASSERT_NE(FillRect(section.dc, &rect, brush), 0);
    EXPECT_TRUE(GdiFlush());
    const uint16_t filled = PixelTo565(PixelFromColor(RGB(0x10, 0x20, 0xF8)));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(section.At(x, y), testing::Inside(rect, x, y) ? filled : Pattern565(x, y)) << x << ", " << y;

    // Written directly after the flush, read by the next drawing call.
    section.At(4, 3) = 0xF800;
    EXPECT_EQ(GetPixel(section.dc, 4, 3), RGB(0xFF, 0, 0));
    ASSERT_NE(SetPixel(section.dc, 0, 0, RGB(0, 0xFF, 0)), CLR_INVALID);
    // A SRCCOPY out of the section flushes it first.
    TestSurface target(5, 4);
    TestDC dc(target);
    ASSERT_TRUE(BitBlt(dc.dc, 0, 0, 5, 4, section.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(target.At(0, 0), 0x00FF00u);
    EXPECT_EQ(section.At(0, 0), 0x07E0);
    EXPECT_EQ(target.At(4, 3), 0xFF0000u);
    DeleteObject(brush);
}

TEST(GdiDibSection, DeletingTheDcFlushesAndDeletingTheBitmapForgetsItsCopy) {
    auto* section = new Section(4, 4);
    const RECT rect{0, 0, 4, 4};
    ASSERT_NE(FillRect(section->dc, &rect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 0);
    ASSERT_TRUE(DeleteDC(section->dc));
    EXPECT_EQ(section->At(3, 3), 0xFFFF);
    section->dc = CreateCompatibleDC(0);
    SelectObject(section->dc, section->bitmap);
    ASSERT_NE(FillRect(section->dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
    // The copy is live; deleting the bitmap must leave nothing for GdiFlush
    // or the DC to write into freed memory (the sanitizer build checks).
    ASSERT_TRUE(DeleteObject(section->bitmap));
    section->bitmap = 0;
    EXPECT_TRUE(GdiFlush());
    EXPECT_EQ(GetPixel(section->dc, 0, 0), CLR_INVALID);
    delete section;
}

}  // namespace
}  // namespace qob::platform
