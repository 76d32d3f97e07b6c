// tests/builtins/operators/compound_assignment_test.cpp
// "=3", "=4", "=5", the compound assignments in their generic and typed
// forms, the splitting "/=", "M=" and the push-result step.

#include "builtins/operators/compound_assignment.h"

#include <optional>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"
#include "platform/faults.h"
#include "runtime/values/assignment.h"

namespace qob::testing {
namespace {

class CompoundAssignmentTest : public OperatorTest {
protected:
    VariableRecord* SetTo(const char* name, const std::string& description) {
        VariableRecord* v = Variable(name);
        const std::string body = description.substr(2);
        switch (description[0]) {
        case 'n': SetNumber(v, std::strtod(body.c_str(), nullptr)); break;
        case 't': SetText(v, body); break;
        case 'w': SetWide(v, body); break;
        case 'm': SetMatrix(v, body); break;
        }
        return v;
    }

    // target op= right through the generic handler; the variable afterwards.
    std::string Generic(void (*handler)(), const char* target, const char* right) {
        VariableRecord* v = SetTo("T$", target);
        PushVariable(v);
        Push(right);
        handler();
        EXPECT_EQ(StackDepth(), 0) << target << " " << right;
        return Describe(v);
    }

    // The same through the typed form naming the variable.
    std::string Typed(Opcode opcode, void (*handler)(), const char* target, const char* right) {
        VariableRecord* v = SetTo("T$", target);
        Instruction* node = Node(opcode, handler, 0, "T$");
        Push(right);
        RunNode(node);
        EXPECT_EQ(StackDepth(), 0) << target << " " << right;
        return Describe(v);
    }
};

struct CompoundCase {
    const char* target;
    const char* right;
    const char* expected;
};

TEST_F(CompoundAssignmentTest, GenericAndTypedFormsAgree) {
    const struct {
        void (*generic)();
        Opcode opcode;
        void (*typed)();
        std::vector<CompoundCase> cases;
    } families[] = {
        {Builtin_addassign, Opcode::ADDASSIGN2, Handle_ADDASSIGN2, {
            {"t:ab", "t:c", "t:abc"},
            {"t:1", "t:2", "t:12"},  // a text target always joins
            {"t:1", "n:2", "t:12"},
            {"n:1", "n:2", "n:3"},
            {"n:1", "t:2", "n:3"},   // a number target follows "+"
            {"n:1", "t:a", "t:1a"},
            {"n:nan", "n:1", "n:nan"},
            {"w:ab", "t:c", "w:abc"},
            {"t:ab", "w:c", "w:abc"},
            {"m:[1,2]", "n:1", "m:[2,3]"},
            {"n:1", "m:[1]", "m:[2]"},
            {"m:[1,{a}]", "m:[1,{b}]", "m:[2,{ab}]"},
        }},
        {Builtin_subassign, Opcode::SUBASSIGN2, Handle_SUBASSIGN2, {
            {"t:hello", "n:2", "t:hel"},
            {"t:hello", "t:l", "t:heo"},
            {"t:aabb", "t:ab", "t:"},
            {"n:5", "t:2", "n:3"},
            {"n:5", "n:7", "n:-2"},
            {"t:abc", "n:9", "t:"},
            {"t:abc", "n:-1", "t:abc"},
            {"t:abc", "t:", "t:abc"},
            {"w:hello", "n:2", "w:hel"},
            {"m:[5]", "n:1", "m:[4]"},
        }},
        {Builtin_mulassign, Opcode::MULASSIGN2, Handle_MULASSIGN2, {
            {"t:ab", "n:3", "t:ababab"},
            {"n:2", "t:ab", "t:abab"},
            {"n:2", "n:3", "n:6"},
            {"t:2", "t:3", "n:6"},   // two texts multiply as numbers
            {"t:ab", "n:0", "t:"},
            {"t:ab", "n:1e18", "t:"},
            {"m:[1,2]", "n:3", "m:[3,6]"},
        }},
    };
    for (const auto& family : families) {
        for (const CompoundCase& c : family.cases) {
            EXPECT_EQ(Generic(family.generic, c.target, c.right), c.expected) << c.target << " op= " << c.right;
            EXPECT_EQ(Typed(family.opcode, family.typed, c.target, c.right), c.expected) << c.target << " op=2 " << c.right;
        }
    }
}

TEST_F(CompoundAssignmentTest, DivideAssignOnNumbersAndTexts) {
    const CompoundCase cases[] = {
        {"n:7", "n:2", "n:3.5"},
        {"n:8", "t:2", "n:4"},
        {"t:8", "t:2", "n:4"},  // two texts divide as numbers
        {"t:abc", "t:2", "n:0"},
        {"n:1", "n:0", "n:inf"},
        {"m:[4,{6}]", "n:2", "m:[2,3]"},
        {"t:abc", "n:1", "t:abc"},
        {"t:abc", "n:0", "t:abc"},
    };
    for (const CompoundCase& c : cases) EXPECT_EQ(Generic(Builtin_divassign, c.target, c.right), c.expected) << c.target;
}

TEST_F(CompoundAssignmentTest, DivideAssignSplitsATextOverTheCellsBelow) {
    VariableRecord* a = SetTo("A$", "n:0");
    VariableRecord* b = SetTo("B$", "n:0");
    VariableRecord* s = SetTo("S$", "t:abcdef");
    PushVariable(a);
    PushVariable(b);
    PushVariable(s);
    Push("n:3");
    Builtin_divassign();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Describe(a), "t:ab");
    EXPECT_EQ(Describe(b), "t:cd");
    EXPECT_EQ(Describe(s), "t:ef");
}

TEST_F(CompoundAssignmentTest, DivideAssignStopsAtTheFrameAndTheBottomCell) {
    VariableRecord* a = SetTo("A$", "n:1");
    VariableRecord* b = SetTo("B$", "n:2");
    VariableRecord* s = SetTo("S$", "t:abcdefgh");
    PushVariable(a);
    OpenFrame();
    PushVariable(b);
    PushVariable(s);
    Push("n:4");
    Builtin_divassign();
    EXPECT_EQ(Describe(s), "t:gh");
    EXPECT_EQ(Describe(b), "t:ef");
    EXPECT_EQ(Describe(a), "n:1");  // below the open frame: never taken
    ASSERT_EQ(StackDepth(), 1);
    EXPECT_EQ(PopDescription(), "n:1");

    SetText(s, "abcdef");
    PushVariable(s);
    Push("n:1000000000");
    Builtin_divassign();  // no cell below but the bottom one
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Describe(s), "t:");
}

