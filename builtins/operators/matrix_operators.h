// builtins/operators/matrix_operators.h
// The element-wise engine behind every operator that meets a matrix operand,
// and the dispatch the operator handlers call.
#pragma once

#include "runtime/values/matrix_values.h"
#include "runtime/vm/value_stack.h"

namespace qob {

struct MemoryLink;

// Operator characters, one per operator the engine applies to two elements.
// Any other character copies the left element.
//   '+' sum (texts join, see below)  '-' '*' '/'  arithmetic, IEEE
//   '=' '!' '<' '>' ',' (<=) '.' (>=)  comparisons giving 1 or 0
//   'a' 'o'  and, or of the elements' truth
//   '&' '|' '^'  bit operations on the elements truncated to signed 32 bits
//   'L' 'R'  signed 32-bit shift left / arithmetic shift right by the low 8
//            bits of the right element; 32 or more give 0 / the sign fill
//   'l' 'r'  unsigned 32-bit shift left / logical shift right, likewise; 32
//            or more give 0
// Notes
// - "+" with a text element: when both sides stand for numbers (a number, or
//   a number text) the result is their sum, else the left side's text (a
//   number formatted) followed by the right side's.
// - Every other operator reads a text element as the number it stands for
//   (0 when none) and gives a number cell: a computed value never lands in a
//   text or nested cell.
// - Nested matrices pair with nested matrices; a nested matrix facing a
//   single element (a number, a text, or the 0 an ended side supplies) gets
//   that element applied to each of its cells, as the right operand.
// - A null cell run is an empty matrix.

// New runs: tracked at the current call depth; the texts and nested runs
// their cells hold are value blocks linked into *links (the caller frees
// the chain, or hands it to the cell it pushes).

// a op b element by element; the shorter side supplies 0 after its end.
[[nodiscard]] MatrixCell* MatrixOpMatrix(char op, const MatrixCell* a, const MatrixCell* b, MemoryLink** links);

// Each element of m op the scalar, the scalar always on the right. A scalar
// text that stands for a number counts as that number; any other scalar text
// makes the scalar a text (scalarText null: the scalar is the number).
[[nodiscard]] MatrixCell* MatrixOpScalar(char op, const MatrixCell* m, const char* scalarText, double scalar,
                                         MemoryLink** links);

// The result of left op right when either is a matrix (null when neither
// is): two matrices pair element by element; otherwise the non-matrix side
// is the scalar, acting as the right operand even when written on the left.
[[nodiscard]] MatrixCell* ComputeMatrixOperation(char op, const StackEntry& left, const StackEntry& right,
                                                 MemoryLink** links);

// Pushes a matrix value that owns the links.
void PushMatrixResult(MatrixCell* cells, MemoryLink* links);

// The dispatch of the generic operators: false when neither operand is a
// matrix; otherwise pushes the element-wise result and answers true.
bool MatrixOperator(char op, const StackEntry& left, const StackEntry& right);

// The typed forms: the entry's matrix against a numeric or text constant.
void MatrixOperatorNumConst(char op, const StackEntry& entry, double number);
void MatrixOperatorTextConst(char op, const StackEntry& entry, const char* text);

}  // namespace qob
