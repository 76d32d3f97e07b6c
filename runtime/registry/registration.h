// runtime/registry/registration.h
// How the fixed vocabulary is registered: the rows every layer gives for its
// keywords, operators, compiler steps and built-ins, the rows of the opcode
// handlers, and the opcode name and handler tables they fill.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/registry/function_table.h"
#include "runtime/vm/opcodes.h"

namespace qob {

// What a call leaves on the value stack.
enum class Returns : uint8_t { Nothing, Value };

// How the compiler counts a call's arguments. Fixed: exactly argumentCount,
// popped rightmost first. Any: any number, arranged by the parser. Framed: any
// number, after a __savesp step; the handler takes every value above the saved
// top, in push order.
enum class Arity : uint8_t { Fixed, Any, Framed };

// One row of a layer's registration table. The row is the only place where
// a built-in's argument rules are written.
struct BuiltinRegistration {
    std::string_view name;   // as the language spells it; registered upper-cased
    uint8_t argumentCount;   // for Arity::Fixed
    Returns returns;
    Arity arity;
    BuiltinHandler handler;  // null: a keyword the compiler resolves itself
    // The record's name hash, computed with the table at compile time.
    uint32_t nameHash = HashUpperCaseName(name);
};

// The runtime's own registration rows: the keywords the compiler resolves
// itself, and the runtime's built-ins. Every layer above has its own table
// (its <layer>_registrations.h); the host registers them all, in the order of
// its registration list (host/builtin_registry.h), which programs see.
std::span<const BuiltinRegistration> KeywordRegistrations();
std::span<const BuiltinRegistration> RuntimeRegistrations();

// How many names the function table holds after start-up registration.
inline constexpr int kRegisteredNameCount = 831;

// Registers one row as the record at orderIndex of the function table (a
// placeholder stands in for a handler not built yet); gives the record's index.
int RegisterRow(int orderIndex, const BuiltinRegistration& row);

// The handler of each opcode, or of a run of opcodes. Null: the opcode has no
// handler (its nodes are markers or data); kNotBuilt: its handler is not built
// yet and a placeholder stands in.
struct OpcodeRegistration {
    Opcode first;
    Opcode last;
    BuiltinHandler handler;
};
// The runtime's own opcode rows (the machine's handlers); the language
// built-ins give the rows of the typed operator opcodes.
[[nodiscard]] std::span<const OpcodeRegistration> RuntimeOpcodeRegistrations();

// Opcodes whose nodes run a registered built-in's handler: the slot takes the
// handler of that record, whatever it is, so the two stay one function.
struct OpcodeBuiltin {
    Opcode opcode;
    std::string_view builtin;
};
[[nodiscard]] std::span<const OpcodeBuiltin> OpcodeBuiltins();

// Opcode names, indexed by opcode number; an unused number holds none.
inline constexpr std::array<const char*, kOpcodeTableSize> OpcodeNameTable = [] {
    std::array<const char*, kOpcodeTableSize> names{};
#define QOB_OPCODE_NAME_SLOT(ident, number, name) names[number] = name;
    QOB_OPCODES(QOB_OPCODE_NAME_SLOT)
#undef QOB_OPCODE_NAME_SLOT
    return names;
}();

// Opcode handlers, indexed by opcode number; an unused number, or an opcode
// without a handler, holds none. Filled by RegisterBuiltins, read-only
// afterwards: the code generator takes each node's handler from here, and the
// compiled-file loader rebuilds every node's handler from its opcode byte.
extern std::array<BuiltinHandler, kOpcodeTableSize> OpcodeHandlerTable;

// The handler registered for the opcode (null before start-up registration).
// The machine tells a node of an opcode's plain form by it: a node holding
// another handler has had a step fused in or a handler put in its place.
[[nodiscard]] inline BuiltinHandler RegisteredHandler(Opcode opcode) {
    return OpcodeHandlerTable[static_cast<int>(opcode)];
}

// Fills OpcodeHandlerTable from the opcode rows of every layer, then gives the
// opcodes of OpcodeBuiltins the handlers of their records (registered
// before). Runs once at start-up, on the GUI thread, before any script
// thread starts.
void FillOpcodeHandlerTable(std::span<const OpcodeRegistration> rows);

}  // namespace qob
