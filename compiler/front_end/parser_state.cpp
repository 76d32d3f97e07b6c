// compiler/front_end/parser_state.cpp
// The parser's state, the token classifier and the shared emit, message and
// local-name helpers.
#include "compiler/front_end/parser_state.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "compiler/class_list.h"
#include "compiler/compile_messages.h"
#include "compiler/front_end/token_list.h"
#include "compiler/procedure_table.h"
#include "runtime/data/hash.h"
#include "runtime/data/interned_names.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/keywords.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/switches.h"

namespace qob {
namespace {

ParserProgressHooks gProgressHooks;
// The last input token seen: messages raised at the end of input point at it.
const TokenNode* gLastInputToken = nullptr;

// Codes of the fixed words and operators, by keyword hash: an open-addressed
// table laid out by the C++ compiler (a code is never 0; 0 marks a free slot).
struct KeywordCodeSlot {
    uint32_t hash = 0;
    char code = 0;
};
constexpr size_t kKeywordCodeSlots = 256;  // a power of two, under a quarter full

constexpr size_t KeywordCodeSlotOf(uint32_t hash) { return (hash * 0x9E3779B1u >> 24) & (kKeywordCodeSlots - 1); }

constexpr auto kKeywordCodes = [] {
    std::array<KeywordCodeSlot, kKeywordCodeSlots> slots{};
    auto add = [&](Keyword keyword, char code) {
        const uint32_t hash = KeywordHashes[keyword];
        size_t at = KeywordCodeSlotOf(hash);
        while (slots[at].code != 0) at = (at + 1) & (kKeywordCodeSlots - 1);
        slots[at] = {hash, code};
    };
    add(Keyword::Default, 'V');
    add(Keyword::And, 'A');
    add(Keyword::Or, 'R');
    add(Keyword::Xor, 'R');
    add(Keyword::Not, 'N');
    add(Keyword::Mod, 'M');
    add(Keyword::Div, 'D');
    add(Keyword::Asl, 'L');
    add(Keyword::Shl, 'L');
    add(Keyword::ShiftLeftOperator, 'L');
    add(Keyword::Asr, 'h');
    add(Keyword::Shr, 'h');
    add(Keyword::ShiftRightOperator, 'h');
    for (Keyword keyword : {Keyword::Repeat, Keyword::While, Keyword::ForEach, Keyword::ForEachRev, Keyword::For,
                            Keyword::Until, Keyword::If, Keyword::Else, Keyword::End, Keyword::Return,
                            Keyword::Break, Keyword::Continue, Keyword::Case, Keyword::Try, Keyword::Except,
                            Keyword::Finally})
        add(keyword, 'F');
    add(Keyword::Proc, '1');
    add(Keyword::NProc, '1');
    add(Keyword::Func, '2');
    add(Keyword::NFunc, '2');
    add(Keyword::Forward, '3');
    add(Keyword::ForceLink, 'k');
    add(Keyword::Override, '4');
    add(Keyword::Public, 'e');
    add(Keyword::Private, 'E');
    add(Keyword::Less, '<');
    add(Keyword::Greater, '>');
    add(Keyword::LessEqual, '!');
    add(Keyword::GreaterEqual, '.');
    add(Keyword::NotEqual, kCodeNotEqual);
    add(Keyword::Equal, '=');
    add(Keyword::Semicolon, ';');
    add(Keyword::DirectiveCode, '`');
    add(Keyword::DirectiveNamespace, 'U');
    add(Keyword::DirectiveEndNamespace, 'u');
    add(Keyword::DirectiveClass, 'S');
    add(Keyword::DirectiveEndClass, 's');
    add(Keyword::DirectiveObject, 'o');
    add(Keyword::DirectiveInherited, 'i');
    return slots;
}();

// The code of a fixed word or operator; 0 for any other hash.
char KeywordCode(uint32_t hash) {
    for (size_t at = KeywordCodeSlotOf(hash); kKeywordCodes[at].code != 0; at = (at + 1) & (kKeywordCodeSlots - 1))
        if (kKeywordCodes[at].hash == hash) return kKeywordCodes[at].code;
    return 0;
}

// FORCEGLOBAL has no record of its own: it is read as GLOBAL.
int FindBuiltin(uint32_t hash) {
    if (hash == KeywordHashes[Keyword::ForceGlobal]) hash = KeywordHashes[Keyword::Global];
    return FindFunctionByHash(hash);
}

// First characters after which a text may have a code of its shape other
// than a name's: any other first character leaves only the "$"/"%" ending.
constexpr auto kShapedFirsts = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : std::string_view("&=%+-*/|^\":,~()@[].0123456789")) table[c] = true;
    return table;
}();

constexpr bool IsSigil(char c) { return c == '$' || c == '%'; }

