// builtins/operators/increment_operators.cpp
// Increment and decrement of popped and named variables, by one or by the
// node's constant, and div and mod.

#include "builtins/operators/increment_operators.h"

#include <cstdint>

#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/number_rules.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

enum class Report { Before, After };

// A matrix variable gets the step applied to every element.
void StepMatrix(VariableRecord* variable, int sign, double step) {
    MemoryLink* links = nullptr;
    const auto* cells = reinterpret_cast<const MatrixCell*>(variable->data);
    MatrixCell* result = MatrixOpScalar(sign > 0 ? '+' : '-', cells, nullptr, step, &links);
    if (result) SetMatrixValue(variable, result);
    FreeLinkChain(links);
}

// The built-in shapes: the popped cell names the variable and carries its value.
template <int step, Report report>
void StepPoppedVariable() {
    StackEntry entry = TakeOperand();
    VariableRecord* variable = TargetVariable(entry);
    const double old = OperandNumber(entry);
    if (variable && report == Report::Before) PushValueBeforeChange(variable);
    if (variable) StoreNumber(variable, old + step, EntryField(entry));
    if (!variable || report == Report::After) PushAssignedValue(variable);
    ReleaseOperand(entry);
}

// The step of a plain number variable the node's cache answers for, when no
// push of the value is asked for: the whole of what the shapes below do then.
// False, with nothing done, otherwise.
[[gnu::always_inline]] inline bool StepPlainNumberAtOnce(const Instruction* node, double step) {
    double number = 0.0;
    VariableRecord* variable = SetPushPending ? nullptr : PlainNumberAtEnd(NodeRecordAtOnce(node), &number);
    if (!variable || !StoresPlainNumberAtOnce(variable)) return false;
    StorePlainNumberAtOnce(variable, number + step);
    return true;
}

// The opcode shapes: the node names the variable; a text it holds is read
// as its number.
template <int step, Report report>
[[gnu::noinline]] void StepNamedVariableFully() {
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    if (!variable) return PushAssignedValue(nullptr);
    if (report == Report::Before) PushValueBeforeChange(variable);
    if (double number = 0.0; ReadPlainNumber(variable, &number)) {
        // A plain number: no field, no text to read as a number.
        StorePlainNumber(variable, number + step);
    } else if (variable->flags & kVarMatrix) {
        StepMatrix(variable, step, 1.0);
    } else {
        void* field = VariableElementAddress(variable);
        const StackEntry current = VariableOperand(variable, field);
        StoreNumber(variable, OperandNumber(current) + step, field);
    }
    if (report == Report::After) PushAssignedValue(variable);
}

template <int step, Report report>
void StepNamedVariable() {
    if (StepPlainNumberAtOnce(CurrentInstruction, step)) return;
    StepNamedVariableFully<step, report>();
}

// "++3" and "--3": the value before the change is what is left.
template <int sign>
[[gnu::noinline]] void StepByConstantFully() {
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    const double constant = CurrentInstruction->operand;
    if (!variable) return PushAssignedValue(nullptr);
    PushValueBeforeChange(variable);
    if (double number = 0.0; ReadPlainNumber(variable, &number))
        return StorePlainNumber(variable, number + sign * constant);
    if (variable->flags & kVarMatrix) return StepMatrix(variable, sign, constant);
    void* field = VariableElementAddress(variable);
    const StackEntry current = VariableOperand(variable, field);
    if (!current.text) return StoreNumber(variable, current.value + sign * constant, field);
    const bool wide = IsWide(current);
    void* changed;
    if (sign > 0) {
        StackEntry joined{};
        joined.value = constant;
        changed = JoinTexts(OperandText(current, wide), OperandText(joined, wide), wide);
    } else {
        changed = CutTextTail(OperandText(current, wide), platform::TruncateToInteger<int32_t>(constant), wide);
    }
    if (changed) StoreText(variable, changed, wide, field);
    platform::FreeBlock(changed);
}

}  // namespace

template <int sign>
void StepByConstant() {
    const Instruction* node = CurrentInstruction;
    if (StepPlainNumberAtOnce(node, sign * node->operand)) return;
    StepByConstantFully<sign>();
}

void Builtin_increment() { StepPoppedVariable<1, Report::Before>(); }
void Builtin_decrement() { StepPoppedVariable<-1, Report::Before>(); }
void Builtin_increment2() { StepPoppedVariable<1, Report::After>(); }
void Builtin_decrement2() { StepPoppedVariable<-1, Report::After>(); }
void IncrementOpcode2() { StepNamedVariable<1, Report::Before>(); }
void DecrementOpcode2() { StepNamedVariable<-1, Report::Before>(); }
void Handle_INC4() { StepNamedVariable<1, Report::After>(); }
void Handle_DEC4() { StepNamedVariable<-1, Report::After>(); }
void Handle_INC3() { StepByConstant<1>(); }
void Handle_DEC3() { StepByConstant<-1>(); }

namespace {

// div and mod read both operands as numbers (a text as the number it stands
// for); out of line, so the number case needs no frame of its own.
template <double (*Rule)(double, double)>
[[gnu::noinline]] void RunGeneralIntegerOperator() {
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    const double divisor = OperandNumber(right);
    const double dividend = OperandNumber(left);
    PushNumberResult(Rule(dividend, divisor));
    ReleaseOperand(left);
    ReleaseOperand(right);
}

template <double (*Rule)(double, double), Handler self>
void RunIntegerOperator() {
    if (StackEntry* left = PopNumberPair()) {
        SetNumberResultOrAssign(left, Rule(left->value, left->above->value), self);
        return;
    }
    RunGeneralIntegerOperator<Rule>();
}

}  // namespace

void Builtin_div() { RunIntegerOperator<QuotientOfNumbers, Builtin_div>(); }

void Builtin_mod() { RunIntegerOperator<RemainderOfNumbers, Builtin_mod>(); }

}  // namespace qob
