// builtins/builtin_registrations.h
// What the language built-ins give start-up registration: their rows, the rows
// of the typed operator opcodes, and the number rules of their operators.
#pragma once

#include <span>

#include "runtime/registry/registration.h"

namespace qob {

// The language built-ins' registration rows.
std::span<const BuiltinRegistration> LanguageBuiltinRegistrations();

// The rows of the opcodes whose handlers are typed operators ("+2", "==2",
// "=3", "++4", ...), which the optimiser puts in place of the generic ones.
std::span<const OpcodeRegistration> LanguageOpcodeRegistrations();

// Gives the runtime the number rule of each generic operator that has one,
// so that the machine can run a push and that operator without the stack.
void InstallOperatorNumberRules();

}  // namespace qob
