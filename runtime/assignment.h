// runtime/assignment.h
// The "=" assignment: dispatch over the value's origin and flags and the
// target's kind, in its keyword form and its opcode form.
#pragma once

#include <cstdint>

#include "runtime/instruction.h"
#include "runtime/opcodes.h"
#include "runtime/push_instructions.h"
#include "runtime/variable_store.h"

namespace qob {

struct StackEntry;

// Set by __set_push: the next assignment also pushes the assigned value.
extern uint8_t SetPushPending;

// Keyword "=": pops the value, then the target.
void AssignStatement();
// Opcode "=2": the target is named by the current instruction.
void AssignOpcode();
// AssignNumberOpcode for a target its inline tests did not settle.
[[nodiscard]] bool AssignNumberToTarget(VariableRecord* x, double value);

// What "=2" does with a plain number on top of the stack when its target's
// cache answers for a variable that takes a plain number as its whole value
// (and no push of the result was asked for): the number is stored without
// the cell. False, with nothing done, when node is no such "=2". Inline: the
// loops that store a number on every pass call it from their operators.
[[nodiscard]] inline bool AssignNumberOpcode(Instruction* node, double value) {
    const InstructionExtra* extra = node->extra;
    if (node->opcode != static_cast<uint32_t>(Opcode::ASSIGN2) || node->handler != AssignOpcode || SetPushPending ||
        NoFollowPending || node->operand != 0.0 || !extra || !extra->cachedVariable ||
        !IsCachedListInForce(extra->cachedList))
        return false;
    VariableRecord* x = extra->cachedVariable;
    if (node->extraWord == 0)
        while (x->reference) x = x->reference;
    // The plain number variable, every field that could say otherwise tested
    // at once: no list element, setter, typed storage, array, handed-over or
    // owned block, object, protection.
    const uintptr_t pointers = reinterpret_cast<uintptr_t>(x->currentNode) | reinterpret_cast<uintptr_t>(x->setter);
    const uint32_t numbers = static_cast<uint32_t>(x->type) | x->elementCount |
                             (x->flags & (kVarHandedOver | kVarOwnsData | kVarObject));
    if ((pointers | numbers) != 0 || x->protect == 1) [[unlikely]]
        return AssignNumberToTarget(x, value);
    x->value = value;
    x->flags &= ~(kVarMatrix | kVarWideText);
    x->data = nullptr;
    return true;
}
// "__set_push": sets SetPushPending.
void Builtin___set_push();

// The dispatch shared by both forms, for built-ins that assign: source entry,
// target variable, whether the target was pushed by reference, its field.
void AssignFromEntry(StackEntry* source, VariableRecord* target, bool targetByReference, void* targetField);

}  // namespace qob
