// compiler/front_end/stream_kinds.h
// The kind bytes that open the texts of procedure headers, calls and
// assignment targets in the postfix stream, and the tests on them.
#pragma once

#include <cstdint>

namespace qob {

// Procedure headers: definitions, then FORWARD declarations. The N forms
// (NPROC, NFUNC) with no or one output have kinds of their own.
constexpr uint8_t kHeaderProc = 0xE9;          // no outputs
constexpr uint8_t kHeaderFunc = 0xEC;          // outputs (also an N form with two or more)
constexpr uint8_t kHeaderNProc = 0xEA;
constexpr uint8_t kHeaderNFunc = 0xC4;
constexpr uint8_t kForwardProc = 0xE8;
constexpr uint8_t kForwardFunc = 0xE7;
constexpr uint8_t kForwardNProc = 0xEB;
constexpr uint8_t kForwardNFunc = 0xEF;

// Calls: a procedure of the program, the class's own code through SELF, the
// base class's code (#INHERITED, base initialisers), a method of an object.
constexpr uint8_t kCallProcedure = 0xE0;
constexpr uint8_t kCallSelf = 0xE2;
constexpr uint8_t kCallInherited = 0xE4;
constexpr uint8_t kCallObject = 0xE5;

// Variables: the target of "=", and the variable a compound assignment,
// "++", "--" or an index works on.
constexpr uint8_t kAssignTarget = 0xFB;
constexpr uint8_t kModifiedVariable = 0xF9;

[[nodiscard]] constexpr bool IsDefinitionHeaderKind(uint8_t kind) {
    return kind == kHeaderProc || kind == kHeaderFunc || kind == kHeaderNProc || kind == kHeaderNFunc;
}
[[nodiscard]] constexpr bool IsForwardHeaderKind(uint8_t kind) {
    return kind == kForwardProc || kind == kForwardFunc || kind == kForwardNProc || kind == kForwardNFunc;
}
// N forms take any number of arguments: their records match any count.
[[nodiscard]] constexpr bool IsNFormHeaderKind(uint8_t kind) {
    return kind == kHeaderNProc || kind == kHeaderNFunc || kind == kForwardNProc || kind == kForwardNFunc;
}
// Kinds whose header carries its output count (the third character - 32).
[[nodiscard]] constexpr bool HeaderKindHasOutputs(uint8_t kind) {
    return kind == kHeaderFunc || kind == kHeaderNFunc || kind == kForwardFunc || kind == kForwardNFunc;
}

[[nodiscard]] inline uint8_t TextKind(const char* text) {
    return text ? static_cast<uint8_t>(text[0]) : 0;
}

}  // namespace qob
