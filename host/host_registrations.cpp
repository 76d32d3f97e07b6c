// host/host_registrations.cpp
// The host's rows of the start-up registration: applications, runs,
// evaluations and compiles of further code, the debugger and the profiler.
#include "host/app_builtins.h"
#include "host/builtin_registry.h"
#include "host/debugger_link.h"
#include "host/profiler.h"
#include "host/run_builtins.h"

namespace qob {
namespace {

using enum Returns;
using enum Arity;

constexpr BuiltinRegistration kHostBuiltins[] = {
    // name                    args returns   arity   handler
    // 0 arguments, no value
    {"__debug",                  0, Nothing, Fixed,  Builtin___debug},
    {"import",                   0, Nothing, Fixed,  Builtin_import},
    // 1 argument, no value
    {"compile",                  1, Nothing, Fixed,  Builtin_compile},
    {"debug",                    1, Nothing, Fixed,  Builtin_debug},
    {"killapp",                  1, Nothing, Fixed,  Builtin_killapp},
    {"freeapp",                  1, Nothing, Fixed,  Builtin_freeapp},
    // 1 argument, returns a value
    {"run",                      1, Value,   Fixed,  Builtin_run},
    {"runex",                    1, Value,   Fixed,  Builtin_runex},
    {"runfile",                  1, Value,   Fixed,  Builtin_runfile},
    {"runfileex",                1, Value,   Fixed,  Builtin_runfileex},
    {"findapp",                  1, Value,   Fixed,  Builtin_findapp},
    {"appname",                  1, Value,   Fixed,  Builtin_appname},
    {"appsize",                  1, Value,   Fixed,  Builtin_appsize},
    {"appbuffer",                1, Value,   Fixed,  Builtin_appbuffer},
    {"appform",                  1, Value,   Fixed,  Builtin_appform},
    {"appuniqueid",              1, Value,   Fixed,  Builtin_appuniqueid},
    // 2 arguments, no value
    {"__profile",                2, Nothing, Fixed,  Builtin___profile},
    // 2 arguments, returns a value
    {"functions",                2, Value,   Fixed,  Builtin_functions},
    {"variables",                2, Value,   Fixed,  Builtin_variables},
    // 3 arguments, no value
    {"makeexe",                  3, Nothing, Fixed,  Builtin_makeexe},
    // 3 arguments, returns a value
    {"eval",                     3, Value,   Fixed,  Builtin_eval},
};

}  // namespace

std::span<const BuiltinRegistration> HostRegistrations() {
    return kHostBuiltins;
}

}  // namespace qob
