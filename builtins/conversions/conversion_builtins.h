// builtins/conversions/conversion_builtins.h
// Explicit conversions between numbers and texts, the 32-bit integer view of a
// number, and signed 64-bit integers read and written in memory.
#pragma once

namespace qob {

// Each pops its fixed arguments (the rightmost first) and pushes at most one
// result; none reports an error of its own. The number of an argument is its
// value, or the number its text stands for (0 when it is none).

void Builtin_int();       // int(x) -> the number of x, not truncated (ToInt truncates)
void Builtin_str();       // str(x) -> 8-bit text: x's own text, or its number formatted
void Builtin_wstr();      // wstr(x) -> the same as UTF-16 text
void Builtin_ToFloat();   // ToFloat(x) -> the number of x plus 2^-52
void Builtin_ToInt();     // ToInt(x) -> the signed 32-bit view of x, truncated toward zero

// LargeInt / Int64 (address) -> the signed 64-bit integer stored at the
// address. ToLargeInt / ToInt64 (value, address): stores the value,
// truncated toward zero and held to the 64-bit range, there. The 8 bytes are
// little-endian at any alignment. The address is the number truncated to 32
// bits, else the cell's extra word, else its text's address. An address that
// starts a block with fewer than 8 bytes is an access violation at that
// address: it is reported as a fault is, and nothing is read or written.
void Builtin_LargeInt();
void Builtin_ToLargeInt();

}  // namespace qob
