// builtins/regex/regex_engine.cpp
// Compiling patterns by recursive descent (a chain of "|" in a loop, group
// nesting limited) and matching them greedily without backtracking.
#include "builtins/regex/regex_engine.h"

#include <algorithm>

#include "builtins/texts/character_classes.h"

namespace qob {
namespace {

// A compile error: the text programs read.
struct RegexSyntaxError {
    const char* text;
};

bool IsSpecial(char16_t c) { return std::u16string_view(u"$()*+.?[\\^{|}").find(c) != std::u16string_view::npos; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsClassEscapeLetter(char16_t c) {
    return std::u16string_view(u"aAcCdDlpPsSuwWxX").find(c) != std::u16string_view::npos;
}

// \f \n \r \t; any other escaped unit stands for itself.
char16_t EscapedUnit(char16_t c) {
    switch (c) {
    case u'f': return 12;
    case u'n': return 10;
    case u'r': return 13;
    case u't': return 9;
    default: return c;
    }
}

// The parser: the cursor walks the pattern and never reads past its end.
class RegexParser {
public:
    RegexParser(std::u16string_view pattern, CompiledRegex& regex) : pattern_(pattern), regex_(regex) {}

    void Parse() {
        regex_.nodes.reserve(pattern_.size() * 2 + 8);
        const int32_t root = Add(kRegexGroup, kRegexNone, regex_.groupCount++);
        const int32_t body = ParseAlternation();
        regex_.nodes[static_cast<size_t>(root)].left = body;
        if (!AtEnd()) throw RegexSyntaxError{kRegexUnexpectedCharacter};
    }

private:
    [[nodiscard]] bool AtEnd() const { return at_ >= pattern_.size(); }
    [[nodiscard]] bool At(char16_t c) const { return !AtEnd() && pattern_[at_] == c; }

    int32_t Add(int32_t type, int32_t left = kRegexNone, int32_t right = kRegexNone) {
        regex_.nodes.push_back({type, left, right, kRegexNone});
        return static_cast<int32_t>(regex_.nodes.size() - 1);
    }
    RegexNode& Node(int32_t index) { return regex_.nodes[static_cast<size_t>(index)]; }

    // alternation: alternative {'|' alternative}. "a|b|c" is built as
    // alternation(a, alternation(b, c)), in a loop.
    int32_t ParseAlternation() {
        const int32_t first = ParseAlternative();
        if (!At(u'|')) return first;
        const int32_t head = Add(kRegexAlternation, first);
        int32_t last = head;
        while (At(u'|')) {
            ++at_;
            const int32_t branch = ParseAlternative();
            if (At(u'|')) {
                const int32_t next = Add(kRegexAlternation, branch);
                Node(last).right = next;
                last = next;
            } else {
                Node(last).right = branch;
            }
        }
        return head;
    }

    // alternative: ['^'] {atom [quantifier]}, up to '|', ')', '*', '+' or the end.
    int32_t ParseAlternative() {
        int32_t first = kRegexNone;
        int32_t last = kRegexNone;
        const auto append = [&](int32_t node) {
            if (last == kRegexNone) first = node;
            else Node(last).next = node;
            last = node;
        };
        if (At(u'^')) {
            ++at_;
            append(Add(kRegexStart));
        }
        while (!AtEnd()) {
            const char16_t c = pattern_[at_];
            if (c == u'|' || c == u')' || c == u'*' || c == u'+') break;
            append(ParseQuantified());
        }
        return first;
    }

    // quantified: atom ['*' | '+' | '?' | '{' n [',' [m]] '}']
    int32_t ParseQuantified() {
        const int32_t atom = ParseAtom();
        if (AtEnd()) return atom;
        uint32_t minimum = 0;
        uint32_t maximum = kRegexUnlimited;
        switch (pattern_[at_]) {
        case u'*': ++at_; break;
        case u'+': ++at_; minimum = 1; break;
        case u'?': ++at_; maximum = 1; break;
        case u'{': ++at_; ParseCounts(minimum, maximum); break;
        default: return atom;
        }
        return Add(kRegexRepeat, atom, static_cast<int32_t>(minimum << 16 | maximum));
    }

    void ParseCounts(uint32_t& minimum, uint32_t& maximum) {
        minimum = ParseCount();
        if (At(u'}')) {
            ++at_;
            maximum = minimum;
            return;
        }
        if (!At(u',')) throw RegexSyntaxError{kRegexCommaOrBraceExpected};
        ++at_;
        if (!At(u'}')) {
            if (AtEnd() || !IsDigit(pattern_[at_])) throw RegexSyntaxError{kRegexExpectedParen};
            maximum = ParseCount();
            if (!At(u'}')) throw RegexSyntaxError{kRegexExpectedParen};
        }
        ++at_;
    }

    // A count of at most 9 digits, kept in its low 16 bits.
    uint32_t ParseCount() {
        if (AtEnd() || !IsDigit(pattern_[at_])) throw RegexSyntaxError{kRegexNumberExpected};
        uint32_t value = 0;
        int digits = 0;
        while (!AtEnd() && IsDigit(pattern_[at_])) {
            if (++digits > 9) throw RegexSyntaxError{kRegexOverflow};
            value = value * 10 + static_cast<uint32_t>(pattern_[at_++] - u'0');
        }
        return value & 0xFFFF;
    }

    // atom: '[' class ']' | '.' | '$' | '(' alternation ')' | character
    int32_t ParseAtom() {
        switch (pattern_[at_]) {
        case u'[': ++at_; return ParseClass();
        case u'.': ++at_; return Add(kRegexAny);
        case u'$': ++at_; return Add(kRegexEnd);
        case u'(': ++at_; return ParseGroup();
        default: return ParseCharacter();
        }
    }

    int32_t ParseGroup() {
        if (++depth_ > kMaxRegexNesting) throw RegexSyntaxError{kRegexTooDeep};
        const int32_t group = Add(kRegexGroup, kRegexNone, regex_.groupCount++);
        const int32_t body = ParseAlternation();
        Node(group).left = body;
        if (!At(u')')) throw RegexSyntaxError{kRegexExpectedParen};
        ++at_;
        --depth_;
        return group;
    }

    // character: '\' unit | any unit but the special ones. A class escape
    // gives its own node.
    int32_t ParseCharacter() {
        if (AtEnd()) throw RegexSyntaxError{kRegexLetterExpected};
        const char16_t c = pattern_[at_];
        if (c == u'\\') {
            ++at_;
            if (AtEnd()) throw RegexSyntaxError{kRegexLetterExpected};
            const char16_t escaped = pattern_[at_++];
            if (IsClassEscapeLetter(escaped)) return Add(kRegexClassEscape, escaped);
            return Add(EscapedUnit(escaped));
        }
        if (IsSpecial(c)) throw RegexSyntaxError{kRegexLetterExpected};
        ++at_;
        return Add(c);
    }

    // The last unit of a range: a literal, or '\' and a unit (no class escapes).
    char16_t ParseRangeEnd() {
        const char16_t c = pattern_[at_];
        if (c == u'\\') {
            ++at_;
            if (AtEnd()) throw RegexSyntaxError{kRegexLetterExpected};
            return EscapedUnit(pattern_[at_++]);
        }
        if (IsSpecial(c)) throw RegexSyntaxError{kRegexLetterExpected};
        ++at_;
        return c;
    }

    // class: ['^'] [']' | '-'] {member} ']'. A "-" that starts a member is
    // literal; one between two members makes a range, except before the
    // closing "]", where it is literal too.
    int32_t ParseClass() {
        const bool negated = At(u'^');
        if (negated) ++at_;
        const int32_t node = Add(negated ? kRegexNegatedClass : kRegexClass);
        int32_t last = kRegexNone;
        const auto append = [&](int32_t member) {
            if (last == kRegexNone) Node(node).left = member;
            else Node(last).next = member;
            last = member;
        };
        if (At(u']') || At(u'-')) append(Add(pattern_[at_++]));
        while (true) {
            if (AtEnd()) throw RegexSyntaxError{kRegexExpectedParen};
            if (At(u']')) {
                ++at_;
                return node;
            }
            if (At(u'-')) {
                append(Add(pattern_[at_++]));
                continue;
            }
            const int32_t member = ParseCharacter();
            if (At(u'-') && at_ + 1 < pattern_.size() && pattern_[at_ + 1] != u']') {
                if (Node(member).type == kRegexClassEscape) throw RegexSyntaxError{kRegexClassInRange};
                ++at_;
                const int32_t first = Node(member).type;
                const int32_t lastUnit = ParseRangeEnd();
                if (first > lastUnit) throw RegexSyntaxError{kRegexInvalidRange};
                Node(member) = {kRegexRange, first, lastUnit, kRegexNone};
            }
            append(member);
        }
    }

    std::u16string_view pattern_;
    CompiledRegex& regex_;
    size_t at_ = 0;
    int depth_ = 0;
};

// Class escapes test our own character classes: units from 0x80 belong to
// none (so the capital forms match them).
bool PassesClassEscape(char16_t letter, char16_t unit) {
    const bool negated = letter >= u'A' && letter <= u'Z';
    uint16_t mask = 0;
    switch (negated ? static_cast<char16_t>(letter + 32) : letter) {
    case u'a': mask = kClassAlpha | kClassUpper | kClassLower; break;
    case u'c': mask = kClassControl; break;
    case u'd': mask = kClassDigit; break;
    case u'l': mask = kClassLower; break;
    case u'p': mask = kClassPunct; break;
    case u's': mask = kClassSpace; break;
    case u'u': mask = kClassUpper; break;
    case u'w': mask = kClassAlpha | kClassUpper | kClassLower | kClassDigit; break;
    case u'x': mask = kClassHex; break;
    default: break;
    }
    return (CharacterClass(unit, mask) != 0) != negated;
}

constexpr int64_t kNoMatch = -1;

// One match attempt: positions are units of the subject; kNoMatch fails.
class RegexMatcher {
public:
    RegexMatcher(CompiledRegex& regex, std::u16string_view subject) : regex_(regex), subject_(subject) {}

    int64_t MatchAt(size_t position) {
        std::fill(regex_.subMatches.begin(), regex_.subMatches.end(), RegexSubMatch{0, 0});
        recorded_ = 0;
        return MatchNode(0, static_cast<int64_t>(position));
    }

private:
    const RegexNode& Node(int32_t index) const { return regex_.nodes[static_cast<size_t>(index)]; }

    int64_t MatchChain(int32_t node, int64_t position) {
        for (; node != kRegexNone && position != kNoMatch; node = Node(node).next) position = MatchNode(node, position);
        return position;
    }

    bool InClass(int32_t member, char16_t unit) const {
        for (; member != kRegexNone; member = Node(member).next) {
            const RegexNode& node = Node(member);
            if (node.type == kRegexRange && unit >= node.left && unit <= node.right) return true;
            if (node.type == kRegexClassEscape && PassesClassEscape(static_cast<char16_t>(node.left), unit)) return true;
            if (node.type == unit) return true;
        }
        return false;
    }

    int64_t MatchNode(int32_t index, int64_t position) {
        const RegexNode& node = Node(index);
        const bool atEnd = static_cast<size_t>(position) >= subject_.size();
        const char16_t unit = atEnd ? 0 : subject_[static_cast<size_t>(position)];
        if (node.type <= 0xFFFF) return !atEnd && unit == node.type ? position + 1 : kNoMatch;
        switch (node.type) {
        case kRegexAny: return atEnd ? kNoMatch : position + 1;
        case kRegexClass: return !atEnd && InClass(node.left, unit) ? position + 1 : kNoMatch;
        case kRegexNegatedClass: return !atEnd && !InClass(node.left, unit) ? position + 1 : kNoMatch;
        case kRegexClassEscape:
            return !atEnd && PassesClassEscape(static_cast<char16_t>(node.left), unit) ? position + 1 : kNoMatch;
        case kRegexStart: return position == 0 ? position : kNoMatch;
        case kRegexEnd: return atEnd ? position : kNoMatch;
        case kRegexGroup: return MatchGroup(node, position);
        case kRegexAlternation: return MatchAlternation(index, position);
        case kRegexRepeat: return MatchRepeat(node, position);
        default: return kNoMatch;
        }
    }

    // A group records its start when it is the next group of this attempt
    // (groups are recorded in the order of their "(").
    int64_t MatchGroup(const RegexNode& node, int64_t position) {
        const int32_t number = node.right;
        const bool records = number == recorded_;
        RegexSubMatch& sub = regex_.subMatches[static_cast<size_t>(number)];
        if (records) {
            sub.start = static_cast<size_t>(position);
            ++recorded_;
        }
        const int64_t end = MatchChain(node.left, position);
        if (records) sub.length = end == kNoMatch ? 0 : static_cast<size_t>(end - position);
        if (records && end == kNoMatch) sub.start = 0;
        return end;
    }

    // The first branch that matches wins and is never revisited. A right
    // branch that is itself a lone alternation continues the loop.
    int64_t MatchAlternation(int32_t index, int64_t position) {
        while (true) {
            const RegexNode& node = Node(index);
            const int64_t end = MatchChain(node.left, position);
            if (end != kNoMatch) return end;
            const int32_t right = node.right;
            if (right == kRegexNone || Node(right).type != kRegexAlternation || Node(right).next != kRegexNone)
                return MatchChain(right, position);
            index = right;
        }
    }

    // Greedy, giving nothing back. A repetition that matches without moving
    // would match the same way every time after it, so it stands for all the
    // repetitions still to come.
    int64_t MatchRepeat(const RegexNode& node, int64_t position) {
        const uint32_t minimum = static_cast<uint32_t>(node.right) >> 16;
        const uint32_t maximum = static_cast<uint32_t>(node.right) & 0xFFFF;
        const bool unlimited = maximum == kRegexUnlimited;
        uint32_t count = 0;
        while ((unlimited ? count < 65536 : count < maximum) && static_cast<size_t>(position) < subject_.size()) {
            const int64_t next = MatchNode(node.left, position);
            if (next == kNoMatch) break;
            ++count;
            if (next == position) {
                count = std::max(count, minimum);
                break;
            }
            position = next;
        }
        if (count < minimum || (!unlimited && count > maximum)) return kNoMatch;
        return position;
    }

    CompiledRegex& regex_;
    std::u16string_view subject_;
    int32_t recorded_ = 0;
};

}  // namespace

std::unique_ptr<CompiledRegex> RegexCompile(std::u16string_view pattern, std::string& error) {
    auto regex = std::make_unique<CompiledRegex>();
    try {
        RegexParser(pattern, *regex).Parse();
    } catch (const RegexSyntaxError& syntax) {
        error = syntax.text;
        return nullptr;
    }
    regex->subMatches.assign(static_cast<size_t>(regex->groupCount), RegexSubMatch{0, 0});
    return regex;
}

bool RegexMatch(CompiledRegex& regex, std::u16string_view subject) {
    return RegexMatcher(regex, subject).MatchAt(0) != kNoMatch;
}

bool RegexSearch(CompiledRegex& regex, std::u16string_view subject, size_t& matchStart, size_t& matchEnd) {
    RegexMatcher matcher(regex, subject);
    const size_t attempts = std::max<size_t>(subject.size(), 1);
    // A pattern that starts with a literal can only match where that unit is.
    const int32_t first = regex.nodes[0].left;
    const bool literalFirst = first != kRegexNone && regex.nodes[static_cast<size_t>(first)].type <= 0xFFFF;
    const auto unit = static_cast<char16_t>(literalFirst ? regex.nodes[static_cast<size_t>(first)].type : 0);
    for (size_t start = 0; start < attempts; ++start) {
        if (literalFirst) {
            start = subject.find(unit, start);
            if (start == std::u16string_view::npos) break;
        }
        const int64_t end = matcher.MatchAt(start);
        if (end == kNoMatch) continue;
        matchStart = start;
        matchEnd = static_cast<size_t>(end);
        return true;
    }
    return false;
}

}  // namespace qob
