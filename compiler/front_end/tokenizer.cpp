// compiler/front_end/tokenizer.cpp
// The scanner's character tables and its token forms past words and
// separators: operators, numbers, strings, escapes, character codes, comments.
#include "compiler/front_end/tokenizer.h"

#include <array>

#include "platform/c_library.h"
#include "runtime/data/hash.h"
#include "runtime/data/number_text.h"

namespace qob {
namespace {

// Character classes of the C locale: bytes of 0x80 and above are no letters.
constexpr bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
constexpr bool IsLabelChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }
constexpr char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

// A set of characters as a table: one look-up per test instead of a search.
struct ScannerCharSet {
    bool has[256] = {};
    [[nodiscard]] constexpr bool Has(char c) const { return has[static_cast<unsigned char>(c)]; }
};

namespace {

using CharSet = ScannerCharSet;

constexpr CharSet MakeCharSet(std::string_view set) {
    CharSet table;
    for (char c : set) table.has[static_cast<unsigned char>(c)] = true;
    return table;
}
// "\" is a word character, so a path such as lib\util.qob is one word.
constexpr CharSet kWordChars = [] {
    CharSet table = MakeCharSet("_&.\\#");
    for (int c = 0; c < 256; ++c)
        if (IsLetter(static_cast<char>(c)) || IsDigit(static_cast<char>(c))) table.has[c] = true;
    return table;
}();
constexpr CharSet kOperatorStarts = MakeCharSet("+-*/%~<>=!|^@");
constexpr CharSet kSeparators = MakeCharSet("(),;[]");
constexpr CharSet kAssemblerErrors = MakeCharSet("<=>|^@");
constexpr CharSet kArithmetic = MakeCharSet("+-*/");
constexpr CharSet kAfterGreater = MakeCharSet("=>");
constexpr CharSet kAfterLess = MakeCharSet("<=>");
constexpr CharSet kRunOfBars = MakeCharSet("^|&=");
constexpr CharSet kRunOfAts = MakeCharSet("@");
constexpr CharSet kNumberLetters = MakeCharSet("XABCDEFxabcdef");

}  // namespace

constinit const std::array<Tokenizer::Lead, 256> Tokenizer::kLeads = [] {
    std::array<Lead, 256> leads{};
    for (int c = 0; c < 256; ++c)
        if (kWordChars.has[c]) leads[static_cast<size_t>(c)] = Lead::Word;
    for (int c = 0; c < 256; ++c)
        if (kOperatorStarts.has[c]) leads[static_cast<size_t>(c)] = Lead::Operator;
    for (int c = 0; c < 256; ++c)
        if (kSeparators.has[c]) leads[static_cast<size_t>(c)] = Lead::Separator;
    for (char c = '0'; c <= '9'; ++c) leads[static_cast<unsigned char>(c)] = Lead::Digit;
    leads[' '] = leads['\t'] = leads[0] = Lead::Blank;
    leads['\r'] = leads['\n'] = Lead::LineEnd;
    leads['/'] = Lead::Slash;
    leads['!'] = Lead::Bang;
    leads[':'] = Lead::Colon;
    leads['#'] = Lead::Hash;
    leads['"'] = Lead::Quote;
    leads['{'] = Lead::Brace;
    leads['\''] = Lead::SingleQuote;
    leads['&'] = Lead::Ampersand;
    return leads;
}();

namespace {

constexpr std::array<unsigned char, 256> MakeWordFold(bool raise) {
    std::array<unsigned char, 256> fold{};
    for (int c = 0; c < 256; ++c)
        if (kWordChars.has[c])
            fold[static_cast<size_t>(c)] = static_cast<unsigned char>(raise ? ToUpper(static_cast<char>(c)) : c);
    return fold;
}

}  // namespace

constinit const std::array<unsigned char, 256> Tokenizer::kWordRaised = MakeWordFold(true);
constinit const std::array<unsigned char, 256> Tokenizer::kWordAsWritten = MakeWordFold(false);

Tokenizer::Tokenizer(std::string_view source) : source_(source) {
    // Room for the longest token (the whole text plus added quotes), so
    // forming tokens allocates nothing more.
    buffer_.reserve(source.size() + 16);
}

bool Tokenizer::IsLineEndAt(size_t position) const {
    return source_[position] == '\r' || source_[position] == '\n';
}

void Tokenizer::SkipLineComment() {
    while (position_ < source_.size() && !IsLineEndAt(position_)) ++position_;
}

// Block comments do not nest; an unclosed one runs to the end of the text.
void Tokenizer::SkipBlockComment() {
    position_ += 2;
    while (position_ < source_.size()) {
        if (source_[position_] == '*' && position_ + 1 < source_.size() &&
            source_[position_ + 1] == '/') {
            position_ += 2;
            return;
        }
        if (IsLineEndAt(position_))
            PassLineEnd();
        else
            ++position_;
    }
}

// The word from start to the scan position, raised to capitals, as the token's text.
void Tokenizer::RaiseWord(size_t start) {
    buffer_.assign(source_.substr(start, position_ - start));
    for (char& c : buffer_) c = ToUpper(c);
}

// In assembler source ":" and "!" start a label of letters, digits and "_".
void Tokenizer::ScanLabel() {
    buffer_.assign(1, source_[position_++]);
    while (position_ < source_.size() && IsLabelChar(source_[position_])) buffer_ += source_[position_++];
}

bool Tokenizer::ScanOperator(const ScanMode& mode, ScanError& error) {
    const size_t length = source_.size();
    const char c = source_[position_];
    const char next = position_ + 1 < length ? source_[position_ + 1] : '\0';
    if (mode.assembler && kAssemblerErrors.Has(c)) error = ScanError::AssemblerSyntax;
    if (c == '|' || c == '^') return SkipRun(kRunOfBars);
    if (c == '@') return SkipRun(kRunOfAts);

    ++position_;
    const bool pair = ((c == '+' || c == '-') && next == c) ||
                      (kArithmetic.Has(c) && next == '=') ||
                      (c == '>' && kAfterGreater.Has(next)) || (c == '<' && kAfterLess.Has(next)) ||
                      (c == '=' && next == '=') || (c == '!' && next == '=');
    if (!pair) return true;
    ++position_;
    if (c != '!') return true;
    buffer_ = "<>";  // "!=" is read as "<>"
    return false;
}

bool Tokenizer::SkipRun(const ScannerCharSet& set) {
    while (position_ < source_.size() && set.Has(source_[position_])) ++position_;
    return true;
}

// Digits, ".", hexadecimal letters and "x", and a sign right after an
// exponent "e". Once the number starts with 0x, E is a digit and no sign
// joins it (0x1E-5 is 0x1E, -, 5).
void Tokenizer::ScanNumber() {
    const size_t length = source_.size();
    const size_t start = position_;
    const bool hex = source_[position_] == '0' && position_ + 1 < length &&
                     (source_[position_ + 1] == 'x' || source_[position_ + 1] == 'X');
    while (position_ < length) {
        const char c = source_[position_];
        const char previous = position_ > start ? source_[position_ - 1] : '\0';
        const bool sign = (c == '+' || c == '-') && !hex && (previous == 'e' || previous == 'E');
        if (!IsDigit(c) && c != '.' && !kNumberLetters.Has(c) && !sign) return;
        ++position_;
    }
}

// #13#10: each group is a number truncated to one byte; the bytes become a
// double-quoted string.
void Tokenizer::ScanCharCodes() {
    const size_t length = source_.size();
    buffer_.assign(1, '"');
    ++position_;
    for (;;) {
        number_.clear();
        while (position_ < length && IsHexDigit(source_[position_])) number_ += source_[position_++];
        const auto code = platform::TruncateToInteger<int64_t>(StringToNumber(number_.c_str()));
        buffer_ += static_cast<char>(code & 0xFF);
        if (position_ + 1 < length && source_[position_] == '#' && IsDigit(source_[position_ + 1])) {
            ++position_;
            continue;
        }
        break;
    }
    buffer_ += '"';
}

// Reads the escape whose backslash stands at `at`. A backslash before a line
// end or the text's end is dropped; the line end then closes the string.
void Tokenizer::ScanEscape(size_t& at) {
    ++at;
    if (at >= source_.size() || IsLineEndAt(at)) return;
    switch (source_[at]) {
        case 'n': buffer_ += "\r\n"; break;
        case 'l': buffer_ += '\n'; break;
        case 'r': buffer_ += '\r'; break;
        case 't': buffer_ += '\t'; break;
        case '0': buffer_ += '\0'; break;
        case '\\': buffer_ += '\\'; break;
        case '"': buffer_ += '"'; break;
        case '}': buffer_ += '}'; break;
        default: break;  // any other pair is dropped
    }
    ++at;
}

// A double-quoted string ends at its closing quote or at a line end (which
// stays for the caller). In a define value its escapes stay as written, to
// be read when the define is used; an #INCLUDE or #IMPORT operand loses its
// quotes.
ScanError Tokenizer::ScanString(const ScanMode& mode) {
    const size_t length = source_.size();
    const bool bare = mode.bareOperand && !mode.keepWritten;
    buffer_.clear();
    if (!bare) buffer_ += '"';
    ++position_;
    ScanError error = ScanError::MissingQuote;
    while (position_ < length) {
        const char c = source_[position_];
        if (c == '"') {
            ++position_;
            error = ScanError::None;
            break;
        }
        if (IsLineEndAt(position_)) {
            error = ScanError::None;
            break;
        }
        if (c != '\\') {
            buffer_ += c;
            ++position_;
        } else if (mode.keepWritten) {
            buffer_ += c;
            ++position_;
            if (position_ < length && !IsLineEndAt(position_)) buffer_ += source_[position_++];
        } else {
            ScanEscape(position_);
        }
    }
    if (!bare) buffer_ += '"';
    return error;
}

// {...} with nested braces, copied verbatim over any number of lines. The
// outer braces become double quotes; a define name or a directive operand
// drops them, and a define value keeps them, to be read when it is used.
ScanError Tokenizer::ScanBraceString(const ScanMode& mode) {
    const size_t length = source_.size();
    const bool bare = !mode.keepWritten && (mode.bareOperand || mode.bareBraces);
    const char open = mode.keepWritten ? '{' : '"';
    const char close = mode.keepWritten ? '}' : '"';
    buffer_.clear();
    if (!bare) buffer_ += open;
    ++position_;
    int depth = 1;
    ScanError error = ScanError::MissingBrace;
    while (position_ < length) {
        const char c = source_[position_];
        if (c == '}' && --depth == 0) {
            ++position_;
            error = ScanError::None;
            break;
        }
        if (c == '{') ++depth;
        if (IsLineEndAt(position_)) {
            const size_t lineEndStart = position_;
            PassLineEnd();
            buffer_.append(source_.substr(lineEndStart, position_ - lineEndStart));
            continue;
        }
        buffer_ += c;
        ++position_;
    }
    if (!bare) buffer_ += close;
    return error;
}

// 'A' is the character's code; any other single-quoted text, ended by its
// quote or the line end, is a string evaluated at run time.
ScannedKind Tokenizer::ScanSingleQuote(ScanError& error) {
    const size_t length = source_.size();
    if (position_ + 2 < length && source_[position_ + 2] == '\'' && !IsLineEndAt(position_ + 1)) {
        buffer_ = std::to_string(static_cast<unsigned char>(source_[position_ + 1]));
        position_ += 3;
        return ScannedKind::Symbol;
    }
    buffer_.assign(1, '"');
    ++position_;
    error = ScanError::MissingSingleQuote;
    while (position_ < length) {
        const char c = source_[position_];
        if (c == '\'') {
            ++position_;
            error = ScanError::None;
            break;
        }
        if (IsLineEndAt(position_)) {
            error = ScanError::None;
            break;
        }
        if (c != '\\') {
            buffer_ += c;
            ++position_;
        } else {
            ScanEscape(position_);
        }
    }
    buffer_ += '"';
    return ScannedKind::EvalString;
}

}  // namespace qob
