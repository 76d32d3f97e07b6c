// display/images/image_sink.cpp
// The row conversions the decoders share.
#include "display/images/image_sink.h"

namespace qob {

void ConvertRgbRow(const uint8_t* rgb, uint16_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, rgb += 3) row[x] = PackRgb565(rgb[0], rgb[1], rgb[2]);
}

void ConvertRgbaRow(const uint8_t* rgba, uint16_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, rgba += 4) {
        const uint32_t alpha = rgba[3];
        row[x] = PackRgb565(OverBlack(rgba[0], alpha), OverBlack(rgba[1], alpha), OverBlack(rgba[2], alpha));
    }
}

}  // namespace qob
