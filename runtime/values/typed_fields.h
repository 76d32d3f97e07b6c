// runtime/values/typed_fields.h
// Typed storage: structure fields, array elements and typed variables read and
// written by type code, with the text blocks their pointer fields own.
#pragma once

#include <cstdint>

namespace qob {

struct VariableRecord;

// Type codes of typed storage.
constexpr int32_t kTypeInt64 = -9;
constexpr int32_t kTypeDouble = -8;
constexpr int32_t kTypeUInt32 = -5;
constexpr int32_t kTypeInt32 = -4;
constexpr int32_t kTypeWideText = -3;  // signed 32-bit holding the address of a UTF-16 text
constexpr int32_t kTypeInt16 = -2;
constexpr int32_t kTypeByte = -1;

// Write a number into the field by type code (a matrix variable's field is a
// matrix cell). Pointer-sized codes first free the block the field held. A
// text (only for byte fields and matrix cells) is a block the call takes over.
void StoreTypedValue(VariableRecord* variable, void* address, int32_t type, const char* text, double value);
// Write a text (copied into a block the variable owns through a memory link)
// or, without text, a number into the field at address.
void AssignTypedField(void* address, VariableRecord* variable, const char* text, double value, int64_t size);
// Read the field: a number, or for a byte field a new terminated block of
// |type| + 1 bytes tracked by the current call depth.
void ReadTypedField(VariableRecord* variable, const void* address, int32_t type, char** text, double* value);

}  // namespace qob
