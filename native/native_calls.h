// native/native_calls.h
// The native call opcodes SCALLP0 ... CALLF16: a declared function's
// arguments popped and turned into words, the call, and the result.
#pragma once

#include <span>

#include "runtime/registry/registration.h"

namespace qob {

// One row per opcode 109 to 176, each with its own handler.
[[nodiscard]] std::span<const OpcodeRegistration> NativeCallOpcodeRows();

// The most words a native function is called with.
constexpr int kMaxNativeWords = 16;

// The call of the function-table record at index with n words; a result is
// pushed when withResult (0 when the entry is null).
void CallNativeFunction(int index, int n, bool withResult);

}  // namespace qob
