// tests/display/chip_drivers_test.cpp
// Imageon100's calls into the chip's vendor library, and SlowFB's writes to
// video memory that the test fills with a sentinel.
#include "display/chip_drivers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "display/display_canvas.h"
#include "display/display_device_support.h"
#include "display/hardware_profiles.h"
#include "display/video_detect.h"
#include "platform/memory.h"

namespace qob {
namespace {

using testing::DisplayDeviceTest;

class ChipDriversTest : public DisplayDeviceTest {};

const DisplayParams kAnyParams{0, 0, 4, 1};

std::vector<std::string> TakeCalls() {
    std::vector<std::string> calls = platform::DisplayDeviceCalls();
    platform::ClearDisplayDeviceCalls();
    return calls;
}

TEST_F(ChipDriversTest, Imageon100CallsTheLibraryInTheDriversOrder) {
    using Calls = std::vector<std::string>;
    UseDevice(testing::ImageonProfile());
    const uintptr_t window = windows.MakeWindow();
    auto driver = std::make_unique<Imageon100Driver>();
    platform::ClearDisplayDeviceCalls();
    ASSERT_TRUE(driver->Initialize(window, kAnyParams, DriverInfo{240, 320, 16, 0, 4, 2, nullptr}));
    EXPECT_EQ(TakeCalls(), (Calls{"AtiCore_ProcessAttach()", "AtiCore_AllocateSurface(76800, 0)", "AtiCore_AllocOverlay()",
                                  "AtiCore_SetupOverlay(1, {0xa80000, 0, 0xf000f0, 0x1400140, 0, 8})",
                                  "AtiCore_SetOverlayPos(1, 0, 0)", "AtiCore_SetOverlayOnOff(1, 1)"}));
    EXPECT_EQ(driver->info.pitch, 480);
    EXPECT_EQ(driver->info.orientation, 0);
    EXPECT_EQ(driver->info.swapMode, kSwapModeDirect);
    EXPECT_TRUE(platform::ReadChipState().overlayOn);

    PixelBuffer* frame = driver->Lock();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->bits, platform::VideoMemory());
    EXPECT_EQ(frame->width, 240);
    EXPECT_EQ(frame->height, 320);
    EXPECT_EQ(frame->pitch, 480);
    EXPECT_EQ(TakeCalls(), (Calls{"AtiCore_WaitComplete(100)", "AtiCore_SetupMemoryTransfer(0xa80000)"}));
    driver->Unlock(0);
    driver->Unlock(0);  // not locked: nothing
    EXPECT_EQ(TakeCalls(), (Calls{"AtiCore_TerminateMemoryTransfer()"}));

