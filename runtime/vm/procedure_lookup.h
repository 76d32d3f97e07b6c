// runtime/vm/procedure_lookup.h
// Lookups of compiled code by name: procedures in a procedure table or an
// instruction list, and class methods through the chain of base classes.
#pragma once

#include <cstdint>

#include "platform/memory.h"
#include "runtime/registry/function_table.h"

namespace qob {

struct ClassRecord;
struct Instruction;
struct ProcedureRecord;
struct ProgramContext;

// Set by the driver while it compiles a child context that shares its parent's
// stack and globals: FindProc then also finds the procedures of the parent
// contexts. Null otherwise.
extern ProgramContext* CompileParentContext;

// Where FindProc found a procedure: an index in the searched table, or the
// start node of a procedure of a parent context.
struct ProcLookup {
    int index = -1;
    Instruction* parentStart = nullptr;

    [[nodiscard]] bool Found() const { return index >= 0 || parentStart != nullptr; }
};

// A procedure of the table by its key "%s(%d,%d)" (or, with byBaseName, by the
// name alone), latest record first. A record declared before its code matches
// any argument count; unless keepCount is set, a call that expects a result
// also matches a function of the same name with another argument count (the
// parser then reports the count). A record of another namespace than
// CurrentNamespaceHash never matches. Nothing found in the table: the parent
// contexts of CompileParentContext are searched.
[[nodiscard]] ProcLookup FindProc(const char* name, ProcedureRecord* const* table, int count, bool keepCount,
                                  bool byBaseName, bool exact);

// The STARTPROC (or other) node with this handler whose procedure name, after
// its 4-character header, matches name; searched from node backwards.
// A name with "(" must match whole, except that a node whose result count is
// not 0 matches up to its ","; a name without "(" matches the node's name up
// to its "(".
[[nodiscard]] Instruction* FindProcedureNode(Instruction* node, BuiltinHandler handler, const char* name);

// The start node of the first procedure of the context's table whose name
// matches as in FindProcedureNode, or null.
[[nodiscard]] Instruction* FindProcedureByName(const ProgramContext* context, const char* name);

// The code of a method ("__CLASSCODE_<class>.<method>", method with its
// "(%d,%d)"), searched in the context's instruction list, then along the base
// classes, then in each parent context. Classes are those of the current
// context. A base chain that loops is cut after as many steps as there are
// classes.
[[nodiscard]] Instruction* FindClassCode(ProgramContext* context, BuiltinHandler startHandler, const char* className,
                                         const char* methodName);

// Frees the first count records of an array of records whose first field is an
// owned name (procedure tables, the linker's records), each name first, and
// empties their slots; count becomes 0, also when it was 0 or less.
template <class Record>
void FreeRecordArray(Record** records, int32_t& count) {
    for (int32_t i = 0; i < count; ++i) {
        if (!records[i]) continue;
        platform::FreeBlock(records[i]->name);
        platform::FreeBlock(records[i]);
        records[i] = nullptr;
    }
    count = 0;
}

}  // namespace qob
