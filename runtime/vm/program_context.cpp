// runtime/vm/program_context.cpp
// Creating, listing and ending program contexts, and their private heaps.

#include "runtime/vm/program_context.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/memory.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/hooks.h"
#include "runtime/values/scope_moves.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/loop_state.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/vm.h"

namespace qob {

ProgramContext* CurrentContext = nullptr;
ProgramContext* FirstContext = nullptr;
ProgramContext* LastContext = nullptr;
bool ExitFollowsLastContext = false;

namespace {

void FreeClassRecords(ProgramContext* context) {
    ClassRecord* record = context->classRecords;
    context->classRecords = nullptr;
    while (record) {
        ClassRecord* next = record->next;
        platform::FreeBlock(record->name);
        platform::FreeBlock(record->baseName);
        platform::FreeBlock(record);
        record = next;
    }
}

void FreeProcedureTable(ProgramContext* context) {
    for (int32_t i = 0; i < context->procedureCount && i < kMaxProcedures; ++i) {
        ProcedureRecord* record = context->procedures[i];
        if (!record) continue;
        platform::FreeBlock(record->name);
        platform::FreeBlock(record);
        context->procedures[i] = nullptr;
    }
    context->procedureCount = 0;
}

// The pool goes whole: only the texts the nodes own are freed one by one,
// unless the process exits next anyway. Texts a loaded node holds in a kept
// image are no blocks (freeing them does nothing): the image goes last.
void FreeInstructions(ProgramContext* context) {
    const bool lastBeforeExit = ExitFollowsLastContext && FirstContext == context && LastContext == context;
    Instruction* last = context->instructions;
    while (!lastBeforeExit && last && last->next) last = last->next;
    if (!lastBeforeExit) FreeChainTexts(last);
    context->instructions = nullptr;
    FreeNodeList(context->pool);
    context->pool = nullptr;
    while (KeptImage* kept = context->keptImages) {
        context->keptImages = kept->next;
        platform::FreeBlock(kept->block);
        platform::FreeBlock(kept);
    }
}

void Unlink(ProgramContext* context) {
    if (context->previous) context->previous->next = context->next;
    else if (FirstContext == context) FirstContext = context->next;
    if (context->next) context->next->previous = context->previous;
    else if (LastContext == context) LastContext = context->previous;
    context->previous = context->next = nullptr;
}

// Bytes of physical memory still available (MemAvailable), 0 when unknown.
uint64_t AvailablePhysicalMemory() {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file) return 0;
    char line[256];
    unsigned long long kilobytes = 0;
    while (std::fgets(line, sizeof line, file))
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) break;
    std::fclose(file);
    return kilobytes * 1024;
}

// "1,234,567" for a non-negative whole number.
void FormatWithThousands(uint64_t value, char* out, size_t size) {
    char digits[32];
    const int length = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
    size_t at = 0;
    for (int i = 0; i < length && at + 1 < size; ++i) {
        if (i > 0 && (length - i) % 3 == 0 && at + 2 < size) out[at++] = kThousandsCharacter;
        out[at++] = digits[i];
    }
    out[at] = '\0';
}

void LogContextEnd(const ProgramContext* context, uint32_t runTime) {
    char number[48];
    char line[512];
    FormatWithThousands(runTime, number, sizeof number);
    std::snprintf(line, sizeof line, "%s ended (%s ms)", context->appName ? context->appName : "", number);
    LogRuntimeError(line);
    FormatWithThousands(AvailablePhysicalMemory(), number, sizeof number);
    std::snprintf(line, sizeof line, "Available memory %s bytes", number);
    LogRuntimeError(line);
}

// Kind 0 frees everything its variables own; -3 only its own list.
void FreeContextVariableLists(ProgramContext* context) {
    if (context->kind == kContextIndependent) {
        // Globals first: their destructors still run procedures, which take
        // frames from the cache.
        if (context->globalHead) {
            FreeVariableChain(context, context->globalHead, true);
            FreeVariableList(context, context->globalHead);
            context->globalHead = nullptr;
        }
        FreeContextVariables(context);
    }
    if ((context->kind == kContextIndependent || context->kind == kContextSharedOwnList) && context->localHead) {
        FreeVariableChain(context, context->localHead, true);
        FreeVariableList(context, context->localHead);
        context->localHead = nullptr;
    }
    if (context->kind == kContextIndependent) FreeValueStack(context);
}

}  // namespace

