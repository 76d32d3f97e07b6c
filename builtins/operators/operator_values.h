// builtins/operators/operator_values.h
// How the operator handlers read their operands (numbers, 8-bit and UTF-16
// texts, matrices, named variables) and leave their results on the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "builtins/operators/operator_texts.h"
#include "runtime/values/assignment.h"
#include "runtime/values/plain_numbers.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"

namespace qob {

struct Instruction;
struct VariableRecord;

// --- operands ------------------------------------------------------------------------

// Pops the top cell into a copy. The copy takes over the cell's owned links
// (ReleaseOperand frees them), so later pushes may reuse the cell freely.
[[nodiscard]] StackEntry TakeOperand();
// Frees the links a taken operand owned (a temporary matrix's blocks).
void ReleaseOperand(StackEntry& operand);

// A cell made from a variable's value, as the typed forms see it: text,
// number, the matrix and UTF-16 marks of the variable.
[[nodiscard]] StackEntry VariableOperand(VariableRecord* variable, void* field);

[[nodiscard]] inline bool IsMatrix(const StackEntry& operand) { return (operand.flags & kEntryMatrix) != 0; }
[[nodiscard]] inline bool IsWide(const StackEntry& operand) {
    return operand.text && (operand.flags & (kEntryWide | kEntryMatrix)) == kEntryWide;
}
// A number is a cell without text or matrix mark (an empty matrix may have
// no cells at all).
[[nodiscard]] inline bool IsText(const StackEntry& operand) {
    return operand.text != nullptr || IsMatrix(operand);
}

// Whether a text stands for a number; a UTF-16 text is judged by its 8-bit
// form. A null text counts as a number text.
[[nodiscard]] bool IsNumberText(const char* text, bool wide);
// The number a text stands for (0.0 when it is none); UTF-16 texts are
// narrowed first. Sets ConversionFailedFlag as StringToNumber does.
[[nodiscard]] double TextNumber(const char* text, bool wide);

// Whether the operand is a number or a text that stands for one (a matrix is not).
[[nodiscard]] bool IsNumeric(const StackEntry& operand);
// The operand's number: its value, or the number its text stands for. A
// matrix gives its value word.
[[nodiscard]] double OperandNumber(const StackEntry& operand);

// The operand as text of the requested width, valid until the running
// procedure returns: its own text, a number formatted, a matrix in its
// bracket form, an 8-bit text widened (a UTF-16 text is never narrowed here:
// ask for 8-bit only when no operand of the operation is UTF-16).
[[nodiscard]] TextSpan OperandText(const StackEntry& operand, bool wide);
// The operand's 8-bit text (a UTF-16 one narrowed, valid until the running
// procedure returns), or null for a number.
[[nodiscard]] const char* NarrowOperandText(const StackEntry& operand);

// The arguments of the innermost argument frame: the count cells above its
// saved top, the first written lowest (each cell's `above` leads to the next).
struct FrameArguments {
    StackEntry* saved;
    int64_t count;
};
// Closes the innermost frame and gives its arguments.
[[nodiscard]] FrameArguments CloseFrameArguments();
// Takes the arguments off the stack, freeing the links they own.
void DropFrameArguments(const FrameArguments& arguments);
// Whether any argument is a UTF-16 text.
[[nodiscard]] bool AnyWideArgument(const FrameArguments& arguments);
// The arguments' texts joined in the order written (8-bit, or UTF-16 when
// wide), in a new block; null when no memory is left or it would not fit.
// Reading a text may fault (an address taken as text): nothing is held then
// that must be destroyed or freed, as the fault unwinds past the handler.
[[nodiscard]] void* JoinFrameArguments(const FrameArguments& arguments, bool wide);

// --- the number fast path ----------------------------------------------------------------
// Most operations meet numbers that own nothing; for them the operands are
// read and the result written in place, with no copy of the cells (the tests
// and stores of runtime/values/plain_numbers.h). Each helper says "no" (null,
// or false) without touching the stack when the general path must run instead.

// When the two topmost cells are plain numbers, pops the right one and
// returns the left one; the result goes into it (SetNumberResult) and the
// right operand is its `above` cell, readable until the next push. The left
// cell is what the general path's pops and push would reuse for the result.
[[nodiscard]] inline StackEntry* PopNumberPair() {
    ProgramContext* context = CurrentContext;
    StackEntry* right = context->stackTop;
    StackEntry* left = right->below;
    if (!left || !left->below || !IsPlainNumberCell(right) || !IsPlainNumberCell(left)) return nullptr;
    context->stackTop = left;
    return left;
}

// The top cell when it is a plain number (not the bottom cell): the result of
// a one-operand operation is written over it.
[[nodiscard]] inline StackEntry* TopNumberCell() {
    StackEntry* top = CurrentContext->stackTop;
    return top->below && IsPlainNumberCell(top) ? top : nullptr;
}

// SetNumberResultOrAssign's way for a target that is no plain number
// variable: AssignNumberToTarget decides whether it takes the number.
void AssignTargetOrSetResult(StackEntry* cell, double value, Instruction* next, VariableRecord* target);

// The number result of an operation whose operands were the two topmost
// cells, now the left one (cell, the top cell, never the bottom one). When
// the running node is the operator itself (self) and the node after it is
// an "=2" that takes the number straight into its variable, the number goes
// there, the cell is popped and the machine goes on after that "=2";
// otherwise the number is written over the cell.
[[gnu::always_inline]] inline void SetNumberResultOrAssign(StackEntry* cell, double value, Handler self) {
    Instruction* node = CurrentInstruction;
    Instruction* next = node ? node->next : nullptr;
    if (next && next->opcode == static_cast<uint32_t>(Opcode::ASSIGN2) && node->handler == self &&
        !node->secondHandler && IsNumberAssignOpcode(next)) {
        if (VariableRecord* target = CachedAssignTarget(next)) {
            if (!TakesPlainNumber(target)) [[unlikely]]
                return AssignTargetOrSetResult(cell, value, next, target);
            StoreWholeNumber(target, value);
            CurrentInstruction = next;
            CurrentContext->stackTop = cell->below;
            return;
        }
    }
    SetNumberResult(cell, value);
}

// --- results ---------------------------------------------------------------------------

void PushNumberResult(double value);
void PushTruthResult(bool value);
// Pushes a new text block as a temporary of the current call depth. A null
// block (no memory, or a size that does not fit) pushes the empty text: the
// operators report no errors.
void PushTextResult(void* block, bool wide);

// --- named variables -------------------------------------------------------------------

// The variable the node names, through its cache; its reference chain is
// followed unless the one-shot no-follow byte is set or the node's extra word
// is not 0.
[[nodiscard]] inline VariableRecord* NodeVariable(Instruction* node) {
    return LookUpNodeVariable(node, node->text, false, node->extraWord != 0);
}

// The field a typed handler reads and writes: the variable's storage when it
// is typed, a structure member, a matrix or a handed-over block, else none.
[[nodiscard]] inline void* VariableElementAddress(const VariableRecord* variable) {
    const bool typed = variable->type != 0 || variable->parent || variable->members ||
                       (variable->flags & (kVarMatrix | kVarHandedOver));
    return typed ? variable->data : nullptr;
}

// The variable a target cell stands for: its own variable, else the one its
// text (or its number as text) names, found or made in the current local list.
[[nodiscard]] VariableRecord* TargetVariable(const StackEntry& target);

// The field address a cell's extra word carries (0: none).
[[nodiscard]] inline void* EntryField(const StackEntry& entry) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(entry.extra)));
}