// The length of a token's text: most are a few characters long.
size_t TextSize(const char* text) {
    if (text[0] == '\0') return 0;
    if (text[1] == '\0') return 1;
    if (text[2] == '\0') return 2;
    if (text[3] == '\0') return 3;
    return 4 + std::strlen(text + 4);
}

// Codes decided by the shape of the text alone; 0 when none applies. text
// has size characters and its NUL after them. Each case keeps the order of
// the tests that decide it: an assignment operator before a "$"/"%" ending,
// that ending before the shape of the operator itself.
[[gnu::always_inline]] constexpr char ClassifyByShape(const char* text, size_t size) {
    const char first = text[0];
    if (!kShapedFirsts[static_cast<unsigned char>(first)]) return size != 0 && IsSigil(text[size - 1]) ? 'O' : 0;
    const bool sigil = IsSigil(text[size - 1]);
    const bool assignment = size == 2 && text[1] == '=';  // "&=" "+=" "-=" "*=" "/=" "|=" "^="
    switch (first) {
    case '&':
        if (size == 1) return 'a';
        if (assignment) return '$';
        return sigil ? 'v' : 'l';
    case '=':
        if (size == 1) return '$';
        return sigil ? 'O' : 0;
    case '%':
        return size == 1 ? '%' : 'V';
    case ':':
        return size == 2 && text[1] == ':' ? 'n' : 'C';
    case ',':
        if (size == 1) return ',';
        return sigil ? 'O' : 0;
    case '~':
        return '~';
    case '+':
    case '-':
        if (assignment) return '$';
        if (sigil) return 'O';
        if (size == 2 && text[1] == first) return first == '+' ? 'p' : 'm';
        return first;
    case '*':
    case '/':
        if (assignment) return '$';
        return sigil ? 'O' : first;
    case '|':
        if (assignment) return '$';
        return sigil ? 'O' : 'r';
    case '^':
        if (assignment) return '$';
        return sigil ? 'O' : 'x';
    case '(': case ')': case '@': case '[': case ']':
        return sigil ? 'O' : first;
    case '.':
        return sigil ? 'O' : 'F';
    default:
        return 'V';  // a digit or '"'
    }
}

// The shape codes of the texts of one character (0: none).
constexpr auto kSingleCharacterCodes = [] {
    std::array<char, 256> codes{};
    for (int c = 1; c < 256; ++c) {
        const char text[2] = {static_cast<char>(c), '\0'};
        codes[c] = ClassifyByShape(text, 1);
    }
    return codes;
}();

// A word that is no operator or fixed keyword: a procedure, a class, a
// method of the class being defined, a built-in, or nothing known.
char ClassifyName(std::string_view text, uint32_t hash, int& builtinIndex) {
    ParserState& p = gParserState;
    if (text.find('.') != std::string_view::npos) return 'F';
    if (FindUnitProcedure(text, LookupNamespace(), false, true, false) >= 0) return 'F';
    if (p.currentClass != nullptr) {
        ClassRecord* searched = p.currentClass;
        if (p.inheritedPending) searched = searched->baseHash != 0 ? FindUnitClass(searched->baseHash) : nullptr;
        if (searched != nullptr &&
            FindClassCodeInBases(searched, nullptr, text, LookupNamespace(), true, p.inheritedPending) >= 0)
            return 'F';
    }
    if (FindUnitClass(hash) != nullptr) return 'y';
    builtinIndex = FindBuiltin(hash);
    return builtinIndex >= 0 ? 'F' : ' ';
}

// A text of no operator shape: a fixed word or operator, else a name.
// Apart from the shapes so that their common path stays short.
[[gnu::noinline]] char ClassifyWord(const TokenNode* token, std::string_view text, int& builtinIndex) {
    if (const char code = KeywordCode(token->hash); code != 0) {
        builtinIndex = FindBuiltin(token->hash);
        const bool builtinForm = token->next != nullptr && token->next->text[0] == '(';
        if ((code == 'e' || code == 'E') && builtinForm) return 'F';
        return code;
    }
    return ClassifyName(text, token->hash, builtinIndex);
}

}  // namespace

void SetParserProgressHooks(const ParserProgressHooks& hooks) { gProgressHooks = hooks; }
const ParserProgressHooks& GetParserProgressHooks() { return gProgressHooks; }

ParserState gParserState;

void SetParserFileName(const char* fileName) {
    gParserState.hasFileName = fileName != nullptr;
    gParserState.fileName = fileName != nullptr ? fileName : "";
    gParserState.internedFileName = InternName(fileName);
}

void ResetParserState() {
    gParserState = ParserState{};
    gLastInputToken = nullptr;
}

