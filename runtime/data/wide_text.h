// runtime/data/wide_text.h
// 8-bit texts to UTF-16 and back for every operating-system call, and the test
// that tells a block of 8-bit text from one that is not.
#pragma once

#include <cstdint>

namespace qob {

// A new zero-filled UTF-16 copy of a terminated 8-bit text, in a block of the
// process heap of strlen + 1 units that the caller frees (FreeBlock). Invalid
// UTF-8 bytes map to escape units, so WideToAnsi gives the text back exactly.
// A null text counts as empty. Null when no memory is left.
[[nodiscard]] uint16_t* AnsiToWide(const char* text);

// A new zero-filled 8-bit copy of a terminated UTF-16 text, in a block of
// exactly its encoded length + 1 bytes (never less than units + 1) that the
// caller frees. A null text counts as empty. Null when no memory is left.
[[nodiscard]] char* WideToAnsi(const uint16_t* text);

// 1 when the buffer's bytes do not survive 8-bit -> UTF-16 -> 8-bit, else 0.
// The conversion reads up to the first zero byte, so in practice 1 means a
// non-zero byte after a zero within the length (UTF-16 text, binary data).
// A length of -1 means the buffer's block size (0 for an address that is not
// a block); a length below 1 or a null buffer gives 0.
[[nodiscard]] int IsWideString(const void* buffer, int32_t length);

}  // namespace qob
