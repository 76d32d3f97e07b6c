// tests/display/lcd_drivers_test.cpp
// The LCD-controller probes over register files, the physical mapping, the
// frame-buffer address (model-1 override, bit-29 alias) and the wait for
// the controller's scan, driven through DisplayPresent.
#include "display/lcd_drivers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/device_model.h"
#include "display/display_device_support.h"
#include "display/hardware_profiles.h"
#include "display/video_detect.h"

namespace qob {
namespace {

using testing::DisplayDeviceTest;

class LcdDriversTest : public DisplayDeviceTest {};

TEST_F(LcdDriversTest, PageSizeIsTheSystemsAndMappingsStayInsideTheMap) {
    EXPECT_EQ(PageSize(), uint32_t(sysconf(_SC_PAGESIZE)));
    UseDevice(testing::XScaleProfile());
    struct Case {
        uint32_t address;
        uint32_t size;
        bool mapped;
    };
    const uint32_t video = testing::kVideoAddress;
    const Case cases[] = {
        {platform::kXScaleRegisterAddress, 544, true},
        {platform::kXScaleRegisterAddress + 540, 4, true},
        {platform::kXScaleRegisterAddress + 540, 8, false},
        {platform::kXScaleRegisterAddress - 4, 8, false},
        {platform::kXScaleRegisterAddress, 0, false},
        {video, 480 * 320, true},
        {video + 480 * 320 - 2, 2, true},
        {video + 480 * 320 - 2, 4, false},
        {video & ~platform::kAliasBit, 2, false},  // no alias
        {platform::kStrongArmRegisterAddress, 4, false},
        {0xFFFFFFF0u, 0x20, false},
        {0, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.address) + " + " + std::to_string(c.size));
        uint8_t* pointer = MapPhysical(c.address, c.size, false);
        EXPECT_EQ(pointer != nullptr, c.mapped);
        UnmapPhysical(pointer);
    }
    EXPECT_EQ(MapPhysical(video + 100, 4, true), platform::VideoMemory() + 100);
}

struct ProbeCase {
    std::string name;
    int32_t kind;
    std::vector<uint32_t> registers;
    uint16_t palette;
    bool found;
    LcdProbe expected;  // registers unused
};

std::vector<ProbeCase> ProbeCases() {
    constexpr uint32_t base = testing::kFrameBase;
    auto xscale = [](uint32_t control, uint32_t width, uint32_t height, uint32_t depth) {
        return std::vector<uint32_t>{control, width, height, depth << 24};
    };
    auto strongarm = [](uint32_t control, uint32_t width, uint32_t height) {
        return std::vector<uint32_t>{control, 0, 0, 0, base, 0, 0, 0, width, height};
    };
    return {
        {"xscale 16 bpp active", 2, xscale(0x81, 239, 319, 4), 0, true, {nullptr, 0, 240, 320, false, false, 0, 16, 480}},
        {"xscale 16 bpp, rows of 8 pixels", 2, xscale(0x81, 233, 99, 4), 0, true,
         {nullptr, 0, 234, 100, false, false, 0, 16, 480}},
        {"xscale 16 bpp passive, rows of 4 pixels", 2, xscale(0x01, 233, 99, 4), 0, true,
         {nullptr, 0, 234, 100, false, true, 0, 16, 472}},
        {"xscale width and height take ten bits", 2, xscale(0x81, 0xFC00 | 239, 0xFC00 | 319, 4), 0, true,
         {nullptr, 0, 240, 320, false, false, 0, 16, 480}},
        {"xscale 8 bpp", 2, xscale(0x81, 236, 99, 3), 0, false, {nullptr, 0, 237, 100, false, false, 512, 8, 240}},
        {"xscale 8 bpp passive", 2, xscale(0x01, 236, 99, 3), 0, false, {nullptr, 0, 237, 100, false, true, 512, 8, 240}},
        {"xscale 4 bpp", 2, xscale(0x81, 236, 99, 2), 0, false, {nullptr, 0, 237, 100, false, false, 32, 4, 120}},
        {"xscale 2 bpp monochrome double", 2, xscale(0x283, 236, 99, 1), 0, false,
         {nullptr, 0, 237, 100, true, false, 8, 2, 60}},
        {"xscale 1 bpp", 2, xscale(0x81, 236, 99, 0), 0, false, {nullptr, 0, 237, 100, false, false, 8, 1, 30}},
        {"xscale unknown depth", 2, xscale(0x81, 236, 99, 5), 0, false, {nullptr, 0, 237, 100, false, false, 0, 0, 0}},
        {"xscale disabled", 2, xscale(0x80, 239, 319, 4), 0, false, {}},
        {"strongarm 16 bpp active", 1, strongarm(0x81, 224, 319), 0x2000, true,
         {nullptr, base, 240, 320, false, false, 32, 16, 480}},
        {"strongarm rows of 16 pixels", 1, strongarm(0x83, 221, 99), 0x2000, true,
         {nullptr, base, 237, 100, true, false, 32, 16, 480}},
        {"strongarm passive", 1, strongarm(0x01, 224, 319), 0x2000, false,
         {nullptr, base, 240, 320, false, true, 32, 16, 480}},
        {"strongarm 8 bpp", 1, strongarm(0x81, 224, 319), 0x1000, false,
         {nullptr, base, 240, 320, false, false, 512, 8, 240}},
        {"strongarm 4 bpp", 1, strongarm(0x81, 221, 319), 0x0FFF, false,
         {nullptr, base, 237, 320, false, false, 32, 4, 120}},
        {"strongarm no depth", 1, strongarm(0x81, 224, 319), 0x3000, false,
         {nullptr, base, 240, 320, false, false, 0, 0, 0}},
        {"strongarm disabled", 1, strongarm(0x80, 224, 319), 0x2000, false, {}},
    };
}

TEST_F(LcdDriversTest, ProbesReadTheControllersRegisters) {
    for (const ProbeCase& c : ProbeCases()) {
        SCOPED_TRACE(c.name);
        auto profile = c.kind == 1 ? testing::StrongArmProfile() : testing::XScaleProfile();
        profile.lcd.registers = c.registers;
        profile.lcd.firstPaletteEntry = c.palette;
        UseDevice(profile);
        const LcdProbe& probe = *LcdProbeForCpu(c.kind);
        EXPECT_EQ(probe.Found(), c.found);
        EXPECT_EQ(probe.frameBase, c.expected.frameBase);
        EXPECT_EQ(probe.width, c.expected.width);
        EXPECT_EQ(probe.height, c.expected.height);
        EXPECT_EQ(probe.monochrome, c.expected.monochrome);
        EXPECT_EQ(probe.passive, c.expected.passive);
        EXPECT_EQ(probe.paletteBytes, c.expected.paletteBytes);
        EXPECT_EQ(probe.bitsPerPixel, c.expected.bitsPerPixel);
        EXPECT_EQ(probe.stride, c.expected.stride);
        // Registers are read through the device's accessor, once per probe.
        const size_t readings = platform::RegisterReadings().size();
        EXPECT_GT(readings, 0u);
        (void)LcdProbeForCpu(c.kind);
        EXPECT_EQ(platform::RegisterReadings().size(), readings);
    }
    EXPECT_EQ(LcdProbeForCpu(0), nullptr);
}

struct AddressCase {
    std::string name;
    platform::DisplayDeviceProfile profile;
    bool initialises;
    uint32_t frameAddress;
    int32_t orientation;
};

std::vector<AddressCase> AddressCases() {
    using testing::kVideoAddress;
    auto with = [](platform::DisplayDeviceProfile profile, const char* oem, uint32_t address, platform::AliasKind alias) {
        profile.oemInfo = oem;
        profile.videoAddress = address;
        profile.videoAlias = alias;
        return profile;
    };
    const uint32_t cleared = kVideoAddress & ~platform::kAliasBit;
    using platform::AliasKind;
    std::vector<AddressCase> cases;
    for (auto make : {&testing::StrongArmProfile, &testing::XScaleProfile}) {
        const platform::DisplayDeviceProfile base = make();
        cases.push_back({base.name + ": an alias with the same bytes replaces the address",
                         with(base, "Generic", kVideoAddress, AliasKind::Same), true, cleared, 0});
        cases.push_back({base.name + ": an alias with other bytes keeps it",
                         with(base, "Generic", kVideoAddress, AliasKind::Other), true, kVideoAddress, 0});
        cases.push_back({base.name + ": an unmapped alias keeps it",
                         with(base, "Generic", kVideoAddress, AliasKind::None), true, kVideoAddress, 0});
        cases.push_back({base.name + ": an address without bit 29 is kept",
                         with(base, "Generic", testing::kPlainVideoAddress, AliasKind::Same), true,
                         testing::kPlainVideoAddress, 0});
    }
    cases.push_back({"model 1 overrides the StrongARM's address and orientation",
                     with(testing::StrongArmProfile(), "Compaq iPAQ H3800", kModelOneFrameAddress, AliasKind::Same),
                     true, kModelOneFrameAddress & ~platform::kAliasBit, 3});
    cases.push_back({"model 1's address kept when its alias differs",
                     with(testing::StrongArmProfile(), "Compaq iPAQ H3800", kModelOneFrameAddress, AliasKind::Other),
                     true, kModelOneFrameAddress, 3});
    cases.push_back({"model 1 whose fixed address is not mapped",
                     with(testing::StrongArmProfile(), "Compaq iPAQ H3800", kVideoAddress, AliasKind::Same), false, 0,
                     0});
    cases.push_back({"model 1 has no override on an XScale",
                     with(testing::XScaleProfile(), "Compaq iPAQ H3800", kVideoAddress, AliasKind::None), true,
                     kVideoAddress, 0});
    return cases;
}

TEST_F(LcdDriversTest, FrameAddressFollowsTheModelAndTheAlias) {
    for (const AddressCase& c : AddressCases()) {
        SCOPED_TRACE(c.name);
        UseDevice(c.profile);
        const uintptr_t window = windows.MakeWindow();
        const VideoDetect& detect = TheVideoDetect();
        ASSERT_EQ(detect.foundIds[detect.foundCount - 1], c.profile.cpuType == 1 ? kDriverStrongArm : kDriverXScale);
        std::unique_ptr<Driver> driver = CreateDriver(c.profile.cpuType == 1 ? kDriverStrongArm : kDriverXScale);
        ASSERT_NE(driver, nullptr);
        const bool initialised = driver->Initialize(window, DisplayParams{0, 0, 4, 1}, detect.info);
        ASSERT_EQ(initialised, c.initialises);
        if (!initialised) continue;
        const auto& lcd = static_cast<const LcdDriver&>(*driver);
        EXPECT_EQ(lcd.FrameAddress(), c.frameAddress);
        EXPECT_EQ(driver->info.orientation, c.orientation);
        EXPECT_EQ(driver->info.swapMode, kSwapModeDirect);
        PixelBuffer* frame = driver->Lock();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->bits, platform::PhysicalToHost(c.frameAddress, 2));
        EXPECT_EQ(frame->pitch, 480);
    }
    // Without a window or a detected address, no driver.
    UseDevice(testing::XScaleProfile());
    XScaleDriver driver;
    EXPECT_FALSE(driver.Initialize(0x4321, DisplayParams{0, 0, 4, 1}, TheVideoDetect().info));
    DriverInfo none = TheVideoDetect().info;
    none.frameBuffer = nullptr;
    EXPECT_FALSE(driver.Initialize(windows.MakeWindow(), DisplayParams{0, 0, 4, 1}, none));
}

