// tests/display/rotation_driver_test.cpp
// The rotation driver and its copies: the turn between orientations, the
// dirty rectangle carried into the frame buffer and widened to tiles, both
// tile sets against a pixel-by-pixel turn, and partial tiles at the edges.
#include "display/rotation_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/device_model.h"
#include "display/display_device_support.h"

namespace qob {
namespace {

// A driver over a plain buffer of its own, logging the rectangles it sees.
class BufferDriver : public Driver {
public:
    BufferDriver(int32_t width, int32_t height, int32_t orientation, int32_t swapMode) {
        buffer.reset(CreatePixelBuffer(width, height));
        info = DriverInfo{width, height, 16, buffer->pitch, orientation, swapMode, buffer->bits};
    }
    bool Initialize(uintptr_t, const DisplayParams&, const DriverInfo&) override { return true; }
    PixelBuffer* Lock() override { return failLock ? nullptr : buffer.get(); }
    void Unlock(uint32_t flags) override { log.push_back("Unlock " + std::to_string(flags)); }
    void AdjustDirtyRect(const Rect& rect) override { seen.push_back(rect); }
    void WaitBeforeCopy() override { log.push_back("Wait"); }
    void Resume() override { log.push_back("Resume"); }
    void Suspend() override { log.push_back("Suspend"); }
    void Repaint() override { log.push_back("Repaint"); }

