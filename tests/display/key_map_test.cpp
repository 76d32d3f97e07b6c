// tests/display/key_map_test.cpp
// The key map from the registry's key list and the device's key sources, and
// the millisecond clock across its wrap.
#include "display/key_map.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "display/display_device_support.h"
#include "platform/registry.h"
#include "platform/temp_directory.h"

namespace qob {
namespace {

using KeyMap = std::array<uint16_t, kKeyMapSize>;

class KeyMapTest : public testing::DisplayDeviceTest {
protected:
    testing::TempDirectory store;
    testing::ScopedEnvironment location{"QOB_REGISTRY", store.Path().c_str()};

    void SetUp() override {
        auto profile = testing::RawProfile();
        profile.libraries = {};
        profile.rawFrameBufferEscape = false;
        UseDevice(profile);
    }

    void AddKey(std::u16string_view name) {
        const std::u16string path = u"SOFTWARE\\Microsoft\\Shell\\Keys\\" + std::u16string(name);
        platform::HKEY key = nullptr;
        ASSERT_EQ(platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE,
                                            std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(path.data()),
                                                                      path.size()),
                                            &key),
                  platform::ERROR_SUCCESS);
        platform::RegCloseKey(key);
    }

    static KeyMap Map(int32_t orientation) {
        KeyMap map;
        map.fill(0xFFFF);
        EXPECT_EQ(GetDeviceKeyMap(map.data(), orientation), 1);
        return map;
    }
};

TEST_F(KeyMapTest, FixedCodesTurnedForTheOrientation) {
    struct Case {
        int32_t orientation;
        KeyMap map;
    };
    const Case cases[] = {
        {0, {38, 40, 37, 39, 13, 32, 17, 16}},
        {1, {37, 39, 40, 38, 13, 32, 17, 16}},
        {2, {40, 38, 39, 37, 13, 32, 17, 16}},
        {3, {39, 37, 38, 40, 13, 32, 17, 16}},
        {4, {38, 40, 37, 39, 13, 32, 17, 16}},
        {7, {38, 40, 37, 39, 13, 32, 17, 16}},
        {-1, {38, 40, 37, 39, 13, 32, 17, 16}},
    };
    for (const Case& c : cases) EXPECT_EQ(Map(c.orientation), c.map) << c.orientation;
}

TEST_F(KeyMapTest, RegistryButtonsFillTheFurtherEntriesFromTheEnd) {
    AddKey(u"0");      // low byte 0: nothing
    AddKey(u"C1");
    AddKey(u"c1");     // the same key
    AddKey(u"1C1");    // low byte 0xC1 again: not added twice
    AddKey(u"100");    // low byte 0
    AddKey(u"xyz");    // not a number
    AddKey(u"C1 ");    // not a whole number
    AddKey(u"0D");     // 13, the start key: removed
    AddKey(u"c5");
    // Listed in name order: 0D (13), C1 (from "1C1"), C5; the start key goes,
    // C5 taking its place.
    EXPECT_EQ(Map(0), (KeyMap{38, 40, 37, 39, 13, 32, 17, 16, 0xC1, 0xC5}));
}

TEST_F(KeyMapTest, MoreThanEightButtonsGiveTheLastEightInReverse) {
    for (const char16_t* name : {u"C1", u"C2", u"C3", u"C4", u"C5", u"C6", u"C7", u"C8", u"C9", u"CA"}) AddKey(name);
    EXPECT_EQ(Map(0), (KeyMap{38, 40, 37, 39, 13, 32, 17, 16, 0xCA, 0xC9, 0xC8, 0xC7, 0xC6, 0xC5, 0xC4, 0xC3}));
}