    driver->Suspend();
    EXPECT_EQ(TakeCalls(), (Calls{"AtiCore_SetOverlayOnOff(1, 0)"}));
    driver->Resume();
    EXPECT_EQ(TakeCalls(), (Calls{"AtiCore_SetOverlayOnOff(1, 1)"}));
    ASSERT_NE(driver->Lock(), nullptr);
    driver->Suspend();  // locked: unlocks first
    EXPECT_EQ(TakeCalls(), (Calls{"AtiCore_WaitComplete(100)", "AtiCore_SetupMemoryTransfer(0xa80000)",
                                  "AtiCore_TerminateMemoryTransfer()", "AtiCore_SetOverlayOnOff(1, 0)"}));
    driver->Resume();
    ASSERT_NE(driver->Lock(), nullptr);
    platform::ClearDisplayDeviceCalls();
    driver.reset();  // locked: unlocks first
    EXPECT_EQ(TakeCalls(), (Calls{"AtiCore_TerminateMemoryTransfer()", "AtiCore_SetOverlayOnOff(1, 0)",
                                  "AtiCore_ReleaseOverlay(1)", "AtiCore_DestroySurface(3)", "AtiCore_ProcessDetach()"}));
    const platform::ChipState chip = platform::ReadChipState();
    EXPECT_EQ(chip.attached, 0);
    EXPECT_FALSE(chip.surface || chip.overlay || chip.overlayOn || chip.transferOpen);
}

// What the chip did not give is undone, and the driver fails.
TEST_F(ChipDriversTest, Imageon100UndoesAFailedInitialize) {
    using Calls = std::vector<std::string>;
    struct Case {
        const char* name;
        bool surfaceFails;
        bool overlayFails;
        Calls calls;
    };
    const Case cases[] = {
        {"no surface", true, false,
         {"AtiCore_ProcessAttach()", "AtiCore_AllocateSurface(76800, 0)", "AtiCore_AllocOverlay()",
          "AtiCore_SetOverlayOnOff(1, 0)", "AtiCore_ReleaseOverlay(1)", "AtiCore_ProcessDetach()"}},
        {"no overlay", false, true,
         {"AtiCore_ProcessAttach()", "AtiCore_AllocateSurface(76800, 0)", "AtiCore_AllocOverlay()",
          "AtiCore_DestroySurface(3)", "AtiCore_ProcessDetach()"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto profile = testing::ImageonProfile();
        profile.chipSurfaceFails = c.surfaceFails;
        profile.chipOverlayFails = c.overlayFails;
        UseDevice(profile);
        {
            Imageon100Driver driver;
            EXPECT_FALSE(driver.Initialize(windows.MakeWindow(), kAnyParams, DriverInfo{240, 320, 16, 0, 4, 2, nullptr}));
            EXPECT_EQ(driver.Lock(), nullptr);
        }
        EXPECT_EQ(platform::DisplayDeviceCalls(), c.calls);
        const platform::ChipState chip = platform::ReadChipState();
        EXPECT_EQ(chip.attached, 0);
        EXPECT_FALSE(chip.surface || chip.overlay);
    }
    // A window that is gone, and a second Initialize, fail too.
    UseDevice(testing::ImageonProfile());
    Imageon100Driver driver;
    EXPECT_FALSE(driver.Initialize(0x999, kAnyParams, DriverInfo{240, 320, 16, 0, 4, 2, nullptr}));
    const uintptr_t window = windows.MakeWindow();
    EXPECT_TRUE(driver.Initialize(window, kAnyParams, DriverInfo{240, 320, 16, 0, 4, 2, nullptr}));
    EXPECT_FALSE(driver.Initialize(window, kAnyParams, DriverInfo{240, 320, 16, 0, 4, 2, nullptr}));
}

// Lock waits for the chip up to 32 times; a chip that never completes
// fails the Lock and the scene does not open. A memory transfer the chip
// refuses does the same.
TEST_F(ChipDriversTest, Imageon100LockWaitsForTheChipAtMost32Times) {
    struct Case {
        int32_t failures;
        bool transferFails;
        bool opens;
    };
    const Case cases[] = {{0, false, true}, {31, false, true}, {32, false, false}, {-1, false, false}, {0, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.failures) + (c.transferFails ? " transfer fails" : ""));
        auto profile = testing::ImageonProfile();
        profile.chipWaitFailures = c.failures;
        profile.chipTransferFails = c.transferFails;
        UseDevice(profile);
        DisplayParams params = kAnyParams;
        Canvas* canvas = CreateDisplayCanvas(windows.MakeWindow(), &params);
        ASSERT_NE(canvas, nullptr);
        platform::ClearDisplayDeviceCalls();
        PixelSurface* surface = CanvasBeginScene(canvas);
        EXPECT_EQ(surface != nullptr, c.opens);
        int32_t waits = 0;
        for (const std::string& call : platform::DisplayDeviceCalls()) waits += call == "AtiCore_WaitComplete(100)";
        EXPECT_EQ(waits, c.failures >= 0 && c.failures < 32 ? c.failures + 1 : 32);
        if (surface != nullptr) {
            *PixelAt(*surface->buffer, 3, 4) = 0x7777;
            EXPECT_EQ(CanvasUpdate(canvas, nullptr), 1);
            EXPECT_EQ(platform::ReadPanel().At(3, 4), 0x7777);
        }
        DestroyCanvas(canvas);
        platform::FreeBlock(canvas);
        EXPECT_FALSE(platform::ReadChipState().transferOpen);
    }
}

// SlowFB over video memory at the device's address, the driver made
// directly over a description of it.
class SlowFbTest : public DisplayDeviceTest {
protected:
    static constexpr uint8_t kSentinelByte = 0xEE;

    // Video memory of width x height with rows of pitch bytes.
    bool Open(int32_t width, int32_t height, int32_t pitch, const DisplayParams& params = kAnyParams) {
        auto profile = testing::MediaQProfile();
        profile.screenWidth = width;
        profile.screenHeight = height;
        profile.panel = platform::PanelLayout{width, height, 2, 2 * width};
        profile.rowPadding = pitch - 2 * width;
        UseDevice(profile);
        info = DriverInfo{width, height, 16, pitch, 0, 0, platform::VideoMemory()};
        driver = std::make_unique<SlowFbDriver>();
        return driver->Initialize(windows.MakeWindow(), params, info);
    }
    [[nodiscard]] size_t Bytes() const { return size_t(info.pitch) * size_t(info.height); }
    void FillVideo() { std::memset(platform::VideoMemory(), kSentinelByte, Bytes()); }
    // Draws a pattern into the drawing buffer and presents it whole, then
    // puts the sentinel into video memory.
    PixelBuffer* FirstFrame(uint16_t seed) {
        PixelBuffer* frame = driver->Lock();
        for (int32_t y = 0; y < frame->height; ++y)
            for (int32_t x = 0; x < frame->width; ++x) *PixelAt(*frame, x, y) = uint16_t(x * 7 + y * 13 + seed);
        const Rect whole{0, 0, info.width, info.height};
        driver->AdjustDirtyRect(whole);
        driver->Unlock(0);
        EXPECT_EQ(std::memcmp(platform::VideoMemory(), frame->bits, Bytes()), 0);
        FillVideo();
        return frame;
    }
    // The 32-bit words of video memory that the present wrote: each either
    // still the sentinel, or equal to the drawing buffer's word.
    std::vector<size_t> WrittenWords(const PixelBuffer& frame) {
        std::vector<size_t> written;
        const uint8_t* video = platform::VideoMemory();
        for (size_t at = 0; at < Bytes(); at += 4) {
            uint32_t word, sentinel;
            std::memcpy(&word, video + at, 4);
            std::memset(&sentinel, kSentinelByte, 4);
            if (word == sentinel) continue;
            written.push_back(at);
            EXPECT_EQ(std::memcmp(video + at, frame.bits + at, 4), 0) << "word at " << at;
        }
        return written;
    }

    DriverInfo info{};
    std::unique_ptr<SlowFbDriver> driver;
};

TEST_F(SlowFbTest, ShadowModeWhenTheFrameIsWholeBlocks) {
    struct Case {
        int32_t width, height, pitch;
        bool shadow;
    };
    const Case cases[] = {
        {240, 320, 480, true}, {240, 321, 480, false}, {236, 320, 472, true}, {237, 320, 476, true},
        {237, 317, 476, false}, {8, 9, 16, false}, {16, 4, 32, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " pitch " + std::to_string(c.pitch));
        ASSERT_TRUE(Open(c.width, c.height, c.pitch));
        EXPECT_EQ(driver->ShadowMode(), c.shadow);
        EXPECT_EQ(driver->info.swapMode, c.shadow ? kSwapModeShadow : kSwapModeDirect);
        PixelBuffer* frame = driver->Lock();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->bits == platform::VideoMemory(), !c.shadow);
        EXPECT_EQ(frame->pitch, c.pitch);
    }
}

TEST_F(SlowFbTest, SwapModeTwoOnlyForAKeptBufferInTheInnerOrientation) {
    struct Case {
        int32_t orientation, swapEffect, mode;
    };
    const Case cases[] = {{4, 2, kSwapModeOwn}, {0, 2, kSwapModeOwn}, {1, 2, kSwapModeShadow},
                          {4, 1, kSwapModeShadow}, {0, 1, kSwapModeShadow}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.orientation) + " " + std::to_string(c.swapEffect));
        ASSERT_TRUE(Open(240, 320, 480, DisplayParams{0, 0, c.orientation, c.swapEffect}));
        EXPECT_EQ(driver->info.swapMode, c.mode);
    }
}

