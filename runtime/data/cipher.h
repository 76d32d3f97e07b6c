// runtime/data/cipher.h
// The keyed additive byte cipher of compiled program files, packages and the
// programs' own encryption.
#pragma once

#include <cstdint>

namespace qob {

// The key of compiled program files (always used with start 0). Packages are
// enciphered with their own password instead.
inline constexpr char kCompiledFileKey[] = "QOB compiled program";

// Adds (or, with decrypt, subtracts) the key's bytes to the buffer's bytes
// modulo 256, in place. The key is a terminated text used without its
// terminator and repeated as often as needed; start skips that many key
// positions first, so a buffer ciphered in pieces with start = the bytes
// already done gives the same result as one call. A length of 0 or below, a
// null or empty key, or a negative start (read as 0) never fails: the first
// two leave the buffer unchanged.
void CipherBytes(void* buffer, int32_t length, const char* key, bool decrypt, int32_t start);

// The same walk over 16-bit units. Each result keeps only its low 8 bits,
// sign-extended: units below 0x80 survive a cipher/decipher pair, others do
// not (0x00E9 comes back as 0xFFE9). Stored texts depend on this rule.
void CipherWords(uint16_t* units, int32_t count, const char* key, bool decrypt, int32_t start);

}  // namespace qob
