// compiler/tokenizer.h
// The character scanner of the front end: one pass over a source text that
// forms one token at a time, skipping blanks and comments and counting lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/hash.h"

namespace qob {

enum class ScannedKind : uint8_t {
    End,         // the text is used up
    LineEnd,     // CR LF, LF or CR: one line end each, never appended as a token
    Word,        // a name, directive or keyword; upper-cased unless keepCase
    Symbol,      // an operator, separator, number or character constant ('A' is 65)
    String,      // a double-quoted or brace string (form chosen by ScanMode)
    CharCodes,   // "#13#10": text holds the bytes in double quotes
    EvalString,  // a single-quoted text: text holds it in double quotes
    Invalid,     // a character no token starts with; the text ends there
};

enum class ScanError : uint8_t {
    None,
    MissingQuote,        // "Missing closing \""
    MissingBrace,        // "Missing closing }"
    MissingSingleQuote,  // "Missing closing '"
    AssemblerSyntax,     // an operator that assembler source does not allow
};

// What the directive states expect of the next token.
struct ScanMode {
    bool keepCase = false;     // words keep their letter case
    bool keepWritten = false;  // a define value: strings and brace strings stay as written
    bool bareOperand = false;  // #INCLUDE / #IMPORT: strings and brace strings lose their quotes
    bool bareBraces = false;   // a define name: brace strings lose their braces
    bool assembler = false;    // ":" and "!" start labels; some operators are errors
    // A line end that ends before this position is passed like a blank
    // (counted, never returned): for a caller to whom it means nothing there.
    size_t passLineEndsBefore = 0;
};

struct ScannedToken {
    ScannedKind kind = ScannedKind::End;
    // The token text, ended at a zero byte (a "\0" escape ends the C text of
    // the token there). Valid until the next call of Next.
    std::string_view text;
    std::string_view written;  // the source characters of the token
    size_t start = 0;          // position of its first character in the source
    int line = 1;
    int column = 1;
    ScanError error = ScanError::None;
    bool endsWithSigil = false;  // a word ending in "$" or "%" (never define-expanded)
    uint32_t hash = 0;           // HashName of text
};

// A table of characters the scanner tests tokens against (tokenizer.cpp).
struct ScannerCharSet;

class Tokenizer {
public:
    explicit Tokenizer(std::string_view source);

    // Forms the next token. Comments and blanks are skipped; line ends are
    // counted as they are passed, also inside comments and brace strings.
    // Defined below, for the preprocessor's loop to take in: a call per token
    // costs about as much as forming a short token.
    [[nodiscard]] ScannedToken Next(const ScanMode& mode);

    [[nodiscard]] size_t Position() const { return position_; }
    [[nodiscard]] size_t Length() const { return source_.size(); }
    [[nodiscard]] int Line() const { return line_; }
    // #CODE sets the line number and moves the line start.
    void SetLine(int line) { line_ = line; }
    void SetLineStart(size_t position) { lineStart_ = position; }

private:
    // What a token's first character starts; one look-up instead of a chain
    // of tests. Some leads depend on the next character or the mode (Next).
    enum class Lead : uint8_t {
        Invalid,
        Blank,    // blank, tab or zero byte: skipped
        LineEnd,
        Slash,    // an operator, or a comment
        Operator,
        Bang,     // an operator, or a label in assembler source
        Colon,    // ":" or "::", or a label in assembler source
        Separator,
        Digit,
        Hash,     // character codes before a digit, else a word
        Quote,
        Brace,
        SingleQuote,
        Ampersand,        // "&=", else a word
        Word,
        Label,            // set by Next: ":" or "!" in assembler source
        AmpersandEquals,  // set by Next
    };
    static const std::array<Lead, 256> kLeads;
    // For each word character the character a word's text holds (raised to
    // capitals, or as written); zero for any other character.
    static const std::array<unsigned char, 256> kWordRaised;
    static const std::array<unsigned char, 256> kWordAsWritten;

    [[nodiscard]] bool IsLineEndAt(size_t position) const;
    // The position right after the line end that starts at position.
    [[nodiscard]] size_t LineEndStop(size_t position) const;
    void PassLineEnd();
    void SkipLineComment();
    void SkipBlockComment();
    [[nodiscard]] bool ScanWord(const ScanMode& mode, uint32_t& hash);
    void RaiseWord(size_t start);
    void ScanLabel();
    void ScanNumber();
    void ScanCharCodes();
    ScanError ScanString(const ScanMode& mode);
    ScanError ScanBraceString(const ScanMode& mode);
    ScannedKind ScanSingleQuote(ScanError& error);
    void ScanEscape(size_t& at);
    // Both true when the token's text is its source characters as they stand.
    bool ScanOperator(const ScanMode& mode, ScanError& error);
    bool SkipRun(const ScannerCharSet& set);

