// tests/platform/gdi/objects_test.cpp
// System colours, stock objects, and what happens to dead handles, handles
// of the wrong kind and objects deleted while selected.
#include <gtest/gtest.h>

#include "gdi_test_support.h"

namespace qob::platform {
namespace {

using testing::PatternPixel;
using testing::TestDC;
using testing::TestSurface;

TEST(GdiObjects, SystemColorsAnswerTheSameWithOrWithoutTheFlag) {
    for (int index = 0; index < kSystemColorCount; ++index) {
        const COLORREF color = GetSysColor(index);
        EXPECT_EQ(GetSysColor(index | static_cast<int>(SYS_COLOR_INDEX_FLAG)), color) << index;
        EXPECT_EQ(color & 0xFF000000, 0u) << index;
        EXPECT_EQ(ResolveColor(SYS_COLOR_INDEX_FLAG | index), color) << index;
    }
    // The scheme the form and control code relies on: white windows with
    // black text, buttons neither white nor black.
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), RGB(0, 0, 0));
    EXPECT_NE(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_WINDOW));
    EXPECT_NE(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNTEXT));
    for (int index : {-1, static_cast<int>(kSystemColorCount), 200}) EXPECT_EQ(GetSysColor(index), 0u) << index;
    // Without the flag a colour is only masked to its 24 bits.
    EXPECT_EQ(ResolveColor(0x00123456), 0x00123456u);
    EXPECT_EQ(ResolveColor(0x0F123456), 0x00123456u);
}

