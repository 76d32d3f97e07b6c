// builtins/files/file_arguments.h
// What the file, package and device built-ins share: paths read from
// arguments, output variables, text results made from host strings, and the
// room a memory argument has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/vm/value_stack.h"

namespace qob {

// The argument as an 8-bit text (a number formatted, UTF-16 narrowed).
[[nodiscard]] std::string StringArgument(const StackEntry& argument);

// Pushes a copy of the text as a text result of the current call depth.
void PushStringResult(std::string_view text);

// Sets the variable the argument refers to (or names) to the number.
void StoreOutputNumber(const StackEntry& argument, double value);

// Makes the variable the argument refers to (or names) a list of copies of
// the texts, its current item the first or, with lastCurrent, the last.
void StoreTextList(const StackEntry& argument, const std::vector<std::string>& texts, bool lastCurrent);

// An address argument: its number truncated to 32 bits, else its extra
// word, else its text's address.
[[nodiscard]] void* AddressArgument(const StackEntry& argument);

// The bytes that may be used at an address: the exact size of the block it
// starts, else 0 (unknown).
[[nodiscard]] size_t KnownBlockRoom(const void* address);

}  // namespace qob