TEST_F(CompoundAssignmentTest, DivideAssignWithPushResultPushesThePieces) {
    VariableRecord* s = SetTo("S$", "t:abcde");
    PushVariable(s);
    Push("n:2");
    SetPushPending = 1;
    Builtin_divassign();
    EXPECT_EQ(SetPushPending, 0);
    ASSERT_EQ(StackDepth(), 2);
    EXPECT_EQ(PopDescription(), "t:de");
    EXPECT_EQ(PopDescription(), "t:abc");
    EXPECT_EQ(Describe(s), "t:abcde");
}

TEST_F(CompoundAssignmentTest, PushResultLeavesTheNewValue) {
    VariableRecord* v = SetTo("V$", "n:5");
    PushVariable(v);
    Push("n:2");
    Builtin_addassign();
    EXPECT_EQ(StackDepth(), 0);

    SetPushPending = 1;
    PushVariable(v);
    Push("t:a");
    Builtin_addassign();
    EXPECT_EQ(SetPushPending, 0);
    ASSERT_EQ(StackDepth(), 1);
    EXPECT_EQ(PopDescription(), "t:7a");

    SetPushPending = 1;
    Push("n:3");
    RunNode(Node(Opcode::MULASSIGN2, Handle_MULASSIGN2, 0, "V$"));
    EXPECT_EQ(PopDescription(), "t:7a7a7a");

    // A number target and value (the short way through the typed form).
    SetNumber(v, 4);
    SetPushPending = 1;
    Push("n:3");
    RunNode(Node(Opcode::SUBASSIGN2, Handle_SUBASSIGN2, 0, "V$"));
    EXPECT_EQ(SetPushPending, 0);
    ASSERT_EQ(StackDepth(), 1);
    EXPECT_EQ(PopDescription(), "n:1");
    EXPECT_EQ(Describe(v), "n:1");
}

