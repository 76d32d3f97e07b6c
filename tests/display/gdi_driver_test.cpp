// tests/display/gdi_driver_test.cpp
// The GDI driver on the desktop device: frames drawn into its DIB section
// reach the game window of the window manager, whole after start-up and by
// dirty rectangle afterwards, upright and turned; and surfaces lend their
// pixels out as device contexts.
#include "display/gdi_driver.h"

#include <gtest/gtest.h>

#include <string>

#include "display/display_canvas.h"
#include "display/display_test_support.h"
#include "display/pixel_surface.h"
#include "display/rotation_driver.h"
#include "platform/display_device.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/window_manager.h"

namespace qob {
namespace {

using testing::Picture;

platform::LRESULT GameProcedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam) {
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

uint16_t PatternA(int32_t x, int32_t y) { return static_cast<uint16_t>((x * 37 + y * 1009) ^ 0x8421); }
uint16_t PatternB(int32_t x, int32_t y) { return static_cast<uint16_t>((x * 2053 + y * 71) ^ 0x1C3F); }

class GdiDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetWindowManager();
        ResetDisplayStatics();
        platform::WNDCLASSW windowClass;
        windowClass.lpfnWndProc = &GameProcedure;
        windowClass.lpszClassName = u"QobGame";
        ASSERT_NE(platform::RegisterClassW(&windowClass), 0);
    }
    void TearDown() override {
        ResetDisplayStatics();
        platform::ResetWindowManager();
        platform::SelectDisplayDevice(platform::DesktopDisplayProfile());
    }

    // The desktop device with that screen, and a game window over it.
    platform::HWND OpenWindow(int32_t width, int32_t height) {
        auto profile = platform::DesktopDisplayProfile();
        profile.screenWidth = width;
        profile.screenHeight = height;
        platform::SelectDisplayDevice(profile);
        return platform::CreateWindowExW(0, u"QobGame", u"game", platform::WS_POPUP | platform::WS_VISIBLE, 0, 0,
                                         width, height, 0, 0, 0, nullptr);
    }

    // What the window shows, as RGB565 (each channel truncated).
    static Picture WindowPixels(platform::HWND window, int32_t width, int32_t height) {
        const platform::HDC dc = platform::GetDC(window);
        const platform::Surface32* surface = platform::GetDCSurface(dc);
        Picture picture(width, height);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                picture.At(x, y) = platform::PixelTo565(surface->pixels[size_t(y) * size_t(surface->stride) + size_t(x)]);
        platform::ReleaseDC(window, dc);
        return picture;
    }

    static void Draw(PixelSurface* surface, uint16_t (*pattern)(int32_t, int32_t)) {
        const PixelBuffer& buffer = *surface->buffer;
        for (int32_t y = 0; y < buffer.height; ++y)
            for (int32_t x = 0; x < buffer.width; ++x) *PixelAt(buffer, x, y) = pattern(x, y);
    }
};

// The panel's pixel (x, y) of the view pixel that lands there when the view
// is turned by r (the rotation driver's mapping).
void ViewPixelOf(int32_t r, int32_t x, int32_t y, int32_t viewWidth, int32_t viewHeight, int32_t* vx, int32_t* vy) {
    switch (r) {
        case 1: *vx = y, *vy = viewHeight - 1 - x; break;
        case 2: *vx = viewWidth - 1 - x, *vy = viewHeight - 1 - y; break;
        case 3: *vx = viewWidth - 1 - y, *vy = x; break;
        default: *vx = x, *vy = y; break;
    }
}

