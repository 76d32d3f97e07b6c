// compiler/front_end/parser_state.h
// The parser's process-wide state (input and output cursors, the class of the
// current token, value bookkeeping, blocks, local names, namespaces, the
// class being defined), the token classifier and the helpers both parsers use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/compile_progress.h"
#include "compiler/front_end/token_list.h"
#include "runtime/registry/keywords.h"

namespace qob {

struct ClassRecord;

// Token codes (the class of the current input token, set by NextToken):
//   10  end of input           'a' "&"                  '$' "=" and the compound assignments
//   '%' "%" (concatenation)    'V' number, text, DEFAULT 'v' "&" + variable name
//   'l' "&" + other name       'n' "::"                 'C' other token starting with ":"
//   ',' ","                    '~' "~"                  'O' name ending in "$" or "%"
//   '+' '-' '*' '/' '(' ')' '@' '[' ']' tokens starting with that character
//   'p' "++"   'm' "--"   'r' "|"   'x' "^"             'F' call, procedure or statement word
//   'A' AND    'R' OR XOR  'N' NOT   'M' MOD   'D' DIV  'L' ASL SHL "<<"   'h' ASR SHR ">>"
//   '1' PROC NPROC   '2' FUNC NFUNC   '3' FORWARD   'k' FORCELINK   '4' OVERRIDE
//   'e' PUBLIC   'E' PRIVATE (both 'F' before "(")      '<' '>' '!' "<="  '.' ">="
//   2   "<>"   '=' "=="   ';' ";"   '`' #CODE   'U' 'u' #NAMESPACE #ENDNAMESPACE
//   'S' 's' #CLASS #ENDCLASS   'o' #OBJECT   'i' #INHERITED
//   'y' a declared class name  ' ' any other word
constexpr char kCodeEnd = 10;
constexpr char kCodeNotEqual = 2;

// The nesting depth at which the parse of a construct gives up.
constexpr int kMaxParseDepth = 64;

// The progress window. The parser shows one text when it starts and then
// reports the count of tokens read against the total; null hooks do nothing.
struct ParserProgressHooks {
    void (*showText)(std::string_view text) = nullptr;
    CompileProgress showPosition = nullptr;  // called with a null text
};
void SetParserProgressHooks(const ParserProgressHooks& hooks);
[[nodiscard]] const ParserProgressHooks& GetParserProgressHooks();

struct LocalName {
    uint32_t hash;
    int depth;
};

// How many of the local names have each hash: asked once per variable use,
// so an open table of power-of-two size rather than a node map. A slot
// keeps its hash when the count drops to 0 (0 counts as absent) until the
// table is cleared or grows.
class LocalNameCounts {
public:
    void Add(uint32_t hash);
    // hash was added before.
    void Remove(uint32_t hash);
    [[nodiscard]] bool Contains(uint32_t hash) const {
        if (slots_.empty()) return false;
        const uint32_t key = hash | 0x80000000u;
        for (size_t at = SlotOf(key); slots_[at].key != 0; at = (at + 1) & (slots_.size() - 1))
            if (slots_[at].key == key) return slots_[at].count > 0;
        return false;
    }
    void Clear();

private:
    struct Slot {
        uint32_t key = 0;  // hash with the top bit set; 0: a free slot
        int count = 0;
    };
    [[nodiscard]] size_t SlotOf(uint32_t key) const { return (key * 0x9E3779B1u >> 8) & (slots_.size() - 1); }
    void Grow();
    std::vector<Slot> slots_;
    size_t used_ = 0;
};

// A "::" and its namespace name, waiting for the operand they qualify.
struct PendingNamespace {
    std::string text;
    int line = 0;
    int column = 0;
    uint32_t hash = 0;
    bool active = false;
};

struct ParserState {
    // Cursors and the current token.
    TokenNode* input = nullptr;   // current input token; null at the end
    size_t inputSize = 0;         // length of the current input token's text
    TokenNode* output = nullptr;  // last token of the postfix stream
    char code = kCodeEnd;
    int builtinIndex = -1;        // FunctionTable index of the current token, -1 when none
    std::string fileName;         // name tokens are emitted and reported under (#CODE changes it)
    bool hasFileName = false;
    const char* internedFileName = nullptr;  // InternName of fileName (null without one): every emitted token's file
    int tokensRead = 0;
    int tokenTotal = 0;
    int64_t nextReport = 0;       // reports of positions before it change nothing
    std::string profileFileFor;    // the file name the profiler's name text was made for
    std::string profileFileShown;

