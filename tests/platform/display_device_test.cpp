// tests/platform/display_device_test.cpp
// The simulated display device on its own: video memory in each layout read
// back as the upright picture, the libraries by name, and the escapes.
#include "platform/display_device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qob::platform {
namespace {

class DisplayDeviceTest : public ::testing::Test {
protected:
    void TearDown() override { SelectDisplayDevice(DesktopDisplayProfile()); }
};

// The panel view reads picture pixel (x, y) at origin + x * xPitch + y *
// yPitch; memory written by rows in the layout's own order reads back turned.
TEST_F(DisplayDeviceTest, PanelViewReadsEachLayout) {
    struct Case {
        PanelLayout panel;
        int32_t padding;
        // Where picture pixel (x, y) lies: memory row and column.
        int32_t (*row)(int32_t x, int32_t y, int32_t w, int32_t h);
        int32_t (*column)(int32_t x, int32_t y, int32_t w, int32_t h);
    };
    const Case cases[] = {
        {{5, 3, 2, 10}, 0, [](int32_t, int32_t y, int32_t, int32_t) { return y; },
         [](int32_t x, int32_t, int32_t, int32_t) { return x; }},
        {{5, 3, 6, -2}, 4, [](int32_t x, int32_t, int32_t, int32_t) { return x; },
         [](int32_t, int32_t y, int32_t, int32_t h) { return h - 1 - y; }},
        {{5, 3, -2, -10}, 2, [](int32_t, int32_t y, int32_t, int32_t h) { return h - 1 - y; },
         [](int32_t x, int32_t, int32_t w, int32_t) { return w - 1 - x; }},
        {{5, 3, -6, 2}, 0, [](int32_t x, int32_t, int32_t w, int32_t) { return w - 1 - x; },
         [](int32_t, int32_t y, int32_t, int32_t) { return y; }},
    };
    for (const Case& c : cases) {
        DisplayDeviceProfile profile = DesktopDisplayProfile();
        profile.panel = c.panel;
        profile.rowPadding = c.padding;
        SelectDisplayDevice(profile);
        const MemoryShape shape = VideoMemoryShape();
        uint8_t* memory = VideoMemory();
        const int32_t w = c.panel.width, h = c.panel.height;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const uint16_t value = uint16_t(y * 16 + x);
                std::memcpy(memory + c.row(x, y, w, h) * shape.rowPitch + 2 * c.column(x, y, w, h), &value, 2);
            }
        const PanelPicture picture = ReadPanel();
        ASSERT_EQ(picture.width, w);
        ASSERT_EQ(picture.height, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) EXPECT_EQ(picture.At(x, y), y * 16 + x) << c.panel.xPitch;
        EXPECT_TRUE(DisplayDeviceGuardsIntact());
        FillPanel(0x1234);
        EXPECT_EQ(ReadPanel().At(w - 1, h - 1), 0x1234);
    }
}

TEST_F(DisplayDeviceTest, LibrariesByNameAndTheirMissingEntries) {
    DisplayDeviceProfile profile = DesktopDisplayProfile();
    profile.libraries = {"GX.DLL", "coredll.dll"};
    profile.missingEntries = {"SetKMode"};
    SelectDisplayDevice(profile);
    const uintptr_t gx = LoadDeviceLibrary("gx.dll");
    ASSERT_NE(gx, 0u);
    EXPECT_NE(GetDeviceProcAddress(gx, "?GXBeginDraw@@YAPAXXZ"), nullptr);
    EXPECT_EQ(GetDeviceProcAddress(gx, "GXBeginDraw"), nullptr);
    const uintptr_t core = LoadDeviceLibrary("Coredll.dll");
    EXPECT_NE(GetDeviceProcAddress(core, "AllKeys"), nullptr);
    EXPECT_EQ(GetDeviceProcAddress(core, "SetKMode"), nullptr);
    EXPECT_EQ(LoadDeviceLibrary("gxdma.dll"), 0u);
    EXPECT_EQ(GetDeviceProcAddress(0, "AllKeys"), nullptr);
}

// GETGXINFO answers only a caller that set the version word, and only for
// layouts whose memory rows it can describe.
TEST_F(DisplayDeviceTest, GxInfoEscape) {
    DisplayDeviceProfile profile = DesktopDisplayProfile();
    profile.gxInfoEscape = true;
    profile.panel = PanelLayout{240, 320, 640, -2};
    SelectDisplayDevice(profile);
    GxInfoReply reply{};
    auto out = std::span<uint8_t>(reinterpret_cast<uint8_t*>(&reply), sizeof reply);
    EXPECT_EQ(DeviceEscape(GETGXINFO, {}, out), 0);
    reply.version = 100;
    ASSERT_EQ(DeviceEscape(GETGXINFO, {}, out), 1);
    EXPECT_EQ(reply.format & 8, 8u);
    EXPECT_EQ(reply.width, 240);
    EXPECT_EQ(reply.height, 320);
    EXPECT_EQ(reply.stride, 640);
    EXPECT_EQ(reply.address, VideoMemory());
    EXPECT_EQ(DeviceEscape(GETGXINFO, {}, out.first(8)), 0);

    profile.panel = PanelLayout{240, 320, -2, -480};
    SelectDisplayDevice(profile);
    int32_t escape = GETGXINFO;
    EXPECT_EQ(DeviceEscape(QUERYESCSUPPORT, std::span<const uint8_t>(reinterpret_cast<uint8_t*>(&escape), 4), {}), 0);
}

}  // namespace
}  // namespace qob::platform
