// runtime/assignment.h
// The "=" assignment: dispatch over the value's origin and flags and the
// target's kind, in its keyword form and its opcode form.
#pragma once

#include <cstdint>

namespace qob {

struct Instruction;
struct StackEntry;
struct VariableRecord;

// Set by __set_push: the next assignment also pushes the assigned value.
extern uint8_t SetPushPending;

// Keyword "=": pops the value, then the target.
void AssignStatement();
// Opcode "=2": the target is named by the current instruction.
void AssignOpcode();
// What "=2" does with a plain number on top of the stack when its target's
// cache answers for a variable that takes a plain number as its whole value
// (and no push of the result was asked for): the number is stored without
// the cell. False, with nothing done, when node is no such "=2".
[[nodiscard]] bool AssignNumberOpcode(Instruction* node, double value);
// "__set_push": sets SetPushPending.
void Builtin___set_push();

// The dispatch shared by both forms, for built-ins that assign: source entry,
// target variable, whether the target was pushed by reference, its field.
void AssignFromEntry(StackEntry* source, VariableRecord* target, bool targetByReference, void* targetField);

}  // namespace qob