// Start-up presents the whole frame with no rectangle; then only the rounded
// dirty rectangle changes. Odd sizes keep the rectangle inside the window.
TEST_F(GdiDriverTest, FramesReachTheWindowByDirtyRectangle) {
    struct Case {
        int32_t width, height;
        Rect dirty;
        Rect shown;  // kept inside; the driver sees it before the display rounds it to even
    };
    const Case cases[] = {
        {240, 320, {3, 5, 10, 11}, {3, 5, 10, 11}},
        {237, 301, {230, 290, 237, 301}, {230, 290, 237, 301}},
        {237, 301, {-50, -9, 1000, 2}, {0, 0, 237, 2}},
        {16, 16, {20, 20, 30, 30}, {0, 0, 0, 0}},  // off screen: nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        ResetDisplayStatics();
        platform::ResetWindowManager();
        platform::WNDCLASSW windowClass;
        windowClass.lpfnWndProc = &GameProcedure;
        windowClass.lpszClassName = u"QobGame";
        ASSERT_NE(platform::RegisterClassW(&windowClass), 0);
        const platform::HWND window = OpenWindow(c.width, c.height);
        ASSERT_NE(window, 0u);
        DisplayParams params{0, 0, 4, 1};
        Canvas* canvas = CreateDisplayCanvas(window, &params);
        ASSERT_NE(canvas, nullptr);
        EXPECT_EQ(params.width, c.width);
        EXPECT_EQ(params.height, c.height);
        EXPECT_EQ(params.orientation, 0);
        EXPECT_EQ(params.swapEffect, 2);
        EXPECT_NE(dynamic_cast<const GdiDriver*>(canvas->display->display->Base().GetDriver()), nullptr);

        PixelSurface* frame = CanvasBeginScene(canvas);
        ASSERT_NE(frame, nullptr);
        Draw(frame, &PatternA);
        ASSERT_EQ(CanvasUpdate(canvas, nullptr), 1);
        Picture expected(c.width, c.height);
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) expected.At(x, y) = PatternA(x, y);
        EXPECT_TRUE(testing::SamePicture(WindowPixels(window, c.width, c.height), expected));

        frame = CanvasBeginScene(canvas);
        ASSERT_NE(frame, nullptr);
        Draw(frame, &PatternB);
        ASSERT_EQ(CanvasUpdate(canvas, &c.dirty), 1);
        for (int32_t y = c.shown.top; y < c.shown.bottom; ++y)
            for (int32_t x = c.shown.left; x < c.shown.right; ++x) expected.At(x, y) = PatternB(x, y);
        EXPECT_TRUE(testing::SamePicture(WindowPixels(window, c.width, c.height), expected));

        DestroyCanvas(canvas);
        platform::FreeBlock(canvas);
    }
}

// A view turned by a rotation driver over the GDI driver shows turned.
TEST_F(GdiDriverTest, TurnedViewsShowTurnedInTheWindow) {
    for (int32_t orientation = 0; orientation < 4; ++orientation) {
        SCOPED_TRACE(orientation);
        ResetDisplayStatics();
        const platform::HWND window = OpenWindow(240, 320);
        ASSERT_NE(window, 0u);
        DisplayParams params{0, 0, orientation, 1};
        Canvas* canvas = CreateDisplayCanvas(window, &params);
        ASSERT_NE(canvas, nullptr);
        const bool turned = orientation % 2 == 1;
        EXPECT_EQ(params.width, turned ? 320 : 240);
        EXPECT_EQ(params.orientation, orientation);
        const Driver* driver = canvas->display->display->Base().GetDriver();
        EXPECT_EQ(dynamic_cast<const RotationDriver*>(driver) != nullptr, orientation != 0);

        PixelSurface* frame = CanvasBeginScene(canvas);
        ASSERT_NE(frame, nullptr);
        Draw(frame, &PatternA);
        ASSERT_EQ(CanvasUpdate(canvas, nullptr), 1);
        const int32_t r = (0 - orientation + 4) % 4;
        Picture expected(240, 320);
        for (int32_t y = 0; y < 320; ++y)
            for (int32_t x = 0; x < 240; ++x) {
                int32_t vx = 0, vy = 0;
                ViewPixelOf(r, x, y, params.width, params.height, &vx, &vy);
                expected.At(x, y) = PatternA(vx, vy);
            }
        EXPECT_TRUE(testing::SamePicture(WindowPixels(window, 240, 320), expected));
        DestroyCanvas(canvas);
        platform::FreeBlock(canvas);
        platform::DestroyWindow(window);
    }
}