// The present of a frame with flag bit 0, on the display over the device.
class ScanWait {
public:
    ScanWait(testing::FakeWindowLayer& windows, int32_t orientation = 4) {
        DisplayParams params{0, 0, orientation, 1};
        display = Display::Create(windows.MakeWindow(), params);
    }

    // Presents a frame of one colour; at each scan reading notes whether
    // the panel already shows it.
    void Present(uint16_t colour, uint32_t flags) {
        ASSERT_NE(display, nullptr);
        ASSERT_EQ(DisplayBeginScene(display.get()), 1);
        PixelBuffer* buffer = DisplayGetBackBuffer(display.get());
        ASSERT_NE(buffer, nullptr);
        for (int32_t y = 0; y < buffer->height; ++y)
            for (int32_t x = 0; x < buffer->width; ++x) *PixelAt(*buffer, x, y) = colour;
        DisplaySetDirtyRect(display.get(), nullptr);
        platform::ClearRegisterReadings();
        copiedAtReading.clear();
        this->colour = colour;
        platform::SetRegisterReadHook(&Seen, this);
        EXPECT_EQ(DisplayPresent(display.get(), flags), 1);
        platform::SetRegisterReadHook(nullptr, nullptr);
    }

    std::unique_ptr<Display> display;
    std::vector<bool> copiedAtReading;

private:
    static void Seen(const platform::RegisterReading&, void* context) {
        auto* wait = static_cast<ScanWait*>(context);
        // The panels here are upright: the pixel in the middle of the picture.
        const platform::PanelLayout& panel = platform::ActiveDisplayDevice().panel;
        uint16_t middle = 0;
        std::memcpy(&middle, platform::VideoMemory() + (panel.height / 2) * panel.yPitch + panel.width, 2);
        wait->copiedAtReading.push_back(middle == wait->colour);
    }
    uint16_t colour = 0;
};

