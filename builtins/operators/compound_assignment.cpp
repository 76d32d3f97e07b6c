// builtins/operators/compound_assignment.cpp
// Constant assignments, compound assignments (generic and typed), the
// splitting "/=" and the multiple assignment "M=".

#include "builtins/operators/compound_assignment.h"

#include <algorithm>
#include <cstdint>

#include "builtins/operators/arithmetic_operators.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/values/assignment.h"
#include "runtime/values/number_rules.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

using Rule = void (*)(const StackEntry&, const StackEntry&);

// "+=" joins onto a text target whatever the right operand holds; with a
// number target (or a matrix anywhere) it is the generic "+".
void AddAssignRule(const StackEntry& target, const StackEntry& right) {
    if (IsText(target) && !IsMatrix(target) && !IsMatrix(right)) return PushJoined(target, right);
    PushSum(target, right);
}

// Assigns the value on top of the stack by the rules of "=" (which also take
// the push-result step).
void AssignTopResult(VariableRecord* variable, void* field) {
    StackEntry result = TakeOperand();
    AssignFromEntry(&result, variable, false, field);
}

void RunCompound(Rule rule) {
    StackEntry right = TakeOperand();
    StackEntry target = TakeOperand();
    if (VariableRecord* variable = TargetVariable(target)) {
        rule(target, right);
        AssignTopResult(variable, EntryField(target));
    } else {
        PushAssignedValue(nullptr);
    }
    ReleaseOperand(target);
    ReleaseOperand(right);
}

// The typed forms name their target; Numbers is what the rule does when the
// target and the value are both numbers, stored by the rules of "=" for a number.
template <Rule rule, double (*Numbers)(double, double)>
[[gnu::noinline]] void RunTypedCompoundFully() {
    ProgramContext* context = CurrentContext;
    if (StackEntry* top = TopNumberCell()) {
        VariableRecord* variable = NodeVariable(CurrentInstruction);
        if (double number = 0.0; ReadPlainNumber(variable, &number)) {
            PopCell(context);
            StorePlainNumber(variable, Numbers(number, top->value));
            PushAssignedValue(variable);
            return;
        }
    }
    StackEntry right = TakeOperand();
    if (VariableRecord* variable = NodeVariable(CurrentInstruction)) {
        rule(VariableOperand(variable, nullptr), right);
        AssignTopResult(variable, nullptr);
    } else {
        PushAssignedValue(nullptr);
    }
    ReleaseOperand(right);
}

// A plain number on top into a plain number variable the node's cache
// answers for, with no push of the result asked for, at once; the rest the
// full way.
template <Rule rule, double (*Numbers)(double, double)>
void RunTypedCompound() {
    ProgramContext* context = CurrentContext;
    StackEntry* top = context->stackTop;
    double number = 0.0;
    VariableRecord* variable =
        SetPushPending ? nullptr : PlainNumberAtEnd(NodeRecordAtOnce(CurrentInstruction), &number);
    if (!variable || !top->below || !IsPlainNumberCell(top) || !StoresPlainNumberAtOnce(variable))
        return RunTypedCompoundFully<rule, Numbers>();
    context->stackTop = top->below;
    StorePlainNumberAtOnce(variable, Numbers(number, top->value));
}

// Whether one more cell may be popped: never the bottom cell, never a cell
// at or below the start of the innermost open argument frame.
bool CanPopAnother(const ProgramContext* context) {
    const StackEntry* top = context->stackTop;
    if (!top || !top->below) return false;
    const ArgumentFrame& frames = context->argumentFrame;
    return frames.count <= 0 || frames.slots[frames.count - 1] != top;
}

// "/=" of a text target by a count: the pieces go to the target and to the
// variables of the cells below it, the last piece to the target.
void SplitIntoTargets(const StackEntry& target, VariableRecord* variable, int64_t count) {
    if (SetPushPending) {
        SetPushPending = 0;
        return PushTextPieces(target, count);
    }
    if (count < 1) return;
    const bool wide = IsWide(target);
    // Split from a copy: the first assignment frees the text the target cell points at.
    const TextSpan original = OperandText(target, wide);
    void* copy = JoinTexts(original, {nullptr, 0}, wide);
    if (!copy) return;
    TrackAllocation(CurrentContext, copy, 0, kTrackedBlock);
    const TextSpan text{copy, original.length};
    const size_t pieceLength = PieceLength(text.length, count);
    ProgramContext* context = CurrentContext;
    VariableRecord* receiver = variable;
    void* field = EntryField(target);
    for (int64_t index = count - 1; index >= 0; --index) {
        if (index < count - 1) {
            if (!CanPopAnother(context)) return;
            StackEntry next = TakeOperand();
            receiver = TargetVariable(next);
            field = EntryField(next);
            ReleaseOperand(next);
        }
        if (!receiver) continue;
        PushTextResult(TextPiece(text, pieceLength, index, wide), wide);
        AssignTopResult(receiver, field);
    }
}