TEST(GdiObjects, TheSystemColorFlagIsResolvedWhereverAColourIsTaken) {
    TestSurface target(4, 4);
    TestDC dc(target);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF flagged = SYS_COLOR_INDEX_FLAG | COLOR_BTNFACE;

    SetTextColor(dc.dc, flagged);
    EXPECT_EQ(GetTextColor(dc.dc), face);
    SetBkColor(dc.dc, SYS_COLOR_INDEX_FLAG | COLOR_HIGHLIGHT);
    EXPECT_EQ(GetBkColor(dc.dc), GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(SetPixel(dc.dc, 0, 0, flagged), face);
    EXPECT_EQ(target.At(0, 0), PixelFromColor(face));

    const HBRUSH brush = CreateSolidBrush(flagged);
    const RECT rect{1, 1, 2, 2};
    FillRect(dc.dc, &rect, brush);
    EXPECT_EQ(target.At(1, 1), PixelFromColor(face));
    LOGBRUSH description{};
    ASSERT_EQ(GetObjectW(brush, sizeof description, &description), static_cast<int>(sizeof description));
    EXPECT_EQ(description.lbColor, face);
    DeleteObject(brush);

    // The system brushes paint their system colour.
    const RECT other{2, 2, 3, 3};
    FillRect(dc.dc, &other, GetSysColorBrush(COLOR_HIGHLIGHT));
    EXPECT_EQ(target.At(2, 2), PixelFromColor(GetSysColor(COLOR_HIGHLIGHT)));
    EXPECT_EQ(GetSysColorBrush(COLOR_HIGHLIGHT | static_cast<int>(SYS_COLOR_INDEX_FLAG)), GetSysColorBrush(COLOR_HIGHLIGHT));
    EXPECT_EQ(GetSysColorBrush(kSystemColorCount), 0u);
}

TEST(GdiObjects, ColoursArePixelsWithRedAndBlueSwapped) {
    EXPECT_EQ(PixelFromColor(RGB(0x12, 0x34, 0x56)), 0x123456u);
    EXPECT_EQ(ColorFromPixel(0x123456), RGB(0x12, 0x34, 0x56));
}

TEST(GdiObjects, StockAndSystemObjectsSurviveDeletion) {
    TestSurface target(4, 4);
    TestDC dc(target);
    const RECT all{0, 0, 4, 4};
    for (int index : {WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH, NULL_BRUSH, WHITE_PEN,
                      BLACK_PEN, NULL_PEN, SYSTEM_FONT}) {
        const HGDIOBJ object = GetStockObject(index);
        ASSERT_NE(object, 0u) << index;
        EXPECT_EQ(GetStockObject(index), object) << index;  // always the same one
        EXPECT_TRUE(DeleteObject(object)) << index;
        EXPECT_NE(KindOfHandle(object), HandleKind::None) << index;
    }
    EXPECT_EQ(GetStockObject(9), 0u);
    EXPECT_EQ(GetStockObject(-1), 0u);
    EXPECT_NE(FillRect(dc.dc, &all, GetStockObject(WHITE_BRUSH)), 0);
    EXPECT_EQ(target.At(3, 3), 0xFFFFFFu);

    const HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
    EXPECT_TRUE(DeleteObject(face));
    EXPECT_NE(FillRect(dc.dc, &all, face), 0);
    EXPECT_EQ(target.At(0, 0), PixelFromColor(GetSysColor(COLOR_BTNFACE)));
}

TEST(GdiObjects, DeadAndWrongKindHandlesFailQuietly) {
    TestSurface target(6, 6);
    TestDC dc(target);
    const HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
    const HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    ASSERT_TRUE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(brush));  // twice
    const RECT all{0, 0, 6, 6};

    EXPECT_EQ(FillRect(dc.dc, &all, brush), 0);         // dead brush
    EXPECT_EQ(FillRect(dc.dc, &all, pen), 0);           // a pen is no brush
    EXPECT_EQ(FrameRect(dc.dc, &all, dc.dc), 0);        // nor is a DC
    EXPECT_EQ(FillRect(pen, &all, GetStockObject(BLACK_BRUSH)), 0);  // a pen is no DC
    EXPECT_EQ(FillRect(dc.dc, nullptr, GetStockObject(BLACK_BRUSH)), 0);
    EXPECT_EQ(SelectObject(dc.dc, brush), 0u);
    EXPECT_EQ(SelectObject(pen, GetStockObject(BLACK_BRUSH)), 0u);
    EXPECT_EQ(SetTextColor(pen, 0), CLR_INVALID);
    EXPECT_EQ(SetBkColor(0, 0), CLR_INVALID);
    EXPECT_EQ(SetBkMode(0x12345, OPAQUE), 0);
    EXPECT_FALSE(DrawFocusRect(0, &all));
    EXPECT_FALSE(LineTo(brush, 3, 3));
    EXPECT_EQ(GetDeviceCaps(pen, LOGPIXELSX), 0);
    EXPECT_EQ(GetObjectW(brush, 100, nullptr), 0);
    EXPECT_FALSE(DeleteObject(dc.dc));  // DCs go with DeleteDC or DeleteTargetDC
    EXPECT_FALSE(DeleteDC(dc.dc));      // not a memory DC
    EXPECT_FALSE(DeleteObject(0));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(target.At(x, y), PatternPixel(x, y)) << x << "," << y;
    // The DC is still alive after all that.
    EXPECT_NE(FillRect(dc.dc, &all, GetStockObject(BLACK_BRUSH)), 0);
    EXPECT_EQ(target.At(5, 5), 0u);
    DeleteObject(pen);
}

TEST(GdiObjects, ADcDrawsWithItsDefaultsOnceItsSelectionIsDeleted) {
    TestSurface target(8, 8);
    TestDC dc(target);
    const HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    EXPECT_EQ(SelectObject(dc.dc, red), GetStockObject(BLACK_PEN));  // the default pen
    EXPECT_EQ(SelectObject(dc.dc, red), red);
    MoveToEx(dc.dc, 0, 0, nullptr);
    LineTo(dc.dc, 3, 0);
    EXPECT_EQ(target.At(0, 0), 0xFF0000u);
    ASSERT_TRUE(DeleteObject(red));
    MoveToEx(dc.dc, 0, 1, nullptr);
    LineTo(dc.dc, 3, 1);
    EXPECT_EQ(target.At(0, 1), 0u);  // the default black pen

    const HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    EXPECT_EQ(SelectObject(dc.dc, green), GetStockObject(WHITE_BRUSH));
    DeleteObject(green);
    ASSERT_TRUE(Rectangle(dc.dc, 2, 2, 7, 7));
    EXPECT_EQ(target.At(4, 4), 0xFFFFFFu);  // the default white brush inside
    EXPECT_EQ(target.At(2, 2), 0u);         // the default pen around
}

