// platform/text_codec.h
// Conversion between the system's 8-bit texts (UTF-8 on this host) and UTF-16,
// lossless for any 8-bit text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qob::platform {

// 8-bit -> UTF-16: valid UTF-8 decodes to its characters (supplementary ones as
// surrogate pairs). Any byte that is not part of a valid sequence (a stray
// continuation byte, a truncated or overlong sequence, an encoded surrogate, a
// value above U+10FFFF) becomes the unit kEscapeBase + byte, so 0x80..0xFF map
// to U+DD00..U+DD7F. Control characters and NUL map to themselves.
//
// UTF-16 -> 8-bit: the inverse. A surrogate pair encodes its character, an
// escape unit gives back its byte, and any other unpaired surrogate (which no
// 8-bit text can stand for) becomes kReplacementByte.
//
// So every 8-bit text survives 8-bit -> UTF-16 -> 8-bit unchanged. The other
// way round only unpaired surrogates can change.
constexpr uint16_t kEscapeBase = 0xDC80;
constexpr char kReplacementByte = '?';

// A UTF-8 text never decodes to more units than it has bytes, and a UTF-16
// text never encodes to fewer bytes than it has units.

// Decodes text into out. Returns the number of units the whole text decodes
// to; writes only as many as out holds. No terminator is written.
size_t DecodeAnsi(std::string_view text, std::span<uint16_t> out);

// Encodes units into out. Returns the number of bytes the whole input encodes
// to; writes only as many as out holds. No terminator is written.
size_t EncodeAnsi(std::span<const uint16_t> units, std::span<char> out);

// Convenience forms for code that keeps texts in containers.
std::vector<uint16_t> DecodeAnsi(std::string_view text);
std::string EncodeAnsi(std::span<const uint16_t> units);

// Number of units before the first 0 unit of a terminated UTF-16 text.
size_t WideTextLength(const uint16_t* text);

}  // namespace qob::platform
