// tests/builtins/regex/regex_engine_test.cpp
// The engine against Python's re where greedy, first-alternative matching
// gives what re gives; the cases where it must differ; every compile error;
// deep nesting, long alternations and random patterns.

#include "builtins/regex/regex_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qob {
namespace {

std::string Narrow(std::u16string_view text) {
    std::string narrow;
    for (char16_t unit : text) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    return narrow;
}

std::unique_ptr<CompiledRegex> Compile(std::u16string_view pattern) {
    std::string error;
    std::unique_ptr<CompiledRegex> regex = RegexCompile(pattern, error);
    EXPECT_TRUE(regex) << Narrow(pattern) << ": " << error;
    return regex;
}

// The end of a match at the start, or -1.
int64_t MatchEnd(CompiledRegex& regex, std::u16string_view subject) {
    if (!RegexMatch(regex, subject)) return -1;
    return static_cast<int64_t>(regex.subMatches[0].start + regex.subMatches[0].length);
}

struct MatchCase {
    std::u16string_view pattern;
    std::u16string_view subject;
    int64_t end;  // -1: no match
    std::vector<std::pair<size_t, size_t>> groups;
};

// Python: m = re.match(pattern, subject); m.end(), [(m.start(i), m.end(i) - m.start(i))].
TEST(RegexEngineTest, MatchAgreesWithPythonRe) {
    const MatchCase cases[] = {
        {u"ab", u"abc", 2, {{0, 2}}},
        {u"ab$", u"abc", -1, {}},
        {u"abc$", u"abc", 3, {{0, 3}}},
        {u"a.c", u"abc", 3, {{0, 3}}},
        {u"a.c", u"aéc", 3, {{0, 3}}},
        {u"[abc]+", u"cabbage", 5, {{0, 5}}},
        {u"[^abc]+", u"xyzab", 3, {{0, 3}}},
        {u"[a-z]+", u"hello World", 5, {{0, 5}}},
        {u"[A-Z][a-z]*", u"Hello world", 5, {{0, 5}}},
        {u"\\d+", u"123abc", 3, {{0, 3}}},
        {u"\\d+", u"abc", -1, {}},
        {u"\\s*x", u"   x", 4, {{0, 4}}},
        {u"\\w+", u"abc123 def", 6, {{0, 6}}},
        {u"x{2,3}", u"xxxx", 3, {{0, 3}}},
        {u"x{2}", u"xxxx", 2, {{0, 2}}},
        {u"x{2,}", u"xxxxx", 5, {{0, 5}}},
        {u"x{3}", u"xx", -1, {}},
        {u"a?b", u"b", 1, {{0, 1}}},
        {u"a?b", u"ab", 2, {{0, 2}}},
        {u"(ab)+", u"ababab", 6, {{0, 6}, {0, 2}}},  // re: {4, 2}, the last repetition
        {u"(a|b)+c", u"abbac", 5, {{0, 5}, {0, 1}}},  // re: {3, 1}
        {u"(a)(b)(c)", u"abc", 3, {{0, 3}, {0, 1}, {1, 1}, {2, 1}}},
        {u"colou?r", u"color", 5, {{0, 5}}},
        {u"colou?r", u"colour", 6, {{0, 6}}},
        {u"^abc", u"abc", 3, {{0, 3}}},
        {u"(x|y|z)+", u"zyxw", 3, {{0, 3}, {0, 1}}},  // re: {2, 1}
        {u"[0-9a-f]+", u"beef42g", 6, {{0, 6}}},
        {u"h.llo", u"héllo", 5, {{0, 5}}},
        {u"\\(a\\)", u"(a)", 3, {{0, 3}}},
        {u"a\\.b", u"a.b", 3, {{0, 3}}},
        {u"a\\.b", u"axb", -1, {}},
        {u"\\D+", u"ab1", 2, {{0, 2}}},
        {u"\\S+", u"ab cd", 2, {{0, 2}}},
        {u"\\W", u"a b", -1, {}},
        {u"", u"", 0, {{0, 0}}},
        {u"", u"abc", 0, {{0, 0}}},
        {u"a*", u"bbb", 0, {{0, 0}}},
        {u"(a*)b", u"aaab", 4, {{0, 4}, {0, 3}}},
        {u"((a)b)c", u"abc", 3, {{0, 3}, {0, 2}, {0, 1}}},
        {u"[]a]+", u"]a]", 3, {{0, 3}}},
        {u"[-a]+", u"-a-", 3, {{0, 3}}},
        {u"[a-]+", u"a-a", 3, {{0, 3}}},
        {u"a|b|c|d", u"d", 1, {{0, 1}}},
        {u"é+", u"ééx", 2, {{0, 2}}},
        {u"[à-ÿ]+", u"éèa", 2, {{0, 2}}},
    };
    for (const MatchCase& c : cases) {
        std::unique_ptr<CompiledRegex> regex = Compile(c.pattern);
        if (!regex) continue;
        EXPECT_EQ(MatchEnd(*regex, c.subject), c.end) << Narrow(c.pattern) << " " << Narrow(c.subject);
        if (c.end < 0) continue;
        ASSERT_EQ(regex->subMatches.size(), c.groups.size()) << Narrow(c.pattern);
        for (size_t i = 0; i < c.groups.size(); ++i) {
            EXPECT_EQ(regex->subMatches[i].start, c.groups[i].first) << Narrow(c.pattern) << " group " << i;
            EXPECT_EQ(regex->subMatches[i].length, c.groups[i].second) << Narrow(c.pattern) << " group " << i;
        }
    }
}

struct SearchCase {
    std::u16string_view pattern;
    std::u16string_view subject;
    int64_t start;  // -1: not found
    int64_t end;
};

// Python: m = re.search(pattern, subject); m.start(), m.end().
TEST(RegexEngineTest, SearchAgreesWithPythonRe) {
    const SearchCase cases[] = {
        {u"b+", u"aabbbc", 2, 5},
        {u"x*", u"", 0, 0},
        {u"\\d+", u"abc 123 def", 4, 7},
        {u"o", u"hello world", 4, 5},
        {u"wor", u"hello world", 6, 9},
        {u"z", u"abc", -1, -1},
        {u"(l+)o", u"hello", 2, 5},
        {u"[0-9]+", u"café 42", 5, 7},
        {u"é", u"café", 3, 4},
        {u"\\s", u"a b", 1, 2},
        {u"c$", u"abc", 2, 3},
        {u"^b", u"abc", -1, -1},
        {u"(ab|cd)e", u"xxcde", 2, 5},
        {u"a{2}", u"abaab", 2, 4},
    };
    for (const SearchCase& c : cases) {
        std::unique_ptr<CompiledRegex> regex = Compile(c.pattern);
        if (!regex) continue;
        size_t start = 99;
        size_t end = 99;
        const bool found = RegexSearch(*regex, c.subject, start, end);
        EXPECT_EQ(found, c.start >= 0) << Narrow(c.pattern) << " " << Narrow(c.subject);
        if (!found || c.start < 0) continue;
        EXPECT_EQ(static_cast<int64_t>(start), c.start) << Narrow(c.pattern);
        EXPECT_EQ(static_cast<int64_t>(end), c.end) << Narrow(c.pattern);
    }
}

// Where matching without backtracking differs from re.
TEST(RegexEngineTest, GreedyMatchingGivesNothingBack) {
    const MatchCase cases[] = {
        {u"a*a", u"aaa", -1, {}},               // re: 3
        {u"(a|ab)c", u"abc", -1, {}},           // re: 3; the first branch that matched wins
        {u"x{2,3}", u"xxxx", 3, {{0, 3}}},
        {u"\\d*1", u"111", -1, {}},             // re: 3
        {u"[a-z]*z", u"abz", -1, {}},           // re: 3
        {u"(a)(b)?", u"a", 1, {{0, 1}, {0, 1}, {0, 0}}},
        {u"(a*)*b", u"b", 1, {{0, 1}, {0, 0}}},  // an empty repetition ends the loop
        {u"((a*)*)*", u"b", 0, {{0, 0}, {0, 0}, {0, 0}}},
        {u"(a*){3}b", u"b", 1, {{0, 1}, {0, 0}}},
        {u"\\a+\\u\\l", u"xyZa", -1, {}},      // \a+ takes Z too
        {u"\\w+", u"caf\u00e9", 3, {{0, 3}}},   // units above 0x7F are in no class
        {u"\\W", u"\u00e9", 1, {{0, 1}}},
        {u"\\L\\U", u"LU", 2, {{0, 2}}},        // not class escapes
        {u"\\x+", u"fF0g", 3, {{0, 3}}},
        {u"\\p\\c\\C", u"!\tA", 3, {{0, 3}}},
        {u"\\n\\t\\r\\f", u"\n\t\r\f", 4, {{0, 4}}},
        {u"[\\d-]+", u"1-2", 3, {{0, 3}}},
        {u"[a-c-e]+", u"b-e", 3, {{0, 3}}},     // a "-" after a range is literal
        {u"[^\\s]+", u"ab c", 2, {{0, 2}}},
        {u"()", u"x", 0, {{0, 0}, {0, 0}}},
        {u"a|", u"x", 0, {{0, 0}}},
        {u"x|^y", u"y", 1, {{0, 1}}},
    };
    for (const MatchCase& c : cases) {
        std::unique_ptr<CompiledRegex> regex = Compile(c.pattern);
        if (!regex) continue;
        EXPECT_EQ(MatchEnd(*regex, c.subject), c.end) << Narrow(c.pattern);
        if (c.end < 0) continue;
        ASSERT_EQ(regex->subMatches.size(), c.groups.size()) << Narrow(c.pattern);
        for (size_t i = 0; i < c.groups.size(); ++i) {
            EXPECT_EQ(regex->subMatches[i].start, c.groups[i].first) << Narrow(c.pattern) << " group " << i;
            EXPECT_EQ(regex->subMatches[i].length, c.groups[i].second) << Narrow(c.pattern) << " group " << i;
        }
    }
    // 70000 repetitions are 70000 modulo 65536.
    const std::u16string many(5000, u'a');
    std::unique_ptr<CompiledRegex> repeat = Compile(u"a{70000}");
    EXPECT_EQ(MatchEnd(*repeat, many), 4464);
    // A maximum of 65535 is no limit: an unlimited repeat stops after 65536.
    const std::u16string more(70000, u'a');
    std::unique_ptr<CompiledRegex> unlimited = Compile(u"a{0,65535}");
    EXPECT_EQ(MatchEnd(*unlimited, more), 65536);
    std::unique_ptr<CompiledRegex> limited = Compile(u"a{0,65534}");
    EXPECT_EQ(MatchEnd(*limited, more), 65534);
    // "$" is never tried after the last unit of a non-empty subject.
    std::unique_ptr<CompiledRegex> end = Compile(u"$");
    size_t start = 0;
    size_t stop = 0;
    EXPECT_FALSE(RegexSearch(*end, u"abc", start, stop));
    EXPECT_TRUE(RegexSearch(*end, u"", start, stop));
}

TEST(RegexEngineTest, CompileErrorsNameTheFault) {
    struct Case {
        std::u16string_view pattern;
        const char* error;
    };
    const Case cases[] = {
        {u"a)", kRegexUnexpectedCharacter},
        {u"a**", kRegexUnexpectedCharacter},
        {u"a+*", kRegexUnexpectedCharacter},
        {u"*a", kRegexUnexpectedCharacter},
        {u"(a", kRegexExpectedParen},
        {u"(", kRegexExpectedParen},
        {u"[abc", kRegexExpectedParen},
        {u"[", kRegexExpectedParen},
        {u"[^", kRegexExpectedParen},
        {u"[a-", kRegexExpectedParen},
        {u"a{2,", kRegexExpectedParen},
        {u"a{2,5", kRegexExpectedParen},
        {u"a{2,x}", kRegexExpectedParen},
        {u"?", kRegexLetterExpected},
        {u"{", kRegexLetterExpected},
        {u"}", kRegexLetterExpected},
        {u"a^", kRegexLetterExpected},
        {u"[.]", kRegexLetterExpected},
        {u"[a|]", kRegexLetterExpected},
        {u"\\", kRegexLetterExpected},
        {u"ab\\", kRegexLetterExpected},
        {u"[a\\", kRegexLetterExpected},
        {u"[a-\\", kRegexLetterExpected},
        {u"a??", kRegexLetterExpected},
        {u"a{", kRegexNumberExpected},
        {u"a{x}", kRegexNumberExpected},
        {u"a{,3}", kRegexNumberExpected},
        {u"a{2", kRegexCommaOrBraceExpected},
        {u"a{2x", kRegexCommaOrBraceExpected},
        {u"a{1234567890}", kRegexOverflow},
        {u"a{1,1234567890}", kRegexOverflow},
        {u"[z-a]", kRegexInvalidRange},
        {u"[\\d-z]", kRegexClassInRange},
    };
    for (const Case& c : cases) {
        std::string error = "unchanged";
        EXPECT_EQ(RegexCompile(c.pattern, error), nullptr) << Narrow(c.pattern);
        EXPECT_EQ(error, c.error) << Narrow(c.pattern);
    }
    // Nine digits are still a count.
    std::unique_ptr<CompiledRegex> nine = Compile(u"a{0,123456789}");
    EXPECT_EQ(MatchEnd(*nine, u"aa"), 2);
}

TEST(RegexEngineTest, DeepNestingIsAnErrorAndLongAlternationsMatch) {
    std::u16string deep(10000, u'(');
    deep += u'a';
    deep += std::u16string(10000, u')');
    std::string error;
    EXPECT_EQ(RegexCompile(deep, error), nullptr);
    EXPECT_EQ(error, kRegexTooDeep);

    std::u16string limit(kMaxRegexNesting, u'(');
    limit += u'a';
    limit += std::u16string(kMaxRegexNesting, u')');
    std::unique_ptr<CompiledRegex> deepest = Compile(limit);
    ASSERT_TRUE(deepest);
    EXPECT_EQ(MatchEnd(*deepest, u"a"), 1);
    EXPECT_EQ(deepest->subMatches[kMaxRegexNesting].length, 1u);

    std::u16string wide;
    for (int i = 0; i < 100000; ++i) {
        if (i) wide += u'|';
        wide += u'x' + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + static_cast<char16_t>(u'0' + i % 10);
    }
    wide += u"|end";
    std::unique_ptr<CompiledRegex> alternation = Compile(wide);
    ASSERT_TRUE(alternation);
    EXPECT_EQ(MatchEnd(*alternation, u"end"), 3);
    EXPECT_EQ(MatchEnd(*alternation, u"xZ9"), 3);
    EXPECT_EQ(MatchEnd(*alternation, u"nothing"), -1);
}

// Random patterns over the syntax's own characters, matched against random
// subjects: AddressSanitizer watches every read of the pattern and subject.
TEST(RegexEngineTest, RandomPatternsRunClean) {
    std::mt19937 random(21);
    const std::u16string alphabet = u"ab()|*+?{}[]^$.\\-,0123dDws]\u00e9";
    int compiled = 0;
    for (int round = 0; round < 20000; ++round) {
        std::u16string pattern;
        const size_t length = random() % 14;
        for (size_t i = 0; i < length; ++i) pattern += alphabet[random() % alphabet.size()];
        std::string error;
        std::unique_ptr<CompiledRegex> regex = RegexCompile(pattern, error);
        if (!regex) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        ++compiled;
        std::u16string subject;
        const size_t subjectLength = random() % 10;
        for (size_t i = 0; i < subjectLength; ++i) subject += u"ab-1 \u00e9"[random() % 6];
        size_t start = 0;
        size_t end = 0;
        if (RegexSearch(*regex, subject, start, end)) {
            EXPECT_LE(start, end);
            EXPECT_LE(end, subject.size());
        }
        for (const RegexSubMatch& sub : regex->subMatches) EXPECT_LE(sub.start + sub.length, subject.size());
    }
    EXPECT_GT(compiled, 1000);
}

}  // namespace
}  // namespace qob
