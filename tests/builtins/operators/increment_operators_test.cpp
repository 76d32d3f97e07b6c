// tests/builtins/operators/increment_operators_test.cpp
// Increments and decrements in every shape, the value each leaves after
// __set_push, texts and matrices, and div and mod at their limits.

#include "builtins/operators/increment_operators.h"

#include <string>

#include "builtins/operators/operator_fixture.h"
#include "runtime/values/assignment.h"

namespace qob::testing {
namespace {

class IncrementOperatorsTest : public OperatorTest {
protected:
    VariableRecord* SetTo(const std::string& description) {
        VariableRecord* v = Variable("V$");
        const std::string body = description.substr(2);
        switch (description[0]) {
        case 'n': SetNumber(v, std::strtod(body.c_str(), nullptr)); break;
        case 't': SetText(v, body); break;
        case 'w': SetWide(v, body); break;
        case 'm': SetMatrix(v, body); break;
        }
        return v;
    }

    // Runs a shape on V$ holding the value; returns "pushed|value after".
    std::string Step(void (*handler)(), bool named, const std::string& value, bool pushResult, double constant = 0,
                     Opcode opcode = Opcode::INC2) {
        VariableRecord* v = SetTo(value);
        SetPushPending = pushResult ? 1 : 0;
        if (named) {
            RunNode(Node(opcode, handler, constant, "V$"));
        } else {
            PushVariable(v);
            handler();
        }
        EXPECT_EQ(SetPushPending, 0);
        std::string pushed = StackDepth() > 0 ? PopDescription() : "none";
        EXPECT_EQ(StackDepth(), 0);
        return pushed + "|" + Describe(v);
    }

