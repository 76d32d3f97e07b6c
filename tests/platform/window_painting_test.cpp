// tests/platform/window_painting_test.cpp
// Painting through the window manager, by the pixels: WM_ERASEBKGND with the
// class background, fills through a window's DC clipped to it and its
// parents, a focus rectangle drawn twice leaving the surface as it was, the
// screen composed bottom to top, and the task bar following the active title.

#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/gdi.h"
#include "platform/shell.h"
#include "platform/window_manager.h"

namespace qob::platform {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);

class WindowPaintingTest : public testing::Test {
protected:
    void SetUp() override {
        ResetWindowManager();
        SetIdlePolicy(IdlePolicy::Fail);
        SetTestClock(1'000'000'000);
        red = CreateSolidBrush(kRed);
        blue = CreateSolidBrush(kBlue);
        Register(u"Red", red);
        Register(u"Blue", blue);
    }

    void TearDown() override {
        ResetWindowManager();
        DeleteObject(red);
        DeleteObject(blue);
        ClearTestClock();
    }

    static void Register(const char16_t* name, HBRUSH background) {
        WNDCLASSW windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hbrBackground = background;
        windowClass.lpszClassName = name;
        ASSERT_NE(RegisterClassW(&windowClass), 0);
    }

    static HWND Make(const char16_t* className, uint32_t style, RECT r, HWND parent = 0) {
        return CreateWindowExW(0, className, u"", style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                               0, 0, nullptr);
    }

    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }

    static COLORREF ScreenAt(int x, int y) {
        const Surface32& screen = ScreenSurface();
        return ColorFromPixel(screen.pixels[static_cast<size_t>(y) * screen.stride + x] & 0xFFFFFF);
    }

    HBRUSH red = 0;
    HBRUSH blue = 0;
};

