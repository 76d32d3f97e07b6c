// tests/display/display_test.cpp
// The display object: dirty rectangles, the window subclassing and its
// messages, full-screen and key handling, scenes across suspension, and
// destruction inside a scene.
#include "display/display.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "display/device_libraries.h"
#include "display/display_canvas.h"
#include "display/display_device_support.h"
#include "display/frame_buffer_drivers.h"
#include "display/rotation_driver.h"
#include "platform/memory.h"

namespace qob {
namespace {

using testing::DisplayDeviceTest;

class DisplayTest : public DisplayDeviceTest {
protected:
    std::unique_ptr<Display> Open(const platform::DisplayDeviceProfile& profile, int32_t orientation = 4) {
        UseDevice(profile);
        window = windows.MakeWindow();
        DisplayParams params{0, 0, orientation, 1};
        return Display::Create(window, params);
    }

    std::vector<std::string> CallsStartingWith(std::string_view prefix) const {
        std::vector<std::string> calls;
        for (const std::string& call : platform::DisplayDeviceCalls())
            if (call.starts_with(prefix)) calls.push_back(call);
        return calls;
    }

    uintptr_t window = 0;
};

TEST_F(DisplayTest, DirtyRectanglesAreKeptOnScreenAndRoundedOutToEven) {
    struct Case {
        int32_t width, height, pitch;
        Rect asked;
        Rect kept;
    };
    const Case cases[] = {
        {240, 320, 480, {3, 5, 10, 11}, {2, 4, 10, 12}},
        {240, 320, 480, {300, 400, 350, 500}, {0, 0, 0, 0}},
        {240, 320, 480, {-5, -5, 17, 9}, {0, 0, 18, 10}},
        {240, 320, 480, {5, 5, 5, 9}, {0, 0, 0, 0}},
        {240, 320, 480, {-10, -10, -5, -5}, {0, 0, 0, 0}},
        {240, 320, 480, {239, 319, 240, 320}, {238, 318, 240, 320}},
        {240, 320, 480, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {0, 0, 240, 320}},
        {237, 317, 474, {0, 0, 237, 317}, {0, 0, 237, 317}},
        {237, 317, 474, {235, 315, 236, 316}, {234, 314, 236, 316}},
        {237, 317, 474, {236, 316, 999, 999}, {236, 316, 237, 317}},
        {237, 317, 474, {1, 1, 236, 2}, {0, 0, 236, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + ": {" + std::to_string(c.asked.left) + ", " +
                     std::to_string(c.asked.top) + ", " + std::to_string(c.asked.right) + ", " +
                     std::to_string(c.asked.bottom) + "}");
        auto display = Open(testing::RawProfileOf("upright", {c.width, c.height, 2, c.pitch}));
        ASSERT_NE(display, nullptr);
        DisplayBase& base = display->Base();
        EXPECT_EQ(base.DirtyRect(), (Rect{0, 0, c.width, c.height}));  // after start-up
        base.SetDirtyRect(&c.asked);
        EXPECT_EQ(base.DirtyRect(), c.kept);
        EXPECT_EQ(base.FullPitch(), 2 * (c.kept.right - c.kept.left) == c.pitch && !IsRectEmpty(c.kept));
        base.SetDirtyRect(nullptr);
        EXPECT_EQ(base.DirtyRect(), (Rect{0, 0, c.width, c.height}));
        display.reset();
        ResetDisplayStatics();
    }
}

// An odd-width screen whose frame buffer rows are exactly the screen wide:
// the rectangle is the full pitch of the frame buffer but not of the back
// buffer (its rows are 4-byte aligned), so rows are copied one by one.
TEST_F(DisplayTest, BlockCopyOnlyWhenBothBuffersHaveTheRectanglesPitch) {
    auto display = Open(testing::RawProfileOf("tight", {237, 5, 2, 474}));
    ASSERT_NE(display, nullptr);
    DisplayBase& base = display->Base();
    ASSERT_EQ(base.BeginScene(), 1);
    PixelBuffer& back = *base.GetBackBuffer();
    ASSERT_EQ(back.pitch, 476);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 237; ++x) *PixelAt(back, x, y) = uint16_t(y * 1000 + x);
    base.SetDirtyRect(nullptr);
    EXPECT_TRUE(base.FullPitch());
    EXPECT_EQ(base.Present(0), 1);
    const platform::PanelPicture panel = platform::ReadPanel();
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 237; ++x) ASSERT_EQ(panel.At(x, y), uint16_t(y * 1000 + x)) << x << ", " << y;
    EXPECT_TRUE(platform::DisplayDeviceGuardsIntact());
}

TEST_F(DisplayTest, SceneNeedsAnActiveDisplayAndALockedFrameBuffer) {
    auto display = Open(testing::GapiPortraitProfile());
    ASSERT_NE(display, nullptr);
    platform::ClearDisplayDeviceCalls();
    DisplayBase& base = display->Base();
    EXPECT_EQ(base.GetBackBuffer(), nullptr);
    EXPECT_EQ(base.Present(0), 0);  // outside a scene
    ASSERT_EQ(base.BeginScene(), 1);
    EXPECT_EQ(base.BeginScene(), 1);  // already locked: no second GXBeginDraw
    EXPECT_EQ(CallsStartingWith("GXBeginDraw").size(), 1u);
    EXPECT_NE(base.GetBackBuffer(), nullptr);
    EXPECT_EQ(base.Present(0), 1);
    EXPECT_EQ(CallsStartingWith("GXEndDraw").size(), 1u);
    EXPECT_EQ(base.GetBackBuffer(), nullptr);
}

TEST_F(DisplayTest, FailedLockGivesNoScene) {
    auto profile = testing::GapiPortraitProfile();
    auto display = Open(profile);
    ASSERT_NE(display, nullptr);
    profile.gapiBeginDrawFails = true;
    platform::SelectDisplayDevice(profile);
    EXPECT_EQ(display->Base().BeginScene(), 0);
    EXPECT_EQ(display->Base().GetBackBuffer(), nullptr);
}

// The subclass procedure: activation resumes and suspends, painting
// repaints, destruction restores the previous procedure before passing the
// message on; every message reaches the previous procedure.
TEST_F(DisplayTest, SubclassedWindowFollowsActivationPaintingAndDestruction) {
    auto display = Open(testing::GapiPortraitProfile());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(windows.ProcedureOf(window), &DisplayWindowProcedure);
    EXPECT_EQ(CountSubclassedWindows(), 1);
    platform::ClearDisplayDeviceCalls();
    windows.log.clear();

    EXPECT_EQ(windows.Send(window, kMessageActivate, 0), 7);
    EXPECT_FALSE(display->Base().IsActive());
    EXPECT_EQ(display->Base().BeginScene(), 0);
    EXPECT_EQ(windows.Send(window, kMessageActivate, 0x10001), 7);
    EXPECT_TRUE(display->Base().IsActive());
    windows.Send(window, kMessagePaint);
    windows.Send(window, 0x0100);  // any other message
    const std::string id = std::to_string(window);
    EXPECT_EQ(windows.log, (std::vector<std::string>{"original " + id + " 6", "original " + id + " 6",
                                                     "original " + id + " 15", "original " + id + " 256"}));
    const std::vector<std::string> expected = {
        "SHFullScreen(0x100, 0x15)", "GXSuspend()", "SHFullScreen(0x100, 0x2a)", "GXResume()"};
    EXPECT_EQ(platform::DisplayDeviceCalls(), expected);

    windows.log.clear();
    windows.Destroy(window);
    EXPECT_EQ(CountSubclassedWindows(), 0);
    EXPECT_EQ(windows.log, (std::vector<std::string>{"SetWindowProcedure", "original " + id + " 2"}));

    // A window the table does not hold goes to the default procedure.
    windows.log.clear();
    EXPECT_EQ(DisplayWindowProcedure(0x999, kMessagePaint, 0, 0), 0);
    EXPECT_EQ(windows.log, (std::vector<std::string>{"default 2457 15"}));
}

TEST_F(DisplayTest, NoDisplayForAGoneWindowARefusedSubclassOrAFullTable) {
    UseDevice(testing::RawProfile());
    DisplayParams params{0, 0, 4, 1};
    EXPECT_EQ(Display::Create(0x5555, params), nullptr);  // no such window

    windows.refuseSubclassing = true;
    EXPECT_EQ(Display::Create(windows.MakeWindow(), params), nullptr);
    windows.refuseSubclassing = false;

    std::vector<std::unique_ptr<Display>> displays;
    for (int32_t i = 0; i < kMaxSubclassedWindows; ++i) {
        displays.push_back(Display::Create(windows.MakeWindow(), params));
        ASSERT_NE(displays.back(), nullptr) << i;
    }
    EXPECT_EQ(Display::Create(windows.MakeWindow(), params), nullptr);
    EXPECT_EQ(CountSubclassedWindows(), kMaxSubclassedWindows);

    // Removal moves the last entry into the freed place: the others still work.
    displays[3].reset();
    EXPECT_EQ(CountSubclassedWindows(), kMaxSubclassedWindows - 1);
    displays.push_back(Display::Create(windows.MakeWindow(), params));
    EXPECT_NE(displays.back(), nullptr);
    displays.clear();
    EXPECT_EQ(CountSubclassedWindows(), 0);
}

TEST_F(DisplayTest, ASecondDisplayOnTheSameWindowIsRefused) {
    auto display = Open(testing::RawProfile());
    ASSERT_NE(display, nullptr);
    DisplayParams params{0, 0, 4, 1};
    EXPECT_EQ(Display::Create(window, params), nullptr);
    EXPECT_EQ(CountSubclassedWindows(), 1);
    display.reset();
    EXPECT_NE(windows.ProcedureOf(window), &DisplayWindowProcedure);
}

// All keys go to the program while the display lives; the task bar hides.
TEST_F(DisplayTest, KeysAndFullScreenThroughTheDeviceLibraries) {
    auto display = Open(testing::GapiPortraitProfile());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(platform::ReadDisplayDeviceState().allKeys, 1);
    EXPECT_EQ(CallsStartingWith("SHFullScreen"), (std::vector<std::string>{"SHFullScreen(0x100, 0x2a)"}));
    display.reset();
    EXPECT_EQ(platform::ReadDisplayDeviceState().allKeys, 0);
}

// Without aygshell, the task bar window is hidden and shown through the window
// layer; without coredll's AllKeys, the value is kept by the binding.
TEST_F(DisplayTest, FallbacksHideAndShowTheTaskBarWindowAndKeepAllKeys) {
    auto profile = testing::RawProfile();
    profile.libraries = {"coredll.dll"};
    profile.missingEntries = {"AllKeys", "SetKMode"};
    UseDevice(profile);
    windows.MakeTaskBar();
    window = windows.MakeWindow();
    windows.log.clear();
    DisplayParams params{0, 0, 4, 1};
    auto display = Display::Create(window, params);
    ASSERT_NE(display, nullptr);
    const std::string bar = std::to_string(windows.taskBar);
    EXPECT_EQ(windows.log, (std::vector<std::string>{"SetWindowProcedure", "ShowWindow " + bar + " 0"}));
    windows.log.clear();
    display->Base().Suspend();
    display->Base().Resume();
    EXPECT_EQ(windows.log, (std::vector<std::string>{"ShowWindow " + bar + " 5", "ShowWindow " + bar + " 0"}));
    EXPECT_EQ(CoreDll().AllKeys(1), 1);  // the display's own AllKeys(1) was kept
    EXPECT_EQ(CoreDll().SetKMode(1), 0);
    EXPECT_EQ(platform::ReadDisplayDeviceState().kernelMode, 0);
    EXPECT_TRUE(CallsStartingWith("AllKeys").empty());

    // Without a task bar window the fallback still answers 1.
    windows.taskBar = 0;
    EXPECT_EQ(AygShell().SHFullScreen(window, 0x2A), 1);
}

// Suspending inside a scene drops the locked frame buffer without GXEndDraw;
// the frame is not presented, and after resuming a new scene opens.
TEST_F(DisplayTest, SuspendInsideASceneDropsTheLockedFrameBuffer) {
    UseDevice(testing::GapiLandscapeDramProfile());
    window = windows.MakeWindow();
    DisplayParams params{0, 0, 4, 1};
    Canvas* canvas = CreateDisplayCanvas(window, &params);
    ASSERT_NE(canvas, nullptr);
    platform::ClearDisplayDeviceCalls();
    ASSERT_NE(CanvasBeginScene(canvas), nullptr);
    windows.Send(window, kMessageActivate, 0);
    EXPECT_EQ(CanvasUpdate(canvas, nullptr), 0);
    EXPECT_EQ(CanvasBeginScene(canvas), nullptr);
    EXPECT_TRUE(CallsStartingWith("GXEndDraw").empty());
    windows.Send(window, kMessageActivate, 1);
    ASSERT_NE(CanvasBeginScene(canvas), nullptr);
    EXPECT_EQ(CanvasUpdate(canvas, nullptr), 1);
    EXPECT_EQ(CallsStartingWith("GXEndDraw").size(), 1u);
    DestroyCanvas(canvas);
    platform::FreeBlock(canvas);
}

// A display canvas destroyed inside a scene unlocks the frame buffer before
// its driver goes, and leaves the display's buffers to the display.
TEST_F(DisplayTest, DestroyingADisplayCanvasInsideASceneUnlocksFirst) {
    for (auto profile : {testing::GapiLandscapeDramProfile(), testing::RawProfile()}) {
        SCOPED_TRACE(profile.name);
        UseDevice(profile);
        window = windows.MakeWindow();
        for (int32_t orientation : {4, 0}) {
            DisplayParams params{0, 0, orientation, 1};
            Canvas* canvas = CreateDisplayCanvas(window, &params);
            ASSERT_NE(canvas, nullptr);
            PixelSurface* surface = CanvasBeginScene(canvas);
            ASSERT_NE(surface, nullptr);
            EXPECT_EQ(canvas->target, surface);
            EXPECT_FALSE(surface->ownsBuffer);
            platform::ClearDisplayDeviceCalls();
            DestroyCanvas(canvas);
            EXPECT_EQ(canvas->display, nullptr);
            EXPECT_EQ(platform::ReadDisplayDeviceState().gapiBeginDraws, 0);
            const std::vector<std::string> calls = CallsStartingWith("GX");
            if (profile.gapiDramBuffer) {
                ASSERT_EQ(calls.size(), 2u);
                EXPECT_EQ(calls[0], "GXEndDraw()");
                EXPECT_EQ(calls[1], "GXCloseDisplay()");
            }
            platform::FreeBlock(canvas);
        }
    }
}

// CanvasBeginScene and CanvasUpdate only serve display canvases.
TEST_F(DisplayTest, SurfaceCanvasesHaveNoScene) {
    PixelSurface* surface = NewSurface(4, 4);
    ASSERT_NE(surface, nullptr);
    Canvas* canvas = CreateSurfaceCanvas(surface);
    EXPECT_EQ(CanvasBeginScene(canvas), nullptr);
    EXPECT_EQ(CanvasUpdate(canvas, nullptr), 0);
    DestroyCanvas(canvas);
    platform::FreeBlock(canvas);
    SurfaceRelease(surface);
    platform::FreeBlock(surface);
    DisplayParams params{0, 0, 4, 1};
    EXPECT_EQ(CreateDisplayCanvas(0x4242, &params), nullptr);
}

// The wait flag reaches the driver's wait and the after-wait copy, which
// gives the same picture as the plain one.
TEST_F(DisplayTest, PresentWithTheWaitFlagGivesTheSamePicture) {
    for (uint32_t flags : {0u, kPresentAfterWait}) {
        for (int32_t orientation : {0, 1, 2, 3}) {
            SCOPED_TRACE(std::to_string(flags) + " " + std::to_string(orientation));
            auto display = Open(testing::GapiLandscapeProfile(), orientation);
            ASSERT_NE(display, nullptr);
            DisplayBase& base = display->Base();
            ASSERT_EQ(base.BeginScene(), 1);
            PixelBuffer& buffer = *base.GetBackBuffer();
            for (int32_t y = 0; y < buffer.height; ++y)
                for (int32_t x = 0; x < buffer.width; ++x) *PixelAt(buffer, x, y) = uint16_t(x * 3 + y * 509);
            EXPECT_EQ(base.Present(flags), 1);
            static platform::PanelPicture reference[4];
            const platform::PanelPicture shown = platform::ReadPanel();
            if (flags == 0)
                reference[orientation] = shown;
            else
                EXPECT_EQ(shown.pixels, reference[orientation].pixels);
            display.reset();
            ResetDisplayStatics();
        }
    }
}

}  // namespace
}  // namespace qob
