// native/native_registrations.cpp
// The rows of the start-up registration for the inline assembler.
#include "native/native_registrations.h"

#include "runtime/registry/placeholder_handlers.h"

namespace qob {
namespace {

using enum Returns;
using enum Arity;

constexpr BuiltinRegistration kNativeBuiltins[] = {
    // name                    args returns   arity   handler
    // 1 argument, no value
    {"freeasm",                  1, Nothing, Fixed,  kNotBuilt},
    // 2 arguments, returns a value
    {"asm",                      2, Value,   Fixed,  kNotBuilt},
    // any number of arguments, argument frame, no value
    {"doasm",                    0, Nothing, Framed, kNotBuilt},
    {"callasm",                  0, Nothing, Framed, kNotBuilt},
};

}  // namespace

std::span<const BuiltinRegistration> NativeRegistrations() {
    return kNativeBuiltins;
}

}  // namespace qob
