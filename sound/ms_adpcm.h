// sound/ms_adpcm.h
// The MS ADPCM decoder: the format's extension, checked before decoding,
// and whole blocks decoded into 16-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace qob {

constexpr int kAdpcmCoefficientCount = 7;

struct AdpcmFormat {
    int channels = 0;         // 1 or 2
    int blockAlign = 0;       // bytes per block
    int samplesPerBlock = 0;  // frames per block
    int16_t coefficients[kAdpcmCoefficientCount][2] = {};
};

// The format of a WAVE format chunk's bytes (format tag at 0, channels at 2,
// block align at 12, samples per block at 18, coefficient count at 20, the
// pairs from 22), or nullopt when the tag is not 2, the chunk is too short,
// the count is not 7, or block align and samples per block do not fit
// together: 7 x channels <= block align, and 2 <= samples per block <=
// 2 + (block align - 7 x channels) x 2 / channels.
[[nodiscard]] std::optional<AdpcmFormat> ReadAdpcmFormat(std::span<const uint8_t> format);

// Bytes of 16-bit PCM that the whole blocks of dataBytes decode into.
[[nodiscard]] uint64_t AdpcmDecodedBytes(const AdpcmFormat& format, uint64_t dataBytes);

// Decodes the whole blocks of data into out (AdpcmDecodedBytes long,
// interleaved little-endian 16-bit samples). False when a block's predictor
// index is above 6; out is then incomplete.
[[nodiscard]] bool DecodeAdpcm(const AdpcmFormat& format, std::span<const uint8_t> data, uint8_t* out);

}  // namespace qob
