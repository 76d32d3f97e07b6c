// compiler/front_end/statement_parser.cpp
// The statement loop, statement keywords, procedure definitions,
// declarations, namespaces, classes and the marker emitters.
#include "compiler/front_end/statement_parser.h"

#include <array>
#include <initializer_list>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compiler/class_list.h"
#include "compiler/front_end/expression_parser.h"
#include "compiler/front_end/parser_state.h"
#include "compiler/front_end/token_list.h"
#include "compiler/procedure_table.h"
#include "runtime/data/file_routines.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/switches.h"

namespace qob {
namespace {

namespace msg = parser_message;

std::string_view Marker(Keyword keyword) { return KeywordText(keyword); }
uint32_t Hash(Keyword keyword) { return KeywordHashes[keyword]; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The groups of words a statement's first token is tested against. One
// look-up of the token's hash in an open table answers every group at once.
enum WordGroup : uint16_t {
    kConditionWord = 1 << 0,    // IF, __ELSEIF, CASE, UNTIL
    kDeclarationWord = 1 << 1,  // LOCAL GLOBAL FORCEGLOBAL PUBLIC PRIVATE
    kNoSeparatorWord = 1 << 2,  // statements that need no ";" or "," after them
    kDeclarationStart = 1 << 3, // statements after which no FIRST_OP goes
    kLoopStart = 1 << 4,        // WHILE FOR FOREACH FOREACHREV
    kOwnDebugPlace = 1 << 5,    // REPEAT END #CODE: the debugger's hook goes elsewhere
    kModeDirective = 1 << 6,    // #RANGECHECK #EXPLICIT
    kBlockEnd = 1 << 7,         // REPEAT END
};

struct WordGroupSlot {
    uint32_t hash = 0;
    uint16_t groups = 0;  // never 0 in a used slot
};
constexpr size_t kWordGroupSlots = 256;  // a power of two, under a fifth full

constexpr size_t WordGroupSlotOf(uint32_t hash) { return (hash * 0x9E3779B1u >> 24) & (kWordGroupSlots - 1); }

constexpr auto kWordGroups = [] {
    std::array<WordGroupSlot, kWordGroupSlots> slots{};
    auto add = [&](std::initializer_list<Keyword> keywords, uint16_t group) {
        for (Keyword keyword : keywords) {
            const uint32_t hash = KeywordHashes[keyword];
            size_t at = WordGroupSlotOf(hash);
            while (slots[at].groups != 0 && slots[at].hash != hash) at = (at + 1) & (kWordGroupSlots - 1);
            slots[at].hash = hash;
            slots[at].groups |= group;
        }
    };
    add({Keyword::If, Keyword::ElseIfMarker, Keyword::Case, Keyword::Until}, kConditionWord);
    add({Keyword::Local, Keyword::Global, Keyword::ForceGlobal, Keyword::Public, Keyword::Private}, kDeclarationWord);
    add({Keyword::If, Keyword::ElseIfMarker, Keyword::Repeat, Keyword::While, Keyword::ForEach, Keyword::ForEachRev,
         Keyword::For, Keyword::Case, Keyword::Else, Keyword::DebugMarker, Keyword::DirectiveDebugFile,
         Keyword::DirectiveDebugOn, Keyword::DirectiveDebugOff, Keyword::DirectiveNoWarning, Keyword::DirectiveCode,
         Keyword::DirectiveClass, Keyword::DirectiveEndClass, Keyword::DirectiveObject, Keyword::DirectiveInherited,
         Keyword::Try, Keyword::Except, Keyword::Finally, Keyword::DirectiveNamespace, Keyword::DirectiveEndNamespace,
         Keyword::ScopeSeparator, Keyword::DirectiveRangeCheck, Keyword::DirectiveExplicit},
        kNoSeparatorWord);
    add({Keyword::Proc, Keyword::Func, Keyword::NProc, Keyword::NFunc, Keyword::Global, Keyword::ForceGlobal,
         Keyword::Local, Keyword::Public, Keyword::Private, Keyword::DirectiveCode},
        kDeclarationStart);
    add({Keyword::While, Keyword::For, Keyword::ForEach, Keyword::ForEachRev}, kLoopStart);
    add({Keyword::Repeat, Keyword::End, Keyword::DirectiveCode}, kOwnDebugPlace);
    add({Keyword::DirectiveRangeCheck, Keyword::DirectiveExplicit}, kModeDirective);
    add({Keyword::Repeat, Keyword::End}, kBlockEnd);
    return slots;
}();

// The groups of the word with this hash; 0 for any other word.
uint16_t WordGroupsOf(uint32_t hash) {
    for (size_t at = WordGroupSlotOf(hash); kWordGroups[at].groups != 0; at = (at + 1) & (kWordGroupSlots - 1))
        if (kWordGroups[at].hash == hash) return kWordGroups[at].groups;
    return 0;
}

// The most outputs a header can carry: its count byte is 32 + outputs.
constexpr int kMaxOutputs = 255 - 32;

// --- blocks -------------------------------------------------------------------

void LowerBlockDepth() {
    ParserState& p = Parser();
    if (p.blockDepth > 0) --p.blockDepth;
    if (p.blockDepth > 0) return;
    p.procedureKey.clear();
    p.classMainOpen = false;
    if (p.classFromDottedName) {
        p.currentClass = nullptr;
        p.classFromDottedName = false;
    }
}

// Ends a class's member code with END (at its first procedure or #ENDCLASS).
void CloseClassMainCode(const TokenNode* at) {
    ParserState& p = Parser();
    if (!p.classMainOpen) return;
    EmitMarker(Keyword::End, at);
    DropLocalNamesFrom(1);
    p.classMainOpen = false;
    p.blockDepth = 0;
    p.procedureKey.clear();
}

// --- statement keywords --------------------------------------------------------

void ParseDeclaration(const FunctionRecord& record, bool structure) {
    ParserState& p = Parser();
    if (!p.procedureKey.empty() && p.blockDepth != 1) ReportParserError(msg::kDeclarationLevel);
    if (!structure) EmitFixedText(kNoExplicitCheckMarker, p.input);
    p.declarationMode = structure ? 2 : 1;
    p.structName.clear();
    ParseBuiltinCall(record, false);
    p.declarationMode = 0;
}

// Statement keywords with a form of their own; false for any other word.
bool ParseKeywordStatement() {
    ParserState& p = Parser();
    if (p.builtinIndex < 0) return false;
    const FunctionRecord& record = *FunctionRecordAt(p.builtinIndex);
    TokenNode* token = p.input;
    const uint32_t hash = token->hash;
    const bool debugHere = Switches.debugMode && !p.childMode;

    if (hash == Hash(Keyword::While) || hash == Hash(Keyword::For) || hash == Hash(Keyword::ForEach) ||
        hash == Hash(Keyword::ForEachRev)) {
        const bool isWhile = hash == Hash(Keyword::While);
        const bool isFor = hash == Hash(Keyword::For);
        EmitText(Marker(isWhile ? Keyword::StartWhile : isFor ? Keyword::StartFor : Keyword::StartForEach), token);
        if (debugHere) EmitDebugToken(token);
        if (!isWhile) EmitMarker(Keyword::SaveSp, token);
        ParseBuiltinCall(record, true);
        ++p.blockDepth;
        return true;
    }
    if (hash == Hash(Keyword::Repeat)) {
        EmitMarker(Keyword::StartRepeat, token);
        if (debugHere) EmitDebugToken(token);
        ParseBuiltinCall(record, false);
        ++p.blockDepth;
        return true;
    }
    const uint16_t groups = WordGroupsOf(hash);
    if (groups & kConditionWord) {
        ParseBuiltinCall(record, true);
        if (hash == Hash(Keyword::Until)) {
            DropLocalNamesFrom(p.blockDepth);
            LowerBlockDepth();
        } else if (hash != Hash(Keyword::ElseIfMarker)) {
            ++p.blockDepth;
        }
        return true;
    }
    if (hash == Hash(Keyword::Except)) {
        ParseBuiltinCall(record, false);
        ++p.blockDepth;
        return true;
    }
    if (hash == Hash(Keyword::End) || hash == Hash(Keyword::Else)) {
        DropLocalNamesFrom(p.blockDepth);
        ParseBuiltinCall(record, false);
        if (hash == Hash(Keyword::End)) LowerBlockDepth();
        return true;
    }
    if (groups & kDeclarationWord) {
        ParseDeclaration(record, false);
        return true;
    }
    if (hash == Hash(Keyword::Struct)) {
        ParseDeclaration(record, true);
        return true;
    }
    return false;
}

// --- procedures ---------------------------------------------------------------

struct Parameter {
    std::string name;
    TokenNode* token;
};

// params: '(' [variable {',' variable}] ')'   -- "()" is an empty list
void ParseParameterList(std::vector<Parameter>& parameters) {
    ParserState& p = Parser();
    NextToken();
    bool failed = false;
    if (p.code != ')') {
        for (;;) {
            if (p.code != 'O') {
                ReportParserError(msg::kVariableExpected);
                failed = true;
                break;
            }
            parameters.push_back({std::string(CurrentText()), p.input});
            NextToken();
            if (p.code == ',') {
                NextToken();
                if (p.code == ',' || p.code == ')') {
                    ReportParserError(msg::kVariableExpected);
                    failed = true;
                    break;
                }
                continue;
            }
            if (p.code != ')' && p.code != ';' && p.code != kCodeEnd) {
                ReportParserError(msg::kSyntaxError);
                failed = true;
            }
            break;
        }
    }
    if (failed)
        SkipPastClosingParenthesis();
    else if (p.code == ')')
        NextToken();
    else
        ReportParserError(msg::kClosingParenthesisMissing);
}

// ": n" after the parameters: the number of outputs, -1 when not written.
int ParseOutputCount() {
    ParserState& p = Parser();
    if (p.code != 'C' || CurrentText() != ":") return -1;
    NextToken();
    if (p.code != 'V' || !IsDigit(CurrentText()[0])) {
        ReportParserError(msg::kNumericValueExpected);
        SkipUnlessSeparator();
        return -1;
    }
    int count = std::atoi(std::string(CurrentText()).c_str());
    if (count > kMaxOutputs) {
        ReportParserError(msg::kNumericValueExpected);
        count = -1;
    }
    NextToken();
    return count;
}

// CREATE and DESTROY of a class have fixed forms.
void CheckClassProcedureForm(uint32_t methodHash, bool nForm, int outputs, bool isPrivate) {
    if (methodHash == Hash(Keyword::Create)) {
        if (!nForm || outputs != 0) ReportParserError(msg::kCreateMustBeNProc);
        if (!isPrivate) ReportParserError(msg::kCreateMustBePrivate);
    } else if (methodHash == Hash(Keyword::Destroy)) {
        if (nForm || outputs != 0) ReportParserError(msg::kDestroyMustBeProc);
        if (!isPrivate) ReportParserError(msg::kDestroyMustBePrivate);
    }
}

// Enters the finished header into the procedure table, or checks it against
// the record its key already has.
void RegisterProcedure(TokenNode* header, const std::string& key, int inputs, int outputs, bool nForm,
                       const ProcModifiers& modifiers, uint32_t namespaceHash) {
    const int found = FindUnitProcedure(key, namespaceHash, false, false, false);
    if (found < 0) {
        if (AddUnitProcedure(key, outputs, nForm, modifiers.isPrivate, namespaceHash,
                             {inputs, modifiers.forward, modifiers.forceLink}) < 0)
            ReportParserError(msg::kTooManyProcedures);
        return;
    }
    ProcedureRecord& record = *UnitProcedureAt(found);
    ProcedureFacts& facts = *UnitProcedureFactsAt(found);
    const bool sameCounts = (nForm && record.undefinedStart != 0) || facts.inputs == inputs;
    if (!sameCounts || record.countByte != outputs) {
        ReportParserError(FormatParserMessage(msg::kDifferentDeclaration, key));
        return;
    }
    if (!facts.forward) {
        if (!modifiers.override)
            ReportParserError(
                FormatParserMessage(modifiers.forward ? msg::kDuplicateForward : msg::kDuplicateProc, key));
        return;
    }
    if (modifiers.forward) {
        // Declared forward twice: the second header goes again.
        RemoveOutputToken(header);
        return;
    }
    facts.forward = false;
    facts.forceLink = facts.forceLink || modifiers.forceLink;
    record.underscore = modifiers.isPrivate ? 1 : 0;
}

// The name a definition gives its key: class code is
// "__CLASSCODE_<class>.<name>"; "Class.name" outside a class opens that class
// for the procedure's body.
struct ProcedureName {
    std::string keyName;
    uint32_t methodHash = 0;  // of the name within its class
    bool bare = false;        // MAIN and WINMAIN are keyed without counts
};

ProcedureName ResolveProcedureName(const ProcModifiers& modifiers) {
    ParserState& p = Parser();
    const std::string name(CurrentText());
    ProcedureName resolved{name, p.input->hash, false};
    const size_t dot = name.find('.');
    if (p.currentClass != nullptr && !p.classFromDottedName) {
        resolved.keyName = ClassCodeName(p.currentClass->name);
        resolved.keyName.append(".").append(name);
    } else if (dot != std::string::npos) {
        const std::string className = name.substr(0, dot);
        resolved.methodHash = HashText(std::string_view(name).substr(dot + 1));
        resolved.keyName = ClassCodeName(name);
        ClassRecord* owner = FindUnitClass(HashText(className));
        if (owner == nullptr) {
            ReportParserError(FormatParserMessage(msg::kClassNotFound, className));
        } else if (!modifiers.forward) {
            p.currentClass = owner;
            p.classFromDottedName = true;
        }
    } else {
        resolved.bare = resolved.methodHash == Hash(Keyword::Main) || resolved.methodHash == Hash(Keyword::WinMain);
    }
    return resolved;
}

// The body's local names, the parameters (the last first: they take their
// values from the stack in that order) and the end of the declarations.
void OpenProcedureBody(const std::string& key, const std::vector<Parameter>& parameters, bool nForm,
                       const TokenNode* keywordToken) {
    ParserState& p = Parser();
    ++p.blockDepth;
    p.procedureKey = key;
    for (const Parameter& parameter : parameters) AddLocalName(parameter.name);
    if (p.currentClass != nullptr) {
        AddLocalName("SELF$");
        AddLocalName("OBJECTNAME$");
    }
    if (nForm) AddLocalName("ARGS$");
    for (auto it = parameters.rbegin(); it != parameters.rend(); ++it) EmitText(it->name, it->token);
    EmitText(Marker(nForm ? Keyword::EndDecl2 : Keyword::EndDecl), keywordToken);
    if (Switches.profiling) EmitProfileToken(keywordToken);
}

// procedure: {modifier} (PROC | NPROC | FUNC | NFUNC) [:: namespace] name
//            [params] [':' outputs]
void ParseProcedureDefinition() {
    ParserState& p = Parser();
    const int openDepth = p.blockDepth - (p.classMainOpen ? 1 : 0);
    if (openDepth > 0) ReportParserError(msg::kEmbeddedDefinition);
    ProcModifiers modifiers;
    modifiers.isPrivate = p.currentClass != nullptr && !p.classFromDottedName;
    ParseProcModifiers(modifiers);
    if (p.code != '1' && p.code != '2') {
        ReportParserError(msg::kProcOrFuncExpected);
        SkipUnlessSeparator();
        return;
    }
    TokenNode* keywordToken = p.input;
    const bool isFunc = p.code == '2';
    const bool nForm = keywordToken->text[0] == 'N';
    int outputs = isFunc ? 1 : 0;
    p.firstOperationDone = false;
    CloseClassMainCode(keywordToken);
    NextToken();
    uint32_t namespaceHash = p.currentNamespace;
    if (modifiers.forward && p.code == 'n') {
        NextToken();
        if (p.input != nullptr) namespaceHash = p.input->hash;
        NextToken();
    }
    if (p.code == kCodeEnd || p.code == ';' || p.code == '(' || p.code == ',') {
        ReportParserError(msg::kSyntaxError);
        return;
    }
    const ProcedureName name = ResolveProcedureName(modifiers);
    if (p.currentClass != nullptr) CheckClassProcedureForm(name.methodHash, nForm, outputs, modifiers.isPrivate);
    TokenNode* header = EmitText(" ", keywordToken);  // its text is known once the counts are
    NextToken();

    std::vector<Parameter> parameters;
    if (p.code == '(') {
        if (nForm) ReportParserError(msg::kNFormParameters);
        ParseParameterList(parameters);
        if (nForm) parameters.clear();
    }
    if (int written = ParseOutputCount(); written >= 0) {
        if (isFunc)
            outputs = written;
        else
            ReportParserError(msg::kProcOutputs);
    }
    const int inputs = static_cast<int>(parameters.size());
    const std::string key =
        name.bare ? name.keyName : name.keyName + "(" + std::to_string(inputs) + "," + std::to_string(outputs) + ")";
    if (!modifiers.forward) OpenProcedureBody(key, parameters, nForm, keywordToken);
    std::string headerText = MakeProcHeaderText(modifiers.isPrivate, outputs, modifiers.forceLink, key);
    SetProcHeaderKind(headerText.data(), outputs, nForm, modifiers.forward);
    SetTokenText(header, headerText);
    RegisterProcedure(header, key, inputs, outputs, nForm, modifiers, namespaceHash);
}

// --- namespaces, #CODE, classes ------------------------------------------------

void ParseNamespace(bool opening) {
    ParserState& p = Parser();
    EmitText(CurrentText(), p.input);
    NextToken();
    if (!opening) {
        if (p.namespaceStack.empty()) {
            p.currentNamespace = 0;
        } else {
            p.currentNamespace = p.namespaceStack.back();
            p.namespaceStack.pop_back();
        }
        return;
    }
    if (p.code == kCodeEnd || p.code == ';') {
        ReportParserError(msg::kSyntaxError);
        return;
    }
    EmitText(CurrentText(), p.input);
    p.namespaceStack.push_back(p.currentNamespace);
    p.currentNamespace = p.input->hash;
    NextToken();
}

// #CODE "file,line": the following tokens come from this file.
void ParseCodeDirective() {
    ParserState& p = Parser();
    NextToken();
    if (p.code != 'V' || CurrentText()[0] != '"') return;
    std::string_view text = CurrentText();
    text = text.substr(1, text.size() >= 2 ? text.size() - 2 : 0);
    text = text.substr(0, text.find(','));
    SetParserFileName(text.size() >= 2 ? std::string(text).c_str() : nullptr);
    NextToken();
}

bool IsWord(const TokenNode* token) {
    if (token == nullptr) return false;
    const char first = token->text[0];
    return (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') || first == '_';
}

void EndClass(const TokenNode* at) {
    ParserState& p = Parser();
    CloseClassMainCode(at);
    p.currentClass = nullptr;
    p.classFromDottedName = false;
}

// class: #CLASS name [base]   -- a base is a class declared before, written
// after the name (a word followed by "(" is a statement instead)
void ParseClassDirective() {
    ParserState& p = Parser();
    TokenNode* directive = p.input;
    if (p.currentClass != nullptr) EndClass(directive);
    NextToken();
    if (!IsWord(p.input)) {
        ReportParserError(msg::kSyntaxError);
        return;
    }
    TokenNode* nameToken = p.input;
    const std::string name(CurrentText());
    NextToken();
    std::string base;
    const TokenNode* baseToken = directive;
    if (p.code == 'y' && p.input->hash != nameToken->hash &&
        !(p.input->next != nullptr && p.input->next->text[0] == '(')) {
        base = CurrentText();
        baseToken = p.input;
        NextToken();
    }
    ClassRecord* record = AddUnitClass(name, base);
    EmitMarker(Keyword::DirectiveClass, directive);
    EmitText(base, baseToken);
    EmitText(name, nameToken);
    const std::string key = ClassCodeName(name).append(".__INIT(0,0)");
    std::string header = MakeProcHeaderText(false, 0, false, key);
    SetProcHeaderKind(header.data(), 0, false, false);
    EmitText(header, nameToken);
    EmitMarker(Keyword::EndDecl, nameToken);
    if (FindUnitProcedure(key, p.currentNamespace, false, false, true) < 0 &&
        AddUnitProcedure(key, 0, false, false, p.currentNamespace, {}) < 0)
        ReportParserError(msg::kTooManyProcedures);
    p.currentClass = record;
    p.classFromDottedName = false;
    p.classMainOpen = record != nullptr;
    p.blockDepth = 1;
    p.procedureKey = key;
    p.firstOperationDone = false;
    AddLocalName("SELF$");
    AddLocalName("OBJECTNAME$");
    if (!base.empty()) EmitKindText(kKindInheritedCall, ClassCodeName(base).append(".__INIT(0,0)"), baseToken);
}

void ParseEndClassDirective() {
    ParserState& p = Parser();
    if (p.currentClass == nullptr || p.classFromDottedName)
        ReportParserError(msg::kSyntaxError);
    else
        EndClass(p.input);
    NextToken();
}

void ParseInheritedDirective() {
    ParserState& p = Parser();
    if (p.currentClass == nullptr) {
        ReportParserError(msg::kSyntaxError);
        NextToken();
        return;
    }
    if (p.currentClass->baseHash == 0)
        ReportParserError(FormatParserMessage(msg::kNoInheritanceDefined, p.currentClass->name));
    p.inheritedPending = true;
    NextToken();
}

// object: #OBJECT class variable ['(' arguments ')']
void ParseObjectDirective() {
    ParserState& p = Parser();
    TokenNode* directive = p.input;
    NextToken();
    if (!IsWord(p.input)) {
        ReportParserError(msg::kSyntaxError);
        return;
    }
    const std::string className(CurrentText());
    if (FindUnitClass(p.input->hash) == nullptr) ReportParserError(FormatParserMessage(msg::kClassNotFound, className));
    NextToken();
    if (p.code != 'O') {
        ReportParserError(msg::kVariableExpected);
        return;
    }
    const std::string quoted = QuotedText(className);
    const std::string variable(CurrentText());
    TokenNode* variableToken = p.input;
    EmitText(quoted, directive);
    EmitText(variable, variableToken);
    EmitFixedText(kClassMarker, directive);
    EmitMarker(Keyword::SaveSp2, directive);
    NextToken();
    if (p.code == '(') {
        const int saved = p.valueCount;
        ParseArgumentList();
        p.valueCount = saved;
    }
    // The constructor step takes the variable: its instance is the object.
    EmitText(variable, variableToken);
    EmitFixedText(kClassCreateMarker, directive);
}

// class-typing: class '(' variable {',' variable} ')'   -- __CLASS2 per
// variable when the statement ends there, else __CLASS3 (a value)
void ParseClassTyping() {
    ParserState& p = Parser();
    TokenNode* classToken = p.input;
    const std::string quoted = QuotedText(CurrentText());
    NextToken();
    if (p.code != '(') {
        ReportParserError(msg::kExpressionExpected);
        return;
    }
    ++p.parenthesisDepth;
    NextToken();
    struct Typed {
        TokenNode* side;
        bool indexed;
    };
    std::vector<Typed> typed;
    while (p.code != ')' && p.code != ';' && p.code != kCodeEnd) {
        const bool address = p.code == 'v';
        if (p.code != 'O' && !address) {
            ReportParserError(msg::kVariableExpected);
            SkipPastClosingParenthesis();
            --p.parenthesisDepth;
            for (const Typed& item : typed) FreeTokenList(item.side);
            return;
        }
        TokenNode* nameToken = p.input;
        std::string name(CurrentText().substr(address ? 1 : 0));
        NextToken();
        TokenNode* saved = std::exchange(p.output, nullptr);
        bool indexed = false;
        if (p.code == '[') {
            indexed = true;
            EmitKindText(kKindWorkedOn, name, nameToken);
            ParseOffsetIndex(address);
        } else {
            EmitText(name, nameToken);
            if (address) EmitMarker(Keyword::VarAddr, nameToken);
        }
        typed.push_back({std::exchange(p.output, saved), indexed});
        if (p.code != ',') break;
        NextToken();
    }
    --p.parenthesisDepth;
    if (p.code == ')')
        NextToken();
    else
        ReportParserError(msg::kClosingParenthesisMissing);
    const bool statementEnds = p.code == ';' || p.code == kCodeEnd;
    const bool methodFollows = p.input != nullptr && p.input->text[0] == '.' && !EndsWithSigil(CurrentText());
    for (const Typed& item : typed) {
        EmitText(quoted, classToken);
        if (statementEnds && item.indexed) ReportParserError(msg::kClassTypeArray);
        EmitSideList(item.side);
        EmitText(statementEnds ? kClassTypeMarker : kClassValueMarker, classToken);
        if (!statementEnds && !methodFollows) ++p.valueCount;
    }
    // "Class(x$).method(...)": the method runs on the typed object.
    if (methodFollows) ParseCall();
}

// --- the statement loop -------------------------------------------------------

bool IsProcedureCode(char code) {
    return code == '1' || code == '2' || code == '3' || code == '4' || code == 'k' || code == 'e' || code == 'E';
}

bool IsStatementOnlyCode(char code) {
    switch (code) {
    case '1': case '2': case '3': case '4': case 'k': case 'e': case 'E':
    case 'S': case 's': case 'o': case 'U': case 'u': case '`':
        return true;
    default:
        return false;
    }
}

bool BeginsStatement(char code) {
    switch (code) {
    case 'V': case 'O': case 'F': case 'v': case '1': case '2': case '3': case '4': case 'k': case '`':
    case 'S': case 's': case 'o': case 'y': case 'e': case 'E': case 'i': case '(': case '-': case 'U':
    case 'u': case 'n':
        return true;
    default:
        return false;
    }
}

bool IsCaseLabelStart(char code) { return code == 'V' || code == '(' || code == '-'; }

// A word nothing knows, followed by "(": a call of a procedure not defined.
bool IsUnknownCall(const TokenNode* token, char code) {
    return code == ' ' && token != nullptr && token->next != nullptr && token->next->text[0] == '(';
}

// Statements that need no ";" or "," after them.
bool EndsWithoutSeparator(uint16_t firstGroups, char firstCode) {
    if (IsProcedureCode(firstCode) || firstCode == 'C' || firstCode == 'y') return true;
    return (firstGroups & kNoSeparatorWord) != 0;
}

// Statements after which no FIRST_OP goes: declarations and procedure heads.
bool IsDeclarationStart(uint16_t firstGroups, char firstCode) {
    if (IsProcedureCode(firstCode)) return true;
    return (firstGroups & kDeclarationStart) != 0;
}

// case-label: value {',' value} ':'
void ParseCaseLabel() {
    ParserState& p = Parser();
    TokenNode* first = p.input;
    const int saved = p.valueCount;
    EmitMarker(Keyword::StartCase, first);
    p.inCaseLabel = true;
    int values = 0;
    for (;;) {
        ParseExpression(0);
        ++values;
        if (p.code != ',' || p.depthExceeded) break;
        NextToken();
    }
    p.inCaseLabel = false;
    if (p.code == 'C' && CurrentText() == ":") {
        EmitText(std::string(":").append(std::to_string(values)), p.input);
        NextToken();
    } else if (!p.depthExceeded) {
        ReportParserError(msg::kColonOrCommaExpected);
    }
    p.valueCount = saved;
}

void MaybeEmitFirstOperation(uint16_t firstGroups, char firstCode) {
    ParserState& p = Parser();
    const bool operation = firstCode == 'O' || firstCode == 'F' || firstCode == 'v' || firstCode == 'y' ||
                           firstCode == 'n';
    if (p.firstOperationDone || !operation || IsDeclarationStart(firstGroups, firstCode)) return;
    EmitMarker(Keyword::FirstOp, p.input);
    p.firstOperationDone = true;
}

// Skips the rest of a statement whose expression went too deep.
void SkipBrokenStatement() {
    ParserState& p = Parser();
    ReportParserError(msg::kTooDeep);
    p.depthExceeded = false;
    while (p.code != ';' && p.code != kCodeEnd) NextToken();
    p.valueCount = 0;
    p.targetCount = 1;
    p.parseDepth = 0;
    p.argumentDepth = 0;
    p.parenthesisDepth = 0;
    p.valueWanted = false;
    p.inCaseLabel = false;
    p.declarationMode = 0;
    p.pendingNamespace = PendingNamespace{};
}

// The separator after a statement: ";" or ",", or else "Syntax error" and
// one token (and a ":" after it) skipped.
void ParseSeparator(TokenNode* first, bool exempt) {
    ParserState& p = Parser();
    if (p.code == ';' || p.code == ',') {
        if (Switches.profiling) EmitProfileToken(first);
        if (p.code == ';') {
            p.valueCount = 0;
            p.targetCount = 1;
        }
        NextToken();
        return;
    }
    // The end of the input ends the last statement as well.
    if (exempt || p.code == kCodeEnd) return;
    ReportParserError(msg::kSyntaxError);
    SkipToken();
    if (p.code == 'C') SkipToken();
}

void ParseOneStatement(TokenNode* first) {
    ParserState& p = Parser();
    const uint32_t firstHash = first->hash;
    const char firstCode = p.code;
    const bool caseLabel = IsCaseLabelStart(firstCode);
    const bool debug = Switches.debugMode;
    const uint16_t firstGroups = WordGroupsOf(firstHash);
    if (debug && !caseLabel && (firstGroups & (kLoopStart | kOwnDebugPlace)) == 0) EmitDebugToken(first);

    const bool directive = (firstGroups & kModeDirective) != 0;
    if (directive) {
        EmitText(CurrentText(), first);
        NextToken();
    } else if (caseLabel) {
        ParseCaseLabel();
    } else if (BeginsStatement(firstCode) || IsUnknownCall(first, firstCode)) {
        MaybeEmitFirstOperation(firstGroups, firstCode);
        ParseStatement();
    }
    if (firstCode != 'i') p.inheritedPending = false;
    if (p.depthExceeded) {
        SkipBrokenStatement();
    } else if (p.targetCount <= 1) {
        // A call whose result no one takes.
        for (; p.valueCount > 0; --p.valueCount) EmitFixedText(kDropStackMarker, first);
        p.valueCount = 0;
    }
    ParseSeparator(first, directive || caseLabel || EndsWithoutSeparator(firstGroups, firstCode));
    if (debug && (firstGroups & kBlockEnd)) EmitDebugToken(first);
}

// A child's text: expression items whose values stay for the caller.
void ParseChildItem(TokenNode* first) {
    ParserState& p = Parser();
    ParseExpression(0);
    if (p.depthExceeded) SkipBrokenStatement();
    ParseSeparator(first, false);
}

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace

namespace {

// ParseStatement for every token but a variable or a value. Apart, so that
// those two, the most common, run without the frame this one needs.
[[gnu::noinline]] void ParseOtherStatement() {
    ParserState& p = Parser();
    const bool statementLevel = !p.valueWanted && !InArguments();
    if (IsStatementOnlyCode(p.code) && !statementLevel) {
        ReportParserError(msg::kSyntaxError);
        SkipToken();
    } else if (IsProcedureCode(p.code)) {
        ParseProcedureDefinition();
    } else if (p.code == 'F' && statementLevel && ParseKeywordStatement()) {
        // done
    } else if (IsUnknownCall(p.input, p.code)) {
        ParseCall();  // reported there, after its arguments
    } else {
        switch (p.code) {
        case 'S': ParseClassDirective(); break;
        case 's': ParseEndClassDirective(); break;
        case 'o': ParseObjectDirective(); break;
        case 'i':
            // Inside an expression the inherited call is the operand itself.
            ParseInheritedDirective();
            if (!statementLevel) ParseStatement();
            break;
        case 'U': ParseNamespace(true); break;
        case 'u': ParseNamespace(false); break;
        case '`': ParseCodeDirective(); break;
        case 'y': ParseClassTyping(); break;
        default:
            if (ParseOperand()) break;
            if (p.code == ';' || p.code == ',' || p.code == kCodeEnd) {
                ReportParserError(msg::kExpressionExpected);
            } else {
                ReportParserError(msg::kSyntaxError);
                SkipToken();
            }
        }
    }
}

}  // namespace

void ParseStatement() {
    ParserState& p = Parser();
    if (p.depthExceeded) return;
    if (p.parseDepth >= kMaxParseDepth) {
        p.depthExceeded = true;
        return;
    }
    ++p.parseDepth;
    // A variable or a value, the most common: none of the tests below applies.
    if (p.code == 'O' || p.code == 'V')
        ParseOperand();
    else
        ParseOtherStatement();
    --p.parseDepth;
}

void ParseProcModifiers(ProcModifiers& modifiers) {
    ParserState& p = Parser();
    for (;; NextToken()) {
        switch (p.code) {
        case '3': modifiers.forward = true; continue;
        case 'k': modifiers.forceLink = true; continue;
        case '4':
            if (p.currentClass != nullptr && !p.classFromDottedName) ReportParserError(msg::kOverrideInClass);
            modifiers.override = true;
            continue;
        case 'E': modifiers.isPrivate = true; continue;
        case 'e': modifiers.isPrivate = false; continue;
        default: return;
        }
    }
}

void EmitDebugToken(const TokenNode* statement) {
    if (statement->hash == Hash(Keyword::DirectiveCode)) return;
    EmitMarker(Keyword::DebugMarker, statement);
}

void EmitProfileToken(const TokenNode* statement) {
    ParserState& p = Parser();
    // The file name: its name part when the file exists, else the text as
    // it stands, lower-cased either way. Looked up once per name.
    std::string shown = "<null>";
    if (p.hasFileName) {
        if (p.profileFileFor != p.fileName || p.profileFileShown.empty()) {
            p.profileFileFor = p.fileName;
            p.profileFileShown =
                LowerCase(FileExists(p.fileName) ? ExtractFileName(p.fileName) : std::string_view(p.fileName));
        }
        shown = p.profileFileShown;
    }
    EmitTextAt(QuotedText(shown), statement->line, statement->column);
    EmitTextAt(std::to_string(statement->line), statement->line, statement->column);
    EmitTextAt(kProfileMarker, statement->line, statement->column);
}

TokenNode* ParseStatementList() {
    ParserState& p = Parser();
    NextToken(true);
    while (p.code != kCodeEnd) {
        TokenNode* first = p.input;
        p.declarationMode = 0;
        if (p.childMode)
            ParseChildItem(first);
        else
            ParseOneStatement(first);
        // Nothing consumed: step over the token so the loop always ends.
        if (p.input == first) SkipToken();
        // The statement's input tokens are read: free them.
        DeleteTokensBefore(first, p.input);
    }
    return p.output;
}

TokenNode* ParseSource(const char* fileName, int mode, TokenNode* lastInputToken) {
    ResetParserState();
    ParserState& p = Parser();
    p.childMode = mode != 0;
    SetParserFileName(fileName);
    const TokenListHead head = FindTokenListHead(lastInputToken);
    p.input = head.first;
    p.tokenTotal = head.count;
    if (const auto& hooks = GetParserProgressHooks(); hooks.showText != nullptr)
        hooks.showText(std::string("Parsing (").append(ExtractFileName(p.fileName)).append(")..."));
    TokenNode* last = ParseStatementList();
    ResetParserState();
    return last;
}

}  // namespace qob