    double Binary(void (*handler)(), const char* left, const char* right) {
        Push(left);
        Push(right);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopValue();
    }
};

TEST_F(IncrementOperatorsTest, ShapesLeaveTheValueBeforeOrAfter) {
    const struct {
        void (*handler)();
        bool named;
        Opcode opcode;
        const char* withPush;
        const char* withoutPush;
    } cases[] = {
        {Builtin_increment, false, Opcode::INC2, "n:5|n:6", "none|n:6"},
        {Builtin_decrement, false, Opcode::INC2, "n:5|n:4", "none|n:4"},
        {Builtin_increment2, false, Opcode::INC2, "n:6|n:6", "none|n:6"},
        {Builtin_decrement2, false, Opcode::INC2, "n:4|n:4", "none|n:4"},
        {IncrementOpcode2, true, Opcode::INC2, "n:5|n:6", "none|n:6"},
        {DecrementOpcode2, true, Opcode::DEC2, "n:5|n:4", "none|n:4"},
        {Handle_INC4, true, Opcode::INC4, "n:6|n:6", "none|n:6"},
        {Handle_DEC4, true, Opcode::DEC4, "n:4|n:4", "none|n:4"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Step(c.handler, c.named, "n:5", true, 0, c.opcode), c.withPush);
        EXPECT_EQ(Step(c.handler, c.named, "n:5", false, 0, c.opcode), c.withoutPush);
    }
}

TEST_F(IncrementOperatorsTest, TextsIncrementAsTheirNumbers) {
    for (auto handler : {Builtin_increment, Builtin_increment2}) {
        EXPECT_EQ(Step(handler, false, "t:7", false), "none|n:8");
        EXPECT_EQ(Step(handler, false, "t:abc", false), "none|n:1");
        EXPECT_EQ(Step(handler, false, "w:41", false), "none|n:42");
        EXPECT_EQ(Step(handler, false, "t:2147483647", false), "none|n:2147483648");
    }
    // The opcode shapes read a text the same way.
    EXPECT_EQ(Step(IncrementOpcode2, true, "t:7", false), "none|n:8");
    EXPECT_EQ(Step(Handle_DEC4, true, "t:abc", false, 0, Opcode::DEC4), "none|n:-1");
}

// The value left from before the change is a copy: the change frees the
// text the variable held.
TEST_F(IncrementOperatorsTest, ValueBeforeTheChangeOutlivesTheOldText) {
    EXPECT_EQ(Step(Builtin_increment, false, "t:7", true), "t:7|n:8");
    EXPECT_EQ(Step(IncrementOpcode2, true, "w:9", true), "w:9|n:10");
    EXPECT_EQ(Step(Handle_INC3, true, "t:ab", true, 1, Opcode::INC3), "t:ab|t:ab1");
    EXPECT_EQ(Step(Handle_DEC3, true, "m:[1,{a}]", true, 1, Opcode::DEC3), "m:[1,{a}]|m:[0,-1]");
}

TEST_F(IncrementOperatorsTest, StepByConstantJoinsCutsOrAdds) {
    const struct {
        void (*handler)();
        Opcode opcode;
        const char* value;
        double constant;
        const char* expected;
    } cases[] = {
        {Handle_INC3, Opcode::INC3, "t:ab", 1.5, "t:ab1.5"},
        {Handle_INC3, Opcode::INC3, "w:ab", 1, "w:ab1"},
        {Handle_INC3, Opcode::INC3, "n:5", 2.5, "n:7.5"},
        {Handle_INC3, Opcode::INC3, "m:[1,2]", 10, "m:[11,12]"},
        {Handle_INC3, Opcode::INC3, "m:[{a}]", 1, "m:[{a1}]"},
        {Handle_DEC3, Opcode::DEC3, "t:hello", 2, "t:hel"},
        {Handle_DEC3, Opcode::DEC3, "t:hello", 9, "t:"},
        {Handle_DEC3, Opcode::DEC3, "t:hello", -1, "t:hello"},
        {Handle_DEC3, Opcode::DEC3, "t:hello", 4294967298.0, "t:"},
        {Handle_DEC3, Opcode::DEC3, "w:hello", 2, "w:hel"},
        {Handle_DEC3, Opcode::DEC3, "n:5", 7, "n:-2"},
        {Handle_DEC3, Opcode::DEC3, "m:[1,[2]]", 1, "m:[0,[1]]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Step(c.handler, true, c.value, false, c.constant, c.opcode), std::string("none|") + c.expected)
            << c.value << " " << c.constant;
}

// "+= 1" compiles to opcode 35: a matrix variable changes element by element,
// as "+= 2" does.
TEST_F(IncrementOperatorsTest, OpcodeShapesOnAMatrixVariableWorkElementByElement) {
    EXPECT_EQ(Step(IncrementOpcode2, true, "m:[1,{2}]", false), "none|m:[2,3]");
    EXPECT_EQ(Step(Handle_DEC4, true, "m:[1,[5]]", false, 0, Opcode::DEC4), "none|m:[0,[4]]");
}

TEST_F(IncrementOperatorsTest, DivTruncatesTheQuotient) {
    const struct {
        const char* left;
        const char* right;
        double expected;
    } cases[] = {
        {"n:7", "n:2", 3},          {"n:-7", "n:2", -3},         {"n:5", "n:0.5", 10},
        {"n:5", "n:0", 0},          {"n:5", "n:-0", 0},          {"t:7", "t:2", 3},
        {"t:7", "t:abc", 0},        {"w:9", "n:2", 4},           {"n:1e+300", "n:1", 2147483647},
        {"n:-1e+300", "n:1", -2147483648}, {"n:-2147483648", "n:-1", 2147483647},
        {"n:nan", "n:1", 0},        {"n:1", "n:nan", 0},         {"n:1", "n:inf", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(Binary(Builtin_div, c.left, c.right), c.expected) << c.left << " div " << c.right;
}

TEST_F(IncrementOperatorsTest, ModNeverTraps) {
    const struct {
        const char* left;
        const char* right;
        double expected;
    } cases[] = {
        {"n:7", "n:3", 1},           {"n:-7", "n:3", -1},          {"n:7", "n:-3", 1},
        {"n:5", "n:0.5", 0},         {"n:5", "n:0", 0},            {"t:7", "t:4", 3},
        {"n:-2147483648", "n:-1", 0},  // the remainder that traps in 32-bit hardware division
        {"n:1e+300", "n:7", 1},      {"n:nan", "n:3", 0},          {"n:3", "n:nan", 0},
        {"n:7.9", "n:2.9", 1},       {"w:8", "n:5", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(Binary(Builtin_mod, c.left, c.right), c.expected) << c.left << " mod " << c.right;
}

}  // namespace
}  // namespace qob::testing
