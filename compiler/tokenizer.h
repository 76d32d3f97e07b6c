// compiler/tokenizer.h
// The character scanner of the front end: one pass over a source text that
// forms one token at a time, skipping blanks and comments and counting lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    [[nodiscard]] ScannedToken Next(const ScanMode& mode);

    [[nodiscard]] size_t Position() const { return position_; }
    [[nodiscard]] size_t Length() const { return source_.size(); }
    [[nodiscard]] int Line() const { return line_; }
    // #CODE sets the line number and moves the line start.
    void SetLine(int line) { line_ = line; }
    void SetLineStart(size_t position) { lineStart_ = position; }

private:
    [[nodiscard]] bool IsLineEndAt(size_t position) const;
    // The position right after the line end that starts at position.
    [[nodiscard]] size_t LineEndStop(size_t position) const;
    void PassLineEnd();
    void SkipLineComment();
    void SkipBlockComment();
    [[nodiscard]] bool ScanWord(const ScanMode& mode, uint32_t& hash);
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

}  // namespace qob
