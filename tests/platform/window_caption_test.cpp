// tests/platform/window_caption_test.cpp
// The caption of WS_CAPTION windows: SM_CYCAPTION pixels above the client
// area, painted with the title (and the OK box of WS_EX_CAPTIONOKBTN) as the
// same picture drawn with the renderer's primitives, a new title painted at
// once, and taps on the caption: WM_COMMAND IDOK for a tap released on the
// OK box, nothing for the client otherwise.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/message_box.h"
#include "platform/window_manager.h"

namespace qob::platform {
namespace {

std::vector<MSG> gHeard;

LRESULT Recording(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP)
        gHeard.push_back(MSG{window, message, wParam, lParam});
    return DefWindowProcW(window, message, wParam, lParam);
}

class WindowCaptionTest : public testing::Test {
protected:
    void SetUp() override {
        ResetWindowManager();
        SetIdlePolicy(IdlePolicy::Fail);
        SetTestClock(1'000'000'000);
        gHeard.clear();
        WNDCLASSW windowClass;
        windowClass.lpfnWndProc = Recording;
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = u"Captioned";
        ASSERT_NE(RegisterClassW(&windowClass), 0);
    }
    void TearDown() override {
        ResetWindowManager();
        ClearTestClock();
    }
    static HWND Make(uint32_t exStyle, const char16_t* title) {
        return CreateWindowExW(exStyle, u"Captioned", title, WS_POPUP | WS_CAPTION | WS_VISIBLE, 20, 40, 200, 150, 0, 0,
                               0, nullptr);
    }
    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        (void)TakeIdleFailure();
    }
    // The window's caption rows on the screen against the picture drawn here.
    static ::testing::AssertionResult CaptionMatches(HWND window, const char16_t* title, bool okBox) {
        Pump();
        ComposeScreen();
        const Surface32& screen = ScreenSurface();
        const int32_t width = 200, rows = 1 + kCaptionHeight;
        const HDC dc = CreateCompatibleDC(0);
        const HBITMAP bitmap = CreateCompatibleBitmap(dc, width, rows);
        SelectObject(dc, bitmap);
        const RECT frame{0, 0, width, 150};
        FrameRect(dc, &frame, GetSysColorBrush(COLOR_WINDOWFRAME));
        const RECT bar{1, 1, width - 1, 1 + kCaptionHeight};
        FillRect(dc, &bar, GetSysColorBrush(COLOR_ACTIVECAPTION));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
        RECT text{bar.left + 4, bar.top, bar.right - 2, bar.bottom};
        if (okBox) {
            RECT ok{bar.right - 2 - kCaptionOkWidth, bar.top + 3, bar.right - 2, bar.bottom - 3};
            text.right = ok.left - 2;
            FrameRect(dc, &ok, GetSysColorBrush(COLOR_CAPTIONTEXT));
            DrawTextW(dc, u"OK", 2, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        }
        DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        const Surface32* picture = GetDCSurface(dc);
        RECT rect{};
        GetWindowRect(window, &rect);
        int differing = 0;
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < width; ++x)
                differing += (picture->pixels[static_cast<size_t>(y) * picture->stride + x] & 0xFFFFFF) !=
                             (screen.pixels[static_cast<size_t>(rect.top + y) * screen.stride + rect.left + x] & 0xFFFFFF);
        DeleteDC(dc);
        DeleteObject(bitmap);
        if (differing == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << differing << " pixels differ";
    }
};

TEST_F(WindowCaptionTest, TheCaptionTakesItsHeightFromTheClientArea) {
    EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), kCaptionHeight);
    const HWND window = Make(0, u"Title");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 200 - 2);
    EXPECT_EQ(client.bottom, 150 - 2 - kCaptionHeight);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, 21);
    EXPECT_EQ(origin.y, 40 + 1 + kCaptionHeight);
    // A border alone has no caption.
    const HWND bordered = CreateWindowExW(0, u"Captioned", u"", WS_POPUP | WS_BORDER, 0, 0, 50, 50, 0, 0, 0, nullptr);
    GetClientRect(bordered, &client);
    EXPECT_EQ(client.bottom, 48);
}

TEST_F(WindowCaptionTest, TheCaptionShowsTheTitleAndTheOkBox) {
    const HWND plain = Make(0, u"Settings");
    EXPECT_TRUE(CaptionMatches(plain, u"Settings", false));
    DestroyWindow(plain);
    const HWND dialog = Make(WS_EX_CAPTIONOKBTN, u"Choose");
    EXPECT_TRUE(CaptionMatches(dialog, u"Choose", true));
    SetWindowTextW(dialog, u"Renamed");
    EXPECT_TRUE(CaptionMatches(dialog, u"Renamed", true));
    EXPECT_FALSE(CaptionMatches(dialog, u"Choose", true));
}

TEST_F(WindowCaptionTest, ATapOnTheOkBoxSendsIdok) {
    const HWND dialog = Make(WS_EX_CAPTIONOKBTN, u"Choose");
    const RECT ok = CaptionOkRect(dialog);
    ASSERT_LT(ok.left, ok.right);
    struct Case {
        POINT down, up;
        bool command;
    };
    const Case cases[] = {
        {{ok.left + 2, ok.top + 2}, {ok.left + 2, ok.top + 2}, true},
        {{ok.left + 2, ok.top + 2}, {30, 45}, false},     // released on the title
        {{ok.left + 2, ok.top + 2}, {60, 120}, false},    // released over the client
        {{30, 45}, {ok.left + 2, ok.top + 2}, false},     // pressed on the title
    };
    for (const Case& c : cases) {
        gHeard.clear();
        InjectStylus(c.down.x, c.down.y, StylusAction::Down);
        InjectStylus(c.up.x, c.up.y, StylusAction::Up);
        Pump();
        size_t commands = 0;
        for (const MSG& heard : gHeard) {
            EXPECT_NE(heard.message, WM_LBUTTONDOWN) << "the caption's press reached the client";
            if (heard.message == WM_COMMAND) {
                ++commands;
                EXPECT_EQ(heard.wParam, static_cast<WPARAM>(IDOK));
            }
        }
        EXPECT_EQ(commands, c.command ? 1u : 0u) << c.down.x << "," << c.down.y << " -> " << c.up.x << "," << c.up.y;
    }
    // Without the style there is no box.
    const HWND plain = Make(0, u"Plain");
    EXPECT_EQ(CaptionOkRect(plain).right, 0);
    gHeard.clear();
    InjectTap(ok.left + 2, ok.top + 2);
    Pump();
    for (const MSG& heard : gHeard) EXPECT_NE(heard.message, WM_COMMAND);
    // The client still hears its own taps.
    InjectTap(60, 120);
    Pump();
    ASSERT_FALSE(gHeard.empty());
    EXPECT_EQ(gHeard.back().message, WM_LBUTTONUP);
}

}  // namespace
}  // namespace qob::platform