bool PanelIs(uint16_t colour) {
    const platform::PanelPicture panel = platform::ReadPanel();
    for (uint16_t pixel : panel.pixels)
        if (pixel != colour) return false;
    return !panel.pixels.empty();
}

struct WaitCase {
    std::string name;
    platform::DisplayDeviceProfile profile;
    int32_t orientation;
    size_t readings;  // until the first one inside the band
};

std::vector<WaitCase> WaitCases() {
    auto xscaleBusy = testing::XScaleProfile();
    xscaleBusy.lcd.scanBusyReadings = 10;  // readings 7 to 9 lie in the band but are busy
    auto strongarmLate = testing::StrongArmProfile();
    strongarmLate.lcd.scanStart = testing::kFrameBase + 32 + 100 * 480;
    return {
        // 3 rows a reading from 0: reading 7 is at row 21, inside rows 20..34.
        {"xscale", testing::XScaleProfile(), 4, 8},
        {"xscale, readings with bit 26 do not count", xscaleBusy, 4, 11},
        {"xscale, rotated", testing::XScaleProfile(), 1, 8},
        // 16 rows a reading from the palette: reading 18 is at 288 rows less
        // 32 bytes, inside rows 286..300 after the palette.
        {"strongarm", testing::StrongArmProfile(), 4, 19},
        {"strongarm from row 100", strongarmLate, 4, 13},
        {"strongarm, rotated", testing::StrongArmProfile(), 3, 19},
    };
}