    // Expressions.
    int parseDepth = 0;
    bool depthExceeded = false;   // set once per statement when kMaxParseDepth is reached
    int valueCount = 0;           // values the expression parsed so far leaves on the stack
    bool valueWanted = false;     // expression forms of assignments, increments and calls
    int targetCount = 1;          // targets of a statement assigning several variables
    int argumentDepth = 0;        // open argument lists (InArguments while above 0)
    int parenthesisDepth = 0;     // open "(" of any kind
    bool offsetPointerPassed = false;  // an "&"-indexed form was parsed as an argument
    bool inCaseLabel = false;     // ":" ends a case label value, it is no result count

    // Statements.
    bool childMode = false;
    bool firstOperationDone = false;
    int declarationMode = 0;      // 1 LOCAL/GLOBAL/PUBLIC/PRIVATE, 2 STRUCT
    std::string structName;       // the structure a STRUCT statement declares
    int blockDepth = 0;
    std::string procedureKey;     // the procedure whose body is open
    std::vector<LocalName> localNames;
    LocalNameCounts localNameCounts;

    // Namespaces.
    uint32_t currentNamespace = 0;
    std::vector<uint32_t> namespaceStack;
    PendingNamespace pendingNamespace;

    // Classes.
    ClassRecord* currentClass = nullptr;
    bool classMainOpen = false;      // the class's member code before its first procedure
    bool classFromDottedName = false;  // made current by a "Class.method" definition
    bool inheritedPending = false;   // #INHERITED: the next call goes to the base class
};

// The one parser state of the process (compiles run one at a time); read
// through Parser(), which every parse step calls.
extern ParserState gParserState;
[[nodiscard]] inline ParserState& Parser() { return gParserState; }
// Names the file tokens are emitted and reported under; null: none.
void SetParserFileName(const char* fileName);
// A fresh state for one unit; options, hooks, procedures and classes stay.
void ResetParserState();

// Is the current token in the argument list of a call?
[[nodiscard]] inline bool InArguments() { return Parser().argumentDepth > 0; }

// Moves to the next input token (unless reclassify) and classifies it.
// False at the end of input and once the depth limit has been reached.
bool NextToken(bool reclassify = false);

// The code of a token (token may be null: end of input); builtinIndex
// receives the FunctionTable index when the token names a registered
// built-in or keyword, else -1.
[[nodiscard]] char ClassifyToken(const TokenNode* token, int& builtinIndex);

[[nodiscard]] bool CanStartOperand(char code);

// The current input token's text ("" at the end).
[[nodiscard]] inline std::string_view CurrentText() {
    const TokenNode* token = gParserState.input;
    return token == nullptr ? std::string_view() : std::string_view(token->text, gParserState.inputSize);
}

// Skips the current token (and classifies the next).
void SkipToken();
// After a misplaced token: skips it, but never what ends a statement or a
// list (";", ",", ")", the end).
void SkipUnlessSeparator();
// After a fault inside a parenthesised list: skips to its ")" and over it,
// stopping at a ";" or the end.
void SkipPastClosingParenthesis();

// Appends a token to the postfix stream at source's position (line 0 and
// column 0 without one).
TokenNode* EmitText(std::string_view text, const TokenNode* source);
// The same with source's own text, whose hash it has already. A copy, not
// the input node itself: the stream made of fresh nodes lies in memory in its
// own order, which every later stage's walk of it relies on for speed.
TokenNode* EmitTokenCopy(const TokenNode* source);
// The same with an explicit position.
TokenNode* EmitTextAt(std::string_view text, int line, int column);
// EmitText for a text whose HashName is known already: a keyword's, a
// registered name's.
TokenNode* EmitHashedText(std::string_view text, uint32_t hash, const TokenNode* source);
inline TokenNode* EmitMarker(Keyword keyword, const TokenNode* source) {
    return EmitHashedText(KeywordText(keyword), KeywordHashes[keyword], source);
}
// A constant text with its hash, worked out when the parser is compiled.
struct FixedText {
    std::string_view text;
    uint32_t hash;
    consteval FixedText(std::string_view constant) : text(constant), hash(HashNameConstant(constant)) {}
};
inline TokenNode* EmitFixedText(FixedText fixed, const TokenNode* source) {
    return EmitHashedText(fixed.text, fixed.hash, source);
}
// Inserts a token directly after mark (a token of the current output list)
// and keeps the output cursor on the last token.
TokenNode* InsertTextAfter(TokenNode* mark, std::string_view text, const TokenNode* source);
// Makes sure the stream has a token a later insertion can follow.
TokenNode* OutputMark(const TokenNode* source);
// Emits the pending "::" and namespace name, if any.
void EmitPendingNamespace();
inline void FlushPendingNamespace() {
    if (gParserState.pendingNamespace.active) EmitPendingNamespace();
}
// The namespace a procedure or variable lookup uses now.
[[nodiscard]] uint32_t LookupNamespace();

// Compile messages at the current input token (or at token).
void ReportParserError(std::string_view text);
void ReportParserErrorAt(std::string_view text, const TokenNode* token);
void ReportParserWarningAt(std::string_view text, const TokenNode* token);

// Names declared in the procedure (parameters, SELF$, declarations) and the
// block depth they belong to.
void AddLocalName(std::string_view name);
void AddLocalNameHash(uint32_t hash);
void DropLocalNamesFrom(int depth);
// Warns when a "$" name used in a procedure body is not a local name there;
// hash is the name's HashText.
void CheckLocalName(const TokenNode* token, std::string_view name, uint32_t hash);

// Text helpers.
// Emits the kind byte and name as one token, at source's position.
TokenNode* EmitKindText(unsigned char kind, std::string_view name, const TokenNode* source);
// The text in double quotes, as a text token of the stream.
[[nodiscard]] std::string QuotedText(std::string_view text);
// "__CLASSCODE_<class>", the start of the keys of a class's code.
[[nodiscard]] std::string ClassCodeName(std::string_view className);
[[nodiscard]] bool EndsWithSigil(std::string_view text);
[[nodiscard]] uint32_t HashText(std::string_view text);

// Kind bytes of the postfix stream.
constexpr unsigned char kKindCall = 0xE0;
constexpr unsigned char kKindSelfCall = 0xE2;
constexpr unsigned char kKindInheritedCall = 0xE4;
constexpr unsigned char kKindObjectCall = 0xE5;
constexpr unsigned char kKindTarget = 0xFB;
constexpr unsigned char kKindWorkedOn = 0xF9;

// Stream markers that are registered names rather than keywords.
constexpr std::string_view kSetPushMarker = "__SET_PUSH";
constexpr std::string_view kOffsetVarMarker = "__OFFSETVAR";
constexpr std::string_view kMakeMatrixMarker = "__MAKEMATRIX";
constexpr std::string_view kMultipleAssignMarker = "M=";
constexpr std::string_view kDropStackMarker = "DROPSTACK";
constexpr std::string_view kNoExplicitCheckMarker = "__NOEXPLICITCHECK";
constexpr std::string_view kProfileMarker = "__PROFILE";
constexpr std::string_view kClassMarker = "__CLASS";
constexpr std::string_view kClassTypeMarker = "__CLASS2";
constexpr std::string_view kClassValueMarker = "__CLASS3";
constexpr std::string_view kClassCreateMarker = "__CLASSCREATE";

// Message texts, word for word.
namespace parser_message {
constexpr std::string_view kSyntaxError = "Syntax error";
constexpr std::string_view kOpeningParenthesisMissing = "Opening ( is missing";
constexpr std::string_view kOpeningBracketMissing = "Opening [ is missing";
constexpr std::string_view kExpressionExpected = "Expression expected";
constexpr std::string_view kNumericValueExpected = "Numeric value expected";
constexpr std::string_view kVariableExpected = "Variable expected";
constexpr std::string_view kClosingParenthesisMissing = "Closing ) missing";
constexpr std::string_view kClosingBracketMissing = "Closing ] missing";
constexpr std::string_view kOffsetValueMissing = "Offset value missing";
constexpr std::string_view kColonOrCommaExpected = ": or , expected";
constexpr std::string_view kInvalidInputCount = "Invalid number of input parameters";
constexpr const char* kInvalidOutputCount = "Invalid number of output arguments (%d)";
constexpr const char* kProcNotDefined = "Proc or Func \"%s\" not defined";
constexpr const char* kProcNotFound = "Proc or Func \"%s\" not found";
constexpr std::string_view kOffsetPointerPassed = "Cannot pass offset pointers to proc or func!";
constexpr std::string_view kMissingAssignment = "Missing = ++ -- statement";
constexpr std::string_view kMissingIndexedAssignment = "Missing = [ ++ -- statement";
constexpr std::string_view kNotLocal = "Variable is not defined as local, it might be used as global";
constexpr std::string_view kPrivateCall = "Cannot call a private proc or func outside it's class definition";
constexpr const char* kNoInheritanceFound = "Not inheritance found for class \"%s\"";
constexpr const char* kNoInheritanceDefined = "No inheritance defined for class \"%s\"";
constexpr std::string_view kEmbeddedDefinition = "Func or Proc definition cannot be embedded";
constexpr std::string_view kProcOrFuncExpected = "PROC or FUNC statement expected";
constexpr std::string_view kNFormParameters = "Cannot specify parameters for NPROC or NFUNC";
constexpr std::string_view kProcOutputs = "Cannot assign multiple outputs on a PROC or a NPROC!";
constexpr const char* kDuplicateProc = "Duplicate proc or func \"%s\"";
constexpr const char* kDuplicateForward = "Duplicate forward proc or func \"%s\"";
constexpr const char* kDifferentDeclaration = "Different proc or func \"%s\" declaration";
constexpr std::string_view kCreateMustBeNProc = "Create proc definition must be NPROC";
constexpr std::string_view kCreateMustBePrivate = "Create proc definition must be private";
constexpr std::string_view kDestroyMustBeProc = "Destroy proc definition must be PROC";
constexpr std::string_view kDestroyMustBePrivate = "Destroy proc definition must be private";
constexpr std::string_view kOverrideInClass = "OVERRIDE is not supported in a class definition";
constexpr const char* kClassNotFound = "Class \"%s\" not found";
constexpr const char* kClassNotDefined = "Class \"%s\" not defined";
constexpr std::string_view kClassTypeArray = "Cannot classtype array here";
constexpr std::string_view kDeclarationLevel = "Can only declare variables at func/proc/class main code level!";
// The unit's procedure table has room for kMaxProcedures keys.
constexpr std::string_view kTooManyProcedures = "Too many procs or funcs";
// Reaching the depth limit ends the construct; said aloud, so that a cut
// expression never passes for a unit that compiled.
constexpr std::string_view kTooDeep = "Expression nested too deeply";
}  // namespace parser_message

// printf-style formatting of one message argument.
[[nodiscard]] std::string FormatParserMessage(const char* format, std::string_view argument);
[[nodiscard]] std::string FormatParserMessage(const char* format, int argument);

}  // namespace qob