TEST_F(CompoundAssignmentTest, ConstantAssignments) {
    VariableRecord* v = SetTo("V$", "w:wide");
    RunNode(Node(Opcode::ASSIGN3, Handle_ASSIGN3, 2.5, "V$"));
    EXPECT_EQ(Describe(v), "n:2.5");

    SetWide(v, "wide");
    static const char kConstant[] = "hello";
    RunNode(Node(Opcode::ASSIGN4, Handle_ASSIGN4, static_cast<double>(reinterpret_cast<uintptr_t>(kConstant)), "V$"));
    EXPECT_EQ(Describe(v), "t:hello");

    SetPushPending = 1;
    RunNode(Node(Opcode::ASSIGN3, Handle_ASSIGN3, -1, "V$"));
    EXPECT_EQ(PopDescription(), "n:-1");
    EXPECT_EQ(StackDepth(), 0);

    PushVariable(v);
    RunNode(Node(Opcode::ASSIGN5, Handle_ASSIGN5, 0, "abc"));
    EXPECT_EQ(Describe(v), "t:abc");
    PushVariable(v);
    RunNode(Node(Opcode::ASSIGN5, Handle_ASSIGN5, 7));
    EXPECT_EQ(Describe(v), "n:7");
    // A target cell without a variable names one by its text.
    PushText("NAMED$");
    RunNode(Node(Opcode::ASSIGN5, Handle_ASSIGN5, 3));
    EXPECT_EQ(Describe(Variable("NAMED$")), "n:3");
    EXPECT_EQ(StackDepth(), 0);
}

class MultipleAssignmentTest : public CompoundAssignmentTest {
protected:
    // Targets T0$.. pushed, then a frame of values, then the count.
    std::vector<VariableRecord*> Assign(int targets, std::initializer_list<const char*> values, double count) {
        std::vector<VariableRecord*> variables;
        for (int i = 0; i < targets; ++i) {
            const std::string name = std::string("T").append(std::to_string(i)).append("$");
            variables.push_back(SetTo(name.c_str(), "t:unset"));
            PushVariable(variables.back());
        }
        OpenFrame();
        for (const char* value : values) Push(value);
        PushNumber(count);
        Builtin_massign();
        return variables;
    }
};

TEST_F(MultipleAssignmentTest, EachTargetTakesTheValueWrittenAtItsPlace) {
    auto v = Assign(3, {"n:1", "t:two", "m:[3]"}, 3);
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Describe(v[0]), "n:1");
    EXPECT_EQ(Describe(v[1]), "t:two");
    EXPECT_EQ(Describe(v[2]), "m:[3]");
}

TEST_F(MultipleAssignmentTest, MissingValuesAreZero) {
    auto v = Assign(3, {"n:1"}, 3);
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Describe(v[0]), "n:1");
    EXPECT_EQ(Describe(v[1]), "n:0");
    EXPECT_EQ(Describe(v[2]), "n:0");
}

TEST_F(MultipleAssignmentTest, SurplusValuesAreDroppedNotTakenAsTargets) {
    Push("t:below");
    auto v = Assign(2, {"n:1", "n:2", "n:3", "n:4"}, 2);
    EXPECT_EQ(Describe(v[0]), "n:1");
    EXPECT_EQ(Describe(v[1]), "n:2");
    ASSERT_EQ(StackDepth(), 1);
    EXPECT_EQ(PopDescription(), "t:below");

    // A count above the targets present: the values without a target go too.
    Push("t:below");
    OpenFrame();  // an outer call's frame: its cells are no targets
    v = Assign(1, {"n:5", "n:6"}, 2);
    EXPECT_EQ(Describe(v[0]), "n:5");
    ASSERT_EQ(StackDepth(), 1);
    EXPECT_EQ(PopDescription(), "t:below");
}

