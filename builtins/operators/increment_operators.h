// builtins/operators/increment_operators.h
// Increments and decrements in their built-in and opcode shapes, and the
// integer division operators div and mod.
#pragma once

namespace qob {

// The shapes differ in what the push-result step leaves after __set_push:
// the value before the change ("++", "--", opcodes 35, 36, 60, 61) or after
// it ("++2", "--2", opcodes 37, 38). A value left from before the change is
// a copy, so the change cannot free what it points at.
//
// A text is read as its number ("7" incremented gives 8, "x" gives 1), except
// by "++3" and "--3", which join the formatted constant to a text or cut that
// many units from its end. A matrix variable changes element by element.
void Builtin_increment();   // "++": popped variable cell
void Builtin_decrement();   // "--"
void Builtin_increment2();  // "++2": popped variable cell, value after
void Builtin_decrement2();  // "--2"
void IncrementOpcode2();    // opcode 35 "++2": the named variable
void DecrementOpcode2();    // opcode 36 "--2"
void Handle_INC4();         // "++4": the named variable, value after
void Handle_DEC4();         // "--4"
void Handle_INC3();         // "++3": the named variable plus the node's constant
void Handle_DEC3();         // "--3"

// Truncating integer division and its remainder (sign of the left operand),
// on signed 32-bit integers; a zero divisor gives 0. div divides the doubles
// first (5 div 0.5 is 10); mod truncates both first (5 mod 0.5 is 0).
void Builtin_div();
void Builtin_mod();

}  // namespace qob
