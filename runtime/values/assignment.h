// runtime/values/assignment.h
// The "=" assignment: dispatch over the value's origin and flags and the
// target's kind, in its keyword form and its opcode form.
#pragma once

#include <cstdint>

#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/push_instructions.h"

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

// What of AssignNumberOpcode's tests never changes for a node: it is an "=2"
// that takes a number as it is.
[[nodiscard]] inline bool IsNumberAssignOpcode(const Instruction* node) {
    return node->opcode == static_cast<uint32_t>(Opcode::ASSIGN2) && node->handler == AssignOpcode &&
           node->operand == 0.0;
}
// The variable an "=2" that IsNumberAssignOpcode accepted stores into when
// its cache answers (at the end of its reference chain unless the node
// says otherwise) and no push of the result or no-follow read is pending;
// null otherwise.
[[nodiscard, gnu::always_inline]] inline VariableRecord* CachedAssignTarget(const Instruction* node) {
    const InstructionExtra* extra = node->extra;
    if (SetPushPending || NoFollowPending || !extra || !extra->cachedVariable || !IsCachedListInForce(extra->cachedList))
        return nullptr;
    VariableRecord* x = extra->cachedVariable;
    return x->reference && node->extraWord == 0 ? EndOfReferences(x) : x;
}
// Whether a number becomes the variable's whole value, every field that
// could say otherwise tested at once: no list element, setter, typed
// storage, array, handed-over or owned block, object, protection.
[[nodiscard, gnu::always_inline]] inline bool TakesPlainNumber(const VariableRecord* x) {
    const uintptr_t pointers = reinterpret_cast<uintptr_t>(x->currentNode) | reinterpret_cast<uintptr_t>(x->setter);
    const uint32_t numbers = static_cast<uint32_t>(x->type) | x->elementCount |
                             (x->flags & (kVarHandedOver | kVarOwnsData | kVarObject));
    return (pointers | numbers) == 0 && x->protect != 1;
}
// TakesPlainNumber for a variable ReadPlainNumber has just accepted: what
// that read tested (no list element, typed storage) is not tested again.
[[nodiscard, gnu::always_inline]] inline bool TakesPlainNumberAfterRead(const VariableRecord* x) {
    const uint32_t numbers = x->elementCount | (x->flags & (kVarHandedOver | kVarOwnsData | kVarObject));
    return (reinterpret_cast<uintptr_t>(x->setter) | numbers) == 0 && x->protect != 1;
}
// The store into a variable TakesPlainNumber accepted.
[[gnu::always_inline]] inline void StoreWholeNumber(VariableRecord* x, double value) {
    x->value = value;
    x->flags &= ~(kVarMatrix | kVarWideText);
    x->data = nullptr;
}
// AssignNumberOpcode for a node IsNumberAssignOpcode accepted: the tests of
// what may change from one run of the node to the next.
[[nodiscard, gnu::always_inline]] inline bool AssignNumberToCachedTarget(Instruction* node, double value) {
    VariableRecord* x = CachedAssignTarget(node);
    if (!x) return false;
    if (!TakesPlainNumber(x)) [[unlikely]]
        return AssignNumberToTarget(x, value);
    StoreWholeNumber(x, value);
    return true;
}
// What "=2" does with a plain number on top of the stack when its target's
// cache answers for a variable that takes a plain number as its whole value
// (and no push of the result was asked for): the number is stored without
// the cell. False, with nothing done, when node is no such "=2". Inline: the
// loops that store a number on every pass call it from their operators.
[[nodiscard]] inline bool AssignNumberOpcode(Instruction* node, double value) {
    return IsNumberAssignOpcode(node) && AssignNumberToCachedTarget(node, value);
}
// "__set_push": sets SetPushPending.
void Builtin___set_push();

// The dispatch shared by both forms, for built-ins that assign: source entry,
// target variable, whether the target was pushed by reference, its field.
void AssignFromEntry(StackEntry* source, VariableRecord* target, bool targetByReference, void* targetField);

}  // namespace qob