// A window destroyed under the display: presents draw nowhere, and a
// second display on the same device opens over a new window.
TEST_F(GdiDriverTest, PresentsAfterTheWindowIsGoneDrawNothing) {
    const platform::HWND window = OpenWindow(240, 320);
    DisplayParams params{0, 0, 4, 1};
    Canvas* canvas = CreateDisplayCanvas(window, &params);
    ASSERT_NE(canvas, nullptr);
    ASSERT_TRUE(platform::DestroyWindow(window));
    PixelSurface* frame = CanvasBeginScene(canvas);
    ASSERT_NE(frame, nullptr);
    Draw(frame, &PatternA);
    EXPECT_EQ(CanvasUpdate(canvas, nullptr), 1);
    DestroyCanvas(canvas);
    platform::FreeBlock(canvas);

    const platform::HWND second = OpenWindow(240, 320);
    DisplayParams again{0, 0, 4, 1};
    canvas = CreateDisplayCanvas(second, &again);
    ASSERT_NE(canvas, nullptr);
    DestroyCanvas(canvas);
    platform::FreeBlock(canvas);
}

// A DC lent out over the frame's surface: the present draws what the lent
// copy does not hold yet (the frame's own buffer), the frame's buffer leaves
// the surface while the DC stays out, and releasing the DC afterwards only
// ends the lending. The next frame lends afresh.
TEST_F(GdiDriverTest, ADcLentOverTheFrameOutlivesThePresent) {
    const platform::HWND window = OpenWindow(32, 16);
    DisplayParams params{0, 0, 4, 1};
    Canvas* canvas = CreateDisplayCanvas(window, &params);
    ASSERT_NE(canvas, nullptr);
    PixelSurface* frame = CanvasBeginScene(canvas);
    ASSERT_NE(frame, nullptr);
    Draw(frame, &PatternA);
    PixelBuffer* drawn = frame->buffer;
    const uintptr_t dc = SurfaceGetDC(frame, 0);
    ASSERT_NE(dc, 0u);
    EXPECT_EQ(frame->savedBuffer, drawn);
    ASSERT_EQ(CanvasUpdate(canvas, nullptr), 1);
    EXPECT_EQ(frame->savedBuffer, nullptr);
    EXPECT_EQ(frame->dc, dc);
    ASSERT_EQ(SurfaceReleaseDC(frame, dc), 1);
    EXPECT_EQ(frame->buffer, nullptr);
    EXPECT_EQ(frame->dc, 0u);
    Picture expected(32, 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 32; ++x) expected.At(x, y) = PatternA(x, y);
    EXPECT_TRUE(testing::SamePicture(WindowPixels(window, 32, 16), expected));

    frame = CanvasBeginScene(canvas);
    ASSERT_NE(frame, nullptr);
    const uintptr_t again = SurfaceGetDC(frame, 0);
    ASSERT_NE(again, 0u);
    const platform::RECT whole{0, 0, 32, 16};
    ASSERT_NE(platform::FillRect(again, &whole, static_cast<platform::HBRUSH>(platform::GetStockObject(platform::WHITE_BRUSH))), 0);
    ASSERT_EQ(SurfaceReleaseDC(frame, again), 1);
    ASSERT_EQ(CanvasUpdate(canvas, nullptr), 1);
    EXPECT_TRUE(testing::SamePicture(WindowPixels(window, 32, 16), Picture(32, 16, 0xFFFF)));
    DestroyCanvas(canvas);
    platform::FreeBlock(canvas);
}

