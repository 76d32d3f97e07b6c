// builtins/operators/typed_operators.cpp
// Typed arithmetic forms: the generic rules with the constant taken from the
// node, and the named variable found through the node's cache.

#include "builtins/operators/typed_operators.h"

#include "builtins/operators/arithmetic_operators.h"
#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

StackEntry ConstantNumber() {
    StackEntry constant{};
    constant.value = CurrentInstruction->operand;
    return constant;
}

StackEntry ConstantText() {
    StackEntry constant{};
    constant.text = CurrentInstruction->text ? CurrentInstruction->text : "";
    return constant;
}

StackEntry NamedOperand(VariableRecord* variable) { return VariableOperand(variable, nullptr); }

// A text (not a matrix) that stands for a number.
bool IsNumberTextValue(const StackEntry& operand) {
    return operand.text && !IsMatrix(operand) && IsNumeric(operand);
}

double Add(double a, double b) { return a + b; }
double Subtract(double a, double b) { return a - b; }
double Multiply(double a, double b) { return a * b; }
double Divide(double a, double b) { return a / b; }

// Popped left operand against the node's constant; Numbers, when given, is
// what the rule does with a number and the constant.
template <void (*Rule)(const StackEntry&, const StackEntry&), StackEntry (*Constant)(),
          double (*Numbers)(double, double) = nullptr>
void RunWithConstant() {
    if constexpr (Numbers != nullptr) {
        if (StackEntry* top = TopNumberCell()) {
            SetNumberResult(top, Numbers(top->value, CurrentInstruction->operand));
            return;
        }
    }
    StackEntry left = TakeOperand();
    Rule(left, Constant());
    ReleaseOperand(left);
}

// The variable's number text as a number, else the generic rule ("-5", "*5", "/5").
template <void (*Rule)(const StackEntry&, const StackEntry&), double (*Apply)(double, double)>
void RunNumberTextFirst(const StackEntry& variable, const StackEntry& constant) {
    if (IsNumberTextValue(variable)) return PushNumberResult(Apply(OperandNumber(variable), constant.value));
    Rule(variable, constant);
}

// The named variable against the node's constant (in that order, or the
// constant first) when the variable holds a plain number: the result is
// pushed and true returned. Otherwise the variable is given for the general rule.
// PushNamedNumberResult when the variable is found at once (see
// NodeRecordAtOnce) and a free cell waits above the top; false, with
// nothing done, otherwise (the handler's full way then runs).
template <double (*Numbers)(double, double), bool constantFirst>
[[gnu::always_inline]] inline bool PushNamedNumberAtOnce() {
    const Instruction* node = CurrentInstruction;
    ProgramContext* context = CurrentContext;
    StackEntry* cell = context->stackTop->above;
    double number = 0.0;
    if (!cell || !PlainNumberAtEnd(NodeRecordAtOnce(node), &number)) return false;
    const double constant = node->operand;
    FillCellAbove(context, cell, constantFirst ? Numbers(constant, number) : Numbers(number, constant), nullptr,
                  nullptr, 0);
    return true;
}

template <double (*Numbers)(double, double), bool constantFirst>
bool PushNamedNumberResult(VariableRecord** variable) {
    *variable = NodeVariable(CurrentInstruction);
    double number = 0.0;
    if (!ReadPlainNumber(*variable, &number)) return false;
    const double constant = CurrentInstruction->operand;
    PushCellValue(CurrentContext, nullptr, constantFirst ? Numbers(constant, number) : Numbers(number, constant),
                  nullptr, 0);
    return true;
}

// The named forms the long way: anything but a plain number variable found
// at once with a free cell above the top.
[[gnu::noinline]] void RunADD5Fully() {
    VariableRecord* variable = nullptr;
    if (!PushNamedNumberResult<Add, false>(&variable)) PushSum(NamedOperand(variable), ConstantNumber());
}

[[gnu::noinline]] void RunADD6Fully() {
    VariableRecord* variable = nullptr;
    if (!PushNamedNumberResult<Add, true>(&variable)) PushSum(ConstantNumber(), NamedOperand(variable));
}

