// tests/builtins/operators/comparison_operators_test.cpp
// The six comparisons in their generic and typed forms over numbers, texts,
// number texts, UTF-16 texts and matrices, and and / or / not / isnull.

#include "builtins/operators/comparison_operators.h"

#include <string>

#include "builtins/operators/operator_fixture.h"

namespace qob::testing {
namespace {

void (*const kGeneric[])() = {Builtin_equal, Builtin_notequal, Builtin_less,
                              Builtin_greater, Builtin_lessequal, Builtin_greaterequal};
void (*const kTyped[])() = {Handle_EQ2, Handle_NE2, Handle_LT2, Handle_GT2, Handle_LE2, Handle_GE2};
constexpr Opcode kTypedOpcodes[] = {Opcode::EQ2, Opcode::NE2, Opcode::LT2, Opcode::GT2, Opcode::LE2, Opcode::GE2};

// The results of ==, <>, <, >, <=, >= as six digits.
struct ComparisonCase {
    const char* left;
    const char* right;
    const char* results;
};

class ComparisonOperatorsTest : public OperatorTest {
protected:
    std::string GenericResults(const char* left, const char* right) {
        std::string results;
        for (auto handler : kGeneric) {
            const std::string result = RunBinary(handler, left, right);
            results += result == "n:1" ? '1' : result == "n:0" ? '0' : '?';
        }
        return results;
    }

    std::string TypedResult(int which, const char* left, double constant) {
        Instruction* node = Node(kTypedOpcodes[which], kTyped[which], constant);
        Push(left);
        RunNode(node);
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }

    std::string TypedResults(const char* left, double constant) {
        std::string results;
        for (int which = 0; which < 6; ++which) {
            const std::string result = TypedResult(which, left, constant);
            results += result == "n:1" ? '1' : result == "n:0" ? '0' : '?';
        }
        return results;
    }
};

TEST_F(ComparisonOperatorsTest, GenericComparisons) {
    const ComparisonCase cases[] = {
        {"n:1", "n:2", "011010"},
        {"n:2", "n:2", "100011"},
        {"n:-1", "n:-2", "010101"},
        {"n:0", "n:-0", "100011"},
        {"n:2147483648", "n:2147483647", "010101"},
        {"n:nan", "n:1", "010000"},
        {"n:nan", "n:nan", "010000"},
        {"t:abc", "t:abc", "100011"},
        {"t:abc", "t:ABC", "010101"},
        {"t:a", "t:ab", "011010"},
        {"t:b", "t:a", "010101"},
        {"t:", "t:a", "011010"},
        {"t:", "t:", "100011"},
        {"t:\xc3\xa9", "t:z", "010101"},  // bytes compare unsigned
        {"w:abc", "t:abc", "100011"},
        {"t:ab", "w:abc", "011010"},
        {"w:\xc3\xa9", "w:z", "010101"},
        {"w:\xff", "w:\xc3\xa9", "010101"},  // 16-bit units compare unsigned too
        {"t:10", "n:10", "100011"},
        {"n:9", "t:10", "011010"},
        {"t:0x10", "n:16", "100011"},
        {"w:10", "n:10", "100011"},
        // A text that is no number makes every comparison false, "<>" included.
        {"t:abc", "n:0", "000000"},
        {"n:5", "t:abc", "000000"},
        {"t:", "n:0", "000000"},
        {"t:1e5", "n:100000", "000000"},
        {"t:1e+5", "n:100000", "100011"},
    };
    for (const ComparisonCase& c : cases) EXPECT_EQ(GenericResults(c.left, c.right), c.results) << c.left << " ? " << c.right;
}

TEST_F(ComparisonOperatorsTest, TypedFormsReadATextAsItsNumber) {
    const struct {
        const char* left;
        double constant;
        const char* results;
    } cases[] = {
        {"n:1", 2, "011010"},
        {"n:2", 2, "100011"},
        {"n:nan", 0, "010000"},
        {"t:10", 10, "100011"},
        {"w:5", 5, "100011"},
        {"n:-0", 0, "100011"},
        // Unlike "==" and "<>", a text that is no number compares as 0 here.
        {"t:abc", 0, "100011"},
        {"t:", 0, "100011"},
        {"t:abc", 1, "011010"},
    };
    for (const auto& c : cases) EXPECT_EQ(TypedResults(c.left, c.constant), c.results) << c.left << " ? " << c.constant;
    EXPECT_EQ(GenericResults("t:abc", "n:0"), "000000");
}

TEST_F(ComparisonOperatorsTest, MatrixOperandsGiveMatrices) {
    EXPECT_EQ(RunBinary(Builtin_equal, "m:[1,2]", "m:[1,3]"), "m:[1,0]");
    EXPECT_EQ(RunBinary(Builtin_notequal, "m:[1,2]", "m:[1,3]"), "m:[0,1]");
    EXPECT_EQ(RunBinary(Builtin_lessequal, "m:[5]", "n:5"), "m:[1]");
    EXPECT_EQ(RunBinary(Builtin_less, "n:5", "m:[4,6]"), "m:[1,0]");  // the scalar stays on the right
    EXPECT_EQ(RunBinary(Builtin_greaterequal, "m:[1,{2}]", "t:2"), "m:[0,1]");
    EXPECT_EQ(TypedResult(0, "m:[1,2]", 1), "m:[1,0]");
    EXPECT_EQ(TypedResult(3, "m:[1,[2,3]]", 1), "m:[0,[1,1]]");
}

TEST_F(ComparisonOperatorsTest, AndOrTestNumbersAgainstZero) {
    const struct {
        const char* left;
        const char* right;
        const char* andResult;
        const char* orResult;
    } cases[] = {
        {"n:2", "n:0.5", "n:1", "n:1"},
        {"n:0", "n:1", "n:0", "n:1"},
        {"n:0", "n:0", "n:0", "n:0"},
        {"n:-0.5", "n:0", "n:0", "n:1"},
        {"n:nan", "n:1", "n:1", "n:1"},
        {"t:abc", "n:1", "n:0", "n:1"},
        {"t:2", "t:3", "n:1", "n:1"},
        {"n:0", "t:y", "n:0", "n:0"},
        {"w:1", "n:1", "n:1", "n:1"},
        {"m:[1,0]", "n:1", "m:[1,0]", "m:[1,1]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunBinary(Builtin_and, c.left, c.right), c.andResult) << c.left << " and " << c.right;
        EXPECT_EQ(RunBinary(Builtin_or, c.left, c.right), c.orResult) << c.left << " or " << c.right;
    }
}

TEST_F(ComparisonOperatorsTest, NotTruncatesAndIsnullLooksForText) {
    const struct {
        const char* operand;
        double notResult;
        double isnullResult;
    } cases[] = {
        {"n:0", 1, 1},
        {"n:0.5", 1, 1},
        {"n:-0.5", 1, 1},
        {"n:2", 0, 1},
        {"n:-2147483649", 0, 1},
        {"n:1e300", 0, 1},
        {"n:-1e300", 0, 1},
        {"n:nan", 1, 1},  // NaN truncates to 0
        {"t:0", 1, 0},
        {"t:3", 0, 0},
        {"t:abc", 1, 0},
        {"t:", 1, 0},
        {"w:7", 0, 0},
        {"m:[1]", 1, 0},
    };
    for (const auto& c : cases) {
        Push(c.operand);
        Builtin_not();
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopValue(), c.notResult) << "not " << c.operand;
        Push(c.operand);
        Builtin_isnull();
        EXPECT_EQ(PopValue(), c.isnullResult) << "isnull " << c.operand;
    }
}

}  // namespace
}  // namespace qob::testing
