// builtins/lists/matrix_builtins.h
// The element built-ins of matrix values: mcount, mtype, madd, mdel, mmid.
#pragma once

namespace qob {

// Arguments pop rightmost first; each pushes one result. A first argument
// that is not a matrix counts as an empty one. Positions count from 0 and
// ranges are clamped to the matrix; a new matrix is a value of its own (the
// source, and a variable holding it, keep every cell).
void Builtin_mcount();  // (matrix, deep): cells; deep counts nested cells instead
void Builtin_mtype();   // (element): kind of the cell: 1 number, 2 text, 3 matrix, 4 end; 0 none
void Builtin_madd();    // (matrix, value): a new matrix with the value appended
void Builtin_mdel();    // (matrix, position, count): without count cells from position
void Builtin_mmid();    // (matrix, position, count): count cells from position

}  // namespace qob