TEST_F(SlowFbTest, AnIdenticalFrameWritesNothingAndAChangedOneOnlyItsChangedWords) {
    ASSERT_TRUE(Open(240, 320, 480));
    PixelBuffer* frame = FirstFrame(1);
    const Rect whole{0, 0, 240, 320};
    for (int present = 0; present < 2; ++present) {
        ASSERT_EQ(driver->Lock(), frame) << "always the same drawing buffer";
        driver->AdjustDirtyRect(whole);
        driver->Unlock(0);
        EXPECT_TRUE(WrittenWords(*frame).empty());
    }
    // Pixels in either half of a word, at the ends of rows and of blocks.
    const Point changes[] = {{0, 0}, {1, 0}, {31, 0}, {239, 0}, {100, 100}, {101, 101}, {0, 319}, {239, 319}};
    std::vector<size_t> expected;
    for (Point p : changes) {
        *PixelAt(*frame, p.x, p.y) ^= 0x0F0F;
        expected.push_back(size_t(p.y) * 480 + size_t(p.x) * 2 / 4 * 4);
    }
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    driver->AdjustDirtyRect(whole);
    driver->Unlock(0);
    EXPECT_EQ(WrittenWords(*frame), expected);
    // The same frame again writes nothing: video memory is known to hold it.
    FillVideo();
    driver->Unlock(0);
    EXPECT_TRUE(WrittenWords(*frame).empty());
}

