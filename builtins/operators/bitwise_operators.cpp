// builtins/operators/bitwise_operators.cpp
// 64-bit bit operations and shifts, the 32-bit complement, and the compound
// bit assignments.

#include "builtins/operators/bitwise_operators.h"

#include "builtins/operators/matrix_operators.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

using IntegerRule = int64_t (*)(int64_t, int64_t);

int64_t IntegerOf(double value) { return platform::TruncateToInteger<int64_t>(value); }
int64_t IntegerView(const StackEntry& operand) { return IntegerOf(OperandNumber(operand)); }

int64_t Or(int64_t a, int64_t b) { return a | b; }
int64_t And(int64_t a, int64_t b) { return a & b; }
int64_t Xor(int64_t a, int64_t b) { return a ^ b; }

template <IntegerRule rule, char matrixCode>
void RunBitOperator() {
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    if (!MatrixOperator(matrixCode, left, right))
        PushNumberResult(static_cast<double>(rule(IntegerView(left), IntegerView(right))));
    ReleaseOperand(left);
    ReleaseOperand(right);
}

template <IntegerRule rule>
void RunBitAssign() {
    StackEntry right = TakeOperand();
    StackEntry target = TakeOperand();
    VariableRecord* variable = TargetVariable(target);
    if (variable)
        StoreNumber(variable, static_cast<double>(rule(IntegerOf(target.value), IntegerView(right))), EntryField(target));
    PushAssignedValue(variable);
    ReleaseOperand(target);
    ReleaseOperand(right);
}

template <IntegerRule rule>
void RunTypedBitAssign() {
    StackEntry right = TakeOperand();
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    if (variable) {
        void* field = VariableElementAddress(variable);
        char* text = nullptr;
        double value = 0.0;
        GetVariableValue(variable, &text, &value, field);
        StoreNumber(variable, static_cast<double>(rule(IntegerOf(value), IntegerView(right))), field);
    }
    PushAssignedValue(variable);
    ReleaseOperand(right);
}

}  // namespace

int64_t ShiftLeft(int64_t value, int64_t count) {
    const uint64_t n = static_cast<uint64_t>(count) & 0xFF;
    return n >= 64 ? 0 : static_cast<int64_t>(static_cast<uint64_t>(value) << n);
}

int64_t ShiftRight(int64_t value, int64_t count) {
    if (count < 0 || count >= 64) return value < 0 ? -1 : 0;
    return value >> count;
}

int32_t Complement32(int64_t value) {
    return static_cast<int32_t>(~static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

void Builtin_bitor() { RunBitOperator<Or, '|'>(); }
void Builtin_bitand() { RunBitOperator<And, '&'>(); }
void Builtin_xor() { RunBitOperator<Xor, '^'>(); }
void Builtin_shl() { RunBitOperator<ShiftLeft, 'l'>(); }
void Builtin_asl() { RunBitOperator<ShiftLeft, 'L'>(); }
void Builtin_shr() { RunBitOperator<ShiftRight, 'r'>(); }
void Builtin_asr() { RunBitOperator<ShiftRight, 'R'>(); }

void Builtin_bitnot() {
    StackEntry operand = TakeOperand();
    PushNumberResult(Complement32(IntegerView(operand)));
    ReleaseOperand(operand);
}

void Builtin_orassign() { RunBitAssign<Or>(); }
void Builtin_xorassign() { RunBitAssign<Xor>(); }
void Builtin_andassign() { RunBitAssign<And>(); }
void Handle_ORASSIGN2() { RunTypedBitAssign<Or>(); }
void Handle_XORASSIGN2() { RunTypedBitAssign<Xor>(); }
void Handle_ANDASSIGN2() { RunTypedBitAssign<And>(); }

}  // namespace qob
