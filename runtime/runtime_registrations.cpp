// runtime/runtime_registrations.cpp
// The runtime core's rows of the start-up registration: keywords the compiler
// resolves itself, stack and frame steps, declarations, applications and runs.
#include "runtime/placeholder_handlers.h"
#include "runtime/registration.h"

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
    {"__debug",                  0, Nothing, Fixed,  kNotBuilt},
    {"HALT",                     0, Nothing, Fixed,  kNotBuilt},
    {"EXIT",                     0, Nothing, Fixed,  kNotBuilt},
    {"__dropfctstack",           0, Nothing, Fixed,  kNotBuilt},
    {"__dropallfctstack",        0, Nothing, Fixed,  kNotBuilt},
    {"__NOEXPLICITCHECK",        0, Nothing, Fixed,  kNotBuilt},
    {"=",                        0, Nothing, Fixed,  kNotBuilt},
    {"@",                        0, Nothing, Fixed,  kNotBuilt},
    {"__savesp",                 0, Nothing, Fixed,  kNotBuilt},
    {"__savesp2",                0, Nothing, Fixed,  kNotBuilt},
    {"import",                   0, Nothing, Fixed,  kNotBuilt},
    {"dupstack",                 0, Nothing, Fixed,  kNotBuilt},
    {"dropstack",                0, Nothing, Fixed,  kNotBuilt},
    {"clearstack",               0, Nothing, Fixed,  kNotBuilt},
    // 1 argument, no value
    {"compile",                  1, Nothing, Fixed,  kNotBuilt},
    {"debug",                    1, Nothing, Fixed,  kNotBuilt},
    {"killapp",                  1, Nothing, Fixed,  kNotBuilt},
    {"freeapp",                  1, Nothing, Fixed,  kNotBuilt},
    {"countstack",               1, Nothing, Fixed,  kNotBuilt},
    // 1 argument, returns a value
    {"run",                      1, Value,   Fixed,  kNotBuilt},
    {"runex",                    1, Value,   Fixed,  kNotBuilt},
    {"runfile",                  1, Value,   Fixed,  kNotBuilt},
    {"runfileex",                1, Value,   Fixed,  kNotBuilt},
    {"findapp",                  1, Value,   Fixed,  kNotBuilt},
    {"appname",                  1, Value,   Fixed,  kNotBuilt},
    {"appsize",                  1, Value,   Fixed,  kNotBuilt},
    {"appbuffer",                1, Value,   Fixed,  kNotBuilt},
    {"appform",                  1, Value,   Fixed,  kNotBuilt},
    {"appuniqueid",              1, Value,   Fixed,  kNotBuilt},
    {"ptr",                      1, Value,   Fixed,  kNotBuilt},
    // 2 arguments, no value
    {"__profile",                2, Nothing, Fixed,  kNotBuilt},
    // 2 arguments, returns a value
    {"functions",                2, Value,   Fixed,  kNotBuilt},
    {"variables",                2, Value,   Fixed,  kNotBuilt},
    // 3 arguments, no value
    {"ReadWrite",                3, Nothing, Fixed,  kNotBuilt},
    {"makeexe",                  3, Nothing, Fixed,  kNotBuilt},
    // 3 arguments, returns a value
    {"eval",                     3, Value,   Fixed,  kNotBuilt},
    // 5 arguments, returns a value
    {"createthread",             5, Value,   Fixed,  kNotBuilt},
    // any number of arguments, argument frame, no value
    {"LOCAL",                    0, Nothing, Framed, kNotBuilt},
    {"GLOBAL",                   0, Nothing, Framed, kNotBuilt},
    {"NGLOBAL",                  0, Nothing, Framed, kNotBuilt},
    {"PROTECT",                  0, Nothing, Framed, kNotBuilt},
    {"UNPROTECT",                0, Nothing, Framed, kNotBuilt},
    {"STATIC",                   0, Nothing, Framed, kNotBuilt},
    {"push",                     0, Nothing, Framed, kNotBuilt},
    {"pull",                     0, Nothing, Framed, kNotBuilt},
    {"public",                   0, Nothing, Framed, kNotBuilt},
    {"private",                  0, Nothing, Framed, kNotBuilt},
    // any number of arguments, argument frame, returns a value
    {"__MAKEMATRIX",             0, Value,   Framed, kNotBuilt},
};

}  // namespace

std::span<const BuiltinRegistration> KeywordRegistrations() {
    return kKeywords;
}

std::span<const BuiltinRegistration> RuntimeRegistrations() {
    return kRuntimeBuiltins;
}

}  // namespace qob
