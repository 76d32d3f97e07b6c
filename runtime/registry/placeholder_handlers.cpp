// runtime/registry/placeholder_handlers.cpp
// One placeholder function per registered name and per opcode: handlers take
// no parameters, so each placeholder knows its row by being its own function.
#include "runtime/registry/placeholder_handlers.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <utility>

#include "runtime/registry/registration.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

// The row each built-in placeholder stands for, bound when it is registered.
std::array<const BuiltinRegistration*, kRegisteredNameCount> boundRows{};

void RaiseNotAvailable(std::string_view name) {
    char message[96];
    std::snprintf(message, sizeof message, "%.*s: not available yet", static_cast<int>(name.size()), name.data());
    RaiseRuntimeError(message, 0);
}

void RunBuiltinPlaceholder(int orderIndex) {
    const BuiltinRegistration& row = *boundRows[orderIndex];
    switch (row.arity) {
    case Arity::Fixed:
        for (int i = 0; i < row.argumentCount; ++i) DropStackEntry();
        break;
    case Arity::Framed: DropFunctionStack(0); break;
    case Arity::Any: break;  // the parser arranged the operands; nothing is promised
    }
    RaiseNotAvailable(row.name);
    if (row.returns == Returns::Value) PushValue(nullptr, 0.0, nullptr, 0);
}

// Native calls 109 to 176: SCALLP, SCALLF, CALLP, CALLF, each with 0 to 16
// arguments; the F forms push the function's result.
constexpr int kNativeCallFormSize = 17;

void RunOpcodePlaceholder(int opcode) {
    int argumentCount = 0;
    bool pushesResult = false;
    if (IsNativeCallOpcode(static_cast<uint32_t>(opcode))) {
        int offset = opcode - static_cast<int>(kFirstNativeCallOpcode);
        argumentCount = offset % kNativeCallFormSize;
        pushesResult = (offset / kNativeCallFormSize) % 2 == 1;
    }
    for (int i = 0; i < argumentCount; ++i) DropStackEntry();
    // Only named opcodes get a placeholder, but one is made for every number.
    const char* name = OpcodeNameTable[opcode];
    RaiseNotAvailable(name != nullptr ? name : "unnamed opcode");
    if (pushesResult) PushValue(nullptr, 0.0, nullptr, 0);
}

template <int Index>
void BuiltinPlaceholder() {
    RunBuiltinPlaceholder(Index);
}

template <int Opcode>
void OpcodePlaceholderHandler() {
    RunOpcodePlaceholder(Opcode);
}

template <int... Index>
constexpr std::array<BuiltinHandler, sizeof...(Index)> MakeBuiltinPlaceholders(
    std::integer_sequence<int, Index...>) {
    return {&BuiltinPlaceholder<Index>...};
}

template <int... Opcode>
constexpr std::array<BuiltinHandler, sizeof...(Opcode)> MakeOpcodePlaceholders(
    std::integer_sequence<int, Opcode...>) {
    return {&OpcodePlaceholderHandler<Opcode>...};
}

constexpr auto kBuiltinPlaceholders = MakeBuiltinPlaceholders(std::make_integer_sequence<int, kRegisteredNameCount>{});
constexpr auto kOpcodePlaceholders = MakeOpcodePlaceholders(std::make_integer_sequence<int, kOpcodeTableSize>{});

}  // namespace

void NotBuiltMarker() {
    assert(false && "kNotBuilt is a marker: RegisterBuiltins installs a placeholder instead");
}

BuiltinHandler BindBuiltinPlaceholder(int orderIndex, const BuiltinRegistration& row) {
    boundRows[orderIndex] = &row;
    return kBuiltinPlaceholders[orderIndex];
}

BuiltinHandler OpcodePlaceholder(int opcode) {
    return kOpcodePlaceholders[opcode];
}

bool IsPlaceholderHandler(BuiltinHandler handler) {
    auto contains = [handler](const auto& handlers) {
        return std::find(handlers.begin(), handlers.end(), handler) != handlers.end();
    };
    return handler && (contains(kBuiltinPlaceholders) || contains(kOpcodePlaceholders));
}

}  // namespace qob
