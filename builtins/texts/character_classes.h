// builtins/texts/character_classes.h
// The character-class table (the device's bit values, ASCII only) and the
// built-ins that test characters, make one-character texts and convert
// between 8-bit and UTF-16 text.
#pragma once

#include <cstdint>

namespace qob {

// Class bits of a character.
constexpr uint16_t kClassUpper = 0x1;
constexpr uint16_t kClassLower = 0x2;
constexpr uint16_t kClassDigit = 0x4;
constexpr uint16_t kClassSpace = 0x8;
constexpr uint16_t kClassPunct = 0x10;
constexpr uint16_t kClassControl = 0x20;
constexpr uint16_t kClassBlank = 0x40;
constexpr uint16_t kClassHex = 0x80;
constexpr uint16_t kClassAlpha = 0x100;

// The class bits of a code within mask. Only codes 0 to 0x7F belong to any
// class: bytes from 0x80 are parts of multi-byte UTF-8 characters, and codes
// outside 0 to 0xFFFF (or negative ones) give 0.
[[nodiscard]] uint16_t CharacterClass(int64_t code, uint16_t mask);

// Class tests: a text gives 1 when every character passes (islower and
// isupper judge the letters only), a number gives the code's class bits.
void Builtin_isalnum();
void Builtin_isalpha();
void Builtin_iscntrl();
void Builtin_isdigit();
void Builtin_islower();
void Builtin_isprint();
void Builtin_ispunct();
void Builtin_isspace();
void Builtin_isupper();

void Builtin_chr();      // chr(code): 8-bit text of the code's low 8 bits ("" for 0)
void Builtin_wchr();     // wchr(code): UTF-16 text of the code's low 16 bits ("" for 0)
void Builtin_wide();     // wide(text or address): UTF-16 copy
void Builtin_apichar();  // apichar(text or address): the same, the form system calls take
void Builtin_char();     // char(text or address): 8-bit copy
void Builtin_iswide();   // iswide(text or address): 1 for UTF-16 text

}  // namespace qob
