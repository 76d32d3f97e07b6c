// builtins/reflection/reflection_builtins.cpp
// Addresses of variables, variables by name, kinds and extents, procedures
// by name or handle in this or another application, and the running code's
// place. Names are upper-cased in copies: the caller's text never changes.
// A procedure handle is accepted only as the start of a procedure of the
// application named (a live one) taking exactly the arguments given, so a
// refused call runs nothing.
#include "builtins/reflection/reflection_builtins.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builtins/memory/memory_arguments.h"
#include "builtins/operators/operator_values.h"
#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/objects.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

std::vector<StackEntry*> FrameCells(const FrameArguments& arguments) {
    std::vector<StackEntry*> cells;
    StackEntry* cell = arguments.saved;
    for (int64_t i = 0; i < arguments.count; ++i) cells.push_back(cell = cell->above);
    return cells;
}

// The name a cell gives (a number in its text form), upper-cased.
std::string UpperName(const StackEntry& cell) {
    const char* text = cell.text && !(cell.flags & kEntryMatrix) ? NarrowOperandText(cell) : StackEntryString(&cell);
    std::string name = text ? text : "";
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

void PushTrackedText(const char* text) {
    PushTextResult(CopyCellText(text ? text : "", false), false);
}

// Pushes an address entry that still names the variable.
void PushVariableAddress(VariableRecord* variable, double address) {
    StackEntry* cell = PushStackEntry(CurrentContext, true);
    cell->value = address;
    cell->text = nullptr;
    cell->variable = variable;
    cell->extra = 0;
    cell->flags = kEntryByReference;
}

// Cases of addr for a variable: an object's address, the data block, or the
// variable's own number.
void PushAddressOf(VariableRecord* variable) {
    if (variable->flags & kVarObject)
        return PushVariableAddress(variable, static_cast<double>(platform::TruncateTo32Bits<uint32_t>(variable->value)));
    if (variable->data) return PushVariableAddress(variable, AddressNumber(variable->data));
    PushVariableAddress(variable, AddressNumber(&variable->value));
}

// The application a cell names: 0 the current one, else a live context.
ProgramContext* ApplicationOf(const StackEntry& cell) {
    const double number = StackEntryNumber(&cell);
    if (number == 0.0) return CurrentContext;
    auto* context = reinterpret_cast<ProgramContext*>(
        static_cast<uintptr_t>(platform::TruncateTo32Bits<uint32_t>(number)));
    return IsLiveContext(context) ? context : nullptr;
}

// The procedure record whose start node is the handle, or null.
const ProcedureRecord* ProcedureOfHandle(const ProgramContext* context, uintptr_t handle) {
    if (!context || !handle) return nullptr;
    for (int32_t i = 0; i < context->procedureCount; ++i) {
        const ProcedureRecord* record = context->procedures[i];
        if (record && reinterpret_cast<uintptr_t>(record->start) == handle) return record;
    }
    return nullptr;
}

// The argument count of a key "%s(%d,%d)"; -1 without one.
int32_t KeyArgumentCount(const char* key) {
    const char* open = key ? std::strchr(key, '(') : nullptr;
    return open ? static_cast<int32_t>(std::strtol(open + 1, nullptr, 10)) : -1;
}

// A handle cell: its number's 32 bits, else its extra word.
uintptr_t HandleOf(const StackEntry& cell) {
    if (cell.value != 0.0) return platform::TruncateTo32Bits<uint32_t>(cell.value);
    return static_cast<uint32_t>(cell.extra);
}

// The start node a handle names when it is a procedure of the context that
// takes count arguments, else null.
Instruction* CheckedHandle(const ProgramContext* context, uintptr_t handle, size_t count) {
    const ProcedureRecord* record = ProcedureOfHandle(context, handle);
    if (!record || KeyArgumentCount(record->name) != static_cast<int32_t>(count)) return nullptr;
    return record->start;
}

double HandleNumber(const Instruction* start) { return AddressNumber(start); }

// What a procedure left: a copy of its text made at the caller's depth.
struct CallResult {
    bool present = false;
    double value = 0.0;
    const char* text = nullptr;
    uint32_t flags = 0;
    MemoryLink* ownedLinks = nullptr;
};

// Runs the procedure of the context with copies of the arguments in an
// argument frame of its own, and takes what it leaves off that stack. A
// call into another application runs at the caller's call depth, and the
// target's own depth is put back after it.
CallResult RunWithArguments(ProgramContext* target, Instruction* start, const std::vector<StackEntry>& arguments,
                            VariableRecord* object) {
    ProgramContext* caller = CurrentContext;
    const bool foreign = target != caller;
    const int32_t targetDepth = target->callDepth;
    if (foreign) target->callDepth = caller->callDepth;
    StackEntry* savedTop = target->stackTop;
    const int32_t savedFrames = target->argumentFrame.count;
    CallResult result;
    if (!OpenArgumentFrame(target)) return result;
    for (const StackEntry& argument : arguments) {
        StackEntry* cell = PushStackEntry(target, true);
        cell->value = argument.value;
        cell->text = argument.text;
        cell->variable = foreign ? nullptr : argument.variable;
        cell->extra = foreign ? 0 : argument.extra;
        cell->flags = foreign ? (argument.flags & (kEntryWide | kEntryMatrix)) : argument.flags;
    }
    if (object) ObjectToBind = object;
    const bool stopBefore = StopFlag;
    RunProcedureIn(target, start);
    CurrentContext = caller;
    // A target that ended itself (EXIT) stops its own runs, not the caller's.
    const bool targetEnded = !IsLiveContext(target) || target->endPending || EndingContext == target;
    if (foreign && targetEnded) StopFlag = stopBefore;
    if (!IsLiveContext(target)) return result;
    target->argumentFrame.count = savedFrames;
    StackEntry* top = target->stackTop;
    if (top != savedTop) {
        result.present = true;
        result.value = top->value;
        result.flags = top->flags & (kEntryWide | kEntryMatrix);
        if (top->text && (top->flags & kEntryMatrix)) {
            result.text = top->text;
            result.ownedLinks = top->ownedLinks;
            top->ownedLinks = nullptr;
        } else if (top->text) {
            char* copy = CopyCellText(top->text, (top->flags & kEntryWide) != 0);
            if (copy) TrackAllocation(caller, copy, 0, kTrackedBlock);
            result.text = copy;
        }
    }
    for (StackEntry* cell = target->stackTop; cell && cell != savedTop; cell = cell->below) {
        MemoryLink* links = cell->ownedLinks;
        cell->ownedLinks = nullptr;
        if (links) FreeLinkChain(links);
    }
    target->stackTop = savedTop;
    if (foreign) target->callDepth = targetDepth;
    return result;
}

void PushCallResult(const CallResult& result) {
    if (!result.present) return PushNumberResult(0.0);
    StackEntry* cell = PushStackEntry(CurrentContext, true);
    cell->value = result.value;
    cell->text = result.text;
    cell->variable = nullptr;
    cell->extra = 0;
    cell->flags = result.flags;
    cell->ownedLinks = result.ownedLinks;
}

std::vector<StackEntry> CopyCells(const std::vector<StackEntry*>& cells, size_t first) {
    std::vector<StackEntry> copies;
    for (size_t i = first; i < cells.size(); ++i) copies.push_back(*cells[i]);
    return copies;
}

// --- the lookup cache of getproc, getprocex and call ------------------------------
// The node of the running built-in keeps its last hit in its side record:
// the id of the application searched, the hash of the name (for getprocex,
// of the whole key) with the argument count (call), and the start node. A
// context's procedures never change while it lives, and its id is never
// that of another live context, so a hit stands for the full lookup. A miss
// is not kept.

uint64_t ProcedureKey(const std::string& name, int32_t count) {
    return (static_cast<uint64_t>(HashName(name.data(), name.size())) << 32) | static_cast<uint32_t>(count);
}

Instruction* CachedProcedure(const ProgramContext* target, uint64_t key) {
    const InstructionExtra* extra = CurrentInstruction ? CurrentInstruction->extra : nullptr;
    if (!extra || !extra->cachedProcedure || extra->cachedApplicationId != target->uniqueId ||
        extra->cachedProcedureKey != key)
        return nullptr;
    return extra->cachedProcedure;
}

void CacheProcedure(const ProgramContext* target, uint64_t key, Instruction* start) {
    if (!start || !CurrentInstruction || !CurrentContext->pool) return;
    InstructionExtra* extra = RequireInstructionExtra(CurrentContext->pool, CurrentInstruction);
    if (!extra) return;
    extra->cachedApplicationId = target->uniqueId;
    extra->cachedProcedureKey = key;
    extra->cachedProcedure = start;
}

// A lookup through the cache: key names the cache entry, find makes the full
// lookup.
template <class Find>
Instruction* LookUpProcedure(ProgramContext* target, uint64_t key, Find find) {
    if (!target) return nullptr;
    if (Instruction* cached = CachedProcedure(target, key)) return cached;
    Instruction* start = find();
    CacheProcedure(target, key, start);
    return start;
}

// The procedure a call names: a text is a name tried with a result first,
// a number a checked handle.
Instruction* CalledProcedure(ProgramContext* target, const StackEntry& procedure, size_t count) {
    if (!target) return nullptr;
    if (!procedure.text || (procedure.flags & kEntryMatrix)) return CheckedHandle(target, HandleOf(procedure), count);
    const std::string name = UpperName(procedure);
    Instruction* start = LookUpProcedure(target, ProcedureKey(name, static_cast<int32_t>(count)), [&] {
        Instruction* found = nullptr;
        for (int returns = 1; returns >= 0 && !found; --returns) {
            char key[600];
            std::snprintf(key, sizeof key, "%s(%zu,%d)", name.c_str(), count, returns);
            found = FindProcedureByName(target, key);
        }
        return found;
    });
    // A procedure marked so is not called from another application.
    if (start && target != CurrentContext && start->extra && start->extra->flagByte) return nullptr;
    return start;
}

VariableRecord* NamedVariable(const StackEntry& cell) {
    if (cell.variable) return cell.variable;
    const std::string name = UpperName(cell);
    return FindVariable(name.c_str(), 0);
}

}  // namespace

