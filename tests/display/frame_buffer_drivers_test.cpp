// tests/display/frame_buffer_drivers_test.cpp
// The GAPI and frame-buffer drivers against their device libraries: the
// viewports and DMA rectangles they hand over, the DMA engine's wait, and
// libraries that lack entries.
#include "display/frame_buffer_drivers.h"
#include "display/gdi_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/display.h"
#include "display/display_device_support.h"

namespace qob {
namespace {

using testing::DisplayDeviceTest;

class FrameBufferDriversTest : public DisplayDeviceTest {
protected:
    std::unique_ptr<Display> Open(const platform::DisplayDeviceProfile& profile, int32_t orientation = 4) {
        UseDevice(profile);
        DisplayParams params{0, 0, orientation, 1};
        return Display::Create(windows.MakeWindow(), params);
    }
    static std::vector<std::string> Calls(std::string_view prefix) {
        std::vector<std::string> calls;
        for (const std::string& call : platform::DisplayDeviceCalls())
            if (call.starts_with(prefix)) calls.push_back(call);
        return calls;
    }
};

// The viewport is the band of picture rows the dirty rectangle covers, for
// each native orientation; the first one after start-up is the whole screen.
TEST_F(FrameBufferDriversTest, GapiViewportsFollowTheNativeOrientation) {
    struct Case {
        platform::PanelLayout panel;
        const char* first;
        const char* afterRect;
    };
    const Case cases[] = {
        {{240, 320, 2, 480}, "GXSetViewport(0, 320, 0, 0)", "GXSetViewport(5, 6, 0, 0)"},
        {{240, 320, 640, -2}, "GXSetViewport(0, 320, 0, 0)", "GXSetViewport(310, 7, 0, 0)"},
        {{240, 320, -2, -480}, "GXSetViewport(0, 320, 0, 0)", "GXSetViewport(309, 6, 0, 0)"},
        {{240, 320, -640, 2}, "GXSetViewport(0, 320, 0, 0)", "GXSetViewport(3, 7, 0, 0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.afterRect);
        auto profile = testing::GapiLandscapeDramProfile();
        profile.panel = c.panel;
        auto display = Open(profile);
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(Calls("GXSetViewport"), std::vector<std::string>{c.first});
        platform::ClearDisplayDeviceCalls();
        const Rect rect{3, 5, 10, 11};
        display->Base().SetDirtyRect(&rect);
        ASSERT_EQ(display->Base().BeginScene(), 1);
        EXPECT_EQ(display->Base().Present(0), 1);
        EXPECT_EQ(platform::DisplayDeviceCalls(),
                  (std::vector<std::string>{c.afterRect, "GXBeginDraw()", "GXEndDraw()"}));
        display.reset();
        ResetDisplayStatics();
    }
}

// Without a drawing copy GAPI sets no viewport; models 2 and 3 draw straight
// into the detected address, with no GXBeginDraw at all.
TEST_F(FrameBufferDriversTest, GapiWithoutDrawingCopyAndTheDirectModels) {
    struct Case {
        const char* oem;
        bool beginsDraw;
    };
    for (const Case& c : {Case{"Generic", true}, Case{"Compale P6C", false}, Case{"typhoon X", false}}) {
        SCOPED_TRACE(c.oem);
        auto profile = testing::GapiPortraitProfile();
        profile.oemInfo = c.oem;
        auto display = Open(profile);
        ASSERT_NE(display, nullptr);
        platform::ClearDisplayDeviceCalls();
        const Rect rect{3, 5, 10, 11};
        display->Base().SetDirtyRect(&rect);
        ASSERT_EQ(display->Base().BeginScene(), 1);
        EXPECT_EQ(display->Base().Present(0), 1);
        const std::vector<std::string> expected =
            c.beginsDraw ? std::vector<std::string>{"GXBeginDraw()", "GXEndDraw()"} : std::vector<std::string>{};
        EXPECT_EQ(Calls("GX"), expected);
        display.reset();
        ResetDisplayStatics();
    }
}

// The DMA rectangle starts at a multiple of 4 columns and spans a multiple
// of 4; the simulated engine keeps it on the screen.
TEST_F(FrameBufferDriversTest, DmaRectangleIsRoundedToFourColumns) {
    struct Case {
        Rect rect;
        const char* call;
    };
    const Case cases[] = {
        {{3, 5, 10, 11}, "DmaDRAMtoVRAM(0, 5, 12, 6)"},
        {{4, 0, 5, 1}, "DmaDRAMtoVRAM(4, 0, 4, 1)"},
        {{317, 0, 320, 240}, "DmaDRAMtoVRAM(316, 0, 4, 240)"},
        {{5, 5, 5, 5}, "DmaDRAMtoVRAM(0, 0, 0, 0)"},
    };
    auto display = Open(testing::DirectDmaProfile());
    ASSERT_NE(display, nullptr);
    ASSERT_EQ(display->Base().BeginScene(), 1);
    EXPECT_EQ(display->Base().Present(0), 1);
    EXPECT_EQ(Calls("Dma"), std::vector<std::string>{"DmaDRAMtoVRAM(0, 0, 320, 240)"});  // start-up: everything
    for (const Case& c : cases) {
        platform::ClearDisplayDeviceCalls();
        display->Base().SetDirtyRect(&c.rect);
        ASSERT_EQ(display->Base().BeginScene(), 1);
        EXPECT_EQ(display->Base().Present(0), 1);
        EXPECT_EQ(Calls("Dma"), std::vector<std::string>{c.call});
    }
    EXPECT_TRUE(platform::DisplayDeviceGuardsIntact());
}

// A DMA engine that reports busy for a while is waited for; one that never
// reports ready makes the Lock fail after a few frames of clock time.
TEST_F(FrameBufferDriversTest, DmaWaitIsBoundedByTheClock) {
    struct Case {
        int32_t busyReadings;
        int scene;
    };
    for (const Case& c : {Case{0, 1}, Case{40, 1}, Case{-1, 0}}) {
        SCOPED_TRACE(c.busyReadings);
        auto profile = testing::DirectDmaProfile();
        profile.dmaBusyReadings = c.busyReadings;
        auto display = Open(profile);
        ASSERT_NE(display, nullptr);
        platform::SetTestClock(1'000'000'000, 1'000'000);  // every reading a millisecond later
        EXPECT_EQ(display->Base().BeginScene(), c.scene);
        platform::ClearTestClock();
        display.reset();
        ResetDisplayStatics();
    }
}

TEST_F(FrameBufferDriversTest, MissingIsDmaReadyCountsAsReady) {
    auto profile = testing::DirectDmaProfile();
    profile.dmaBusyReadings = -1;
    profile.missingEntries = {"IsDMAReady"};
    auto display = Open(profile);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Base().BeginScene(), 1);
}

// A gxdma that cannot copy to video memory is no DMA: the driver draws
// through a back buffer (swap mode 0) and never calls the engine.
TEST_F(FrameBufferDriversTest, GxDmaWithoutDramToVramIsNoDma) {
    auto profile = testing::DirectDmaProfile();
    profile.missingEntries = {"DmaDRAMtoVRAM"};
    auto display = Open(profile);
    ASSERT_NE(display, nullptr);
    EXPECT_TRUE(display->Base().HasBackBuffer());
    EXPECT_EQ(display->Base().GetDriver()->info.swapMode, kSwapModeDirect);
    ASSERT_EQ(display->Base().BeginScene(), 1);
    EXPECT_EQ(display->Base().Present(0), 1);
    EXPECT_TRUE(Calls("Dma").empty());
}

// Each entry the GAPI driver calls is required; the others are not.
TEST_F(FrameBufferDriversTest, GapiNeedsEveryEntryItCalls) {
    const char* required[] = {
        "?GXOpenDisplay@@YAHPAUHWND__@@K@Z", "?GXCloseDisplay@@YAHXZ",
        "?GXBeginDraw@@YAPAXXZ",             "?GXEndDraw@@YAHXZ",
        "?GXGetDisplayProperties@@YA?AUGXDisplayProperties@@XZ",
        "?GXSuspend@@YAHXZ",                 "?GXResume@@YAHXZ",
        "?GXSetViewport@@YAHKKKK@Z",
    };
    const char* optional[] = {"?GXOpenInput@@YAHXZ", "?GXCloseInput@@YAHXZ",
                              "?GXGetDefaultKeys@@YA?AUGXKeyList@@H@Z", "?GXIsDisplayDRAMBuffer@@YAHXZ"};
    for (const char* entry : required) {
        SCOPED_TRACE(entry);
        auto profile = testing::GapiPortraitProfile();
        profile.missingEntries = {entry};
        // The screen's device context is all that is left.
        auto display = Open(profile);
        ASSERT_NE(display, nullptr);
        EXPECT_NE(dynamic_cast<const GdiDriver*>(display->Base().GetDriver()), nullptr);
        display.reset();
        ResetDisplayStatics();
    }
    for (const char* entry : optional) {
        SCOPED_TRACE(entry);
        auto profile = testing::GapiLandscapeDramProfile();
        profile.missingEntries = {entry};
        auto display = Open(profile);
        ASSERT_NE(display, nullptr);
        // Without GXIsDisplayDRAMBuffer the driver draws through a back buffer.
        EXPECT_EQ(display->Base().HasBackBuffer(), std::string_view(entry) == "?GXIsDisplayDRAMBuffer@@YAHXZ");
        display.reset();
        ResetDisplayStatics();
    }
}

TEST_F(FrameBufferDriversTest, RawFrameBufferGeometry) {
    UseDevice(testing::RawProfile());
    DriverInfo info = EmptyDriverInfo();
    ASSERT_TRUE(DetectGdi(info));
    ASSERT_TRUE(DetectVga(info));
    EXPECT_EQ(info.orientation, 3);
    EXPECT_EQ(info.width, 240);
    EXPECT_EQ(info.height, 320);
    EXPECT_EQ(info.pitch, 640);
    // The reported pointer is picture pixel (0, 0); the offset -204160 leads
    // to the first memory row.
    platform::RawFrameBufferInfo reply{};
    int32_t escape = platform::GETRAWFRAMEBUFFER;
    ASSERT_EQ(platform::DeviceEscape(platform::QUERYESCSUPPORT,
                                     std::span<const uint8_t>(reinterpret_cast<uint8_t*>(&escape), 4), {}),
              1);
    ASSERT_EQ(platform::DeviceEscape(platform::GETRAWFRAMEBUFFER, {},
                                     std::span<uint8_t>(reinterpret_cast<uint8_t*>(&reply), sizeof reply)),
              1);
    EXPECT_EQ(info.frameBuffer - reply.framePointer, -204160);
    EXPECT_EQ(info.frameBuffer, platform::VideoMemory());
}

}  // namespace
}  // namespace qob
