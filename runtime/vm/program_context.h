// runtime/vm/program_context.h
// Program contexts: one per loaded application, with its private heap, value
// stack, instruction list, procedure table and tracked allocations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/memory.h"
#include "runtime/vm/value_stack.h"

namespace qob {

struct Instruction;
struct Pool;
struct VariableRecord;
struct WindowRecord;
struct TrackedAllocation;
struct FrameCacheRecord;
struct LoopActivation;

// One procedure of a program (filled by the generator or the compiled-file loader).
struct ProcedureRecord {
    char* name;               // key "%s(%d,%d)" (or MAIN / WINMAIN), owned
    Instruction* start;       // STARTPROC node; null until its code is seen
    uint8_t countByte;        // number of results
    uint8_t undefinedStart;   // declared before its code
    uint8_t underscore;       // header flag byte was '_'
    uint32_t namespaceHash;
};

// A class of a program: methods are procedures "__CLASSCODE_<class>.<method>".
struct ClassRecord {
    char* name;
    uint32_t nameHash;
    char* baseName;           // empty or null for none
    uint32_t baseHash;
    ClassRecord* next;
};

// A CASE selector kept by PULLCASE for the PUSHCASE steps.
struct CaseSlot {
    const char* text;
    double value;
};

// A local frame a procedure used, kept for its next call.
struct FrameCacheRecord {
    VariableRecord* frame;      // head record of the frame (context heap)
    Instruction* procedure;     // its STARTPROC node
    const char* procName;       // the procedure's name as its runs report it (in the node's text)
    uint8_t inUse;
    VariableRecord* keptSelf;   // SELF$ and OBJECTNAME$ kept bound from the last (method) call, or null
    VariableRecord* keptName;
    const char* keptClassName;  // the instance's class-name block SELF$'s copy was last bound from
    uint64_t keptFreedCount;    // InstancesFreed then
    FrameCacheRecord* next;     // context's cache list, newest first
    FrameCacheRecord* previous;
    FrameCacheRecord* nextFree; // the procedure's free list (InstructionExtra::freeFrames)
};

// Context kinds.
constexpr int32_t kContextIndependent = 0;
constexpr int32_t kContextSharedCurrentList = -1;  // parent's stack, heap, classes; caller's current list
constexpr int32_t kContextSharedGlobals = -2;      // parent's stack, heap, classes; parent's globals
constexpr int32_t kContextSharedOwnList = -3;      // parent's stack and heap; its own list, freed at its end
constexpr int32_t kContextDetached = -4;           // own stack and heap; never torn down

constexpr int kCaseSlots = 1024;
constexpr int kMaxProcedures = 4096;

// A decoded compiled file kept for the program loaded from it: the nodes'
// texts lie in its bytes instead of blocks of their own.
struct KeptImage {
    KeptImage* next;
    void* block;  // the process-heap block holding the image
};

struct ProgramContext {
    StackEntry* stackTop;            // never null while the context runs
    ArgumentFrame argumentFrame;
    char* appName;                   // upper-cased file name, or the context number as text (process heap)
    char* appPath;                   // upper-cased directory of the program file (process heap)
    Instruction* instructions;       // first node of the program
    VariableRecord* globalHead;      // head of the application's global chain
    CaseSlot caseSlots[kCaseSlots];
    ProcedureRecord* procedures[kMaxProcedures];
    int32_t procedureCount;
    WindowRecord* windows;           // newest last
    uint32_t startTick;
    uint64_t uniqueId;               // unique among live contexts
    uint8_t rangeCheck;              // RANGEMODE toggles it
    uint8_t explicitDeclarations;    // EXPLICITMODE toggles it
    FrameCacheRecord* frameCache;    // newest first
    platform::HeapHandle heap;       // private heap (a child of kinds -1..-3 uses its parent's)
    Pool* pool;                      // instruction nodes and side records
    int32_t kind;                    // kContext*
    uint8_t quietEnd;                // no end-of-run log lines
    ClassRecord* classRecords;       // shared with the parent in kinds -1 and -2
    ProgramContext* parent;
    int32_t savedLogSwitch;          // run-time log switch when the context was made
    TrackedAllocation* tracking;     // newest first
    TrackedAllocation** trackingByDepth; // per-depth chains (process heap), trackingDepths slots
    int32_t trackingDepths;
    int32_t trackingDepthsUsed;      // slots from this one up hold no chain (so a depth ending frees nothing there)
    TrackedAllocation* trackingSpare; // records given back, for reuse (chained through nextOfDepth)
    int32_t callDepth;               // procedure runs and open loops
    ProgramContext* previous;
    ProgramContext* next;

