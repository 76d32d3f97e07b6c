// compiler/front_end/expression_parser.cpp
// The precedence chain, the operand forms, variables with their assignment
// forms, calls, and argument, matrix and index lists.
#include "compiler/front_end/expression_parser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "compiler/class_list.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/front_end/statement_parser.h"
#include "compiler/front_end/token_list.h"
#include "compiler/procedure_table.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

namespace msg = parser_message;

std::string_view Marker(Keyword keyword) { return KeywordText(keyword); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Errors reported so far: a count check after a part that already failed
// would only repeat the fault.
int ErrorsSoFar() { return GetCompileMessageState().errorCount; }

void ReportOutputCount(int values) { ReportParserError(FormatParserMessage(msg::kInvalidOutputCount, values)); }

// --- precedence chain -----------------------------------------------------------
// Four levels, loosest first: compare, add, mul, div. Each level parses its
// left operand with the next tighter level and then, while its operators
// follow, the right operand, and emits the operator after both. Every level
// is left-associative; NOT and "~" are prefix operators that come with an
// empty left operand.

constexpr int kCompareLevel = 0;
constexpr int kDivLevel = 3;
constexpr int kNoLevel = -1;

// The level of each operator code; kNoLevel for any other code.
constexpr auto kOperatorLevels = [] {
    std::array<signed char, 256> levels{};
    levels.fill(kNoLevel);
    auto set = [&](std::string_view codes, int level) {
        for (char code : codes) levels[static_cast<unsigned char>(code)] = static_cast<signed char>(level);
    };
    set("/DN%~", kDivLevel);                      // "/" DIV NOT "%" "~"
    set("*M", kDivLevel - 1);                     // "*" MOD
    set("+-rxa", kCompareLevel + 1);              // "+" "-" "|" "^" "&"
    set("<!=.>hL", kCompareLevel);                // comparisons and shifts
    levels[kCodeNotEqual] = kCompareLevel;        // "<>"
    return levels;
}();

int OperatorLevel(char code) { return kOperatorLevels[static_cast<unsigned char>(code)]; }

// Parses the chain from level on. A level's left operand is the whole chain
// of the tighter levels, so the left spine is one primary followed by the
// operator loops of the tighter levels first: one call per operand instead
// of one per level.
//
// The levels are taken tightest first. After an operator of a level, its
// right operand has taken every tighter operator, so the operator that
// follows is of the same or a looser level: the loop goes straight to it.
//
// Most operands are followed by no operator of the level: the loop, with the
// frame it needs, is a function of its own.
void ParseOperators(int level);

void ParseChain(int level) {
    ParserState& p = Parser();
    ParseStatement();
    if (OperatorLevel(p.code) >= level && !p.depthExceeded) ParseOperators(level);
}

[[gnu::noinline]] void ParseOperators(int level) {
    ParserState& p = Parser();
    for (int current = OperatorLevel(p.code); current >= level && !p.depthExceeded; current = OperatorLevel(p.code)) {
        TokenNode* operatorToken = p.input;
        const bool prefix = p.code == 'N' || p.code == '~';
        NextToken();
        if (current == kDivLevel)
            ParseStatement();
        else
            ParseChain(current + 1);
        EmitTokenCopy(operatorToken);
        if (!prefix) --p.valueCount;
    }
}

// --- calls ------------------------------------------------------------------------

struct CallArguments {
    int count = 0;
    bool hadList = false;
    bool offsetPointer = false;  // an "&"-indexed form was among them
};

CallArguments ParseCallArguments() {
    ParserState& p = Parser();
    CallArguments arguments;
    if (p.code != '(') return arguments;
    const int savedCount = p.valueCount;
    const bool savedOffset = std::exchange(p.offsetPointerPassed, false);
    arguments.hadList = true;
    arguments.count = ParseArgumentList();
    arguments.offsetPointer = p.offsetPointerPassed;
    p.offsetPointerPassed = savedOffset;
    p.valueCount = savedCount;
    return arguments;
}

constexpr long long kMaxResultCount = 255;

// result-count: [':' number]   -1 when none is written.
int ParseResultCount() {
    ParserState& p = Parser();
    if (p.code != 'C' || CurrentText() != ":" || p.inCaseLabel) return -1;
    NextToken();
    if (p.code != 'V' || !IsDigit(CurrentText()[0])) {
        ReportParserError(msg::kNumericValueExpected);
        SkipUnlessSeparator();
        return -1;
    }
    // A procedure declares at most 255 results (they are counted in a byte),
    // so a larger count names no procedure; taking it as it stands would
    // make the statement drop that many values.
    const std::string digits(CurrentText());
    const long long count = digits.size() > 9 ? -1 : std::atoll(digits.c_str());
    NextToken();
    if (count < 0 || count > kMaxResultCount) {
        ReportParserError(FormatParserMessage(msg::kInvalidOutputCount, count < 0 ? INT32_MAX : static_cast<int>(count)));
        return -1;
    }
    return static_cast<int>(count);
}

std::string MakeKey(std::string_view name, int inputs, int outputs) {
    return std::string(name) + "(" + std::to_string(inputs) + "," + std::to_string(outputs) + ")";
}

// The pending "::" namespace, for the call it qualifies. An inactive one
// stays as it is: no one reads its fields, and most calls have none.
PendingNamespace TakePendingNamespace() {
    PendingNamespace& pending = Parser().pendingNamespace;
    if (!pending.active) return {};
    return std::exchange(pending, PendingNamespace{});
}

void EmitNamespaceOf(const PendingNamespace& scope) {
    if (!scope.active || scope.text.empty()) return;
    EmitTextAt(Marker(Keyword::ScopeSeparator), scope.line, scope.column);
    EmitTextAt(scope.text, scope.line, scope.column);
}

// Finds the procedure a call of name with argumentCount arguments means:
// a value call tries the results wanted first, then none; a statement call
// none first, then one (or the results written after ":").
struct FoundProcedure {
    int index = -1;
    unsigned char kind = kKindCall;
    bool privateInBase = false;
};

FoundProcedure FindCalledProcedure(std::string_view name, int argumentCount, bool valueCall, int wanted,
                                   bool inherited, uint32_t scope) {
    ParserState& p = Parser();
    FoundProcedure found;
    const int resultForms[2] = {valueCall ? wanted : 0, valueCall ? 0 : std::max(wanted, 1)};
    if (p.currentClass != nullptr && name.find('.') == std::string_view::npos) {
        ClassRecord* searched = p.currentClass;
        if (inherited) searched = searched->baseHash != 0 ? FindUnitClass(searched->baseHash) : nullptr;
        for (int results : resultForms) {
            if (searched == nullptr) break;
            bool privateSkipped = false;
            found.index = FindClassCodeInBases(searched, nullptr, MakeKey(name, argumentCount, results), scope,
                                               false, inherited, &privateSkipped);
            if (found.index >= 0) {
                found.kind = inherited ? kKindInheritedCall : kKindSelfCall;
                return found;
            }
            // A private method of a base class exists but may not be called.
            found.privateInBase = found.privateInBase || privateSkipped;
        }
        if (inherited) return found;
    }
    for (int results : resultForms) {
        found.index = FindUnitProcedure(MakeKey(name, argumentCount, results), scope, false, false, false);
        if (found.index >= 0) return found;
    }
    return found;
}

// An object method bound at run time: __SAVESP2 before the arguments, then
// 0xE5 "<object>$.<method>(<arguments>,<value>);<targets>"; a name that
// starts with "." calls the object value on the stack ("STACK").
void EmitLateBoundCall(TokenNode* nameToken, std::string_view name, TokenNode* mark,
                       const CallArguments& arguments, bool valueCall, int explicitResults,
                       TokenNode* objectSide, const PendingNamespace& scope) {
    ParserState& p = Parser();
    const size_t dot = name.find('.');
    std::string object = dot == 0 ? std::string("STACK") : std::string(name.substr(0, dot)) + "$";
    std::string method(name.substr(dot + 1));
    if (method.empty()) {
        ReportParserError(msg::kSyntaxError);
        FreeTokenList(objectSide);
        return;
    }
    const int slots = ResultSlots();
    std::string text = object + "." + MakeKey(method, arguments.count, valueCall ? 1 : 0) + ";" + std::to_string(slots);
    InsertTextAfter(mark, Marker(Keyword::SaveSp2), nameToken);
    EmitSideList(objectSide);
    EmitNamespaceOf(scope);
    EmitKindText(kKindObjectCall, text, nameToken);
    if (valueCall) p.valueCount += explicitResults >= 0 ? explicitResults : slots;
}

void ParseProcedureCall(TokenNode* nameToken, TokenNode* objectSide) {
    ParserState& p = Parser();
    const std::string name = nameToken->text;
    const bool inherited = std::exchange(p.inheritedPending, false);
    const PendingNamespace scope = TakePendingNamespace();
    const uint32_t scopeHash = scope.active ? scope.hash : p.currentNamespace;
    NextToken();
    TokenNode* mark = OutputMark(nameToken);
    const CallArguments arguments = ParseCallArguments();
    const int explicitResults = ParseResultCount();
    const bool valueCall = p.valueWanted || explicitResults > 0;
    const int wanted = explicitResults >= 0 ? explicitResults : (p.valueWanted ? ResultSlots() : 0);

    if (name[0] == '.' || objectSide != nullptr) {
        EmitLateBoundCall(nameToken, name, mark, arguments, valueCall, explicitResults, objectSide, scope);
        return;
    }
    FoundProcedure found = FindCalledProcedure(name, arguments.count, valueCall, wanted, inherited, scopeHash);
    if (found.index < 0) {
        if (found.privateInBase)
            ReportParserError(msg::kPrivateCall);
        else if (FindUnitProcedure(name, scopeHash, false, true, false) >= 0)
            ReportParserError(msg::kInvalidInputCount);  // the name is known, not with this count
        else if (!inherited && name.find('.') != std::string::npos)
            EmitLateBoundCall(nameToken, name, mark, arguments, valueCall, explicitResults, nullptr, scope);
        else
            ReportParserError(FormatParserMessage(msg::kProcNotFound, name));
        return;
    }
    const ProcedureRecord& record = *UnitProcedureAt(found.index);
    const int outputs = record.countByte;
    const bool nForm = record.undefinedStart != 0;
    if (arguments.offsetPointer) ReportParserError(msg::kOffsetPointerPassed);
    if (!nForm && ParseKeyCounts(record.name).inputs != arguments.count) ReportParserError(msg::kInvalidInputCount);
    // The frame a function's results are counted in, and the one NPARMS
    // gathers an N form's arguments from.
    if (outputs > 0) InsertTextAfter(mark, Marker(Keyword::SaveSp), nameToken);
    if (nForm) InsertTextAfter(mark, Marker(Keyword::SaveSp), nameToken);
    EmitNamespaceOf(scope);
    EmitKindText(found.kind, record.name, nameToken);
    if (outputs == 0) return;
    if (valueCall && wanted > 0) {
        const int keep = std::min(wanted, outputs);
        EmitText(std::to_string(keep), nameToken);
        EmitMarker(Keyword::DropFctStack, nameToken);
        p.valueCount += keep;
    } else {
        EmitText(std::to_string(outputs), nameToken);
        EmitMarker(Keyword::DropAllFctStack, nameToken);
    }
}

// --- variables -----------------------------------------------------------------

// A variable's own tokens: the name (plain forms) or a side list (indexed
// and address forms), emitted as a target or as a value.
struct VariableForm {
    TokenNode* nameToken = nullptr;
    std::string_view name;      // in the name token's text, which lives until the statement is parsed
    TokenNode* side = nullptr;  // emitted as it stands, for both uses
    bool indexed = false;
};

void EmitVariable(VariableForm& form, unsigned char kind) {
    if (form.side != nullptr) {
        EmitSideList(std::exchange(form.side, nullptr));
        return;
    }
    FlushPendingNamespace();
    // Without a side list the name is the name token's own text.
    if (kind == 0)
        EmitTokenCopy(form.nameToken);
    else
        EmitKindText(kind, form.name, form.nameToken);
}

// A name declared by a LOCAL, GLOBAL ... or STRUCT statement.
[[gnu::noinline]] void NoteDeclaredName(std::string_view name, uint32_t hash) {
    ParserState& p = Parser();
    if (name.back() != '$') return;
    AddLocalNameHash(hash);
    if (p.declarationMode == 2 && p.structName.empty()) p.structName = std::string(name.substr(0, name.size() - 1));
}

// hash: the name's HashText.
void NoteVariableName(const TokenNode* token, std::string_view name, uint32_t hash) {
    if (Parser().declarationMode == 0)
        CheckLocalName(token, name, hash);
    else
        NoteDeclaredName(name, hash);
}

// Builds the side list of an indexed variable: the variable worked on, its
// index tokens, and a member after the "]".
TokenNode* BuildIndexedSide(TokenNode* nameToken, std::string_view name, bool addressFlag) {
    ParserState& p = Parser();
    TokenNode* saved = std::exchange(p.output, nullptr);
    FlushPendingNamespace();
    EmitKindText(kKindWorkedOn, name, nameToken);
    ParseOffsetIndex(addressFlag);
    if (p.input != nullptr && p.input->text[0] == '.' && EndsWithSigil(CurrentText())) {
        EmitText(QuotedText(CurrentText().substr(1)), p.input);
        EmitFixedText(kOffsetVarMarker, p.input);
        NextToken();
    }
    return std::exchange(p.output, saved);
}

// Assignment inside an expression: the target, the right side, __SET_PUSH and
// the operator; it stands for the one value it leaves.
[[gnu::noinline]] void ParseExpressionAssignment(VariableForm& form, TokenNode* operatorToken, std::string_view op) {
    ParserState& p = Parser();
    EmitVariable(form, op == "=" ? kKindTarget : kKindWorkedOn);
    const int saved = p.valueCount;
    const int errors = ErrorsSoFar();
    p.valueCount = 0;
    ParseExpression(0);
    if (p.valueCount != 1 && ErrorsSoFar() == errors) ReportOutputCount(p.valueCount);
    EmitFixedText(kSetPushMarker, operatorToken);
    EmitTokenCopy(operatorToken);
    p.valueCount = saved + 1;
}

// Assignment statement: one target and its operator, or several targets
// (counted by TargetCount) taking values in a frame through "M=".
[[gnu::noinline]] void ParseStatementAssignment(VariableForm& form, TokenNode* operatorToken, std::string_view op) {
    ParserState& p = Parser();
    int targets = p.targetCount;
    if (targets > 1 && op != "=") {
        ReportParserError(msg::kSyntaxError);
        targets = p.targetCount = 1;
    }
    EmitVariable(form, op == "=" ? kKindTarget : kKindWorkedOn);
    if (targets > 1) {
        ++p.valueCount;
        EmitMarker(Keyword::SaveSp, operatorToken);
    }
    const int base = p.valueCount;
    const int errors = ErrorsSoFar();
    ParseExpression(0);
    while (p.code == ',' && !p.depthExceeded) {
        NextToken();
        ParseExpression(0);
    }
    const int values = p.valueCount - base;
    if (targets > 1) {
        if (values > targets && ErrorsSoFar() == errors) ReportOutputCount(values);
        EmitText(std::to_string(targets), operatorToken);
        EmitFixedText(kMultipleAssignMarker, operatorToken);
        p.valueCount = std::max(0, base - targets);
        p.targetCount = 1;
        return;
    }
    if (values != 1 && ErrorsSoFar() == errors) ReportOutputCount(values);
    EmitTokenCopy(operatorToken);
    p.valueCount = base;
}

// What follows a variable: an assignment, "++"/"--", a further target
// (","), or nothing (a value).
void ParseVariableForms(VariableForm& form) {
    ParserState& p = Parser();
    if (p.code == '$') {
        TokenNode* operatorToken = p.input;
        const std::string_view op = CurrentText();
        NextToken();
        if (p.valueWanted)
            ParseExpressionAssignment(form, operatorToken, op);
        else
            ParseStatementAssignment(form, operatorToken, op);
        return;
    }
    if (p.code == 'p' || p.code == 'm') {
        TokenNode* operatorToken = p.input;
        NextToken();
        EmitVariable(form, kKindWorkedOn);
        if (p.valueWanted) {
            EmitFixedText(kSetPushMarker, operatorToken);
            ++p.valueCount;
        }
        EmitTokenCopy(operatorToken);
        return;
    }
    if (!p.valueWanted && !InArguments()) {
        if (p.code == ',') {
            EmitVariable(form, kKindTarget);
            ++p.valueCount;
            ++p.targetCount;
            return;
        }
        const bool canTakeIndex = !form.indexed && form.name.back() == '$';
        ReportParserError(canTakeIndex ? msg::kMissingIndexedAssignment : msg::kMissingAssignment);
        FreeTokenList(std::exchange(form.side, nullptr));
        return;
    }
    EmitVariable(form, 0);
    ++p.valueCount;
}

// variable: name [index] [member | method-call] [assignment | "++" | "--"]
[[gnu::noinline]] void ParseVariableOperand() {
    ParserState& p = Parser();
    VariableForm form;
    form.nameToken = p.input;
    form.name = CurrentText();
    NoteVariableName(form.nameToken, form.name, form.nameToken->hash);
    NextToken();
    if (p.code == '[') {
        form.indexed = true;
        form.side = BuildIndexedSide(form.nameToken, form.name, false);
        if (p.input != nullptr && p.input->text[0] == '.') {
            ParseCall(std::exchange(form.side, nullptr));
            return;
        }
    }
    ParseVariableForms(form);
}

// address: "&" variable [index]
void ParseVariableAddress() {
    ParserState& p = Parser();
    VariableForm form;
    form.nameToken = p.input;
    form.name = CurrentText().substr(1);
    NoteVariableName(form.nameToken, form.name, HashText(form.name));
    NextToken();
    if (p.code == '[') {
        form.indexed = true;
        form.side = BuildIndexedSide(form.nameToken, form.name, true);
        p.offsetPointerPassed = true;
    } else {
        const bool target = p.code == '$' && CurrentText() == "=";
        TokenNode* saved = std::exchange(p.output, nullptr);
        FlushPendingNamespace();
        if (target)
            EmitKindText(kKindTarget, form.name, form.nameToken);
        else
            EmitText(form.name, form.nameToken);
        EmitMarker(Keyword::VarAddr, form.nameToken);
        form.side = std::exchange(p.output, saved);
    }
    ParseVariableForms(form);
}

// procedure-address: "&" procedure-name
void ParseProcedureAddress() {
    ParserState& p = Parser();
    TokenNode* token = p.input;
    const std::string name(CurrentText().substr(1));
    int index = -1;
    if (p.currentClass != nullptr)
        index = FindClassCodeInBases(p.currentClass, nullptr, name, LookupNamespace(), true, false);
    if (index < 0) index = FindUnitProcedure(name, LookupNamespace(), false, true, false);
    FlushPendingNamespace();
    if (index >= 0) {
        std::string address = "&";
        address += UnitProcedureAt(index)->name;
        EmitText(address, token);
        ++p.valueCount;
    } else if (name.find('.') != std::string::npos) {
        EmitText(token->text, token);
        ++p.valueCount;
    } else {
        ReportParserError(FormatParserMessage(msg::kProcNotDefined, name));
    }
    NextToken();
}

// prefix-step: ("++" | "--") variable
void ParsePrefixStep() {
    ParserState& p = Parser();
    TokenNode* operatorToken = p.input;
    const std::string op = operatorToken->text;
    NextToken();
    if (p.code != 'O') {
        ReportParserError(msg::kVariableExpected);
        SkipUnlessSeparator();
        return;
    }
    NoteVariableName(p.input, CurrentText(), p.input->hash);
    if (p.valueWanted) {
        EmitFixedText(kSetPushMarker, operatorToken);
        ++p.valueCount;
    }
    FlushPendingNamespace();
    EmitKindText(kKindWorkedOn, CurrentText(), p.input);
    EmitText(op + "2", operatorToken);
    NextToken();
}

// logical: (AND | OR | XOR) expression   -- right-associative
void ParseLogicalOperator() {
    ParserState& p = Parser();
    TokenNode* operatorToken = p.input;
    NextToken();
    ParseExpression(0);
    EmitTokenCopy(operatorToken);
    --p.valueCount;
}

// sign: ("+" | "-") primary   -- "0", the operand, the operator
void ParseSign() {
    ParserState& p = Parser();
    TokenNode* operatorToken = p.input;
    EmitText("0", operatorToken);
    ++p.valueCount;
    NextToken();
    ParseStatement();
    EmitTokenCopy(operatorToken);
    --p.valueCount;
}

// scope: "::" name operand   -- the namespace holds for that operand only
void ParseScopedOperand() {
    ParserState& p = Parser();
    TokenNode* separator = p.input;
    NextToken();
    if (p.code == kCodeEnd || p.code == ';') {
        ReportParserError(msg::kSyntaxError);
        return;
    }
    PendingNamespace& pending = p.pendingNamespace;
    pending = PendingNamespace{std::string(CurrentText()), separator->line, separator->column,
                               p.input->hash, true};
    NextToken();
    ParseStatement();
    FlushPendingNamespace();
    pending.active = false;
}

}  // namespace

