// builtins/operators/comparison_operators.h
// The comparisons "==", "<>", "<", ">", "<=", ">=" with their typed forms,
// and the logical operators and, or, not and isnull.
#pragma once

namespace qob {

// Generic comparisons pop the right operand, then the left, and push 1 or 0
// (or, with a matrix operand, the matrix of element results):
// - two numbers compare as IEEE doubles (NaN is unequal to everything);
// - two texts compare by units, unsigned, case-sensitive; when either is
//   UTF-16 both are compared as UTF-16;
// - a text and a number: the text's number is compared, and a text that is no
//   number makes every comparison false, "<>" included.
// "==" is also called directly by the CASE steps: it pops exactly two cells
// and pushes exactly one.
void Builtin_equal();         // "=="
void Builtin_notequal();      // "<>"
void Builtin_less();          // "<"
void Builtin_greater();       // ">"
void Builtin_lessequal();     // "<="
void Builtin_greaterequal();  // ">="

// Typed forms: the popped left operand against the node's number. A text is
// read as its number, 0 when it is none (so "abc" ==2 0 is true, unlike "==").
void Handle_EQ2();  // "==2"
void Handle_NE2();  // "<>2"
void Handle_LT2();  // "<2"
void Handle_GT2();  // ">2"
void Handle_LE2();  // "<=2"
void Handle_GE2();  // ">=2"

// and / or test the numbers against 0 (a text read as its number, 0 when it
// is none); the right operand is read only when the left does not decide.
// not is 1 when its operand truncated toward zero is 0 (not 0.5 gives 1);
// isnull is 1 when its operand has no text at all.
void Builtin_and();
void Builtin_or();
void Builtin_not();
void Builtin_isnull();

}  // namespace qob