// Sixteen codes fill the list; a seventeenth is not added.
TEST_F(KeyMapTest, TheButtonListHoldsSixteenCodes) {
    for (int32_t i = 0; i < 17; ++i) {
        const std::string hex{'D', "0123456789ABCDEFG"[i]};
        AddKey(std::u16string(hex.begin(), hex.end()));
    }
    // D0..DF are listed ("DG" is no number); the last eight in reverse.
    EXPECT_EQ(Map(0), (KeyMap{38, 40, 37, 39, 13, 32, 17, 16, 0xDF, 0xDE, 0xDD, 0xDC, 0xDB, 0xDA, 0xD9, 0xD8}));
}

platform::GXKeyList KeyList(uint16_t first) {
    platform::GXKeyList list{};
    for (uint16_t i = 0; i < 8; ++i) list.keys[i] = platform::GXKeyEntry{uint16_t(first + i), 0, 0, 0};
    return list;
}

TEST_F(KeyMapTest, GapiDefaultKeysComeFirst) {
    auto profile = testing::GapiPortraitProfile();
    profile.gapiPortraitKeys = KeyList(0x50);
    profile.gapiLandscapeKeys = KeyList(0x60);
    profile.gxInfoEscape = true;
    UseDevice(profile);
    EXPECT_EQ(Map(0), (KeyMap{0x50, 0x51, 0x52, 0x53, 0x57, 0x54, 0x55, 0x56, 0x64, 0x65, 0x67, 0x66}));
    EXPECT_EQ(Map(1), (KeyMap{0x52, 0x53, 0x51, 0x50, 0x67, 0x64, 0x65, 0x66, 0x56, 0x54, 0x55, 0x57}));
    EXPECT_EQ(platform::DisplayDeviceCalls(),
              (std::vector<std::string>{"GXGetDefaultKeys(2)", "GXGetDefaultKeys(3)", "GXGetDefaultKeys(2)",
                                        "GXGetDefaultKeys(3)"}));
}

// A gx.dll without GXGetDefaultKeys gives way to the escape's buttons.
TEST_F(KeyMapTest, EscapeButtonsWhenGapiHasNoDefaultKeys) {
    auto profile = testing::GapiPortraitProfile();
    profile.missingEntries = {"?GXGetDefaultKeys@@YA?AUGXKeyList@@H@Z"};
    profile.gxInfoEscape = true;
    for (uint16_t i = 0; i < 8; ++i)
        profile.gxInfoButtons[i] = platform::GxInfoButton{uint16_t(0x70 + i), uint16_t(0x80 + i), 0, 0};
    UseDevice(profile);
    EXPECT_EQ(Map(3), (KeyMap{0x73, 0x72, 0x70, 0x71, 0x87, 0x84, 0x85, 0x86, 0x76, 0x74, 0x75, 0x77}));
    EXPECT_EQ(Map(0), (KeyMap{0x70, 0x71, 0x72, 0x73, 0x77, 0x74, 0x75, 0x76, 0x84, 0x85, 0x87, 0x86}));
}

class MillisecondsTest : public testing::DisplayDeviceTest {};

TEST_F(MillisecondsTest, CounterMillisecondsTruncatedTo32Bits) {
    constexpr uint64_t kMs = 1'000'000;
    constexpr uint64_t kWrap = uint64_t{1} << 32;
    struct Case {
        uint64_t nanoseconds;
        uint32_t milliseconds;
    };
    const Case cases[] = {
        {0, 0},
        {kMs - 1, 0},
        {2 * kMs - 1, 1},
        {(kWrap - 1) * kMs, 0xFFFFFFFFu},
        {kWrap * kMs, 0},
        {(kWrap + 5) * kMs + 999'999, 5},
    };
    for (const Case& c : cases) {
        platform::SetTestClock(c.nanoseconds);
        EXPECT_EQ(GetMilliseconds(), c.milliseconds) << c.nanoseconds;
    }
    platform::SetTestClock((kWrap - 10) * kMs);
    const uint32_t before = GetMilliseconds();
    platform::AdvanceTestClock(30 * kMs);
    EXPECT_EQ(uint32_t(GetMilliseconds() - before), 30u);
}

}  // namespace
}  // namespace qob
