// runtime/data/text_routines.h
// Small text routines the built-ins share: in-place delete, insert and replace
// for 8-bit and UTF-16 texts, trimming, padding, thousands separators, heap
// copies, the pointer test and the message box of 8-bit texts.
#pragma once

#include "platform/memory.h"

#include <cstdint>

namespace qob {

// Texts returned here are new zero-filled blocks of the process heap that the
// caller frees (FreeBlock), or null when no memory is left. A null text
// argument counts as the empty text. Positions and counts are in characters:
// bytes for 8-bit texts, 16-bit units for UTF-16 texts.

// The in-place editors replace *text by a new block and free the old one (an
// address that is not a block is left alone). When no memory is left, *text
// stays as it was.

// Removes count characters at position; position is clamped to 0 .. length
// and count to 0 .. length - position.
void StrDeleteRange(char** text, int32_t position, int32_t count);
void WStrDeleteRange(uint16_t** text, int32_t position, int32_t count);

// Inserts insert at position (clamped to 0 .. length).
void StrInsertAt(const char* insert, char** text, int32_t position);
void WStrInsertAt(const uint16_t* insert, uint16_t** text, int32_t position);

// Replaces every occurrence of find, from left to right; inserted text is never
// searched again, so a replacement containing find still ends. An empty find,
// or one that does not occur, leaves *text and its block as they are.
void StrReplace(char** text, const char* find, const char* replacement);
void WStrReplace(uint16_t** text, const uint16_t* find, const uint16_t* replacement);

// A copy of the text in a block of the given heap (a program's private heap).
[[nodiscard]] char* HeapStrDup(platform::HeapHandle heap, const char* text);

// The thousands character after every third character of the integer part,
// counted from its end: "1234567.891" -> "1,234,567.891", "-123456" ->
// "-123,456" (a leading "-" is not counted).
[[nodiscard]] char* InsertThousandsSeparators(const char* text);

// A copy without trailing / leading blanks (" " only).
[[nodiscard]] char* TrimRight(const char* text);
[[nodiscard]] char* TrimLeft(const char* text);

// A copy with count fill characters before / after the text (none for a count
// below 1).
[[nodiscard]] char* PadLeft(const char* text, char fill, int32_t count);
[[nodiscard]] char* PadRight(const char* text, char fill, int32_t count);

// Shows a message box with an 8-bit text and caption (converted to UTF-16)
// and the given style; returns the button pressed (IDOK, IDCANCEL, ...).
int ShowMessageBox(const char* text, const char* caption, uint32_t style);

// Whether the byte at address can be written, found without writing to it:
// 0 when it can, non-zero when it cannot, -1 when the test itself failed.
[[nodiscard]] int IsValidPointer(const void* address);

}  // namespace qob