TEST_F(SlowFbTest, AfterSuspendResumeRepaintOrFlagBitOneTheWholeFrameIsWritten) {
    const std::pair<const char*, void (*)(SlowFbDriver&, uint32_t&)> ways[] = {
        {"suspend", [](SlowFbDriver& d, uint32_t&) { d.Suspend(); }},
        {"resume", [](SlowFbDriver& d, uint32_t&) { d.Resume(); }},
        {"repaint", [](SlowFbDriver& d, uint32_t&) { d.Repaint(); }},
        {"flag bit 1", [](SlowFbDriver&, uint32_t& flags) { flags = kPresentEverything; }},
    };
    for (const auto& [name, way] : ways) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Open(240, 320, 480));
        PixelBuffer* frame = FirstFrame(2);
        uint32_t flags = 0;
        way(*driver, flags);
        driver->AdjustDirtyRect(Rect{0, 0, 2, 2});
        driver->Unlock(flags);
        EXPECT_EQ(std::memcmp(platform::VideoMemory(), frame->bits, Bytes()), 0);
        EXPECT_FALSE(driver->FullCopyPending());
        FillVideo();
        driver->Unlock(0);
        EXPECT_TRUE(WrittenWords(*frame).empty()) << "the full copy is made once";
    }
}

// The band covers the rectangle's rows to their last byte, whatever the
// pitch: every changed word in them is written, and nothing else.
TEST_F(SlowFbTest, TheBandCoversTheRowsOfTheRectangleWholly) {
    struct Geometry {
        int32_t width, height, pitch;
    };
    const Geometry geometries[] = {{240, 320, 480}, {236, 320, 472}, {237, 320, 476}, {240, 320, 500}, {232, 16, 464}};
    const Rect rects[] = {{0, 5, 10, 6}, {3, 0, 4, 1}, {0, 7, 200, 10}, {1, 2, 3, 4}, {0, 15, 5, 16}, {9, 9, 9, 12}};
    for (const Geometry& g : geometries) {
        for (const Rect& rect : rects) {
            SCOPED_TRACE(std::to_string(g.pitch) + ", rows " + std::to_string(rect.top) + ".." +
                         std::to_string(rect.bottom));
            ASSERT_TRUE(Open(g.width, g.height, g.pitch));
            ASSERT_TRUE(driver->ShadowMode());
            PixelBuffer* frame = FirstFrame(3);
            // Every pixel of the rectangle's rows changes.
            std::vector<size_t> expected;
            for (int32_t y = rect.top; y < rect.bottom; ++y) {
                for (int32_t x = 0; x < g.width; ++x) *PixelAt(*frame, x, y) ^= 0x8001;
                for (size_t at = size_t(y) * size_t(g.pitch) / 4 * 4; at < size_t(y) * size_t(g.pitch) + 2 * size_t(g.width);
                     at += 4)
                    if (expected.empty() || expected.back() != at) expected.push_back(at);
            }
            driver->AdjustDirtyRect(rect);
            EXPECT_EQ(driver->BandOffset() % 64, 0);
            EXPECT_LE(driver->BandOffset() + 64 * driver->BandBlocks(), int64_t(Bytes()));
            driver->Unlock(0);
            EXPECT_EQ(WrittenWords(*frame), expected);
        }
    }
}

