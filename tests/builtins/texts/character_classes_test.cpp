// tests/builtins/texts/character_classes_test.cpp
// The class tests against <ctype.h> in the "C" locale, over 8-bit, UTF-16 and
// non-ASCII texts; one-character texts; the 8-bit / UTF-16 conversions.

#include "builtins/texts/character_classes.h"

#include <cctype>
#include <clocale>
#include <string>
#include <vector>

#include "builtins/operators/operator_fixture.h"

namespace qob::testing {
namespace {

struct ClassTest {
    const char* name;
    void (*handler)();
    int (*reference)(int);
};

const ClassTest kClassTests[] = {
    {"isalnum", Builtin_isalnum, isalnum}, {"isalpha", Builtin_isalpha, isalpha},
    {"iscntrl", Builtin_iscntrl, iscntrl}, {"isdigit", Builtin_isdigit, isdigit},
    {"islower", Builtin_islower, islower}, {"isprint", Builtin_isprint, isprint},
    {"ispunct", Builtin_ispunct, ispunct}, {"isspace", Builtin_isspace, isspace},
    {"isupper", Builtin_isupper, isupper},
};

class CharacterClassesTest : public OperatorTest {
protected:
    std::string Run(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }
    double RunNumber(void (*handler)(), double code) {
        PushNumber(code);
        handler();
        return PopValue();
    }
};

TEST_F(CharacterClassesTest, NumberFormAgreesWithTheCLocale) {
    std::setlocale(LC_CTYPE, "C");
    for (const ClassTest& test : kClassTests) {
        for (int code = 0; code < 128; ++code) {
            const bool expected = test.reference(code) != 0;
            EXPECT_EQ(RunNumber(test.handler, code) != 0, expected) << test.name << " " << code;
        }
    }
}

TEST_F(CharacterClassesTest, TextFormAgreesWithTheCLocale) {
    std::setlocale(LC_CTYPE, "C");
    for (const ClassTest& test : kClassTests) {
        const bool caseTest = test.handler == Builtin_islower || test.handler == Builtin_isupper;
        for (int code = 1; code < 128; ++code) {
            bool expected = test.reference(code) != 0;
            if (caseTest && !std::isalpha(code)) expected = true;  // non-letters are skipped
            const std::string text(1, static_cast<char>(code));
            EXPECT_EQ(Run(test.handler, {"t:" + text}), expected ? "n:1" : "n:0") << test.name << " " << code;
            EXPECT_EQ(Run(test.handler, {"w:" + text}), expected ? "n:1" : "n:0") << test.name << " w " << code;
        }
        EXPECT_EQ(Run(test.handler, {"t:"}), "n:1") << test.name;
    }
}

TEST_F(CharacterClassesTest, ClassBitsAndTextsOfTheEdgeCases) {
    struct Case {
        void (*handler)();
        std::string argument;
        std::string expected;
    };
    const Case cases[] = {
        {Builtin_isdigit, "t:123", "n:1"},
        {Builtin_isdigit, "t:12a", "n:0"},
        {Builtin_isdigit, "w:123", "n:1"},
        {Builtin_islower, "t:abc1", "n:1"},
        {Builtin_islower, "t:aBc", "n:0"},
        {Builtin_islower, "w:aBc", "n:0"},
        {Builtin_isupper, "t:ABC 1", "n:1"},
        {Builtin_isalpha, "n:49", "n:0"},
        {Builtin_isalpha, "n:65", "n:257"},  // alphabetic | upper
        {Builtin_isalpha, "n:97", "n:258"},
        {Builtin_isspace, "n:32", "n:8"},
        {Builtin_isprint, "n:32", "n:64"},   // the blank bit
        {Builtin_isalnum, "n:70", "n:257"},
        {Builtin_isdigit, "n:48.9", "n:4"},  // truncated to a code
        // Codes outside the table and bytes of multi-byte characters have no class.
        {Builtin_isalpha, "n:321", "n:0"},
        {Builtin_isalpha, "n:-191", "n:0"},
        {Builtin_isprint, "n:200", "n:0"},
        {Builtin_isprint, "n:1e300", "n:0"},
        {Builtin_isalpha, "t:caf\xc3\xa9", "n:0"},
        {Builtin_isalpha, "w:caf\xc3\xa9", "n:0"},
        {Builtin_isprint, "t:\xff", "n:0"},
        // A text of digits is tested as text, not as a code.
        {Builtin_isdigit, "t:65", "n:1"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.handler, {c.argument}), c.expected) << c.argument;
}

TEST_F(CharacterClassesTest, OneCharacterTexts) {
    struct Case {
        void (*handler)();
        std::string code;
        std::string expected;
    };
    const Case cases[] = {
        {Builtin_chr, "n:65", "t:A"},
        {Builtin_chr, "n:0", "t:"},
        {Builtin_chr, "n:321", "t:A"},   // low 8 bits
        {Builtin_chr, "t:66", "t:B"},    // a text converts
        {Builtin_chr, "n:256", "t:"},
        {Builtin_wchr, "n:65", "w:A"},
        {Builtin_wchr, "n:0", "w:"},
        {Builtin_wchr, "n:65536", "w:"},
        // Codes from 128 are the characters asked for, not sign-extended units.
        {Builtin_wchr, "n:233", "w:\xc3\xa9"},
        {Builtin_wchr, "n:8364", "w:\xe2\x82\xac"},
        {Builtin_wchr, "n:65601", "w:A"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.handler, {c.code}), c.expected) << c.code;
    // chr of a code from 128 is that one byte.
    PushNumber(233);
    Builtin_chr();
    EXPECT_EQ(PopDescription(), "t:\xe9");
}

TEST_F(CharacterClassesTest, ConversionsBetweenWidths) {
    const std::string texts[] = {"", "hello", "caf\xc3\xa9 \xf0\x9f\x98\x80", "A", "\xff\xfe"};
    for (const std::string& text : texts) {
        EXPECT_EQ(Run(Builtin_wide, {"t:" + text}), "w:" + text) << text;
        EXPECT_EQ(Run(Builtin_apichar, {"t:" + text}), "w:" + text) << text;
        EXPECT_EQ(Run(Builtin_wide, {"w:" + text}), "w:" + text) << text;
        EXPECT_EQ(Run(Builtin_char, {"w:" + text}), "t:" + text) << text;
        EXPECT_EQ(Run(Builtin_char, {"t:" + text}), "t:" + text) << text;
        EXPECT_EQ(Run(Builtin_iswide, {"t:" + text}), "n:0") << text;
        // A one-letter UTF-16 text reads as the same letter in 8 bits; its mark decides.
        if (!text.empty()) {
            EXPECT_EQ(Run(Builtin_iswide, {"w:" + text}), "n:1") << text;
        }
    }
    // wide, then char, gives the 8-bit text back.
    Push("t:caf\xc3\xa9");
    Builtin_wide();
    Builtin_char();
    EXPECT_EQ(PopDescription(), "t:caf\xc3\xa9");
}

TEST_F(CharacterClassesTest, ConversionsByAddress) {
    // An address names a block: its bytes decide whether it is UTF-16.
    Push("w:Hi there");
    const auto wideAddress = static_cast<double>(reinterpret_cast<uintptr_t>(context->stackTop->text));
    Push("t:plain");
    const auto narrowAddress = static_cast<double>(reinterpret_cast<uintptr_t>(context->stackTop->text));
    EXPECT_EQ(RunNumber(Builtin_iswide, wideAddress), 1.0);
    EXPECT_EQ(RunNumber(Builtin_iswide, narrowAddress), 0.0);
    PushNumber(wideAddress);
    Builtin_char();
    EXPECT_EQ(PopDescription(), "t:Hi there");
    PushNumber(narrowAddress);
    Builtin_wide();
    EXPECT_EQ(PopDescription(), "w:plain");
    PopDescription();
    PopDescription();
}

}  // namespace
}  // namespace qob::testing
