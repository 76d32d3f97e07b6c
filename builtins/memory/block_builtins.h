// builtins/memory/block_builtins.h
// Blocks that variables own (new, wnew, resize), the free of any kind of
// block a program holds, and the sizes of values.
#pragma once

namespace qob {

void Builtin_new();     // (variable, code) -> 1 or 0: a zeroed block of ElementSize(code) bytes
void Builtin_wnew();    // (variable, count) -> 1 or 0: a zeroed block of count UTF-16 units
void Builtin_resize();  // (variable, code): the variable's own block to ElementSize(code) bytes
void Builtin_free();    // (variables or addresses...): frees each block a program may free
void Builtin_sizeof();  // (value) -> bytes of its data
void Builtin_size();    // (value) -> bytes of its text's block; 8 for a number

}  // namespace qob
