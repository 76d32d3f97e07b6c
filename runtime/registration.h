// runtime/registration.h
// Start-up registration of the fixed vocabulary: the 831 keywords, operators,
// compiler steps and built-ins, and the opcode name and handler tables.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/function_table.h"
#include "runtime/opcodes.h"

namespace qob {

// What a call leaves on the value stack.
enum class Returns : uint8_t { Nothing, Value };

// How the compiler counts a call's arguments. Fixed: exactly argumentCount,
// popped rightmost first. Any: any number, arranged by the parser. Framed: any
// number, after a __savesp step; the handler takes every value above the saved
// top, in push order.
enum class Arity : uint8_t { Fixed, Any, Framed };

// One row of a subsystem's registration table. The row is the only place where
// a built-in's argument rules are written.
struct BuiltinRegistration {
    std::string_view name;   // as the language spells it; registered upper-cased
    uint8_t argumentCount;   // for Arity::Fixed
    Returns returns;
    Arity arity;
    BuiltinHandler handler;  // null: a keyword the compiler resolves itself
};

// The registration tables, each defined beside the handlers of its subsystem.
// Each lists its rows grouped by argument rules; the order of the records in
// the function table comes from kRegistrationOrder.
std::span<const BuiltinRegistration> KeywordRegistrations();         // runtime/
std::span<const BuiltinRegistration> RuntimeRegistrations();         // runtime/
std::span<const BuiltinRegistration> LanguageBuiltinRegistrations(); // builtins/
std::span<const BuiltinRegistration> WindowsRegistrations();         // windows/
std::span<const BuiltinRegistration> NativeRegistrations();          // native/
std::span<const BuiltinRegistration> EngineRegistrations();          // engine/
std::span<const BuiltinRegistration> SoundRegistrations();           // sound/

inline constexpr int kRegisteredNameCount = 831;

// The order of the records: `functions` lists the names in this order, so
// programs see it. Each name has exactly one row in one of the tables above.
extern const std::array<std::string_view, kRegisteredNameCount> kRegistrationOrder;

// The row of every name of kRegistrationOrder, in that order.
[[nodiscard]] std::vector<const BuiltinRegistration*> RowsInRegistrationOrder();

// The handler of each opcode, or of a run of opcodes. Null: the opcode has no
// handler (its nodes are markers or data); kNotBuilt: its handler is not built
// yet and a placeholder stands in.
struct OpcodeRegistration {
    Opcode first;
    Opcode last;
    BuiltinHandler handler;
};
[[nodiscard]] std::span<const OpcodeRegistration> OpcodeRegistrations();

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

// Registers the 831 names in order and fills OpcodeHandlerTable. Runs once at
// start-up, on the GUI thread, before any script thread starts.
void RegisterBuiltins();

}  // namespace qob
