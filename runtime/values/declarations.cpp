// runtime/values/declarations.cpp
// Declaration keywords (LOCAL, GLOBAL, NGLOBAL, STATIC, PROTECT, public, ...),
// ReadWrite, the matrix-building step, the pointer operator, the two mode
// opcodes and the program-end keywords HALT and EXIT.
#include "runtime/values/declarations.h"

#include "platform/c_library.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/registry/hooks.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>

namespace qob {

namespace {

// The variable an argument entry names: the one it carries, else the one its
// text (or its number as text) names in the local list.
VariableRecord* ResolveEntry(const StackEntry* entry) {
    if (entry->variable)
        return entry->variable;
    if (entry->text)
        return RequireVariable(LocalVariableList, entry->text);
    char number[kNumberTextSize];
    FormatNumber(entry->value, number);
    return RequireVariable(LocalVariableList, number);
}

// Closes the innermost frame and applies the action to each argument's
// variable, the rightmost first.
template <typename Action>
void ForEachFrameVariable(Action action) {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    for (StackEntry* entry = context->stackTop; entry && entry != saved; entry = context->stackTop) {
        context->stackTop = entry->below;
        FreeLinkChain(entry->ownedLinks);
        entry->ownedLinks = nullptr;
        if (VariableRecord* v = ResolveEntry(entry))
            action(v);
    }
}

void Unlink(VariableRecord* v) {
    if (v == LocalVariableList)
        LocalVariableList = v->next;
    if (v == ConstantList)
        ConstantList = v->next;
    if (v->previous)
        v->previous->next = v->next;
    if (v->next)
        v->next->previous = v->previous;
    if (LocalVariableList)
        LocalVariableList->previous = nullptr;
    if (ConstantList)
        ConstantList->previous = nullptr;
    v->previous = v->next = nullptr;
}

void AppendToGlobals(ProgramContext* context, VariableRecord* v) {
    Unlink(v);
    if (!context->globalHead) {
        context->globalHead = v;
    } else {
        VariableRecord* last = context->globalHead;
        while (last->next)
            last = last->next;
        last->next = v;
        v->previous = last;
    }
    v->owner = context->globalHead;
}

// Moves a variable (and a structure's members with it) to the globals.
void MoveToGlobals(ProgramContext* context, VariableRecord* v, uint32_t scope) {
    AppendToGlobals(context, v);
    v->scope = scope;
    for (MemberDefinition* d = v->members; d; d = d->next)
        if (d->member && d->member->owner != context->globalHead)
            MoveToGlobals(context, d->member, scope);
}

VariableRecord* FindGlobal(ProgramContext* context, uint32_t hash, uint32_t scope) {
    for (VariableRecord* r = context->globalHead; r; r = r->next)
        if (r->hash == hash && r->scope == scope)
            return r;
    return nullptr;
}

uint32_t CurrentNamespace() {
    return CurrentInstruction && CurrentInstruction->extra ? CurrentInstruction->extra->namespaceHash : 0;
}

void SetMemberVisibility(bool makePublic) {
    ForEachFrameVariable([&](VariableRecord* v) {
        // Outside a method there is no instance to declare members of.
        if (!MemberList)
            return;
        if (v->owner != MemberList)
            v = CreateVariable(MemberList, v->name, true);
        if (!v)
            return;
        if (makePublic)
            v->flags |= kVarPublic;
        else
            v->flags &= ~kVarPublic;
    });
    NoExplicitCheck = 0;
}

Instruction* ProcedureOf(const StackEntry* entry) {
    double number = entry->text ? StringToNumber(entry->text) : entry->value;
    auto address = static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(number));
    return reinterpret_cast<Instruction*>(address);
}

}  // namespace

void Builtin_LOCAL() {
    ProgramContext* context = CurrentContext;
    ForEachFrameVariable([&](VariableRecord* v) {
        if (v->owner == context->globalHead && v->name)
            CreateVariable(LocalVariableList, v->name, true);
    });
    NoExplicitCheck = 0;
}

void Builtin_GLOBAL() {
    ProgramContext* context = CurrentContext;
    ForEachFrameVariable([&](VariableRecord* v) {
        if (v->owner == context->globalHead || (MemberList && v->owner == MemberList))
            return;
        // A global of that name already exists: the local steps aside and
        // stands for it, instead of a second record nobody could reach.
        if (VariableRecord* existing = FindGlobal(context, v->hash, 0)) {
            ReleaseVariable(context, v, false, false);
            v->reference = existing;
            return;
        }
        MoveToGlobals(context, v, 0);
    });
    NoExplicitCheck = 0;
}

