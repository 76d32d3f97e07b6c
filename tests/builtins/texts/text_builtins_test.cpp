// tests/builtins/texts/text_builtins_test.cpp
// The text built-ins on 8-bit and UTF-16 operands, numbers as texts, empty
// texts and positions outside the text; the editors on named, protected,
// UTF-16 and number-holding target variables.

#include "builtins/texts/text_builtins.h"

#include <cmath>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"

namespace qob::testing {
namespace {

// One call: the handler, its described arguments (as Push takes them) and
// the described result (as PopDescription gives it).
struct Case {
    void (*handler)();
    std::vector<std::string> arguments;
    std::string expected;
};

// An edit of a variable: its starting value ("t:..", "w:..", "n:.."), the
// handler, the arguments with "V" standing for the variable, and the value
// it must hold afterwards.
struct EditCase {
    std::string initial;
    void (*handler)();
    std::vector<std::string> arguments;
    std::string expected;
};

class TextBuiltinsTest : public OperatorTest {
protected:
    std::string Run(const Case& c) {
        for (const std::string& argument : c.arguments) Push(argument);
        c.handler();
        EXPECT_EQ(StackDepth(), 1) << Label(c.arguments);
        return PopDescription();
    }

    void SetValue(VariableRecord* variable, const std::string& description) {
        const std::string body = description.substr(2);
        if (description[0] == 'w') SetWide(variable, body);
        else if (description[0] == 'n') SetNumber(variable, std::stod(body));
        else SetText(variable, body);
    }

    // Runs an edit on V$ and returns what V$ holds; pushed is set to the
    // number of cells the handler left.
    std::string RunEdit(const EditCase& c, int* pushed) {
        VariableRecord* variable = Variable("V$");
        SetValue(variable, c.initial);
        for (const std::string& argument : c.arguments) {
            if (argument == "V") PushVariable(variable);
            else Push(argument);
        }
        c.handler();
        *pushed = StackDepth();
        while (StackDepth() > 0) PopDescription();
        return Describe(variable);
    }

