// builtins/typed_operators.cpp
// Typed arithmetic forms: the generic rules with the constant taken from the
// node, and the named variable found through the node's cache.

#include "builtins/typed_operators.h"

#include "builtins/arithmetic_operators.h"
#include "builtins/matrix_operators.h"
#include "builtins/operator_values.h"
#include "runtime/instruction.h"
#include "runtime/vm.h"

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

StackEntry NamedVariable() { return VariableOperand(NodeVariable(CurrentInstruction), nullptr); }

// A text (not a matrix) that stands for a number.
bool IsNumberTextValue(const StackEntry& operand) {
    return operand.text && !IsMatrix(operand) && IsNumeric(operand);
}

// Popped left operand against the node's constant.
template <void (*Rule)(const StackEntry&, const StackEntry&), StackEntry (*Constant)()>
void RunWithConstant() {
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

double Subtract(double a, double b) { return a - b; }
double Multiply(double a, double b) { return a * b; }
double Divide(double a, double b) { return a / b; }

}  // namespace

void Handle_ADD2() { RunWithConstant<PushSum, ConstantNumber>(); }
void Handle_ADD4() { RunWithConstant<PushSum, ConstantText>(); }
void Handle_ADD5() { PushSum(NamedVariable(), ConstantNumber()); }
void Handle_ADD6() { PushSum(ConstantNumber(), NamedVariable()); }

void Handle_SUB2() { RunWithConstant<PushDifference, ConstantNumber>(); }

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

void Handle_SUB5() { RunNumberTextFirst<PushDifference, Subtract>(NamedVariable(), ConstantNumber()); }

void Handle_SUB6() {
    const StackEntry variable = NamedVariable();
    const double constant = CurrentInstruction->operand;
    if (IsMatrix(variable)) return MatrixOperatorNumConst('-', variable, constant);
    PushNumberResult(constant - OperandNumber(variable));
}

void Handle_MUL2() { RunWithConstant<PushProduct, ConstantNumber>(); }
void Handle_MUL5() { RunNumberTextFirst<PushProduct, Multiply>(NamedVariable(), ConstantNumber()); }
void Handle_MUL6() { RunNumberTextFirst<PushProduct, Multiply>(NamedVariable(), ConstantNumber()); }

void Handle_DIV2() { RunWithConstant<PushQuotient, ConstantNumber>(); }
void Handle_DIV5() { RunNumberTextFirst<PushQuotient, Divide>(NamedVariable(), ConstantNumber()); }

void Handle_DIV6() {
    const StackEntry variable = NamedVariable();
    const double constant = CurrentInstruction->operand;
    if (IsMatrix(variable)) return MatrixOperatorNumConst('/', variable, constant);
    if (IsText(variable) && !IsNumeric(variable)) return PushNumberResult(0.0);
    PushNumberResult(constant / OperandNumber(variable));
}

}  // namespace qob
