// tests/native/native_calls_test.cpp
// The native call opcodes against a test library: words in declaration
// order, numbers truncated and sign-extended, signed results, UTF-16 texts,
// a missing library, record counts above 16, and a fault in the library.
#include "native/native_calls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "platform/faults.h"
#include "platform/memory.h"
#include "runtime/data/wide_text.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/native_libraries.h"
#include "runtime/values/values_fixture.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

const std::string kLibrary = std::string(QOB_NATIVE_CALL_LIBRARY_DIR) + "qobcalls.dll";
constexpr double kMarker = 123.0;

class NativeCallsTest : public testing::ValuesTest {
protected:
    void SetUp() override {
        ValuesTest::SetUp();
        PushValue(nullptr, kMarker, nullptr, 0);
    }

    // Declares and links an export; the record's index.
    int Declare(const char* name, uint8_t count, bool result, bool wide = false, const std::string& library = kLibrary) {
        const int index = DeclareDllFunction(name, name, library, count, result, wide, true);
        EXPECT_GE(index, 0) << name;
        (void)LinkDllFunction(index);
        return index;
    }

    // Runs the opcode's handler for the record, as the machine would.
    void Call(int index, Opcode opcode) {
        Instruction node{};
        node.operand = index;
        node.opcode = static_cast<uint32_t>(opcode);
        CurrentInstruction = &node;
        HandlerFor(opcode)();
        CurrentInstruction = nullptr;
    }

    static BuiltinHandler HandlerFor(Opcode opcode) {
        for (const OpcodeRegistration& row : NativeCallOpcodeRows())
            if (row.first == opcode) return row.handler;
        return nullptr;
    }

    // The number the call left on top (popped); the marker must be below it.
    double PopResult() {
        const double result = PopNumber();
        EXPECT_EQ(context->stackTop->value, kMarker);
        return result;
    }

    static intptr_t StoredWord(int index) {
        auto read = reinterpret_cast<intptr_t (*)(int)>(ResolveNativeExport(LoadNativeLibrary(kLibrary), "CallStoredWord"));
        return read(index);
    }
};

Opcode Form(Opcode first, int words) { return static_cast<Opcode>(static_cast<int>(first) + words); }

