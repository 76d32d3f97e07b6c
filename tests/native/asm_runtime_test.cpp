// tests/native/asm_runtime_test.cpp
// The routines that generated code calls: shifts, division, the double
// conversion, the value-stack routines and the maths functions, each run
// through the stub dispatcher as the code reaches them.
#include "native/asm_runtime.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "native/asm_routines.h"
#include "runtime/values/values_fixture.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

TEST(AsmRoutineValues, ShiftsUseTheCountsLowByteAndGiveZeroFrom32On) {
    struct Case {
        uint32_t value, count, left, right;
    };
    constexpr Case kCases[] = {
        {1, 0, 1, 1},           {1, 31, 0x80000000u, 0},          {1, 32, 0, 0},
        {0x80000001u, 1, 2, 0x40000000u}, {1, 257, 2, 0},        {0xFFu, 0x120, 0, 0},
        {0xF0u, 4, 0xF00u, 0xFu}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(AsmShiftLeftValue(c.value, c.count), c.left) << c.value << " << " << c.count;
        EXPECT_EQ(AsmShiftRightValue(c.value, c.count), c.right) << c.value << " >> " << c.count;
    }
}

TEST(AsmRoutineValues, DivisionTruncatesTowardZeroAndWrapsTheOneOverflow) {
    struct Case {
        int32_t dividend, divisor, quotient;
    };
    constexpr Case kCases[] = {{7, 2, 3},   {-7, 2, -3}, {7, -2, -3}, {-7, -2, 3},
                               {INT32_MIN, -1, INT32_MIN}, {INT32_MAX, -1, -INT32_MAX}, {0, 5, 0}};
    for (const Case& c : kCases) EXPECT_EQ(AsmSignedQuotient(c.dividend, c.divisor), c.quotient) << c.dividend << " / " << c.divisor;
}

TEST(AsmRoutineValues, DoublesConvertModulo2To32) {
    struct Case {
        double value;
        int32_t word;
    };
    const Case cases[] = {{3.9, 3},           {-3.9, -3},          {4294967295.0, -1}, {4294967301.0, 5},
                          {2147483648.0, INT32_MIN}, {-2147483649.0, INT32_MAX}, {std::nan(""), 0},
                          {INFINITY, 0},      {1e20, static_cast<int32_t>(1661992960)},
                          // the edges of the int32 range, converted directly
                          {2147483647.0, INT32_MAX}, {2147483647.9, INT32_MAX}, {-2147483648.0, INT32_MIN},
                          {-2147483648.9, INT32_MIN}, {-0.0, 0}, {-0.5, 0}, {2147483648.5, INT32_MIN},
                          {-2147483649.5, INT32_MAX}, {-INFINITY, 0}};
    for (const Case& c : cases) EXPECT_EQ(AsmDoubleToInt32(c.value), c.word) << c.value;
}

// The dispatcher with a program context: what the routines do to its stack.
class AsmRoutinesOnStack : public testing::ValuesTest {
protected:
    ArmCall Run(AsmRoutine routine, uint32_t r0 = 0, uint32_t r1 = 0, uint32_t r2 = 0, uint32_t r3 = 0) {
        ArmCall call{};
        call.number = static_cast<uint32_t>(routine);
        call.r[0] = r0;
        call.r[1] = r1;
        call.r[2] = r2;
        call.r[3] = r3;
        DispatchAsmRoutine(call);
        return call;
    }
    static double DoubleOf(const ArmCall& call) {
        const uint64_t bits = uint64_t{call.result[1]} << 32 | call.result[0];
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    static void Split(double value, uint32_t& low, uint32_t& high) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        low = static_cast<uint32_t>(bits);
        high = static_cast<uint32_t>(bits >> 32);
    }
};

TEST_F(AsmRoutinesOnStack, PopIntTakesTheValueThenTheExtraWordThenTheText) {
    static const char kText[] = "abc";
    PushValue(kText, 0, nullptr, 0);
    PushValue(nullptr, 0, nullptr, 7);
    PushValue(nullptr, -2.5, nullptr, 9);
    EXPECT_EQ(static_cast<int32_t>(Run(AsmRoutine::AsmPopInt).result[0]), -2);
    EXPECT_EQ(Run(AsmRoutine::AsmPopInt).result[0], 7u);
    EXPECT_EQ(Run(AsmRoutine::AsmPopInt).result[0], static_cast<uint32_t>(reinterpret_cast<uintptr_t>(kText)));
    // The bottom cell is never popped: an empty stack gives 0.
    const ArmCall empty = Run(AsmRoutine::AsmPopInt);
    EXPECT_TRUE(empty.setsR0);
    EXPECT_EQ(empty.result[0], 0u);
}

TEST_F(AsmRoutinesOnStack, PushesReadWordsAsUnsignedAndPairsAsDoubles) {
    Run(AsmRoutine::AsmPushUnsigned, 0xFFFFFFFFu);
    EXPECT_EQ(context->stackTop->value, 4294967295.0);
    uint32_t low, high;
    Split(-1.25, low, high);
    Run(AsmRoutine::AsmPushDouble, low, high);
    EXPECT_EQ(context->stackTop->value, -1.25);
    EXPECT_EQ(context->stackTop->text, nullptr);
}

TEST_F(AsmRoutinesOnStack, MathsRoutinesTakeAndGiveDoublesInRegisterPairs) {
    struct Case {
        AsmRoutine routine;
        double x, y, expected;
    };
    const Case cases[] = {
        {AsmRoutine::Cos, 0, 0, 1},        {AsmRoutine::Sin, M_PI / 2, 0, 1}, {AsmRoutine::Sqrt, 2, 0, M_SQRT2},
        {AsmRoutine::Atan2, 1, 1, M_PI / 4}, {AsmRoutine::Floor, -1.5, 0, -2}, {AsmRoutine::Ceil, -1.5, 0, -1},
        {AsmRoutine::Log10, 1000, 0, 3},   {AsmRoutine::Exp, 1, 0, M_E},      {AsmRoutine::Tanh, 0, 0, 0},
    };
    for (const Case& c : cases) {
        uint32_t r0, r1, r2, r3;
        Split(c.x, r0, r1);
        Split(c.y, r2, r3);
        const ArmCall call = Run(c.routine, r0, r1, r2, r3);
        ASSERT_TRUE(call.setsR0 && call.setsR1);
        EXPECT_NEAR(DoubleOf(call), c.expected, 1e-12) << static_cast<int>(c.routine);
    }
    uint32_t low, high;
    Split(-7.9, low, high);
    EXPECT_EQ(static_cast<int32_t>(Run(AsmRoutine::AsmDoubleToInt, low, high).result[0]), -7);
}

}  // namespace
}  // namespace qob
