// tests/builtins/operators/arithmetic_operators_test.cpp
// "+", "-", "*", "/", "%", concat and validint over numbers, texts, number
// texts, UTF-16 texts and matrices, with their boundaries.

#include "builtins/operators/arithmetic_operators.h"

#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"

namespace qob::testing {
namespace {

struct BinaryCase {
    const char* left;
    const char* right;
    const char* expected;
};

class ArithmeticOperatorsTest : public OperatorTest {
protected:
    void RunTable(void (*handler)(), const char* name, const std::vector<BinaryCase>& cases) {
        for (const BinaryCase& c : cases)
            EXPECT_EQ(RunBinary(handler, c.left, c.right), c.expected) << c.left << " " << name << " " << c.right;
    }

    // Runs "/" and describes every piece it pushed, deepest first.
    std::vector<std::string> Pieces(const char* text, const char* count) {
        Push(text);
        Push(count);
        Builtin_divide();
        std::vector<std::string> pieces(StackDepth());
        for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) *piece = PopDescription();
        return pieces;
    }
};

TEST_F(ArithmeticOperatorsTest, AddNumbersNumberTextsAndJoins) {
    RunTable(Builtin_add, "+", {
        {"n:2", "n:3", "n:5"},
        {"n:-2.5", "n:0.5", "n:-2"},
        {"n:2147483648", "n:1", "n:2147483649"},
        {"n:nan", "n:1", "n:nan"},
        {"t:5", "t:5", "n:10"},
        {"t:12", "t:3", "n:15"},
        {"t:12", "n:3", "n:15"},
        {"t:-3", "n:1", "n:-2"},
        {"t:0x10", "n:1", "n:17"},
        {"t:1e+5", "n:1", "n:100001"},
        {"t:1e5", "n:1", "t:1e51"},  // an exponent needs its sign: not a number text
        {"t:5", "t:a", "t:5a"},
        {"n:5", "t:a", "t:5a"},
        {"t:a", "n:1.5", "t:a1.5"},
        {"n:2.50", "t:y", "t:2.5y"},
        // A lone "x" counts as a number text (as the number reader takes it),
        // so these add instead of joining.
        {"n:2.5", "t:x", "n:2.5"},
        {"t:12", "t:x", "n:12"},
        {"t:", "n:1", "t:1"},
        {"t:", "t:", "t:"},
        {"w:ab", "t:c", "w:abc"},
        {"t:a", "w:\xc3\xa9", "w:a\xc3\xa9"},
        {"w:1", "n:2", "n:3"},
        {"w:1", "w:2", "n:3"},
        {"m:[1,2,3]", "m:[10,20]", "m:[11,22,3]"},
        {"n:1", "m:[1,{a}]", "m:[2,{a1}]"},
    });
}

// A result of two numbers is a plain value in the left operand's cell: it
// names no variable, even when an operand was read from one.
TEST_F(ArithmeticOperatorsTest, NumberResultNamesNoVariable) {
    struct Case {
        void (*handler)();
        double expected;
    };
    const Case cases[] = {{Builtin_add, 7}, {Builtin_subtract, 3}, {Builtin_multiply, 10}, {Builtin_divide, 2.5}};
    VariableRecord* variable = Variable("A$");
    SetNumber(variable, 5);
    for (const Case& c : cases) {
        PushVariable(variable);
        PushNumber(2);
        c.handler();
        ASSERT_EQ(StackDepth(), 1);
        EXPECT_EQ(context->stackTop->variable, nullptr);
        EXPECT_EQ(context->stackTop->flags, 0u);
        EXPECT_EQ(PopValue(), c.expected);
    }
}

TEST_F(ArithmeticOperatorsTest, SubtractCutsAndRemoves) {
    RunTable(Builtin_subtract, "-", {
        {"n:5", "n:3", "n:2"},
        {"n:0", "n:-2147483648", "n:2147483648"},
        {"n:10", "t:1", "n:9"},
        {"n:10", "t:abc", "n:10"},
        {"t:hello", "n:2", "t:hel"},
        {"t:hello", "n:0", "t:hello"},
        {"t:hello", "n:2.9", "t:hel"},
        {"t:10", "n:1", "t:1"},  // a number text is cut like any text
        {"t:banana", "t:an", "t:ba"},
        {"t:aabb", "t:ab", "t:"},
        {"t:abc", "t:x", "t:abc"},
        {"t:abababx", "t:ab", "t:x"},
        {"w:hello", "n:2", "w:hel"},
        {"w:banana", "t:an", "w:ba"},
        {"t:banana", "w:an", "w:ba"},
        {"m:[1,2,3]", "n:1", "m:[0,1,2]"},
        // The scalar always acts as the right operand: 1 - m gives m - 1.
        {"n:1", "m:[1,2,3]", "m:[0,1,2]"},
    });
}

TEST_F(ArithmeticOperatorsTest, CutCountOutsideTheTextIsClamped) {
    RunTable(Builtin_subtract, "-", {
        {"t:abc", "n:3", "t:"},
        {"t:abc", "n:5", "t:"},
        {"t:abc", "n:2147483648", "t:"},
        {"t:abc", "n:1e300", "t:"},
        {"t:abc", "n:-1", "t:abc"},
        {"t:abc", "n:-2147483649", "t:abc"},
        {"t:abc", "n:nan", "t:abc"},
        {"t:", "n:1", "t:"},
    });
}

TEST_F(ArithmeticOperatorsTest, RemovingTheEmptyTextKeepsTheText) {
    RunTable(Builtin_subtract, "-", {
        {"t:abc", "t:", "t:abc"},
        {"w:abc", "t:", "w:abc"},
        {"t:", "t:", "t:"},
    });
}

TEST_F(ArithmeticOperatorsTest, MultiplyRepeatsTexts) {
    RunTable(Builtin_multiply, "*", {
        {"n:2", "n:3", "n:6"},
        {"n:-2", "n:0.5", "n:-1"},
        {"t:ab", "n:3", "t:ababab"},
        {"n:3", "t:ab", "t:ababab"},
        {"t:ab", "n:0", "t:"},
        {"t:ab", "n:-2", "t:"},
        {"t:ab", "n:nan", "t:"},
        {"t:ab", "n:2.9", "t:abab"},
        {"t:3", "n:2", "t:33"},
        {"t:2", "t:3", "n:6"},
        {"t:abc", "t:3", "n:0"},
        {"w:ab", "n:2", "w:abab"},
        {"m:[1,2]", "m:[3,4,5]", "m:[3,8,0]"},
    });
}

TEST_F(ArithmeticOperatorsTest, RepeatTooLargeForABlockGivesTheEmptyText) {
    RunTable(Builtin_multiply, "*", {
        {"t:ab", "n:2147483648", "t:"},
        {"t:abc", "n:1e18", "t:"},
        {"n:9.2e18", "w:ab", "w:"},
        {"t:", "n:1e18", "t:"},
        // Sizes that wrap around in 64 bits (4 x 2^62, 2 x 2^63 units).
        {"t:abcd", "n:4611686018427387904", "t:"},
        {"w:ab", "n:9223372036854775808", "w:"},
    });
}

TEST_F(ArithmeticOperatorsTest, DivideNumbersAndNumberTexts) {
    RunTable(Builtin_divide, "/", {
        {"n:7", "n:2", "n:3.5"},
        {"n:1", "n:0", "n:inf"},
        {"n:-1", "n:0", "n:-inf"},
        {"n:0", "n:0", "n:nan"},
        {"n:8", "t:2", "n:4"},
        {"t:8", "t:2", "n:4"},
        {"t:abc", "t:2", "n:0"},
        {"m:[2,4]", "n:2", "m:[1,2]"},
    });
}

TEST_F(ArithmeticOperatorsTest, DivideTextPushesPieces) {
    EXPECT_EQ(Pieces("t:abcde", "n:2"), (std::vector<std::string>{"t:abc", "t:de"}));
    EXPECT_EQ(Pieces("t:abcdef", "n:3"), (std::vector<std::string>{"t:ab", "t:cd", "t:ef"}));
    EXPECT_EQ(Pieces("t:abc", "n:5"), (std::vector<std::string>{"t:a", "t:b", "t:c", "t:", "t:"}));
    EXPECT_EQ(Pieces("t:abc", "n:1"), (std::vector<std::string>{"t:abc"}));
    EXPECT_EQ(Pieces("t:", "n:2"), (std::vector<std::string>{"t:", "t:"}));
    EXPECT_EQ(Pieces("w:abcde", "n:2"), (std::vector<std::string>{"w:abc", "w:de"}));
    EXPECT_TRUE(Pieces("t:abc", "n:0").empty());
    EXPECT_TRUE(Pieces("t:abc", "n:-3").empty());
    EXPECT_TRUE(Pieces("t:abc", "n:nan").empty());
}

TEST_F(ArithmeticOperatorsTest, JoinOperatorAlwaysJoins) {
    RunTable(Builtin_join, "%", {
        {"n:1", "n:2", "t:12"},
        {"n:1.5", "n:10", "t:1.510"},
        {"t:5", "t:5", "t:55"},
        {"t:", "t:", "t:"},
        {"w:a", "t:b", "w:ab"},
        {"n:1", "w:b", "w:1b"},
        {"t:a", "m:[1,{x},[2]]", "t:a[1,{x},[2]]"},
    });
}

TEST_F(ArithmeticOperatorsTest, ConcatJoinsEveryArgumentInOrder) {
    OpenFrame();
    Push("t:a");
    Push("n:1");
    Push("t:b");
    Builtin_concat();
    EXPECT_EQ(StackDepth(), 1);
    EXPECT_EQ(PopDescription(), "t:a1b");

    OpenFrame();
    Builtin_concat();
    EXPECT_EQ(PopDescription(), "t:");

    OpenFrame();
    Push("t:a");
    Push("w:b");
    Push("n:2");
    Push("m:[1]");
    Builtin_concat();
    EXPECT_EQ(PopDescription(), "w:ab2[1]");
}

TEST_F(ArithmeticOperatorsTest, ConcatTakesMoreThanTwoHundredFiftySixArguments) {
    Push("t:below");
    OpenFrame();
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        Push(i % 2 ? "t:x" : "n:7");
        expected += i % 2 ? "x" : "7";
    }
    Builtin_concat();
    EXPECT_EQ(PopDescription(), "t:" + expected);
    EXPECT_EQ(PopDescription(), "t:below");
}

TEST_F(ArithmeticOperatorsTest, ValidintTestsEveryArgument) {
    struct Case {
        std::vector<const char*> arguments;
        double expected;
    };
    const Case cases[] = {
        {{"t:12", "t:-3", "t:0x1F"}, 1},
        {{"t:12", "t:y", "t:3"}, 0},
        {{"t:12", "t:x", "t:3"}, 1},  // a lone "x" is a number text
        {{}, 0},
        {{"t:1e5"}, 0},
        {{"t:1e+5"}, 1},
        {{"t:"}, 0},
        {{"n:2.5", "n:-1"}, 1},
        {{"n:nan"}, 0},
        {{"w:42"}, 1},
        {{"w:4a"}, 0},
        {{"m:[1]"}, 0},
    };
    for (const Case& c : cases) {
        Push("t:below");
        OpenFrame();
        for (const char* argument : c.arguments) Push(argument);
        Builtin_validint();
        EXPECT_EQ(StackDepth(), 2) << c.arguments.size();
        EXPECT_EQ(PopValue(), c.expected) << (c.arguments.empty() ? "none" : c.arguments[0]);
        EXPECT_EQ(PopDescription(), "t:below");
    }
}

}  // namespace
}  // namespace qob::testing
