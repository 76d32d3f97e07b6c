// runtime/vm/fresh_text.h
// The new text block the last instruction pushed, seen by its cell alone: the
// instruction right after it may take the block over instead of copying it.
#pragma once

#include "runtime/vm/value_stack.h"

namespace qob {

// Notes the cell the running instruction has just pushed. Its text must be a
// block made for it and tracked as a temporary, which nothing else holds.
void NoteFreshText(const StackEntry* cell);

// Whether the cell, popped by the running instruction, is the one the
// instruction just before it noted, with the same block and no block released
// or resized since. Answers once: the note is spent either way.
[[nodiscard]] bool IsFreshText(const StackEntry* cell);

}  // namespace qob