void Builtin_addr() {
    StackEntry* popped = PopStackEntry();
    const StackEntry cell = *popped;
    if (cell.variable) return PushAddressOf(cell.variable);
    if (cell.text) return PushNumberResult(AddressNumber(cell.text));
    // A plain number: the address of its own cell, which the result takes
    // over. Cells live as long as their context, so the address stays valid,
    // but what it holds changes with the next push there.
    PushNumberResult(AddressNumber(popped));
}

void Handle_ADDR2() {
    VariableRecord* variable = NodeVariable(CurrentInstruction);
    if (!variable) return PushNumberResult(0.0);
    PushAddressOf(variable);
}

void Builtin_getvar() {
    const std::string name = UpperName(*PopStackEntry());
    PushVariableRef(name.c_str());
}

void Builtin_setvar() {
    const StackEntry value = *PopStackEntry();
    const std::string name = UpperName(*PopStackEntry());
    VariableRecord* variable = FindVariable(name.c_str(), 0);
    if (!variable) return;
    const bool wide = value.text && (value.flags & kEntryWide);
    if (value.text && !(value.flags & kEntryMatrix)) {
        SetVariableValue(variable, value.text, value.value, nullptr,
                         static_cast<int64_t>(CellTextBytes(value.text, wide)));
        if (wide) variable->flags |= kVarWideText;
        else variable->flags &= ~kVarWideText;
    } else {
        StoreNumber(variable, value.value, nullptr);
    }
}

