// builtins/texts/text_arguments.h
// How the text built-ins read their arguments: texts of the width the work
// needs, and counts and positions as 32-bit integers.
#pragma once

#include <cstdint>

#include "builtins/operators/operator_texts.h"
#include "runtime/vm/value_stack.h"

namespace qob {

// The argument as text of the requested width, valid until the running
// procedure returns: a number in its text form, a matrix in its bracket form,
// an 8-bit text widened or a UTF-16 text narrowed as needed (a UTF-16 text
// read as bytes would end at its first zero byte).
[[nodiscard]] TextSpan ArgumentText(const StackEntry& argument, bool wide);

// The argument as a number (a text converted), truncated toward zero and
// held to the 32-bit range.
[[nodiscard]] int32_t ArgumentInteger(const StackEntry& argument);

// A new block of the process heap holding a copy of the text (the caller
// frees or tracks it); null when no memory is left.
[[nodiscard]] void* CopyText(TextSpan text, bool wide);

}  // namespace qob
