// sound/ms_adpcm.cpp
// MS ADPCM: each block starts with a predictor index, a delta and two
// samples per channel; then every 4-bit code refines a prediction from the
// last two samples.
#include "sound/ms_adpcm.h"

#include <algorithm>
#include <cstring>

namespace qob {
namespace {

constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
constexpr int kSmallestDelta = 16;
// Valid data never comes near it; hostile data would overflow delta x 768.
constexpr int kLargestDelta = 0x7FFFFFFF / 768;
constexpr size_t kExtensionEnd = 22 + kAdpcmCoefficientCount * 4;

inline int ReadU16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline int ReadS16(const uint8_t* p) { return static_cast<int16_t>(ReadU16(p)); }

inline void Store(uint8_t*& out, int value) {
    const auto sample = static_cast<int16_t>(value);
    std::memcpy(out, &sample, 2);
    out += 2;
}

struct ChannelState {
    int coefficient1, coefficient2;
    int delta;
    int sample1, sample2;

    // The sample that one signed 4-bit code gives. The prediction is divided
    // rounding toward zero, as integer division does.
    int Decode(int code) {
        const int64_t prediction = (static_cast<int64_t>(sample1) * coefficient1 + static_cast<int64_t>(sample2) * coefficient2) / 256;
        const int value = static_cast<int>(std::clamp<int64_t>(prediction + static_cast<int64_t>(code) * delta, -32768, 32767));
        delta = std::clamp(static_cast<int>((static_cast<int64_t>(kAdaptation[code & 15]) * delta) / 256), kSmallestDelta,
                           kLargestDelta);
        sample2 = sample1;
        sample1 = value;
        return value;
    }
};

inline int SignedNibble(int nibble) { return nibble & 8 ? nibble - 16 : nibble; }

}  // namespace

std::optional<AdpcmFormat> ReadAdpcmFormat(std::span<const uint8_t> format) {
    if (format.size() < kExtensionEnd) return std::nullopt;
    const uint8_t* p = format.data();
    if (ReadU16(p) != 2) return std::nullopt;
    AdpcmFormat result;
    result.channels = ReadU16(p + 2);
    result.blockAlign = ReadU16(p + 12);
    result.samplesPerBlock = ReadU16(p + 18);
    if (result.channels != 1 && result.channels != 2) return std::nullopt;
    if (ReadU16(p + 20) != kAdpcmCoefficientCount) return std::nullopt;
    const int header = 7 * result.channels;
    if (result.blockAlign < header) return std::nullopt;
    const int mostSamples = 2 + (result.blockAlign - header) * 2 / result.channels;
    if (result.samplesPerBlock < 2 || result.samplesPerBlock > mostSamples) return std::nullopt;
    for (int i = 0; i < kAdpcmCoefficientCount; ++i) {
        result.coefficients[i][0] = static_cast<int16_t>(ReadS16(p + 22 + 4 * i));
        result.coefficients[i][1] = static_cast<int16_t>(ReadS16(p + 24 + 4 * i));
    }
    return result;
}

uint64_t AdpcmDecodedBytes(const AdpcmFormat& format, uint64_t dataBytes) {
    if (format.blockAlign <= 0) return 0;
    return dataBytes / static_cast<uint64_t>(format.blockAlign) * static_cast<uint64_t>(format.samplesPerBlock) *
           static_cast<uint64_t>(format.channels) * 2;
}

bool DecodeAdpcm(const AdpcmFormat& format, std::span<const uint8_t> data, uint8_t* out) {
    const int channels = format.channels;
    const size_t blocks = data.size() / static_cast<size_t>(format.blockAlign);
    const size_t codes = static_cast<size_t>(format.samplesPerBlock - 2) * static_cast<size_t>(channels);
    for (size_t b = 0; b < blocks; ++b) {
        const uint8_t* block = data.data() + b * static_cast<size_t>(format.blockAlign);
        ChannelState state[2];
        for (int c = 0; c < channels; ++c) {
            const int predictor = block[c];
            if (predictor >= kAdpcmCoefficientCount) return false;
            state[c].coefficient1 = format.coefficients[predictor][0];
            state[c].coefficient2 = format.coefficients[predictor][1];
            state[c].delta = ReadS16(block + channels + 2 * c);
            state[c].sample1 = ReadS16(block + 3 * channels + 2 * c);
            state[c].sample2 = ReadS16(block + 5 * channels + 2 * c);
        }
        for (int c = 0; c < channels; ++c) Store(out, state[c].sample2);
        for (int c = 0; c < channels; ++c) Store(out, state[c].sample1);
        const uint8_t* nibbles = block + 7 * channels;
        // The codes alternate between the channels, high nibble first; in
        // mono both nibbles of a byte go to the one channel.
        if (channels == 1) {
            for (size_t i = 0; i < codes / 2; ++i) {
                Store(out, state[0].Decode(SignedNibble(nibbles[i] >> 4)));
                Store(out, state[0].Decode(SignedNibble(nibbles[i] & 15)));
            }
            if (codes & 1) Store(out, state[0].Decode(SignedNibble(nibbles[codes / 2] >> 4)));
        } else {
            for (size_t i = 0; i < codes / 2; ++i) {
                Store(out, state[0].Decode(SignedNibble(nibbles[i] >> 4)));
                Store(out, state[1].Decode(SignedNibble(nibbles[i] & 15)));
            }
        }
    }
    return true;
}

}  // namespace qob
