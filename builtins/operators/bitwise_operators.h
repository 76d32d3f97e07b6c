// builtins/operators/bitwise_operators.h
// Bit operations on numbers: "|", "&", "^" (xor), "~", the shifts "<<"
// (shl), asl, ">>" (shr), asr, and the compound "|=", "^=", "&=" with their
// typed forms.
#pragma once

#include <cstdint>

namespace qob {

// The operators work on 64-bit integers: a number truncated toward zero,
// saturated at the limits, NaN read as 0 (a text is read as its number).
// - "<<" shifts by the low 8 bits of the count; 64 or more give 0.
// - ">>" shifts arithmetically; a count of 64 or more, or a negative one,
//   gives the sign fill (0 or -1).
// - "~" complements the low 32 bits (the operand taken modulo 2^32) and reads
//   the result as a signed 32-bit number: ~0 is -1, ~4294967295 is 0.
// With a matrix operand the element-wise forms work on 32-bit integers
// instead (see matrix_operators.h); asl and asr differ from "<<" and ">>"
// only there.
[[nodiscard]] int64_t ShiftLeft(int64_t value, int64_t count);
[[nodiscard]] int64_t ShiftRight(int64_t value, int64_t count);
[[nodiscard]] int32_t Complement32(int64_t value);

void Builtin_bitor();   // "|"
void Builtin_bitand();  // "&"
void Builtin_xor();     // "^" and xor
void Builtin_bitnot();  // "~"
void Builtin_shl();     // "<<" and shl
void Builtin_asl();
void Builtin_shr();     // ">>" and shr
void Builtin_asr();

// Compound forms: the target's number as its cell (or variable) holds it,
// combined with the right operand's number; no element-wise matrix work.
void Builtin_orassign();   // "|="
void Builtin_xorassign();  // "^="
void Builtin_andassign();  // "&="
void Handle_ORASSIGN2();   // "|=2"
void Handle_XORASSIGN2();  // "^=2"
void Handle_ANDASSIGN2();  // "&=2"

}  // namespace qob