// The game loop presents one frame several times without drawing between:
// the rectangle A, then a scene for each of A, B and A again. Video memory
// ends equal to the frame, whatever the swap mode.
TEST_F(SlowFbTest, RepeatedPresentsOfOneFrameLeaveVideoMemoryEqualToIt) {
    const Rect a{16, 20, 100, 60};
    const Rect b{120, 200, 230, 310};
    for (int32_t swapEffect : {1, 2}) {
        SCOPED_TRACE(swapEffect);
        UseDevice(testing::MediaQProfile());
        testing::ScriptMediaQTiming(20);
        DisplayParams params{0, 0, 4, swapEffect};
        Canvas* canvas = CreateDisplayCanvas(windows.MakeWindow(), &params);
        ASSERT_NE(canvas, nullptr);
        ASSERT_EQ(TheVideoDetect().foundIds[TheVideoDetect().foundCount - 1], kDriverSlowFb);
        ASSERT_EQ(params.swapEffect, swapEffect);
        PixelSurface* surface = CanvasBeginScene(canvas);
        ASSERT_NE(surface, nullptr);
        PixelBuffer& buffer = *surface->buffer;
        for (int32_t y = 0; y < 320; ++y)
            for (int32_t x = 0; x < 240; ++x) *PixelAt(buffer, x, y) = uint16_t(x + 3 * y);
        ASSERT_EQ(CanvasUpdate(canvas, nullptr), 1);

        surface = CanvasBeginScene(canvas);
        ASSERT_NE(surface, nullptr);
        for (const Rect& r : {a, b})
            for (int32_t y = r.top; y < r.bottom; ++y)
                for (int32_t x = r.left; x < r.right; ++x) *PixelAt(*surface->buffer, x, y) = uint16_t(0x8000 | (x * y));
        std::vector<uint16_t> frame;
        for (int32_t y = 0; y < 320; ++y)
            for (int32_t x = 0; x < 240; ++x) frame.push_back(*PixelAt(*surface->buffer, x, y));
        ASSERT_EQ(CanvasUpdate(canvas, &a), 1);
        for (const Rect& r : {a, b, a}) {
            ASSERT_NE(CanvasBeginScene(canvas), nullptr);
            ASSERT_EQ(CanvasUpdate(canvas, &r), 1);
        }
        EXPECT_EQ(platform::ReadPanel().pixels, frame);
        EXPECT_TRUE(platform::DisplayDeviceGuardsIntact());
        DestroyCanvas(canvas);
        platform::FreeBlock(canvas);
    }
}

TEST_F(SlowFbTest, CopyChangedWordsNeedsNoAlignment) {
    std::vector<uint8_t> to(200, 0xAA), shown(200, 0), from(200, 0);
    for (size_t i = 0; i < from.size(); ++i) from[i] = uint8_t(i % 7 == 0 ? i : 0);
    CopyChangedWords(to.data() + 3, shown.data() + 1, from.data() + 5, 2);
    for (size_t i = 0; i < 128; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shown[1 + i], from[5 + i]);
        const size_t word = i / 4 * 4;
        bool changed = false;
        for (size_t k = word; k < word + 4; ++k) changed |= from[5 + k] != 0;
        EXPECT_EQ(to[3 + i], changed ? from[5 + i] : 0xAA);
    }
    EXPECT_EQ(to[3 + 128], 0xAA);
    EXPECT_EQ(shown[1 + 128], 0);
}

}  // namespace
}  // namespace qob