    // Words the driver and the loop instructions need.
    Instruction* entry;              // MAIN / WINMAIN start node
    uint8_t entryIsWinMain;
    uint8_t ownsClassRecords;        // the class list was made by this context: it frees it at its end
    uint8_t embedded;                // the program came from an image inside the executable
    uint8_t endPending;              // told to end while code of it ran: ended when its last run returns
    char* embeddedFile;              // the executable's path for an embedded program (process heap)
    uint32_t appSize;                // bytes of nodes, side records and texts
    uint64_t timingCounters[2];      // cleared when the program starts
    VariableRecord* localHead;       // own list head of a kind -3 child
    LoopActivation* loopActivations; // open loops: first-run marks and walk positions (process heap)
    int32_t loopActivationCount;
    int32_t loopActivationCapacity;
    KeptImage* keptImages;           // images of the loads into this context (process heap), freed after the nodes
};

// The context every handler works on, and the process-wide list.
extern ProgramContext* CurrentContext;
extern ProgramContext* FirstContext;
extern ProgramContext* LastContext;

// Set by the start-up once only the last program is left to run. When the
// last live context then ends, nothing runs after it but the process's exit:
// its instruction texts are left to the exit instead of being freed one by
// one (every other part of its end still happens: destructors, files, logs).
extern bool ExitFollowsLastContext;

// A new zeroed context with its own private heap, appended to the list. The
// caller sets kind, modes, pool, bottom stack cell and global head.
[[nodiscard]] ProgramContext* CreateProgramContext();

// Gives the context a zeroed bottom cell when it has none (kinds 0 and -4).
void CreateBottomStackEntry(ProgramContext* context);

// Reads the counter into the unique id until no other live context has it.
void MakeUniqueContextId(ProgramContext* context);

// Tears a context down (nothing for kind -4) and frees it.
void EndProgramContext(ProgramContext* context);

// Whether the pointer names a live context of the list.
[[nodiscard]] bool IsLiveContext(const ProgramContext* context);

// --- the private heap ---------------------------------------------------------------
// Every StackEntry, VariableRecord, WindowRecord and cache record of a context
// comes from here; the heap is freed as a whole when the context ends.

// Zeroed block of the context's heap (below 2 GiB); null when memory runs out.
[[nodiscard]] void* AllocContextBlock(ProgramContext* context, size_t size);
void FreeContextBlock(ProgramContext* context, void* block);

// Bytes of one element of a type code: -9 and -8 take 8, -5, -4 and -3 take 4,
// -2 takes 2, -1 takes 1, any other code its absolute value.
[[nodiscard]] int32_t ElementSize(int32_t typeCode);

// --- the hot push ------------------------------------------------------------------

StackEntry* PushNewStackEntry(ProgramContext* context);

// Moves the top one cell up and returns the cell, reusing the cell above when
// there is one. The caller overwrites value, text, variable, extra and flags.
inline StackEntry* PushCell(ProgramContext* context) {
    StackEntry* cell = context->stackTop->above;
    if (cell == nullptr) [[unlikely]]
        return PushNewStackEntry(context);
    cell->ownedLinks = nullptr;
    cell->typeTag = 0;
    context->stackTop = cell;
    return cell;
}

// PushCell's reuse for a caller that has already found the cell above the top:
// that cell becomes the top, holding what is given.
[[gnu::always_inline]] inline void FillCellAbove(ProgramContext* context, StackEntry* above, double value,
                                                 const char* text, VariableRecord* variable, uint32_t flags) {
    above->ownedLinks = nullptr;
    above->typeTag = 0;
    context->stackTop = above;
    above->value = value;
    above->text = text;
    above->variable = variable;
    above->extra = 0;
    above->flags = flags;
}

// Closes the innermost argument frame and returns its saved top
// (CloseArgumentFrame for handlers that want it inline).
inline StackEntry* CloseFrame(ProgramContext* context) {
    ArgumentFrame& frames = context->argumentFrame;
    if (frames.count <= 0) [[unlikely]]
        return context->stackTop;
    return frames.slots[--frames.count];
}

// Pops the top cell (PopStackEntryFrom for handlers that want it inline):
// its contents stay valid until the next push.
inline StackEntry* PopCell(ProgramContext* context) {
    StackEntry* top = context->stackTop;
    if (top == nullptr || top->below == nullptr) [[unlikely]]
        return PopStackEntryFrom(context);
    context->stackTop = top->below;
    return top;
}

// Pops the top cell as a number (PopNumber inline for the common cell without text).
inline double PopCellNumber(ProgramContext* context) {
    const StackEntry* cell = PopCell(context);
    if (cell->text == nullptr) return cell->value;
    return StackEntryNumber(cell);
}

// Pushes {value, text, variable, extra} with flags 0: PushValue for handlers
// that want it inline.
inline void PushCellValue(ProgramContext* context, const char* text, double value, VariableRecord* variable,
                          int32_t extra) {
    StackEntry* cell = PushCell(context);
    cell->value = value;
    cell->text = text;
    cell->variable = variable;
    cell->extra = extra;
    cell->flags = 0;
}

}  // namespace qob
