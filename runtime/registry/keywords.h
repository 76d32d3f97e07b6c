// runtime/registry/keywords.h
// The keyword vocabulary of the compiler: the hash of every keyword, directive,
// operator and internal marker that a compiler stage recognises a token by.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qob {

// Every stage compares a token's name hash with these, never its text. The
// tokenizer upper-cases words before hashing, so the texts are upper case.
#define QOB_KEYWORDS(X) \
    /* Control statements (18) */ \
    X(If, "IF") \
    X(Else, "ELSE") \
    X(End, "END") \
    X(For, "FOR") \
    X(ForEach, "FOREACH") \
    X(ForEachRev, "FOREACHREV") \
    X(While, "WHILE") \
    X(Repeat, "REPEAT") \
    X(Until, "UNTIL") \
    X(Try, "TRY") \
    X(Except, "EXCEPT") \
    X(Finally, "FINALLY") \
    X(Return, "RETURN") \
    X(Break, "BREAK") \
    X(Continue, "CONTINUE") \
    X(Case, "CASE") \
    X(Default, "DEFAULT") \
    X(ElseIfMarker, "__ELSEIF") \
    /* Procedures, scope, classes and structures (18) */ \
    X(Proc, "PROC") \
    X(Func, "FUNC") \
    X(NProc, "NPROC") \
    X(NFunc, "NFUNC") \
    X(Forward, "FORWARD") \
    X(Override, "OVERRIDE") \
    X(Public, "PUBLIC") \
    X(Private, "PRIVATE") \
    X(Local, "LOCAL") \
    X(Global, "GLOBAL") \
    X(ForceGlobal, "FORCEGLOBAL") \
    X(Create, "CREATE") \
    X(Destroy, "DESTROY") \
    X(Main, "MAIN") \
    X(WinMain, "WINMAIN") \
    X(Self, "SELF") \
    X(Struct, "STRUCT") \
    X(ScopeSeparator, "::") \
    /* Operators and separators (41) */ \
    X(Assign, "=") \
    X(Assign2, "=2") \
    X(Plus, "+") \
    X(Minus, "-") \
    X(Multiply, "*") \
    X(Divide, "/") \
    X(Percent, "%") \
    X(Ampersand, "&") \
    X(Bar, "|") \
    X(Caret, "^") \
    X(Less, "<") \
    X(Greater, ">") \
    X(GreaterEqual, ">=") \
    X(LessEqual, "<=") \
    X(Equal, "==") \
    X(NotEqual, "<>") \
    X(ShiftRightOperator, ">>") \
    X(ShiftLeftOperator, "<<") \
    X(Increment, "++") \
    X(Decrement, "--") \
    X(Increment2, "++2") \
    X(Decrement2, "--2") \
    X(PlusAssign, "+=") \
    X(MinusAssign, "-=") \
    X(MultiplyAssign, "*=") \
    X(DivideAssign, "/=") \
    X(AndAssign, "&=") \
    X(OrAssign, "|=") \
    X(XorAssign, "^=") \
    X(And, "AND") \
    X(Or, "OR") \
    X(Xor, "XOR") \
    X(Not, "NOT") \
    X(Mod, "MOD") \
    X(Div, "DIV") \
    X(Asl, "ASL") \
    X(Asr, "ASR") \
    X(Shl, "SHL") \
    X(Shr, "SHR") \
    X(Semicolon, ";") \
    X(LineEndMarker, "__NL") \
    /* Compiler-internal markers and steps of the token stream (28) */ \
    X(DebugMarker, "__DEBUG") \
    X(StartCase, "__STARTCASE") \
    X(StartWhile, "__STARTWHILE") \
    X(StartForEach, "__STARTFOREACH") \
    X(StartFor, "__STARTFOR") \
    X(StartRepeat, "__STARTREPEAT") \
    X(VarAddr, "__VARADDR") \
    X(AddrMarker, "__ADDR") \
    X(PushAddr, "PUSHADDR") \
    X(DropFctStack, "__DROPFCTSTACK") \
    X(DropAllFctStack, "__DROPALLFCTSTACK") \
    X(Offset, "__OFFSET") \
    X(Offset1, "__OFFSET1") \
    X(Offset2_1, "__OFFSET2_1") \
    X(SaveSp, "__SAVESP") \
    X(SaveSp2, "__SAVESP2") \
    X(PushProcAddr, "PUSHPROCADDR") \
    X(PushInt, "PUSHINT") \
    X(PushStr, "PUSHSTR") \
    X(PushVar, "PUSHVAR") \
    X(PushCase, "PUSHCASE") \
    X(ParmsPushVar, "PARMSPUSHVAR") \
    X(NgPushVar, "NGPUSHVAR") \
    X(Noop, "__NOOP") \
    X(EndDecl, "__ENDDECL") \
    X(EndDecl2, "__ENDDECL2") \
    X(FirstOp, "FIRST_OP") \
    X(ForceLink, "FORCELINK") \
    /* Directives (33) */ \
    X(DirectiveIfdef, "#IFDEF") \
    X(DirectiveIfndef, "#IFNDEF") \
    X(DirectiveElseIf, "#ELSEIF") \
    X(DirectiveElse, "#ELSE") \
    X(DirectiveEndIf, "#ENDIF") \
    X(DirectiveDefine, "#DEFINE") \
    X(DirectiveUndef, "#UNDEF") \
    X(DirectiveInclude, "#INCLUDE") \
    X(DirectiveImport, "#IMPORT") \
    X(DirectiveDeclare, "#DECLARE") \
    X(DirectiveDeclareApi, "#DECLAREAPI") \
    X(DirectiveCDeclare, "#C_DECLARE") \
    X(DirectiveCDeclareApi, "#C_DECLAREAPI") \
    X(DirectiveCode, "#CODE") \
    X(DirectiveDeasm, "#DEASM") \
    X(DirectiveDebugFile, "#DEBUGFILE") \
    X(DirectiveDebugOn, "#DEBUGON") \
    X(DirectiveDebugOff, "#DEBUGOFF") \
    X(DirectiveNoWarning, "#NOWARNING") \
    X(DirectiveIcon, "#ICON") \
    X(DirectiveNamespace, "#NAMESPACE") \
    X(DirectiveEndNamespace, "#ENDNAMESPACE") \
    X(DirectiveGlobals, "#GLOBALS") \
    X(DirectiveLocals, "#LOCALS") \
    X(DirectiveLibrary, "#LIBRARY") \
    X(DirectiveLink, "#LINK") \
    X(DirectiveNoQoc, "#NOQOC") \
    X(DirectiveRangeCheck, "#RANGECHECK") \
    X(DirectiveExplicit, "#EXPLICIT") \
    X(DirectiveClass, "#CLASS") \
    X(DirectiveInherited, "#INHERITED") \
    X(DirectiveEndClass, "#ENDCLASS") \
    X(DirectiveObject, "#OBJECT")

