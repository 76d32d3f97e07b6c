// runtime/registry/registration.cpp
// Registering a row as a function-table record, the machine's opcode rows,
// and the opcode handler table.
#include "runtime/registry/registration.h"

#include <cassert>

#include "runtime/registry/placeholder_handlers.h"
#include "runtime/values/assignment.h"
#include "runtime/values/declarations.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {

std::array<BuiltinHandler, kOpcodeTableSize> OpcodeHandlerTable{};

namespace {

constexpr OpcodeRegistration Single(Opcode opcode, BuiltinHandler handler) {
    return {opcode, opcode, handler};
}

// The machine's opcodes, in number order: with those of the language
// built-ins (LanguageOpcodeRegistrations) every named opcode but those of
// kOpcodeBuiltins. A row with a null handler says so; a missing row would be
// an opcode forgotten.
constexpr OpcodeRegistration kOpcodeHandlers[] = {
    Single(Opcode::STARTPROC, NopHandler),
    Single(Opcode::ENDPROC, Handle_ENDPROC),
    Single(Opcode::BRANCH, Handle_BRANCH),
    Single(Opcode::PUSHINT, Handle_PUSHINT),
    Single(Opcode::PUSHSTR, Handle_PUSHSTR),
    Single(Opcode::PUSHVAR, Handle_PUSHVAR),
    Single(Opcode::NGPUSHVAR, Handle_NGPUSHVAR),
    Single(Opcode::INITFOREACH, Handle_INITFOREACH),
    Single(Opcode::INITFOR, Handle_INITFOR),
    Single(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR),
    Single(Opcode::IF, ConditionalJumpHandler),
    Single(Opcode::EXPECT, PopTryHandler),
    Single(Opcode::WHILE, ConditionalJumpHandler),
    Single(Opcode::FOR, Handle_FOR),
    Single(Opcode::FOREACH, Handle_FOREACH),
    Single(Opcode::TRY, Handle_TRY),
    Single(Opcode::UNTIL, ConditionalJumpHandler),
    Single(Opcode::BREAK, Handle_BREAK),
    Single(Opcode::PUSHPROCADDR, Handle_PUSHPROCADDR),
    Single(Opcode::PULLCASE, Handle_PULLCASE),
    Single(Opcode::PUSHCASE, Handle_PUSHCASE),
    Single(Opcode::RETURN, Handle_RETURN),
    Single(Opcode::CALL, Handle_CALL),
    Single(Opcode::SELFCALL, Handle_SELFCALL),
    Single(Opcode::OBJRUN, Handle_OBJRUN),
    Single(Opcode::NPARMS, Handle_NPARMS),
    Single(Opcode::RANGEMODE, Handle_RANGEMODE),
    Single(Opcode::EXPLICITMODE, Handle_EXPLICITMODE),
    Single(Opcode::ASSIGN2, AssignOpcode),
    Single(Opcode::INTERNALCALL, nullptr),  // a built-in call node carries the built-in's own handler
    Single(Opcode::PUSHINTINT, Handle_PUSHINTINT),
    Single(Opcode::PUSHINTSTR, Handle_PUSHINTSTR),
    Single(Opcode::PUSHVARINT, Handle_PUSHVARINT),
    Single(Opcode::PUSHNGVARINT, Handle_PUSHNGVARINT),
    Single(Opcode::PUSHINTCASE, Handle_PUSHINTCASE),
    Single(Opcode::PUSHINTVAR, Handle_PUSHINTVAR),
    Single(Opcode::PUSHSTRVAR, Handle_PUSHSTRVAR),
    Single(Opcode::PUSHSTRSTR, Handle_PUSHSTRSTR),
    Single(Opcode::PUSHVARSTR, Handle_PUSHVARSTR),
    Single(Opcode::PUSHNGVARSTR, Handle_PUSHNGVARSTR),
    Single(Opcode::STARTPROCUNDEF, NopHandler),
    Single(Opcode::ELSE, nullptr),  // ELSE compiles to a BRANCH; the number stays unused
    Single(Opcode::EXCEPT, PopTryHandler),
    Single(Opcode::PUSHSTRINT, Handle_PUSHSTRINT),
    {Opcode::LPOS2, Opcode::GETKEYLIST2, nullptr},  // named, never run
    Single(Opcode::FIRST_OP, PatchPendingJump),
    Single(Opcode::PUSHVARVAR, Handle_PUSHVARVAR),
    Single(Opcode::PARMSPUSHVARVAR, Handle_PARMSPUSHVARVAR),
    Single(Opcode::NGPUSHVARVAR, Handle_NGPUSHVARVAR),
    {Opcode::DECLARE, Opcode::C_DECLAREAPI, nullptr},  // declaration records of compiled files
    Single(Opcode::FORWARDPROC, PatchPendingJump),
    Single(Opcode::INITWHILE, Handle_INITWHILE),
    Single(Opcode::ENDLOOP, Handle_ENDLOOP),
};

constexpr OpcodeBuiltin kOpcodeBuiltins[] = {
    {Opcode::ADDR, "addr"},
    {Opcode::RUNFILE, "runfile"},
    {Opcode::CLASS4, "__class4"},
    {Opcode::DROPFCTSTACK, "__dropfctstack"},
    {Opcode::DROPALLFCTSTACK, "__dropallfctstack"},
    {Opcode::SAVESP2, "__savesp2"},
    {Opcode::SAVESP, "__savesp"},
    {Opcode::STACKDROP, "dropstack"},
};

}  // namespace

std::span<const OpcodeRegistration> RuntimeOpcodeRegistrations() {
    return kOpcodeHandlers;
}

std::span<const OpcodeBuiltin> OpcodeBuiltins() {
    return kOpcodeBuiltins;
}

int RegisterRow(int orderIndex, const BuiltinRegistration& row) {
    BuiltinHandler handler =
        row.handler == kNotBuilt ? BindBuiltinPlaceholder(orderIndex, row) : row.handler;
    const int index = RegisterFunctionHashed(row.name, row.nameHash, handler);
    if (index < 0) return index;
    // A fixed arity keeps its count; any arity leaves the count 0.
    FunctionRecord& record = *FunctionRecordAt(index);
    record.returnsValue = row.returns == Returns::Value;
    switch (row.arity) {
    case Arity::Fixed: record.argumentCount = row.argumentCount; break;
    case Arity::Any: record.anyArity = 1; break;
    case Arity::Framed:
        record.anyArity = 1;
        record.argumentFrame = 1;
        break;
    }
    return index;
}

void FillOpcodeHandlerTable(std::span<const OpcodeRegistration> rows) {
    OpcodeHandlerTable.fill(nullptr);
    for (const OpcodeRegistration& row : rows)
        for (auto opcode = static_cast<int>(row.first); opcode <= static_cast<int>(row.last); ++opcode)
            OpcodeHandlerTable[opcode] = row.handler == kNotBuilt ? OpcodePlaceholder(opcode) : row.handler;
    for (const OpcodeBuiltin& shared : kOpcodeBuiltins)
        OpcodeHandlerTable[static_cast<int>(shared.opcode)] = FunctionRecordAt(FindFunctionByName(shared.builtin))->handler;
}

}  // namespace qob
