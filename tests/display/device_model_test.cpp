// tests/display/device_model_test.cpp
// The model table, the processor type, and the pitch rules.
#include "display/device_model.h"

#include <gtest/gtest.h>

#include "display/display_device_support.h"

namespace qob {
namespace {

TEST(DeviceModelTest, OemStringPrefixes) {
    struct Case {
        std::u16string_view oem;
        int32_t model;
    };
    const Case cases[] = {
        {u"Compaq iPAQ H3800", 1},
        {u"COMPAQ IPAQ H3800 series", 1},
        {u"Compaq iPAQ H3870", 0},
        {u"Compaq iPAQ H38", 0},
        {u"Compale P6C", 2},
        {u"Typhoon MyGuide", 3},
        {u"Toshiba e310", 4},
        {u"toshiba e330 series", 5},
        {u"TOSHIBA E740 something", 6},
        {u"Toshiba e750", 7},
        {u"MotoQ", 8},
        {u"motoq", 8},
        {u"MotoQ9h", 0},   // longer than the prefix: no model, and no later row either
        {u"MotoQ1", 0},
        {u"SGH-i607", 9},
        {u"", 0},
        {u"Generic PDA", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceModelOfOemString(c.oem), c.model) << std::string(c.oem.begin(), c.oem.end());
}

class CachedDeviceFactsTest : public testing::DisplayDeviceTest {};

TEST_F(CachedDeviceFactsTest, ModelAndProcessorTypeComeFromTheDeviceOnce) {
    auto profile = testing::RawProfile();
    profile.oemInfo = "Toshiba e740";
    profile.cpuType = 2;
    UseDevice(profile);
    EXPECT_EQ(DetectDeviceModel(), 6);
    EXPECT_EQ(GetCpuType(), 2);
    profile.oemInfo = "Typhoon";
    profile.cpuType = 1;
    platform::SelectDisplayDevice(profile);
    EXPECT_EQ(DetectDeviceModel(), 6);  // cached
    EXPECT_EQ(GetCpuType(), 2);
    ResetDeviceModel();
    EXPECT_EQ(DetectDeviceModel(), 3);
    EXPECT_EQ(GetCpuType(), 1);

    profile.oemInfoAvailable = false;
    UseDevice(profile);
    EXPECT_EQ(DetectDeviceModel(), 0);
    UseDevice(platform::DesktopDisplayProfile());
    EXPECT_EQ(GetCpuType(), 0);
}

TEST(DeviceModelTest, OrientationFromPitches) {
    struct Case {
        int32_t xPitch, yPitch, orientation;
    };
    const Case cases[] = {{2, 480, 0}, {640, -2, 1}, {640, 0, 1}, {-2, -480, 2}, {-640, 2, 3}, {0, 2, 3}, {0, -2, 2}};
    for (const Case& c : cases) EXPECT_EQ(OrientationFromPitches(c.xPitch, c.yPitch), c.orientation);
}

TEST(DeviceModelTest, TopLeftOffsets) {
    EXPECT_EQ(TopLeftOffset(0, 16, 240, 320, 2, 480), 0);
    EXPECT_EQ(TopLeftOffset(1, 16, 240, 320, 640, -2), 2 - 640);
    EXPECT_EQ(TopLeftOffset(2, 16, 240, 320, -2, -480), 239 * -2 + 319 * -480);
    EXPECT_EQ(TopLeftOffset(3, 16, 320, 240, -640, 2), -204160);
}

}  // namespace
}  // namespace qob
