// builtins/texts/text_search.h
// Searching a text for another: first, last and counted occurrences, over
// 8-bit and UTF-16 texts alike.
#pragma once

#include <cstdint>

#include "builtins/operators/operator_texts.h"

namespace qob {

// Positions are in units (bytes, or 16-bit units when wide); -1 means absent.

// The first occurrence of find in text. An empty find is found at the end of
// an 8-bit text and at the start of a UTF-16 one.
[[nodiscard]] int64_t FindFirstText(TextSpan text, TextSpan find, bool wide);

// The last occurrence; an empty find is never found.
[[nodiscard]] int64_t FindLastText(TextSpan text, TextSpan find, bool wide);

// Occurrences that do not overlap, counted from the left; an empty find
// counts none (it would be found at the same place for ever).
[[nodiscard]] int64_t CountTextOccurrences(TextSpan text, TextSpan find, bool wide);

}  // namespace qob
