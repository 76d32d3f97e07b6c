// tests/builtins/operators/typed_operators_test.cpp
// The typed arithmetic forms on hand-built nodes: where they give what the
// generic operator gives, where they differ on purpose, and the node's
// variable cache across frames.

#include "builtins/operators/typed_operators.h"

#include <string>
#include <vector>

#include "builtins/operators/arithmetic_operators.h"
#include "builtins/operators/operator_fixture.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

const char* const kOperands[] = {"n:5",  "n:-2.5", "n:0",      "n:nan", "n:2147483648", "t:12", "t:ab", "t:",
                                 "w:ab", "w:7",    "m:[1,{a}]", "t:1e5"};
const double kConstants[] = {3, 0, -1, 2.5, 2147483648.0};

class TypedOperatorsTest : public OperatorTest {
protected:
    // Gives V$ the value a description names.
    VariableRecord* SetVariable(const std::string& description) {
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

    // A form with a popped left operand.
    std::string RunPopped(Opcode opcode, void (*handler)(), const std::string& left, double operand,
                          const char* text = nullptr) {
        Instruction* node = Node(opcode, handler, operand, text);
        Push(left);
        RunNode(node);
        EXPECT_EQ(StackDepth(), 1) << left;
        return PopDescription();
    }

    // A form naming V$, holding the described value.
    std::string RunNamed(Opcode opcode, void (*handler)(), const std::string& value, double operand) {
        SetVariable(value);
        Instruction* node = Node(opcode, handler, operand, "V$");
        RunNode(node);
        EXPECT_EQ(StackDepth(), 1) << value;
        return PopDescription();
    }

    std::string Generic(void (*handler)(), const std::string& left, const std::string& right) {
        return RunBinary(handler, left, right);
    }
};

std::string NumberOperand(double value) { return "n:" + FormatValue(value); }

TEST_F(TypedOperatorsTest, ConstantFormsGiveTheGenericResult) {
    for (const char* left : kOperands) {
        for (double c : kConstants) {
            const std::string right = NumberOperand(c);
            EXPECT_EQ(RunPopped(Opcode::ADD2, Handle_ADD2, left, c), Generic(Builtin_add, left, right)) << left << " +2 " << c;
            EXPECT_EQ(RunPopped(Opcode::SUB2, Handle_SUB2, left, c), Generic(Builtin_subtract, left, right)) << left << " -2 " << c;
            EXPECT_EQ(RunPopped(Opcode::MUL2, Handle_MUL2, left, c), Generic(Builtin_multiply, left, right)) << left << " *2 " << c;
            if (left[0] == 't' || left[0] == 'w') continue;  // texts split into pieces, below
            EXPECT_EQ(RunPopped(Opcode::DIV2, Handle_DIV2, left, c), Generic(Builtin_divide, left, right)) << left << " /2 " << c;
        }
        for (const char* text : {"3", "ab", "", "0x10"}) {
            EXPECT_EQ(RunPopped(Opcode::ADD4, Handle_ADD4, left, 0, text), Generic(Builtin_add, left, std::string("t:") + text))
                << left << " +4 " << text;
        }
    }
}

TEST_F(TypedOperatorsTest, AddFormsOnANamedVariableGiveTheGenericResult) {
    for (const char* value : kOperands) {
        for (double c : kConstants) {
            const std::string constant = NumberOperand(c);
            EXPECT_EQ(RunNamed(Opcode::ADD5, Handle_ADD5, value, c), Generic(Builtin_add, value, constant)) << value << " +5 " << c;
            EXPECT_EQ(RunNamed(Opcode::ADD6, Handle_ADD6, value, c), Generic(Builtin_add, constant, value)) << c << " +6 " << value;
        }
    }
}

TEST_F(TypedOperatorsTest, FormsThatDifferFromTheGenericOperator) {
    struct Case {
        Opcode opcode;
        void (*typed)();
        void (*generic)();
        bool named;           // the node names V$ (else the left operand is popped)
        bool constantOnLeft;  // the 6 forms
        const char* operand;  // popped left, or V$'s value
        double number;
        const char* text;     // the 4 forms' text constant
        const char* typedResult;
        const char* genericResult;
    };
    const Case cases[] = {
        {Opcode::SUB4, Handle_SUB4, Builtin_subtract, false, false, "n:5", 0, "2", "t:5", "n:3"},
        {Opcode::SUB4, Handle_SUB4, Builtin_subtract, false, false, "n:1212", 0, "2", "t:11", "n:1210"},
        {Opcode::SUB5, Handle_SUB5, Builtin_subtract, true, false, "t:10", 1, nullptr, "n:9", "t:1"},
        {Opcode::MUL5, Handle_MUL5, Builtin_multiply, true, false, "t:3", 2, nullptr, "n:6", "t:33"},
        {Opcode::MUL6, Handle_MUL6, Builtin_multiply, true, true, "t:3", 2, nullptr, "n:6", "t:33"},
        {Opcode::DIV5, Handle_DIV5, Builtin_divide, true, false, "t:8", 1, nullptr, "n:8", "t:8"},
        {Opcode::SUB6, Handle_SUB6, Builtin_subtract, true, true, "t:abc", 10, nullptr, "n:10", "n:10"},
        {Opcode::DIV6, Handle_DIV6, Builtin_divide, true, true, "t:abc", 8, nullptr, "n:0", "n:inf"},
    };
    for (const Case& c : cases) {
        const std::string result = c.named ? RunNamed(c.opcode, c.typed, c.operand, c.number)
                                           : RunPopped(c.opcode, c.typed, c.operand, c.number, c.text);
        EXPECT_EQ(result, c.typedResult) << c.operand;
        const std::string constant = c.text ? std::string("t:") + c.text : NumberOperand(c.number);
        EXPECT_EQ(c.constantOnLeft ? Generic(c.generic, constant, c.operand) : Generic(c.generic, c.operand, constant),
                  c.genericResult)
            << c.operand;
    }
}

TEST_F(TypedOperatorsTest, NamedVariableRules) {
    struct Case {
        Opcode opcode;
        void (*handler)();
        const char* value;
        double constant;
        const char* expected;
    };
    const Case cases[] = {
        {Opcode::SUB5, Handle_SUB5, "t:hello", 2, "t:hel"},
        {Opcode::SUB5, Handle_SUB5, "t:hello", 9, "t:"},
        {Opcode::SUB5, Handle_SUB5, "n:10", 2.5, "n:7.5"},
        {Opcode::SUB5, Handle_SUB5, "w:10", 1, "n:9"},
        {Opcode::SUB6, Handle_SUB6, "t:4", 10, "n:6"},
        {Opcode::SUB6, Handle_SUB6, "n:4", 10, "n:6"},
        // The constant always acts as the right operand of a matrix.
        {Opcode::SUB6, Handle_SUB6, "m:[1,2,3]", 10, "m:[-9,-8,-7]"},
        {Opcode::MUL5, Handle_MUL5, "t:y", 3, "t:yyy"},
        // A lone "x" is a number text, so it is multiplied as 0.
        {Opcode::MUL5, Handle_MUL5, "t:x", 3, "n:0"},
        {Opcode::MUL5, Handle_MUL5, "w:ab", 2, "w:abab"},
        {Opcode::MUL6, Handle_MUL6, "m:[1,{2}]", 3, "m:[3,6]"},
        {Opcode::DIV6, Handle_DIV6, "t:2", 8, "n:4"},
        {Opcode::DIV6, Handle_DIV6, "n:0", 8, "n:inf"},
        {Opcode::DIV6, Handle_DIV6, "m:[2,4]", 8, "m:[0.25,0.5]"},
        {Opcode::DIV5, Handle_DIV5, "n:7", 2, "n:3.5"},
        {Opcode::ADD6, Handle_ADD6, "t:a", 1.5, "t:1.5a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunNamed(c.opcode, c.handler, c.value, c.constant), c.expected) << c.value << " " << c.constant;
}

TEST_F(TypedOperatorsTest, TextSplitFormsPushPieces) {
    Instruction* node = Node(Opcode::DIV2, Handle_DIV2, 2);
    Push("t:abcde");
    RunNode(node);
    ASSERT_EQ(StackDepth(), 2);
    EXPECT_EQ(PopDescription(), "t:de");
    EXPECT_EQ(PopDescription(), "t:abc");

    SetVariable("t:abcdef");
    node = Node(Opcode::DIV5, Handle_DIV5, 3, "V$");
    RunNode(node);
    ASSERT_EQ(StackDepth(), 3);
    EXPECT_EQ(PopDescription(), "t:ef");
    EXPECT_EQ(PopDescription(), "t:cd");
    EXPECT_EQ(PopDescription(), "t:ab");
}

TEST_F(TypedOperatorsTest, SubtractTextFormRemovesFromAnyLeftOperand) {
    const struct {
        const char* left;
        const char* text;
        const char* expected;
    } cases[] = {
        {"t:banana", "an", "t:ba"},
        {"t:aabb", "ab", "t:"},
        {"t:abc", "", "t:abc"},
        {"w:banana", "an", "w:ba"},
        {"n:2.5", ".", "t:25"},
        {"m:[5,{6}]", "2", "m:[3,4]"},
    };
    for (const auto& c : cases) EXPECT_EQ(RunPopped(Opcode::SUB4, Handle_SUB4, c.left, 0, c.text), c.expected) << c.left;
}

// A method that calls itself on the same object gets a new local frame while
// the member list stays the same: the node must not keep reading the outer
// call's local.
TEST_F(TypedOperatorsTest, NodeCacheFollowsTheFrameInsideAMethod) {
    VariableRecord* object = AllocateVariableRecord(context, false);
    MemberList = object;
    SetNumber(Variable("X$"), 1);
    Instruction* node = Node(Opcode::ADD5, Handle_ADD5, 10, "X$");
    RunNode(node);
    EXPECT_EQ(PopDescription(), "n:11");

    VariableRecord* inner = AllocateVariableRecord(context, false);
    LocalVariableList = inner;
    VariableRecord* innerX = CreateVariable(inner, "X$", true);
    SetNumber(innerX, 100);
    RunNode(node);
    EXPECT_EQ(PopDescription(), "n:110");

    LocalVariableList = frame;
    RunNode(node);
    EXPECT_EQ(PopDescription(), "n:11");

    MemberList = nullptr;
    FreeVariableChain(context, inner, true);
    FreeVariableList(context, inner);
    FreeVariableList(context, object);
}

TEST_F(TypedOperatorsTest, NodeLooksItsVariableUpOnce) {
    SetNumber(Variable("X$"), 1);
    Instruction* node = Node(Opcode::ADD5, Handle_ADD5, 1, "X$");
    RunNode(node);
    EXPECT_EQ(PopDescription(), "n:2");
    ASSERT_NE(node->extra, nullptr);
    VariableRecord* cached = node->extra->cachedVariable;
    EXPECT_EQ(cached, Variable("X$"));
    // While the frame is in force the cached record is used without a search:
    // a record it points at answers even after its name changes.
    const uint32_t hash = cached->hash;
    cached->hash = 0;
    SetNumber(cached, 41);
    RunNode(node);
    EXPECT_EQ(PopDescription(), "n:42");
    cached->hash = hash;
}

}  // namespace
}  // namespace qob::testing
