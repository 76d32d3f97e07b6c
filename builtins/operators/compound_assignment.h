// builtins/operators/compound_assignment.h
// The typed constant assignments "=3", "=4", "=5", the compound assignments
// "+=", "-=", "*=", "/=" with their typed forms, and the multiple assignment "M=".
#pragma once

namespace qob {

// Every handler here ends with the push-result step: after __set_push it
// leaves the assigned variable's new value on the stack.

void Handle_ASSIGN3();  // "=3": the named variable = the node's number
void Handle_ASSIGN4();  // "=4": the named variable = the node's text (its address in the operand)
void Handle_ASSIGN5();  // "=5": the popped target = the node's text, else its number

// Generic forms pop the right operand, then the target; the target's current
// value is the one its cell carries. Typed forms ("+=2" ...) name the target
// in the node and pop only the right operand. The new value follows the
// generic operator ("-", "*", "/"), except that "+=" on a text target always
// joins ("1" += "2" gives "12"). A matrix on either side goes element by
// element and the target receives the new matrix.
//
// "/=" on a text target with a count n splits the text into n pieces: with
// __set_push the pieces are pushed and nothing is assigned; otherwise the last
// piece goes to the target and each earlier one to the variable of one more
// cell popped from below it, as far as the stack holds cells of this call
// (never past an open argument frame's start, never the bottom cell).
void Builtin_addassign();  // "+="
void Builtin_subassign();  // "-="
void Builtin_mulassign();  // "*="
void Builtin_divassign();  // "/="
void Handle_ADDASSIGN2();  // "+=2"
void Handle_SUBASSIGN2();  // "-=2"
void Handle_MULASSIGN2();  // "*=2"

// "M=": targets pushed first, then a frame of values, then the count n.
// Missing values are 0; surplus values (the last written) are dropped; the
// k-th target written receives the k-th value, by the rules of "=".
void Builtin_massign();

}  // namespace qob