[[gnu::noinline]] void RunSUB5Fully() {
    VariableRecord* variable = nullptr;
    if (!PushNamedNumberResult<Subtract, false>(&variable))
        RunNumberTextFirst<PushDifference, Subtract>(NamedOperand(variable), ConstantNumber());
}

[[gnu::noinline]] void RunSUB6Fully() {
    VariableRecord* named = nullptr;
    if (PushNamedNumberResult<Subtract, true>(&named)) return;
    const StackEntry variable = NamedOperand(named);
    const double constant = CurrentInstruction->operand;
    if (IsMatrix(variable)) return MatrixOperatorNumConst('-', variable, constant);
    PushNumberResult(constant - OperandNumber(variable));
}

[[gnu::noinline]] void RunMUL5Fully() {
    VariableRecord* variable = nullptr;
    if (!PushNamedNumberResult<Multiply, false>(&variable))
        RunNumberTextFirst<PushProduct, Multiply>(NamedOperand(variable), ConstantNumber());
}

[[gnu::noinline]] void RunMUL6Fully() {
    VariableRecord* variable = nullptr;
    if (!PushNamedNumberResult<Multiply, false>(&variable))
        RunNumberTextFirst<PushProduct, Multiply>(NamedOperand(variable), ConstantNumber());
}

[[gnu::noinline]] void RunDIV5Fully() {
    VariableRecord* variable = nullptr;
    if (!PushNamedNumberResult<Divide, false>(&variable))
        RunNumberTextFirst<PushQuotient, Divide>(NamedOperand(variable), ConstantNumber());
}

[[gnu::noinline]] void RunDIV6Fully() {
    VariableRecord* named = nullptr;
    if (PushNamedNumberResult<Divide, true>(&named)) return;
    const StackEntry variable = NamedOperand(named);
    const double constant = CurrentInstruction->operand;
    if (IsMatrix(variable)) return MatrixOperatorNumConst('/', variable, constant);
    if (IsText(variable) && !IsNumeric(variable)) return PushNumberResult(0.0);
    PushNumberResult(constant / OperandNumber(variable));
}

}  // namespace

void Handle_ADD2() { RunWithConstant<PushSum, ConstantNumber, Add>(); }
void Handle_ADD4() { RunWithConstant<PushSum, ConstantText>(); }
void Handle_ADD5() {
    if (!PushNamedNumberAtOnce<Add, false>()) RunADD5Fully();
}
void Handle_ADD6() {
    if (!PushNamedNumberAtOnce<Add, true>()) RunADD6Fully();
}

void Handle_SUB2() { RunWithConstant<PushDifference, ConstantNumber, Subtract>(); }

void Handle_SUB4() {
    StackEntry left = TakeOperand();
    const StackEntry constant = ConstantText();
    if (IsMatrix(left)) {
        MatrixOperatorTextConst('-', left, constant.text);
    } else {
        const bool wide = IsWide(left);
        PushTextResult(RemoveTextOccurrences(OperandText(left, wide), OperandText(constant, wide), wide), wide);
    }
    ReleaseOperand(left);
}

void Handle_SUB5() {
    if (!PushNamedNumberAtOnce<Subtract, false>()) RunSUB5Fully();
}

void Handle_SUB6() {
    if (!PushNamedNumberAtOnce<Subtract, true>()) RunSUB6Fully();
}

void Handle_MUL2() { RunWithConstant<PushProduct, ConstantNumber, Multiply>(); }
void Handle_MUL5() {
    if (!PushNamedNumberAtOnce<Multiply, false>()) RunMUL5Fully();
}
void Handle_MUL6() {
    if (!PushNamedNumberAtOnce<Multiply, false>()) RunMUL6Fully();
}

void Handle_DIV2() { RunWithConstant<PushQuotient, ConstantNumber, Divide>(); }
void Handle_DIV5() {
    if (!PushNamedNumberAtOnce<Divide, false>()) RunDIV5Fully();
}

void Handle_DIV6() {
    if (!PushNamedNumberAtOnce<Divide, true>()) RunDIV6Fully();
}

}  // namespace qob
