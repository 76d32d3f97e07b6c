// tests/platform/window_caption_test.cpp
// The caption bar of a top-level WS_CAPTION window: the client area below
// it, its picture by the pixels against the same drawing made here, and the
// taps on it (the OK button posts IDOK, the rest of the bar takes its taps).

#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/window_manager.h"

namespace qob::platform {
namespace {

constexpr uint32_t kDialogStyle = WS_POPUP | WS_CAPTION | WS_VISIBLE;

class WindowCaptionTest : public testing::Test {
protected:
    void SetUp() override {
        ResetWindowManager();
        SetIdlePolicy(IdlePolicy::Fail);
        SetTestClock(1'000'000'000);
        WNDCLASSW windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hbrBackground = GetStockObject(WHITE_BRUSH);
        windowClass.lpszClassName = u"Captioned";
        ASSERT_NE(RegisterClassW(&windowClass), 0);
    }

    void TearDown() override {
        ResetWindowManager();
        ClearTestClock();
    }

    static HWND Make(uint32_t exStyle, uint32_t style, RECT r, const char16_t* title = u"Title") {
        return CreateWindowExW(exStyle, u"Captioned", title, style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                               0, 0, 0, nullptr);
    }

    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
};

TEST_F(WindowCaptionTest, TheClientAreaLiesBelowTheBar) {
    struct Case {
        uint32_t style;
        int32_t clientHeight;
        int32_t clientWidth;
    };
    const Case cases[] = {
        // A caption's style holds the border's bit: a 1-pixel border round it all.
        {kDialogStyle, 100 - kCaptionHeight - 2, 198},
        {WS_POPUP | WS_BORDER | WS_VISIBLE, 98, 198},  // a border alone is no caption
        {WS_POPUP | 0x00400000u | WS_VISIBLE, 100, 200},
    };
    for (const Case& c : cases) {
        const HWND window = Make(0, c.style, RECT{10, 40, 210, 140});
        ASSERT_NE(window, 0u);
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.bottom, c.clientHeight) << std::hex << c.style;
        EXPECT_EQ(client.right, c.clientWidth) << std::hex << c.style;
        RECT caption{};
        EXPECT_EQ(GetCaptionRect(window, &caption), (c.style & WS_CAPTION) == WS_CAPTION) << std::hex << c.style;
        DestroyWindow(window);
    }
    // A child's caption bits make no bar.
    const HWND parent = Make(0, kDialogStyle, RECT{0, 30, 240, 300});
    const HWND child = CreateWindowExW(0, u"Captioned", u"", WS_CHILD | WS_CAPTION | WS_VISIBLE, 0, 0, 50, 50, parent,
                                       0, 0, nullptr);
    RECT client{};
    GetClientRect(child, &client);
    EXPECT_EQ(client.bottom, 48);
}

TEST_F(WindowCaptionTest, TheBarShowsTheTitleAndTheOkButton) {
    struct Case {
        uint32_t exStyle;
        const char16_t* title;
    };
    const Case cases[] = {{WS_EX_CAPTIONOKBTN, u"Question"}, {0, u"Question"}, {WS_EX_CAPTIONOKBTN, u""}};
    for (const Case& c : cases) {
        const RECT place{20, 60, 220, 180};
        const HWND window = Make(c.exStyle, kDialogStyle, place, c.title);
        ASSERT_NE(window, 0u);
        Pump();
        DrawTarget shown;
        ASSERT_TRUE(GetWindowDrawTarget(window, true, &shown));

        // The same picture drawn here: inside the 1-pixel border the bar
        // 198 x 24, the title from 4 in, the button 28 wide 4 from the
        // bar's right, 3 from its top and bottom.
        const int32_t width = place.right - place.left;
        const int32_t height = kCaptionHeight + 1;
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0x123456);
        Surface32 surface{pixels.data(), width, height, width};
        DrawTarget target{&surface, POINT{0, 0}, RECT{0, 0, width, height}};
        const HDC dc = CreateTargetDC(target);
        ASSERT_NE(dc, 0u);
        RECT bar{1, 1, width - 1, 1 + kCaptionHeight};
        FillRect(dc, &bar, GetSysColorBrush(COLOR_ACTIVECAPTION));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, SYS_COLOR_INDEX_FLAG | COLOR_CAPTIONTEXT);
        const bool ok = c.exStyle & WS_EX_CAPTIONOKBTN;
        RECT button{bar.right - 4 - kCaptionOkWidth, bar.top + 3, bar.right - 4, bar.bottom - 3};
        RECT title{bar.left + 4, bar.top, ok ? button.left - 2 : bar.right, bar.bottom};
        const std::u16string text(c.title);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &title, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        if (ok) {
            FrameRect(dc, &button, GetSysColorBrush(COLOR_CAPTIONTEXT));
            DrawTextW(dc, u"OK", 2, &button, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
        DeleteTargetDC(dc);

        int differing = 0;
        for (int32_t y = 1; y < height; ++y)
            for (int32_t x = 1; x < width - 1; ++x) {
                const uint32_t got = shown.surface->pixels[static_cast<size_t>(y + shown.origin.y) * shown.surface->stride +
                                                           x + shown.origin.x] & 0xFFFFFF;
                differing += got != (pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF);
            }
        EXPECT_EQ(differing, 0) << static_cast<int>(ok) << " " << text.size();
        // Below the bar the class background fills the client area.
        const uint32_t below = shown.surface->pixels[static_cast<size_t>(height + 5 + shown.origin.y) *
                                                         shown.surface->stride + 5 + shown.origin.x];
        EXPECT_EQ(below & 0xFFFFFF, 0xFFFFFFu);
        DestroyWindow(window);
    }
}

TEST_F(WindowCaptionTest, TapsOnTheBar) {
    struct Case {
        POINT at;
        bool okButton;
        std::vector<UINT> posted;  // to the window
    };
    // The window at (20, 60), 200 wide: its bar spans x 21-219, y 61-85, its
    // OK button x 187-215, y 64-82.
    const Case cases[] = {
        {{200, 70}, true, {WM_COMMAND}},
        {{200, 70}, false, {}},
        {{50, 70}, true, {}},
        {{100, 120}, true, {WM_LBUTTONDOWN, WM_LBUTTONUP}},
    };
    for (const Case& c : cases) {
        const HWND window = Make(c.okButton ? WS_EX_CAPTIONOKBTN : 0, kDialogStyle, RECT{20, 60, 220, 180});
        ASSERT_NE(window, 0u);
        Pump();
        InjectTap(c.at.x, c.at.y);
        std::vector<UINT> posted;
        MSG message;
        while (PeekQueuedMessage(&message, 0, 0, 0, true)) {
            if (message.hwnd != window) continue;
            posted.push_back(message.message);
            if (message.message == WM_COMMAND) {
                EXPECT_EQ(message.wParam, 1u);
            }
            if (message.message == WM_LBUTTONDOWN) {
                EXPECT_EQ(message.lParam & 0xFFFF, c.at.x - 21);
                EXPECT_EQ((message.lParam >> 16) & 0xFFFF, c.at.y - 61 - kCaptionHeight) << "client coordinates";
            }
        }
        EXPECT_EQ(posted, c.posted) << c.at.x << "," << c.at.y << " ok " << c.okButton;
        DestroyWindow(window);
    }
}

}  // namespace
}  // namespace qob::platform