int ResultSlots() { return InArguments() ? 1 : Parser().targetCount; }

void EmitSideList(TokenNode* side) {
    if (side == nullptr) return;
    ParserState& p = Parser();
    CopyTokenList(p.output, side, p.hasFileName ? p.fileName.c_str() : nullptr);
    FreeTokenList(side);
}

void RemoveOutputToken(TokenNode* token) {
    ParserState& p = Parser();
    if (token == p.output)
        p.output = UnlinkToken(token);
    else
        UnlinkToken(token);
}

void ParseExpression(int valueFlag) {
    ParserState& p = Parser();
    const bool saved = p.valueWanted;
    if (valueFlag != 1) p.valueWanted = true;
    ParseChain(kCompareLevel);
    // AND, OR and XOR: the primary parser takes the operator itself and the
    // whole rest of the expression as its right operand.
    if ((p.code == 'A' || p.code == 'R') && !p.depthExceeded) ParseChain(kCompareLevel);
    p.valueWanted = saved;
}

int ParseArgumentList() {
    ParserState& p = Parser();
    ++p.argumentDepth;
    ++p.parenthesisDepth;
    const bool savedCaseLabel = std::exchange(p.inCaseLabel, false);
    NextToken();
    int count = 0;
    bool closed = false;
    if (!CanStartOperand(p.code) && p.code != ',') {
        ReportParserError(msg::kSyntaxError);
        if (p.code != ';' && p.code != kCodeEnd) SkipToken();
    } else {
        while (p.code != ')' && p.code != ';' && p.code != kCodeEnd && !p.depthExceeded) {
            if (p.code == ',') {
                ReportParserError(msg::kExpressionExpected);
                NextToken();
                continue;
            }
            const bool member = p.input->text[0] == '.';
            ParseExpression(0);
            if (member)
                --p.valueCount;
            else
                ++count;
            if (p.code == ',') {
                NextToken();
                // An empty argument before "," is reported at the loop's top.
                if (p.code == ')') ReportParserError(msg::kExpressionExpected);
                continue;
            }
            if (!CanFollowArgument(p.code) && p.code != ';' && p.code != kCodeEnd && !p.depthExceeded) {
                ReportParserError(msg::kSyntaxError);
                SkipToken();
            }
        }
        closed = p.code == ')';
        if (closed)
            NextToken();
        else if (!p.depthExceeded)
            ReportParserError(msg::kClosingParenthesisMissing);
    }
    p.inCaseLabel = savedCaseLabel;
    --p.parenthesisDepth;
    --p.argumentDepth;
    return count;
}