    static std::string Label(const std::vector<std::string>& arguments) {
        std::string label;
        for (const std::string& argument : arguments) label += "(" + argument + ")";
        return label;
    }
};

TEST_F(TextBuiltinsTest, LengthCountsCharactersOfEitherWidth) {
    const Case cases[] = {
        {Builtin_length, {"t:hello"}, "n:5"},
        {Builtin_length, {"t:"}, "n:0"},
        {Builtin_length, {"w:hello"}, "n:5"},
        {Builtin_length, {"w:"}, "n:0"},
        {Builtin_length, {"n:10"}, "n:2"},
        {Builtin_length, {"n:-2.5"}, "n:4"},
        // 8-bit characters are bytes; a UTF-16 text counts units.
        {Builtin_length, {"t:caf\xc3\xa9"}, "n:5"},
        {Builtin_length, {"w:caf\xc3\xa9"}, "n:4"},
        {Builtin_length, {"m:[1,2]"}, "n:5"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c), c.expected) << Label(c.arguments);
}

TEST_F(TextBuiltinsTest, MidCutsWithinTheText) {
    const Case cases[] = {
        {Builtin_mid, {"t:hello", "n:1", "n:3"}, "t:ell"},
        {Builtin_mid, {"t:hello", "n:3", "n:-1"}, "t:lo"},
        {Builtin_mid, {"t:hello", "n:9", "n:2"}, "t:"},
        {Builtin_mid, {"t:hello", "n:5", "n:1"}, "t:"},
        {Builtin_mid, {"t:hello", "n:-2", "n:2"}, "t:he"},
        {Builtin_mid, {"t:hello", "n:2", "n:100"}, "t:llo"},
        {Builtin_mid, {"t:hello", "n:0", "n:0"}, "t:"},
        // A count below -1: empty while start + count >= 0, the rest below that.
        {Builtin_mid, {"t:hello", "n:4", "n:-3"}, "t:"},
        {Builtin_mid, {"t:hello", "n:1", "n:-3"}, "t:ello"},
        // Extremes do not overflow the sum of start and count.
        {Builtin_mid, {"t:hello", "n:2147483647", "n:2147483647"}, "t:"},
        {Builtin_mid, {"t:hello", "n:1", "n:2147483647"}, "t:ello"},
        {Builtin_mid, {"t:hello", "n:1e300", "n:-1e300"}, "t:"},
        {Builtin_mid, {"t:", "n:0", "n:-1"}, "t:"},
        {Builtin_mid, {"t:hello", "t:1", "t:2"}, "t:el"},
        {Builtin_mid, {"n:12345", "n:1", "n:2"}, "t:23"},
        {Builtin_mid, {"w:h\xc3\xa9llo", "n:1", "n:3"}, "w:\xc3\xa9ll"},
        {Builtin_mid, {"w:hello", "n:3", "n:-1"}, "w:lo"},
        {Builtin_mid, {"w:hello", "n:7", "n:1"}, "w:"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c), c.expected) << Label(c.arguments);
}

TEST_F(TextBuiltinsTest, SearchesFindPositionsAndCounts) {
    const Case cases[] = {
        {Builtin_pos, {"t:lo", "t:hello"}, "n:3"},
        {Builtin_pos, {"t:x", "t:hello"}, "n:-1"},
        {Builtin_pos, {"t:hello!", "t:hello"}, "n:-1"},
        {Builtin_pos, {"t:h", "t:hello"}, "n:0"},
        {Builtin_pos, {"t:o", "t:hello"}, "n:4"},
        {Builtin_pos, {"n:1", "n:213"}, "n:1"},
        // An empty search text: at the end of 8-bit text, at the start of UTF-16 text.
        {Builtin_pos, {"t:", "t:abc"}, "n:3"},
        {Builtin_pos, {"t:", "t:"}, "n:0"},
        {Builtin_pos, {"t:", "w:abc"}, "n:0"},
        // The searched text decides: an 8-bit search is widened, a UTF-16 one narrowed.
        {Builtin_pos, {"t:\xc3\xa9", "w:caf\xc3\xa9!"}, "n:3"},
        {Builtin_pos, {"w:\xc3\xa9", "t:caf\xc3\xa9!"}, "n:3"},
        {Builtin_pos, {"w:lo", "t:hello"}, "n:3"},
        {Builtin_rpos, {"t:l", "t:hello"}, "n:3"},
        {Builtin_rpos, {"t:hel", "t:hello"}, "n:0"},
        {Builtin_rpos, {"t:lo", "t:hello"}, "n:3"},
        {Builtin_rpos, {"t:", "t:abc"}, "n:-1"},
        {Builtin_rpos, {"t:a", "t:"}, "n:-1"},
        {Builtin_rpos, {"t:abcd", "t:abc"}, "n:-1"},
        {Builtin_rpos, {"t:l", "w:hello"}, "n:3"},
        {Builtin_rpos, {"t:", "w:abc"}, "n:-1"},
        {Builtin_cpos, {"t:aa", "t:aaaa"}, "n:2"},
        {Builtin_cpos, {"t:aa", "t:aaa"}, "n:1"},
        {Builtin_cpos, {"t:l", "t:hello"}, "n:2"},
        {Builtin_cpos, {"t:x", "t:hello"}, "n:0"},
        {Builtin_cpos, {"t:", "t:hello"}, "n:0"},
        {Builtin_cpos, {"t:", "w:hello"}, "n:0"},
        {Builtin_cpos, {"t:ab", "w:abxab"}, "n:2"},
        {Builtin_cpos, {"n:1", "n:1010.1"}, "n:3"},
        {Builtin_npos, {"t:l", "t:hello", "n:3"}, "n:3"},
        {Builtin_npos, {"t:l", "t:hello", "n:2"}, "n:2"},
        {Builtin_npos, {"t:h", "t:hello", "n:1"}, "n:-1"},
        {Builtin_npos, {"t:o", "t:hello", "n:4"}, "n:4"},
        {Builtin_npos, {"t:l", "w:hello", "n:3"}, "n:3"},
        // A start outside the text reads nothing outside it.
        {Builtin_npos, {"t:h", "t:hello", "n:-5"}, "n:0"},
        {Builtin_npos, {"t:h", "t:hello", "n:6"}, "n:-1"},
        {Builtin_npos, {"t:", "t:hello", "n:5"}, "n:5"},
        {Builtin_npos, {"t:", "t:hello", "n:2147483647"}, "n:-1"},
        {Builtin_npos, {"t:l", "w:hello", "n:99"}, "n:-1"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c), c.expected) << Label(c.arguments);
}

TEST_F(TextBuiltinsTest, CaseReversalAndCopiesKeepTheWidth) {
    const Case cases[] = {
        {Builtin_upper, {"t:Hello, world 1"}, "t:HELLO, WORLD 1"},
        {Builtin_upper, {"t:"}, "t:"},
        {Builtin_upper, {"n:1.5"}, "t:1.5"},
        // 8-bit text maps ASCII letters only: other bytes belong to longer characters.
        {Builtin_upper, {"t:caf\xc3\xa9"}, "t:CAF\xc3\xa9"},
        {Builtin_upper, {"w:caf\xc3\xa9 \xce\xb1"}, "w:CAF\xc3\x89 \xce\x91"},
        {Builtin_lower, {"t:HeLLo"}, "t:hello"},
        {Builtin_lower, {"w:CAF\xc3\x89"}, "w:caf\xc3\xa9"},
        {Builtin_capitalize, {"t:hELLO wORLD"}, "t:Hello world"},
        {Builtin_capitalize, {"t:1ABC"}, "t:1abc"},
        {Builtin_capitalize, {"t:"}, "t:"},
        {Builtin_capitalize, {"w:hELLO"}, "w:Hello"},
        // Only "a" to "z" is raised, also in UTF-16 text.
        {Builtin_capitalize, {"w:\xc3\x89T\xc3\x89"}, "w:\xc3\xa9t\xc3\xa9"},
        {Builtin_swapcase, {"t:aBc-Z\xc3\xa9"}, "t:AbC-z\xc3\xa9"},
        {Builtin_swapcase, {"w:aBc\xc3\xa9"}, "w:AbC\xc3\xa9"},
        {Builtin_reverse, {"t:abc"}, "t:cba"},
        {Builtin_reverse, {"t:"}, "t:"},
        {Builtin_reverse, {"w:ab\xc3\xa9"}, "w:\xc3\xa9" "ba"},
        {Builtin_reverse, {"n:120"}, "t:021"},
        {Builtin_dup, {"t:abc"}, "t:abc"},
        {Builtin_dup, {"w:abc"}, "w:abc"},
        {Builtin_dup, {"n:7"}, "t:7"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c), c.expected) << Label(c.arguments);
}

TEST_F(TextBuiltinsTest, TrimsAndPadsGiveEightBitTexts) {
    const Case cases[] = {
        {Builtin_trim, {"t:  a b  "}, "t:a b"},
        {Builtin_trim, {"t:   "}, "t:"},
        {Builtin_trim, {"t:"}, "t:"},
        {Builtin_trim, {"t:\ta\t"}, "t:\ta\t"},
        {Builtin_ltrim, {"t:  a  "}, "t:a  "},
        {Builtin_rtrim, {"t:  a  "}, "t:  a"},
        {Builtin_rtrim, {"n:5"}, "t:5"},
        // A UTF-16 argument is worked in units and gives a UTF-16 text.
        {Builtin_trim, {"w:  \xc3\xa9  "}, "w:\xc3\xa9"},
        {Builtin_ltrim, {"w:  a  "}, "w:a  "},
        {Builtin_rtrim, {"w:  a  "}, "w:  a"},
        {Builtin_trim, {"w:   "}, "w:"},
        {Builtin_lpad, {"t:ab", "t:*", "n:3"}, "t:***ab"},
        {Builtin_lpad, {"t:7", "n:48", "n:2"}, "t:007"},
        {Builtin_lpad, {"t:7", "n:47.9999999999999", "n:1"}, "t:07"},
        {Builtin_lpad, {"t:ab", "t:-=", "n:2"}, "t:--ab"},
        {Builtin_lpad, {"n:5", "t:0", "n:2"}, "t:005"},
        {Builtin_lpad, {"t:ab", "t:*", "n:-4"}, "t:ab"},
        {Builtin_lpad, {"w:ab", "w:*", "n:1"}, "w:*ab"},
        {Builtin_lpad, {"w:ab", "t:\xc3\xa9", "n:2"}, "w:\xc3\xa9\xc3\xa9" "ab"},
        {Builtin_rpad, {"w:ab", "n:8364", "n:1"}, "w:ab\xe2\x82\xac"},
        {Builtin_rpad, {"w:ab", "t:", "n:3"}, "w:ab"},
        {Builtin_rpad, {"w:ab", "t:-", "n:2147483647"}, "w:"},
        // An 8-bit text takes the first byte of a non-ASCII fill character.
        {Builtin_rpad, {"t:ab", "t:\xc3\xa9", "n:1"}, "t:ab\xc3"},
        {Builtin_rpad, {"t:ab", "t:-", "n:0"}, "t:ab"},
        {Builtin_rpad, {"t:ab", "t:-", "n:2"}, "t:ab--"},
        {Builtin_rpad, {"t:", "t:.", "t:3"}, "t:..."},
        // A fill of character 0 would hide the text behind it: it adds nothing.
        {Builtin_lpad, {"t:ab", "t:", "n:3"}, "t:ab"},
        {Builtin_lpad, {"t:ab", "n:0", "n:3"}, "t:ab"},
        {Builtin_rpad, {"t:ab", "t:", "n:3"}, "t:ab"},
        // A result too large for a block is the empty text, not a fault.
        {Builtin_rpad, {"t:ab", "t:-", "n:2147483647"}, "t:"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c), c.expected) << Label(c.arguments);
}

TEST_F(TextBuiltinsTest, WrapClampsOrWrapsIntoTheRange) {
    const Case cases[] = {
        {Builtin_wrap, {"n:-3", "n:0", "n:10", "n:0"}, "n:0"},
        {Builtin_wrap, {"n:15", "n:0", "n:10", "n:0"}, "n:10"},
        {Builtin_wrap, {"n:5.5", "n:0", "n:10", "n:0"}, "n:5.5"},
        {Builtin_wrap, {"t:15", "t:0", "t:10", "t:0"}, "n:10"},
        {Builtin_wrap, {"n:12", "n:0", "n:10", "n:1"}, "n:2"},
        {Builtin_wrap, {"n:10", "n:0", "n:10", "n:1"}, "n:10"},
        {Builtin_wrap, {"n:0", "n:0", "n:10", "n:1"}, "n:0"},
        {Builtin_wrap, {"n:12.5", "n:0", "n:10", "n:-1"}, "n:2.5"},
        // Wrapping keeps the result in the range, however far out the value lies.
        {Builtin_wrap, {"n:25", "n:0", "n:10", "n:1"}, "n:5"},
        {Builtin_wrap, {"n:20", "n:0", "n:10", "n:1"}, "n:10"},
        {Builtin_wrap, {"n:1e300", "n:0", "n:10", "n:1"}, "n:10"},
        {Builtin_wrap, {"n:1e15", "n:0", "n:7", "n:1"}, "n:" + FormatValue(std::fmod(1e15 - 7, 7))},
        // Below low the value first becomes high - value, then folds.
        {Builtin_wrap, {"n:-3", "n:0", "n:10", "n:1"}, "n:3"},
        {Builtin_wrap, {"n:-13", "n:0", "n:10", "n:1"}, "n:3"},
        {Builtin_wrap, {"n:-10", "n:0", "n:10", "n:1"}, "n:10"},
        {Builtin_wrap, {"n:0", "n:5", "n:8", "n:1"}, "n:8"},
        {Builtin_wrap, {"n:-1", "n:5", "n:8", "n:1"}, "n:6"},
        {Builtin_wrap, {"n:inf", "n:0", "n:10", "n:1"}, "n:nan"},
        // An empty range has no period: one step, no endless loop.
        {Builtin_wrap, {"n:12", "n:3", "n:3", "n:1"}, "n:12"},
        {Builtin_wrap, {"n:1", "n:3", "n:3", "n:1"}, "n:2"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c), c.expected) << Label(c.arguments);
}

TEST_F(TextBuiltinsTest, EditorsChangeTheTargetVariable) {
    const EditCase cases[] = {
        {"t:hello", Builtin_delete, {"V", "n:1", "n:100"}, "t:h"},
        {"t:hello", Builtin_delete, {"V", "n:1", "n:2"}, "t:hlo"},
        {"t:hello", Builtin_delete, {"V", "n:-3", "n:1"}, "t:ello"},
        {"t:hello", Builtin_delete, {"V", "n:9", "n:1"}, "t:hello"},
        {"t:hello", Builtin_delete, {"V", "n:1", "n:-1"}, "t:hello"},
        {"t:", Builtin_delete, {"V", "n:0", "n:1"}, "t:"},
        {"w:ABCDEF", Builtin_delete, {"V", "n:4", "n:1"}, "w:ABCDF"},
        {"t:hello", Builtin_insert, {"t:XY", "V", "n:99"}, "t:helloXY"},
        {"t:hello", Builtin_insert, {"t:XY", "V", "n:0"}, "t:XYhello"},
        {"t:hello", Builtin_insert, {"t:XY", "V", "n:-4"}, "t:XYhello"},
        {"t:hello", Builtin_insert, {"n:12", "V", "n:2"}, "t:he12llo"},
        {"t:hello", Builtin_insert, {"w:\xc3\xa9", "V", "n:1"}, "t:h\xc3\xa9" "ello"},
        {"w:hello", Builtin_insert, {"t:\xc3\xa9", "V", "n:1"}, "w:h\xc3\xa9" "ello"},
        {"t:aXa", Builtin_replace, {"V", "t:a", "t:aa"}, "t:aaXaa"},
        {"t:banana", Builtin_replace, {"V", "t:an", "t:"}, "t:ba"},
        {"t:abc", Builtin_replace, {"V", "t:x", "t:y"}, "t:abc"},
        {"t:abc", Builtin_replace, {"V", "t:", "t:y"}, "t:abc"},
        {"w:a-b-c", Builtin_replace, {"V", "t:-", "t:\xc3\xa9"}, "w:a\xc3\xa9" "b\xc3\xa9" "c"},
        {"t:ABCDEF", Builtin_change, {"V", "n:1", "n:2", "t:xy"}, "t:AxyDEF"},
        {"w:ABCDEF", Builtin_change, {"V", "n:1", "n:2", "t:xy"}, "w:AxyDEF"},
        {"t:ABC", Builtin_change, {"V", "n:10", "n:2", "t:xy"}, "t:ABCxy"},
        {"t:ABC", Builtin_change, {"V", "n:-1", "n:1", "t:xy"}, "t:xyBC"},
        {"t:ABC", Builtin_change, {"V", "n:1", "n:0", "t:xy"}, "t:AxyBC"},
        {"t:1-2-3", Builtin_strip, {"V", "t:-"}, "t:123"},
        {"t:a1b2c3", Builtin_strip, {"V", "n:123"}, "t:abc"},
        {"t:abc", Builtin_strip, {"V", "t:"}, "t:abc"},
        {"t:aaa", Builtin_strip, {"V", "t:a"}, "t:"},
        {"w:x\xc3\xa9y\xc3\xa9", Builtin_strip, {"V", "t:\xc3\xa9"}, "w:xy"},
        // A number held by the target is edited as its text.
        {"n:12345", Builtin_delete, {"V", "n:1", "n:2"}, "t:145"},
        {"n:2.5", Builtin_replace, {"V", "t:.", "t:,"}, "t:2,5"},
    };
    for (const EditCase& c : cases) {
        int pushed = 0;
        EXPECT_EQ(RunEdit(c, &pushed), c.expected) << c.initial << Label(c.arguments);
        EXPECT_EQ(pushed, c.handler == Builtin_strip ? 1 : 0) << c.initial << Label(c.arguments);
    }
}

TEST_F(TextBuiltinsTest, StripPushesZero) {
    VariableRecord* variable = Variable("S$");
    SetText(variable, "1-2-3");
    PushVariable(variable);
    Push("t:-");
    Builtin_strip();
    EXPECT_EQ(PopDescription(), "n:0");
    EXPECT_EQ(Describe(variable), "t:123");
}

TEST_F(TextBuiltinsTest, ATextArgumentNamesTheTargetVariable) {
    VariableRecord* named = Variable("NAMED$");
    SetText(named, "hello");
    Push("t:named$");
    Push("n:0");
    Push("n:1");
    Builtin_delete();
    EXPECT_EQ(Describe(named), "t:ello");
    // A name not in use makes the variable; it holds the number 0, which is
    // edited as its text like any number.
    Push("t:abc");
    Push("t:fresh$");
    Push("n:0");
    Builtin_insert();
    EXPECT_EQ(Describe(Variable("FRESH$")), "t:abc0");
    EXPECT_EQ(StackDepth(), 0);
}

TEST_F(TextBuiltinsTest, AProtectedTargetKeepsItsText) {
    VariableRecord* variable = Variable("P$");
    SetText(variable, "hello");
    variable->protect = 1;
    PushVariable(variable);
    Push("n:0");
    Push("n:2");
    Builtin_delete();
    Push("t:XY");
    PushVariable(variable);
    Push("n:1");
    Builtin_insert();
    PushVariable(variable);
    Push("t:l");
    Push("t:L");
    Builtin_replace();
    PushVariable(variable);
    Push("n:0");
    Push("n:1");
    Push("t:J");
    Builtin_change();
    PushVariable(variable);
    Push("t:lo");
    Builtin_strip();
    EXPECT_EQ(PopDescription(), "n:0");
    EXPECT_EQ(StackDepth(), 0);
    EXPECT_EQ(Describe(variable), "t:hello");
    EXPECT_EQ(LastError(), "");
    variable->protect = 0;
}

TEST_F(TextBuiltinsTest, TheTargetsOwnTextCanBeAnArgument) {
    // The inserted or searched text is the variable's own: the edit works on
    // a copy, and the old text is freed only after the new one was made.
    VariableRecord* variable = Variable("SELF$");
    SetText(variable, "ab");
    PushVariable(variable);
    PushVariable(variable);
    Push("n:1");
    Builtin_insert();
    EXPECT_EQ(Describe(variable), "t:aabb");
    PushVariable(variable);
    PushVariable(variable);
    Push("t:x");
    Builtin_replace();
    EXPECT_EQ(Describe(variable), "t:x");
}

}  // namespace
}  // namespace qob::testing