    std::string_view source_;
    size_t position_ = 0;
    size_t lineStart_ = 0;
    int line_ = 1;
    std::string buffer_;  // the token being formed; reserved once, reused per token
    std::string number_;  // one character-code group
};

// CR LF, LF and CR each end one line.
inline size_t Tokenizer::LineEndStop(size_t position) const {
    const bool pair = source_[position] == '\r' && position + 1 < source_.size() && source_[position + 1] == '\n';
    return position + (pair ? 2 : 1);
}

inline void Tokenizer::PassLineEnd() {
    position_ = LineEndStop(position_);
    ++line_;
    lineStart_ = position_;
}

// A word takes word characters and ends after the first "$" or "%". Only a
// word with small letters to raise is copied (into buffer_): true then. The
// word's text is hashed on the way (HashName of the text the token holds).
inline bool Tokenizer::ScanWord(const ScanMode& mode, uint32_t& hash) {
    const size_t length = source_.size();
    const char* const source = source_.data();
    const size_t start = position_;
    const std::array<unsigned char, 256>& fold = mode.keepCase ? kWordAsWritten : kWordRaised;
    uint32_t h = 0;
    unsigned raised = 0;  // nonzero once a character was changed
    size_t at = start;
    for (; at < length; ++at) {
        const auto c = static_cast<unsigned char>(source[at]);
        const unsigned char folded = fold[c];
        if (folded == 0) break;
        h = h * 65599u + folded;  // word characters are all below 0x80: no sign to extend
        raised |= folded ^ c;
    }
    if (at < length && (source[at] == '$' || source[at] == '%')) h = h * 65599u + static_cast<unsigned char>(source[at++]);
    position_ = at;
    hash = h & 0x7FFFFFFFu;
    if (raised == 0) return false;
    RaiseWord(start);
    return true;
}

[[gnu::always_inline]] inline ScannedToken Tokenizer::Next(const ScanMode& mode) {
    const size_t length = source_.size();
    const char* const source = source_.data();
    Lead lead = Lead::Invalid;
    while (position_ < length) {
        lead = kLeads[static_cast<unsigned char>(source[position_])];
        if (lead == Lead::Blank) {
            ++position_;
        } else if (lead == Lead::LineEnd && LineEndStop(position_) < mode.passLineEndsBefore) {
            PassLineEnd();
        } else if (lead == Lead::Slash && position_ + 1 < length && source[position_ + 1] == '/') {
            SkipLineComment();
        } else if (lead == Lead::Slash && position_ + 1 < length && source[position_ + 1] == '*') {
            SkipBlockComment();
        } else {
            break;
        }
    }

    ScannedToken token;
    token.start = position_;
    token.line = line_;
    token.column = static_cast<int>(position_ - lineStart_ + 1);
    if (position_ >= length) return token;

    token.kind = ScannedKind::Symbol;
    bool asWritten = false;  // the text is the source characters themselves: no copy is formed
    if (lead == Lead::Word) {
        // The usual token first: a name or keyword.
        asWritten = !ScanWord(mode, token.hash);
        token.kind = ScannedKind::Word;
    } else {
        const char next = position_ + 1 < length ? source[position_ + 1] : '\0';
        if (mode.assembler && (lead == Lead::Colon || lead == Lead::Bang)) lead = Lead::Label;
        if (lead == Lead::Hash && !(next >= '0' && next <= '9')) lead = Lead::Word;
        if (lead == Lead::Ampersand) lead = next == '=' ? Lead::AmpersandEquals : Lead::Word;
        switch (lead) {
            case Lead::LineEnd:
                PassLineEnd();
                buffer_.clear();  // a line end's text is empty
                token.kind = ScannedKind::LineEnd;
                break;
            case Lead::Label: ScanLabel(); break;
            case Lead::Operator:
            case Lead::Slash:
            case Lead::Bang: asWritten = ScanOperator(mode, token.error); break;
            case Lead::Separator:
                ++position_;
                asWritten = true;
                break;
            case Lead::Colon:
                position_ += next == ':' ? 2 : 1;
                asWritten = true;
                break;
            case Lead::Digit:
                ScanNumber();
                asWritten = true;
                break;
            case Lead::Hash:
                ScanCharCodes();
                token.kind = ScannedKind::CharCodes;
                break;
            case Lead::Quote:
                token.error = ScanString(mode);
                token.kind = ScannedKind::String;
                break;
            case Lead::Brace:
                token.error = ScanBraceString(mode);
                token.kind = ScannedKind::String;
                break;
            case Lead::SingleQuote: token.kind = ScanSingleQuote(token.error); break;
            case Lead::AmpersandEquals:
                buffer_ = "&=";
                position_ += 2;
                break;
            case Lead::Word:
                asWritten = !ScanWord(mode, token.hash);
                token.kind = ScannedKind::Word;
                break;
            case Lead::Blank:
            case Lead::Ampersand:
            case Lead::Invalid:
                buffer_.assign(1, source[position_]);
                ++position_;
                token.kind = ScannedKind::Invalid;
                break;
        }
    }

    token.written = std::string_view(source + token.start, position_ - token.start);
    std::string_view text = asWritten ? token.written : std::string_view(buffer_);
    if (token.kind == ScannedKind::Word) {
        const char last = source[position_ - 1];
        token.endsWithSigil = last == '$' || last == '%';
        token.text = text;  // hashed by ScanWord on the way
        return token;
    }
    // Only the string forms can hold a zero byte (from the source or a "\0").
    const bool stringForm = token.kind == ScannedKind::String || token.kind == ScannedKind::CharCodes ||
                            token.kind == ScannedKind::EvalString;
    token.text = stringForm ? text.substr(0, text.find('\0')) : text;
    token.hash = HashName(token.text.data(), token.text.size());
    return token;
}

}  // namespace qob
