// platform/text_codec.cpp
// UTF-8 <-> UTF-16 with escape units for bytes that are not valid UTF-8.
#include "platform/text_codec.h"

namespace qob::platform {
namespace {

constexpr uint16_t kHighSurrogateFirst = 0xD800;
constexpr uint16_t kLowSurrogateFirst = 0xDC00;
constexpr uint16_t kLowSurrogateLast = 0xDFFF;
constexpr uint16_t kEscapeFirst = kEscapeBase + 0x80;
constexpr uint16_t kEscapeLast = kEscapeBase + 0xFF;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence starting at text[i] and its code point;
// 0 when the byte there does not start one. Overlong forms, encoded
// surrogates and values above U+10FFFF are not valid.
size_t MatchSequence(std::string_view text, size_t i, uint32_t& codePoint) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    size_t length;
    unsigned char secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    if (at(i + 1) < secondLow || at(i + 1) > secondHigh) return 0;
    for (size_t k = 1; k < length; ++k) {
        if (!IsContinuation(at(i + k))) return 0;
        codePoint = (codePoint << 6) | (at(i + k) & 0x3F);
    }
    return length;
}

// Writes unit at out[count] when there is room; always counts it.
void PutUnit(std::span<uint16_t> out, size_t& count, uint16_t unit) {
    if (count < out.size()) out[count] = unit;
    ++count;
}

void PutByte(std::span<char> out, size_t& count, unsigned value) {
    if (count < out.size()) out[count] = static_cast<char>(value);
    ++count;
}

void PutCodePoint(std::span<char> out, size_t& count, uint32_t cp) {
    if (cp < 0x80) {
        PutByte(out, count, cp);
    } else if (cp < 0x800) {
        PutByte(out, count, 0xC0 | (cp >> 6));
        PutByte(out, count, 0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        PutByte(out, count, 0xE0 | (cp >> 12));
        PutByte(out, count, 0x80 | ((cp >> 6) & 0x3F));
        PutByte(out, count, 0x80 | (cp & 0x3F));
    } else {
        PutByte(out, count, 0xF0 | (cp >> 18));
        PutByte(out, count, 0x80 | ((cp >> 12) & 0x3F));
        PutByte(out, count, 0x80 | ((cp >> 6) & 0x3F));
        PutByte(out, count, 0x80 | (cp & 0x3F));
    }
}

}  // namespace

size_t DecodeAnsi(std::string_view text, std::span<uint16_t> out) {
    size_t count = 0;
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            PutUnit(out, count, byte);
            ++i;
            continue;
        }
        uint32_t cp = 0;
        const size_t length = MatchSequence(text, i, cp);
        if (length == 0) {
            PutUnit(out, count, static_cast<uint16_t>(kEscapeBase + byte));
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            PutUnit(out, count, static_cast<uint16_t>(cp));
        } else {
            cp -= 0x10000;
            PutUnit(out, count, static_cast<uint16_t>(kHighSurrogateFirst + (cp >> 10)));
            PutUnit(out, count, static_cast<uint16_t>(kLowSurrogateFirst + (cp & 0x3FF)));
        }
        i += length;
    }
    return count;
}

size_t EncodeAnsi(std::span<const uint16_t> units, std::span<char> out) {
    size_t count = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        const uint16_t unit = units[i];
        if (unit < kHighSurrogateFirst || unit > kLowSurrogateLast) {
            PutCodePoint(out, count, unit);
        } else if (unit < kLowSurrogateFirst) {
            // A pair is checked before escapes: the low half of a decoded
            // supplementary character may fall in the escape range.
            if (i + 1 < units.size() && units[i + 1] >= kLowSurrogateFirst &&
                units[i + 1] <= kLowSurrogateLast) {
                const uint32_t cp = 0x10000 + ((uint32_t(unit) - kHighSurrogateFirst) << 10) +
                                    (units[i + 1] - kLowSurrogateFirst);
                PutCodePoint(out, count, cp);
                ++i;
            } else {
                PutByte(out, count, static_cast<unsigned char>(kReplacementByte));
            }
        } else if (unit >= kEscapeFirst && unit <= kEscapeLast) {
            PutByte(out, count, unit - kEscapeBase);
        } else {
            PutByte(out, count, static_cast<unsigned char>(kReplacementByte));
        }
    }
    return count;
}

std::vector<uint16_t> DecodeAnsi(std::string_view text) {
    std::vector<uint16_t> units(text.size());
    units.resize(DecodeAnsi(text, std::span<uint16_t>(units)));
    return units;
}

std::string EncodeAnsi(std::span<const uint16_t> units) {
    std::string text(EncodeAnsi(units, std::span<char>()), '\0');
    EncodeAnsi(units, std::span<char>(text));
    return text;
}

size_t WideTextLength(const uint16_t* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

}  // namespace qob::platform
