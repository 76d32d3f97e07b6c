// tests/platform/physical_map_test.cpp
// The simulated device's physical map (register files, palette, video
// memory and its bit-29 alias), its register accessor with the scan rule,
// and the placement of video memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/display_device.h"

namespace qob::platform {
namespace {

class PhysicalMapTest : public ::testing::Test {
protected:
    void TearDown() override { SelectDisplayDevice(DesktopDisplayProfile()); }
};

DisplayDeviceProfile StrongArmDevice() {
    DisplayDeviceProfile profile = DesktopDisplayProfile();
    profile.lcd.kind = 1;
    profile.lcd.registers = {0x81, 2, 3, 4, 0xC0000000, 6, 7, 8, 9, 10, 11, 12};  // one word too many
    profile.lcd.paletteAddress = 0xC0000000;
    profile.lcd.firstPaletteEntry = 0x2345;
    profile.lcd.scanStart = 0xC0000000;
    profile.lcd.scanStep = 100;
    profile.lcd.scanWrap = 250;
    profile.videoAddress = 0xA0000000;
    return profile;
}

TEST_F(PhysicalMapTest, RegionsLieWhereTheProfileSaysAndNowhereElse) {
    struct Case {
        std::string name;
        AliasKind alias;
        uint32_t address;
        uint32_t size;
        bool mapped;
    };
    const uint32_t video = 0xA0000000, bytes = 480 * 320;
    const Case cases[] = {
        {"registers", AliasKind::None, kStrongArmRegisterAddress, kStrongArmRegisterBytes, true},
        {"past the registers", AliasKind::None, kStrongArmRegisterAddress + 40, 8, false},
        {"palette", AliasKind::None, 0xC0000000, 32, true},
        {"past the palette", AliasKind::None, 0xC0000000 + 30, 4, false},
        {"video memory", AliasKind::None, video, bytes, true},
        {"past video memory", AliasKind::None, video + bytes - 1, 2, false},
        {"no alias", AliasKind::None, video & ~kAliasBit, 2, false},
        {"alias of the same memory", AliasKind::Same, (video & ~kAliasBit) + 10, 2, true},
        {"alias of other memory", AliasKind::Other, video & ~kAliasBit, bytes, true},
        {"the XScale's registers", AliasKind::None, kXScaleRegisterAddress, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayDeviceProfile profile = StrongArmDevice();
        profile.videoAlias = c.alias;
        SelectDisplayDevice(profile);
        EXPECT_EQ(PhysicalToHost(c.address, c.size) != nullptr, c.mapped);
    }

    SelectDisplayDevice([] {
        DisplayDeviceProfile profile = StrongArmDevice();
        profile.videoAlias = AliasKind::Same;
        return profile;
    }());
    EXPECT_EQ(PhysicalToHost(video + 6, 2), VideoMemory() + 6);
    EXPECT_EQ(PhysicalToHost((video & ~kAliasBit) + 6, 2), VideoMemory() + 6);
    EXPECT_EQ(HostToPhysical(VideoMemory() + 6), video + 6);
    EXPECT_EQ(HostToPhysical(VideoMemory() + bytes), 0u);
    uint16_t palette = 0;
    std::memcpy(&palette, PhysicalToHost(0xC0000000, 2), 2);
    EXPECT_EQ(palette, 0x2345);

    SelectDisplayDevice([] {
        DisplayDeviceProfile profile = StrongArmDevice();
        profile.videoAlias = AliasKind::Other;
        return profile;
    }());
    const uint8_t* other = PhysicalToHost(video & ~kAliasBit, bytes);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(std::memcmp(other, VideoMemory(), bytes), 0);
}

TEST_F(PhysicalMapTest, TheScanRegisterMovesOnAtEachReadingAndEveryReadingIsLogged) {
    SelectDisplayDevice(StrongArmDevice());
    uint8_t* registers = PhysicalToHost(kStrongArmRegisterAddress, kStrongArmRegisterBytes);
    ASSERT_NE(registers, nullptr);
    std::vector<RegisterReading> hooked;
    SetRegisterReadHook([](const RegisterReading& reading, void* context) {
        static_cast<std::vector<RegisterReading>*>(context)->push_back(reading);
    }, &hooked);
    std::vector<uint32_t> values;
    for (uint32_t index : {0u, 5u, 5u, 5u, 4u, 5u, 10u, 11u}) values.push_back(ReadDeviceRegister(registers, index));
    // Register 11 lies past the 44 bytes; the scan wraps after 250 bytes.
    EXPECT_EQ(values, (std::vector<uint32_t>{0x81, 0xC0000000, 0xC0000064, 0xC00000C8, 0xC0000000, 0xC0000032, 11, 0}));
    const auto& log = RegisterReadings();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[1].address, kStrongArmRegisterAddress + 20);
    EXPECT_EQ(log[3].value, 0xC00000C8u);
    ASSERT_EQ(hooked.size(), 7u);
    EXPECT_EQ(hooked[5].value, 0xC0000032u);
    EXPECT_EQ(ReadDeviceRegister(registers + 4, 0), 0u) << "only the file's own start";
    ClearRegisterReadings();
    EXPECT_TRUE(RegisterReadings().empty());
    SelectDisplayDevice(StrongArmDevice());
    (void)ReadDeviceRegister(PhysicalToHost(kStrongArmRegisterAddress, 4), 0);
    EXPECT_EQ(hooked.size(), 7u) << "selecting a device removes the hook";

    DisplayDeviceProfile xscale = DesktopDisplayProfile();
    xscale.lcd.kind = 2;
    xscale.lcd.scanStart = 7;
    xscale.lcd.scanStep = 0;
    xscale.lcd.scanBusyReadings = 2;
    SelectDisplayDevice(xscale);
    uint8_t* xscaleRegisters = PhysicalToHost(kXScaleRegisterAddress, kXScaleRegisterBytes);
    ASSERT_NE(xscaleRegisters, nullptr);
    values.clear();
    for (int i = 0; i < 4; ++i) values.push_back(ReadDeviceRegister(xscaleRegisters, kXScaleScanRegister));
    EXPECT_EQ(values, (std::vector<uint32_t>{7 | kXScaleScanBusyBit, 7 | kXScaleScanBusyBit, 7, 7}));
}

TEST_F(PhysicalMapTest, VideoMemoryLiesAtItsPlacementModuloTheWindow) {
    for (uint32_t placement : {0x100u, 0x42000u, 0x41FF0u, 0x7FF00u, 0x10u}) {
        SCOPED_TRACE(placement);
        DisplayDeviceProfile profile = DesktopDisplayProfile();
        profile.videoPlacement = placement;
        SelectDisplayDevice(profile);
        const uint32_t expected = placement < 64 ? 64 : placement;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(VideoMemory()) % 0x80000, expected);
        FillPanel(0x1234);
        EXPECT_TRUE(DisplayDeviceGuardsIntact());
    }
}

}  // namespace
}  // namespace qob::platform