// A surface lends its pixels out as a DC: a keyed surface comes back
// unchanged, what is filled through the DC is in the surface afterwards, and
// a second DC or a foreign one is refused.
TEST_F(GdiDriverTest, SurfacesLendTheirPixelsAsDeviceContexts) {
    struct Case {
        std::string name;
        int32_t width, height;
        int32_t key;
    };
    const Case cases[] = {
        {"keyed with a colour the pattern holds", 7, 5, 0},
        {"keyed black", 4, 3, 0x0000},
        {"no key", 5, 4, -1},
        {"one pixel", 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture = testing::PatternPicture(c.width, c.height);
        int32_t key = c.key;
        if (c.name.starts_with("keyed with")) key = picture.At(c.width - 1, c.height - 1);
        if (key >= 0) picture.At(0, 0) = static_cast<uint16_t>(key);
        testing::OwnedSurface surface(picture, key);
        PixelBuffer* own = surface->buffer;

        const uintptr_t dc = SurfaceGetDC(surface, 0);
        ASSERT_NE(dc, 0u);
        EXPECT_NE(surface->buffer, own);
        EXPECT_EQ(surface->savedBuffer, own);
        EXPECT_EQ(SurfaceGetDC(surface, 0), 0u);  // one at a time
        EXPECT_EQ(SurfaceReleaseDC(surface, dc + 1), 0);
        EXPECT_EQ(SurfaceReleaseDC(surface, 0), 0);
        // The lent copy holds every pixel, keyed ones too.
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) ASSERT_EQ(*PixelAt(*surface->buffer, x, y), picture.At(x, y));
        ASSERT_EQ(SurfaceReleaseDC(surface, dc), 1);
        EXPECT_EQ(surface->buffer, own);
        EXPECT_EQ(surface->dc, 0u);
        EXPECT_EQ(surface->colorKey, key);
        EXPECT_TRUE(testing::SamePicture(surface.Pixels(), picture));

        // Filled through the DC.
        const uintptr_t second = SurfaceGetDC(surface, 0);
        ASSERT_NE(second, 0u);
        const platform::HBRUSH brush = platform::CreateSolidBrush(platform::RGB(0xF8, 0x40, 0x08));
        const platform::RECT fill{1, 0, 3, 2};
        ASSERT_NE(platform::FillRect(second, &fill, brush), 0);
        platform::DeleteObject(brush);
        ASSERT_EQ(SurfaceReleaseDC(surface, second), 1);
        const uint16_t filled = platform::PixelTo565(platform::PixelFromColor(platform::RGB(0xF8, 0x40, 0x08)));
        for (int32_t y = 0; y < 2 && y < c.height; ++y)
            for (int32_t x = 1; x < 3 && x < c.width; ++x) picture.At(x, y) = filled;
        EXPECT_TRUE(testing::SamePicture(surface.Pixels(), picture));
    }
}

// With the no-copy flag the lent pixels start black; what is drawn replaces
// the surface's pixels on release. A surface released with its DC out gets
// the drawing back first.
TEST_F(GdiDriverTest, NoCopyStartsBlackAndReleasingTheSurfaceEndsTheLending) {
    const Picture picture = testing::PatternPicture(6, 4);
    testing::OwnedSurface surface(picture);
    const uintptr_t dc = SurfaceGetDC(surface, 1);
    ASSERT_NE(dc, 0u);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) ASSERT_EQ(*PixelAt(*surface->buffer, x, y), 0);
    ASSERT_EQ(SurfaceReleaseDC(surface, dc), 1);
    EXPECT_TRUE(testing::SamePicture(surface.Pixels(), Picture(6, 4)));

    const uintptr_t copying = SurfaceGetDC(surface, 0);
    ASSERT_NE(copying, 0u);
    EXPECT_EQ(*PixelAt(*surface->buffer, 0, 0), 0);  // the surface is black now
    ASSERT_EQ(SurfaceReleaseDC(surface, copying), 1);

    PixelSurface* other = NewSurface(3, 3);
    ASSERT_NE(other, nullptr);
    ASSERT_NE(SurfaceGetDC(other, 0), 0u);
    SurfaceRelease(other);  // ends the lending; the sanitizer build checks nothing is left
    EXPECT_EQ(other->dc, 0u);
    platform::FreeBlock(other);
}

}  // namespace
}  // namespace qob
