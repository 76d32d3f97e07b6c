// builtins/operators/typed_operators.h
// The typed forms the optimiser puts in place of "+", "-", "*" and "/" when
// an operand is a constant or a plain named variable.
#pragma once

namespace qob {

// Suffix 2: popped left operand, the node's number on the right.
// Suffix 4: popped left operand, the node's text on the right.
// Suffix 5: the node's named variable, the node's number on the right.
// Suffix 6: the node's number on the left, the named variable on the right.
// The 5 and 6 forms pop nothing. A matrix variable always takes the constant
// as its right operand.
//
// Notes: where the forms differ from the generic operator on purpose
// - "-4" never subtracts numbers: the left operand is taken as text (a number
//   formatted) and loses every occurrence of the constant (5 - "2" gives "5").
// - "-5", "*5", "*6", "/5" read a number text in the variable as its number
//   ("10" - 1 gives 9, "3" * 2 gives 6), where the generic operators cut,
//   repeat and split it.
// - "-6" and "/6" always compute numbers; a text that is no number counts as
//   0 for "-6" and makes "/6" give 0.
void Handle_ADD2();  // "+2"
void Handle_ADD4();  // "+4"
void Handle_ADD5();  // "+5"
void Handle_ADD6();  // "+6"
void Handle_SUB2();  // "-2"
void Handle_SUB4();  // "-4"
void Handle_SUB5();  // "-5"
void Handle_SUB6();  // "-6"
void Handle_MUL2();  // "*2"
void Handle_MUL5();  // "*5"
void Handle_MUL6();  // "*6"
void Handle_DIV2();  // "/2"
void Handle_DIV5();  // "/5"
void Handle_DIV6();  // "/6"

}  // namespace qob