TEST_F(WindowPaintingTest, TheScreenIsComposedBottomToTopFromErasedWindows) {
    const HWND back = Make(u"Red", WS_VISIBLE, RECT{10, 40, 110, 140});
    const HWND front = Make(u"Blue", WS_VISIBLE, RECT{60, 90, 160, 190});
    Pump();
    ASSERT_TRUE(ComposeScreen());
    struct Case {
        int x, y;
        COLORREF colour;
    };
    const Case cases[] = {
        {10, 40, kRed}, {59, 89, kRed}, {60, 90, kBlue}, {109, 139, kBlue}, {159, 189, kBlue}, {9, 40, 0}, {160, 189, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ScreenAt(c.x, c.y), c.colour) << c.x << "," << c.y;
    EXPECT_FALSE(ComposeScreen()) << "nothing changed since";
    // Bringing the back window forward changes what is seen where they overlap.
    BringWindowToTop(back);
    ASSERT_TRUE(ComposeScreen());
    EXPECT_EQ(ScreenAt(80, 100), kRed);
    ShowWindow(back, SW_HIDE);
    ComposeScreen();
    EXPECT_EQ(ScreenAt(80, 100), kBlue);
    EXPECT_EQ(ScreenAt(20, 50), 0u);
    (void)front;
}

TEST_F(WindowPaintingTest, AChildDrawsOnlyInsideItselfAndItsParent) {
    const HWND top = Make(u"Blue", WS_VISIBLE, RECT{0, 30, 100, 130});
    // A child that reaches beyond its parent's right edge.
    const HWND child = Make(u"Blue", WS_CHILD | WS_VISIBLE, RECT{80, 10, 180, 50}, top);
    Pump();
    const HDC dc = GetDC(child);
    ASSERT_NE(dc, 0u);
    RECT everything{-1000, -1000, 1000, 1000};
    FillRect(dc, &everything, red);
    ReleaseDC(child, dc);
    ComposeScreen();
    EXPECT_EQ(ScreenAt(80, 40), kRed) << "the child's corner";
    EXPECT_EQ(ScreenAt(99, 79), kRed);
    EXPECT_EQ(ScreenAt(100, 40), 0u) << "beyond the parent: not drawn";
    EXPECT_EQ(ScreenAt(79, 40), kBlue) << "the parent beside the child";
    EXPECT_EQ(ScreenAt(80, 80), kBlue) << "below the child";
}

TEST_F(WindowPaintingTest, AFocusRectangleDrawnTwiceLeavesTheWindowAsItWas) {
    const HWND window = Make(u"Blue", WS_VISIBLE, RECT{0, 30, 100, 130});
    Pump();
    DrawTarget target;
    ASSERT_TRUE(GetWindowDrawTarget(window, false, &target));
    const std::vector<uint32_t> before(target.surface->pixels,
                                       target.surface->pixels + target.surface->width * target.surface->height);
    const HDC dc = GetDC(window);
    const RECT focus{10, 10, 50, 30};
    DrawFocusRect(dc, &focus);
    const std::vector<uint32_t> once(target.surface->pixels,
                                     target.surface->pixels + target.surface->width * target.surface->height);
    EXPECT_NE(once, before);
    DrawFocusRect(dc, &focus);
    ReleaseDC(window, dc);
    const std::vector<uint32_t> twice(target.surface->pixels,
                                      target.surface->pixels + target.surface->width * target.surface->height);
    EXPECT_EQ(twice, before);
}

TEST_F(WindowPaintingTest, WindowSurfacesAreBoundedByTheScreen) {
    const HWND huge = Make(u"Red", WS_VISIBLE, RECT{-500, -500, 32000, 32000});
    DrawTarget target;
    ASSERT_TRUE(GetWindowDrawTarget(huge, false, &target));
    EXPECT_EQ(target.surface->width, 240);
    EXPECT_EQ(target.surface->height, 320);
    EXPECT_EQ(target.origin.x, -500);
    Pump();
    ComposeScreen();
    EXPECT_EQ(ScreenAt(0, 0), kRed);
    EXPECT_EQ(ScreenAt(239, 319), kRed);
    // A window in front of the one covering the screen still shows.
    const HWND front = Make(u"Blue", WS_VISIBLE, RECT{10, 10, 20, 20});
    Pump();
    ComposeScreen();
    EXPECT_EQ(ScreenAt(10, 10), kBlue);
    EXPECT_EQ(ScreenAt(20, 20), kRed);
    DestroyWindow(front);
    const HWND away = Make(u"Red", WS_VISIBLE, RECT{1000, 1000, 1100, 1100});
    EXPECT_FALSE(GetWindowDrawTarget(away, false, &target)) << "nothing of it is on the screen";
    EXPECT_EQ(GetDC(away), 0u);
}

TEST_F(WindowPaintingTest, AWindowNothingDrewIsWhiteOnTheScreenAndThroughItsDc) {
    Register(u"Bare", 0);  // no background: erasing draws nothing
    const HWND window = Make(u"Bare", WS_VISIBLE, RECT{20, 40, 120, 140});
    MoveWindow(window, 30, 50, 60, 70, false);  // placed again before anything drew
    ComposeScreen();
    constexpr COLORREF kWhite = RGB(255, 255, 255);
    struct Case {
        int x, y;
        COLORREF colour;
    };
    const Case onScreen[] = {{30, 50, kWhite}, {89, 119, kWhite}, {29, 50, 0}, {90, 119, 0}, {25, 45, 0}};
    for (const Case& c : onScreen) EXPECT_EQ(ScreenAt(c.x, c.y), c.colour) << c.x << "," << c.y;
    const HDC dc = GetWindowDC(window);
    ASSERT_NE(dc, 0u);
    EXPECT_EQ(GetPixel(dc, 0, 0), kWhite);
    EXPECT_EQ(GetPixel(dc, 59, 69), kWhite);
    ReleaseDC(window, dc);
    // Drawing after the screen showed it blank shows the drawing.
    const HDC client = GetDC(window);
    const RECT corner{0, 0, 5, 5};
    FillRect(client, &corner, red);
    ReleaseDC(window, client);
    ComposeScreen();
    EXPECT_EQ(ScreenAt(30, 50), kRed);
    EXPECT_EQ(ScreenAt(35, 55), kWhite);
}

TEST_F(WindowPaintingTest, ADcKeptWhileItsWindowGrowsDrawsIntoTheNewSurface) {
    const HWND window = Make(u"Blue", WS_VISIBLE, RECT{0, 30, 100, 130});
    Pump();
    const HDC dc = GetWindowDC(window);
    ASSERT_NE(dc, 0u);
    MoveWindow(window, 0, 30, 200, 200, false);
    const RECT corner{0, 0, 10, 10};
    FillRect(dc, &corner, red);
    ReleaseDC(window, dc);
    ComposeScreen();
    EXPECT_EQ(ScreenAt(0, 30), kRed);
    EXPECT_EQ(ScreenAt(9, 39), kRed);
    EXPECT_EQ(ScreenAt(150, 150), RGB(255, 255, 255)) << "a new surface is blank until painted";
}

TEST_F(WindowPaintingTest, TheTaskBarShowsTheActiveTitle) {
    StartShell();
    const HWND window = Make(u"Blue", 0, RECT{0, 26, 240, 320});
    SetWindowTextW(window, u"Title");
    ShowWindow(window, SW_SHOW);
    Pump();
    ComposeScreen();
    const COLORREF caption = GetSysColor(COLOR_ACTIVECAPTION);
    EXPECT_EQ(ScreenAt(200, 2), caption) << "the bar's background";
    int textPixels = 0;
    for (int y = 0; y < kTaskBarHeight; ++y)
        for (int x = 0; x < 60; ++x) textPixels += ScreenAt(x, y) != caption;
    EXPECT_GT(textPixels, 20) << "the title's glyphs";
    SetWindowTextW(window, u"");
    Pump();
    ComposeScreen();
    textPixels = 0;
    for (int y = 0; y < kTaskBarHeight; ++y)
        for (int x = 0; x < 60; ++x) textPixels += ScreenAt(x, y) != caption;
    EXPECT_EQ(textPixels, 0) << "an empty title draws nothing";
}

}  // namespace
}  // namespace qob::platform
