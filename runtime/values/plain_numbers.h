// runtime/values/plain_numbers.h
// Plain numbers: value-stack cells and variables that hold a number and own
// nothing, read and written in place by the operators and the machine's fused
// steps alike.
#pragma once

#include <cstdint>

#include "runtime/values/variable_store.h"
#include "runtime/vm/value_stack.h"

namespace qob {

// A cell that is a number for every operator (no text, no matrix mark) and owns nothing.
[[nodiscard]] inline bool IsPlainNumberCell(const StackEntry* cell) {
    return (reinterpret_cast<uintptr_t>(cell->text) | reinterpret_cast<uintptr_t>(cell->ownedLinks) |
            (cell->flags & kEntryMatrix)) == 0;
}

// Writes a number over a cell, which then owns nothing and stands for no variable.
inline void SetNumberResult(StackEntry* cell, double value) {
    cell->value = value;
    cell->text = nullptr;
    cell->variable = nullptr;
    cell->extra = 0;
    cell->flags = 0;
    cell->typeTag = 0;
}

// The number of a variable that holds a plain number (no text, matrix, list
// element, typed storage or getter), read into value; false otherwise.
[[nodiscard]] inline bool ReadPlainNumber(const VariableRecord* variable, double* value) {
    if (!variable) return false;
    // The fields that could say otherwise, or-ed into one test.
    const uintptr_t pointers = reinterpret_cast<uintptr_t>(variable->data) |
                               reinterpret_cast<uintptr_t>(variable->currentNode) |
                               reinterpret_cast<uintptr_t>(variable->getter);
    if ((pointers | static_cast<uint32_t>(variable->type) | (variable->flags & kVarMatrix)) != 0) return false;
    *value = variable->value;
    return true;
}

// ReadPlainNumber for the record at the end of the chain that starts at
// variable (null: none), giving that record, or null when it holds anything
// but a plain number. A record that stands for itself, as nearly every one
// does, takes one test: its reference link is or-ed in with the fields
// ReadPlainNumber tests.
[[nodiscard, gnu::always_inline]] inline VariableRecord* PlainNumberAtEnd(VariableRecord* variable, double* value) {
    if (!variable) return nullptr;
    const uintptr_t pointers =
        reinterpret_cast<uintptr_t>(variable->data) | reinterpret_cast<uintptr_t>(variable->currentNode) |
        reinterpret_cast<uintptr_t>(variable->getter) | reinterpret_cast<uintptr_t>(variable->reference);
    if ((pointers | static_cast<uint32_t>(variable->type) | (variable->flags & kVarMatrix)) == 0) [[likely]] {
        *value = variable->value;
        return variable;
    }
    if (!variable->reference) return nullptr;
    do variable = variable->reference;
    while (variable->reference);
    return ReadPlainNumber(variable, value) ? variable : nullptr;
}

// Whether StorePlainNumber stores into a variable ReadPlainNumber accepted
// at once: no setter, protection, owned block or object.
[[nodiscard, gnu::always_inline]] inline bool StoresPlainNumberAtOnce(const VariableRecord* variable) {
    return !variable->setter && variable->protect != 1 && !(variable->flags & (kVarOwnsData | kVarObject));
}
// The store StorePlainNumber makes into such a variable.
[[gnu::always_inline]] inline void StorePlainNumberAtOnce(VariableRecord* variable, double value) {
    variable->value = value;
    variable->flags &= ~(kVarHandedOver | kVarWideText);
}

}  // namespace qob
