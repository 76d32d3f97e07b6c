// runtime/data/soundex.h
// The phonetic soundex key of a word: its first letter and digits.
#pragma once

#include <cstddef>

namespace qob {

// Room the longest key needs: 10 characters and the terminator.
constexpr size_t kSoundexBufferSize = 11;

// Writes the key of word into out (kSoundexBufferSize bytes is always enough;
// length + 1 bytes suffice for the length asked). Only the letters A-Z count,
// in either case, within the word's first 31 characters; a null word or one
// without letters gives an empty text.
// Mode 0 applies the letter-group rules (PH as F, silent K in KN, ...) and
// takes length 0 as 4 and clamps others to 4 .. 10; mode 1 makes H and W
// transparent; any other mode uses neither. Modes other than 0 always give 4
// characters.
void Soundex(char* out, const char* word, int length, int mode);

}  // namespace qob
