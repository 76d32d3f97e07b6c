// native/native_registrations.cpp
// The rows of the start-up registration for the inline assembler.
#include "native/native_registrations.h"

#include "native/asm_builtins.h"
#include "native/native_calls.h"
#include "runtime/registry/placeholder_handlers.h"

namespace qob {
namespace {

using enum Returns;
using enum Arity;

constexpr BuiltinRegistration kNativeBuiltins[] = {
    // name                    args returns   arity   handler
    // 1 argument, no value
    {"freeasm",                  1, Nothing, Fixed,  Builtin_freeasm},
    // 2 arguments, returns a value
    {"asm",                      2, Value,   Fixed,  Builtin_asm},
    // any number of arguments, argument frame, no value
    {"doasm",                    0, Nothing, Framed, Builtin_doasm},
    {"callasm",                  0, Nothing, Framed, Builtin_callasm},
};

}  // namespace

std::span<const BuiltinRegistration> NativeRegistrations() {
    return kNativeBuiltins;
}

std::span<const OpcodeRegistration> NativeOpcodeRegistrations() {
    return NativeCallOpcodeRows();
}

}  // namespace qob