TEST_F(LcdDriversTest, PresentAfterWaitCopiesOnlyOnceTheScanIsInTheBand) {
    for (const WaitCase& c : WaitCases()) {
        SCOPED_TRACE(c.name);
        UseDevice(c.profile);
        // A clock that moves a nanosecond a reading: the wait ends by the
        // scan, never by its time limit, however busy the machine is.
        platform::SetTestClock(0, 1);
        ScanWait wait(windows, c.orientation);
        wait.Present(0x1234, kPresentAfterWait);
        const auto& readings = platform::RegisterReadings();
        ASSERT_EQ(readings.size(), c.readings);
        const uint32_t scanRegister = c.profile.lcd.kind == 1 ? platform::kStrongArmScanRegister
                                                               : platform::kXScaleScanRegister;
        const uint32_t registerBase = c.profile.lcd.kind == 1 ? platform::kStrongArmRegisterAddress
                                                               : platform::kXScaleRegisterAddress;
        for (size_t i = 0; i < readings.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(readings[i].address, registerBase + 4 * scanRegister);
            EXPECT_FALSE(wait.copiedAtReading[i]) << "the copy started before the scan reached the band";
            int64_t position = readings[i].value;
            bool usable = true;
            int64_t lower = 20 * 480, upper = 34 * 480;
            if (c.profile.lcd.kind == 2) {
                usable = (readings[i].value & platform::kXScaleScanBusyBit) == 0;
                position &= 0x1FFFFF;
            } else {
                lower = int64_t(testing::kFrameBase) + 32 + (320 - 34) * 480;
                upper = int64_t(testing::kFrameBase) + 32 + (320 - 20) * 480;
            }
            const bool inBand = usable && position >= lower && position <= upper;
            EXPECT_EQ(inBand, i + 1 == readings.size());
        }
        EXPECT_TRUE(PanelIs(0x1234));

        // Without bit 0 no register is read.
        wait.Present(0x4321, 0);
        EXPECT_TRUE(platform::RegisterReadings().empty());
        EXPECT_TRUE(PanelIs(0x4321));
    }
}