ProgramContext* CreateProgramContext() {
    auto* context = static_cast<ProgramContext*>(platform::AllocateZeroedBlock(sizeof(ProgramContext)));
    if (!context) return nullptr;
    context->heap = platform::HeapCreate();
    context->previous = LastContext;
    if (LastContext) LastContext->next = context;
    else FirstContext = context;
    LastContext = context;
    return context;
}

void CreateBottomStackEntry(ProgramContext* context) {
    if (context->stackTop) return;
    context->stackTop = static_cast<StackEntry*>(AllocContextBlock(context, sizeof(StackEntry)));
}

bool IsLiveContext(const ProgramContext* context) {
    for (const ProgramContext* c = FirstContext; c; c = c->next)
        if (c == context) return true;
    return false;
}

void MakeUniqueContextId(ProgramContext* context) {
    auto taken = [context](uint64_t id) {
        for (const ProgramContext* c = FirstContext; c; c = c->next)
            if (c != context && c->uniqueId == id) return true;
        return false;
    };
    // Ids never repeat in the process, not even those of ended contexts:
    // caches keyed by an id (procedure lookups, thread records) then never
    // take a new context for an old one, also when a test holds the counter.
    static uint64_t lastId = 0;
    uint64_t id = std::max(static_cast<uint64_t>(platform::QueryPerformanceCounter()), lastId + 1);
    // A counter that has not moved since the last context was made would
    // repeat the same reading: step past the ids in use instead. The id only
    // grows, so the search ends however the counter moves.
    while (taken(id)) {
        const auto again = static_cast<uint64_t>(platform::QueryPerformanceCounter());
        id = std::max(again, id + 1);
    }
    lastId = id;
    context->uniqueId = id;
}

void EndProgramContext(ProgramContext* context) {
    if (!context || context->kind == kContextDetached) return;
    VariableRecord* savedLocals = LocalVariableList;
    const uint32_t runTime = platform::GetTickCount() - context->startTick;

    Hooks.releaseContextDisplay(context);

    ProgramContext* savedCurrent = CurrentContext;
    CurrentContext = context;
    Hooks.destroyContextWindows(context);
    CurrentContext = savedCurrent;

    FreeContextVariableLists(context);
    // Kinds -1 and -2 use their parent's class records: a context frees only
    // the list it made.
    if (context->ownsClassRecords) FreeClassRecords(context);
    FreeInstructions(context);
    FreeProcedureTable(context);
    Unlink(context);
    FreeLoopActivations(context);
    if (context->kind == kContextIndependent) platform::HeapDestroy(context->heap);
    context->heap = nullptr;
    RuntimeLogSwitch = context->savedLogSwitch;
    Hooks.removeContextEvents(context);
    FreeTrackedAllocations(context);
    if (!context->quietEnd && context->kind == kContextIndependent) LogContextEnd(context, runTime);

    if (CurrentContext == context) CurrentContext = context->parent;
    platform::FreeBlock(context->appName);
    platform::FreeBlock(context->appPath);
    platform::FreeBlock(context->embeddedFile);
    platform::FreeBlock(context);
    LocalVariableList = savedLocals;
}

void* AllocContextBlock(ProgramContext* context, size_t size) {
    return platform::HeapAlloc(context->heap, platform::HEAP_ZERO_MEMORY, size);
}

void FreeContextBlock(ProgramContext* context, void* block) {
    if (block) platform::HeapFree(context->heap, block);
}

int32_t ElementSize(int32_t typeCode) {
    switch (typeCode) {
        case -9:
        case -8: return 8;
        case -5:
        case -4:
        case -3: return 4;
        case -2: return 2;
        case -1: return 1;
        default: return typeCode < 0 ? -typeCode : typeCode;
    }
}

}  // namespace qob
