// tests/compiler/front_end/tokenizer_test.cpp
// Token streams of small sources: texts, lines and columns (alike for CR LF,
// LF and CR line ends), every literal and escape form, comments, and each
// tokenizer error with its position.
#include "compiler/front_end/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/compile_messages.h"
#include "compiler/front_end_support.h"
#include "runtime/data/hash.h"

namespace qob {
namespace {

using testing::WithLineEnds;

class TokenizerTest : public testing::FrontEndTest {};

struct StreamCase {
    const char* source;  // lines end in "\n"; also run with "\r\n" and "\r"
    const char* tokens;
};

constexpr StreamCase kStreams[] = {
    {"a = b + 1;", "A@1:1 =@1:3 B@1:5 +@1:7 1@1:9 ;@1:10"},
    {"x = 1\n  y = 2\n\n z", "X@1:1 =@1:3 1@1:5 Y@2:3 =@2:5 2@2:7 Z@4:2"},
    {"\tPrint(x$, Y%)", "PRINT@1:2 (@1:7 X$@1:8 ,@1:10 Y%@1:12 )@1:14"},
    // Words: "." and "\" are word characters; "$" and "%" end a word.
    {"a.b lib\\util.qob x$y c%d _n #rangecheck &v$ &p",
     "A.B@1:1 LIB\\UTIL.QOB@1:5 X$@1:18 Y@1:20 C%@1:22 D@1:24 _N@1:26 #RANGECHECK@1:29 &V$@1:41 &P@1:45"},
    // Operators.
    {"++ -- += -= *= /= + - * / % ~", "++@1:1 --@1:4 +=@1:7 -=@1:10 *=@1:13 /=@1:16 +@1:19 -@1:21 *@1:23 /@1:25 %@1:27 ~@1:29"},
    {">= >> << <= <> == != < > = !", ">=@1:1 >>@1:4 <<@1:7 <=@1:10 <>@1:13 ==@1:16 <>@1:19 <@1:22 >@1:24 =@1:26 !@1:28"},
    {"| || |= ^ ^= |&= @ @@ &= & ( ) , ; [ ] : ::",
     "|@1:1 ||@1:3 |=@1:6 ^@1:9 ^=@1:11 |&=@1:14 @@1:18 @@@1:20 &=@1:23 &@1:26 (@1:28 )@1:30 ,@1:32 ;@1:34 [@1:36 ]@1:38 :@1:40 ::@1:42"},
    {"a<=b a=>b", "A@1:1 <=@1:2 B@1:4 A@1:6 =@1:7 >@1:8 B@1:9"},
    // Numbers.
    {"1e+5 0x1F 2.5 1.2.3 1e-3 e-3 7x", "1e+5@1:1 0x1F@1:6 2.5@1:11 1.2.3@1:15 1e-3@1:21 E@1:26 -@1:27 3@1:28 7x@1:30"},
    // A hexadecimal number takes no sign after E.
    {"0x1E-5 0X2e+1", "0x1E@1:1 -@1:5 5@1:6 0X2e@1:8 +@1:12 1@1:13"},
    // Strings and their escapes; unknown pairs are dropped.
    {"\"a\\nb\\lc\\rd\\te\\\\f\\\"g\\}h\\q\"", "\"a\\r\\nb\\nc\\rd\\te\\f\"g}h\"@1:1"},
    {"\"\" x", "\"\"@1:1 X@1:4"},
    // "\0" ends the token's text there (its closing quote included).
    {"\"ab\\0cd\" x", "\"ab@1:1 X@1:10"},
    // A line end closes a string without an error.
    {"\"abc\nd", "\"abc\"@1:1 D@2:1"},
    {"\"abc\\\nd", "\"abc\"@1:1 D@2:1"},
    // Brace strings: verbatim, nested, over lines.
    {"{a {b} \\n c} x", "\"a {b} \\n c\"@1:1 X@1:14"},
    // Character codes and character constants.
    {"#13#10 #65#66#67 #9", "\"\\r\\n\"@1:1 \"ABC\"@1:8 \"\\t\"@1:18"},
    {"#321 #1#", "\"A\"@1:1 \"\\x01\"@1:6 #@1:8"},
    {"'A' 'z' '''", "65@1:1 122@1:5 39@1:9"},
    {"'AB' x", "EVALSTRING@1:1 (@1:1 \"AB\"@1:1 )@1:1 X@1:6"},
    {"'a\\tb\nc", "EVALSTRING@1:1 (@1:1 \"a\\tb\"@1:1 )@1:1 C@2:1"},
    // Comments.
    {"a // note \"x\nb /* one\ntwo */ c /**/d", "A@1:1 B@2:1 C@3:8 D@3:14"},
    {"a /* never closed\nb", "A@1:1"},
    {"a/b", "A@1:1 /@1:2 B@1:3"},
    // ELSE IF on one line.
    {"ELSE IF x\nELSE\nIF y\nelse if", "ELSE@1:1 __ELSEIF@1:6 X@1:9 ELSE@2:1 IF@3:1 Y@3:4 ELSE@4:1 __ELSEIF@4:6"},
};

TEST_F(TokenizerTest, TokenStreamsAreAlikeForEveryLineEnd) {
    for (const StreamCase& c : kStreams) {
        for (std::string_view lineEnd : {"\n", "\r\n", "\r"}) {
            const std::string source = WithLineEnds(c.source, lineEnd);
            EXPECT_EQ(Run(source), c.tokens) << c.source << " with " << (lineEnd.size() == 2 ? "CR LF" : lineEnd == "\n" ? "LF" : "CR");
            EXPECT_EQ(Errors(), "") << c.source;
        }
    }
}

// A brace string keeps its line ends as written, and counts them as lines.
TEST_F(TokenizerTest, BraceStringsKeepTheirLineEnds) {
    EXPECT_EQ(Run("{x\r\ny\nz} w"), "\"x\\r\\ny\\nz\"@1:1 W@3:4");
    EXPECT_EQ(Run("{x\ry} w"), "\"x\\ry\"@1:1 W@2:4");
}

TEST_F(TokenizerTest, ZeroBytesAreSkipped) {
    EXPECT_EQ(Run(std::string_view("a\0b\t c", 6)), "A@1:1 B@1:3 C@1:6");
}

TEST_F(TokenizerTest, TokensCarryTheInternedFileName) {
    Run("x", "Dir/Main.QOB");
    ASSERT_NE(tokens, nullptr);
    EXPECT_STREQ(tokens->file, "dir/main.qob");
    Run("x", nullptr);
    EXPECT_EQ(tokens->file, nullptr);
}

struct ErrorCase {
    const char* source;
    const char* tokens;
    const char* errors;
};

constexpr ErrorCase kErrors[] = {
    {"x \"abc", "X@1:1 \"abc\"@1:3", "error: (test.qob) [Missing closing \" at 'X' (1,1)]\n"},
    {"\"abc", "\"abc\"@1:1", "error: (test.qob) [Missing closing \"]\n"},
    {"x {abc\ndef", "X@1:1 \"abc\\ndef\"@1:3", "error: (test.qob) [Missing closing } at 'X' (1,1)]\n"},
    {"x 'abc", "X@1:1 EVALSTRING@1:3 (@1:3 \"abc\"@1:3 )@1:3",
     "error: (test.qob) [Missing closing ' at character position 2]\n"},
    // An invalid character ends the text; the tokens before it stay.
    {"x\ny ` z", "X@1:1 Y@2:1", "error: (test.qob) [Invalid character '`' at character position 4]\n"},
    {"a $b", "A@1:1", "error: (test.qob) [Invalid character '$' at character position 2]\n"},
    {"a }", "A@1:1", "error: (test.qob) [Invalid character '}' at character position 2]\n"},
    {"a \xC3\xA9", "A@1:1", "error: (test.qob) [Invalid character '\xC3' at character position 2]\n"},
};

TEST_F(TokenizerTest, ErrorsAreReportedWithTheirPosition) {
    for (const ErrorCase& c : kErrors) {
        ResetCompileMessages();
        EXPECT_EQ(Run(c.source), c.tokens) << c.source;
        EXPECT_EQ(Errors(), c.errors) << c.source;
    }
}

TEST_F(TokenizerTest, AssemblerModeLabelsAndForbiddenOperators) {
    GetPreprocessorState().assemblerMode = true;
    EXPECT_EQ(Run("mov r0, r1\n:loop !x1 a < b"),
              "MOV@1:1 R0@1:5 ,@1:7 R1@1:9 :loop@2:1 !x1@2:7 A@2:11 <@2:13 B@2:15");
    EXPECT_EQ(Errors(), "error: (test.qob) [Syntax error at 'A' (2,11)]\n");
}

TEST_F(TokenizerTest, TokenizingStopsAtTheErrorLimit) {
    std::string source;
    for (int i = 0; i < 70; ++i) source += "#LINK 2\nX\n";
    const std::string tokens = Run(source);
    EXPECT_EQ(GetCompileMessageState().errorCount, kTokenizerErrorLimit);
    // One X after each of the first 63 errors; the 64th stops the reading.
    size_t count = 0;
    for (size_t at = tokens.find('X'); at != std::string::npos; at = tokens.find('X', at + 1)) ++count;
    EXPECT_EQ(count, 63u);
}

// The token buffer holds the longest token even when quotes are added to a
// text that is one unterminated token.
TEST_F(TokenizerTest, UnterminatedTokensFillingTheTextFit) {
    struct Case {
        const char* source;
        const char* tokens;
    };
    const Case cases[] = {
        {"\"", "\"\"@1:1"}, {"{", "\"\"@1:1"}, {"'", "EVALSTRING@1:1 (@1:1 \"\"@1:1 )@1:1"},
        {"#1", "\"\\x01\"@1:1"}, {"\"abc", "\"abc\"@1:1"}, {"'ab", "EVALSTRING@1:1 (@1:1 \"ab\"@1:1 )@1:1"},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.source), c.tokens) << c.source;
}

TEST(TokenizerScanTest, ScannerReportsKindsAndLineEnds) {
    Tokenizer scanner("a\r\n\"s\"\n#13\r'x'");
    const ScanMode mode;
    const ScannedKind expected[] = {ScannedKind::Word,      ScannedKind::LineEnd, ScannedKind::String,
                                    ScannedKind::LineEnd,   ScannedKind::CharCodes, ScannedKind::LineEnd,
                                    ScannedKind::Symbol,    ScannedKind::End};
    for (ScannedKind kind : expected) EXPECT_EQ(scanner.Next(mode).kind, kind);
    EXPECT_EQ(scanner.Line(), 4);
}

TEST(TokenizerScanTest, ModesChangeStringsAndCase) {
    struct Case {
        ScanMode mode;
        const char* source;
        const char* text;
    };
    ScanMode keep;
    keep.keepCase = true;
    keep.keepWritten = true;
    ScanMode operand;
    operand.bareOperand = true;
    ScanMode defineName;
    defineName.bareBraces = true;
    const Case cases[] = {
        {keep, "Name", "Name"},
        {keep, "\"a\\n\\\"b\"", "\"a\\n\\\"b\""},
        {keep, "{a \"b\"}", "{a \"b\"}"},
        {operand, "\"lib\\\\x\"", "lib\\x"},
        {operand, "{lib/x}", "lib/x"},
        {defineName, "{a b}", "a b"},
        {defineName, "\"a b\"", "\"a b\""},
    };
    for (const Case& c : cases) {
        Tokenizer scanner(c.source);
        EXPECT_EQ(scanner.Next(c.mode).text, c.text) << c.source;
    }
}

// The stream of Next in the default mode with line ends passed before
// `before`: text@line:column of each token, "|" for a line end.
// lastLine, when given, gets the scanner's line at the end.
std::string NextStream(std::string_view source, size_t before, int* lastLine = nullptr) {
    Tokenizer scanner(source);
    ScanMode mode;
    mode.passLineEndsBefore = before;
    std::string stream;
    for (ScannedToken token = scanner.Next(mode); token.kind != ScannedKind::End; token = scanner.Next(mode)) {
        if (!stream.empty()) stream += ' ';
        if (token.kind == ScannedKind::LineEnd)
            stream += '|';
        else
            stream += std::string(token.text) + "@" + std::to_string(token.line) + ":" + std::to_string(token.column);
    }
    if (lastLine) *lastLine = scanner.Line();
    return stream;
}

// Line ends that end before the given position are passed and counted; the
// first one that does not is returned.
TEST(TokenizerScanTest, LineEndsBeforeTheGivenPositionArePassed) {
    // a=0 LF=1 CR LF=2 b=4 CR=5 CR=6 c=7
    const std::string_view source = "a\n\r\nb\r\rc";
    struct Case {
        size_t before;
        const char* stream;  // text@line:column of each token, "|" for a line end
    };
    const Case cases[] = {
        {0, "A@1:1 | | B@3:1 | | C@5:1"},
        {2, "A@1:1 | | B@3:1 | | C@5:1"},
        {3, "A@1:1 | B@3:1 | | C@5:1"},
        {4, "A@1:1 | B@3:1 | | C@5:1"},
        {5, "A@1:1 B@3:1 | | C@5:1"},
        {7, "A@1:1 B@3:1 | C@5:1"},
        {SIZE_MAX, "A@1:1 B@3:1 C@5:1"},
    };
    for (const Case& c : cases) {
        int lastLine = 0;
        EXPECT_EQ(NextStream(source, c.before, &lastLine), c.stream) << c.before;
        EXPECT_EQ(lastLine, 5) << c.before;
    }
}

// The scanner hashes each token's text as it forms it: the hash must be the
// one the text itself gives, in every mode and for every kind of token.
TEST(TokenizerScanTest, TokensCarryTheHashOfTheirText) {
    ScanMode keep;
    keep.keepCase = true;
    keep.keepWritten = true;
    ScanMode operand;
    operand.bareOperand = true;
    ScanMode assembler;
    assembler.assembler = true;
    const ScanMode modes[] = {ScanMode{}, keep, operand, assembler};
    const char* const source =
        "Print a$ Mixed_Case% lib\\util.qob .5 #range &v &= 0x1F 1e-3 ++ != |&= :: :lbl !x ( ; "
        "\"s\\tq\" \"a\\0b\" {br {n}} #65#66 'A' 'ab' ~ \r\n z";
    for (const ScanMode& mode : modes) {
        Tokenizer scanner(source);
        int tokens = 0;
        for (ScannedToken token = scanner.Next(mode); token.kind != ScannedKind::End; token = scanner.Next(mode)) {
            EXPECT_EQ(token.hash, HashName(token.text.data(), token.text.size())) << token.text;
            ++tokens;
        }
        EXPECT_GT(tokens, 25);
    }
}

// The same stream made as the preprocessor makes it: runs of plain tokens,
// and Next for each token a run stops at. Words named in `refused` are
// turned back by the run. plainTokens counts the tokens the runs formed.
std::string PlainRunStream(std::string_view source, size_t before, std::string_view refused, int& plainTokens) {
    Tokenizer scanner(source);
    ScanMode mode;
    mode.passLineEndsBefore = before;
    std::string stream;
    plainTokens = 0;
    const auto take = [&](const PlainToken& token) {
        EXPECT_EQ(token.hash, HashName(token.text.data(), token.text.size())) << token.text;
        if (token.word && refused.find(" " + std::string(token.text) + " ") != std::string_view::npos) return false;
        if (!stream.empty()) stream += ' ';
        stream += std::string(token.text) + "@" + std::to_string(token.line) + ":" + std::to_string(token.column);
        ++plainTokens;
        return true;
    };
    for (;;) {
        const size_t start = scanner.Position();
        if (scanner.PassPlainTokens(before, take) == PlainStop::Due && scanner.Position() != start) continue;
        const ScannedToken token = scanner.Next(mode);
        if (token.kind == ScannedKind::End) break;
        if (!stream.empty()) stream += ' ';
        if (token.kind == ScannedKind::LineEnd)
            stream += '|';
        else
            stream += std::string(token.text) + "@" + std::to_string(token.line) + ":" + std::to_string(token.column);
    }
    return stream;
}

// Runs of plain tokens, stopped by a stop position, a token of another kind
// or a refused word, give the very stream Next gives, positions included.
TEST(TokenizerScanTest, PlainRunsFormWhatNextForms) {
    struct Case {
        const char* source;
        int plainTokens;  // formed by the runs with no stop and nothing refused
    };
    const Case cases[] = {
        {"a = b + 1;\n  Print(x$, y%)\r\n", 12},
        {"x=1 y==2 z!=3 a<=b c<>d e/f g|h i||j k@l m^n o- p+", 34},
        {"12 0 007 1.5 1e+5 1e-3 0x1F 0X2e+1 7x 9a 4.", 13},
        {"a: b:: c ( d ) [ e ] ; ,", 13},
        {"a // note\nb /* one\ntwo */ c /**/d\n\n", 4},
        {"x \"str\" y {br\nace} z 'q' 'ab' #13#10 w", 4},
        {"lower Mixed_Case #range &v &= a.b lib\\u", 4},
        {"a\r\rb\r\nc", 3},
        {"  ", 0},
    };
    for (const Case& c : cases) {
        const std::string_view source = c.source;
        std::vector<size_t> stops = {SIZE_MAX};
        for (size_t stop = 0; stop <= source.size() + 1; ++stop) stops.push_back(stop);
        for (size_t stop : stops) {
            for (std::string_view refused : {"", " A B X LOWER "}) {
                int plainTokens = 0;
                EXPECT_EQ(PlainRunStream(source, stop, refused, plainTokens), NextStream(source, stop))
                    << source << " stop " << stop << " refused" << refused;
                if (stop == SIZE_MAX && refused.empty()) {
                    EXPECT_EQ(plainTokens, c.plainTokens) << source;
                }
            }
        }
    }
}

}  // namespace
}  // namespace qob
