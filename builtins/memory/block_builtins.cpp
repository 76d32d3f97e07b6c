// builtins/memory/block_builtins.cpp
// new, wnew, resize, free, sizeof and size. A free takes only what a program
// may give back: its variables' blocks, malloc blocks and the temporaries of
// its call depths; constants, freed blocks and other numbers are ignored.
#include "builtins/memory/block_builtins.h"

#include <cstdlib>
#include <cstring>

#include "builtins/memory/memory_arguments.h"
#include "builtins/memory/raw_memory.h"
#include "builtins/operators/operator_values.h"
#include "platform/memory.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/values/objects.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

void WriteBackListItem(VariableRecord* variable) {
    if (variable->currentNode) StoreListElement(variable);
}

// Gives the variable a new zeroed block of size bytes with the type code and
// flags; answers whether it got one.
bool GiveNewBlock(VariableRecord* variable, size_t size, int32_t type, uint32_t flags) {
    ClearVariable(CurrentContext, variable, true, false);
    void* block = AllocateValueBlock(size);
    if (!block) {
        variable->type = 0;
        return false;
    }
    variable->data = static_cast<char*>(block);
    variable->value = 0.0;
    variable->type = type;
    variable->flags |= flags;
    RegisterValueBlock(block);
    return true;
}

// Pops (variable, size argument) and makes the block new or wnew asks for.
void MakeVariableBlock(bool wide) {
    const int32_t argument = PopSigned32();
    StackEntry cell = *PopStackEntry();
    VariableRecord* variable = TargetVariable(cell);
    if (!variable) {
        PushNumberResult(0.0);
        return;
    }
    const int64_t magnitude = std::llabs(static_cast<int64_t>(argument));
    const bool made = wide ? GiveNewBlock(variable, static_cast<size_t>(magnitude) * 2, argument * 2,
                                          kVarOwnsData | kVarWideText | kVarHandedOver)
                           : GiveNewBlock(variable, static_cast<size_t>(ElementSize(argument)), argument,
                                          kVarOwnsData | kVarHandedOver);
    WriteBackListItem(variable);
    PushTruthResult(made && variable->type != 0);
}

// A temporary block of one of the context's call depths.
bool IsTrackedBlock(const void* address) {
    for (const TrackedAllocation* record = CurrentContext->tracking; record; record = record->older)
        if (record->object == address && record->kind == kTrackedBlock) return true;
    return false;
}

// Frees an address a program holds as a number or a text: a malloc block or
// a temporary of a call depth (taken off its list first, so it is freed once).
void FreeProgramAddress(void* address) {
    if (IsMallocBlock(address)) {
        ForgetMallocBlock(address);
    } else if (IsTrackedBlock(address)) {
        ForgetTrackedObject(CurrentContext, address);
    } else {
        return;
    }
    if (MemoryTracking) UnregisterMemoryBlock(address);
    platform::FreeBlock(address);
}

void FreeEntry(StackEntry& cell) {
    VariableRecord* variable = cell.variable;
    if (variable && (variable->flags & kVarObject)) {
        CallDestructor(CurrentContext, variable);
        return;
    }
    void* address = nullptr;
    if (variable && (variable->flags & kVarHandedOver) && variable->data)
        address = variable->data;
    else
        address = AddressPointer(EntryAddress(&cell));
    if (address && variable && address == variable->data) {
        if (variable->flags & kVarOwnsData) {
            const bool fromNew = (variable->flags & kVarHandedOver) != 0;
            ClearVariable(CurrentContext, variable, true, false);
            if (fromNew) {
                variable->flags &= ~kVarHandedOver;
                variable->type = 0;
            }
        } else if (variable->flags & kVarHandedOver) {
            // Storage of another variable it shares: let go of it, free nothing.
            variable->flags &= ~kVarHandedOver;
            variable->data = nullptr;
            variable->type = 0;
        }
    } else if (address) {
        FreeProgramAddress(address);
    }
    if (variable) WriteBackListItem(variable);
}

// Bytes of a text up to its terminator (16-bit units when wide).
size_t TextLength(const char* text, bool wide) {
    if (!text) return 0;
    if (!wide) return std::strlen(text);
    size_t units = 0;
    for (const char* p = text; p[0] || p[1]; p += 2) ++units;
    return units * 2;
}

}  // namespace

void Builtin_new() { MakeVariableBlock(false); }

void Builtin_wnew() { MakeVariableBlock(true); }

void Builtin_resize() {
    const int32_t code = PopSigned32();
    StackEntry cell = *PopStackEntry();
    VariableRecord* variable = TargetVariable(cell);
    if (!variable || variable->elementCount > 0) return;
    const size_t size = static_cast<size_t>(ElementSize(code));
    if (variable->data) {
        if (!(variable->flags & kVarOwnsData) || !platform::IsLiveBlock(variable->data)) return;
        if ((variable->flags & kVarStructure) && variable->members && size < static_cast<size_t>(variable->type))
            return;
        void* block = AllocateValueBlock(size);
        if (!block) return;
        const size_t old = platform::GetBlockSize(variable->data);
        std::memcpy(block, variable->data, old < size ? old : size);
        UnregisterValueBlock(variable->data);
        FreeValueBlock(variable->data);
        variable->data = static_cast<char*>(block);
        RegisterValueBlock(block);
        if (variable->members) RebaseStructMembers(variable);
    } else if (variable->flags & kVarOwnsData) {
        variable->data = static_cast<char*>(AllocateValueBlock(size));
        if (variable->data) RegisterValueBlock(variable->data);
    }
    variable->type = variable->data ? code : 0;
    variable->flags |= kVarOwnsData;
    WriteBackListItem(variable);
}

void Builtin_free() {
    const FrameArguments arguments = CloseFrameArguments();
    StackEntry* cell = CurrentContext->stackTop;
    for (int64_t i = 0; i < arguments.count; ++i, cell = cell->below) FreeEntry(*cell);
    DropFrameArguments(arguments);
}

void Builtin_sizeof() {
    const StackEntry cell = *PopStackEntry();
    double size = 8.0;
    if (cell.extra != 0) {
        size = 8.0;
    } else if (const VariableRecord* variable = cell.variable) {
        if (variable->elementCount)
            size = static_cast<double>(variable->elementCount) * ElementSize(variable->type);
        else if (variable->type != 0)
            size = ElementSize(variable->type);
        else if (variable->data)
            size = static_cast<double>(TextLength(variable->data, (variable->flags & kVarWideText) != 0));
    } else if (cell.text) {
        size = static_cast<double>(TextLength(cell.text, (cell.flags & kEntryWide) != 0));
    }
    PushNumberResult(size);
}

void Builtin_size() {
    const StackEntry cell = *PopStackEntry();
    double size = 8.0;
    if (cell.extra == 0 && cell.text) size = static_cast<double>(platform::GetBlockSize(cell.text));
    PushNumberResult(size);
}

}  // namespace qob