// A stopped controller, or a band outside the scan (a StrongARM panel of
// fewer than 34 rows puts it before the frame), ends the wait after about a
// frame of the platform clock, and the frame is copied anyway.
TEST_F(LcdDriversTest, AWaitThatNeverReachesTheBandEndsAfterAboutOneFrame) {
    auto stopped = testing::XScaleProfile();
    stopped.lcd.scanStep = 0;
    auto busy = testing::XScaleProfile();
    busy.lcd.scanBusyReadings = 1u << 30;
    auto shortPanel = testing::StrongArmProfile();
    shortPanel.screenHeight = 16;
    shortPanel.panel = platform::PanelLayout{240, 16, 2, 480};
    shortPanel.lcd.registers[9] = 15;
    shortPanel.lcd.scanWrap = 32 + 16 * 480;
    shortPanel.lcd.scanStep = 480;
    const platform::DisplayDeviceProfile profiles[] = {stopped, busy, shortPanel};
    constexpr uint64_t kStep = 50'000;  // nanoseconds of the test clock per reading
    for (const auto& profile : profiles) {
        SCOPED_TRACE(profile.name);
        UseDevice(profile);
        ScanWait wait(windows);
        platform::SetTestClock(1'000'000'000, kStep);
        const int64_t before = platform::QueryPerformanceCounter();
        wait.Present(0x0F0F, kPresentAfterWait);
        const int64_t waited = platform::QueryPerformanceCounter() - before;
        platform::ClearTestClock();
        EXPECT_GE(waited, kScanWaitLimitMs * 1'000'000);
        EXPECT_LE(waited, kScanWaitLimitMs * 1'000'000 + 10 * int64_t(kStep));
        EXPECT_GE(platform::RegisterReadings().size(), size_t(kScanWaitLimitMs * 1'000'000 / kStep / 2));
        EXPECT_TRUE(PanelIs(0x0F0F));
    }
}

// The XScale's processor type takes the cache-ordered tile set: turned
// presents show the same panel as on a device of the plain set.
TEST_F(LcdDriversTest, TheTileSetOfCpuTypeTwoGivesThePixelsOfThePlainSet) {
    for (int32_t orientation = 1; orientation <= 3; ++orientation) {
        for (uint32_t flags : {0u, kPresentAfterWait}) {
            SCOPED_TRACE(std::to_string(orientation) + " flags " + std::to_string(flags));
            std::vector<uint16_t> panels[2];
            const platform::DisplayDeviceProfile profiles[2] = {testing::XScaleProfile(),
                                                                testing::EscapeProfile("plain")};
            for (int i = 0; i < 2; ++i) {
                UseDevice(profiles[i]);
                EXPECT_EQ(GetCpuType(), i == 0 ? 2 : 0);
                DisplayParams params{0, 0, orientation, 1};
                auto display = Display::Create(windows.MakeWindow(), params);
                ASSERT_NE(display, nullptr);
                ASSERT_EQ(DisplayBeginScene(display.get()), 1);
                PixelBuffer* view = DisplayGetBackBuffer(display.get());
                ASSERT_NE(view, nullptr);
                for (int32_t y = 0; y < view->height; ++y)
                    for (int32_t x = 0; x < view->width; ++x) *PixelAt(*view, x, y) = uint16_t(x * 251 + y * 7);
                const Rect dirty{5, 9, 203, 177};
                DisplaySetDirtyRect(display.get(), &dirty);
                ASSERT_EQ(DisplayPresent(display.get(), flags), 1);
                panels[i] = platform::ReadPanel().pixels;
            }
            EXPECT_EQ(panels[0], panels[1]);
        }
    }
}

}  // namespace
}  // namespace qob