namespace {

// size: the length of the token's text (0 without a token).
inline char Classify(const TokenNode* token, size_t size, int& builtinIndex) {
    builtinIndex = -1;
    if (token == nullptr) return kCodeEnd;
    const char* text = token->text;
    const char code = size == 1 ? kSingleCharacterCodes[static_cast<unsigned char>(text[0])] : ClassifyByShape(text, size);
    if (code != 0) return code;
    return ClassifyWord(token, std::string_view(text, size), builtinIndex);
}

// #INHERITED in a class without a base: the call's name has nowhere to go.
[[gnu::noinline]] void CheckInheritedWord() {
    ParserState& p = gParserState;
    if (p.code != kCodeEnd && p.currentClass->baseHash == 0 && p.input->text[0] != '(') {
        ReportParserError(FormatParserMessage(parser_message::kNoInheritanceFound, p.currentClass->name));
        p.inheritedPending = false;
    }
}

}  // namespace

char ClassifyToken(const TokenNode* token, int& builtinIndex) {
    return Classify(token, token != nullptr ? TextSize(token->text) : 0, builtinIndex);
}

bool NextToken(bool reclassify) {
    ParserState& p = gParserState;
    if (!reclassify && p.input != nullptr) {
        p.input = p.input->next;
        if (++p.tokensRead >= p.nextReport && gProgressHooks.showPosition != nullptr)
            p.nextReport = gProgressHooks.showPosition(nullptr, p.tokensRead, p.tokenTotal);
    }
    if (p.input != nullptr) gLastInputToken = p.input;
    p.inputSize = p.input != nullptr ? TextSize(p.input->text) : 0;
    p.code = Classify(p.input, p.inputSize, p.builtinIndex);
    // The classifier only reads the #INHERITED state: asked after it, so
    // that no value waits across its calls.
    if (p.inheritedPending && p.currentClass != nullptr) CheckInheritedWord();
    return p.code != kCodeEnd && !p.depthExceeded;
}

bool CanStartOperand(char code) {
    switch (code) {
    case 'V': case 'O': case 'F': case 'v': case 'l': case '(': case '-': case '@':
    case 'N': case ')': case '~': case 'y': case 'n': case '[': case 'i':
        return true;
    default:
        return false;
    }
}

void SkipToken() {
    if (gParserState.input != nullptr) NextToken();
}

void SkipUnlessSeparator() {
    const char code = gParserState.code;
    if (code != ';' && code != ',' && code != ')' && code != kCodeEnd) SkipToken();
}

void SkipPastClosingParenthesis() {
    while (gParserState.code != ')' && gParserState.code != ';' && gParserState.code != kCodeEnd) SkipToken();
    if (gParserState.code == ')') SkipToken();
}

TokenNode* EmitTextAt(std::string_view text, int line, int column) {
    ParserState& p = gParserState;
    EmitHashedTokenInline(p.output, text, HashName(text.data(), text.size()), p.internedFileName, line, column);
    return p.output;
}

TokenNode* EmitText(std::string_view text, const TokenNode* source) {
    return source == nullptr ? EmitTextAt(text, 0, 0) : EmitTextAt(text, source->line, source->column);
}

TokenNode* EmitHashedText(std::string_view text, uint32_t hash, const TokenNode* source) {
    ParserState& p = gParserState;
    EmitHashedTokenInline(p.output, text, hash, p.internedFileName, source != nullptr ? source->line : 0,
                          source != nullptr ? source->column : 0);
    return p.output;
}

// Most of the parser's output is copies of its input: the append is taken in
// here, without a call for the usual short text.
TokenNode* EmitTokenCopy(const TokenNode* source) {
    ParserState& p = gParserState;
    EmitTokenCopyInline(p.output, source, p.internedFileName);
    return p.output;
}

TokenNode* InsertTextAfter(TokenNode* mark, std::string_view text, const TokenNode* source) {
    ParserState& p = gParserState;
    if (mark == nullptr) return EmitText(text, source);
    TokenNode* cursor = mark;
    // The output list stays the known one: the linker finds its head without a walk.
    InsertInternedToken(cursor, p.output, text, p.internedFileName, source ? source->line : 0,
                        source ? source->column : 0);
    if (mark == p.output) p.output = cursor;
    return cursor;
}

TokenNode* OutputMark(const TokenNode*) {
    ParserState& p = gParserState;
    if (p.output == nullptr) EmitTextAt(KeywordText(Keyword::Noop), 0, 0);
    return p.output;
}

void EmitPendingNamespace() {
    PendingNamespace& pending = gParserState.pendingNamespace;
    if (!pending.active || pending.text.empty()) return;
    EmitTextAt(KeywordText(Keyword::ScopeSeparator), pending.line, pending.column);
    EmitTextAt(pending.text, pending.line, pending.column);
    pending.text.clear();
}