// Values read from variables that are also targets: each target gets the
// value as it was written, although an earlier assignment of the statement
// changed (and freed) what the value pointed at, or changed the kind of the
// variable it was read from.
TEST_F(MultipleAssignmentTest, ValuesReadFromTheTargetsAreTakenAsWritten) {
    const struct {
        const char* first;
        const char* second;
    } cases[] = {
        {"t:x", "t:yy"},
        {"m:[1,{a}]", "m:[3]"},
        {"t:text", "m:[1,2]"},
        {"n:5", "m:[7]"},
        {"m:[7]", "n:5"},
        {"w:wide", "n:1"},
    };
    for (const auto& c : cases) {
        VariableRecord* x = SetTo("X$", c.first);
        VariableRecord* y = SetTo("Y$", c.second);
        PushVariable(x);
        PushVariable(y);
        OpenFrame();
        PushVariable(y);
        PushVariable(x);
        PushNumber(2);
        Builtin_massign();
        EXPECT_EQ(StackDepth(), 0);
        EXPECT_EQ(Describe(x), c.second) << c.first << " " << c.second;
        EXPECT_EQ(Describe(y), c.first) << c.first << " " << c.second;
    }
}

// A value whose text is an address faults when it is assigned; the fault
// unwinds past the handler, which then must hold no heap object. (The first
// run may make lasting records of the context: only the second is counted.)
TEST_F(MultipleAssignmentTest, AFaultingValueLeavesNoHeapObjectBehind) {
    for (int run = 0; run < 2; ++run) {
        for (int i = 0; i < 2; ++i) PushVariable(SetTo(i ? "B$" : "A$", "n:0"));
        OpenFrame();
        PushValue(reinterpret_cast<const char*>(uintptr_t{16}), 0.0, nullptr);
        PushNumber(1);
        PushNumber(2);
        const int64_t live = LiveOperatorNewBlocks();
        const std::optional<platform::FaultReport> fault = platform::RunGuarded([] { Builtin_massign(); });
        const int64_t left = LiveOperatorNewBlocks() - live;
        ASSERT_TRUE(fault.has_value());
        if (run == 1) {
            EXPECT_EQ(left, 0);
        }
        EXPECT_EQ(Describe(Variable("B$")), "n:1");
    }
}

TEST_F(MultipleAssignmentTest, TakesMoreThanTwoHundredFiftyFiveValues) {
    std::vector<VariableRecord*> variables;
    for (int i = 0; i < 300; ++i) {
        const std::string name = std::string("M").append(std::to_string(i)).append("$");
        variables.push_back(SetTo(name.c_str(), "n:0"));
        PushVariable(variables.back());
    }
    OpenFrame();
    for (int i = 0; i < 300; ++i) PushNumber(i * 10);
    PushNumber(300);
    Builtin_massign();
    EXPECT_EQ(StackDepth(), 0);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(Describe(variables[i]), std::string("n:").append(std::to_string(i * 10))) << i;
}

TEST_F(MultipleAssignmentTest, PushResultPushesEveryTargetAndCountBelowOneAssignsNothing) {
    SetPushPending = 1;
    auto v = Assign(2, {"n:1", "t:b"}, 2);
    EXPECT_EQ(SetPushPending, 0);
    ASSERT_EQ(StackDepth(), 2);
    EXPECT_EQ(PopDescription(), "n:1");  // the first target is assigned last
    EXPECT_EQ(PopDescription(), "t:b");

    SetPushPending = 1;
    v = Assign(2, {"n:1", "n:2"}, 0);
    EXPECT_EQ(SetPushPending, 0);
    ASSERT_EQ(StackDepth(), 2);  // the targets stay; the values are gone
    EXPECT_EQ(Describe(v[0]), "t:unset");
    PopDescription();
    PopDescription();
}

}  // namespace
}  // namespace qob::testing