TEST(GdiObjects, DescriptionsOfObjects) {
    const HPEN pen = CreatePen(PS_DASH, 3, RGB(1, 2, 3));
    LOGPEN logPen{};
    EXPECT_EQ(GetObjectW(pen, 0, nullptr), static_cast<int>(sizeof logPen));
    ASSERT_EQ(GetObjectW(pen, sizeof logPen, &logPen), static_cast<int>(sizeof logPen));
    EXPECT_EQ(logPen.lopnStyle, static_cast<uint32_t>(PS_DASH));
    EXPECT_EQ(logPen.lopnWidth.x, 3);
    EXPECT_EQ(logPen.lopnColor, RGB(1, 2, 3));
    DeleteObject(pen);

    LOGFONTW wanted{};
    wanted.lfHeight = -17;
    wanted.lfWeight = FW_BOLD;
    wanted.lfFaceName[0] = u'Q';
    const HFONT font = CreateFontIndirectW(&wanted);
    LOGFONTW got{};
    ASSERT_EQ(GetObjectW(font, sizeof got, &got), 92);
    EXPECT_EQ(got.lfHeight, -17);
    EXPECT_EQ(got.lfWeight, FW_BOLD);
    EXPECT_EQ(got.lfFaceName[0], u'Q');
    LOGFONTW partial{};
    EXPECT_EQ(GetObjectW(font, 8, &partial), 8);  // cut to the buffer
    EXPECT_EQ(partial.lfHeight, -17);
    EXPECT_EQ(partial.lfWeight, 0);
    DeleteObject(font);

    const HBITMAP bitmap = CreateCompatibleBitmap(0, 5, 3);
    BITMAP logBitmap{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof logBitmap, &logBitmap), static_cast<int>(sizeof logBitmap));
    EXPECT_EQ(logBitmap.bmWidth, 5);
    EXPECT_EQ(logBitmap.bmHeight, 3);
    EXPECT_EQ(logBitmap.bmWidthBytes, 20);
    EXPECT_EQ(logBitmap.bmBitsPixel, 32);
    DeleteObject(bitmap);
}

TEST(GdiObjects, BitmapSizesAreBounded) {
    struct Case {
        int width, height;
        bool made;
    };
    for (const Case c : {Case{1, 1, true}, Case{4096, 1, true}, Case{0, 5, false}, Case{5, -1, false},
                         Case{4097, 1, false}, Case{1, 100000, false}}) {
        const HBITMAP bitmap = CreateCompatibleBitmap(0, c.width, c.height);
        EXPECT_EQ(bitmap != 0, c.made) << c.width << " x " << c.height;
        DeleteObject(bitmap);
    }
}

TEST(GdiObjects, ABitmapIsSelectedIntoOneMemoryDcAtATime) {
    const HDC first = CreateCompatibleDC(0);
    const HDC second = CreateCompatibleDC(0);
    const HBITMAP bitmap = CreateCompatibleBitmap(0, 4, 4);
    const HBITMAP initial = SelectObject(first, bitmap);
    ASSERT_NE(initial, 0u);
    EXPECT_EQ(SelectObject(second, bitmap), 0u);  // held by the first
    EXPECT_EQ(SelectObject(first, initial), bitmap);
    EXPECT_NE(SelectObject(second, bitmap), 0u);  // free again
    EXPECT_TRUE(DeleteObject(initial));           // the initial bitmap stays
    EXPECT_EQ(KindOfHandle(initial), HandleKind::Bitmap);

    // A bitmap cannot go into a target DC; a deleted DC lets go of it.
    TestSurface target(2, 2);
    TestDC dc(target);
    EXPECT_EQ(SelectObject(dc.dc, bitmap), 0u);
    EXPECT_TRUE(DeleteDC(second));
    EXPECT_NE(SelectObject(first, bitmap), 0u);

    // A memory DC whose bitmap is deleted draws nowhere.
    DeleteObject(bitmap);
    const RECT all{0, 0, 4, 4};
    EXPECT_EQ(GetDCSurface(first), nullptr);
    EXPECT_EQ(GetPixel(first, 0, 0), CLR_INVALID);
    EXPECT_NE(FillRect(first, &all, GetStockObject(BLACK_BRUSH)), 0);  // alive, drawing nowhere
    EXPECT_TRUE(DeleteDC(first));
    EXPECT_FALSE(DeleteDC(first));
}

}  // namespace
}  // namespace qob::platform
