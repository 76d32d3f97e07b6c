// host/builtin_registry.h
// Start-up registration of the fixed vocabulary: the 831 keywords, operators,
// compiler steps and built-ins of every layer in their one order, the opcode
// handlers, and the hooks each layer gives the runtime.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/registry/registration.h"

namespace qob {

// The host's own rows: applications, runs and evaluations, the debugger and
// profiler steps.
std::span<const BuiltinRegistration> HostRegistrations();

// The order of the records: `functions` lists the names in this order, so
// programs see it. Each name has exactly one row in one layer's table.
extern const std::array<std::string_view, kRegisteredNameCount> kRegistrationOrder;

// The row of every name of kRegistrationOrder, in that order.
[[nodiscard]] std::vector<const BuiltinRegistration*> RowsInRegistrationOrder();

// The opcode rows of every layer.
[[nodiscard]] std::vector<OpcodeRegistration> OpcodeRegistrations();

// Fills the runtime's hooks from the layers that own them, registers the 831
// names in order and fills OpcodeHandlerTable. Runs once at start-up, on the
// GUI thread, before any script thread starts.
void RegisterBuiltins();

}  // namespace qob
