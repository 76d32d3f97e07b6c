// builtins/operators/comparison_operators.cpp
// Comparisons of numbers, 8-bit and UTF-16 texts and matrices, their typed
// forms, and the logical operators.

#include "builtins/operators/comparison_operators.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

enum class Comparison : char {
    Equal = '=',
    NotEqual = '!',
    Less = '<',
    Greater = '>',
    LessEqual = ',',
    GreaterEqual = '.',
};

// The matrix engine's character for the comparison.
char MatrixCode(Comparison comparison) { return static_cast<char>(comparison); }

bool CompareNumbers(Comparison comparison, double a, double b) {
    switch (comparison) {
    case Comparison::Equal: return a == b;
    case Comparison::NotEqual: return a != b;
    case Comparison::Less: return a < b;
    case Comparison::Greater: return a > b;
    case Comparison::LessEqual: return a <= b;
    case Comparison::GreaterEqual: return a >= b;
    }
    return false;
}

bool TestOrder(Comparison comparison, int order) {
    switch (comparison) {
    case Comparison::Equal: return order == 0;
    case Comparison::NotEqual: return order != 0;
    case Comparison::Less: return order < 0;
    case Comparison::Greater: return order > 0;
    case Comparison::LessEqual: return order <= 0;
    case Comparison::GreaterEqual: return order >= 0;
    }
    return false;
}

// Unit by unit, unsigned; a text that ends first ranks below.
template <typename Unit>
int CompareUnits(TextSpan a, TextSpan b) {
    const auto* left = static_cast<const Unit*>(a.units);
    const auto* right = static_cast<const Unit*>(b.units);
    const size_t common = std::min(a.length, b.length);
    for (size_t i = 0; i < common; ++i) {
        using Unsigned = std::make_unsigned_t<Unit>;
        const auto x = static_cast<Unsigned>(left[i]);
        const auto y = static_cast<Unsigned>(right[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.length == b.length ? 0 : (a.length < b.length ? -1 : 1);
}

int CompareTexts(const StackEntry& left, const StackEntry& right) {
    const bool wide = IsWide(left) || IsWide(right);
    const TextSpan a = OperandText(left, wide);
    const TextSpan b = OperandText(right, wide);
    return wide ? CompareUnits<uint16_t>(a, b) : CompareUnits<char>(a, b);
}

bool CompareOperands(Comparison comparison, const StackEntry& left, const StackEntry& right) {
    if (!IsText(left) && !IsText(right)) return CompareNumbers(comparison, left.value, right.value);
    if (IsText(left) && IsText(right)) return TestOrder(comparison, CompareTexts(left, right));
    const StackEntry& text = IsText(left) ? left : right;
    const double converted = TextNumber(text.text, IsWide(text));
    if (ConversionFailedFlag) return false;
    return IsText(left) ? CompareNumbers(comparison, converted, right.value)
                        : CompareNumbers(comparison, left.value, converted);
}

// The comparison of anything but two plain numbers (out of line, so the
// number case needs no frame of its own).
template <Comparison comparison>
[[gnu::noinline]] void RunGeneralComparison() {
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    if (!MatrixOperator(MatrixCode(comparison), left, right))
        PushTruthResult(CompareOperands(comparison, left, right));
    ReleaseOperand(left);
    ReleaseOperand(right);
}

template <Comparison comparison>
void RunComparison() {
    if (StackEntry* left = PopNumberPair()) {
        SetNumberResult(left, CompareNumbers(comparison, left->value, left->above->value) ? 1.0 : 0.0);
        return;
    }
    RunGeneralComparison<comparison>();
}

template <Comparison comparison>
void RunTypedComparison() {
    const double constant = CurrentInstruction->operand;
    if (StackEntry* top = TopNumberCell()) {
        SetNumberResult(top, CompareNumbers(comparison, top->value, constant) ? 1.0 : 0.0);
        return;
    }
    StackEntry left = TakeOperand();
    if (IsMatrix(left)) MatrixOperatorNumConst(MatrixCode(comparison), left, constant);
    else PushTruthResult(CompareNumbers(comparison, OperandNumber(left), constant));
    ReleaseOperand(left);
}

// and / or: the left operand decides when it is 0 (and) or not 0 (or).
template <bool isAnd>
void RunLogical() {
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    if (!MatrixOperator(isAnd ? 'a' : 'o', left, right)) {
        const bool leftTrue = OperandNumber(left) != 0.0;
        PushTruthResult(isAnd ? leftTrue && OperandNumber(right) != 0.0 : leftTrue || OperandNumber(right) != 0.0);
    }
    ReleaseOperand(left);
    ReleaseOperand(right);
}

}  // namespace

void Builtin_equal() { RunComparison<Comparison::Equal>(); }
void Builtin_notequal() { RunComparison<Comparison::NotEqual>(); }
void Builtin_less() { RunComparison<Comparison::Less>(); }
void Builtin_greater() { RunComparison<Comparison::Greater>(); }
void Builtin_lessequal() { RunComparison<Comparison::LessEqual>(); }
void Builtin_greaterequal() { RunComparison<Comparison::GreaterEqual>(); }

void Handle_EQ2() { RunTypedComparison<Comparison::Equal>(); }
void Handle_NE2() { RunTypedComparison<Comparison::NotEqual>(); }
void Handle_LT2() { RunTypedComparison<Comparison::Less>(); }
void Handle_GT2() { RunTypedComparison<Comparison::Greater>(); }
void Handle_LE2() { RunTypedComparison<Comparison::LessEqual>(); }
void Handle_GE2() { RunTypedComparison<Comparison::GreaterEqual>(); }

void Builtin_and() { RunLogical<true>(); }
void Builtin_or() { RunLogical<false>(); }

void Builtin_not() {
    StackEntry operand = TakeOperand();
    PushTruthResult(platform::TruncateToInteger<int64_t>(OperandNumber(operand)) == 0);
    ReleaseOperand(operand);
}

void Builtin_isnull() {
    StackEntry operand = TakeOperand();
    PushTruthResult(operand.text == nullptr);
    ReleaseOperand(operand);
}

}  // namespace qob