void ParseIndexList() {
    ParserState& p = Parser();
    TokenNode* open = p.input;
    const int saved = p.valueCount;
    p.valueCount = 0;
    EmitMarker(Keyword::SaveSp, open);
    NextToken();
    while (p.code != ']' && p.code != ';' && p.code != kCodeEnd && !p.depthExceeded) {
        ParseExpression(0);
        if (p.code != ',') break;
        NextToken();
    }
    if (p.code == ']') {
        EmitFixedText(kMakeMatrixMarker, p.input);
        NextToken();
    } else if (!p.depthExceeded) {
        ReportParserError(msg::kClosingBracketMissing);
    }
    p.valueCount = saved + 1;
}

void ParseOffsetIndex(bool addressFlag) {
    ParserState& p = Parser();
    const int saved = p.valueCount;
    while (p.code == '[' && !p.depthExceeded) {
        TokenNode* open = p.input;
        p.valueCount = 0;
        TokenNode* frame = EmitMarker(Keyword::SaveSp, open);
        NextToken();
        int indices = 0;
        if (p.code == ']') {
            ReportParserError(msg::kOffsetValueMissing);
        } else {
            for (;;) {
                ParseExpression(0);
                ++indices;
                if (p.code != ',' || p.depthExceeded) break;
                NextToken();
            }
        }
        const bool closed = p.code == ']';
        if (closed)
            NextToken();
        else if (!p.depthExceeded)
            ReportParserError(msg::kClosingBracketMissing);
        // One index needs no frame: __OFFSET1 takes it directly.
        if (indices <= 1) RemoveOutputToken(frame);
        if (indices == 1) EmitMarker(Keyword::Offset1, open);
        if (indices > 1) EmitMarker(Keyword::Offset, open);
        if (addressFlag) EmitMarker(Keyword::VarAddr, open);
        if (!closed) break;
    }
    p.valueCount = saved;
}

