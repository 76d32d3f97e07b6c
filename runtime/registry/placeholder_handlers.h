// runtime/registry/placeholder_handlers.h
// Stand-ins for the built-ins and opcodes whose subsystem is not built yet:
// registered with their argument rules so that programs calling them compile,
// and failing at run time with "<name>: not available yet".
#pragma once

#include "runtime/registry/function_table.h"

namespace qob {

struct BuiltinRegistration;

// The handler of a registration row (or opcode) whose real handler is not
// built yet. Never called: RegisterBuiltins installs a placeholder in its place.
void NotBuiltMarker();
inline constexpr BuiltinHandler kNotBuilt = &NotBuiltMarker;

// The placeholder of the name at this position of kRegistrationOrder, bound to
// its row: it takes the arguments the row promises (a fixed count, or every
// value of the closed argument frame), raises "<name>: not available yet"
// (continue 0) and pushes one empty value when the row returns one.
[[nodiscard]] BuiltinHandler BindBuiltinPlaceholder(int orderIndex, const BuiltinRegistration& row);

// The placeholder of an opcode: raises "<opcode name>: not available yet" and
// leaves the stack as the real handler would where that is fixed (the native
// calls take their arguments and the function forms push a result).
[[nodiscard]] BuiltinHandler OpcodePlaceholder(int opcode);

// What the developer report (tests/runtime/tools) counts: a placeholder is
// never counted as built.
[[nodiscard]] bool IsPlaceholderHandler(BuiltinHandler handler);

}  // namespace qob