void Builtin_NGLOBAL() {
    ProgramContext* context = CurrentContext;
    uint32_t scope = CurrentNamespace();
    ForEachFrameVariable([&](VariableRecord* v) {
        if ((ConstantList && v->owner == ConstantList) || (MemberList && v->owner == MemberList))
            return;
        if (v->owner == context->globalHead)
            v->scope = scope;
        else
            MoveToGlobals(context, v, scope);
    });
    NoExplicitCheck = 0;
}

void Builtin_STATIC() {
    ForEachFrameVariable([](VariableRecord* v) { v->flags &= ~kVarOwnsData; });
}

void Builtin_PROTECT() {
    ForEachFrameVariable([](VariableRecord* v) { v->protect = 1; });
    NoExplicitCheck = 0;
}

void Builtin_UNPROTECT() {
    ForEachFrameVariable([](VariableRecord* v) { v->protect = 0; });
    NoExplicitCheck = 0;
}

void Builtin_public() {
    SetMemberVisibility(true);
}

void Builtin_private() {
    SetMemberVisibility(false);
}

void Builtin_ReadWrite() {
    Instruction* setter = ProcedureOf(PopStackEntry());
    Instruction* getter = ProcedureOf(PopStackEntry());
    StackEntry* entry = PopStackEntry();
    VariableRecord* v = ResolveEntry(entry);
    if (!v)
        return;
    v->getter = getter;
    v->setter = setter;
}

void Builtin___MAKEMATRIX() {
    ProgramContext* context = CurrentContext;
    StackEntry* saved = CloseArgumentFrame(context);
    uint32_t count = 0;
    for (StackEntry* e = context->stackTop; e && e != saved; e = e->below)
        ++count;
    // The cell run belongs to the call depth; the copies in it to the entry's links.
    auto* cells = static_cast<MatrixCell*>(platform::AllocateZeroedBlock((count + 1) * sizeof(MatrixCell)));
    MemoryLink* links = nullptr;
    // Arguments fill the cells in push order: the lowest entry is the first.
    StackEntry* entry = saved ? saved->above : nullptr;
    for (uint32_t i = 0; cells && i < count; ++i, entry = entry->above) {
        MatrixCell* cell = &cells[i];
        // An object is held by its instance address, as programs pass objects
        // around (its text is only the class name); the matrix refers to the
        // instance and never frees it.
        bool object = entry->variable && (entry->variable->flags & kVarObject) && !(entry->flags & kEntryMatrix);
        if (!entry->text || object) {
            SetCellValue(cell, entry->value);
            cell->kind = kCellNumber;
            continue;
        }
        void* copy;
        if (entry->flags & kEntryMatrix) {
            // A nested matrix is copied deep: its own blocks get their own copies.
            copy = CopyMatrixCells(reinterpret_cast<const MatrixCell*>(entry->text), &links);
            cell->kind = kCellMatrix;
        } else {
            copy = CopyValueBlockOrText(entry->text, entry->flags & kEntryWide);
            RegisterValueBlock(copy);
            cell->kind = kCellBlock;
        }
        SetCellPointer(cell, copy);
        PushMemoryLink(&links, copy, cell, -8);
    }
    for (StackEntry* e = context->stackTop; e && e != saved; e = e->below) {
        FreeLinkChain(e->ownedLinks);
        e->ownedLinks = nullptr;
    }
    context->stackTop = saved;
    if (!cells) {
        FreeLinkChain(links);
        PushValue(nullptr, 0, nullptr, 0);
        return;
    }
    SetCellValue(&cells[count], 0);
    cells[count].kind = kCellEnd;
    TrackAllocation(context, cells, 0, kTrackedBlock);
    PushValue(reinterpret_cast<const char*>(cells), 0, nullptr, 0);
    context->stackTop->ownedLinks = links;
    context->stackTop->flags = kEntryMatrix;
}

void Builtin___NOEXPLICITCHECK() {
    NoExplicitCheck = 1;
}

void Builtin_ptr() {
    StackEntry* top = CurrentContext->stackTop;
    if (!top->text) {
        auto address = static_cast<uintptr_t>(platform::TruncateToInteger<int64_t>(top->value));
        top->text = reinterpret_cast<const char*>(address);
    }
    top->value = 0;
    top->variable = nullptr;
    top->extra = 0;
    top->flags = 0;
}

void Builtin_HALT() {
    Hooks.endGraphics();
    if (gettid() == getpid()) {
        ShutdownRuntimeOnce();
        std::exit(0);
    }
    // A script thread ends alone; the process and its other threads go on.
    pthread_exit(nullptr);
}

void Builtin_EXIT() {
    EndingContext = CurrentContext;
    StopFlag = true;
}

void Handle_RANGEMODE() {
    ProgramContext* context = CurrentContext;
    context->rangeCheck = !context->rangeCheck;
}

void Handle_EXPLICITMODE() {
    ProgramContext* context = CurrentContext;
    context->explicitDeclarations = !context->explicitDeclarations;
}

}  // namespace qob
