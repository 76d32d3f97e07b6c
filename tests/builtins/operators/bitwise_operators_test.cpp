// tests/builtins/operators/bitwise_operators_test.cpp
// Bit operations, shifts and the complement over numbers, texts, UTF-16
// texts and matrices, at the integer limits, and the compound forms.

#include "builtins/operators/bitwise_operators.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "builtins/operators/operator_fixture.h"
#include "runtime/values/assignment.h"

namespace qob::testing {
namespace {

constexpr double kTwo63 = 9223372036854775808.0;

class BitwiseOperatorsTest : public OperatorTest {
protected:
    double Binary(void (*handler)(), const char* left, const char* right) {
        Push(left);
        Push(right);
        handler();
        EXPECT_EQ(StackDepth(), 1) << left << " " << right;
        return PopValue();
    }
};

TEST_F(BitwiseOperatorsTest, AndOrXorOnSixtyFourBitIntegers) {
    const struct {
        void (*handler)();
        const char* left;
        const char* right;
        double expected;
    } cases[] = {
        {Builtin_bitor, "n:6", "n:3", 7},
        {Builtin_bitand, "n:6", "n:3", 2},
        {Builtin_xor, "n:6", "n:3", 5},
        {Builtin_bitor, "n:2.9", "n:0", 2},
        {Builtin_bitor, "n:-2.9", "n:0", -2},
        {Builtin_bitand, "t:12", "n:10", 8},
        {Builtin_bitor, "t:abc", "n:1", 1},
        {Builtin_bitand, "w:12", "n:10", 8},
        {Builtin_bitor, "t:0x10", "n:1", 17},
        {Builtin_bitor, "n:4294967296", "n:1", 4294967297},
        {Builtin_bitand, "n:-1", "n:4294967295", 4294967295},
        {Builtin_bitor, "n:nan", "n:5", 5},
        {Builtin_bitor, "n:1e+300", "n:0", kTwo63},   // saturates at 2^63 - 1
        {Builtin_bitor, "n:-1e+300", "n:0", -kTwo63},
        {Builtin_xor, "n:inf", "n:-1", -kTwo63},
    };
    for (const auto& c : cases) EXPECT_EQ(Binary(c.handler, c.left, c.right), c.expected) << c.left << " " << c.right;
}

TEST_F(BitwiseOperatorsTest, ShiftsNeverTrapOrShiftByTheFullWidth) {
    const struct {
        void (*handler)();
        const char* left;
        const char* right;
        double expected;
    } cases[] = {
        {Builtin_shl, "n:1", "n:3", 8},
        {Builtin_shl, "n:1", "n:63", -kTwo63},
        {Builtin_shl, "n:1", "n:64", 0},
        {Builtin_shl, "n:1", "n:65", 0},
        {Builtin_shl, "n:1", "n:256", 1},  // only the low 8 bits of the count
        {Builtin_shl, "n:1", "n:-1", 0},   // -1 counts as 255
        {Builtin_shl, "n:-1", "n:4", -16},
        {Builtin_asl, "n:1", "n:63", -kTwo63},
        {Builtin_shl, "t:3", "t:2", 12},
        {Builtin_shr, "n:-16", "n:2", -4},
        {Builtin_asr, "n:-16", "n:2", -4},
        {Builtin_shr, "n:16", "n:64", 0},
        {Builtin_shr, "n:-16", "n:64", -1},
        {Builtin_shr, "n:-16", "n:1e+300", -1},
        {Builtin_shr, "n:-16", "n:-1", -1},  // a negative count gives the sign fill
        {Builtin_shr, "n:16", "n:-1", 0},
        {Builtin_shr, "n:-1", "n:63", -1},
        {Builtin_shr, "n:1", "n:nan", 1},
        {Builtin_shr, "n:-1e+300", "n:62", -2},
    };
    for (const auto& c : cases) EXPECT_EQ(Binary(c.handler, c.left, c.right), c.expected) << c.left << " " << c.right;
}

TEST_F(BitwiseOperatorsTest, ComplementWrapsModuloTwoToTheThirtyTwo) {
    const struct {
        const char* operand;
        double expected;
    } cases[] = {
        {"n:0", -1},   {"n:5", -6},          {"n:4294967295", 0}, {"n:-1", 0},     {"n:4294967296", -1},
        {"n:2147483648", 2147483647},        {"n:-2147483649", -2147483648},      {"t:5", -6},
        {"w:5", -6},   {"n:nan", -1},        {"n:1e+300", 0},     {"n:5.9", -6},
    };
    for (const auto& c : cases) {
        Push(c.operand);
        Builtin_bitnot();
        EXPECT_EQ(PopValue(), c.expected) << c.operand;
    }
}

// Element-wise forms work on 32 bits; asl/asr and "<<"/">>" part ways there.
TEST_F(BitwiseOperatorsTest, MatrixOperandsShiftOnThirtyTwoBits) {
    EXPECT_EQ(RunBinary(Builtin_shl, "m:[1]", "n:31"), "m:[2147483648]");
    EXPECT_EQ(RunBinary(Builtin_asl, "m:[1]", "n:31"), "m:[-2147483648]");
    EXPECT_EQ(RunBinary(Builtin_shr, "m:[-16]", "n:2"), "m:[1073741820]");
    EXPECT_EQ(RunBinary(Builtin_asr, "m:[-16]", "n:2"), "m:[-4]");
    EXPECT_EQ(RunBinary(Builtin_bitor, "m:[6,{1}]", "n:3"), "m:[7,3]");
    EXPECT_EQ(RunBinary(Builtin_xor, "n:1", "m:[3]"), "m:[2]");
    // The scalar forms of the same shifts are 64-bit and arithmetic.
    EXPECT_EQ(Binary(Builtin_shl, "n:1", "n:31"), 2147483648.0);
    EXPECT_EQ(Binary(Builtin_shr, "n:-16", "n:2"), -4);
}

TEST_F(BitwiseOperatorsTest, CompoundFormsAssignAndPushOnlyOnRequest) {
    VariableRecord* x = Variable("X$");
    const struct {
        void (*generic)();
        Opcode opcode;
        void (*typed)();
        double start;
        const char* right;
        double expected;
    } cases[] = {
        {Builtin_orassign, Opcode::ORASSIGN2, Handle_ORASSIGN2, 5, "n:2", 7},
        {Builtin_xorassign, Opcode::XORASSIGN2, Handle_XORASSIGN2, 6, "n:3", 5},
        {Builtin_andassign, Opcode::ANDASSIGN2, Handle_ANDASSIGN2, 10, "t:12", 8},  // a text right operand reads as its number
        {Builtin_orassign, Opcode::ORASSIGN2, Handle_ORASSIGN2, -2.5, "n:nan", -2},
        {Builtin_andassign, Opcode::ANDASSIGN2, Handle_ANDASSIGN2, 1e300, "n:-1", kTwo63},
    };
    for (const auto& c : cases) {
        SetNumber(x, c.start);
        PushVariable(x);
        Push(c.right);
        c.generic();
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Describe(x), "n:" + FormatValue(c.expected)) << c.start << " " << c.right;

        SetNumber(x, c.start);
        Push(c.right);
        RunNode(Node(c.opcode, c.typed, 0, "X$"));
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Describe(x), "n:" + FormatValue(c.expected)) << c.start << " " << c.right;
    }
    SetNumber(x, 5);
    SetPushPending = 1;
    PushVariable(x);
    Push("n:2");
    Builtin_orassign();
    EXPECT_EQ(PopDescription(), "n:7");
    SetPushPending = 1;
    Push("n:8");
    RunNode(Node(Opcode::ORASSIGN2, Handle_ORASSIGN2, 0, "X$"));
    EXPECT_EQ(PopDescription(), "n:15");
    EXPECT_EQ(StackDepth(), 0);
}

// The typed forms work on the variable's element address: a matrix
// variable's first cell.
TEST_F(BitwiseOperatorsTest, TypedCompoundFormsUseTheElementAddress) {
    VariableRecord* m = Variable("M$");
    SetMatrix(m, "[5,6]");
    Push("n:2");
    RunNode(Node(Opcode::ORASSIGN2, Handle_ORASSIGN2, 0, "M$"));
    EXPECT_EQ(Describe(m), "m:[7,6]");
}

}  // namespace
}  // namespace qob::testing