void ParseBuiltinCall(const FunctionRecord& record, bool requireList) {
    ParserState& p = Parser();
    TokenNode* nameToken = p.input;
    const PendingNamespace scope = TakePendingNamespace();
    NextToken();
    TokenNode* mark = OutputMark(nameToken);
    const CallArguments arguments = ParseCallArguments();
    const bool needsList = requireList || (record.anyArity == 0 && record.argumentCount > 0);
    if (!arguments.hadList && needsList) ReportParserError(msg::kExpressionExpected);
    ParseResultCount();
    if (record.anyArity != 0 && record.argumentFrame != 0) InsertTextAfter(mark, Marker(Keyword::SaveSp), nameToken);
    EmitNamespaceOf(scope);
    EmitHashedText(record.name, record.nameHash, nameToken);
    if (record.anyArity == 0 && arguments.hadList && arguments.count != record.argumentCount)
        ReportParserError(msg::kInvalidInputCount);
    p.valueCount += record.returnsValue;
}

void ParseCall(TokenNode* objectSide) {
    ParserState& p = Parser();
    if (objectSide == nullptr && p.builtinIndex >= 0) {
        ParseBuiltinCall(*FunctionRecordAt(p.builtinIndex), false);
        return;
    }
    ParseProcedureCall(p.input, objectSide);
}

