// tests/runtime/function_table_test.cpp
// Registration, replacement, lookups and the capacity bound of the function table.
#include "runtime/function_table.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/hash.h"

namespace qob {
namespace {

int handlerCalls[3];
void HandlerA() { ++handlerCalls[0]; }
void HandlerB() { ++handlerCalls[1]; }
void HandlerC() { ++handlerCalls[2]; }

class FunctionTableTest : public ::testing::Test {
protected:
    void SetUp() override { FreeFunctionTable(); }
    void TearDown() override { FreeFunctionTable(); }
};

TEST_F(FunctionTableTest, RegistrationUpperCasesAndHashesTheName) {
    int index = RegisterFunction("ReadWrite", HandlerA);
    ASSERT_EQ(index, 0);
    const FunctionRecord* record = FunctionRecordAt(index);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->name, "READWRITE");
    EXPECT_EQ(record->nameHash, HashName("READWRITE", 9));
    EXPECT_EQ(record->handler, &HandlerA);
    EXPECT_EQ(FindFunctionByHash(HashName("READWRITE", 9)), index);
    EXPECT_EQ(FindFunctionByName("readwrite"), index);
    EXPECT_EQ(FindFunctionByName("READ"), -1);
}

TEST_F(FunctionTableTest, OnlyAsciiLettersAreUpperCased) {
    EXPECT_EQ(UpperCaseName("a\xE9z_1"), "A\xE9Z_1");
    int index = RegisterFunction("caf\xE9", HandlerA);
    EXPECT_EQ(FunctionRecordAt(index)->name, "CAF\xE9");
    EXPECT_EQ(FindFunctionByHash(HashName("CAF\xE9", 4)), index);
}

TEST_F(FunctionTableTest, SameNameInAnotherCaseReplacesTheRecordInItsSlot) {
    ASSERT_EQ(RegisterFunction("first", HandlerC), 0);
    ASSERT_EQ(RegisterFunction("abc", HandlerA), 1);
    ASSERT_EQ(RegisterFunction("last", HandlerC), 2);
    EXPECT_EQ(RegisterFunction("ABC", HandlerB), 1);
    EXPECT_EQ(FunctionCount(), 3);
    EXPECT_EQ(FunctionRecordAt(1)->handler, &HandlerB);
    EXPECT_EQ(FunctionRecordAt(2)->name, "LAST");
}

TEST_F(FunctionTableTest, ReRegistrationClearsWhatTheNewRegistrationDoesNotSet) {
    int index = RegisterFunctionFlagsEx("sum", HandlerA, true, true, true);
    ASSERT_GE(index, 0);
    EXPECT_EQ(FunctionRecordAt(index)->anyArity, 1);
    EXPECT_EQ(FunctionRecordAt(index)->argumentFrame, 1);

    EXPECT_EQ(RegisterBuiltin("sum", HandlerB, 2, false), index);
    const FunctionRecord* record = FunctionRecordAt(index);
    EXPECT_EQ(record->anyArity, 0);
    EXPECT_EQ(record->argumentFrame, 0);
    EXPECT_EQ(record->returnsValue, 0);
    EXPECT_EQ(record->argumentCount, 2);
    EXPECT_EQ(record->handler, &HandlerB);

    EXPECT_EQ(RegisterFunction("sum", HandlerC), index);
    EXPECT_EQ(FunctionRecordAt(index)->argumentCount, 0);
}

TEST_F(FunctionTableTest, EachRegistrarSetsItsOwnFields) {
    struct Case {
        int index;
        uint8_t argumentCount, returnsValue, anyArity, argumentFrame;
    };
    const Case cases[] = {
        {RegisterFunction("plain", HandlerA), 0, 0, 0, 0},
        {RegisterFunctionFlags("framed", HandlerA, true, true), 0, 0, 1, 1},
        {RegisterFunctionFlags("loose", HandlerA, true, false), 0, 0, 1, 0},
        {RegisterFunctionFlagsEx("framedvalue", HandlerA, true, true, true), 0, 1, 1, 1},
        {RegisterBuiltin("three", HandlerA, 3, true), 3, 1, 0, 0},
    };
    for (const Case& c : cases) {
        const FunctionRecord* record = FunctionRecordAt(c.index);
        ASSERT_NE(record, nullptr) << c.index;
        EXPECT_EQ(record->argumentCount, c.argumentCount) << record->name;
        EXPECT_EQ(record->returnsValue, c.returnsValue) << record->name;
        EXPECT_EQ(record->anyArity, c.anyArity) << record->name;
        EXPECT_EQ(record->argumentFrame, c.argumentFrame) << record->name;
        EXPECT_FALSE(record->declaredNative) << record->name;
    }
}

TEST_F(FunctionTableTest, ClearedRecordKeepsItsSlotButIsNoLongerFound) {
    int index = RegisterBuiltin("gone", HandlerA, 1, true);
    ASSERT_EQ(RegisterFunction("kept", HandlerB), index + 1);
    ClearFunctionRecord(index);
    EXPECT_EQ(FindFunctionByName("gone"), -1);
    EXPECT_EQ(FunctionCount(), 2);
    EXPECT_EQ(FunctionRecordAt(index)->name, "");
    EXPECT_EQ(FunctionRecordAt(index)->handler, nullptr);
    EXPECT_EQ(FindFunctionByName("kept"), index + 1);
}

TEST_F(FunctionTableTest, FreeFunctionTableEmptiesTheTable) {
    ASSERT_GE(RegisterFunction("one", HandlerA), 0);
    ASSERT_GE(RegisterFunction("two", HandlerA), 0);
    FreeFunctionTable();
    EXPECT_EQ(FunctionCount(), 0);
    EXPECT_EQ(FindFunctionByName("one"), -1);
    EXPECT_EQ(FunctionRecordAt(0), nullptr);
    EXPECT_EQ(RegisterFunction("three", HandlerA), 0);
}

TEST_F(FunctionTableTest, IndexesOutsideTheSlotsInUseHaveNoRecord) {
    ASSERT_EQ(RegisterFunction("only", HandlerA), 0);
    for (int index : {-1, 1, kFunctionTableCapacity, kFunctionTableCapacity + 1})
        EXPECT_EQ(FunctionRecordAt(index), nullptr) << index;
}

TEST_F(FunctionTableTest, FullTableRefusesANewNameAndWritesNothing) {
    for (int i = 0; i < kFunctionTableCapacity; ++i)
        ASSERT_EQ(RegisterFunction("f" + std::to_string(i), HandlerA), i);
    EXPECT_EQ(RegisterFunction("onemore", HandlerB), -1);
    EXPECT_EQ(RegisterBuiltin("onemore", HandlerB, 1, true), -1);
    EXPECT_EQ(RegisterFunctionFlagsEx("onemore", HandlerB, true, true, true), -1);
    EXPECT_EQ(FunctionCount(), kFunctionTableCapacity);
    EXPECT_EQ(FindFunctionByName("onemore"), -1);

    // A name already present is still replaced in place.
    EXPECT_EQ(RegisterBuiltin("F17", HandlerB, 2, true), 17);
    EXPECT_EQ(FunctionRecordAt(17)->handler, &HandlerB);
    EXPECT_EQ(FunctionCount(), kFunctionTableCapacity);
}

}  // namespace
}  // namespace qob