TEST_F(NativeCallsTest, SixteenWordsArriveInDeclarationOrder) {
    const int index = Declare("CallSixteen", 16, true);
    for (int i = 1; i <= 16; ++i) PushValue(nullptr, i * 10.0, nullptr, 0);
    Call(index, Opcode::SCALLF16);
    EXPECT_EQ(PopResult(), 10.0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(StoredWord(i), (i + 1) * 10) << i;
}

TEST_F(NativeCallsTest, NumbersAreTruncatedAndSignExtended) {
    struct Case {
        double number;
        intptr_t word;
    };
    const Case cases[] = {{3.9, 3}, {-3.9, -3}, {4294967295.0, -1}, {2147483648.0, INT32_MIN}, {std::nan(""), 0}};
    const int index = Declare("CallSixteen", 1, false);
    for (const Case& c : cases) {
        PushValue(nullptr, c.number, nullptr, 0);
        Call(index, Opcode::CALLP1);
        EXPECT_EQ(context->stackTop->value, kMarker);
        EXPECT_EQ(StoredWord(0), c.word) << c.number;
    }
}

TEST_F(NativeCallsTest, ResultsAreReadAsSigned32Bits) {
    const int ones = Declare("CallAllOnes", 0, true);
    Call(ones, Opcode::CALLF0);
    EXPECT_EQ(PopResult(), -1.0);
    const int none = Declare("CallNoArguments", 0, true);
    Call(none, Opcode::SCALLF0);
    EXPECT_EQ(PopResult(), 42.0);
}

TEST_F(NativeCallsTest, TextsReachTheWideAndTheNarrowExport) {
    const int wide = Declare("CallFirstUnit", 1, true, true);
    EXPECT_EQ(FunctionRecordAt(wide)->exportName, "CallFirstUnitW");
    PushValue("he", 0, nullptr, 0);
    Call(wide, Opcode::SCALLF1);
    EXPECT_EQ(PopResult(), 104.0);
    const int narrow = Declare("CallFirstUnit", 1, true, false);
    PushValue("he", 0, nullptr, 0);
    Call(narrow, Opcode::SCALLF1);
    EXPECT_EQ(PopResult(), 25960.0);
}

TEST_F(NativeCallsTest, AUtf16EntryIsPassedAsItIsEvenWhenItLooksNarrow) {
    // Two CJK units without a zero byte: read as 8-bit text they survive a
    // round trip, so only the entry's own flag tells that they are UTF-16.
    auto* text = static_cast<uint16_t*>(platform::AllocateZeroedBlock(6));
    text[0] = 0x4E2D;
    text[1] = 0x6587;
    const int wide = Declare("CallFirstUnit", 1, true, true);
    StackEntry* cell = PushStackEntry(context, true);
    cell->value = 0;
    cell->text = reinterpret_cast<const char*>(text);
    cell->variable = nullptr;
    cell->extra = 0;
    cell->flags = kEntryWide;
    Call(wide, Opcode::SCALLF1);
    EXPECT_EQ(PopResult(), 0x4E2D);
    platform::FreeBlock(text);
}

TEST_F(NativeCallsTest, AMissingLibraryStillTakesTheArguments) {
    const int index = Declare("CallNoArguments", 3, true, false, "no_such_library.dll");
    for (int i = 0; i < 3; ++i) PushValue(nullptr, i, nullptr, 0);
    Call(index, Opcode::SCALLF3);
    EXPECT_EQ(PopResult(), 0.0);
    const int procedure = Declare("CallNoArguments", 2, false, false, "no_such_library.dll");
    PushValue(nullptr, 1, nullptr, 0);
    PushValue("x", 0, nullptr, 0);
    Call(procedure, Opcode::CALLP2);
    EXPECT_EQ(context->stackTop->value, kMarker);
}

TEST_F(NativeCallsTest, ARecordCountAbove16TakesEveryArgumentAndPassesTheFirst16) {
    const int index = Declare("CallSixteen", 20, true);
    for (int i = 1; i <= 20; ++i) PushValue(nullptr, i, nullptr, 0);
    Call(index, Opcode::SCALLF16);
    EXPECT_EQ(PopResult(), 1.0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(StoredWord(i), i + 1) << i;
}

TEST_F(NativeCallsTest, WordsBeyondTheRecordCountAreZero) {
    // A call of all sixteen words first, so that what a later call leaves
    // unset would not read as 0 by chance.
    const int full = Declare("CallSixteen", 16, true);
    for (int i = 1; i <= 16; ++i) PushValue(nullptr, 100 + i, nullptr, 0);
    Call(full, Opcode::SCALLF16);
    EXPECT_EQ(PopResult(), 101.0);
    const int index = Declare("CallSixteen", 2, true);
    PushValue(nullptr, 7, nullptr, 0);
    PushValue(nullptr, 8, nullptr, 0);
    Call(index, Form(Opcode::SCALLF0, 4));
    EXPECT_EQ(PopResult(), 7.0);
    EXPECT_EQ(StoredWord(1), 8);
    EXPECT_EQ(StoredWord(2), 0);
    EXPECT_EQ(StoredWord(3), 0);
}

TEST_F(NativeCallsTest, AFaultInsideTheLibraryIsAnAccessViolation) {
    const int index = Declare("CallFault", 1, true);
    PushValue(nullptr, 16, nullptr, 0);
    const std::optional<platform::FaultReport> fault = platform::RunGuarded([&] { Call(index, Opcode::SCALLF1); });
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, platform::FaultKind::AccessViolation);
    EXPECT_EQ(fault->dataAddress, 16u);
    CurrentInstruction = nullptr;
}

}  // namespace
}  // namespace qob
