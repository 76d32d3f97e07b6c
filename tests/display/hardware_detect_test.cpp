// tests/display/hardware_detect_test.cpp
// The detection matrix of the LCD-controller and graphics-chip steps: for
// each simulated device, the drivers found in order and the driver chosen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/chip_drivers.h"
#include "display/display_device_support.h"
#include "display/frame_buffer_drivers.h"
#include "display/hardware_profiles.h"
#include "display/lcd_drivers.h"
#include "display/rotation_driver.h"
#include "display/video_detect.h"

namespace qob {
namespace {

using testing::DisplayDeviceTest;

enum class Chosen { None, Gapi, Direct, Vga, StrongArm, XScale, Imageon, SlowFb };

Chosen KindOf(const Driver* driver) {
    if (auto* rotation = dynamic_cast<const RotationDriver*>(driver)) driver = &rotation->Inner();
    if (dynamic_cast<const GapiDriver*>(driver)) return Chosen::Gapi;
    if (dynamic_cast<const DirectDriver*>(driver)) return Chosen::Direct;
    if (dynamic_cast<const VgaDriver*>(driver)) return Chosen::Vga;
    if (dynamic_cast<const StrongArmDriver*>(driver)) return Chosen::StrongArm;
    if (dynamic_cast<const XScaleDriver*>(driver)) return Chosen::XScale;
    if (dynamic_cast<const Imageon100Driver*>(driver)) return Chosen::Imageon;
    if (dynamic_cast<const SlowFbDriver*>(driver)) return Chosen::SlowFb;
    return Chosen::None;
}

constexpr int32_t kRealClock = -1;
constexpr int32_t kFrozenClock = -2;  // the test clock, standing still

struct HardwareCase {
    std::string name;
    platform::DisplayDeviceProfile profile;
    int32_t mediaQMs;  // the scripted time of the MediaQ benchmark, or kRealClock
    std::vector<int32_t> found;
    Chosen chosen;
};

template <typename Change>
platform::DisplayDeviceProfile With(platform::DisplayDeviceProfile profile, Change change) {
    change(profile);
    return profile;
}

std::vector<HardwareCase> Cases() {
    using namespace testing;
    using Profile = platform::DisplayDeviceProfile;
    const std::vector<int32_t> escapeOnly{kDriverGdi, kDriverDirect};
    return {
        {"an active 16-bit XScale panel", XScaleProfile(), kRealClock, {kDriverGdi, kDriverDirect, kDriverXScale},
         Chosen::XScale},
        {"an XScale panel at 8 bpp is not offered", With(XScaleProfile(), [](Profile& p) { p.lcd.registers[3] = 3u << 24; }),
         kRealClock, escapeOnly, Chosen::Direct},
        {"a disabled XScale controller", With(XScaleProfile(), [](Profile& p) { p.lcd.registers[0] = 0x80; }),
         kRealClock, escapeOnly, Chosen::Direct},
        {"a passive 16-bit XScale panel is offered", With(XScaleProfile(), [](Profile& p) { p.lcd.registers[0] = 0x01; }),
         kRealClock, {kDriverGdi, kDriverDirect, kDriverXScale}, Chosen::XScale},
        {"an active 16-bit StrongARM panel", StrongArmProfile(), kRealClock,
         {kDriverGdi, kDriverDirect, kDriverStrongArm}, Chosen::StrongArm},
        {"a passive StrongARM panel is not offered",
         With(StrongArmProfile(), [](Profile& p) { p.lcd.registers[0] = 0x01; }), kRealClock, escapeOnly,
         Chosen::Direct},
        {"a StrongARM palette of 8 bpp", With(StrongArmProfile(), [](Profile& p) { p.lcd.firstPaletteEntry = 0x1000; }),
         kRealClock, escapeOnly, Chosen::Direct},
        {"a StrongARM palette of no depth", With(StrongArmProfile(), [](Profile& p) { p.lcd.firstPaletteEntry = 0x3ABC; }),
         kRealClock, escapeOnly, Chosen::Direct},
        {"a StrongARM palette with other bits set keeps 16 bpp",
         With(StrongArmProfile(), [](Profile& p) { p.lcd.firstPaletteEntry = 0xE123; }), kRealClock,
         {kDriverGdi, kDriverDirect, kDriverStrongArm}, Chosen::StrongArm},
        {"a StrongARM frame base outside the physical map finds nothing",
         With(StrongArmProfile(), [](Profile& p) { p.lcd.registers[4] = 0x12345678; }), kRealClock, escapeOnly,
         Chosen::Direct},
        {"CPU type 1 probes the StrongARM controller only", With(XScaleProfile(), [](Profile& p) { p.cpuType = 1; }),
         kRealClock, escapeOnly, Chosen::Direct},
        {"CPU type 2 probes the XScale controller only", With(StrongArmProfile(), [](Profile& p) { p.cpuType = 2; }),
         kRealClock, escapeOnly, Chosen::Direct},
        {"CPU type 0 probes no controller", With(XScaleProfile(), [](Profile& p) { p.cpuType = 0; }), kRealClock,
         escapeOnly, Chosen::Direct},
        {"a LCD controller with only the screen device context has no frame buffer to take",
         With(XScaleProfile(), [](Profile& p) { p.gxInfoEscape = false; }), kRealClock, {kDriverGdi, kDriverXScale},
         Chosen::None},
        {"a GAPI with its own buffer stops the probes",
         With(XScaleProfile(),
              [](Profile& p) {
                  p.libraries = {"coredll.dll", "gx.dll"};
                  p.gapiDramBuffer = true;
              }),
         kRealClock, {kDriverGdi, kDriverGapi}, Chosen::Gapi},
        {"Imageon100 on model 6", ImageonProfile(), kRealClock, {kDriverGdi, kDriverImageon100}, Chosen::Imageon},
        {"Imageon100 on model 7", With(ImageonProfile(), [](Profile& p) { p.oemInfo = "TOSHIBA E750"; }), kRealClock,
         {kDriverGdi, kDriverImageon100}, Chosen::Imageon},
        {"no Imageon100 on model 5", With(ImageonProfile(), [](Profile& p) { p.oemInfo = "Toshiba e330"; }),
         kRealClock, {kDriverGdi}, Chosen::None},
        {"no Imageon100 without its library", With(ImageonProfile(), [](Profile& p) { p.libraries = {"coredll.dll"}; }),
         kRealClock, {kDriverGdi}, Chosen::None},
        {"an Imageon100 whose surface cannot be had is found but does not initialise",
         With(ImageonProfile(), [](Profile& p) { p.chipSurfaceFails = true; }), kRealClock,
         {kDriverGdi, kDriverImageon100}, Chosen::None},
        {"an Imageon100 whose overlay cannot be had does not initialise",
         With(ImageonProfile(), [](Profile& p) { p.chipOverlayFails = true; }), kRealClock,
         {kDriverGdi, kDriverImageon100}, Chosen::None},
        {"an Imageon100 found stops the MediaQ probe",
         With(ImageonProfile(),
              [](Profile& p) {
                  p.gxInfoEscape = true;
                  p.videoPlacement = 0x42000;
              }),
         20, {kDriverGdi, kDriverDirect, kDriverImageon100}, Chosen::Imageon},
        {"a MediaQ: 14 ms", testing::MediaQProfile(), 14, {kDriverGdi, kDriverDirect, kDriverSlowFb}, Chosen::SlowFb},
        {"13 ms is no MediaQ", testing::MediaQProfile(), 13, escapeOnly, Chosen::Direct},
        {"a MediaQ at the last placement", With(testing::MediaQProfile(), [](Profile& p) { p.videoPlacement = 0x7FF00; }),
         30, {kDriverGdi, kDriverDirect, kDriverSlowFb}, Chosen::SlowFb},
        {"video memory below 0x42000 in its window is no MediaQ",
         With(testing::MediaQProfile(), [](Profile& p) { p.videoPlacement = 0x41FF0; }), 30, escapeOnly,
         Chosen::Direct},
        {"a frame of exactly 0x40000 bytes can be a MediaQ",
         With(testing::MediaQProfile(),
              [](Profile& p) {
                  p.screenHeight = 256;
                  p.panel = platform::PanelLayout{240, 256, 2, 480};
                  p.rowPadding = 1024 - 480;
              }),
         14, {kDriverGdi, kDriverDirect, kDriverSlowFb}, Chosen::SlowFb},
        {"a frame larger than 0x40000 bytes is no MediaQ",
         With(testing::MediaQProfile(),
              [](Profile& p) {
                  p.screenHeight = 256;
                  p.panel = platform::PanelLayout{240, 256, 2, 480};
                  p.rowPadding = 1024 + 64 - 480;
              }),
         30, escapeOnly, Chosen::Direct},
        {"an XScale found stops the MediaQ probe", With(XScaleProfile(), [](Profile& p) { p.videoPlacement = 0x42000; }),
         30, {kDriverGdi, kDriverDirect, kDriverXScale}, Chosen::XScale},
        {"a clock that stands still ends the MediaQ benchmark", testing::MediaQProfile(), kFrozenClock, escapeOnly,
         Chosen::Direct},
    };
}

class HardwareDetectTest : public DisplayDeviceTest {};

TEST_F(HardwareDetectTest, DetectionMatrix) {
    for (const HardwareCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        UseDevice(c.profile);
        ResetMilliseconds();
        platform::ClearTestClock();
        if (c.mediaQMs == kFrozenClock) platform::SetTestClock(5'000'000'000);
        if (c.mediaQMs >= 0) testing::ScriptMediaQTiming(c.mediaQMs);
        const uintptr_t window = windows.MakeWindow();
        DisplayParams params{0, 0, 4, 1};
        auto display = Display::Create(window, params);
        const VideoDetect& detect = TheVideoDetect();
        EXPECT_EQ(std::vector<int32_t>(detect.foundIds, detect.foundIds + detect.foundCount), c.found);
        EXPECT_EQ(display ? KindOf(display->Base().GetDriver()) : Chosen::None, c.chosen);
        if (display) {
            EXPECT_EQ(params.width, 240);
            EXPECT_EQ(params.height, c.profile.screenHeight);
        }
        display.reset();
        const platform::ChipState chip = platform::ReadChipState();
        EXPECT_EQ(chip.attached, 0);
        EXPECT_FALSE(chip.surface);
        EXPECT_FALSE(chip.overlay);
    }
}

// Detection calls the library only when it offers every entry the driver
// will call; without any one of them the chip is not found.
TEST_F(HardwareDetectTest, Imageon100NeedsEveryEntryTheDriverCalls) {
    for (const char* entry : testing::ChipEntries()) {
        SCOPED_TRACE(entry);
        auto profile = testing::ImageonProfile();
        profile.missingEntries = {entry};
        UseDevice(profile);
        EXPECT_FALSE(DetectImageon100());
        for (const std::string& call : platform::DisplayDeviceCalls()) EXPECT_FALSE(call.starts_with("AtiCore"));
        const uintptr_t window = windows.MakeWindow();
        Imageon100Driver driver;
        EXPECT_FALSE(driver.Initialize(window, DisplayParams{0, 0, 4, 1}, DriverInfo{240, 320, 16, 0, 0, 0, nullptr}));
    }
    UseDevice(testing::ImageonProfile());
    EXPECT_TRUE(DetectImageon100());
    EXPECT_EQ(platform::DisplayDeviceCalls(),
              (std::vector<std::string>{"AtiCore_ProcessAttach()", "AtiCore_ProcessDetach()"}));
}

}  // namespace
}  // namespace qob