uint32_t LookupNamespace() {
    const ParserState& p = gParserState;
    return p.pendingNamespace.active ? p.pendingNamespace.hash : p.currentNamespace;
}

void ReportParserErrorAt(std::string_view text, const TokenNode* token) {
    const ParserState& p = gParserState;
    ReportCompileMessage(p.hasFileName ? p.fileName.c_str() : nullptr, text, token, -1, false);
}

void ReportParserError(std::string_view text) {
    ReportParserErrorAt(text, gParserState.input != nullptr ? gParserState.input : gLastInputToken);
}

void ReportParserWarningAt(std::string_view text, const TokenNode* token) {
    const ParserState& p = gParserState;
    ReportCompileMessage(p.hasFileName ? p.fileName.c_str() : nullptr, text, token, -1, true);
}

void LocalNameCounts::Add(uint32_t hash) {
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    const uint32_t key = hash | 0x80000000u;
    size_t at = SlotOf(key);
    while (slots_[at].key != 0 && slots_[at].key != key) at = (at + 1) & (slots_.size() - 1);
    if (slots_[at].key == 0) {
        slots_[at].key = key;
        ++used_;
    }
    ++slots_[at].count;
}

void LocalNameCounts::Remove(uint32_t hash) {
    if (slots_.empty()) return;
    const uint32_t key = hash | 0x80000000u;
    for (size_t at = SlotOf(key); slots_[at].key != 0; at = (at + 1) & (slots_.size() - 1)) {
        if (slots_[at].key == key) {
            if (slots_[at].count > 0) --slots_[at].count;
            return;
        }
    }
}

void LocalNameCounts::Clear() {
    if (used_ == 0) return;
    std::fill(slots_.begin(), slots_.end(), Slot{});
    used_ = 0;
}

// Keeps the names still counted; the table stays at most half full.
void LocalNameCounts::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    used_ = 0;
    for (const Slot& slot : old) {
        if (slot.count == 0) continue;
        size_t at = SlotOf(slot.key);
        while (slots_[at].key != 0) at = (at + 1) & (slots_.size() - 1);
        slots_[at] = slot;
        ++used_;
    }
}

void AddLocalNameHash(uint32_t hash) {
    ParserState& p = gParserState;
    p.localNames.push_back({hash, p.blockDepth});
    p.localNameCounts.Add(hash);
}

void AddLocalName(std::string_view name) { AddLocalNameHash(HashText(name)); }

void DropLocalNamesFrom(int depth) {
    ParserState& p = gParserState;
    // Entries are added at the depth of the moment and a deeper block's
    // entries go when it ends, so the list is ordered by depth.
    while (!p.localNames.empty() && p.localNames.back().depth >= depth) {
        p.localNameCounts.Remove(p.localNames.back().hash);
        p.localNames.pop_back();
    }
    if (p.localNames.empty()) p.localNameCounts.Clear();
}

void CheckLocalName(const TokenNode* token, std::string_view name, uint32_t hash) {
    // A warning while warnings are off changes nothing: no need to look.
    if (!GetCompileMessageState().warningsEnabled) return;
    const ParserState& p = gParserState;
    if (name.empty() || name.back() != '$' || p.procedureKey.empty()) return;
    // Either way no warning: the table first, as most names used are local.
    if (p.localNameCounts.Contains(hash)) return;
    if (name.find('.') != std::string_view::npos && !Switches.parserWarnings) return;
    ReportParserWarningAt(parser_message::kNotLocal, token);
}

TokenNode* EmitKindText(unsigned char kind, std::string_view name, const TokenNode* source) {
    char buffer[64];
    if (name.size() < sizeof buffer) {
        buffer[0] = static_cast<char>(kind);
        std::memcpy(buffer + 1, name.data(), name.size());
        return EmitText(std::string_view(buffer, name.size() + 1), source);
    }
    std::string text(1, static_cast<char>(kind));
    text += name;
    return EmitText(text, source);
}

std::string QuotedText(std::string_view text) {
    std::string quoted(1, '"');
    quoted += text;
    quoted += '"';
    return quoted;
}

std::string ClassCodeName(std::string_view className) {
    std::string name = "__CLASSCODE_";
    name += className;
    return name;
}

bool EndsWithSigil(std::string_view text) {
    return !text.empty() && (text.back() == '$' || text.back() == '%');
}

uint32_t HashText(std::string_view text) { return HashName(text.data(), text.size()); }

std::string FormatParserMessage(const char* format, std::string_view argument) {
    std::string value(argument);
    int size = std::snprintf(nullptr, 0, format, value.c_str());
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, value.c_str());
    return text;
}

std::string FormatParserMessage(const char* format, int argument) {
    int size = std::snprintf(nullptr, 0, format, argument);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, argument);
    return text;
}

}  // namespace qob