void Builtin_varexists() {
    const std::string name = UpperName(*PopStackEntry());
    PushTruthResult(FindVariable(name.c_str(), 0) != nullptr);
}

void Builtin_isvalidvar() {
    const std::string name = UpperName(*PopStackEntry());
    PushTruthResult(!name.empty() && (name.back() == '$' || name.back() == '%'));
}

void Builtin_vartype() {
    const StackEntry cell = *PopStackEntry();
    if (VariableRecord* variable = NamedVariable(cell)) return PushNumberResult(VarTypeOf(variable));
    PushNumberResult(cell.text ? ((cell.flags & kEntryWide) ? 7 : 1) : 0);
}

void Builtin_ltype() {
    const StackEntry cell = *PopStackEntry();
    if (VariableRecord* variable = NamedVariable(cell)) return PushNumberResult(ListTypeOf(variable));
    PushNumberResult(cell.text ? ((cell.flags & kEntryWide) ? 7 : 1) : 0);
}

void Builtin_vmax() {
    const StackEntry cell = *PopStackEntry();
    VariableRecord* variable = NamedVariable(cell);
    double extent = 1.7e308;
    if (variable && variable->elementCount) {
        uint64_t product = 0;
        for (int i = variable->dimensionCount; i-- > 0;) {
            const auto e = static_cast<uint32_t>(variable->dimensions[i]);
            product = product == 0 ? e : product * e;
        }
        extent = static_cast<double>(product);
    } else if (variable && (variable->flags & kVarStructure)) {
        int32_t fields = 0;
        for (const MemberDefinition* d = variable->members; d; d = d->next) ++fields;
        extent = fields;
    } else if (variable && variable->data) {
        extent = static_cast<double>(platform::GetBlockSize(variable->data));
    }
    PushNumberResult(extent);
}

