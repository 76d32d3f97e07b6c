// tests/builtins/operators/matrix_operators_test.cpp
// The element-wise engine: pairing of cells, scalars, nested matrices of
// mismatched shapes, text cells, the operator table and empty matrices.

#include "builtins/operators/matrix_operators.h"

#include <string>

#include "builtins/operators/operator_fixture.h"
#include "builtins/operators/operator_values.h"
#include "runtime/memory/memory_links.h"

namespace qob::testing {
namespace {

struct MatrixCase {
    char op;
    const char* left;
    const char* right;
    const char* expected;
};

class MatrixOperatorsTest : public OperatorTest {
protected:
    // Both operands described as the fixture pushes them; the result described.
    std::string Apply(char op, const std::string& left, const std::string& right) {
        Push(left);
        Push(right);
        StackEntry b = TakeOperand();
        StackEntry a = TakeOperand();
        EXPECT_TRUE(MatrixOperator(op, a, b));
        ReleaseOperand(a);
        ReleaseOperand(b);
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }

    void RunTable(std::initializer_list<MatrixCase> cases) {
        for (const MatrixCase& c : cases)
            EXPECT_EQ(Apply(c.op, c.left, c.right), c.expected) << c.left << " " << c.op << " " << c.right;
    }

    // A matrix cell whose run is null: the empty matrix.
    void PushNullMatrix() {
        PushValue(nullptr, 0.0, nullptr);
        context->stackTop->flags = kEntryMatrix;
    }
};

TEST_F(MatrixOperatorsTest, CellsPairAndTheShorterSideSuppliesZero) {
    RunTable({
        {'+', "m:[1,2,3]", "m:[10,20]", "m:[11,22,3]"},
        {'*', "m:[1,2]", "m:[3,4,5]", "m:[3,8,0]"},
        {'-', "m:[1,2,3]", "n:1", "m:[0,1,2]"},
        {'=', "m:[1,2]", "m:[1,3]", "m:[1,0]"},
        {',', "m:[5]", "n:5", "m:[1]"},
        {'/', "m:[1,-1,0]", "n:0", "m:[inf,-inf,nan]"},
        {'+', "m:[[1,2],3]", "m:[[10,20],30]", "m:[[11,22],33]"},
        {'+', "m:[]", "m:[]", "m:[]"},
        {'+', "m:[]", "m:[1,2]", "m:[1,2]"},
    });
}

// A product decision: the scalar always acts as the right operand, also when
// it is written on the left, so 1 - m is m - 1.
TEST_F(MatrixOperatorsTest, ScalarActsAsTheRightOperand) {
    RunTable({
        {'-', "n:1", "m:[1,2,3]", "m:[0,1,2]"},
        {'/', "n:10", "m:[20,5]", "m:[2,0.5]"},
        {'<', "n:5", "m:[4,6]", "m:[1,0]"},
        {'+', "t:b", "m:[{a},2]", "m:[{ab},{2b}]"},
    });
}

TEST_F(MatrixOperatorsTest, PlusJoinsTextCellsUnlessBothSidesAreNumbers) {
    RunTable({
        {'+', "m:[{a},2]", "t:b", "m:[{ab},{2b}]"},
        {'+', "m:[{1},{y}]", "n:1", "m:[2,{y1}]"},
        // A lone "x" is a number text: it adds as 0.
        {'+', "m:[{1},{x}]", "n:1", "m:[2,1]"},
        {'+', "m:[{1},{a}]", "t:2", "m:[3,{a2}]"},
        {'+', "m:[{a},1.5]", "m:[{b},{c}]", "m:[{ab},{1.5c}]"},
        {'+', "m:[{a}]", "w:b", "m:[{ab}]"},
        {'+', "m:[{}]", "n:1", "m:[{1}]"},
    });
}

TEST_F(MatrixOperatorsTest, OtherOperatorsReadTextCellsAsNumbers) {
    RunTable({
        {'*', "m:[{3},{y}]", "n:2", "m:[6,0]"},
        {'-', "m:[{a}]", "n:1", "m:[-1]"},
        {'/', "m:[{10}]", "m:[{4}]", "m:[2.5]"},
        {'=', "m:[{2},{0x2}]", "n:2", "m:[1,1]"},
        {'*', "m:[1,2]", "t:y", "m:[0,0]"},
        {'*', "m:[1,2]", "t:3", "m:[3,6]"},
    });
}

TEST_F(MatrixOperatorsTest, NestedMatrixFacingASingleElementTakesItAsScalar) {
    RunTable({
        {'+', "m:[[1,2],3]", "m:[5,6]", "m:[[6,7],9]"},
        {'+', "m:[5,[1,2]]", "m:[1,2]", "m:[6,[3,4]]"},
        {'+', "m:[1,2]", "m:[5,[1,2]]", "m:[6,[3,4]]"},
        {'-', "m:[1,2]", "m:[5,[1,2]]", "m:[-4,[-1,0]]"},
        {'+', "m:[[1,2]]", "m:[]", "m:[[1,2]]"},
        {'+', "m:[1]", "m:[5,[1,2]]", "m:[6,[1,2]]"},
        {'+', "m:[[1,{a}]]", "m:[{b}]", "m:[[{1b},{ab}]]"},
        {'*', "m:[{a}]", "m:[[1]]", "m:[[0]]"},
        {'+', "m:[[[1]]]", "n:1", "m:[[[2]]]"},
    });
}

TEST_F(MatrixOperatorsTest, BitOperationsWorkOnThirtyTwoBits) {
    RunTable({
        {'&', "m:[6]", "m:[3]", "m:[2]"},
        {'|', "m:[6]", "n:3", "m:[7]"},
        {'^', "m:[6]", "n:3", "m:[5]"},
        {'|', "m:[1e+300,-1e+300,2147483648]", "n:0", "m:[2147483647,-2147483648,2147483647]"},
        {'^', "m:[5]", "n:nan", "m:[5]"},  // NaN reads as 0
        {'L', "m:[1]", "n:31", "m:[-2147483648]"},
        {'l', "m:[1]", "n:31", "m:[2147483648]"},
        {'L', "m:[1]", "n:32", "m:[0]"},
        {'l', "m:[1]", "n:257", "m:[2]"},  // only the low 8 bits of the count
        {'l', "m:[1]", "n:-1", "m:[0]"},
        {'R', "m:[-16]", "n:2", "m:[-4]"},
        {'R', "m:[-16,16]", "n:40", "m:[-1,0]"},
        {'r', "m:[-16]", "n:2", "m:[1073741820]"},
        {'r', "m:[-16]", "n:32", "m:[0]"},
    });
}

TEST_F(MatrixOperatorsTest, LogicalComparisonAndUnknownOperators) {
    RunTable({
        {'a', "m:[1,0,2]", "m:[1,1,0]", "m:[1,0,0]"},
        {'o', "m:[1,0,0]", "m:[0,0,2]", "m:[1,0,1]"},
        {'!', "m:[1]", "n:nan", "m:[1]"},
        {'=', "m:[1]", "n:nan", "m:[0]"},
        {'.', "m:[1,2,3]", "n:2", "m:[0,1,1]"},
        {'>', "m:[1,2,3]", "n:2", "m:[0,0,1]"},
        {'?', "m:[1,{a},[2]]", "n:5", "m:[1,{a},[2]]"},
    });
}

TEST_F(MatrixOperatorsTest, MatrixWithoutCellsIsEmpty) {
    PushNullMatrix();
    Push("n:1");
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    EXPECT_TRUE(MatrixOperator('+', left, right));
    EXPECT_EQ(PopDescription(), "m:[]");

    Push("m:[1,2]");
    PushNullMatrix();
    right = TakeOperand();
    left = TakeOperand();
    EXPECT_TRUE(MatrixOperator('*', left, right));
    ReleaseOperand(left);
    EXPECT_EQ(PopDescription(), "m:[0,0]");
}

TEST_F(MatrixOperatorsTest, NoMatrixOperandLeavesTheWorkToTheOperator) {
    Push("n:1");
    Push("t:2");
    StackEntry right = TakeOperand();
    StackEntry left = TakeOperand();
    EXPECT_FALSE(MatrixOperator('+', left, right));
    EXPECT_EQ(StackDepth(), 0);
}

TEST_F(MatrixOperatorsTest, TypedConstantsApplyToEveryCell) {
    Push("m:[1,{2},{a}]");
    StackEntry matrix = TakeOperand();
    MatrixOperatorNumConst('*', matrix, 2);
    EXPECT_EQ(PopDescription(), "m:[2,4,0]");
    MatrixOperatorTextConst('+', matrix, "b");
    EXPECT_EQ(PopDescription(), "m:[{1b},{2b},{ab}]");
    MatrixOperatorTextConst('+', matrix, "3");
    EXPECT_EQ(PopDescription(), "m:[4,5,{a3}]");
    ReleaseOperand(matrix);
}

}  // namespace
}  // namespace qob::testing