namespace {

// A value of a STRUCT declaration: a quoted member name declares the member.
[[gnu::noinline]] void NoteStructMember() {
    ParserState& p = Parser();
    if (CurrentText()[0] != '"' || p.structName.empty()) return;
    std::string_view member = CurrentText().substr(1, CurrentText().size() - 2);
    AddLocalName(p.structName + "." + UpperCaseName(member) + "$");
}

// The operand forms other than a value or a variable. Apart from
// ParseOperand, so that the two usual forms run without the frame the
// others' locals need.
[[gnu::noinline]] bool ParseOtherOperand() {
    ParserState& p = Parser();
    switch (p.code) {
    case '(':
        ParseArgumentList();
        return true;
    case '+':
    case '-':
        ParseSign();
        return true;
    case '@': {
        TokenNode* operatorToken = p.input;
        NextToken();
        ParseStatement();
        EmitText("@", operatorToken);
        return true;
    }
    case 'v':
        ParseVariableAddress();
        return true;
    case 'l':
        ParseProcedureAddress();
        return true;
    case '[':
        ParseIndexList();
        return true;
    case ']':
        ReportParserError(msg::kOpeningBracketMissing);
        SkipToken();
        return true;
    case ')':
        if (p.parenthesisDepth > 0) {
            ReportParserError(msg::kExpressionExpected);
        } else {
            ReportParserError(msg::kOpeningParenthesisMissing);
            SkipToken();
        }
        return true;
    case 'F':
        ParseCall();
        return true;
    case 'p':
    case 'm':
        ParsePrefixStep();
        return true;
    case 'A':
    case 'R':
        ParseLogicalOperator();
        return true;
    case 'N':
    case '~':
        return true;  // prefix operators: the level above takes them
    case 'n':
        ParseScopedOperand();
        return true;
    default:
        return false;
    }
}

}  // namespace

bool ParseOperand() {
    ParserState& p = Parser();
    if (p.code == 'V') {
        if (p.declarationMode == 2) NoteStructMember();
        EmitTokenCopy(p.input);
        ++p.valueCount;
        NextToken();
        return true;
    }
    if (p.code == 'O') {
        ParseVariableOperand();
        return true;
    }
    return ParseOtherOperand();
}

}  // namespace qob