void Builtin_empty() {
    const FrameArguments arguments = CloseFrameArguments();
    for (StackEntry* cell : FrameCells(arguments))
        if (VariableRecord* variable = TargetVariable(*cell)) {
            ClearVariable(CurrentContext, variable, false, false);
            variable->value = 0.0;
        }
    DropFrameArguments(arguments);
}

void Builtin_curproc() {
    const std::string name = CurrentProcName ? CurrentProcName : "";
    PushTrackedText(name.substr(0, name.find('(')).c_str());
}

void Builtin_getproc() {
    const std::string name = UpperName(*PopStackEntry());
    ProgramContext* target = ApplicationOf(*PopStackEntry());
    Instruction* start = LookUpProcedure(target, ProcedureKey(name, 0), [&] {
        return FindProcedureByName(target, name.substr(0, name.find('(')).c_str());
    });
    PushNumberResult(HandleNumber(start));
}

void Builtin_getprocex() {
    const auto returns = static_cast<int16_t>(PopSigned32());
    const auto count = static_cast<int16_t>(PopSigned32());
    const std::string name = UpperName(*PopStackEntry());
    ProgramContext* target = ApplicationOf(*PopStackEntry());
    char key[600];
    std::snprintf(key, sizeof key, "%s(%d,%d)", name.c_str(), count, returns);
    // The whole key is hashed: the same node may ask for other counts.
    Instruction* start = LookUpProcedure(target, ProcedureKey(key, 0), [&] { return FindProcedureByName(target, key); });
    PushNumberResult(HandleNumber(start));
}

void Builtin_call() {
    const FrameArguments arguments = CloseFrameArguments();
    const std::vector<StackEntry*> cells = FrameCells(arguments);
    Instruction* start = nullptr;
    ProgramContext* target = nullptr;
    if (cells.size() >= 2) {
        target = ApplicationOf(*cells[0]);
        start = CalledProcedure(target, *cells[1], cells.size() - 2);
    }
    CallResult result;
    if (start) result = RunWithArguments(target, start, CopyCells(cells, 2), nullptr);
    DropFrameArguments(arguments);
    PushCallResult(result);
}

void Builtin_objcall() {
    const FrameArguments arguments = CloseFrameArguments();
    const std::vector<StackEntry*> cells = FrameCells(arguments);
    if (cells.size() >= 2) {
        VariableRecord* object = TargetVariable(*cells[0]);
        const size_t count = cells.size() > 3 ? cells.size() - 3 : 0;
        Instruction* start = CheckedHandle(CurrentContext, HandleOf(*cells[1]), count);
        auto* head = object && (object->flags & kVarObject)
                         ? reinterpret_cast<VariableRecord*>(
                               static_cast<uintptr_t>(platform::TruncateTo32Bits<uint32_t>(object->value)))
                         : nullptr;
        if (head && platform::GetBlockSize(head) == sizeof(VariableRecord) && start) {
            const CallResult result = RunWithArguments(CurrentContext, start, CopyCells(cells, 3), head);
            if (result.ownedLinks) FreeLinkChain(result.ownedLinks);
        }
    }
    DropFrameArguments(arguments);
}

void Builtin_objaddr() {
    const StackEntry cell = *PopStackEntry();
    VariableRecord* variable = NamedVariable(cell);
    PushNumberResult(variable && (variable->flags & kVarObject)
                         ? static_cast<double>(platform::TruncateTo32Bits<uint32_t>(variable->value))
                         : 0.0);
}

void Builtin_currentline() {
    const InstructionExtra* extra = CurrentInstruction ? CurrentInstruction->extra : nullptr;
    PushNumberResult(extra ? extra->line : 0);
}

void Builtin_currentfilename() {
    const InstructionExtra* extra = CurrentInstruction ? CurrentInstruction->extra : nullptr;
    const char* file = extra && extra->sourceFile && *extra->sourceFile ? extra->sourceFile : CurrentContext->appName;
    PushTrackedText(file);
}

}  // namespace qob
