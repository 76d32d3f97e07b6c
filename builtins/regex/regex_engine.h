// builtins/regex/regex_engine.h
// A small regular-expression engine over UTF-16 units: patterns compile to a
// vector of nodes and match greedily, first alternative first, without
// backtracking. Usable without the virtual machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qob {

// Node types: 0 to 0xFFFF is a literal unit; the others are these.
constexpr int32_t kRegexRepeat = 0x10000;        // left: node; right: minimum << 16 | maximum (0xFFFF: none)
constexpr int32_t kRegexAlternation = 0x10001;   // left, right: first nodes of the two branches
constexpr int32_t kRegexGroup = 0x10002;         // left: first node of the body; right: group number
constexpr int32_t kRegexAny = 0x10003;           // "."
constexpr int32_t kRegexClass = 0x10004;         // left: first member
constexpr int32_t kRegexClassEscape = 0x10005;   // left: the escape letter
constexpr int32_t kRegexNegatedClass = 0x10006;  // left: first member
constexpr int32_t kRegexRange = 0x10007;         // left: first unit; right: last unit
constexpr int32_t kRegexEnd = 0x10009;           // "$"
constexpr int32_t kRegexStart = 0x1000A;         // "^"

constexpr int32_t kRegexNone = -1;
constexpr uint16_t kRegexUnlimited = 0xFFFF;

// Groups may nest this deep; a deeper pattern is a compile error, so that
// neither compiling nor matching can exhaust the native stack.
constexpr int kMaxRegexNesting = 256;

// The compile errors, as programs read them.
inline constexpr const char* kRegexUnexpectedCharacter = "unexpected character";
inline constexpr const char* kRegexExpectedParen = "expected paren";
inline constexpr const char* kRegexLetterExpected = "letter expected";
inline constexpr const char* kRegexNumberExpected = "number expected";
inline constexpr const char* kRegexCommaOrBraceExpected = ", or } expected";
inline constexpr const char* kRegexOverflow = "overflow in numeric constant";
inline constexpr const char* kRegexInvalidRange = "invalid range";
inline constexpr const char* kRegexClassInRange = "cannot use character classes in ranges";
inline constexpr const char* kRegexTooDeep = "groups nested too deeply";

struct RegexNode {
    int32_t type;
    int32_t left;
    int32_t right;
    int32_t next;  // the node after this one in its sequence, or kRegexNone
};

// Start and length, in units of the subject, of a group's match.
struct RegexSubMatch {
    size_t start;
    size_t length;
};

struct CompiledRegex {
    std::vector<RegexNode> nodes;  // nodes[0] is group 0, the whole pattern
    int32_t groupCount = 0;        // group 0 included
    std::vector<RegexSubMatch> subMatches;
};

// Compiles a pattern; null with the error's text in error when it is not one.
[[nodiscard]] std::unique_ptr<CompiledRegex> RegexCompile(std::u16string_view pattern, std::string& error);

// Whether the pattern matches at the subject's first unit (the match need not
// reach its end). The sub-matches are those of this attempt.
[[nodiscard]] bool RegexMatch(CompiledRegex& regex, std::u16string_view subject);

// The first position, from the first unit to the last (an empty subject is
// tried once), where the pattern matches: its start and end.
[[nodiscard]] bool RegexSearch(CompiledRegex& regex, std::u16string_view subject, size_t& matchStart,
                               size_t& matchEnd);

}  // namespace qob
