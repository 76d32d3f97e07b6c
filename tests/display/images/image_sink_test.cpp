// tests/display/images/image_sink_test.cpp
// The shared row conversions: truncation to RGB565, compositing over black,
// and the eight-at-a-time path against the pixel-by-pixel formula at every
// width (so every tail length), reading nothing past the row.
#include "display/images/image_sink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace qob {
namespace {

TEST(ImageSinkTest, PackTruncatesEachChannel) {
    EXPECT_EQ(PackRgb565(0, 0, 0), 0);
    EXPECT_EQ(PackRgb565(255, 255, 255), 0xFFFF);
    EXPECT_EQ(PackRgb565(7, 3, 7), 0);           // below one step of each channel
    EXPECT_EQ(PackRgb565(8, 4, 8), 0x0821);      // one step of each
    EXPECT_EQ(PackRgb565(0xF8, 0, 0), 0xF800);
    EXPECT_EQ(PackRgb565(0, 0xFC, 0), 0x07E0);
    EXPECT_EQ(PackRgb565(0, 0, 0xF8), 0x001F);
}

TEST(ImageSinkTest, OverBlackRoundsValueTimesAlphaOver255) {
    for (uint32_t value = 0; value < 256; ++value)
        for (uint32_t alpha = 0; alpha < 256; ++alpha)
            ASSERT_EQ(OverBlack(value, alpha), uint32_t(std::lround(value * alpha / 255.0))) << value << " " << alpha;
}

TEST(ImageSinkTest, RowConversionsMatchThePixelFormulaAtEveryWidth) {
    std::mt19937 random(7);
    for (int32_t width = 0; width <= 40; ++width) {
        // Exactly the row's bytes, so that a read past them is caught.
        const size_t count = size_t(width);
        auto triplets = std::make_unique<uint8_t[]>(count * 3);
        auto quads = std::make_unique<uint8_t[]>(count * 4);
        for (size_t i = 0; i < count * 3; ++i) triplets[i] = uint8_t(random());
        for (size_t i = 0; i < count * 4; ++i) quads[i] = uint8_t(random());
        std::vector<uint16_t> rgb(count + 1, 0xAAAA), bgr(count + 1, 0xAAAA), rgba(count + 1, 0xAAAA);
        ConvertRgbRow(triplets.get(), rgb.data(), width);
        ConvertBgrRow(triplets.get(), bgr.data(), width);
        ConvertRgbaRow(quads.get(), rgba.data(), width);
        for (size_t x = 0; x < count; ++x) {
            const uint8_t* t = &triplets[3 * x];
            const uint8_t* q = &quads[4 * x];
            EXPECT_EQ(rgb[x], PackRgb565(t[0], t[1], t[2])) << width << " " << x;
            EXPECT_EQ(bgr[x], PackRgb565(t[2], t[1], t[0])) << width << " " << x;
            EXPECT_EQ(rgba[x], PackRgb565(OverBlack(q[0], q[3]), OverBlack(q[1], q[3]), OverBlack(q[2], q[3])))
                << width << " " << x;
        }
        // Nothing past the row is written.
        EXPECT_EQ(rgb[count], 0xAAAA);
        EXPECT_EQ(bgr[count], 0xAAAA);
        EXPECT_EQ(rgba[count], 0xAAAA);
    }
}

}  // namespace
}  // namespace qob
