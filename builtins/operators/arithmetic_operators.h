// builtins/operators/arithmetic_operators.h
// The generic operators "+", "-", "*", "/" and "%", and the variadic
// built-ins concat and validint.
#pragma once

#include <cstdint>

#include "runtime/vm/value_stack.h"

namespace qob {

// The value rules of the generic operators, pushing the result; the typed
// forms and the compound assignments reuse them. Operands are numbers, 8-bit
// or UTF-16 texts, or matrices; when either text operand is UTF-16 the text
// work is done in UTF-16.
//
// "+": two numbers, or numbers and number texts, add; a matrix goes element
//      by element; otherwise the two texts (numbers formatted) are joined.
// "-": numbers subtract (a text on the right read as its number); a text
//      minus a number loses that many units at its end; a text minus a text
//      loses every occurrence of it, again until none is left.
// "*": numbers and two texts multiply as numbers; a text and a number
//      repeat the text.
// "/": a text divided by n is pushed as n pieces; otherwise numbers divide
//      (IEEE: a zero divisor gives an infinity or NaN).
void PushSum(const StackEntry& left, const StackEntry& right);
// "%": the two texts joined whatever they hold (numbers formatted, a matrix
// in its bracket form).
void PushJoined(const StackEntry& left, const StackEntry& right);
void PushDifference(const StackEntry& left, const StackEntry& right);
void PushProduct(const StackEntry& left, const StackEntry& right);
void PushQuotient(const StackEntry& left, const StackEntry& right);

// Pushes the count pieces of a text operand, the first deepest; nothing for
// a count below 1.
void PushTextPieces(const StackEntry& text, int64_t count);

// Handlers. Binary operators pop the right operand, then the left.
void Builtin_add();        // "+"
void Builtin_subtract();   // "-"
void Builtin_multiply();   // "*"
void Builtin_divide();     // "/"
void Builtin_join();       // "%": always joins, numbers formatted
void Builtin_concat();     // every argument of the closed frame joined
void Builtin_validint();   // 1 when every argument is a number text

}  // namespace qob
