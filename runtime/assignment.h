// runtime/assignment.h
// The "=" assignment: dispatch over the value's origin and flags and the
// target's kind, in its keyword form and its opcode form.
#pragma once

#include <cstdint>

namespace qob {

struct StackEntry;
struct VariableRecord;

// Set by __set_push: the next assignment also pushes the assigned value.
extern uint8_t SetPushPending;

// Keyword "=": pops the value, then the target.
void AssignStatement();
// Opcode "=2": the target is named by the current instruction.
void AssignOpcode();
// "__set_push": sets SetPushPending.
void Builtin___set_push();

// The dispatch shared by both forms, for built-ins that assign: source entry,
// target variable, whether the target was pushed by reference, its field.
void AssignFromEntry(StackEntry* source, VariableRecord* target, bool targetByReference, void* targetField);

}  // namespace qob
