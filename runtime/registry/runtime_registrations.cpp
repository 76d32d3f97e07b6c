// runtime/registry/runtime_registrations.cpp
// The runtime core's rows of the start-up registration: keywords the compiler
// resolves itself, stack and frame steps, declarations and script threads.
#include "runtime/registry/placeholder_handlers.h"
#include "runtime/registry/registration.h"
#include "runtime/values/assignment.h"
#include "runtime/values/declarations.h"
#include "runtime/vm/script_threads.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

using enum Returns;
using enum Arity;

constexpr BuiltinRegistration kKeywords[] = {
    // name                    args returns   arity   handler
    // 0 arguments, no value
    {"ELSE",                     0, Nothing, Fixed,  nullptr},
    {"REPEAT",                   0, Nothing, Fixed,  nullptr},
    {"END",                      0, Nothing, Fixed,  nullptr},
    {"BREAK",                    0, Nothing, Fixed,  nullptr},
    {"CONTINUE",                 0, Nothing, Fixed,  nullptr},
    {"__enddecl",                0, Nothing, Fixed,  nullptr},
    {"__enddecl2",               0, Nothing, Fixed,  nullptr},
    {"TRY",                      0, Nothing, Fixed,  nullptr},
    {"EXCEPT",                   0, Nothing, Fixed,  nullptr},
    {"FINALLY",                  0, Nothing, Fixed,  nullptr},
    // any number of arguments, no value
    {"IF",                       0, Nothing, Any,    nullptr},
    {"__ELSEIF",                 0, Nothing, Any,    nullptr},
    {"UNTIL",                    0, Nothing, Any,    nullptr},
    {"WHILE",                    0, Nothing, Any,    nullptr},
    {"FOREACH",                  0, Nothing, Any,    nullptr},
    {"FOREACHREV",               0, Nothing, Any,    nullptr},
    {"FOR",                      0, Nothing, Any,    nullptr},
    {"CASE",                     0, Nothing, Any,    nullptr},
    // any number of arguments, argument frame, no value
    {"RETURN",                   0, Nothing, Framed, nullptr},
};

constexpr BuiltinRegistration kRuntimeBuiltins[] = {
    // name                    args returns   arity   handler
    // 0 arguments, no value
    {"HALT",                     0, Nothing, Fixed,  Builtin_HALT},
    {"EXIT",                     0, Nothing, Fixed,  Builtin_EXIT},
    {"__dropfctstack",           0, Nothing, Fixed,  Builtin___dropfctstack},
    {"__dropallfctstack",        0, Nothing, Fixed,  Builtin___dropallfctstack},
    {"__NOEXPLICITCHECK",        0, Nothing, Fixed,  Builtin___NOEXPLICITCHECK},
    {"=",                        0, Nothing, Fixed,  AssignStatement},
    {"@",                        0, Nothing, Fixed,  Builtin_ptr},
    {"__savesp",                 0, Nothing, Fixed,  Builtin___savesp},
    {"__savesp2",                0, Nothing, Fixed,  Builtin___savesp2},
    {"dupstack",                 0, Nothing, Fixed,  Builtin_dupstack},
    {"dropstack",                0, Nothing, Fixed,  Builtin_dropstack},
    {"clearstack",               0, Nothing, Fixed,  Builtin_clearstack},
    // 1 argument, no value
    {"countstack",               1, Nothing, Fixed,  Builtin_countstack},
    // 1 argument, returns a value
    {"ptr",                      1, Value,   Fixed,  Builtin_ptr},
    // 3 arguments, no value
    {"ReadWrite",                3, Nothing, Fixed,  Builtin_ReadWrite},
    // 5 arguments, returns a value
    {"createthread",             5, Value,   Fixed,  Builtin_createthread},
    // any number of arguments, argument frame, no value
    {"LOCAL",                    0, Nothing, Framed, Builtin_LOCAL},
    {"GLOBAL",                   0, Nothing, Framed, Builtin_GLOBAL},
    {"NGLOBAL",                  0, Nothing, Framed, Builtin_NGLOBAL},
    {"PROTECT",                  0, Nothing, Framed, Builtin_PROTECT},
    {"UNPROTECT",                0, Nothing, Framed, Builtin_UNPROTECT},
    {"STATIC",                   0, Nothing, Framed, Builtin_STATIC},
    {"push",                     0, Nothing, Framed, Builtin_push},
    {"pull",                     0, Nothing, Framed, Builtin_pull},
    {"public",                   0, Nothing, Framed, Builtin_public},
    {"private",                  0, Nothing, Framed, Builtin_private},
    // any number of arguments, argument frame, returns a value
    {"__MAKEMATRIX",             0, Value,   Framed, Builtin___MAKEMATRIX},
};

}  // namespace

std::span<const BuiltinRegistration> KeywordRegistrations() {
    return kKeywords;
}

std::span<const BuiltinRegistration> RuntimeRegistrations() {
    return kRuntimeBuiltins;
}

}  // namespace qob