enum class Keyword : uint8_t {
#define QOB_KEYWORD_ENUM(name, text) name,
    QOB_KEYWORDS(QOB_KEYWORD_ENUM)
#undef QOB_KEYWORD_ENUM
};

inline constexpr size_t kKeywordCount = 0
#define QOB_KEYWORD_COUNT(name, text) +1
    QOB_KEYWORDS(QOB_KEYWORD_COUNT)
#undef QOB_KEYWORD_COUNT
    ;

inline constexpr std::array<std::string_view, kKeywordCount> kKeywordTexts = {
#define QOB_KEYWORD_TEXT(name, text) text,
    QOB_KEYWORDS(QOB_KEYWORD_TEXT)
#undef QOB_KEYWORD_TEXT
};

// HashName at compile time. Keyword texts are ASCII, but the bytes are still
// read as signed, as HashName does, so any text gives the same hash.
[[nodiscard]] constexpr uint32_t HashNameConstant(std::string_view text) {
    uint32_t h = 0;
    for (char c : text) h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
    return h & 0x7FFFFFFFu;
}

// The hashes, indexed by keyword. Constants, so a stage can switch on a token's
// hash: case KeywordHashes[Keyword::If]: ...
struct KeywordHashTable {
    std::array<uint32_t, kKeywordCount> hashes;

    [[nodiscard]] constexpr uint32_t operator[](Keyword keyword) const {
        return hashes[static_cast<size_t>(keyword)];
    }
};

inline constexpr KeywordHashTable KeywordHashes = [] {
    KeywordHashTable table{};
    for (size_t i = 0; i < kKeywordCount; ++i) table.hashes[i] = HashNameConstant(kKeywordTexts[i]);
    return table;
}();

[[nodiscard]] constexpr std::string_view KeywordText(Keyword keyword) {
    return kKeywordTexts[static_cast<size_t>(keyword)];
}

static_assert(kKeywordCount == 138);
// A stage tells keywords apart by hash alone, so no two may share one.
static_assert([] {
    for (size_t i = 0; i < kKeywordCount; ++i)
        for (size_t j = i + 1; j < kKeywordCount; ++j)
            if (KeywordHashes.hashes[i] == KeywordHashes.hashes[j]) return false;
    return true;
}());

}  // namespace qob
