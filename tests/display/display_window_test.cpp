// tests/display/display_window_test.cpp
// A display over a window of the window manager itself: the subclassing
// follows activation and destruction, and without aygshell the task bar
// window is hidden and shown again.
#include "display/display_window.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "display/display.h"
#include "display/display_device_support.h"
#include "platform/display_device.h"
#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob {
namespace {

int gActivations = 0;

platform::LRESULT GameWindowProcedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                      platform::LPARAM lParam) {
    if (message == platform::WM_ACTIVATE) ++gActivations;
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

class DisplayOnWindowManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetWindowManager();
        ResetDisplayStatics();
        auto profile = testing::RawProfile();
        profile.libraries = {"coredll.dll"};
        platform::SelectDisplayDevice(profile);
        for (const char16_t* name : {u"QobGame", u"HHTaskBar"}) {
            platform::WNDCLASSW windowClass;
            windowClass.lpfnWndProc = &GameWindowProcedure;
            windowClass.lpszClassName = name;
            ASSERT_NE(platform::RegisterClassW(&windowClass), 0);
        }
        taskBar = platform::CreateWindowExW(0, u"HHTaskBar", u"", platform::WS_POPUP | platform::WS_VISIBLE, 0, 0,
                                            240, 26, 0, 0, 0, nullptr);
        window = platform::CreateWindowExW(0, u"QobGame", u"game", platform::WS_POPUP | platform::WS_VISIBLE, 0, 0,
                                           240, 320, 0, 0, 0, nullptr);
        ASSERT_NE(taskBar, 0u);
        ASSERT_NE(window, 0u);
        gActivations = 0;
    }
    void TearDown() override {
        ResetDisplayStatics();
        platform::ResetWindowManager();
        platform::SelectDisplayDevice(platform::DesktopDisplayProfile());
    }

    platform::HWND taskBar = 0;
    platform::HWND window = 0;
};

TEST_F(DisplayOnWindowManagerTest, SubclassingFollowsActivationAndDestruction) {
    DisplayParams params{0, 0, 4, 1};
    auto display = Display::Create(window, params);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(platform::GetWindowLongPtrW(window, platform::GWL_WNDPROC),
              reinterpret_cast<intptr_t>(&DisplayWindowProcedure));
    EXPECT_FALSE(platform::IsWindowVisible(taskBar));

    platform::SendMessageW(window, platform::WM_ACTIVATE, platform::WA_INACTIVE, 0);
    EXPECT_FALSE(display->Base().IsActive());
    EXPECT_TRUE(platform::IsWindowVisible(taskBar));
    platform::SendMessageW(window, platform::WM_ACTIVATE, platform::WA_ACTIVE, 0);
    EXPECT_TRUE(display->Base().IsActive());
    EXPECT_FALSE(platform::IsWindowVisible(taskBar));
    EXPECT_GE(gActivations, 2);  // the window's own procedure still sees them (showing the bar adds its own)

    ASSERT_TRUE(platform::DestroyWindow(window));
    EXPECT_EQ(CountSubclassedWindows(), 0);
    display.reset();
    DisplayParams again{0, 0, 4, 1};
    EXPECT_EQ(Display::Create(window, again), nullptr);  // the window is gone
}

// On a device whose driver is not the GDI driver, the window shows what the
// panel shows after each present.
TEST_F(DisplayOnWindowManagerTest, TheWindowShowsThePanelAfterEachPresent) {
    DisplayParams params{0, 0, 4, 1};
    auto display = Display::Create(window, params);
    ASSERT_NE(display, nullptr);
    for (uint16_t seed : {0x1234, 0xBEEF}) {
        SCOPED_TRACE(seed);
        ASSERT_EQ(display->Base().BeginScene(), 1);
        const PixelBuffer& buffer = *display->Base().GetBackBuffer();
        for (int32_t y = 0; y < buffer.height; ++y)
            for (int32_t x = 0; x < buffer.width; ++x) *PixelAt(buffer, x, y) = uint16_t(x * 131 + y * 7 + seed);
        display->Base().SetDirtyRect(nullptr);
        ASSERT_EQ(display->Base().Present(0), 1);
        const platform::PanelPicture panel = platform::ReadPanel();
        const platform::HDC dc = platform::GetDC(window);
        const platform::Surface32* surface = platform::GetDCSurface(dc);
        ASSERT_NE(surface, nullptr);
        int differing = 0;
        // The window is 240 x 320, the panel 320 x 240: what both cover.
        for (int32_t y = 0; y < std::min(panel.height, surface->height); ++y)
            for (int32_t x = 0; x < std::min(panel.width, surface->width); ++x)
                differing += surface->pixels[size_t(y) * size_t(surface->stride) + size_t(x)] !=
                             platform::PixelFrom565(panel.At(x, y));
        platform::ReleaseDC(window, dc);
        EXPECT_EQ(differing, 0);
        // And the panel holds this frame, not the last one.
        EXPECT_EQ(panel.At(0, 0) == uint16_t(seed) || panel.At(panel.width - 1, 0) == uint16_t(seed) ||
                      panel.At(0, panel.height - 1) == uint16_t(seed) ||
                      panel.At(panel.width - 1, panel.height - 1) == uint16_t(seed),
                  true);
    }
}

}  // namespace
}  // namespace qob
