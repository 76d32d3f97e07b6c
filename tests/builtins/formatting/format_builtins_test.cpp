// tests/builtins/formatting/format_builtins_test.cpp
// printf and sprintf on the value stack (frames, formats given as numbers,
// targets by reference, by name, protected and read through themselves), and
// fstr against Python's format(x, ",f") with trailing zeros removed.

#include "builtins/formatting/format_builtins.h"

#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"

namespace qob::testing {
namespace {

class FormatBuiltinsTest : public OperatorTest {
protected:
    std::string RunPrintf(const std::vector<std::string>& arguments) {
        OpenFrame();
        for (const std::string& argument : arguments) Push(argument);
        Builtin_printf();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }
};

TEST_F(FormatBuiltinsTest, PrintfTakesEveryCellOfItsFrame) {
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {{"t:%5.1f|%s|%d", "n:3.14159", "t:ab", "n:7.9"}, "t:  3.1|ab|7"},
        {{"n:12"}, "t:12"},
        {{"n:0.5", "n:1"}, "t:0.5"},
        {{"t:%s|%d", "w:caf\xc3\xa9", "w:42"}, "t:caf\xc3\xa9|42"},  // UTF-16 texts are narrowed
        {{"w:%d%%", "n:5"}, "t:5%%"},
        {{"t:%s", "m:[1,2]"}, "t:[1,2]"},
        {{"t:%d %d", "n:1"}, "t:1 0"},
        {{}, "t:"},
    };
    for (const Case& c : cases) EXPECT_EQ(RunPrintf(c.arguments), c.expected) << c.arguments.size();
}

TEST_F(FormatBuiltinsTest, PrintfLeavesTheCellsBelowItsFrame) {
    Push("n:99");
    OpenFrame();
    for (const char* argument : {"t:%d", "n:1", "n:2", "n:3"}) Push(argument);
    Builtin_printf();
    EXPECT_EQ(StackDepth(), 2);
    EXPECT_EQ(PopDescription(), "t:1");
    EXPECT_EQ(PopDescription(), "n:99");
}

TEST_F(FormatBuiltinsTest, SprintfStoresIntoItsTarget) {
    VariableRecord* target = Variable("V$");
    OpenFrame();
    PushVariable(target);
    Push("t:%03d");
    Push("n:7");
    Builtin_sprintf();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Describe(target), "t:007");

    // The target's own text as format and value: read before it is replaced.
    SetText(target, "ab%s");
    OpenFrame();
    PushVariable(target);
    PushVariable(target);
    PushVariable(target);
    Builtin_sprintf();
    EXPECT_EQ(Describe(target), "t:abab%s");

    // A target named by a text.
    OpenFrame();
    Push("t:W$");
    Push("t:%d-%d");
    Push("n:1");
    Builtin_sprintf();
    EXPECT_EQ(Describe(Variable("W$")), "t:1-0");
}

TEST_F(FormatBuiltinsTest, SprintfLeavesAProtectedTargetAlone) {
    VariableRecord* target = Variable("P$");
    SetText(target, "kept");
    target->protect = 1;
    OpenFrame();
    PushVariable(target);
    Push("t:new");
    Builtin_sprintf();
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Describe(target), "t:kept");
    target->protect = 0;
}

TEST_F(FormatBuiltinsTest, SprintfOfAUtf16TargetMakesIt8Bit) {
    VariableRecord* target = Variable("U$");
    SetWide(target, "wide");
    OpenFrame();
    PushVariable(target);
    Push("t:<%s>");
    PushVariable(target);
    Builtin_sprintf();
    EXPECT_EQ(Describe(target), "t:<wide>");
}

TEST_F(FormatBuiltinsTest, FstrGroupsAsPythonDoes) {
    struct Case {
        std::string argument;
        std::string expected;
    };
    // Python: format(x, ",f").rstrip("0").rstrip(".")
    const Case cases[] = {
        {"n:1234567.5", "t:1,234,567.5"},
        {"n:1234", "t:1,234"},
        {"n:123", "t:123"},
        {"n:-123", "t:-123"},
        {"n:-123456", "t:-123,456"},
        {"n:1e20", "t:100,000,000,000,000,000,000"},
        {"n:0.5", "t:0.5"},
        {"n:-0.25", "t:-0.25"},
        {"n:999", "t:999"},
        {"n:1000", "t:1,000"},
        {"n:-1000", "t:-1,000"},
        {"n:12345678.125", "t:12,345,678.125"},
        {"n:-9876543210.5", "t:-9,876,543,210.5"},
        {"n:1e-7", "t:0"},
        {"n:0", "t:0"},
        {"t:1234.5678", "t:1,234.5678"},
        {"w:1234567", "t:1,234,567"},
    };
    for (const Case& c : cases) {
        Push(c.argument);
        Builtin_fstr();
        EXPECT_EQ(StackDepth(), 1);
        EXPECT_EQ(PopDescription(), c.expected) << c.argument;
    }
}

}  // namespace
}  // namespace qob::testing