    std::unique_ptr<PixelBuffer> buffer;
    std::vector<Rect> seen;
    std::vector<std::string> log;
    bool failLock = false;
};

struct Rotated {
    BufferDriver* inner;
    std::unique_ptr<RotationDriver> driver;
};

Rotated MakeRotated(int32_t width, int32_t height, int32_t native, int32_t asked, int32_t swapMode = 0) {
    auto inner = std::make_unique<BufferDriver>(width, height, native, swapMode);
    BufferDriver* raw = inner.get();
    const DriverInfo innerInfo = inner->info;
    auto driver = std::make_unique<RotationDriver>(std::move(inner));
    const DisplayParams params{0, 0, asked, 1};
    EXPECT_TRUE(driver->Initialize(1, params, innerInfo));
    return Rotated{raw, std::move(driver)};
}

TEST(RotationDriverTest, TurnBetweenOrientationsIsNeverNegative) {
    struct Case {
        int32_t inner, asked, r;
    };
    const Case cases[] = {{0, 0, 0}, {0, 1, 3}, {0, 3, 1}, {1, 0, 1}, {3, 1, 2}, {2, 3, 3}, {2, 4, 0}, {1, 7, 0}};
    for (const Case& c : cases) EXPECT_EQ(RotationBetween(c.inner, c.asked), c.r) << c.inner << " " << c.asked;
}

TEST(RotationDriverTest, ViewSizeOrientationAndTheViewsCorner) {
    Rotated rotated = MakeRotated(240, 320, 0, 1);
    EXPECT_EQ(rotated.driver->Rotation(), 3);
    const DriverInfo& info = rotated.driver->info;
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_EQ(info.orientation, 1);
    EXPECT_EQ(info.swapMode, kSwapModeOwn);
    PixelBuffer* view = rotated.driver->Lock();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(info.pitch, view->pitch);
    for (int32_t y = 0; y < 240; ++y)
        for (int32_t x = 0; x < 320; ++x) *PixelAt(*view, x, y) = 1;
    *PixelAt(*view, 0, 0) = 0xBEEF;
    rotated.driver->AdjustDirtyRect(Rect{0, 0, 320, 240});
    rotated.driver->Unlock(0);
    EXPECT_EQ(*PixelAt(*rotated.inner->buffer, 0, 319), 0xBEEF);
    EXPECT_EQ(rotated.inner->log, std::vector<std::string>{"Unlock 0"});
}

TEST(RotationDriverTest, DirtyRectangleCarriedIntoTheFrameBufferAndWidenedToTiles) {
    struct Case {
        int32_t width, height, native, asked;
        Rect rect, seen, widened;
    };
    const Case cases[] = {
        {240, 320, 0, 2, {1, 1, 2, 2}, {238, 318, 239, 319}, {224, 304, 240, 320}},
        {240, 320, 1, 0, {3, 5, 10, 11}, {229, 3, 235, 10}, {224, 0, 240, 16}},
        {240, 320, 0, 1, {3, 5, 10, 11}, {5, 310, 11, 317}, {0, 304, 16, 320}},
        {240, 320, 0, 0, {3, 5, 10, 11}, {3, 5, 10, 11}, {0, 0, 16, 16}},
        // Sizes that are not multiples of 16 keep the widened tiles inside.
        {330, 250, 1, 0, {0, 0, 250, 330}, {0, 0, 330, 250}, {0, 0, 330, 250}},
        {330, 250, 1, 0, {3, 300, 5, 330}, {0, 3, 30, 5}, {0, 0, 32, 16}},
        {237, 317, 2, 0, {230, 310, 237, 317}, {0, 0, 7, 7}, {0, 0, 16, 16}},
        {237, 317, 2, 0, {0, 0, 3, 3}, {234, 314, 237, 317}, {224, 304, 237, 317}},
        // Empty stays empty.
        {237, 317, 2, 0, {0, 0, 0, 0}, {237, 317, 237, 317}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.native) + " -> " + std::to_string(c.asked));
        Rotated rotated = MakeRotated(c.width, c.height, c.native, c.asked);
        rotated.driver->AdjustDirtyRect(c.rect);
        ASSERT_EQ(rotated.inner->seen.size(), 1u);
        EXPECT_EQ(rotated.inner->seen[0], c.seen);
        EXPECT_EQ(rotated.driver->InnerDirtyRect(), c.widened);
    }
}

// Both tile sets and both walks give the pixels of a turn done pixel by
// pixel from the Part's mapping, also over partial tiles.
TEST(RotationDriverTest, TileSetsMatchAPixelByPixelTurn) {
    struct Size {
        int32_t width, height;
    };
    for (Size size : {Size{240, 320}, Size{48, 32}, Size{250, 330}, Size{37, 21}}) {
        for (int32_t r = 0; r < 4; ++r) {
            const bool quarter = r % 2 == 1;
            const int32_t viewWidth = quarter ? size.height : size.width, viewHeight = quarter ? size.width : size.height;
            std::unique_ptr<PixelBuffer> view(CreatePixelBuffer(viewWidth, viewHeight));
            for (int32_t y = 0; y < viewHeight; ++y)
                for (int32_t x = 0; x < viewWidth; ++x) *PixelAt(*view, x, y) = uint16_t(x * 131 + y * 7919);
            for (const TileSet* set : TileSetsOfThisProcessor()) {
                for (TileWalk walk : {TileWalk::Columns, TileWalk::Rows}) {
                    // A frame buffer with odd alignment and a pitch of its own.
                    std::vector<uint8_t> memory(size_t(size.height) * (2 * size_t(size.width) + 6) + 2, 0xCD);
                    PixelBuffer frame(size.width, size.height, 2 * size.width + 6, memory.data() + 2, false);
                    CopyRotatedRect(r, *view, frame, Rect{0, 0, size.width, size.height}, walk, *set);
                    int wrong = 0;
                    for (int32_t y = 0; y < size.height; ++y) {
                        for (int32_t x = 0; x < size.width; ++x) {
                            Point at{x, y};
                            if (r == 1) at = Point{y, viewHeight - 1 - x};
                            if (r == 2) at = Point{viewWidth - 1 - x, viewHeight - 1 - y};
                            if (r == 3) at = Point{viewWidth - 1 - y, x};
                            uint16_t pixel;
                            std::memcpy(&pixel, frame.bits + y * frame.pitch + 2 * x, 2);
                            if (pixel != *PixelAt(*view, at.x, at.y) && wrong++ < 3)
                                ADD_FAILURE() << size.width << "x" << size.height << " r " << r << " at " << x << ", "
                                              << y;
                        }
                    }
                    // Row gaps are left alone.
                    for (int32_t y = 0; y < size.height; ++y)
                        for (int32_t i = 0; i < 6; ++i)
                            ASSERT_EQ(frame.bits[y * frame.pitch + 2 * size.width + i], 0xCD);
                }
            }
        }
    }
}

TEST(RotationDriverTest, CacheOrderedSetForProcessorType2) {
    EXPECT_EQ(&TileSetForCpu(2), &CacheOrderedTileSet());
    EXPECT_EQ(&TileSetForCpu(1), &PlainTileSet());
    EXPECT_EQ(&TileSetForCpu(0), &PlainTileSet());
}

// The wait flag runs the inner driver's wait before the copy; slots forward.
TEST(RotationDriverTest, WaitFlagAndForwardedSlots) {
    Rotated rotated = MakeRotated(32, 48, 0, 1, kSwapModeShadow);
    ASSERT_NE(rotated.driver->Lock(), nullptr);
    rotated.driver->Unlock(kPresentAfterWait);
    rotated.driver->Resume();
    rotated.driver->Suspend();
    rotated.driver->Repaint();
    rotated.driver->WaitBeforeCopy();  // does nothing itself
    EXPECT_EQ(rotated.inner->log,
              (std::vector<std::string>{"Wait", "Unlock 1", "Resume", "Suspend", "Repaint"}));
    rotated.inner->failLock = true;
    EXPECT_EQ(rotated.driver->Lock(), nullptr);
}

TEST(BlockCopyTest, CopiesEveryLengthAtEveryAlignment) {
    std::vector<uint8_t> from(200), to(200);
    for (size_t i = 0; i < from.size(); ++i) from[i] = uint8_t(i * 7 + 1);
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t length : {size_t(0), size_t(1), size_t(31), size_t(32), size_t(33), size_t(64), size_t(150)}) {
            std::fill(to.begin(), to.end(), 0);
            BlockCopy(to.data() + offset, from.data() + 3, length);
            for (size_t i = 0; i < to.size(); ++i) {
                const bool inside = i >= offset && i < offset + length;
                ASSERT_EQ(to[i], inside ? from[3 + i - offset] : 0) << offset << " " << length << " " << i;
            }
        }
    }
}

}  // namespace
}  // namespace qob
