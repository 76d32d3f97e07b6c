// compiler/front_end/tokenizer.h
// The character scanner of the front end: one pass over a source text that
// forms one token at a time, skipping blanks and comments and counting lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/data/hash.h"

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

// A token as PassPlainTokens hands it on.
struct PlainToken {
    std::string_view text;  // valid until the next token is formed
    uint32_t hash;          // HashName of text
    int line;
    int column;
    bool word;           // a name, directive or keyword (else an operator, separator or number)
    bool endsWithSigil;  // a word ending in "$" or "%"
};

// Why PassPlainTokens stopped.
enum class PlainStop : uint8_t {
    Due,    // the scan position reached the caller's stop, before a token
    Other,  // a token it does not form, or one the caller refused: Next forms it
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

    // Next in the default mode (outside assembler source) with line ends
    // passed before stopBefore, for a caller to whom nearly every token is a
    // word, separator, operator or number it only appends: forms such tokens
    // in a row and hands each to take(const PlainToken&), which answers
    // whether it took it. Stops at a position at or past stopBefore before
    // skipping to a token (Due), or at a token of another kind or one that
    // take refused (Other): the scanner then stands where it stood before
    // skipping to that token, so that Next forms the same token.
    template <class Take>
    [[nodiscard]] PlainStop PassPlainTokens(size_t stopBefore, Take&& take);

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
    // Skips blanks, comments and the line ends that end before
    // passLineEndsBefore; the lead of the character reached (Invalid at the end).
    [[nodiscard]] Lead SkipToToken(size_t passLineEndsBefore);
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

[[gnu::always_inline]] inline Tokenizer::Lead Tokenizer::SkipToToken(size_t passLineEndsBefore) {
    const size_t length = source_.size();
    const char* const source = source_.data();
    Lead lead = Lead::Invalid;
    // Blanks are passed in a local: a store to position_ per blank would be
    // kept, as the character reads may alias it.
    size_t at = position_;
    while (at < length) {
        lead = kLeads[static_cast<unsigned char>(source[at])];
        if (lead == Lead::Blank) {
            ++at;
            continue;
        }
        position_ = at;
        if (lead == Lead::LineEnd && LineEndStop(at) < passLineEndsBefore) {
            PassLineEnd();
        } else if (lead == Lead::Slash && at + 1 < length && source[at + 1] == '/') {
            SkipLineComment();
        } else if (lead == Lead::Slash && at + 1 < length && source[at + 1] == '*') {
            SkipBlockComment();
        } else {
            return lead;
        }
        at = position_;
    }
    position_ = at;
    return lead;
}

[[gnu::always_inline]] inline ScannedToken Tokenizer::Next(const ScanMode& mode) {
    const size_t length = source_.size();
    const char* const source = source_.data();
    Lead lead = SkipToToken(mode.passLineEndsBefore);

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

template <class Take>
[[gnu::always_inline]] inline PlainStop Tokenizer::PassPlainTokens(size_t stopBefore, Take&& take) {
    static constexpr ScanMode kPlainMode;
    const size_t length = source_.size();
    const char* const source = source_.data();
    for (;;) {
        if (position_ >= stopBefore) return PlainStop::Due;
        const size_t skipStart = position_;
        const int skipLine = line_;
        const size_t skipLineStart = lineStart_;
        const Lead lead = SkipToToken(stopBefore);
        PlainToken token;
        token.line = line_;
        token.column = static_cast<int>(position_ - lineStart_ + 1);
        token.word = lead == Lead::Word;
        token.endsWithSigil = false;
        token.hash = 0;  // 0: hashed below (a text whose hash is 0 is hashed again, alike)
        const size_t start = position_;
        bool asWritten = true;
        if (position_ >= length) {
            // The end: Next reports it.
        } else if (token.word) {
            asWritten = !ScanWord(kPlainMode, token.hash);
            const char last = source[position_ - 1];
            token.endsWithSigil = last == '$' || last == '%';
        } else if (lead == Lead::Separator) {
            ++position_;
            token.hash = static_cast<unsigned char>(source[start]);  // HashName of one character below 0x80
        } else if (lead == Lead::Colon) {
            position_ += position_ + 1 < length && source[position_ + 1] == ':' ? 2 : 1;
        } else if (lead == Lead::Digit) {
            // Plain decimal digits; a number with a point, an exponent or a
            // hexadecimal form is read by ScanNumber.
            size_t at = position_;
            uint32_t h = 0;
            while (at < length && source[at] >= '0' && source[at] <= '9') h = h * 65599u + static_cast<unsigned char>(source[at++]);
            const char after = at < length ? static_cast<char>(source[at] | 0x20) : '\0';
            if (after == '.' || after == 'x' || (after >= 'a' && after <= 'f')) {
                ScanNumber();
            } else {
                position_ = at;
                token.hash = h & 0x7FFFFFFFu;
            }
        } else if (lead == Lead::Operator || lead == Lead::Slash || lead == Lead::Bang) {
            // Before a blank an operator is its one character: no pair or run
            // goes on with a blank.
            const auto next = static_cast<unsigned char>(position_ + 1 < length ? source[position_ + 1] : '\0');
            if (kLeads[next] == Lead::Blank) {
                ++position_;
                token.hash = static_cast<unsigned char>(source[start]);  // below 0x80
            } else {
                ScanError error = ScanError::None;  // only assembler source has operator errors
                asWritten = ScanOperator(kPlainMode, error);
            }
        }
        if (position_ != start) {
            token.text = asWritten ? std::string_view(source + start, position_ - start) : std::string_view(buffer_);
            if (token.hash == 0) token.hash = HashName(token.text.data(), token.text.size());
            if (take(static_cast<const PlainToken&>(token))) continue;
        }
        position_ = skipStart;
        line_ = skipLine;
        lineStart_ = skipLineStart;
        return PlainStop::Other;
    }
}

}  // namespace qob
