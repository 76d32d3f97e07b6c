// runtime/data/wide_text.cpp
// AnsiToWide, WideToAnsi and IsWideString over the platform text codec.
#include "runtime/data/wide_text.h"

#include "platform/memory.h"
#include "platform/text_codec.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace qob {

uint16_t* AnsiToWide(const char* text) {
    const std::string_view bytes = text ? std::string_view(text) : std::string_view();
    // Decoding never gives more units than bytes, so strlen + 1 units always
    // hold the text and its terminator.
    auto* units = static_cast<uint16_t*>(platform::AllocateZeroedBlock((bytes.size() + 1) * sizeof(uint16_t)));
    if (units) platform::DecodeAnsi(bytes, std::span<uint16_t>(units, bytes.size()));
    return units;
}

char* WideToAnsi(const uint16_t* text) {
    const std::span<const uint16_t> units(text, text ? platform::WideTextLength(text) : 0);
    // A unit may take up to three bytes, so the size is measured first.
    const size_t length = platform::EncodeAnsi(units, std::span<char>());
    auto* bytes = static_cast<char*>(platform::AllocateZeroedBlock(length + 1));
    if (bytes) platform::EncodeAnsi(units, std::span<char>(bytes, length));
    return bytes;
}

int IsWideString(const void* buffer, int32_t length) {
    if (buffer == nullptr) return 0;
    const size_t size = length == -1 ? platform::GetBlockSize(buffer) : length < 1 ? 0 : size_t(length);
    if (size == 0) return 0;
    const auto* input = static_cast<const char*>(buffer);
    const std::string_view text(input, strnlen(input, size));
    const std::string back = platform::EncodeAnsi(platform::DecodeAnsi(text));
    // Compare over the larger of the length and the round trip's block
    // (its bytes and terminator), both read as zero past their ends.
    const size_t compared = std::max(size, back.size() + 1);
    for (size_t i = 0; i < compared; ++i) {
        const char original = i < size ? input[i] : '\0';
        const char roundTrip = i < back.size() ? back[i] : '\0';
        if (original != roundTrip) return 1;
    }
    return 0;
}

}  // namespace qob
