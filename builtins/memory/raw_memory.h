// builtins/memory/raw_memory.h
// Typed reads and writes at addresses, byte-range operations, heap blocks by
// address, and the packing of words and bytes for system structures.
#pragma once

namespace qob {

// Typed access; codes -9 int64, -8 double, -5 u32, -4/-3 i32, -2 i16, -1 u8,
// any other code a byte run of its absolute value.
void Builtin_peek();       // (address, code) -> number or text
void Builtin_poke();       // (address, value, code)
void Builtin_getint();     // (address) -> signed 32-bit
void Builtin_getshort();   // (address) -> signed 16-bit
void Builtin_getbyte();    // (address) -> unsigned byte
void Builtin_getdouble();  // (address) -> double
void Builtin_setint();     // (address, value)
void Builtin_setshort();   // (address, value)
void Builtin_setbyte();    // (address, value)
void Builtin_setdouble();  // (address, value)

// Byte ranges; a count of 0 or less touches nothing.
void Builtin_memset();     // (address, byte, count) -> the block as text
void Builtin_memchr();     // (address, byte, count) -> address of the byte or 0
void Builtin_memcmp();     // (first, second, count) -> difference at the first unequal byte
void Builtin_memmove();    // (source, destination, count) -> destination
void Builtin_memcpy();     // (destination, source, count) -> destination

// Heap blocks by address.
void Builtin_malloc();     // (size) -> address of a zeroed block, or 0
void Builtin_memsize();    // (address) -> the block's exact size, 0 for no block

// Words, bytes and colours.
void Builtin_hiword();
void Builtin_loword();
void Builtin_hibyte();
void Builtin_lobyte();
void Builtin_hi();         // high 32 bits of the double's bit pattern
void Builtin_lo();         // low 32 bits of it
void Builtin_makelong();   // (low, high)
void Builtin_makeword();   // (low, high)
void Builtin_makelcid();   // (language, sort)
void Builtin_makelangid(); // (primary, sub-language)
void Builtin_ptinrect();   // (rectangle address, point address) -> 1 or 0
void Builtin_RGB();        // (red, green, blue)

// Whether address is a block that malloc made and free has not freed yet;
// free takes it off that list.
[[nodiscard]] bool IsMallocBlock(const void* address);
void ForgetMallocBlock(const void* address);

}  // namespace qob
