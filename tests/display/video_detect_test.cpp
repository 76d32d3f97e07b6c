// tests/display/video_detect_test.cpp
// The detection matrix: for each simulated device, the drivers found in
// order, the detected description, the modes, the driver chosen and the
// params a display returns.
#include "display/video_detect.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "display/display_canvas.h"
#include "display/display_device_support.h"
#include "display/frame_buffer_drivers.h"
#include "display/gdi_driver.h"
#include "display/rotation_driver.h"
#include "platform/memory.h"

namespace qob {
namespace {

using testing::DisplayDeviceTest;

enum class Chosen { None, Gdi, Gapi, Direct, Vga };

// Where the detected address points: nowhere, video memory, or the device's
// drawing copy.
enum class Address { None, Video, Drawing };

struct DetectionCase {
    std::string name;
    platform::DisplayDeviceProfile profile;
    std::vector<int32_t> found;
    DriverInfo info;  // frameBuffer unused: see address
    Address address;
    std::vector<DisplayMode> modes;
    int32_t askedOrientation;
    Chosen chosen;
    bool rotated;
    DisplayParams returned;
};

platform::DisplayDeviceProfile WithOem(platform::DisplayDeviceProfile profile, const char* oem) {
    profile.oemInfo = oem;
    return profile;
}

platform::DisplayDeviceProfile WithoutEntry(platform::DisplayDeviceProfile profile, const char* entry) {
    profile.missingEntries.push_back(entry);
    return profile;
}

platform::DisplayDeviceProfile AtDepth(platform::DisplayDeviceProfile profile, int32_t bits) {
    profile.bitsPerPixel = bits;
    return profile;
}

platform::DisplayDeviceProfile WithGxInfo(platform::DisplayDeviceProfile profile) {
    profile.gxInfoEscape = true;
    return profile;
}

constexpr DisplayMode kPortraitModes[] = {{240, 320, 0}, {320, 240, 1}, {240, 320, 2}, {320, 240, 3}};

std::vector<DisplayMode> Modes(std::initializer_list<DisplayMode> modes) { return modes; }
std::vector<DisplayMode> PortraitModes() { return {std::begin(kPortraitModes), std::end(kPortraitModes)}; }

std::vector<DetectionCase> Cases() {
    using namespace testing;
    const DriverInfo portraitInfo{240, 320, 16, 480, 0, 0, nullptr};
    const DriverInfo landscapeMemory{320, 240, 16, 640, 1, 0, nullptr};
    auto noGapiRaw = RawProfile();
    noGapiRaw.libraries = {"gx.dll"};
    noGapiRaw.missingEntries = {"?GXSetViewport@@YAHKKKK@Z"};
    return {
        {"desktop: the screen device context only", platform::DesktopDisplayProfile(), {kDriverGdi},
         DriverInfo{240, 320, 16, 0, 0, 0, nullptr}, Address::None, PortraitModes(), 4, Chosen::Gdi, false, {240, 320, 0, 2}},
        {"gapi portrait, any orientation", GapiPortraitProfile(), {kDriverGdi, kDriverGapi}, portraitInfo, Address::Video,
         PortraitModes(), 4, Chosen::Gapi, false, {240, 320, 0, 2}},
        {"gapi portrait turned a quarter", GapiPortraitProfile(), {kDriverGdi, kDriverGapi}, portraitInfo, Address::Video,
         PortraitModes(), 1, Chosen::Gapi, true, {320, 240, 1, 2}},
        {"gapi landscape memory with a drawing copy", GapiLandscapeDramProfile(), {kDriverGdi, kDriverGapi},
         DriverInfo{320, 240, 16, 640, 1, 2, nullptr}, Address::Drawing,
         Modes({{320, 240, 1}, {240, 320, 2}, {320, 240, 3}, {240, 320, 0}}), 4, Chosen::Gapi, false,
         {320, 240, 1, 2}},
        {"gapi landscape memory asked upright", GapiLandscapeProfile(), {kDriverGdi, kDriverGapi}, landscapeMemory,
         Address::Video, Modes({{320, 240, 1}, {240, 320, 2}, {320, 240, 3}, {240, 320, 0}}), 0, Chosen::Gapi, true,
         {240, 320, 0, 2}},
        {"gx.dll that lacks an entry the driver calls is no GAPI, and hides the escape",
         WithGxInfo(WithoutEntry(GapiPortraitProfile(), "?GXSetViewport@@YAHKKKK@Z")), {kDriverGdi},
         DriverInfo{240, 320, 16, 0, 0, 0, nullptr}, Address::None, PortraitModes(), 4, Chosen::Gdi, false, {240, 320, 0, 2}},
        {"gx.dll whose display cannot open", [] {
             auto profile = GapiPortraitProfile();
             profile.gapiOpenFails = true;
             return profile;
         }(),
         {kDriverGdi}, DriverInfo{240, 320, 16, 0, 0, 0, nullptr}, Address::None, PortraitModes(), 4, Chosen::Gdi, false,
         {240, 320, 0, 2}},
        {"gapi whose size is not the screen's", [] {
             auto profile = GapiPortraitProfile();
             profile.screenWidth = 320;
             return profile;
         }(),
         {kDriverGdi}, DriverInfo{240, 320, 16, 480, 0, 0, nullptr}, Address::Video,
         PortraitModes(), 4, Chosen::Gdi, false, {240, 320, 0, 2}},
        {"model 2 draws straight into the detected address", WithOem(GapiPortraitProfile(), "Compale P6C rev 2"),
         {kDriverGdi, kDriverGapi}, portraitInfo, Address::Video, PortraitModes(), 0, Chosen::Gapi, false, {240, 320, 0, 2}},
        {"model 9 offers neither GAPI nor the escape", WithOem(WithGxInfo(GapiPortraitProfile()), "SGH-i607"),
         {kDriverGdi}, DriverInfo{240, 320, 16, 0, 0, 0, nullptr}, Address::None, PortraitModes(), 4, Chosen::Gdi, false,
         {240, 320, 0, 2}},
        {"an 8-bit screen stops after the device context", AtDepth(GapiPortraitProfile(), 8), {kDriverGdi},
         DriverInfo{240, 320, 8, 0, 0, 0, nullptr}, Address::None, PortraitModes(), 4, Chosen::Gdi, false, {240, 320, 0, 2}},
        {"the escape's frame buffer, padded rows", DirectProfile(), {kDriverGdi, kDriverDirect},
         DriverInfo{240, 320, 16, 512, 0, 0, nullptr}, Address::Video, PortraitModes(), 4, Chosen::Direct, false,
         {240, 320, 0, 2}},
        {"the escape's landscape memory copied by DMA", DirectDmaProfile(), {kDriverGdi, kDriverDirect},
         landscapeMemory, Address::Drawing, Modes({{320, 240, 1}, {240, 320, 2}, {320, 240, 3}, {240, 320, 0}}), 4,
         Chosen::Direct, false, {320, 240, 1, 2}},
        {"a gxdma without DmaDRAMtoVRAM is no DMA", WithoutEntry(DirectDmaProfile(), "DmaDRAMtoVRAM"),
         {kDriverGdi, kDriverDirect}, landscapeMemory, Address::Drawing,
         Modes({{320, 240, 1}, {240, 320, 2}, {320, 240, 3}, {240, 320, 0}}), 1, Chosen::Direct, false,
         {320, 240, 1, 2}},
        {"raw frame buffer with negative x strides", RawProfile(), {kDriverGdi, kDriverVga},
         DriverInfo{240, 320, 16, 640, 3, 0, nullptr}, Address::Video,
         Modes({{240, 320, 3}, {320, 240, 0}, {240, 320, 1}, {320, 240, 2}}), 4, Chosen::Vga, false,
         {240, 320, 3, 2}},
        {"raw frame buffer behind a gx.dll that is no GAPI", noGapiRaw, {kDriverGdi, kDriverVga},
         DriverInfo{240, 320, 16, 640, 3, 0, nullptr}, Address::Video,
         Modes({{240, 320, 3}, {320, 240, 0}, {240, 320, 1}, {320, 240, 2}}), 0, Chosen::Vga, true,
         {320, 240, 0, 2}},
        {"raw frame buffer that is not RGB565", [] {
             auto profile = RawProfile();
             profile.rawFormat = 2;
             return profile;
         }(),
         {kDriverGdi}, DriverInfo{320, 240, 16, 0, 0, 0, nullptr}, Address::None,
         Modes({{320, 240, 0}, {240, 320, 1}, {320, 240, 2}, {240, 320, 3}}), 4, Chosen::Gdi, false, {320, 240, 0, 2}},
        {"model 8 overrides the raw orientation", WithOem(RawProfileOf("upright raw", {240, 320, 2, 480}), "MotoQ"),
         {kDriverGdi, kDriverVga}, DriverInfo{240, 320, 16, 480, 3, 0, nullptr}, Address::Video,
         Modes({{240, 320, 3}, {320, 240, 0}, {240, 320, 1}, {320, 240, 2}}), 3, Chosen::Vga, false,
         {240, 320, 3, 2}},
        {"an OEM string longer than the row-8 prefix is no model 8",
         WithOem(RawProfileOf("upright raw", {240, 320, 2, 480}), "MotoQ12"), {kDriverGdi, kDriverVga},
         DriverInfo{240, 320, 16, 480, 0, 0, nullptr}, Address::Video, PortraitModes(), 0, Chosen::Vga, false,
         {240, 320, 0, 2}},
        {"a screen not of multiples of 16 offers its native mode alone",
         RawProfileOf("odd", {240, 321, 2, 480}), {kDriverGdi, kDriverVga},
         DriverInfo{240, 321, 16, 480, 0, 0, nullptr}, Address::Video, Modes({{240, 321, 0}}), 1, Chosen::None, false, {}},
        {"a turned screen not of multiples of 16 adds the upright mode",
         RawProfileOf("odd turned", {250, 330, 660, -2}), {kDriverGdi, kDriverVga},
         DriverInfo{330, 250, 16, 660, 1, 0, nullptr}, Address::Video, Modes({{330, 250, 1}, {250, 330, 0}}), 0, Chosen::Vga,
         true, {250, 330, 0, 2}},
        {"a half-turned screen not of multiples of 16 keeps its sizes upright",
         RawProfileOf("odd half", {237, 317, -2, -480}), {kDriverGdi, kDriverVga},
         DriverInfo{237, 317, 16, 480, 2, 0, nullptr}, Address::Video, Modes({{237, 317, 2}, {237, 317, 0}}), 0, Chosen::Vga,
         true, {237, 317, 0, 2}},
    };
}

Chosen KindOf(const Driver* driver) {
    if (auto* rotation = dynamic_cast<const RotationDriver*>(driver)) driver = &rotation->Inner();
    if (dynamic_cast<const GapiDriver*>(driver)) return Chosen::Gapi;
    if (dynamic_cast<const DirectDriver*>(driver)) return Chosen::Direct;
    if (dynamic_cast<const VgaDriver*>(driver)) return Chosen::Vga;
    if (dynamic_cast<const GdiDriver*>(driver)) return Chosen::Gdi;
    return Chosen::None;
}

class VideoDetectTest : public DisplayDeviceTest {};

TEST_F(VideoDetectTest, DetectionMatrix) {
    for (const DetectionCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        UseDevice(c.profile);
        const uintptr_t window = windows.MakeWindow();
        DisplayParams params{0, 0, c.askedOrientation, 1};
        auto display = Display::Create(window, params);
        const VideoDetect& detect = TheVideoDetect();

        EXPECT_EQ(std::vector<int32_t>(detect.foundIds, detect.foundIds + detect.foundCount), c.found);
        const DriverInfo& info = detect.info;
        EXPECT_EQ(info.width, c.info.width);
        EXPECT_EQ(info.height, c.info.height);
        EXPECT_EQ(info.bitsPerPixel, c.info.bitsPerPixel);
        EXPECT_EQ(info.pitch, c.info.pitch);
        EXPECT_EQ(info.orientation, c.info.orientation);
        EXPECT_EQ(info.swapMode, c.info.swapMode);
        switch (c.address) {
            case Address::None: EXPECT_EQ(info.frameBuffer, nullptr); break;
            case Address::Video: EXPECT_EQ(info.frameBuffer, platform::VideoMemory()); break;
            case Address::Drawing:
                EXPECT_NE(info.frameBuffer, nullptr);
                EXPECT_NE(info.frameBuffer, platform::VideoMemory());
                break;
        }
        EXPECT_EQ(std::vector<DisplayMode>(detect.modes, detect.modes + detect.modeCount), c.modes);

        if (c.chosen == Chosen::None) {
            EXPECT_EQ(display, nullptr);
            continue;
        }
        ASSERT_NE(display, nullptr);
        const Driver* driver = display->Base().GetDriver();
        auto* rotation = dynamic_cast<const RotationDriver*>(driver);
        EXPECT_EQ(rotation != nullptr, c.rotated);
        EXPECT_EQ(params.width, c.returned.width);
        EXPECT_EQ(params.height, c.returned.height);
        EXPECT_EQ(params.orientation, c.returned.orientation);
        EXPECT_EQ(params.swapEffect, c.returned.swapEffect);
        EXPECT_EQ(driver->info.width, params.width);
        EXPECT_EQ(driver->info.height, params.height);
        EXPECT_EQ(driver->info.orientation, params.orientation);
        EXPECT_EQ(KindOf(driver), c.chosen);
    }
}

// Orientation 4 passes the mode check and never adds a rotation driver; a
// mode that is not listed gives no display.
TEST_F(VideoDetectTest, ChooseDriverChecksTheAskedOrientationAgainstTheModes) {
    UseDevice(testing::RawProfileOf("odd", {240, 321, 2, 480}));
    const uintptr_t window = windows.MakeWindow();
    for (int32_t asked = 0; asked <= 4; ++asked) {
        SCOPED_TRACE(asked);
        ResetDisplayStatics();
        DisplayParams params{0, 0, asked, 1};
        auto display = Display::Create(window, params);
        EXPECT_EQ(display != nullptr, asked == 0 || asked == 4);
    }
}

TEST_F(VideoDetectTest, DetectionTurnsTheSystemOrientationToTheModelsWantedOne) {
    struct Case {
        const char* oem;
        int32_t systemBefore;
        int32_t systemAfter;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"MotoQ", 0, 3, {"ChangeDisplaySettingsEx(query)", "ChangeDisplaySettingsEx(set 1)"}},
        {"MotoQ", 3, 3, {"ChangeDisplaySettingsEx(query)"}},
        {"Generic", 2, 0, {"ChangeDisplaySettingsEx(query)", "ChangeDisplaySettingsEx(set 0)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oem);
        auto profile = testing::RawProfile();
        profile.oemInfo = c.oem;
        profile.systemOrientation = c.systemBefore;
        profile.libraries = {"coredll.dll"};
        UseDevice(profile);
        (void)TheVideoDetect();
        std::vector<std::string> calls;
        for (const std::string& call : platform::DisplayDeviceCalls())
            if (call.starts_with("ChangeDisplaySettingsEx")) calls.push_back(call);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(platform::ActiveDisplayDevice().systemOrientation, c.systemAfter);
    }
}

// Without coredll's entry, the orientation reads as 0 and setting it does
// nothing.
TEST_F(VideoDetectTest, MissingChangeDisplaySettingsReadsOrientationZero) {
    auto profile = testing::RawProfile();
    profile.libraries = {"coredll.dll"};
    profile.missingEntries = {"ChangeDisplaySettingsEx"};
    profile.systemOrientation = 2;
    UseDevice(profile);
    EXPECT_EQ(GetDisplayOrientation(), 0);
    SetDisplayOrientation(3);
    EXPECT_EQ(platform::ActiveDisplayDevice().systemOrientation, 2);
}

// When both GAPI and a later driver are found, the later one is tried first;
// a driver that fails to initialise makes way for the one found before it.
TEST_F(VideoDetectTest, DriversAreTriedFromTheLastFound) {
    auto profile = testing::GapiPortraitProfile();
    profile.rawFrameBufferEscape = true;
    UseDevice(profile);
    const uintptr_t window = windows.MakeWindow();
    DisplayParams params{0, 0, 4, 1};
    auto display = Display::Create(window, params);
    ASSERT_NE(display, nullptr);
    const VideoDetect& detect = TheVideoDetect();
    EXPECT_EQ(std::vector<int32_t>(detect.foundIds, detect.foundIds + detect.foundCount),
              (std::vector<int32_t>{kDriverGdi, kDriverGapi, kDriverVga}));
    EXPECT_NE(dynamic_cast<const VgaDriver*>(display->Base().GetDriver()), nullptr);
    EXPECT_FALSE(detect.probeHardware);

    // The raw buffer cannot be had now: GAPI is next.
    display.reset();
    ResetDisplayStatics();
    profile.rawFrameBufferEscape = false;
    UseDevice(profile);
    display = Display::Create(window, params);
    ASSERT_NE(display, nullptr);
    EXPECT_NE(dynamic_cast<const GapiDriver*>(display->Base().GetDriver()), nullptr);
    EXPECT_TRUE(TheVideoDetect().probeHardware);  // GAPI without a drawing copy leaves the probes to run
}

}  // namespace
}  // namespace qob
