// windows/script_arguments.h
// What the window built-ins make of their arguments: 8-bit texts as UTF-16,
// copies in low-memory blocks that records keep, and procedure values.
#pragma once

#include <string>

namespace qob {

struct Instruction;

// The text (UTF-8; null is empty) as UTF-16.
[[nodiscard]] std::u16string WideFromAnsi(const char* text);
// Copies with their terminator in a block of the low-memory allocator
// (freed with platform::FreeBlock); null when no block is left.
[[nodiscard]] char* CopyTextToBlock(const char* text);
[[nodiscard]] char16_t* CopyWideToBlock(const std::u16string& text);
// A procedure value from a program: a procedure start of the current
// program's code, else null (a number that is no procedure never runs).
[[nodiscard]] Instruction* ProcedureArgument(double value);

}  // namespace qob
