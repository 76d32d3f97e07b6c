// builtins/operators/operator_texts.h
// The text work of the operators (join, cut, remove, repeat, split) on 8-bit
// and UTF-16 texts alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qob {

// A terminated text of 8-bit or 16-bit units with its length in units.
struct TextSpan {
    const void* units;
    size_t length;  // without the terminator
};

// Every result is a new zero-terminated block of the process heap that the
// caller tracks or frees, or null when no memory is left. wide says whether
// the spans (and the result) hold 16-bit units.

// left followed by right.
[[nodiscard]] void* JoinTexts(TextSpan left, TextSpan right, bool wide);

// Every text in order, one after the other.
[[nodiscard]] void* JoinAllTexts(std::span<const TextSpan> texts, bool wide);

// The text without its last count units: a count of 0 or less keeps it
// whole, a count of its length or more leaves the empty text.
[[nodiscard]] void* CutTextTail(TextSpan text, int64_t count, bool wide);

// The text with every occurrence of find removed, again and again until none
// is left (removals that bring a new occurrence together remove it too:
// "aabb" without "ab" is empty). An empty find keeps the text whole.
[[nodiscard]] void* RemoveTextOccurrences(TextSpan text, TextSpan find, bool wide);

// The text count times; empty for a count of 0 or less. Null when the
// result would not fit a block.
[[nodiscard]] void* RepeatText(TextSpan text, int64_t count, bool wide);

// Splitting a text into count pieces (count >= 1): each piece holds up to
// PieceLength units, the length divided by the count and rounded up, worked in
// single precision as the device did.
[[nodiscard]] size_t PieceLength(size_t length, int64_t count);
// Piece index of a split: empty when it starts at or past the end.
[[nodiscard]] void* TextPiece(TextSpan text, size_t pieceLength, int64_t index, bool wide);

}  // namespace qob
