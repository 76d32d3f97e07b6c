// display/images/image_sink.cpp
// The row conversions the decoders share. Rows of 3-byte pixels go through
// SSSE3 byte shuffles where the processor has them (every x86-64 processor
// of the last fifteen years), eight pixels at a time; the rest, and other
// processors, take the plain loop, which gives the same pixels.
#include "display/images/image_sink.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qob {
namespace {

// Three-byte pixels whose red byte comes first (RGB) or last (BGR).
template <bool kRedFirst>
void ConvertTripletsPlain(const uint8_t* source, uint16_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, source += 3)
        row[x] = kRedFirst ? PackRgb565(source[0], source[1], source[2]) : PackRgb565(source[2], source[1], source[0]);
}

#if defined(__x86_64__)
// The shuffle that puts byte `first` + 3i of 16 loaded bytes into 16-bit
// lane i, for the lanes [from, to) of eight pixels; other lanes become 0.
__attribute__((target("ssse3"))) __m128i LaneShuffle(int first, int from, int to) {
    alignas(16) int8_t mask[16];
    for (int lane = 0; lane < 8; ++lane) {
        const bool inside = lane >= from && lane < to;
        mask[2 * lane] = inside ? int8_t(first + 3 * lane) : int8_t(-1);
        mask[2 * lane + 1] = -1;
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(mask));
}

// Eight pixels a step: 16 bytes loaded at pixel 0 hold pixels 0 to 4, and 16
// bytes loaded at byte 8 (ending with pixel 7's last byte) hold 5 to 7.
template <bool kRedFirst>
__attribute__((target("ssse3"))) void ConvertTripletsShuffled(const uint8_t* source, uint16_t* row, int32_t width) {
    constexpr int kRed = kRedFirst ? 0 : 2, kBlue = kRedFirst ? 2 : 0;
    // Offsets in the second load count from byte 8, hence the - 8.
    const __m128i redLow = LaneShuffle(kRed, 0, 5), redHigh = LaneShuffle(kRed - 8, 5, 8);
    const __m128i greenLow = LaneShuffle(1, 0, 5), greenHigh = LaneShuffle(1 - 8, 5, 8);
    const __m128i blueLow = LaneShuffle(kBlue, 0, 5), blueHigh = LaneShuffle(kBlue - 8, 5, 8);
    const __m128i redMask = _mm_set1_epi16(0xF8), greenMask = _mm_set1_epi16(0xFC);
    int32_t x = 0;
    for (; x + 8 <= width; x += 8, source += 24) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 8));
        const __m128i red = _mm_or_si128(_mm_shuffle_epi8(low, redLow), _mm_shuffle_epi8(high, redHigh));
        const __m128i green = _mm_or_si128(_mm_shuffle_epi8(low, greenLow), _mm_shuffle_epi8(high, greenHigh));
        const __m128i blue = _mm_or_si128(_mm_shuffle_epi8(low, blueLow), _mm_shuffle_epi8(high, blueHigh));
        const __m128i pixels = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(red, redMask), 8),
                                                         _mm_slli_epi16(_mm_and_si128(green, greenMask), 3)),
                                            _mm_srli_epi16(blue, 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), pixels);
    }
    ConvertTripletsPlain<kRedFirst>(source, row + x, width - x);
}

bool HasShuffles() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

template <bool kRedFirst>
void ConvertTriplets(const uint8_t* source, uint16_t* row, int32_t width) {
#if defined(__x86_64__)
    if (HasShuffles()) return ConvertTripletsShuffled<kRedFirst>(source, row, width);
#endif
    ConvertTripletsPlain<kRedFirst>(source, row, width);
}

}  // namespace

void ConvertRgbRow(const uint8_t* rgb, uint16_t* row, int32_t width) { ConvertTriplets<true>(rgb, row, width); }

void ConvertBgrRow(const uint8_t* bgr, uint16_t* row, int32_t width) { ConvertTriplets<false>(bgr, row, width); }

void ConvertRgbaRow(const uint8_t* rgba, uint16_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, rgba += 4) {
        const uint32_t alpha = rgba[3];
        row[x] = PackRgb565(OverBlack(rgba[0], alpha), OverBlack(rgba[1], alpha), OverBlack(rgba[2], alpha));
    }
}

}  // namespace qob
