// native/asm_builtins.h
// The assembler built-ins and their common paths: AssembleText from a
// source text to a runnable block, FreeAsmCode for its release.
#pragma once

#include <cstdint>

namespace qob {

// AARGS$ holds this many arguments.
constexpr uint32_t kMaxAsmArguments = 128;

// Assembles source into a new block of size bytes (times 16 in debug mode,
// again in profiling, within a cap). Errors go to "ShowError.qob" or the
// "ERROR" box and give 0; a block is never half made.
[[nodiscard]] uint32_t AssembleText(int32_t size, const char* source);

// Releases a block, its texts and its place in the engines. Texts that a
// value-stack cell still points at (qobpushstr) go to the current call depth
// instead of being freed. Nothing for an address that is no live block.
void FreeAsmCode(uint32_t base);

void Builtin_asm();
void Builtin_callasm();
void Builtin_doasm();
void Builtin_freeasm();

}  // namespace qob