// The push-result step that ends every assignment: when __set_push asked for
// it, clears the request and pushes the variable's new value (at the end of
// its reference chain unless the no-follow byte is set, which is cleared
// instead); a null variable pushes 0.
void PushRequestedValue(VariableRecord* variable);
inline void PushAssignedValue(VariableRecord* variable) {
    if (SetPushPending) PushRequestedValue(variable);
}
// The same for a value read before a change: the pushed text or matrix is a
// copy, since the change may free what the variable holds now.
void PushRequestedValueBeforeChange(VariableRecord* variable);
inline void PushValueBeforeChange(VariableRecord* variable) {
    if (SetPushPending) PushRequestedValueBeforeChange(variable);
}

// Gives a cell read from a variable its own copy of the text or matrix it
// points at (a matrix copy is owned by the cell), so that a later change of
// the variable cannot free what the cell holds. The cell keeps its variable.
void CopyOutOfVariable(StackEntry& cell);

// Stores a number / a new text block into a variable or one of its fields,
// keeping the variable's UTF-16 mark in step with what it now holds. The
// block stays the caller's.
inline void StoreNumber(VariableRecord* variable, double value, void* field) {
    SetVariableValue(variable, nullptr, value, field, 0);
    if (!field) variable->flags &= ~kVarWideText;
}
void StoreText(VariableRecord* variable, const void* block, bool wide, void* field);

// StoreNumber without a field for a variable ReadPlainNumber accepted: what
// that test has tested already (no data, list element, typed storage or
// matrix mark) is not tested again.
inline void StorePlainNumber(VariableRecord* variable, double value) {
    if (StoresPlainNumberAtOnce(variable)) return StorePlainNumberAtOnce(variable, value);
    StoreNumber(variable, value, nullptr);
}

// The record NodeVariable starts from for the running node (node is
// CurrentInstruction), its reference chain not followed yet (PlainNumberAtEnd
// follows it), when its cache or the running frame answers at once (see
// RunningNodeRecordAtOnce) and the node asks for the chain to be followed;
// null otherwise, with nothing done. No call on its way: the handlers that
// step a plain number try it before anything else.
[[nodiscard, gnu::always_inline]] inline VariableRecord* NodeRecordAtOnce(const Instruction* node) {
    return node->extraWord == 0 ? RunningNodeRecordAtOnce(node) : nullptr;
}
}  // namespace qob
