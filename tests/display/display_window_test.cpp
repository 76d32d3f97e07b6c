// tests/display/display_window_test.cpp
// A display over a window of the window manager itself: the subclassing
// follows activation and destruction, and without aygshell the task bar
// window is hidden and shown again.
#include "display/display_window.h"

#include <gtest/gtest.h>

#include "display/display.h"
#include "display/display_device_support.h"
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

}  // namespace
}  // namespace qob
