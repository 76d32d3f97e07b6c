// tests/builtins/lists/matrix_builtins_test.cpp
// mcount, mtype, madd, mdel and mmid, with ranges outside the matrix and
// matrices that a variable owns.

#include "builtins/lists/matrix_builtins.h"

#include <string>

#include "builtins/operators/operator_fixture.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/value_stack.h"

namespace qob::testing {
namespace {

class MatrixBuiltinsTest : public OperatorTest {
protected:
    std::string Run(void (*handler)(), std::initializer_list<const char*> arguments) {
        for (const char* argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }

    // mtype of a cell of a matrix variable, reached by its element address.
    double KindOfElement(VariableRecord* matrix, int index) {
        auto* cells = reinterpret_cast<MatrixCell*>(matrix->data);
        PushValue(nullptr, CellValue(&cells[index]), matrix,
                  static_cast<int32_t>(reinterpret_cast<uintptr_t>(&cells[index])));
        Builtin_mtype();
        return PopValue();
    }
};

TEST_F(MatrixBuiltinsTest, McountCountsCellsShallowOrDeep) {
    EXPECT_EQ(Run(Builtin_mcount, {"m:[1,[2,3],4]", "n:0"}), "n:3");
    EXPECT_EQ(Run(Builtin_mcount, {"m:[1,[2,3],4]", "n:1"}), "n:4");
    EXPECT_EQ(Run(Builtin_mcount, {"m:[1,[2,[3,4]]]", "t:1"}), "n:4");
    EXPECT_EQ(Run(Builtin_mcount, {"m:[]", "n:1"}), "n:0");
    EXPECT_EQ(Run(Builtin_mcount, {"t:abc", "n:0"}), "n:0");
    EXPECT_EQ(Run(Builtin_mcount, {"n:5", "n:0"}), "n:0");
}

// An object is appended by its instance address, as in a matrix literal: its
// text is only the class name, and the matrix must not hold a copy of it.
TEST_F(MatrixBuiltinsTest, MaddAppendsAnObjectByItsAddress) {
    VariableRecord* object = Variable("O$");
    Push("m:[1]");
    PushValue(const_cast<char*>("BOX"), 4096.0, object, 0);
    object->flags |= kVarObject;
    Builtin_madd();
    object->flags &= ~kVarObject;
    EXPECT_EQ(PopDescription(), "m:[1,4096]");
}

TEST_F(MatrixBuiltinsTest, MtypeReadsTheKindOfACell) {
    VariableRecord* m = Variable("M$");
    SetMatrix(m, "[1,{a},[2]]");
    EXPECT_EQ(KindOfElement(m, 0), 1);
    EXPECT_EQ(KindOfElement(m, 1), 2);
    EXPECT_EQ(KindOfElement(m, 2), 3);
    EXPECT_EQ(KindOfElement(m, 3), 4);
    // The variable itself: its first cell.
    PushVariable(m);
    Builtin_mtype();
    EXPECT_EQ(PopValue(), 1);
    // A number taken as an address: a cell there, or 0 where none can be.
    PushNumber(static_cast<double>(reinterpret_cast<uintptr_t>(m->data) + sizeof(MatrixCell)));
    Builtin_mtype();
    EXPECT_EQ(PopValue(), 2);
    for (double address : {0.0, 4096.0, -1.0}) {
        PushNumber(address);
        Builtin_mtype();
        EXPECT_EQ(PopValue(), 0) << address;
    }
}

TEST_F(MatrixBuiltinsTest, MaddAppendsACopyOfTheValue) {
    EXPECT_EQ(Run(Builtin_madd, {"m:[1,2]", "t:x"}), "m:[1,2,{x}]");
    EXPECT_EQ(Run(Builtin_madd, {"m:[1]", "m:[2,{b}]"}), "m:[1,[2,{b}]]");
    EXPECT_EQ(Run(Builtin_madd, {"m:[]", "n:-2.5"}), "m:[-2.5]");
    EXPECT_EQ(Run(Builtin_madd, {"n:0", "n:1"}), "m:[1]");
    EXPECT_EQ(Run(Builtin_madd, {"m:[{a}]", "t:"}), "m:[{a},{}]");
}

TEST_F(MatrixBuiltinsTest, MdelAndMmidClampTheirRange) {
    const struct {
        void (*handler)();
        const char* position;
        const char* count;
        const char* expected;
    } cases[] = {
        {Builtin_mdel, "n:1", "n:2", "m:[1,4]"},
        {Builtin_mdel, "n:0", "n:4", "m:[]"},
        {Builtin_mdel, "n:-1", "n:2", "m:[3,4]"},
        {Builtin_mdel, "n:2", "n:100", "m:[1,2]"},
        {Builtin_mdel, "n:5", "n:1", "m:[1,2,3,4]"},
        {Builtin_mdel, "n:1", "n:-3", "m:[1,2,3,4]"},
        {Builtin_mdel, "n:nan", "n:1", "m:[2,3,4]"},
        {Builtin_mdel, "n:2147483648", "n:2147483648", "m:[1,2,3,4]"},
        {Builtin_mdel, "t:1", "t:1", "m:[1,3,4]"},
        {Builtin_mmid, "n:1", "n:2", "m:[2,3]"},
        {Builtin_mmid, "n:3", "n:5", "m:[4]"},
        {Builtin_mmid, "n:1", "n:-1", "m:[]"},
        {Builtin_mmid, "n:-2", "n:3", "m:[1,2,3]"},
        {Builtin_mmid, "n:9", "n:1", "m:[]"},
        {Builtin_mmid, "n:-1e+300", "n:1e+300", "m:[1,2,3,4]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Run(c.handler, {"m:[1,2,3,4]", c.position, c.count}), c.expected) << c.position << "," << c.count;
    EXPECT_EQ(Run(Builtin_mmid, {"m:[1,2]", "n:1", "n:5"}), "m:[2]");
}

TEST_F(MatrixBuiltinsTest, NewMatricesLeaveTheVariablesMatrixWhole) {
    VariableRecord* m = Variable("M$");
    SetMatrix(m, "[1,{a},[2,{b}],4]");
    for (auto handler : {Builtin_mdel, Builtin_mmid}) {
        PushVariable(m);
        Push("n:1");
        Push("n:2");
        handler();
        PopDescription();
    }
    PushVariable(m);
    Push("t:c");
    Builtin_madd();
    EXPECT_EQ(PopDescription(), "m:[1,{a},[2,{b}],4,{c}]");
    EXPECT_EQ(Describe(m), "m:[1,{a},[2,{b}],4]");
}

}  // namespace
}  // namespace qob::testing
