// builtins/structures/structure_builtins.h
// Typed layouts of variables: structures, typed values, arrays of numbers,
// of typed elements and of structures, their release and element order.
#pragma once

#include <cstdint>

namespace qob {

struct VariableRecord;

void Builtin_struct();       // (variable, field names each optionally followed by a type...)
void Builtin_restruct();     // the same laid over the variable's present block
void Builtin_type();         // (variables..., code): a zeroed typed value each
void Builtin_dim();          // (variable, extents...): array of doubles
void Builtin_sdim();         // (variable, code, extents...): array of typed elements
void Builtin_tdim();         // (structure, extents...): array of structures
void Builtin_redim();        // (variable, extents...): new extents, data kept, growth zeroed
void Builtin_clear();        // (variables...): releases each completely
void Builtin_columnmajor();  // (variables...): column-major element order
void Builtin_rowmajor();     // (variables...): row-major element order (the default)

// Gives the variable a fresh one-dimensional array of count zeroed doubles;
// false (the variable left released) when no memory is left.
bool AllocNumericArray(VariableRecord* variable, uint32_t count);

}  // namespace qob