// A value read from a plain or matrix variable points at that variable's
// storage, which an earlier assignment of the same statement may free or
// change (x$, y$ = y$, x$): it gets a copy of its own and stands alone, so
// every target receives the value as it was written (the rules for a value
// read from a variable would look at the variable again, whose kind may
// have changed). Structures, arrays, objects and references keep their
// own rules.
void DetachValue(StackEntry& value) {
    const VariableRecord* variable = value.variable;
    if (!variable || value.ownedLinks || (value.flags & kEntryByReference)) return;
    if (variable->elementCount || (variable->flags & (kVarStructure | kVarObject))) return;
    CopyOutOfVariable(value);
    value.variable = nullptr;
}

// Pushes a cell taken earlier, with the links it owns.
void PushTaken(const StackEntry& entry) {
    StackEntry* cell = PushCell(CurrentContext);
    cell->value = entry.value;
    cell->text = entry.text;
    cell->variable = entry.variable;
    cell->extra = entry.extra;
    cell->flags = entry.flags;
    cell->typeTag = entry.typeTag;
    cell->ownedLinks = entry.ownedLinks;
}

// Cells from the cell down to the lower limit of this call: the bottom cell,
// or the start of the innermost argument frame still open.
int64_t CountCellsDownFrom(const ProgramContext* context, const StackEntry* cell) {
    const ArgumentFrame& frames = context->argumentFrame;
    const StackEntry* limit = frames.count > 0 ? frames.slots[frames.count - 1] : nullptr;
    int64_t count = 0;
    for (; cell && cell->below && cell != limit; cell = cell->below) ++count;
    return count;
}

int64_t CountCellsAbove(const ProgramContext* context, const StackEntry* saved) {
    int64_t count = 0;
    for (const StackEntry* cell = context->stackTop; cell && cell != saved && cell->below; cell = cell->below) ++count;
    return count;
}

}  // namespace

void Handle_ASSIGN3() {
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    if (variable) StoreNumber(variable, CurrentInstruction->operand, nullptr);
    PushAssignedValue(variable);
}

void Handle_ASSIGN4() {
    const auto* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(CurrentInstruction->operand));
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    if (variable) StoreText(variable, text ? text : "", false, nullptr);
    PushAssignedValue(variable);
}

void Handle_ASSIGN5() {
    const Instruction* node = CurrentInstruction;
    PushValue(node->text, node->text ? 0.0 : node->operand, nullptr);
    AssignStatement();
}

void Builtin_addassign() { RunCompound(AddAssignRule); }
void Builtin_subassign() { RunCompound(PushDifference); }
void Builtin_mulassign() { RunCompound(PushProduct); }

void Builtin_divassign() {
    StackEntry right = TakeOperand();
    StackEntry target = TakeOperand();
    VariableRecord* variable = TargetVariable(target);
    if (IsText(target) && !IsMatrix(target) && !IsText(right)) {
        SplitIntoTargets(target, variable, platform::TruncateToInteger<int64_t>(right.value));
    } else if (variable) {
        PushQuotient(target, right);
        AssignTopResult(variable, EntryField(target));
    } else {
        PushAssignedValue(nullptr);
    }
    ReleaseOperand(target);
    ReleaseOperand(right);
}

void Handle_ADDASSIGN2() { RunTypedCompound<AddAssignRule, AddNumbers>(); }
void Handle_SUBASSIGN2() { RunTypedCompound<PushDifference, SubtractNumbers>(); }
void Handle_MULASSIGN2() { RunTypedCompound<PushProduct, MultiplyNumbers>(); }

void Builtin_massign() {
    ProgramContext* context = CurrentContext;
    StackEntry countCell = TakeOperand();
    int64_t count = platform::TruncateToInteger<int64_t>(OperandNumber(countCell));
    ReleaseOperand(countCell);
    StackEntry* saved = CloseArgumentFrame(context);
    // Values without a target cell below the frame would be taken as targets.
    count = std::min(count, CountCellsDownFrom(context, saved));
    int64_t values = CountCellsAbove(context, saved);
    for (; values > std::max<int64_t>(count, 0); --values) {
        StackEntry surplus = TakeOperand();
        ReleaseOperand(surplus);
    }
    for (; values < count; ++values) PushNumberResult(0.0);
    const bool pushResults = SetPushPending != 0;
    SetPushPending = 0;
    if (count < 1) return;
    // Both sides come off the stack first: pushed results take their cells.
    // They wait in a plain block, not a container: an assignment may fault
    // (a value whose text is an address), and the fault unwinds past here.
    const auto pairs = static_cast<size_t>(count);
    auto* taken = static_cast<StackEntry*>(platform::AllocateBlock(2 * pairs * sizeof(StackEntry)));
    for (size_t i = 0; i < 2 * pairs; ++i) {
        StackEntry entry = TakeOperand();
        if (taken) taken[i] = entry;
        else ReleaseOperand(entry);
    }
    if (!taken) return;
    for (size_t i = 0; i < pairs; ++i) DetachValue(taken[i]);
    for (size_t i = 0; i < pairs; ++i) {
        PushTaken(taken[pairs + i]);  // the target
        PushTaken(taken[i]);          // its value
        SetPushPending = pushResults ? 1 : 0;
        AssignStatement();
    }
    SetPushPending = 0;
    platform::FreeBlock(taken);
}

}  // namespace qob
