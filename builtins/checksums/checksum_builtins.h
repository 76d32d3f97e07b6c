// builtins/checksums/checksum_builtins.h
// crc16, crc32, hash, encrypt and soundex: checksums, hashes, the keyed
// cipher and the phonetic code over the bytes of a text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// The CRC-32 register after the bytes, started at all ones, with the
// reflected polynomial 0xEDB88320 and no final XOR (the complement of the
// common CRC-32). No bytes leave 0xFFFFFFFF.
[[nodiscard]] uint32_t Crc32NoFinalXor(const void* bytes, size_t count);

// Hash method 9: the last four bytes of the MD5 digest of the bytes, read as
// one big-endian 32-bit number, taken as signed.
[[nodiscard]] int32_t Md5TailNumber(const void* bytes, size_t count);

// (text, length): the checksum of the first length bytes, a length past the
// text's block cut to the block (or to the text and its terminator).
void Builtin_crc16();
void Builtin_crc32();
// (method, text, length): methods 0 to 8 over the first length bytes, 9 the
// MD5 of the whole text; any other method gives 0.
void Builtin_hash();
// (target, length, key, decrypt): ciphers the target variable's text in place;
// -1 is the whole text. A target that names no variable (a literal) is left
// alone, so a program never changes its own constants. UTF-16 texts keep the
// 8-bit rule of CipherWords: units from 0x80 up do not come back.
void Builtin_encrypt();
// (buffer, text, length, mode): the code goes into the buffer variable's
// block when it fits there, else it is assigned to the variable; a buffer
// that names no variable gets nothing. Pushes the code's length.
void Builtin_soundex();

}  // namespace qob
