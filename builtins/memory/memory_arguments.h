// builtins/memory/memory_arguments.h
// How the raw-memory built-ins read addresses and integers from their
// arguments, and the bounds check of an access that starts at a block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/vm/value_stack.h"

namespace qob {

// An address argument: the number's 32 bits; when the number is 0, the
// extra word; else the text's own buffer.
[[nodiscard]] uintptr_t EntryAddress(const StackEntry* cell);
[[nodiscard]] inline uintptr_t PopAddress() { return EntryAddress(PopStackEntry()); }

// A numeric argument (a text converted first) as a signed or unsigned
// 32-bit integer: a value in either 32-bit range keeps its 32 bits.
[[nodiscard]] int32_t PopSigned32();
[[nodiscard]] uint32_t PopUnsigned32();

// Whether count bytes from address may be touched. An address inside a block
// of the runtime allocator is held to that block's exact size: an access
// past its end is reported as the access violation a bad address
// gives (inside TRY only ERROR% is set) and false is answered. Any other
// address is taken as given (a bad one faults).
[[nodiscard]] bool CheckBlockAccess(uintptr_t address, size_t count);

// Bytes of a numeric type code's value (-9 and -8: 8, -5, -4 and -3: 4, -2: 2,
// -1: 1), 0 for any other code.
[[nodiscard]] size_t TypedWidth(int32_t code);
// Reads the little-endian value of a numeric type code at address (any
// alignment); false, reading nothing, for another code.
bool ReadTypedNumberAt(uintptr_t address, int32_t code, double& result);

[[nodiscard]] inline void* AddressPointer(uintptr_t address) { return reinterpret_cast<void*>(address); }
[[nodiscard]] inline double AddressNumber(const void* address) {
    return static_cast<double>(reinterpret_cast<uintptr_t>(address));
}

}  // namespace qob
