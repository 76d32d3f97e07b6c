// runtime/vm/vm.cpp
// RunProcedure with its frame cache, guard and fault recovery, and the
// control instructions: jumps, loops, TRY, CASE selection and RETURN.

#include "runtime/vm/vm.h"

#include <pthread.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/faults.h"
#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/memory_links.h"
#include "runtime/registry/function_table.h"
#include "runtime/registry/registration.h"
#include "runtime/values/assignment.h"
#include "runtime/values/list_values.h"
#include "runtime/values/matrix_values.h"
#include "runtime/values/number_rules.h"
#include "runtime/values/objects.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/loop_state.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"

// The start-up stack end the C library records (the thread library's
// reference point for the main thread's stack).
extern "C" void* __libc_stack_end;

namespace qob {

Instruction* CurrentInstruction = nullptr;
bool StopFlag = false;
ProgramContext* EndingContext = nullptr;
VariableRecord* LocalVariableList = nullptr;
VariableRecord* MemberList = nullptr;
const char* CurrentProcName = nullptr;
ProgramContext* CallInContext = nullptr;
Instruction* CallInProcedure = nullptr;
VariableRecord* CallInFrame = nullptr;
int32_t EntryMode = 0;
VariableRecord* ObjectToBind = nullptr;
Instruction* PendingJumpNode = nullptr;
thread_local TryStackState TryStack;

// One active run of a procedure on a thread: a RunProcedure on the native
// stack with a dispatch loop of its own, or a run the loop of an enclosing
// one took on in place (see Handle_CALL).
struct RunRecord {
    RunRecord* outer;
    ProgramContext* context;
    Instruction* first;            // node the loop starts (or resumes) at
    int32_t callerDepth;           // the caller's call depth: RETURN hands its copies there
    VariableRecord* frame;         // machine state of the run, put back after a fault
    VariableRecord* members;
    const char* procName;
    int32_t nesting;
    int32_t entryFrames;           // open argument frames to leave behind when the run ends
    RunRecord* loop;               // in place: the run whose loop runs it; null for a run with its own loop
};

namespace {

// The innermost run of this thread; its nesting is RunNesting().
thread_local RunRecord* tCurrentRun = nullptr;
// A fault whose TRY belongs to an enclosing run: the runs in between end, and
// this run resumes at its EXCEPT part. Null when no fault is being unwound.
thread_local RunRecord* tUnwindTarget = nullptr;

// A run taken on in place: what its end puts back, besides what its record
// holds. The record comes first, so a run's record leads to this.
struct InPlaceRun {
    RunRecord run;
    Instruction* caller;           // its CALL (or OBJRUN) node: the loop goes on after it
    FrameCacheRecord* cacheRecord;
    InstructionExtra* procedureExtra;
    VariableRecord* savedLocals;
    const char* savedProcName;
    int32_t entryTryDepth;
    uint8_t savedListSwitch;
    // A method run (null for a CALL): what its OBJRUN does after the run
    // (objectCall; a SELFCALL does nothing more), and the caller's current
    // object. The binding of SELF$ and OBJECTNAME$ its frame keeps is the
    // one its cache record kept (see KeepsBindingFor): nothing else writes
    // a record in use.
    Instruction* method;
    bool objectCall;
    VariableRecord* savedMembers;
};

// The runs in place of this thread, innermost last. They end in the reverse
// order of their start whichever loop runs them (a loop ends every run it
// took on before it returns), so a stack serves. Deeper calls take the
// native way, whose stack check reports runaway recursion.
constexpr int32_t kMaxInPlaceRuns = 128;
thread_local InPlaceRun* tInPlaceTop = nullptr;  // its next free entry; null until the thread's first run
thread_local InPlaceRun* tInPlaceEnd = nullptr;  // past its last entry; null until the thread's first run

// A thread's runs in place and TRY entries, most of the storage a thread
// would have: made with its first run (or TRY entry) as zero pages that get
// memory as they are used, and given back when the thread ends.
struct ThreadRunStorage {
    InPlaceRun inPlaceRuns[kMaxInPlaceRuns];
    TryEntry tryEntries[kMaxTryEntries];
};
thread_local ThreadRunStorage* tRunStorage = nullptr;

void FreeThreadRunStorage(void* storage) {
    munmap(storage, sizeof(ThreadRunStorage));
    tRunStorage = nullptr;
    tInPlaceTop = tInPlaceEnd = nullptr;
    TryStack.entries.Forget();
}

[[gnu::cold, gnu::noinline]] ThreadRunStorage& MakeThreadRunStorage() {
    if (tRunStorage) return *tRunStorage;
    // Ends the thread's storage with the thread (the process's own thread
    // keeps it until the process ends).
    static const pthread_key_t kStorageKey = [] {
        pthread_key_t key{};
        if (pthread_key_create(&key, FreeThreadRunStorage) != 0) std::abort();
        return key;
    }();
    void* pages = mmap(nullptr, sizeof(ThreadRunStorage), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        std::fputs("Out of memory for a thread's runs\n", stderr);
        std::abort();
    }
    pthread_setspecific(kStorageKey, pages);
    tRunStorage = static_cast<ThreadRunStorage*>(pages);
    tInPlaceTop = tRunStorage->inPlaceRuns;
    tInPlaceEnd = tRunStorage->inPlaceRuns + kMaxInPlaceRuns;
    return *tRunStorage;
}

// Lowest address of this thread's stack that a run may reach: deeper
// recursion is reported as an error instead of overflowing the stack.
constexpr size_t kStackReserve = 256 * 1024;
thread_local uintptr_t tStackLimit = 0;

uintptr_t LimitOfStack(uintptr_t low, size_t size) {
    return size > 2 * kStackReserve ? low + kStackReserve : low + size / 2;
}

// The main thread's stack, as the thread library gives it, without reading
// the process's memory map: it ends with the page that holds the start-up
// stack end; what lies above (arguments, environment, up to the program's
// file name, which the kernel puts at the top of the mapping) counts against
// the stack's resource limit. False when that cannot be had that way (no
// limit, or no file name in the auxiliary vector).
bool MainStackOf(uintptr_t& low, size_t& size) {
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return false;
    const auto fileName = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (!fileName || pageSize <= 0) return false;
    const auto page = static_cast<uintptr_t>(pageSize);
    const uintptr_t stackEnd = (reinterpret_cast<uintptr_t>(__libc_stack_end) & ~(page - 1)) + page;
    const uintptr_t mappingEnd =
        (reinterpret_cast<uintptr_t>(fileName) + std::strlen(fileName) + 1 + sizeof(void*) + page - 1) & ~(page - 1);
    if (mappingEnd < stackEnd || limit.rlim_cur <= mappingEnd - stackEnd) return false;
    size = (limit.rlim_cur - (mappingEnd - stackEnd)) & ~(page - 1);
    if (size == 0 || size > stackEnd) return false;
    low = stackEnd - size;
    return true;
}

}  // namespace

TryEntry* TryEntries::Make() {
    entries_ = MakeThreadRunStorage().tryEntries;
    return entries_;
}

uintptr_t FindStackLimit() {
    uintptr_t low = 0;
    size_t size = 0;
    if (gettid() == getpid() && MainStackOf(low, size)) return LimitOfStack(low, size);
    pthread_attr_t attributes;
    void* base = nullptr;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 1;
    pthread_attr_getstack(&attributes, &base, &size);
    pthread_attr_destroy(&attributes);
    return LimitOfStack(reinterpret_cast<uintptr_t>(base), size);
}

namespace {

bool StackIsExhausted() {
    if (tStackLimit == 0) tStackLimit = FindStackLimit();
    char probe;
    return reinterpret_cast<uintptr_t>(&probe) < tStackLimit;
}

// The records of ERROR% and LASTERROR%, looked up again whenever the
// constant list has been rebuilt.
struct ErrorConstants {
    VariableRecord* listHead = nullptr;
    VariableRecord* error = nullptr;
    VariableRecord* lastError = nullptr;
};
ErrorConstants gErrorConstants;

void CopyErrorToLastErrorSlowly();

inline void CopyErrorToLastError() {
    // The common entry: the records are known and ERROR% holds no text.
    if (const VariableRecord* known = gErrorConstants.error;
        gErrorConstants.listHead == ConstantList && known && !known->data) [[likely]]
        return;
    CopyErrorToLastErrorSlowly();
}

[[gnu::noinline]] void CopyErrorToLastErrorSlowly() {
    if (gErrorConstants.listHead != ConstantList || !gErrorConstants.error) {
        gErrorConstants.listHead = ConstantList;
        gErrorConstants.error = ConstantList ? FindNamedItem(ConstantList, "ERROR%") : nullptr;
        gErrorConstants.lastError = ConstantList ? FindNamedItem(ConstantList, "LASTERROR%") : nullptr;
    }
    VariableRecord* error = gErrorConstants.error;
    if (!error || !error->data || !gErrorConstants.lastError) return;
    const size_t size = platform::GetBlockSize(error->data);
    SetVariableValue(gErrorConstants.lastError, error->data, 0.0, nullptr,
                     static_cast<int64_t>(size ? size : std::strlen(error->data) + 1));
}

// What OBJRUN does after its method's run (see the method calls below).
void FinishObjectCall(ProgramContext* context, Instruction* node, Instruction* method);
// Whether a STARTPROC node starts a function (one that gives results).
bool IsFunction(const Instruction* start) { return start->operand != 0.0; }

// The dispatch loop of a run, and the end of the runs it took on in place (see below).
void RunLoop(void* start);
Instruction* EndRunsInPlace(RunRecord* base);

Instruction* FirstNode(Instruction* procedure, int32_t mode) {
    if (mode == 0) return procedure->next;
    const int skip = mode == 1 ? 5 : mode == 2 ? 3 : 1;
    Instruction* node = procedure;
    for (int i = 0; i < skip && node; ++i) node = node->next;
    return node;
}

// The bits of the number 1.0, compared as a whole word.
constexpr uint64_t kOneBits = std::bit_cast<uint64_t>(1.0);

const uint32_t kSelfHash = HashVariableName("SELF$");
const uint32_t kObjectNameHash = HashVariableName("OBJECTNAME$");

// A record that holds nothing beyond its flags, data and value (the fields
// or-ed together: one test instead of fifteen branches).
[[gnu::always_inline]] inline bool HoldsNoMore(const VariableRecord* r) {
    const uintptr_t pointers = reinterpret_cast<uintptr_t>(r->reference) | reinterpret_cast<uintptr_t>(r->links) |
                               reinterpret_cast<uintptr_t>(r->getter) | reinterpret_cast<uintptr_t>(r->setter) |
                               reinterpret_cast<uintptr_t>(r->currentNode) | reinterpret_cast<uintptr_t>(r->members) |
                               reinterpret_cast<uintptr_t>(r->parent) | reinterpret_cast<uintptr_t>(r->linkOwner);
    const uint32_t numbers = static_cast<uint32_t>(r->type) | r->elementCount | r->protect | r->dimensionCount |
                             r->offset | r->arrayWord | r->arrayOrder;
    return (pointers | numbers) == 0;
}

// SELF$ as BindObject leaves it: an object variable holding the instance's
// address and its own copy of the class name, nothing else.
[[gnu::always_inline]] inline bool IsBoundSelf(const VariableRecord* self) {
    return self->flags == kVarObject && self->data && HoldsNoMore(self);
}

// OBJECTNAME$ as BindObject leaves it: the instance's class name, borrowed.
[[gnu::always_inline]] inline bool IsBoundObjectName(const VariableRecord* name) {
    return name->flags == kVarHandedOver && name->value == 0 && name->classHash == 0 && HoldsNoMore(name);
}

// The SELF$ and OBJECTNAME$ records a method call bound in its frame, and
// the class-name block of the instance SELF$ names, with InstancesFreed then.
struct BoundRecords {
    VariableRecord* self = nullptr;
    VariableRecord* name = nullptr;
    const char* className = nullptr;
    uint64_t freedCount = 0;
};

// Releases a frame's records from the given one on as ReleaseFrameVariables
// below does, setting in kept the bound records it keeps.
[[gnu::always_inline]] inline void ReleaseFrameVariablesFrom(ProgramContext* context, VariableRecord* from,
                                                             const BoundRecords& bound, BoundRecords& kept) {
    for (VariableRecord* r = from; r; r = r->next) {
        if (r == bound.self && IsBoundSelf(r)) {
            r->value = 0;
            kept.self = r;
        } else if (r == bound.name && IsBoundObjectName(r)) {
            r->data = nullptr;
            kept.name = r;
        } else {
            ReleaseVariable(context, r, false, false);
        }
    }
}

// Releases the variables of a frame that ends, as FreeVariableChain does,
// except the SELF$ and OBJECTNAME$ given in bound when they are still as the
// call bound them: they stay bound but empty, SELF$ with its copy of the
// class name (the instance address goes), OBJECTNAME$ with its flag (the
// borrowed name goes). The next call on an object of that class binds them
// again without a look-up, a copy, a free and two full releases; a call
// without an object releases them first (see RunProcedure), and releasing
// the frame at the end of the program frees the copy. Returns what it kept.
[[gnu::always_inline]] inline BoundRecords ReleaseFrameVariables(ProgramContext* context, VariableRecord* frame,
                                                                const BoundRecords& bound) {
    BoundRecords kept;
    kept.className = bound.className;
    kept.freedCount = bound.freedCount;
    ReleaseFrameVariablesFrom(context, frame->next, bound, kept);
    return kept;
}

// Frame of the run (step 4): the caller's, a cached one or a new one.
VariableRecord* ChooseFrame(ProgramContext* context, Instruction* procedure, VariableRecord* callInFrame,
                            FrameCacheRecord** cacheRecord, bool* fresh) {
    if (callInFrame) return callInFrame;
    if (context->kind != kContextIndependent && context->kind != kContextDetached) return LocalVariableList;
    InstructionExtra* extra = RequireInstructionExtra(context->pool, procedure);
    if (extra && extra->freeFrames) {
        FrameCacheRecord* record = extra->freeFrames;
        extra->freeFrames = record->nextFree;
        record->nextFree = nullptr;
        record->inUse = 1;
        *cacheRecord = record;
        return record->frame;
    }
    *fresh = true;
    return AllocateVariableRecord(context, false);
}

// Whether a STARTPROC text holds its 4-character header (the name follows it).
bool HasHeaderText(const char* text) { return text && text[0] && text[1] && text[2] && text[3]; }

// The name a procedure's runs report (CurrentProcName): its node's text after the header.
const char* ProcedureName(const Instruction* procedure) {
    return HasHeaderText(procedure->text) ? procedure->text + 4 : "";
}

// Step 11: release the frame's variables and keep the frame for the next call.
void ReleaseFrame(ProgramContext* context, Instruction* procedure, VariableRecord* frame,
                  FrameCacheRecord* cacheRecord, bool fresh, const BoundRecords& bound) {
    if (!frame || (context->kind != kContextIndependent && context->kind != kContextDetached)) return;
    // Only a frame that goes back to the cache keeps bindings: a caller's
    // frame is released in full.
    const BoundRecords kept = frame != context->globalHead
                                  ? ReleaseFrameVariables(context, frame, cacheRecord || fresh ? bound : BoundRecords{})
                                  : BoundRecords{};
    if (!cacheRecord && fresh) {
        cacheRecord = static_cast<FrameCacheRecord*>(AllocContextBlock(context, sizeof(FrameCacheRecord)));
        if (!cacheRecord) return;
        cacheRecord->frame = frame;
        cacheRecord->procedure = procedure;
        cacheRecord->procName = ProcedureName(procedure);
        cacheRecord->next = context->frameCache;
        if (context->frameCache) context->frameCache->previous = cacheRecord;
        context->frameCache = cacheRecord;
    }
    if (!cacheRecord) return;  // a caller's frame is not ours to cache
    InstructionExtra* extra = RequireInstructionExtra(context->pool, procedure);
    if (!extra) return;
    cacheRecord->inUse = 0;
    cacheRecord->keptSelf = kept.self;
    cacheRecord->keptName = kept.name;
    cacheRecord->keptClassName = kept.className;
    cacheRecord->keptFreedCount = kept.freedCount;
    cacheRecord->nextFree = extra->freeFrames;
    extra->freeFrames = cacheRecord;
}

// Binds SELF$ and OBJECTNAME$ in the frame. kept: for a frame taken from the
// cache, the records its last release kept bound (null for any other frame).
BoundRecords BindObject(VariableRecord* frame, VariableRecord* object, const FrameCacheRecord* kept) {
    static const char kSelfName[] = "SELF$";
    const bool scoped = CurrentContext && CurrentInstruction;
    const uint32_t scope = scoped && CurrentInstruction->extra ? CurrentInstruction->extra->namespaceHash : 0;
    const auto address = static_cast<double>(reinterpret_cast<uintptr_t>(object));
    if (kept && kept->keptSelf && kept->keptName && object->data == kept->keptClassName &&
        kept->keptFreedCount == InstancesFreed && kept->keptSelf->classHash == object->classHash) {
        // The usual call: both records kept, and the class-name block SELF$'s
        // copy was made or checked from is still that block (no instance has
        // been freed since), so the copy is still its text. The kept records
        // hold nothing else (see ReleaseFrameVariables): only the instance,
        // the borrowed name and a changed scope are written.
        VariableRecord* self = kept->keptSelf;
        VariableRecord* name = kept->keptName;
        self->value = address;
        name->data = object->data;
        if (scoped && self->scope != scope && self->owner != CurrentContext->globalHead) self->scope = scope;
        if (scoped && name->scope != scope && name->owner != CurrentContext->globalHead) name->scope = scope;
        return {self, name, object->data, InstancesFreed};
    }
    VariableRecord* self = kept ? kept->keptSelf : FindItemWithHash(frame, kSelfHash);
    if (self && (kept || (self->name && std::strcmp(self->name, kSelfName) == 0 && IsBoundSelf(self))) &&
        self->classHash == object->classHash && object->data && std::strcmp(self->data, object->data) == 0) {
        // The frame's SELF$ kept its copy of this class's name from the last call.
        if (scoped && self->owner != CurrentContext->globalHead) self->scope = scope;
    } else {
        self = CreateVariableWithHash(frame, kSelfName, kSelfHash, true);
        if (self) {
            self->flags |= kVarObject;
            self->data = object->data ? CopyCellText(object->data, false) : nullptr;
            self->classHash = object->classHash;
        }
    }
    if (self) self->value = address;
    VariableRecord* name = kept && kept->keptName ? kept->keptName : FindItemWithHash(frame, kObjectNameHash);
    if (name && !name->data && (name->flags == 0 || (kept && name == kept->keptName))) {
        // A released or kept record, reused as CreateVariableWithHash would reuse it.
        ReleasePlainRecord(name);
        if (scoped && name->owner != CurrentContext->globalHead) name->scope = scope;
    } else {
        name = CreateVariableWithHash(frame, "OBJECTNAME$", kObjectNameHash, true);
    }
    if (name) {
        name->data = object->data;
        name->flags |= kVarHandedOver;
    }
    return {self, name, object->data, InstancesFreed};
}

// Restores the state a TRY entry recorded and drops what was opened after it.
void RewindToTry(ProgramContext* context, int32_t index) {
    const TryEntry& entry = TryStack.entries[index];
    context->argumentFrame.count = entry.frameIndex;
    context->stackTop = entry.stackTop;
    FreeTrackedAllocationsFrom(context, entry.callDepth + 1);
    DropLoopActivations(context, entry.callDepth + 1);
    context->callDepth = entry.callDepth;
    TryStack.depth = index + 1;
}

// The innermost TRY entry of the context on this thread, or -1.
int32_t InnermostTryOf(const ProgramContext* context) {
    for (int32_t i = TryStack.depth - 1; i >= 0; --i)
        if (TryStack.entries[i].context == context) return i;
    return -1;
}

// After a fault in the run: the node of its EXCEPT part where it resumes,
// or null when it ends (and, when the TRY belongs to an enclosing run, every
// run up to it).
Instruction* RecoverFromFault(RunRecord& run, const platform::FaultReport& report) {
    // A fault skips whatever inner code was running: the run's own state first.
    CurrentContext = run.context;
    LocalVariableList = run.frame;
    MemberList = run.members;
    CurrentProcName = run.procName;
    tCurrentRun = &run;
    const FaultRecord fault{static_cast<uint32_t>(report.kind), report.instructionAddress, report.dataAddress};
    ReportException(run.context, CurrentProcName, fault);
    const int32_t index = InnermostTryOf(run.context);
    if (index < 0) {
        StopFlag = true;
        return nullptr;
    }
    if (TryStack.entries[index].run != &run) {
        tUnwindTarget = TryStack.entries[index].run;
        StopFlag = true;
        return nullptr;
    }
    RewindToTry(run.context, index);
    StopFlag = false;
    return TryStack.entries[index].node->next;
}

// What follows a run's loop that a fault stopped (completed false), or
// that stopped for an inner run's fault whose TRY is this run's: the loop
// goes on at the EXCEPT part, or the run ends.
// A fault in a run the loop took on in place is that run's: it is reported
// there, and the runs in place that end with it end as their stops say.
[[gnu::noinline]] void ResumeAfterFault(RunRecord& run, bool completed, platform::FaultReport& report) {
    for (;;) {
        Instruction* resume = nullptr;
        if (!completed) {
            RunRecord* const faulting = tCurrentRun && tCurrentRun->loop == &run ? tCurrentRun : &run;
            resume = RecoverFromFault(*faulting, report);
            if (!resume && faulting != &run) resume = EndRunsInPlace(&run);
        }
        if (!resume) {
            if (tUnwindTarget != &run) return;
            // An inner run faulted inside a TRY of this run: resume at its EXCEPT.
            tUnwindTarget = nullptr;
            const int32_t index = InnermostTryOf(run.context);
            if (index < 0 || TryStack.entries[index].run != &run) return;
            RewindToTry(run.context, index);
            resume = TryStack.entries[index].node->next;
            StopFlag = false;
        }
        run.first = resume;
        completed = platform::RunGuarded(RunLoop, &run, report);
    }
}

// Runs the loop under the fault guard until it stops for good.
inline void RunGuardedLoop(RunRecord& run) {
    platform::FaultReport report;
    const bool completed = platform::RunGuarded(RunLoop, &run, report);
    if (completed && tUnwindTarget != &run) [[likely]]
        return;
    ResumeAfterFault(run, completed, report);
}


void ConsumeCallIn() {
    CallInProcedure = nullptr;
    CallInFrame = nullptr;
    EntryMode = 0;
    ObjectToBind = nullptr;
}

// Whether the frame kept bound by its last method call binds the object
// again as BindObject's first case does: its SELF$ and OBJECTNAME$ kept, and
// the instance's class-name block the one SELF$'s copy was made or checked
// from, with no instance freed since.
// (The kept class name and count mean something only while both records are
// kept: a call without an object, which starts with neither, leaves them.)
bool KeepsBindingFor(const FrameCacheRecord* record, const VariableRecord* object) {
    return record->keptSelf && record->keptName && object->data == record->keptClassName &&
           record->keptFreedCount == InstancesFreed && record->keptSelf->classHash == object->classHash;
}

// What a run of a procedure puts back in its caller when it ends, whatever
// way it ended, saved when the run starts.
struct CallerState {
    Instruction* instruction;
    ProgramContext* context;
    VariableRecord* locals;
    const char* procName;
    int32_t depth;       // the run's context's call depth before the run
    int32_t tryDepth;
    // The list-copy switch belongs to the one copy that set it, not to the
    // procedures that copy runs (constructors, getters).
    uint8_t listSwitch;
};

[[gnu::always_inline]] inline CallerState SaveCallerState(Instruction* instruction, ProgramContext* callerContext,
                                                          const ProgramContext* context) {
    return {instruction,       callerContext,  LocalVariableList, CurrentProcName,
            context->callDepth, TryStack.depth, NoListCopy};
}

void KeepChildEntryResults(ProgramContext* context, ProgramContext* parent);

// Puts the caller's state back and ends what the run opened at its depths.
[[gnu::always_inline]] inline void PutBackCallerState(const CallerState& caller, ProgramContext* context,
                                                      int32_t entryFrames) {
    LocalVariableList = caller.locals;
    CurrentContext = caller.context;
    CurrentProcName = caller.procName;
    CurrentInstruction = caller.instruction;
    if (caller.depth == 0 && context->parent) [[unlikely]]
        KeepChildEntryResults(context, context->parent);
    FreeTrackedAllocationsFrom(context, caller.depth + 1);
    DropLoopActivations(context, caller.depth + 1);
    context->callDepth = caller.depth;
    if (TryStack.depth > caller.tryDepth) TryStack.depth = caller.tryDepth;
    context->argumentFrame.count = entryFrames;
    NoListCopy = caller.listSwitch;
}

// The calls most programs make most: a CALL node of the running program, or
// a method call on an object (a procedure handed in with the object to
// bind), whose procedure has a frame free in its cache -- for a CALL one that
// no method call left bound, for a method one that binds the object again
// without a look-up -- with no frame or entry mode handed in and no fault
// being unwound. They run here in one straight line, doing for them exactly
// what the general way below does, without the general way's choices. Any
// other call returns false before anything has changed.
template <bool kHandedIn>
[[gnu::always_inline]] inline bool RunPlainCall() {
    if ((reinterpret_cast<uintptr_t>(CallInFrame) | static_cast<uint32_t>(EntryMode)) != 0) return false;
    Instruction* const caller = CurrentInstruction;
    ProgramContext* const savedContext = CurrentContext;
    VariableRecord* const object = kHandedIn ? ObjectToBind : nullptr;
    Instruction* const procedure = kHandedIn ? CallInProcedure : JumpTarget(caller);
    ProgramContext* const context = kHandedIn && CallInContext ? CallInContext : savedContext;
    if (!kHandedIn && ObjectToBind) return false;
    if (!procedure || !procedure->extra || !procedure->next || !context || tUnwindTarget ||
        (context->kind != kContextIndependent && context->kind != kContextDetached))
        return false;
    InstructionExtra* const extra = procedure->extra;
    FrameCacheRecord* const record = extra->freeFrames;
    // The general way finds the thread's stack limit on its first run, and
    // reports a call that goes below it.
    if (!record || (object ? !KeepsBindingFor(record, object) : (record->keptSelf || record->keptName)) ||
        reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < tStackLimit)
        return false;

    if constexpr (kHandedIn) ConsumeCallIn();
    else extra->cachedVariable = nullptr;
    CopyErrorToLastError();
    extra->freeFrames = record->nextFree;
    record->inUse = 1;
    VariableRecord* const frame = record->frame;
    VariableRecord* const savedMembers = MemberList;
    const CallerState saved = SaveCallerState(caller, savedContext, context);
    const int32_t entryDepth = saved.depth;
    NoListCopy = 0;
    LocalVariableList = frame;
    CurrentContext = context;
    context->callDepth = entryDepth + 1;
    BoundRecords bound;
    if (object) {
        // BindObject's first case: only the instance, the borrowed name and
        // a changed scope are written.
        bound = {record->keptSelf, record->keptName, object->data, InstancesFreed};
        bound.self->value = static_cast<double>(reinterpret_cast<uintptr_t>(object));
        bound.name->data = object->data;
        if (caller) {
            const uint32_t scope = caller->extra ? caller->extra->namespaceHash : 0;
            if (bound.self->scope != scope && bound.self->owner != context->globalHead) bound.self->scope = scope;
            if (bound.name->scope != scope && bound.name->owner != context->globalHead) bound.name->scope = scope;
        }
        MemberList = object;
    }
    CurrentProcName = record->procName;
    RunRecord* const outer = tCurrentRun;
    RunRecord run{outer,      context,         procedure->next, entryDepth,
                  frame,      MemberList,      CurrentProcName, (outer ? outer->nesting : 0) + 1,
                  context->argumentFrame.count, nullptr};
    StopFlag = false;
    tCurrentRun = &run;
    RunGuardedLoop(run);
    tCurrentRun = outer;

    if (EndingContext != context && !context->endPending && !tUnwindTarget) StopFlag = false;
    if (object) {
        const BoundRecords kept = ReleaseFrameVariables(context, frame, bound);
        record->keptSelf = kept.self;
        record->keptName = kept.name;
        record->keptClassName = kept.className;
        record->keptFreedCount = kept.freedCount;
        MemberList = savedMembers;
    } else {
        for (VariableRecord* r = frame->next; r; r = r->next) ReleaseVariable(context, r, false, false);
    }
    record->inUse = 0;
    record->nextFree = extra->freeFrames;
    extra->freeFrames = record;
    PutBackCallerState(saved, context, run.entryFrames);
    return true;
}

// Starts the run of a CALL node's procedure in place: the loop running the
// node goes on at the procedure's first node, and the stop that ends the run
// brings it back after the node (see RunLoop). Taken for the calls the
// straight way above would take, when the loop itself called the node's
// handler (a handler that runs the call as its fused step goes on after it)
// and the thread's stack of runs in place has room; false, with nothing
// changed, for any other call.
//
// A method call of an OBJRUN or SELFCALL node (object given) starts the
// same way when its cached frame keeps the object's binding (see
// RunPlainCall); the end of an OBJRUN's run then does what OBJRUN does after
// a method. (kCaller: the handler of the node.)
template <Handler kCaller, bool kErrorCopied = false>
[[gnu::always_inline]] inline bool StartRunInPlace(Instruction* procedure, VariableRecord* object);

// The start in place when ERROR% holds a text: LASTERROR% takes it first. Its
// own function, so the usual start calls nothing on its way and keeps its
// state in scratch registers.
template <Handler kCaller>
[[gnu::noinline]] bool StartRunInPlaceCopyingError(Instruction* procedure, VariableRecord* object) {
    CopyErrorToLastErrorSlowly();
    return StartRunInPlace<kCaller, true>(procedure, object);
}

template <Handler kCaller, bool kErrorCopied>
[[gnu::always_inline]] inline bool StartRunInPlace(Instruction* procedure, VariableRecord* object) {
    constexpr bool kMethod = kCaller != Handle_CALL;
    if ((reinterpret_cast<uintptr_t>(CallInProcedure) | reinterpret_cast<uintptr_t>(CallInFrame) |
         reinterpret_cast<uintptr_t>(ObjectToBind) | static_cast<uint32_t>(EntryMode)) != 0)
        return false;
    RunRecord* const outer = tCurrentRun;
    Instruction* const caller = CurrentInstruction;
    InPlaceRun* const top = tInPlaceTop;
    // (Before the thread's first run both ends are null.)
    if (!outer || top == tInPlaceEnd || caller->handler != kCaller)
        return false;
    if constexpr (!kMethod) procedure = JumpTarget(caller);
    ProgramContext* const context = CurrentContext;
    if (!procedure || !procedure->extra || !procedure->next || !context || tUnwindTarget ||
        (context->kind != kContextIndependent && context->kind != kContextDetached))
        return false;
    InstructionExtra* const extra = procedure->extra;
    FrameCacheRecord* const record = extra->freeFrames;
    if (!record || (kMethod ? !KeepsBindingFor(record, object) : (record->keptSelf || record->keptName)))
        return false;

    if constexpr (!kErrorCopied) {
        const VariableRecord* const error = gErrorConstants.error;
        if (gErrorConstants.listHead != ConstantList || !error || error->data) [[unlikely]]
            return StartRunInPlaceCopyingError<kCaller>(procedure, object);
    }
    if constexpr (!kMethod) extra->cachedVariable = nullptr;
    // (A record in use is on no free list: its next-free link waits for its return.)
    extra->freeFrames = record->nextFree;
    record->inUse = 1;
    InPlaceRun& in = *top;
    tInPlaceTop = top + 1;
    in.caller = caller;
    in.cacheRecord = record;
    in.procedureExtra = extra;
    in.savedLocals = LocalVariableList;
    in.savedProcName = CurrentProcName;
    in.entryTryDepth = TryStack.depth;
    in.savedListSwitch = NoListCopy;
    in.method = kMethod ? procedure : nullptr;
    if constexpr (kMethod) in.objectCall = kCaller == Handle_OBJRUN;
    NoListCopy = 0;
    VariableRecord* const frame = record->frame;
    LocalVariableList = frame;
    const int32_t entryDepth = context->callDepth;
    context->callDepth = entryDepth + 1;
    if constexpr (kMethod) {
        // BindObject's first case, as the straight way binds it.
        VariableRecord* const self = record->keptSelf;
        VariableRecord* const name = record->keptName;
        in.savedMembers = MemberList;
        self->value = static_cast<double>(reinterpret_cast<uintptr_t>(object));
        name->data = object->data;
        const uint32_t scope = caller->extra ? caller->extra->namespaceHash : 0;
        if (self->scope != scope && self->owner != context->globalHead) self->scope = scope;
        if (name->scope != scope && name->owner != context->globalHead) name->scope = scope;
        MemberList = object;
    }
    CurrentProcName = record->procName;
    in.run = {outer,           context,     procedure->next,
              entryDepth,      frame,       MemberList,
              CurrentProcName, outer->nesting + 1, context->argumentFrame.count,
              outer->loop ? outer->loop : outer};
    StopFlag = false;
    tCurrentRun = &in.run;
    // A procedure that starts by binding one parameter from a plain number
    // has it bound here, and the loop goes on after that node.
    Instruction* const first = procedure->next;
    CurrentInstruction =
        first->handler == Handle_PARMSPUSHVAR && BindPlainParameter(first, frame, context) ? first : procedure;
    return true;
}

// A method run's frame keeps its binding for the next call, as the straight
// way's does, and the caller's current object comes back. (The class name
// and count the record kept are the binding's own: they stay.)
[[gnu::always_inline]] inline void ReleaseMethodFrame(InPlaceRun& in) {
    FrameCacheRecord* const record = in.cacheRecord;
    const BoundRecords kept = ReleaseFrameVariables(
        in.run.context, in.run.frame,
        {record->keptSelf, record->keptName, record->keptClassName, record->keptFreedCount});
    record->keptSelf = kept.self;
    record->keptName = kept.name;
    MemberList = in.savedMembers;
}

// What ends a run in place once its frame is released: the frame goes back
// to its cache and the caller's state comes back. (kTracked false: the
// caller has checked that the run leaves no tracked allocation to free.)
template <bool kTracked = true>
[[gnu::always_inline]] inline void FinishRunInPlace(InPlaceRun& in, ProgramContext* context, Instruction* method) {
    RunRecord& run = in.run;
    FrameCacheRecord* const record = in.cacheRecord;
    record->inUse = 0;
    record->nextFree = in.procedureExtra->freeFrames;
    in.procedureExtra->freeFrames = record;
    LocalVariableList = in.savedLocals;
    CurrentContext = context;
    CurrentProcName = in.savedProcName;
    CurrentInstruction = in.caller;
    const int32_t entryDepth = run.callerDepth;
    if constexpr (kTracked) FreeTrackedAllocationsFrom(context, entryDepth + 1);
    DropLoopActivations(context, entryDepth + 1);
    context->callDepth = entryDepth;
    if (TryStack.depth > in.entryTryDepth) TryStack.depth = in.entryTryDepth;
    NoListCopy = in.savedListSwitch;
    tInPlaceTop = &in;
    const int32_t frames = run.entryFrames;
    if (!method || !in.objectCall) {
        context->argumentFrame.count = frames;
    } else if (method->extraWord == 0 && !IsFunction(method) && frames >= 2) [[likely]] {
        // What OBJRUN does after a procedure: the two frames its call form opened close.
        context->argumentFrame.count = frames - 2;
    } else {
        context->argumentFrame.count = frames;
        FinishObjectCall(context, in.caller, method);
    }
}

// Ends the innermost run in place, as the straight way ends its run, and
// leaves the machine on its CALL node.
[[gnu::always_inline]] inline void EndRunInPlace(InPlaceRun& in) {
    RunRecord& run = in.run;
    ProgramContext* const context = run.context;
    tCurrentRun = run.outer;
    if (EndingContext != context && !context->endPending && !tUnwindTarget) StopFlag = false;
    Instruction* const method = in.method;
    if (method) ReleaseMethodFrame(in);
    else
        for (VariableRecord* r = run.frame->next; r; r = r->next) ReleaseVariable(context, r, false, false);
    FinishRunInPlace(in, context, method);
}

// After a stop in a run the base's loop took on in place: ends the runs in
// place the stop ends, innermost first. Returns the node the loop goes on
// at -- after the CALL node of the last run ended, or in the EXCEPT part of
// a run in place whose TRY an inner run's fault unwinds to -- or null when
// the stop reaches the base run (or a run the loop did not take on).
Instruction* EndRunsInPlace(RunRecord* base) {
    for (;;) {
        RunRecord* const run = tCurrentRun;
        if (!run || run == base || run->loop != base) return nullptr;
        if (tUnwindTarget == run) [[unlikely]] {
            // An inner run faulted inside a TRY of this run: resume at its EXCEPT.
            tUnwindTarget = nullptr;
            const int32_t index = InnermostTryOf(run->context);
            if (index >= 0 && TryStack.entries[index].run == run) {
                RewindToTry(run->context, index);
                StopFlag = false;
                return TryStack.entries[index].node->next;
            }
        }
        EndRunInPlace(*reinterpret_cast<InPlaceRun*>(run));
        if (!StopFlag) return CurrentInstruction->next;
    }
}

// What RETURN and ENDPROC leave for a run in place to do when it ends: it
// ends at once, as it would when the loop stopped for it, and the loop goes
// on after its CALL node without stopping (unless the stop holds on).
// (RETURN, which ends most functions, has the end inline; ENDPROC calls it.)
[[gnu::noinline]] void EndCurrentRunInPlace() { EndRunInPlace(*reinterpret_cast<InPlaceRun*>(tCurrentRun)); }

// The end of a CALL's run in place from the frame's record from on, the
// records before it released already (see EndPlainRunInPlace).
[[gnu::noinline]] void EndRunInPlaceFrom(InPlaceRun& in, VariableRecord* from) {
    ProgramContext* const context = in.run.context;
    for (VariableRecord* r = from; r; r = r->next) ReleaseVariable(context, r, false, false);
    FinishRunInPlace(in, context, nullptr);
}

// A function's call site takes its one result with the DROPFCTSTACK node
// after the CALL. When RETURN has left the one result alone above the frame
// it closed (resultFrame; null otherwise), ended the run in place, and the
// frame DROPFCTSTACK closes is that same frame, the node's work on its usual
// way is to close the frame and nothing more: it is done here, and the loop
// goes on after the node without a dispatch. Any other case leaves the node
// to run as it is.
[[gnu::always_inline]] inline void TakeResultAtOnce(ProgramContext* context, const StackEntry* resultFrame) {
    Instruction* const take = CurrentInstruction->next;
    ArgumentFrame& frames = context->argumentFrame;
    const int32_t count = frames.count;
    if (!resultFrame || StopFlag || count <= 0 || frames.slots[count - 1] != resultFrame || !take ||
        take->handler != Builtin___dropfctstack || std::bit_cast<uint64_t>(take->operand) != kOneBits)
        return;
    frames.count = count - 1;
    CurrentInstruction = take;
}

// EndRunInPlace for the run RETURN ends, calling nothing on the usual way (a
// CALL's run whose records are plain and that leaves nothing tracked), so it
// keeps its state in scratch registers; anything else goes the full way.
// (kReturn: RETURN ends it, and the call site's result is taken at once
// when resultFrame allows, see TakeResultAtOnce.)
template <bool kReturn>
[[gnu::always_inline]] inline void EndPlainRunInPlace(InPlaceRun& in, const StackEntry* resultFrame = nullptr) {
    RunRecord& run = in.run;
    ProgramContext* const context = run.context;
    if (in.method || run.callerDepth + 1 < context->trackingDepthsUsed) [[unlikely]]
        return EndCurrentRunInPlace();
    tCurrentRun = run.outer;
    if (EndingContext != context && !context->endPending && !tUnwindTarget) StopFlag = false;
    for (VariableRecord* r = run.frame->next; r; r = r->next) {
        // ReleaseVariable's short way, the rest from the first record it does not take.
        if (r->flags != 0 || r->data) [[unlikely]]
            return EndRunInPlaceFrom(in, r);
        ReleasePlainRecord(r);
    }
    FinishRunInPlace<false>(in, context, nullptr);
    if constexpr (kReturn) TakeResultAtOnce(context, resultFrame);
}

// A method run's frame keeps its binding (see ReleaseMethodFrame; the class
// name and count stay), and the caller's current object comes back.
[[gnu::always_inline]] inline void KeepMethodBinding(InPlaceRun& in, const BoundRecords& kept) {
    FrameCacheRecord* const record = in.cacheRecord;
    record->keptSelf = kept.self;
    record->keptName = kept.name;
    MemberList = in.savedMembers;
}

// The records a method run's start bound in its frame (see StartRunInPlace).
[[gnu::always_inline]] inline BoundRecords BoundByMethodRun(const InPlaceRun& in) {
    const FrameCacheRecord* const record = in.cacheRecord;
    return {record->keptSelf, record->keptName, record->keptClassName, record->keptFreedCount};
}

// The end of a method run in place from the frame's record from on, the
// records before it released already or kept as kept says (see EndPlainMethodRunInPlace).
[[gnu::noinline]] void EndMethodRunInPlaceFrom(InPlaceRun& in, VariableRecord* from, BoundRecords kept) {
    ProgramContext* const context = in.run.context;
    ReleaseFrameVariablesFrom(context, from, BoundByMethodRun(in), kept);
    KeepMethodBinding(in, kept);
    FinishRunInPlace(in, context, in.method);
}

// EndPlainRunInPlace for a method run: its bound records kept, the others
// plain, nothing tracked to free; anything else goes the full way.
[[gnu::always_inline]] inline void EndPlainMethodRunInPlace(InPlaceRun& in) {
    RunRecord& run = in.run;
    ProgramContext* const context = run.context;
    if (run.callerDepth + 1 < context->trackingDepthsUsed) [[unlikely]]
        return EndCurrentRunInPlace();
    tCurrentRun = run.outer;
    if (EndingContext != context && !context->endPending && !tUnwindTarget) StopFlag = false;
    const BoundRecords bound = BoundByMethodRun(in);
    BoundRecords kept{nullptr, nullptr, bound.className, bound.freedCount};
    for (VariableRecord* r = run.frame->next; r; r = r->next) {
        if (r == bound.self && IsBoundSelf(r)) {
            r->value = 0;
            kept.self = r;
        } else if (r == bound.name && IsBoundObjectName(r)) {
            r->data = nullptr;
            kept.name = r;
        } else if (r->flags == 0 && !r->data) {
            ReleasePlainRecord(r);
        } else [[unlikely]] {
            return EndMethodRunInPlaceFrom(in, r, kept);
        }
    }
    KeepMethodBinding(in, kept);
    FinishRunInPlace<false>(in, context, in.method);
}

// What RETURN and ENDPROC do for a run in place. (kMethods: ENDPROC, where a
// method run ends inline too, since it ends most methods; without it,
// RETURN, which also takes the call site's result at once.)
template <bool kMethods>
[[gnu::always_inline]] inline void EndRunIfInPlace(const StackEntry* resultFrame = nullptr) {
    RunRecord* const run = tCurrentRun;
    if (!run || !run->loop || tUnwindTarget == run) return;
    InPlaceRun& in = *reinterpret_cast<InPlaceRun*>(run);
    if (kMethods && in.method) EndPlainMethodRunInPlace(in);
    else EndPlainRunInPlace<!kMethods>(in, resultFrame);
}

// The dispatch loop: one indirect call per node, the stop flag tested once.
// A stop in a run taken on in place ends that run, and the loop goes on
// after its CALL node unless the stop holds for the caller as well.
//
// The node after the running one is read before its handler runs (no
// handler relinks the list it runs in): when the handler left the global
// where it was (it did not jump), the loop goes on there, and the chain
// from node to node is one load each, not a store, a reload of the global
// and a load. A handler that jumped stored its target, read back here.
void RunLoop(void* start) {
    Instruction* node = static_cast<RunRecord*>(start)->first;
    for (;;) {
        do {
            CurrentInstruction = node;
            Instruction* const following = node->next;
            node->handler();
            Instruction* const landed = CurrentInstruction;
            node = landed == node ? following : landed->next;
        } while (!StopFlag);
        // The innermost run is this loop's own, or one it took on in place.
        const RunRecord* const run = tCurrentRun;
        if (!run || !run->loop) return;
        node = EndRunsInPlace(run->loop);
        if (!node) return;
    }
}

}  // namespace

bool IsInsideTry(const ProgramContext* context) { return InnermostTryOf(context) >= 0; }

void KeepCallerFrameClosed(const ProgramContext* context) {
    RunRecord* run = tCurrentRun;
    if (run && run->context == context && context->argumentFrame.count < run->entryFrames)
        run->entryFrames = context->argumentFrame.count;
}

int32_t RunNesting() { return tCurrentRun ? tCurrentRun->nesting : 0; }

namespace {
[[gnu::noinline]] void RunAnyCall();
[[gnu::noinline]] bool RunHandedInCall() { return RunPlainCall<true>(); }
}  // namespace

void RunProcedure() {
    if (CallInProcedure ? RunHandedInCall() : RunPlainCall<false>()) return;
    RunAnyCall();
}

namespace {

// Every call the plain ways above do not take.
void RunAnyCall() {
    // Step 1: what to run, and where.
    Instruction* procedure = CallInProcedure;
    VariableRecord* callInFrame = CallInFrame;
    ProgramContext* context = CallInContext;
    const int32_t mode = EntryMode;
    VariableRecord* object = ObjectToBind;
    ConsumeCallIn();
    if (!procedure) {
        procedure = JumpTarget(CurrentInstruction);
        context = CurrentContext;
        if (procedure && procedure->extra) procedure->extra->cachedVariable = nullptr;
    }
    if (!context) context = CurrentContext;
    if (!procedure || !context || tUnwindTarget) return;
    if (StackIsExhausted()) {
        RaiseRuntimeError("Procedure calls nested too deeply", 0);
        return;
    }

    CopyErrorToLastError();  // step 2

    // Steps 3 to 8.
    VariableRecord* savedMembers = MemberList;
    const CallerState saved = SaveCallerState(CurrentInstruction, CurrentContext, context);
    const int32_t entryDepth = saved.depth;
    NoListCopy = 0;

    FrameCacheRecord* cacheRecord = nullptr;
    BoundRecords bound;
    bool fresh = false;
    VariableRecord* frame = ChooseFrame(context, procedure, callInFrame, &cacheRecord, &fresh);
    if (cacheRecord && (cacheRecord->keptSelf || cacheRecord->keptName) && !object) {
        // A method's frame run without an object: no binding of its last call stays.
        FreeVariableChain(context, frame, false);
        cacheRecord->keptSelf = cacheRecord->keptName = nullptr;
    }
    LocalVariableList = frame;
    CurrentContext = context;
    context->callDepth = entryDepth + 1;
    if (object && frame) {
        bound = BindObject(frame, object, cacheRecord);
        MemberList = object;
    }
    CurrentProcName = ProcedureName(procedure);
    RunRecord* const outer = tCurrentRun;
    RunRecord run{outer,       context,         FirstNode(procedure, mode), entryDepth,
                  frame,       MemberList,      CurrentProcName,            (outer ? outer->nesting : 0) + 1,
                  context->argumentFrame.count, nullptr};
    StopFlag = false;

    // Step 9.
    if (run.first) {
        tCurrentRun = &run;
        RunGuardedLoop(run);
        tCurrentRun = run.outer;
    }

    // Steps 10 to 14, with the depths put back whatever way the run ended.
    if (EndingContext != context && !context->endPending && !tUnwindTarget) StopFlag = false;
    ReleaseFrame(context, procedure, frame, cacheRecord, fresh, bound);
    if (object) MemberList = savedMembers;
    PutBackCallerState(saved, context, run.entryFrames);
}

}  // namespace

void Handle_CALL() {
    if (!StartRunInPlace<Handle_CALL>(nullptr, nullptr)) RunProcedure();
}

void RunProcedureIn(ProgramContext* context, Instruction* procedure) {
    // A thread's runs begin here: its stack of runs in place is ready from then on.
    if (!tInPlaceTop) [[unlikely]]
        MakeThreadRunStorage();
    CallInContext = context;
    CallInProcedure = procedure;
    if (!procedure || !RunHandedInCall()) RunAnyCall();
}

// --- control handlers ----------------------------------------------------------

void NopHandler() {}

void Handle_ENDPROC() {
    StopFlag = true;
    EndRunIfInPlace<true>();
}

namespace {

// A jump back to a loop's opening node starts the loop's next pass. Whatever
// the previous pass left to the loop's depth is dead by then (every statement
// leaves the stack as it found it, and variables keep copies), so it is freed
// now instead of when the loop ends: a long loop that builds texts would
// otherwise hold every pass's temporaries at once.
bool IsLoopHead(const Instruction* node) {
    const auto opcode = static_cast<Opcode>(node->opcode);
    return opcode == Opcode::INITFOR || opcode == Opcode::INITFOREACH || opcode == Opcode::INITWHILE;
}

void TakeJump(ProgramContext* context) {
    Instruction* target = JumpTarget(CurrentInstruction);
    if (target && IsLoopHead(target)) FreeTrackedAllocationsFrom(context, context->callDepth);
    CurrentInstruction = target;
}

}  // namespace


void ConditionalJumpHandler() {
    if (Handler second = CurrentInstruction->secondHandler) second();
    ProgramContext* context = CurrentContext;
    const StackEntry* top = context->stackTop;
    const bool jump = top->value == 0.0 && !top->text;
    PopCell(context);
    if (jump) TakeJump(context);
}

void FinishConditionalJump(Instruction* node, bool jump) {
    CurrentInstruction = node;
    if (jump) TakeJump(CurrentContext);
}

void Handle_INITFOR() {
    ProgramContext* context = CurrentContext;
    context->callDepth += 1;
    OpenLoopActivation(context);
}

void Handle_INITFOREACH() { Handle_INITFOR(); }

void Handle_INITWHILE() { CurrentContext->callDepth += 1; }

void EndCallDepth(ProgramContext* context) {
    FreeTrackedAllocationsFrom(context, context->callDepth);
    DropLoopActivations(context, context->callDepth);
    context->callDepth -= 1;
}

void Handle_ENDLOOP() { EndCallDepth(CurrentContext); }

namespace {

// The variable a loop cell names: its variable, else by its text or number.
VariableRecord* LoopVariable(const StackEntry& cell) {
    if (cell.variable) return cell.variable;
    if (cell.text && !(cell.flags & (kEntryWide | kEntryMatrix))) return RequireVariable(LocalVariableList, cell.text);
    char number[kNumberTextSize];
    FormatNumber(cell.value, number);
    return RequireVariable(LocalVariableList, number);
}

// Whether at least count cells lie above the saved top (the bottom cell not counted).
bool HasCellsAbove(const StackEntry* saved, const StackEntry* top, int32_t count) {
    for (const StackEntry* cell = top; cell && cell != saved && cell->below; cell = cell->below)
        if (--count == 0) return true;
    return false;
}

int32_t CellsAbove(const StackEntry* saved, const StackEntry* top) {
    int32_t count = 0;
    for (const StackEntry* cell = top; cell && cell != saved && cell->below; cell = cell->below) ++count;
    return count;
}

void* FieldOf(int32_t extra) { return extra ? reinterpret_cast<void*>(static_cast<intptr_t>(extra)) : nullptr; }

void LeaveLoop() { CurrentInstruction = JumpTarget(CurrentInstruction); }

}  // namespace

void Handle_FOR() {
    ProgramContext* context = CurrentContext;
    const StackEntry* saved = CloseFrame(context);
    // Most loops have no step: exactly the variable, start and end lie above
    // the saved top, which three links tell without counting.
    const StackEntry* top = context->stackTop;
    const StackEntry* third = top != saved && top->below && top->below != saved ? top->below->below : nullptr;
    const bool threeCells = third && third != saved && third->below == saved && saved;
    const bool haveStep = !threeCells && HasCellsAbove(saved, top, 4);
    double step = haveStep ? PopCellNumber(context) : 0.0;
    const double end = PopCellNumber(context);
    const double start = PopCellNumber(context);
    if (!haveStep) step = end < start ? -1.0 : 1.0;
    // Read the variable cell before anything (a getter) pushes over it.
    const StackEntry* cell = PopCell(context);
    void* field = FieldOf(cell->extra);
    VariableRecord* variable = cell->variable ? cell->variable : LoopVariable(*cell);
    if (!variable) {
        LeaveLoop();
        return;
    }
    double value = start;
    LoopActivation* activation = CurrentLoopActivation(context);
    if (activation && activation->firstRun) {
        activation->firstRun = 0;
        ReleaseVariable(context, variable, false, false);
    } else {
        char* text = nullptr;
        GetVariableValue(variable, &text, &value, field);
        value += step;
    }
    SetVariableValue(variable, nullptr, value, field, 0);
    if (step > 0.0 ? value > end : value < end) LeaveLoop();
}

namespace {

// A node's variable (of its second name when second is set) when its cache
// answers for it (no lookup, nothing made), at the end of its reference
// chain; null otherwise.
[[gnu::always_inline]] inline VariableRecord* CachedNodeVariable(const Instruction* node, bool second = false) {
    const InstructionExtra* extra = node->extra;
    if (!extra || !IsCachedListInForce(second ? extra->cachedList2 : extra->cachedList)) return nullptr;
    VariableRecord* variable = second ? extra->cachedVariable2 : extra->cachedVariable;
    while (variable && variable->reference) variable = variable->reference;
    return variable;
}

// A variable that is read and written as a bare number: no getter or setter,
// no list element, typed storage, protection, owned block or object.
[[gnu::always_inline]] inline bool IsBareNumberVariable(const VariableRecord* variable) {
    if (!variable) return false;
    // The fields that could say otherwise, or-ed into one test.
    const uintptr_t pointers =
        reinterpret_cast<uintptr_t>(variable->data) | reinterpret_cast<uintptr_t>(variable->currentNode) |
        reinterpret_cast<uintptr_t>(variable->getter) | reinterpret_cast<uintptr_t>(variable->setter);
    return (pointers | static_cast<uint32_t>(variable->type) | (variable->flags & (kVarOwnsData | kVarObject))) == 0 &&
           variable->protect != 1;
}

// The end (or the start) of a counting loop's head read from a variable
// holding a bare number.
bool ReadVariableEnd(const Instruction* node, double* end) {
    const VariableRecord* variable = CachedNodeVariable(node);
    if (!IsBareNumberVariable(variable)) return false;
    *end = variable->value;
    return true;
}

// The end of a counting loop's head: a constant, or a variable holding a bare number.
bool ReadLoopEnd(const Instruction* node, double* end) {
    if (node->opcode == static_cast<uint32_t>(Opcode::PUSHINT) && node->handler == Handle_PUSHINT) {
        *end = node->operand;
        return true;
    }
    if (node->opcode != static_cast<uint32_t>(Opcode::PUSHVAR) || node->handler != Handle_PUSHVAR) return false;
    return ReadVariableEnd(node, end);
}

// Steps the variable as FOR would and goes on after the test node, or leaves the loop.
void AdvanceCountingLoop(VariableRecord* variable, double end, double step, Instruction* test) {
    const double value = variable->value + step;
    variable->value = value;
    variable->flags &= ~(kVarMatrix | kVarHandedOver);
    CurrentInstruction = test;
    if (step > 0.0 ? value > end : value < end) LeaveLoop();
}

// The end and the step of a counting loop's head "PUSHINTINT end, step":
// two constants, the step given.
bool ReadConstantEndAndStep(const Instruction* node, double* end, double* step) {
    if (node->opcode != static_cast<uint32_t>(Opcode::PUSHINTINT) || node->handler != Handle_PUSHINTINT) return false;
    *end = 0.0;
    if (node->text) std::memcpy(end, node->text, sizeof *end);
    *step = node->operand;
    return true;
}

// The back jump of a counting loop whose head is "PUSHVARINT (savesp) var,
// start" (or "PUSHVARVAR (savesp) var, start" with the start a variable),
// then "PUSHINT end" ("PUSHVAR end", or "PUSHINTINT end, step") and "FOR",
// and whose variable holds a bare number: the pass the head would run, done
// without its pushes and pops. The head's pushes read nothing that can
// change or report, so skipping them leaves everything as the nodes would;
// any other head, or a variable its node's cache does not answer for, goes
// the general way. The shape found is kept in the loop's activation for the
// next passes.
bool StepCountingLoop(ProgramContext* context, Instruction* head, LoopActivation* activation) {
    const Instruction* pushes = head->next;
    if (!pushes || pushes->handler != Builtin___savesp || NoFollowPending) return false;
    bool fromVariable = false;
    if (pushes->opcode == static_cast<uint32_t>(Opcode::PUSHVARVAR) && pushes->secondHandler == Handle_PUSHVARVAR)
        fromVariable = true;
    else if (pushes->opcode != static_cast<uint32_t>(Opcode::PUSHVARINT) || pushes->secondHandler != Handle_PUSHVARINT)
        return false;
    const Instruction* endNode = pushes->next;
    Instruction* test = endNode ? endNode->next : nullptr;
    if (!test || test->handler != Handle_FOR || context->argumentFrame.count >= kMaxArgumentFrames) return false;
    double start = pushes->operand;
    if (fromVariable && !ReadVariableEnd(pushes, &start)) return false;
    double end = 0.0;
    double step = 0.0;
    // Without a step the loop counts towards its end from the start.
    const bool stepGiven = ReadConstantEndAndStep(endNode, &end, &step);
    if (!stepGiven) {
        if (!ReadLoopEnd(endNode, &end)) return false;
        step = end < start ? -1.0 : 1.0;
    }
    VariableRecord* variable = CachedNodeVariable(pushes, fromVariable);
    if (!IsBareNumberVariable(variable)) return false;
    if (activation && activation->firstRun) return false;
    if (activation) {
        const bool constantEnd = stepGiven || endNode->opcode == static_cast<uint32_t>(Opcode::PUSHINT);
        // The quick path takes the variable its cache names as it stands: one
        // reached through a reference goes the longer proved way.
        const bool direct = pushes->extra->cachedVariable == variable;
        activation->countedHead = head;
        activation->constantHead = constantEnd && !fromVariable && direct ? head : nullptr;
        activation->wholeTries = 0;
        activation->wholeWait = 0;
        activation->countedPushes = pushes;
        activation->countedExtra = pushes->extra;
        activation->countedVariable = variable;
        activation->countedEndNode = constantEnd ? nullptr : endNode;
        activation->countedTest = test;
        activation->countedEnd = end;
        activation->countedStep = step;
        activation->countedFromVariable = fromVariable;
        activation->countedStepGiven = stepGiven;
    }
    AdvanceCountingLoop(variable, end, step, test);
    return true;
}

// A later pass of a counting loop whose head StepCountingLoop proved, when
// its start, end and step are constants (constantHead is set only for those):
// what the body can have changed (the variable and its node's cache) is
// checked again, the rest is taken as found. The variable is the record the
// cache named when proved, with no reference: the cache is asked whether it
// still names that record rather than followed.
[[gnu::always_inline]] inline bool StepProvedConstantLoop(const ProgramContext* context,
                                                          const LoopActivation& activation) {
    VariableRecord* variable = activation.countedVariable;
    const InstructionExtra* extra = activation.countedExtra;
    if (NoFollowPending || context->argumentFrame.count >= kMaxArgumentFrames) return false;
    if (extra->cachedVariable != variable || !IsCachedListInForce(extra->cachedList)) return false;
    if (variable->reference || !IsBareNumberVariable(variable)) return false;
    AdvanceCountingLoop(variable, activation.countedEnd, activation.countedStep, activation.countedTest);
    return true;
}

// Such a pass of any proved head: a variable end or start is read again.
bool StepProvedCountingLoop(const ProgramContext* context, const LoopActivation& activation) {
    if (activation.constantHead) return StepProvedConstantLoop(context, activation);
    if (NoFollowPending || context->argumentFrame.count >= kMaxArgumentFrames) return false;
    const Instruction* pushes = activation.countedPushes;
    VariableRecord* variable = CachedNodeVariable(pushes, activation.countedFromVariable != 0);
    if (!IsBareNumberVariable(variable)) return false;
    double end = activation.countedEnd;
    if (activation.countedEndNode && !ReadVariableEnd(activation.countedEndNode, &end)) return false;
    double step = activation.countedStep;
    if (!activation.countedStepGiven) {
        double start = pushes->operand;
        if (activation.countedFromVariable && !ReadVariableEnd(pushes, &start)) return false;
        step = end < start ? -1.0 : 1.0;
    }
    AdvanceCountingLoop(variable, end, step, activation.countedTest);
    return true;
}

// A record a loop run whole reads and writes as a bare number, and that
// nothing but those reads and writes can see: no reference, list element,
// getter, setter, typed storage, array, block, protection or mark (a public
// member's mark aside). A number stored into it leaves it so.
[[gnu::always_inline]] inline bool IsWholeLoopRecord(const VariableRecord* variable) {
    return variable && !variable->reference && IsBareNumberVariable(variable) && TakesPlainNumber(variable) &&
           (variable->flags & ~kVarPublic) == 0;
}

// A walk's result after a pass over a list element that is a bare number:
// a view that shows the number and holds nothing else. Only the walk's own
// step changes it, so a loop run whole may read it as a number (but never
// writes it: IsWholeLoopRecord refuses it).
[[gnu::always_inline]] inline bool IsNumberView(const VariableRecord* v) {
    const uintptr_t pointers = reinterpret_cast<uintptr_t>(v->data) | reinterpret_cast<uintptr_t>(v->currentNode) |
                               reinterpret_cast<uintptr_t>(v->getter) | reinterpret_cast<uintptr_t>(v->reference);
    return (pointers | static_cast<uint32_t>(v->type) | v->elementCount) == 0 &&
           (v->flags & ~kVarPublic) == kVarHandedOver;
}

// The record a node names (its first name, or the second one a two-name
// push keeps at its operand's address) as its own lookup would find it now,
// without running it: what its cache answers while in force, else the
// running frame's record of that name in the node's scope -- a lookup finds
// the frame first when no object's members come before it (see
// FindInRunningFrame). A node in a branch that has not run yet has no
// cache, and may have no side record either: its scope then is 0, as a side
// record made for it would say. Null when neither answers.
VariableRecord* NodeRecord(const Instruction* node, bool second) {
    const InstructionExtra* extra = node->extra;
    if (extra && IsCachedListInForce(second ? extra->cachedList2 : extra->cachedList))
        return second ? extra->cachedVariable2 : extra->cachedVariable;
    if (MemberList) return nullptr;
    uint32_t hash = node->textHash;
    if (second) {
        const auto* name = reinterpret_cast<const char*>(static_cast<uintptr_t>(node->operand));
        hash = name ? HashVariableName(name) : 0;
    }
    if (hash == 0) return nullptr;
    const uint32_t scope = extra ? extra->namespaceHash : 0;
    for (VariableRecord* r = LocalVariableList; r; r = r->next)
        if (r->hash == hash && r->scope == scope) return r;
    return nullptr;
}

// The record a node names (see NodeRecord) when IsWholeLoopRecord accepts
// it; null otherwise.
VariableRecord* WholeLoopRecord(const Instruction* node, bool second) {
    VariableRecord* variable = NodeRecord(node, second);
    return IsWholeLoopRecord(variable) ? variable : nullptr;
}

// ApplyNumberRule with the sum, the rule a loop's total is most often kept
// by, tested before the table jump.
[[gnu::always_inline]] inline double ApplyFusedRule(uint8_t rule, double left, double right) {
    if (rule == kAddRule) [[likely]]
        return AddNumbers(left, right);
    return ApplyNumberRule(rule, left, right);
}

template <typename Visit>
Instruction* WalkNumberLabels(Instruction* pull, Visit visit);

// A loop body of number pushes, operators with a number rule and stores of
// numbers, as steps on a small stack of numbers whose top is kept apart
// (in a register while the steps run). An operator whose right operand is
// the push just before it takes that operand in the same step.
struct WholeLoopBody {
    enum Kind : uint8_t {
        kPushVariable, kPushConstant,
        kAdd, kSubtract, kMultiply, kRule,                                  // top = below op top
        kAddVariable, kSubtractVariable, kMultiplyVariable, kRuleVariable,  // top = top op variable
        kAddConstant, kSubtractConstant, kMultiplyConstant, kRuleConstant,  // top = top op constant
        kStore,     // variable = top, popped
        kCompound,  // variable = variable op top, popped
        kStepBy,    // variable = variable + constant
        kUpdateVariable,  // variable = variable op other, the stack as it was
        kUpdateConstant,  // variable = variable op constant, the stack as it was
        kEndPass,   // the pass ends here, with top
        kJump,      // the pass goes on at step to
        kJumpIfZero,  // top popped; when it was 0, the pass goes on at step to
        kSelect,    // a CASE on top, popped: kept in the CASE's slot, the pass goes on at its label's steps
    };
    struct Step {
        Kind kind;
        uint8_t rule;               // the rule of a kRule..., kCompound or kUpdate... step
        uint16_t to;                // kJump, kJumpIfZero: the step the pass goes on at
        VariableRecord* variable;
        double constant;
        VariableRecord* other;      // kUpdateVariable
    };
    static constexpr int kMaxSteps = 64;
    static constexpr int kMaxDepth = 8;
    static constexpr int kMaxSegments = 24;
    Step steps[kMaxSteps];
    int before[kMaxSteps];  // numbers on the stack before each step
    int count = 0;
    int depth = 0;  // numbers on the stack after the steps so far
    bool jumps = false;  // some step jumps or selects
    // The CASE a kSelect step selects in (one at most): its slot, and the
    // step each small whole selector goes on at (caseTargets[kCaseTableSize]
    // for every other selector).
    CaseSlot* caseSlot = nullptr;
    uint16_t caseTargets[kCaseTableSize + 1] = {};

    bool Add(Kind kind, int pops, int pushes, uint8_t rule = 0, VariableRecord* variable = nullptr,
             double constant = 0.0) {
        if (count == kMaxSteps || depth < pops || depth - pops + pushes > kMaxDepth) return false;
        before[count] = depth;
        depth += pushes - pops;
        steps[count++] = {kind, rule, 0, variable, constant, nullptr};
        return true;
    }
    static bool Writes(Kind kind) { return kind >= kStore; }
    // Whether the steps from first up to (not with) last leave the numbers
    // below the given depth as they found them, and write no record: each
    // pushes onto, or works on, numbers above it only.
    bool KeepsBelow(int first, int last, int kept) const {
        for (int j = first; j < last; ++j) {
            const Kind kind = steps[j].kind;
            const int lowest = kind <= kPushConstant ? before[j] : kind <= kRule ? before[j] - 2 : before[j] - 1;
            if (Writes(kind) || lowest < kept) return false;
        }
        return true;
    }
    // "x = x op (...)": the push of x, the steps of the right operand and the
    // operator, then the store, as one compound step after the right
    // operand's steps. The right operand writes nothing, so x read after it
    // is x read before it. True when done.
    bool StoreIntoLeftOperand(VariableRecord* target) {
        if (count < 2 || steps[count - 1].kind < kAdd || steps[count - 1].kind > kRule) return false;
        const int left = before[count - 1] - 2;  // where the operator's left operand lies
        int pushed = count - 2;
        while (pushed >= 0 && before[pushed] != left) --pushed;
        if (pushed < 0 || steps[pushed].kind != kPushVariable || steps[pushed].variable != target ||
            !KeepsBelow(pushed + 1, count - 1, left + 1))
            return false;
        const uint8_t rule = steps[count - 1].rule;
        for (int j = pushed; j + 1 < count - 1; ++j) {
            steps[j] = steps[j + 1];
            before[j] = before[j + 1] - 1;
        }
        count -= 1;
        steps[count - 1] = {kCompound, rule, 0, target, 0.0, nullptr};
        before[count - 1] = left + 1;
        depth = left;
        return true;
    }
    // "x = x op y" and "x op= y": the push of y (or of a constant), the
    // operator and the store, whose pushes and pops cancel out, in one step
    // on x. The last steps are those the nodes just gave, with no node in
    // between that could jump into them.
    bool Update(VariableRecord* target, uint8_t rule, const Step& operand) {
        if (operand.kind == kPushVariable) steps[count - 1] = {kUpdateVariable, rule, 0, target, 0.0, operand.variable};
        else steps[count - 1] = {kUpdateConstant, rule, 0, target, operand.constant, nullptr};
        depth -= 1;
        return true;
    }
    bool Store(VariableRecord* target) {
        if (count >= 2 && steps[count - 2].kind == kPushVariable && steps[count - 2].variable == target &&
            steps[count - 1].kind >= kAddVariable && steps[count - 1].kind <= kRuleConstant) {
            // Every operator step keeps its rule, whatever its form.
            const Step operator_ = steps[count - 1];
            const bool named = operator_.kind <= kRuleVariable;
            count -= 1;
            return Update(target, operator_.rule, {named ? kPushVariable : kPushConstant, 0, 0, operator_.variable,
                                                   operator_.constant, nullptr});
        }
        return StoreIntoLeftOperand(target) || Add(kStore, 1, 0, 0, target);
    }
    bool Compound(VariableRecord* target, uint8_t rule) {
        if (count >= 1 && depth >= 1 && steps[count - 1].kind <= kPushConstant)
            return Update(target, rule, steps[count - 1]);
        return Add(kCompound, 1, 0, rule, target);
    }
    bool PushVariable(VariableRecord* variable) { return variable && Add(kPushVariable, 0, 1, 0, variable); }
    // The record a node's cache answers with for a read: one WholeLoopRecord
    // gives, or a walk's view of a number.
    static VariableRecord* ReadRecord(const Instruction* node, bool second) {
        VariableRecord* variable = NodeRecord(node, second);
        return variable && (IsWholeLoopRecord(variable) || IsNumberView(variable)) ? variable : nullptr;
    }
    bool PushConstant(double constant) { return Add(kPushConstant, 0, 1, 0, nullptr, constant); }
    bool ApplyRule(uint8_t rule) {
        const int form = rule == kAddRule ? 0 : rule == kSubtractRule ? 1 : rule == kMultiplyRule ? 2 : 3;
        if (count > 0 && depth >= 2 && steps[count - 1].kind <= kPushConstant) {
            Step& last = steps[count - 1];
            last.kind = static_cast<Kind>((last.kind == kPushVariable ? kAddVariable : kAddConstant) + form);
            last.rule = rule;
            depth -= 1;
            return true;
        }
        return Add(static_cast<Kind>(kAdd + form), 2, 1, rule);
    }

    // An operator node of a typed form: its number rule, and where its
    // constant (the node's operand) and its named variable go.
    struct TypedForm {
        Opcode opcode;
        NumberRuleIndex rule;
        enum Operands : uint8_t { kTopAndConstant, kVariableAndConstant, kConstantAndVariable } operands;
    };
    static constexpr TypedForm kTypedForms[] = {
        {Opcode::ADD2, kAddRule, TypedForm::kTopAndConstant},
        {Opcode::SUB2, kSubtractRule, TypedForm::kTopAndConstant},
        {Opcode::MUL2, kMultiplyRule, TypedForm::kTopAndConstant},
        {Opcode::DIV2, kDivideRule, TypedForm::kTopAndConstant},
        {Opcode::EQ2, kEqualRule, TypedForm::kTopAndConstant},
        {Opcode::NE2, kNotEqualRule, TypedForm::kTopAndConstant},
        {Opcode::LT2, kLessRule, TypedForm::kTopAndConstant},
        {Opcode::GT2, kGreaterRule, TypedForm::kTopAndConstant},
        {Opcode::LE2, kLessEqualRule, TypedForm::kTopAndConstant},
        {Opcode::GE2, kGreaterEqualRule, TypedForm::kTopAndConstant},
        {Opcode::ADD5, kAddRule, TypedForm::kVariableAndConstant},
        {Opcode::ADD6, kAddRule, TypedForm::kConstantAndVariable},
        {Opcode::SUB5, kSubtractRule, TypedForm::kVariableAndConstant},
        {Opcode::SUB6, kSubtractRule, TypedForm::kConstantAndVariable},
        {Opcode::MUL5, kMultiplyRule, TypedForm::kVariableAndConstant},
        // "*6" multiplies the variable by the constant, as "*5" does.
        {Opcode::MUL6, kMultiplyRule, TypedForm::kVariableAndConstant},
        {Opcode::DIV5, kDivideRule, TypedForm::kVariableAndConstant},
        {Opcode::DIV6, kDivideRule, TypedForm::kConstantAndVariable},
    };

    // A step of a named variable by one, or by the node's constant, with the
    // sign its handler multiplies by.
    struct StepForm {
        Opcode opcode;
        double sign;
        bool byOperand;
    };
    static constexpr StepForm kStepForms[] = {
        {Opcode::INC2, 1.0, false},
        {Opcode::DEC2, -1.0, false},
        {Opcode::INC3, 1.0, true},
        {Opcode::DEC3, -1.0, true},
    };

    bool AddTypedForm(const Instruction* node, const TypedForm& form) {
        switch (form.operands) {
            case TypedForm::kTopAndConstant:
                return depth >= 1 && PushConstant(node->operand) && ApplyRule(form.rule);
            case TypedForm::kVariableAndConstant:
                return node->extraWord == 0 && PushVariable(ReadRecord(node, false)) &&
                       PushConstant(node->operand) && ApplyRule(form.rule);
            case TypedForm::kConstantAndVariable:
                return node->extraWord == 0 && PushConstant(node->operand) &&
                       PushVariable(ReadRecord(node, false)) && ApplyRule(form.rule);
        }
        return false;
    }

    // The steps of the operator fused under a conditional jump: an operator
    // with a number rule, or one of its typed forms (the jump's own opcode
    // and operand then are the operator's).
    bool AddFusedOperator(const Instruction* jump) {
        const auto opcode = static_cast<Opcode>(jump->opcode);
        if (opcode == Opcode::INTERNALCALL) {
            const NumberRuleIndex rule = NumberRuleIndexOf(jump->secondHandler);
            return rule != kNoNumberRule && depth >= 2 && ApplyRule(rule);
        }
        for (const TypedForm& form : kTypedForms)
            if (opcode == form.opcode) return jump->secondHandler == RegisteredHandler(form.opcode) && AddTypedForm(jump, form);
        return false;
    }

    // The steps of one node, when it is one whose effect on plain numbers
    // they give exactly (its plain handler, nothing fused into it, every
    // variable it names a record of its cache that IsWholeLoopRecord
    // accepts, or a number view it only reads); false for any other node.
    bool AddNode(const Instruction* node) {
        if (node->secondHandler) return false;
        const auto opcode = static_cast<Opcode>(node->opcode);
        const Handler handler = node->handler;
        for (const TypedForm& form : kTypedForms)
            if (opcode == form.opcode) return handler == RegisteredHandler(form.opcode) && AddTypedForm(node, form);
        if (opcode == Opcode::PUSHVAR && handler == Handle_PUSHVAR) return PushVariable(ReadRecord(node, false));
        if (opcode == Opcode::PUSHINT && handler == Handle_PUSHINT) return PushConstant(node->operand);
        if (opcode == Opcode::PUSHVARVAR && handler == Handle_PUSHVARVAR)
            return PushVariable(ReadRecord(node, true)) && PushVariable(ReadRecord(node, false));
        if (opcode == Opcode::PUSHVARINT && handler == Handle_PUSHVARINT)
            return PushVariable(ReadRecord(node, false)) && PushConstant(node->operand);
        if (opcode == Opcode::PUSHINTVAR && handler == Handle_PUSHINTVAR)
            return PushConstant(node->operand) && PushVariable(ReadRecord(node, false));
        if (opcode == Opcode::INTERNALCALL) {
            const NumberRuleIndex rule = NumberRuleIndexOf(handler);
            return rule != kNoNumberRule && depth >= 2 && ApplyRule(rule);
        }
        if (IsNumberAssignOpcode(node)) {
            VariableRecord* target = WholeLoopRecord(node, false);
            return target && depth >= 1 && Store(target);
        }
        if (node->extraWord != 0) return false;
        for (const StepForm& form : kStepForms) {
            if (opcode != form.opcode) continue;
            VariableRecord* target = handler == RegisteredHandler(form.opcode) ? WholeLoopRecord(node, false) : nullptr;
            return target && Add(kStepBy, 0, 0, 0, target, form.byOperand ? form.sign * node->operand : form.sign);
        }
        uint8_t rule = kNoNumberRule;
        if (opcode == Opcode::ADDASSIGN2 && handler == RegisteredHandler(Opcode::ADDASSIGN2)) rule = kAddRule;
        else if (opcode == Opcode::SUBASSIGN2 && handler == RegisteredHandler(Opcode::SUBASSIGN2)) rule = kSubtractRule;
        else if (opcode == Opcode::MULASSIGN2 && handler == RegisteredHandler(Opcode::MULASSIGN2)) rule = kMultiplyRule;
        VariableRecord* target = rule != kNoNumberRule ? WholeLoopRecord(node, false) : nullptr;
        return target && depth >= 1 && Compound(target, rule);
    }

    // The steps of the nodes from first, where a pass starts, up to the
    // loop's closing jump branch: straight runs of nodes AddNode takes,
    // joined by jumps and conditional jumps that open no loop and, when activation is given, by
    // the CASE whose table that activation keeps (a CASE on a number whose
    // labels are all small whole numbers: a selector the table does not
    // hold then matches none, as the labels' own walk would find). Every
    // run starts and ends with an empty stack. False for any other body.
    bool AddPasses(const Instruction* first, const Instruction* branch, const LoopActivation* activation) {
        const Instruction* starts[kMaxSegments];
        uint16_t startSteps[kMaxSegments];
        int segments = 0;
        const auto segmentOf = [&](const Instruction* start) {
            for (int i = 0; i < segments; ++i)
                if (starts[i] == start) return i;
            if (segments == kMaxSegments) return -1;
            starts[segments] = start;
            return segments++;
        };
        int caseSegments[kCaseTableSize + 1];
        segmentOf(first);
        for (int segment = 0; segment < segments; ++segment) {
            startSteps[segment] = static_cast<uint16_t>(count);
            depth = 0;
            for (const Instruction* node = starts[segment];; node = node->next) {
                if (!node) return false;
                if (node == branch) {
                    if (!Add(kEndPass, 0, 0)) return false;
                    break;
                }
                // Where a jump lands (after an IF's body, an ELSE, each ELSE
                // IF) the pass goes on at that node's own steps, made once.
                if (node != starts[segment] && depth == 0 && node->previous && node->previous->extra &&
                    node->previous->extra->isJumpTarget) {
                    const int to = segmentOf(node);
                    if (to < 0 || !Add(kJump, 0, 0)) return false;
                    jumps = true;
                    steps[count - 1].to = static_cast<uint16_t>(to);
                    break;
                }
                const auto opcode = static_cast<Opcode>(node->opcode);
                if (opcode == Opcode::BRANCH && node->handler == Handle_BRANCH && !node->secondHandler) {
                    const Instruction* target = JumpTarget(node);
                    const int to = target && !IsLoopHead(target) && depth == 0 ? segmentOf(target->next) : -1;
                    if (to < 0 || !Add(kJump, 0, 0)) return false;
                    jumps = true;
                    steps[count - 1].to = static_cast<uint16_t>(to);
                    break;
                }
                if (node->handler == ConditionalJumpHandler) {
                    // An IF's jump (an operator's number rule may be fused
                    // under it), taken when the test gave 0: the pass then
                    // goes on at the target's successor, else at the next node.
                    if (node->secondHandler && !AddFusedOperator(node)) return false;
                    const Instruction* target = JumpTarget(node);
                    const int to = target && !IsLoopHead(target) && depth == 1 ? segmentOf(target->next) : -1;
                    if (to < 0 || !Add(kJumpIfZero, 1, 0)) return false;
                    jumps = true;
                    steps[count - 1].to = static_cast<uint16_t>(to);
                    continue;
                }
                if (opcode == Opcode::PULLCASE && node->handler == Handle_PULLCASE && !node->secondHandler) {
                    if (!activation || activation->casePull != node || caseSlot || depth != 1) return false;
                    bool small = true;
                    WalkNumberLabels(const_cast<Instruction*>(node), [&](Instruction*, double constant) {
                        small = small && constant >= 0.0 && constant < kCaseTableSize &&
                                static_cast<double>(static_cast<int>(constant)) == constant;
                        return false;
                    });
                    if (!small || !activation->caseNoMatch) return false;
                    for (int index = 0; index <= kCaseTableSize; ++index) {
                        const Instruction* label =
                            index < kCaseTableSize && activation->caseLabels[index] ? activation->caseLabels[index]
                                                                                     : activation->caseNoMatch;
                        if ((caseSegments[index] = segmentOf(label->next)) < 0) return false;
                    }
                    caseSlot = activation->caseSlot;
                    if (!Add(kSelect, 1, 0)) return false;
                    jumps = true;
                    break;
                }
                if (!AddNode(node)) return false;
            }
            if (depth != 0) return false;
        }
        for (int i = 0; i < count; ++i)
            if (steps[i].kind == kJump || steps[i].kind == kJumpIfZero) steps[i].to = startSteps[steps[i].to];
        if (caseSlot)
            for (int index = 0; index <= kCaseTableSize; ++index) caseTargets[index] = startSteps[caseSegments[index]];
        return true;
    }

    // One pass over the records, read and written in the nodes' order, giving
    // the number left on top (a loop's test leaves one). The records hold no
    // data and no marks, so a store is the number alone. Without jumps the
    // steps before the closing kEndPass run one after the other, and the
    // loop's own bound ends the pass.
    template <bool withJumps>
    [[gnu::always_inline]] double RunSteps() const {
        double below[kMaxDepth + 1];
        double* spilled = below;  // the top's value is spilled here on a push (unused when the stack is empty)
        double top = 0.0;
        const Step* const last = steps + count - 1;
        for (const Step* step = steps; withJumps || step != last;) {
            switch (step->kind) {
                case kPushVariable: *spilled++ = top; top = step->variable->value; break;
                case kPushConstant: *spilled++ = top; top = step->constant; break;
                case kAdd: top = AddNumbers(*--spilled, top); break;
                case kSubtract: top = SubtractNumbers(*--spilled, top); break;
                case kMultiply: top = MultiplyNumbers(*--spilled, top); break;
                case kRule: top = ApplyNumberRule(step->rule, *--spilled, top); break;
                case kAddVariable: top = AddNumbers(top, step->variable->value); break;
                case kSubtractVariable: top = SubtractNumbers(top, step->variable->value); break;
                case kMultiplyVariable: top = MultiplyNumbers(top, step->variable->value); break;
                case kRuleVariable: top = ApplyNumberRule(step->rule, top, step->variable->value); break;
                case kAddConstant: top = AddNumbers(top, step->constant); break;
                case kSubtractConstant: top = SubtractNumbers(top, step->constant); break;
                case kMultiplyConstant: top = MultiplyNumbers(top, step->constant); break;
                case kRuleConstant: top = ApplyNumberRule(step->rule, top, step->constant); break;
                case kStore: step->variable->value = top; top = *--spilled; break;
                case kCompound:
                    step->variable->value = ApplyFusedRule(step->rule, step->variable->value, top);
                    top = *--spilled;
                    break;
                case kStepBy: step->variable->value = step->variable->value + step->constant; break;
                case kUpdateVariable:
                    step->variable->value = ApplyFusedRule(step->rule, step->variable->value, step->other->value);
                    break;
                case kUpdateConstant:
                    step->variable->value = ApplyFusedRule(step->rule, step->variable->value, step->constant);
                    break;
                case kEndPass: return top;
                case kJump: step = steps + step->to; continue;
                case kJumpIfZero: {
                    const double test = top;
                    top = *--spilled;
                    if (test == 0.0) {
                        step = steps + step->to;
                        continue;
                    }
                    break;
                }
                case kSelect: {
                    // As the CASE's table selects (see SelectByTable).
                    const double selector = top;
                    top = *--spilled;
                    *caseSlot = {nullptr, selector};
                    const bool small = selector >= 0.0 && selector < kCaseTableSize &&
                                       static_cast<double>(static_cast<int>(selector)) == selector;
                    const int index = small ? static_cast<int>(selector) : kCaseTableSize;
                    step = steps + caseTargets[index];
                    continue;
                }
            }
            ++step;
        }
        return top;
    }
};

// The passes of a counting loop run whole: the step, then the body, until
// the variable passes the end. This and RunWhilePasses start on a cache line
// of their own: their step switch runs a few instructions per step, and its
// speed moved by up to a fifth with where the linker happened to place it.
template <bool withJumps>
[[gnu::noinline, gnu::aligned(64)]] void RunCountedPasses(VariableRecord* variable, double end, double step, const WholeLoopBody& body) {
    for (;;) {
        const double value = variable->value + step;
        variable->value = value;
        if (step > 0.0 ? value > end : value < end) return;
        static_cast<void>(body.RunSteps<withJumps>());
    }
}

constexpr uint8_t kWholeRunTries = 4;
constexpr uint16_t kPassesBetweenWholeTries = 8;
constexpr uint16_t kNeverWhole = UINT16_MAX;

// Whether a proved constant counting loop has too few passes left for a
// run whole to make up for turning its body into steps (the steps cost about
// as much as a few passes on the nodes). Passes only get fewer as the loop
// goes on, unless the body moves the variable back.
constexpr double kWholeRunMinPasses = 4.0;
[[gnu::always_inline]] inline bool FewPassesLeft(const LoopActivation& activation, const VariableRecord* variable) {
    const double left = (activation.countedEnd - variable->value) / activation.countedStep;
    return !(left >= kWholeRunMinPasses);
}

// The back jump of a proved constant counting loop (see StepProvedConstantLoop)
// whose body, from the FOR node to this BRANCH, is nothing but nodes
// WholeLoopBody takes: every pass left, the step and the body, runs here on
// the records, to the loop's end. Nothing else runs meanwhile, so what the
// nodes would test again on each pass (caches in force, records holding
// bare numbers, nothing pending, nothing to free) holds as proved here
// once: the passes store only numbers into bare-number records. A stop is
// requested by a node that runs, and none of these can request one. Tried
// a few times per activation; false, with nothing done, when the loop is no
// such loop now.
[[gnu::noinline]] bool RunCountingLoopWhole(const ProgramContext* context, LoopActivation& activation,
                                            const Instruction* branch) {
    // A body node that has not run yet has no cache to answer for its
    // variable: later passes run it, so a refused loop is tried again a few
    // times, some passes apart.
    activation.wholeWait = ++activation.wholeTries < kWholeRunTries ? kPassesBetweenWholeTries : kNeverWhole;
    VariableRecord* variable = activation.countedVariable;
    const InstructionExtra* extra = activation.countedExtra;
    if (StopFlag || NoFollowPending || SetPushPending || context->argumentFrame.count >= kMaxArgumentFrames)
        return false;
    if (extra->cachedVariable != variable || !IsCachedListInForce(extra->cachedList) || !IsWholeLoopRecord(variable))
        return false;
    if (FewPassesLeft(activation, variable)) {
        activation.wholeWait = kNeverWhole;
        return false;
    }
    Instruction* test = activation.countedTest;
    WholeLoopBody body;
    if (!body.AddPasses(test->next, branch, &activation)) return false;
    if (body.jumps) RunCountedPasses<true>(variable, activation.countedEnd, activation.countedStep, body);
    else RunCountedPasses<false>(variable, activation.countedEnd, activation.countedStep, body);
    CurrentInstruction = JumpTarget(test);
    return true;
}

// A BRANCH node whose WHILE loop RunWhileLoopWhole refused this many times
// is not tried again: the refusal is kept in its side record's fused-shape
// byte (unused by a BRANCH), the count in its rule byte.
constexpr uint8_t kWholeRunRefused = 1;
constexpr uint8_t kWhileWholeTries = 8;

// The passes of a WHILE run whole: the test, then the body, until the test gives 0.
template <bool withJumps>
[[gnu::noinline, gnu::aligned(64)]] void RunWhilePasses(const WholeLoopBody& test, const WholeLoopBody& body) {
    while (test.RunSteps<false>() != 0.0) static_cast<void>(body.RunSteps<withJumps>());
}

bool RefuseWholeRun(InstructionExtra* mark) {
    if (++mark->fusedRule >= kWhileWholeTries) mark->fusedShape = kWholeRunRefused;
    return false;
}

// The back jump of a WHILE whose test is nothing but nodes WholeLoopBody
// takes, then its conditional jump (with an operator's number rule fused
// in, or alone), and whose body, up to this BRANCH, is such nodes too: the
// passes run here on the records, as RunCountingLoopWhole runs a counting
// loop's, and the loop is left by the jump its test takes. False, with
// nothing done, when the loop is no such loop now.
[[gnu::noinline]] bool RunWhileLoopWhole(ProgramContext* context, const Instruction* head, Instruction* branch) {
    InstructionExtra* mark = branch->extra;
    if (StopFlag || NoFollowPending || SetPushPending) return RefuseWholeRun(mark);
    WholeLoopBody test;
    Instruction* jump = head->next;
    for (; jump && jump->handler != ConditionalJumpHandler; jump = jump->next)
        if (!test.AddNode(jump)) return RefuseWholeRun(mark);
    if (!jump) return RefuseWholeRun(mark);
    // An operator's own handler fused under the jump; any other node's is not taken.
    if (jump->secondHandler && !test.AddFusedOperator(jump)) return RefuseWholeRun(mark);
    if (test.depth != 1 || !test.Add(WholeLoopBody::kEndPass, 0, 0)) return RefuseWholeRun(mark);
    WholeLoopBody body;
    if (!body.AddPasses(jump->next, branch, nullptr)) return RefuseWholeRun(mark);
    if (body.jumps) RunWhilePasses<true>(test, body);
    else RunWhilePasses<false>(test, body);
    CurrentInstruction = jump;
    TakeJump(context);
    return true;
}

}  // namespace


namespace {

// A list variable's cache of its node is reloaded when the node changed
// since (the variable store does the same before a read).
void RefreshListCache(VariableRecord* variable) {
    if (variable->currentNode && (variable->flags & kVarList) && !variable->reference &&
        variable->stamp != variable->currentNode->stamp)
        LoadListElement(variable);
}

// What ReleaseVariable leaves of a record that only shows a value handed
// over to it, as the view of a walk's previous pass does: nothing it owns,
// no reference, members or links, so only the fields are cleared. False for
// any other record, which goes the general way.
bool ReleaseHandedOverView(VariableRecord* v) {
    if ((v->flags & ~(kVarHandedOver | kVarWideText | kVarPublic)) != 0 || !(v->flags & kVarHandedOver) ||
        v->reference || v->members || v->links)
        return false;
    v->parent = nullptr;
    ClearValueFields(v);
    v->flags &= kVarPublic;
    return true;
}

// The result variable becomes a view of a value another record holds (a
// list's loaded element, the variable a by-reference element stands for, an
// object's member): it shares the data without owning it. An object keeps a
// copy of its class name of its own; a structure gets member records.
void ViewElement(ProgramContext* context, VariableRecord* result, VariableRecord* source) {
    if (!ReleaseHandedOverView(result)) ReleaseVariable(context, result, false, false);
    if ((source->flags & kVarStructure) && source->elementCount == 0) {
        ShareStructureElement(result, source, source->data);
        return;
    }
    result->value = source->value;
    result->type = source->type;
    result->elementCount = source->elementCount;
    result->dimensionCount = source->dimensionCount;
    std::memcpy(result->dimensions, source->dimensions, sizeof result->dimensions);
    result->flags = source->flags & ~(kVarOwnsData | kVarList);
    if (source->flags & kVarObject) {
        result->data = source->data ? CopyCellText(source->data, false) : nullptr;
        result->classHash = source->classHash;
    } else {
        result->data = source->data;
        result->flags |= kVarHandedOver;
    }
}

// The next index of a walk over count elements (first: where it starts).
int64_t StepPosition(LoopActivation* activation, bool first, bool backwards, int64_t count) {
    const int64_t position = first ? (backwards ? count - 1 : 0) : activation->position + (backwards ? -1 : 1);
    activation->position = position;
    return position;
}

// One step of a walk over a list; false when the list is exhausted.
bool StepListWalk(ProgramContext* context, VariableRecord* result, VariableRecord* list, bool first, bool backwards) {
    ListNode* node = list->currentNode;
    if (!node) return false;
    if (first) node = backwards ? ListLast(node) : ListFirst(node);
    else node = backwards ? node->previous : node->next;
    if (!node) return false;
    // The node after this one is fetched while the body runs: a long list's
    // nodes are rarely in the cache, and each step waits for its node. So is
    // the memory further on, where the nodes after it mostly lie.
    __builtin_prefetch(backwards ? node->previous : node->next);
    PrefetchListAhead(node, backwards);
    list->currentNode = node;
    LoadListElement(list);
    if (result == list) return true;
    // A by-reference element shows the variable it stands for.
    VariableRecord* element = ListElementTarget(list);
    if (element == result) return true;
    if (element != list) RefreshListCache(element);
    ViewElement(context, result, element);
    return true;
}

// One step of a walk over a typed array; false when it leaves the array. The
// result points at the current element; for an array of structures it is a
// structure whose members point into the element.
bool StepArrayWalk(ProgramContext* context, VariableRecord* result, VariableRecord* array, LoopActivation* activation,
                   bool first, bool backwards) {
    const int64_t position = StepPosition(activation, first, backwards, array->elementCount);
    if (position < 0 || position >= array->elementCount || !array->data) return false;
    char* element = array->data + position * ElementSize(array->type);
    if (array->flags & kVarStructure) {
        ShareStructureElement(result, array, element);
        return true;
    }
    if (first) ReleaseVariable(context, result, false, false);
    result->type = array->type;
    result->data = element;
    result->flags |= kVarHandedOver;
    // A text a field holds is one of the array's linked blocks.
    result->linkOwner = MemoryLinkHolder(array);
    return true;
}

// One step of a walk over a matrix's cells (a nested matrix is one element);
// false when the cells are exhausted. A number is copied; a text or nested
// matrix is shared, not owned.
bool StepMatrixWalk(ProgramContext* context, VariableRecord* result, VariableRecord* matrix,
                    LoopActivation* activation, bool first, bool backwards) {
    const auto* cells = reinterpret_cast<const MatrixCell*>(matrix->data);
    if (!cells) return false;
    if (first || activation->walked != cells) {
        activation->walked = cells;
        activation->length = MatrixLength(cells, false);
    }
    const int64_t position = StepPosition(activation, first, backwards, activation->length);
    if (position < 0 || position >= activation->length) return false;
    // The body may have given the variable another run at the same address:
    // never read past the block. Its size is asked again only when some
    // block was released or resized since (or no block started there: one
    // may start there now).
    if (const uint64_t releases = platform::CountBlockReleases();
        activation->sized != cells || activation->sizedAt != releases || activation->blockSize == 0) {
        activation->blockSize = platform::GetBlockSize(cells);
        activation->sized = cells;
        activation->sizedAt = releases;
    }
    const size_t size = activation->blockSize;
    if (size && static_cast<size_t>(position + 1) * sizeof(MatrixCell) > size) return false;
    const MatrixCell* cell = cells + position;
    if (cell->kind == kCellEnd) return false;
    ReleaseVariable(context, result, false, false);
    if (cell->kind == kCellBlock || cell->kind == kCellMatrix) {
        result->data = static_cast<char*>(CellPointer(cell));
        result->flags |= kVarHandedOver | (cell->kind == kCellMatrix ? kVarMatrix : 0);
    } else {
        result->value = CellValue(cell);
    }
    return true;
}

// The members a walk over an object sees: named records of the instance that
// are not structure members, and only public ones unless the walk runs in a
// method of that instance.
bool IsWalkedMember(const VariableRecord* member, const VariableRecord* head) {
    return member->name && !member->parent && (MemberList == head || (member->flags & kVarPublic));
}

// One step of a walk over an object's members, in the order they were made;
// false when they are exhausted.
bool StepObjectWalk(ProgramContext* context, VariableRecord* result, VariableRecord* object,
                    LoopActivation* activation, bool first, bool backwards) {
    auto* head = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(TruncToInt64(object->value)));
    if (!head) return false;
    int64_t count = 0;
    for (const VariableRecord* m = head->next; m; m = m->next) count += IsWalkedMember(m, head) ? 1 : 0;
    const int64_t position = StepPosition(activation, first, backwards, count);
    if (position < 0 || position >= count) return false;
    VariableRecord* member = nullptr;
    int64_t index = 0;
    for (VariableRecord* m = head->next; m && !member; m = m->next)
        if (IsWalkedMember(m, head) && index++ == position) member = m;
    while (member->reference) member = member->reference;
    if (member == result) return true;
    RefreshListCache(member);
    ViewElement(context, result, member);
    return true;
}

}  // namespace

namespace {

// One pass of the FOREACH node (the current instruction) of result over
// source, both there, in the loop's activation.
void StepWalkIn(ProgramContext* context, LoopActivation* activation, VariableRecord* result, VariableRecord* source) {
    const bool first = activation->firstRun != 0;
    activation->firstRun = 0;
    const bool backwards = CurrentInstruction->operand != 0.0;
    bool more = false;
    if (source->flags & kVarList) more = StepListWalk(context, result, source, first, backwards);
    else if (result == source) more = false;  // viewing its own element would release what it walks
    else if (source->elementCount > 0 && source->type != 0)
        more = StepArrayWalk(context, result, source, activation, first, backwards);
    else if (source->flags & kVarMatrix)
        more = StepMatrixWalk(context, result, source, activation, first, backwards);
    else if (source->flags & kVarObject)
        more = StepObjectWalk(context, result, source, activation, first, backwards);
    if (!more) LeaveLoop();
}

// One pass of the FOREACH node (the current instruction) of result over source.
void StepWalk(ProgramContext* context, VariableRecord* result, VariableRecord* source) {
    LoopActivation* activation = CurrentLoopActivation(context);
    if (!result || !source || !activation) {
        LeaveLoop();
        return;
    }
    StepWalkIn(context, activation, result, source);
}

}  // namespace

void Handle_FOREACH() {
    ProgramContext* context = CurrentContext;
    const StackEntry* saved = CloseArgumentFrame(context);
    const int32_t count = CellsAbove(saved, context->stackTop);
    if (count < 2) {
        if (count == 1) PopStackEntryFrom(context);
        RaiseRuntimeError("Result variable is missing", 0);
        LeaveLoop();
        return;
    }
    // Both cells stay readable until the next push; neither is copied whole
    // (each was written field by field just before).
    const StackEntry* resultCell = PopStackEntryFrom(context);
    const StackEntry* sourceCell = PopStackEntryFrom(context);
    VariableRecord* result = resultCell->variable ? resultCell->variable : LoopVariable(*resultCell);
    VariableRecord* source = sourceCell->variable ? sourceCell->variable : LoopVariable(*sourceCell);
    StepWalk(context, result, source);
}

namespace {

// A variable (at the end of its reference chain) whose read has no effect:
// no getter to run, no typed storage to convert and, for a list, a current
// element loaded as it stands that stands for no other variable.
[[gnu::always_inline]] inline bool HasPlainRead(const VariableRecord* variable) {
    if (!variable || (reinterpret_cast<uintptr_t>(variable->getter) | static_cast<uint32_t>(variable->type)) != 0)
        return false;
    const ListNode* node = variable->currentNode;
    if (!node || !(variable->flags & kVarList)) return true;
    return variable->stamp == node->stamp && (!node->arrayExtension || !node->arrayExtension->reference);
}

// The same for a list variable with a current element: the element stands for
// no other variable and the variable's copy of it is up to date, so the read
// neither follows a reference nor reloads.
bool HasPlainListRead(const VariableRecord* variable) {
    if (!variable || !(variable->flags & kVarList) || variable->type != 0 || variable->getter) return false;
    const ListNode* node = variable->currentNode;
    return node && node->stamp == variable->stamp && !(node->arrayExtension && node->arrayExtension->reference);
}

// The source and the result of a walk's head when both names are answered
// by their node's cache and reading them has no effect; false otherwise.
[[gnu::always_inline]] inline bool ReadWalkNames(const Instruction* pushes, VariableRecord** source,
                                                 VariableRecord** result) {
    *source = CachedNodeVariable(pushes, true);
    *result = CachedNodeVariable(pushes, false);
    return (HasPlainRead(*source) || HasPlainListRead(*source)) && HasPlainRead(*result);
}

// The back jump of a walk whose head is "PUSHVARVAR (savesp) source,
// result; FOREACH": the pass the head would run, without its pushes and
// pops, when both names are answered by their node's cache and reading
// them has no effect. Any other head goes the general way. The shape found
// is kept in the loop's activation for the next passes.
bool StepWalkingLoop(ProgramContext* context, Instruction* head, LoopActivation* activation) {
    const Instruction* pushes = head->next;
    if (!pushes || pushes->opcode != static_cast<uint32_t>(Opcode::PUSHVARVAR) ||
        pushes->handler != Builtin___savesp || pushes->secondHandler != Handle_PUSHVARVAR || NoFollowPending)
        return false;
    Instruction* test = pushes->next;
    if (!test || test->handler != Handle_FOREACH || context->argumentFrame.count >= kMaxArgumentFrames) return false;
    VariableRecord* source = nullptr;
    VariableRecord* result = nullptr;
    if (!ReadWalkNames(pushes, &source, &result)) return false;
    CurrentInstruction = test;
    if (!activation) {
        LeaveLoop();
        return true;
    }
    activation->walkedHead = head;
    activation->walkedPushes = pushes;
    activation->walkedTest = test;
    activation->wholeTries = 0;
    activation->wholeWait = 0;
    StepWalkIn(context, activation, result, source);
    return true;
}

// A later pass of a walk whose head StepWalkingLoop proved: only what the
// body can have changed (the two variables and their caches) is checked again.
[[gnu::always_inline]] inline bool StepProvedWalkingLoop(ProgramContext* context, LoopActivation* activation) {
    if (NoFollowPending || context->argumentFrame.count >= kMaxArgumentFrames) return false;
    VariableRecord* source = nullptr;
    VariableRecord* result = nullptr;
    if (!ReadWalkNames(activation->walkedPushes, &source, &result)) return false;
    CurrentInstruction = activation->walkedTest;
    StepWalkIn(context, activation, result, source);
    return true;
}

// The back jump of a forward walk over a list, proved by StepWalkingLoop,
// whose body (from the FOREACH node to this BRANCH) is nothing but nodes
// WholeLoopBody takes, reading the walk's result as a number: each pass
// left steps the walk as the FOREACH node would, then runs the body's steps
// on the records, as RunCountingLoopWhole runs a counting loop's. A pass
// whose element is anything but a bare number (its view then is no bare
// number) is handed back to the nodes, which run its body; the loop is left
// as the FOREACH node leaves it. False, with nothing done, when the loop is
// no such loop now.
[[gnu::noinline]] bool RunWalkingLoopWhole(ProgramContext* context, LoopActivation& activation,
                                           const Instruction* branch) {
    activation.wholeWait = ++activation.wholeTries < kWholeRunTries ? kPassesBetweenWholeTries : kNeverWhole;
    if (StopFlag || NoFollowPending || SetPushPending || context->argumentFrame.count >= kMaxArgumentFrames)
        return false;
    Instruction* test = activation.walkedTest;
    VariableRecord* source = nullptr;
    VariableRecord* result = nullptr;
    if (!ReadWalkNames(activation.walkedPushes, &source, &result)) return false;
    if (test->operand != 0.0 || !(source->flags & kVarList) || result == source || !IsNumberView(result)) return false;
    WholeLoopBody body;
    if (!body.AddPasses(test->next, branch, nullptr)) return false;
    CurrentInstruction = test;
    for (;;) {
        if (!StepListWalk(context, result, source, false, false)) {
            LeaveLoop();
            return true;
        }
        if (!IsNumberView(result)) return true;
        if (body.jumps) static_cast<void>(body.RunSteps<true>());
        else static_cast<void>(body.RunSteps<false>());
    }
}

}  // namespace

namespace {

// Every back jump but a later pass of a proved counting loop with nothing to free.
[[gnu::noinline]] void TakeBranch(ProgramContext* context, Instruction* target) {
    if (!target) {
        TakeJump(context);
        return;
    }
    switch (static_cast<Opcode>(target->opcode)) {
    case Opcode::INITFOR: {
        FreeTrackedAllocationsFrom(context, context->callDepth);
        LoopActivation* activation = CurrentLoopActivation(context);
        if (activation && activation->countedHead == target && StepProvedCountingLoop(context, *activation)) return;
        if (!StepCountingLoop(context, target, activation)) CurrentInstruction = target;
        return;
    }
    case Opcode::INITFOREACH: {
        FreeTrackedAllocationsFrom(context, context->callDepth);
        LoopActivation* activation = CurrentLoopActivation(context);
        if (activation && activation->walkedHead == target && StepProvedWalkingLoop(context, activation)) return;
        if (!StepWalkingLoop(context, target, activation)) CurrentInstruction = target;
        return;
    }
    case Opcode::INITWHILE:
        FreeTrackedAllocationsFrom(context, context->callDepth);
        CurrentInstruction = target;
        return;
    default:
        CurrentInstruction = target;
        return;
    }
}

}  // namespace

namespace {

// After a jump: runs the node the machine goes on at as the dispatch loop
// would run it next, without the loop's turn in between; the loop then goes
// on after wherever that node leaves the machine. Not while a stop is
// pending (the loop sees it first), and not into another jump, so that a
// loop of nothing but jumps never nests these calls.
[[gnu::always_inline]] inline void RunNodeAfterJump() {
    Instruction* const node = CurrentInstruction->next;
    if (StopFlag || !node || node->handler == Handle_BRANCH) return;
    CurrentInstruction = node;
    node->handler();
}

}  // namespace

void Handle_BRANCH() {
    ProgramContext* context = CurrentContext;
    Instruction* target = JumpTarget(CurrentInstruction);
    // The common cases first: the next pass of a counting loop or a walk
    // whose head is proved or of a WHILE, when the pass left nothing to free,
    // and a jump to any node that opens no loop.
    if (target) [[likely]] {
        const auto opcode = static_cast<Opcode>(target->opcode);
        const bool nothingToFree = context->callDepth >= context->trackingDepthsUsed;
        if (opcode == Opcode::INITFOR) {
            LoopActivation* activation = nothingToFree ? CurrentLoopActivation(context) : nullptr;
            if (activation && activation->constantHead == target) {
                if (activation->wholeWait == 0) {
                    if (RunCountingLoopWhole(context, *activation, CurrentInstruction)) return;
                } else if (activation->wholeWait != kNeverWhole) {
                    --activation->wholeWait;
                }
                if (StepProvedConstantLoop(context, *activation)) return;
            } else if (activation && activation->countedHead == target) {
                // A proved head that reads its end (or start) from a variable
                // again each pass: what TakeBranch would do first, the pass
                // having left nothing to free.
                if (StepProvedCountingLoop(context, *activation)) return;
            }
        } else if (opcode == Opcode::INITFOREACH) {
            LoopActivation* activation = nothingToFree ? CurrentLoopActivation(context) : nullptr;
            if (activation && activation->walkedHead == target) {
                if (activation->wholeWait == 0) {
                    if (RunWalkingLoopWhole(context, *activation, CurrentInstruction)) return;
                } else if (activation->wholeWait != kNeverWhole) {
                    --activation->wholeWait;
                }
                if (StepProvedWalkingLoop(context, activation)) return;
            }
        } else if (opcode != Opcode::INITWHILE) {
            CurrentInstruction = target;
            return;
        } else if (nothingToFree) {
            if (const InstructionExtra* mark = CurrentInstruction->extra;
                mark && mark->fusedShape != kWholeRunRefused && RunWhileLoopWhole(context, target, CurrentInstruction))
                return;
            // The WHILE's test runs at once.
            CurrentInstruction = target;
            return RunNodeAfterJump();
        }
    }
    TakeBranch(context, target);
}

void Handle_BREAK() {
    // The walk of the loop being left ends here; its ENDLOOP closes the depth.
    ProgramContext* context = CurrentContext;
    if (CurrentLoopActivation(context)) DropLoopActivations(context, context->callDepth);
}

void Handle_TRY() {
    if (TryStack.depth >= kMaxTryEntries) {
        RaiseRuntimeError("Too many nested TRY blocks", 0);
        return;
    }
    ProgramContext* context = CurrentContext;
    TryStack.entries[TryStack.depth++] = {JumpTarget(CurrentInstruction), tCurrentRun, context,
                                          context->argumentFrame.count, context->stackTop, context->callDepth};
}

void PopTryHandler() {
    if (TryStack.depth > 0) --TryStack.depth;
}

namespace {

// Whether the == operator is registered: a CASE label compares with it, and
// says so when it is missing.
bool HasEqualsOperator() {
    static Handler found = nullptr;
    if (!found) {
        const int index = FindFunctionByName("==");
        const FunctionRecord* record = index >= 0 ? FunctionRecordAt(index) : nullptr;
        found = record ? record->handler : nullptr;
    }
    return found != nullptr;
}

// The labels of a CASE on a number that are one number each: from the node
// after the PULLCASE, each label that does not match jumps past its body to
// the next label. Calls visit(label, constant) for each until it returns
// true; returns the last node a mismatch jumped to (the PULLCASE when none),
// after which the run goes on when no label was taken.
template <typename Visit>
Instruction* WalkNumberLabels(Instruction* pull, Visit visit) {
    Instruction* last = pull;
    for (Instruction* label = last->next; label && label->handler == Handle_PUSHINTCASE && label->extraWord == 1 &&
                                          label->operand == pull->operand;
         label = last->next) {
        double constant = 0.0;
        if (label->text) std::memcpy(&constant, label->text, sizeof constant);
        if (visit(label, constant)) return nullptr;
        Instruction* skip = JumpTarget(label);
        if (!skip) break;
        last = skip;
    }
    return last;
}

// A CASE on a number tries those labels here, one after another as their
// own nodes would (a label that matches goes on into its body), without
// running each label node; the first other node runs as usual.
[[gnu::noinline]] void SelectNumberLabel(Instruction* pull, double selector) {
    Instruction* taken = nullptr;
    Instruction* last = WalkNumberLabels(pull, [&](Instruction* label, double constant) {
        if (constant != selector) return false;
        taken = label;
        return true;
    });
    CurrentInstruction = taken ? taken : last;
}

// Fills the activation's CASE table for the PULLCASE filling that slot: the
// first label of each small whole value, and where the run goes on when
// none matches.
[[gnu::noinline]] void BuildCaseTable(LoopActivation* activation, Instruction* pull, CaseSlot* slot) {
    activation->casePull = pull;
    activation->caseSlot = slot;
    for (Instruction*& label : activation->caseLabels) label = nullptr;
    activation->caseNoMatch = WalkNumberLabels(pull, [&](Instruction* label, double constant) {
        if (constant >= 0.0 && constant < kCaseTableSize) {
            const auto index = static_cast<int>(constant);
            if (static_cast<double>(index) == constant && !activation->caseLabels[index])
                activation->caseLabels[index] = label;
        }
        return false;
    });
}

// The label a small whole selector goes to by the table of the loop the
// CASE runs in, or null when the table cannot tell.
Instruction* LookUpCaseTable(ProgramContext* context, Instruction* pull, CaseSlot* slot, double selector) {
    if (!(selector >= 0.0 && selector < kCaseTableSize)) return nullptr;
    const auto index = static_cast<int>(selector);
    if (static_cast<double>(index) != selector) return nullptr;
    LoopActivation* activation = CurrentLoopActivation(context);
    if (!activation) return nullptr;
    if (activation->casePull != pull) {
        if (activation->casePull) return nullptr;  // another CASE of the body has the table
        BuildCaseTable(activation, pull, slot);
    }
    Instruction* label = activation->caseLabels[index];
    return label ? label : activation->caseNoMatch;
}

// Every CASE selection but a number on a CASE whose table is built.
[[gnu::noinline]] void PullCase(ProgramContext* context, Instruction* pull) {
    const StackEntry* cell = PopCell(context);
    CaseSlot* slot = CaseSlotOf(context, pull);
    if (!slot) return;
    *slot = {cell->text, cell->value};
    if (slot->text || !HasEqualsOperator()) return;
    if (Instruction* landing = LookUpCaseTable(context, pull, slot, slot->value)) CurrentInstruction = landing;
    else SelectNumberLabel(pull, slot->value);
}

}  // namespace

namespace {

// A number selector by the table built for its PULLCASE (see Handle_PULLCASE).
[[gnu::always_inline]] inline void SelectByTable(const LoopActivation* activation, Instruction* pull, double selector) {
    *activation->caseSlot = {nullptr, selector};
    if (selector >= 0.0 && selector < kCaseTableSize) {
        const auto index = static_cast<int>(selector);
        if (static_cast<double>(index) == selector) {
            Instruction* label = activation->caseLabels[index];
            CurrentInstruction = label ? label : activation->caseNoMatch;
            return;
        }
    }
    SelectNumberLabel(pull, selector);
}

}  // namespace

void Handle_PULLCASE() {
    ProgramContext* context = CurrentContext;
    Instruction* pull = CurrentInstruction;
    StackEntry* top = context->stackTop;
    const LoopActivation* activation = CurrentLoopActivation(context);
    // The table was built for this node: its slot is known, and the ==
    // operator was there then (it stays registered once found).
    if (!activation || activation->casePull != pull || !top || !top->below || top->text) [[unlikely]] {
        PullCase(context, pull);
        return;
    }
    context->stackTop = top->below;
    SelectByTable(activation, pull, top->value);
}

bool SelectCaseAtOnce(Instruction* pull, double selector) {
    const LoopActivation* activation = CurrentLoopActivation(CurrentContext);
    if (!activation || activation->casePull != pull) return false;
    SelectByTable(activation, pull, selector);
    return true;
}

void PatchPendingJump() {
    Instruction* pending = PendingJumpNode;
    if (!pending) return;
    SetJumpTarget(CurrentContext->pool, pending, CurrentInstruction->next);
    PendingJumpNode = nullptr;
}

void CallOwnMethod() {
    ObjectToBind = MemberList;
    CallInContext = CurrentContext;
    CallInProcedure = JumpTarget(CurrentInstruction);
    if (CallInProcedure) RunProcedure();
    else ConsumeCallIn();
}

namespace {

// A returned object: a plain number holding its address. A local that owns
// the instance gives ownership up, so releasing the frame does not destroy it.
void ReturnObject(StackEntry* cell) {
    VariableRecord* variable = cell->variable;
    if (cell->value == 0.0) cell->value = variable->value;
    if ((variable->flags & kVarOwnsData) && variable->owner == LocalVariableList) variable->flags &= ~kVarOwnsData;
    cell->text = nullptr;
    cell->flags = 0;
}

// A returned text, block or matrix: a copy owned by the caller's depth.
void ReturnCopy(ProgramContext* context, StackEntry* cell) {
    char* copy = nullptr;
    if (cell->flags & kEntryMatrix) {
        copy = reinterpret_cast<char*>(
            CopyMatrixCells(reinterpret_cast<const MatrixCell*>(cell->text), &cell->ownedLinks));
    } else {
        copy = CopyCellText(cell->text, (cell->flags & kEntryWide) != 0);
        if (copy && cell->variable && cell->variable->links)
            CopyObjectMemoryLinks(cell->variable, &cell->ownedLinks, copy);
    }
    if (!copy) return;
    // The caller's depth, not call depth - 1: loops open in the callee would
    // otherwise give the copy to a depth that ends with the callee.
    const int32_t callerDepth = tCurrentRun ? tCurrentRun->callerDepth : context->callDepth - 1;
    TrackAllocationAtDepth(context, copy, callerDepth, kTrackedBlock);
    cell->text = copy;
}

// The results RETURN leaves above the saved cell, each made the caller's.
// Its own function: RETURN's usual way calls nothing.
[[gnu::noinline]] void KeepResults(ProgramContext* context, StackEntry* top, const StackEntry* saved) {
    for (StackEntry* cell = top; cell && cell != saved && cell->below; cell = cell->below) {
        if (cell->variable && (cell->variable->flags & kVarObject)) ReturnObject(cell);
        else if (cell->text) ReturnCopy(context, cell);
        cell->variable = nullptr;
    }
}

// Whether the block is a temporary of one of the context's call depths
// (depth 0 lasts as long as the context; the others end with their runs).
bool IsCallTemporary(const ProgramContext* context, const void* block) {
    for (const TrackedAllocation* record = context->tracking; record; record = record->older)
        if (record->object == block) return record->kind == kTrackedBlock && record->ownerDepth > 0;
    return false;
}

// The entry run of a child on its parent's stack (an expression list run by
// eval, the debugger's trace or a brace group of a text) leaves its values
// above the parent's top, where no RETURN made them the caller's. A text
// that is a temporary of the run would go with the run's depth: it becomes
// a temporary of the parent's current depth instead (the two share a heap),
// as a returned text becomes the caller's.
void KeepChildEntryResults(ProgramContext* context, ProgramContext* parent) {
    if (!IsLiveContext(parent) || context->stackTop == parent->stackTop) return;
    const StackEntry* parentTop = parent->stackTop;
    const StackEntry* cell = context->stackTop;
    while (cell && cell != parentTop) cell = cell->below;
    if (!cell) return;
    for (StackEntry* kept = context->stackTop; kept != parentTop; kept = kept->below) {
        if (!kept->text || (kept->flags & kEntryMatrix) || !IsCallTemporary(context, kept->text)) continue;
        ForgetTrackedObject(context, kept->text);
        TrackAllocation(parent, const_cast<char*>(kept->text), 0, kTrackedBlock);
    }
}

}  // namespace

void Handle_RETURN() {
    ProgramContext* context = CurrentContext;
    StopFlag = true;
    const StackEntry* saved = CloseFrame(context);
    StackEntry* top = context->stackTop;
    if (top != saved && top->below == saved && saved && !top->text &&
        !(top->variable && (top->variable->flags & kVarObject))) [[likely]] {
        top->variable = nullptr;  // the common result: one plain number
        EndRunIfInPlace<false>(saved);
        return;
    }
    KeepResults(context, top, saved);
    EndRunIfInPlace<false>();
}

// --- method calls ------------------------------------------------------------------

namespace {

// The frames the call form opened close; a function's results are kept as
// the node asks.
void FinishObjectCall(ProgramContext* context, Instruction* node, Instruction* method) {
    if (method->extraWord == 0) CloseFrame(context);
    if (!IsFunction(method)) {
        CloseFrame(context);
        return;
    }
    DropFunctionStack(static_cast<int32_t>(node->extraWord));
    if (node->extra && node->extra->flagByte && node->extraWord > 0) DropStackEntry();
}

// HashName of a terminated text in one pass (no length first): every object
// call hashes its object's class name.
uint32_t TextHash(const char* text) {
    if (!text) return 0;
    uint32_t h = 0;
    for (const auto* p = reinterpret_cast<const int8_t*>(text); *p; ++p)
        h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(*p));
    return h & 0x7FFFFFFFu;
}

// The hash of an object's class name: an instance head keeps it in its class
// hash from its creation; any other record has it computed.
uint32_t ClassHashOf(const VariableRecord* object, const char* className) {
    return object && object->classHash ? object->classHash : TextHash(className);
}

bool IsPrivate(const Instruction* start) { return start->extra && start->extra->flagByte; }

// The method text with the character after its first "," set to "0" (the
// no-result form), or with its argument count replaced by 0 ("%s(0%s").
std::string NoResultForm(const char* text) {
    std::string form = text;
    const size_t comma = form.find(',');
    if (comma != std::string::npos && comma + 1 < form.size()) form[comma + 1] = '0';
    return form;
}

std::string AnyArgumentsForm(const char* text) {
    const char* open = std::strchr(text, '(');
    const char* comma = open ? std::strchr(open, ',') : nullptr;
    if (!open || !comma) return text;
    return std::string(text, open) + "(0" + comma;
}

Instruction* LookUpMethod(ProgramContext* context, const char* className, const char* text) {
    if (Instruction* found = FindClassCode(context, NopHandler, className, text)) return found;
    if (Instruction* found = FindClassCode(context, NopHandler, className, NoResultForm(text).c_str())) return found;
    const std::string any = AnyArgumentsForm(text);
    for (const std::string& form : {any, NoResultForm(any.c_str())})
        if (Instruction* found = FindClassCode(context, NopHandler, className, form.c_str()); found && found->extraWord)
            return found;
    return nullptr;
}

// Whether the call form takes no result ("...,0)"): a function's result is
// then kept by the frame and dropped again, so the call leaves nothing.
bool DropsItsResult(const char* text) {
    const size_t length = std::strlen(text);
    return length >= 3 && std::strcmp(text + length - 3, ",0)") == 0;
}

// An object call that cannot run: the frames its call form opened are closed,
// its arguments dropped, and one empty value stands for each result expected.
// A statement call (its form ends in ",0)") expects none, whatever its count.
void AbandonObjectCall(const Instruction* node) {
    ProgramContext* context = CurrentContext;
    CloseArgumentFrame(context);
    StackEntry* saved = CloseArgumentFrame(context);
    while (context->stackTop != saved && context->stackTop->below) DropStackEntry();
    if (node->text && DropsItsResult(node->text)) return;
    for (uintptr_t i = 0; i < node->extraWord; ++i) PushValue(nullptr, 0.0, nullptr);
}

// A call of the current object's method that runs nothing: the arguments its
// key counts ("NAME(n,r)") are dropped. A function's result frame is left to
// the caller's DROPFCTSTACK, which puts an empty value in its place.
void DropCallArguments(const char* text) {
    const char* open = std::strrchr(text, '(');
    const long count = open ? std::strtol(open + 1, nullptr, 10) : 0;
    for (long i = 0; i < count && CurrentContext->stackTop->below; ++i) DropStackEntry();
}

[[gnu::noinline]] void RaiseObjectError(const char* format, const char* a, const char* b = "") {
    char message[512];
    std::snprintf(message, sizeof message, format, a, b);
    RaiseRuntimeError(message, 0);
}

[[gnu::noinline]] VariableRecord* ReportInvalidObject(const VariableRecord* head) {
    char message[64];
    std::snprintf(message, sizeof message, "Invalid object (0x%lX)",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(head)));
    RaiseRuntimeError(message, 0);
    return nullptr;
}

// The instance an object cell names, or null (after reporting) when it names none.
VariableRecord* ObjectOfCell(double cellValue, VariableRecord* cellVariable, ProgramContext* context) {
    if (cellValue != 0.0) {
        auto* head = reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(cellValue));
        if (context->rangeCheck && !head->data) [[unlikely]]
            return ReportInvalidObject(head);
        return head;
    }
    VariableRecord* variable = cellVariable;
    if (!variable) return nullptr;
    while (variable->reference) variable = variable->reference;
    if (!(variable->flags & (kVarObject | kVarHoldsObject)) || variable->value == 0.0 ||
        (context->rangeCheck && !variable->data)) [[unlikely]] {
        RaiseObjectError("Variable (%s) an invalid object", variable->name ? variable->name : "");
        return nullptr;
    }
    return reinterpret_cast<VariableRecord*>(static_cast<uintptr_t>(variable->value));
}

const char* NodeText(const Instruction* node) { return node->text ? node->text : ""; }

// The method an OBJRUN node calls on an instance of the class when the
// node's cache is for another class: looked up, and cached on the node
// unless private. Null, reported and with the call abandoned, when there is none.
[[gnu::noinline]] Instruction* LookUpObjectMethod(ProgramContext* context, Instruction* node, const char* className,
                                                  uint32_t classHash) {
    const char* text = NodeText(node);
    Instruction* method = LookUpMethod(context, className, text);
    if (!method) {
        RaiseObjectError("Proc or func \"%s\" not found for class \"%s\"", text, className);
        AbandonObjectCall(node);
        return nullptr;
    }
    if (!IsPrivate(method)) {
        SetJumpTarget(context->pool, node, method);
        node->operand = classHash;
        RequireInstructionExtra(context->pool, node)->flagByte = DropsItsResult(text) && IsFunction(method);
    }
    return method;
}

// An OBJRUN of a private method from outside the instance: reported, and the call abandoned.
[[gnu::noinline]] void RefusePrivateMethod(const Instruction* node) {
    RaiseObjectError("Proc or func '%s' is not public!", NodeText(node));
    AbandonObjectCall(node);
}

}  // namespace

void Handle_SELFCALL() {
    Instruction* node = CurrentInstruction;
    ProgramContext* context = CurrentContext;
    VariableRecord* object = MemberList;
    const char* className = object ? object->data : nullptr;
    const uint32_t classHash = ClassHashOf(object, className);
    const char* text = node->text ? node->text : "";
    const char* dot = nullptr;
    Instruction* target = JumpTarget(node);
    // The texts are looked at only when the cached target is not for this class.
    const auto runsOwnTarget = [&] {
        if (target && node->operand == classHash) return true;
        if (std::strncmp(text, ".__INIT(0,0)", 12) == 0) return true;
        dot = std::strchr(text, '.');
        return !dot || (className && std::strlen(className) == static_cast<size_t>(dot - text) &&
                        std::strncmp(text, className, static_cast<size_t>(dot - text)) == 0);
    };
    Instruction* method = nullptr;
    if (runsOwnTarget()) {
        method = target;  // without a target there is nothing to run
    } else if (className) {
        method = FindClassCode(context, NopHandler, className, dot + 1);
        if (method) {
            SetJumpTarget(context->pool, node, method);
            node->operand = classHash;
        }
    }
    if (!method) {
        DropCallArguments(text);
        return;
    }
    if (StartRunInPlace<Handle_SELFCALL>(method, object)) return;
    ObjectToBind = object;
    RunProcedureIn(context, method);
}

void Handle_OBJRUN() {
    Instruction* node = CurrentInstruction;
    ProgramContext* context = CurrentContext;
    // The cell was written field by field just before: reading the two
    // fields needed spares a whole-cell copy that would wait on those writes.
    const StackEntry* popped = PopCell(context);
    VariableRecord* object = ObjectOfCell(popped->value, popped->variable, context);
    if (!object) {
        AbandonObjectCall(node);
        return;
    }
    const char* className = object->data ? object->data : "";
    const uint32_t classHash = ClassHashOf(object, className);
    Instruction* method = JumpTarget(node);
    if (!method || node->operand != classHash) [[unlikely]] {
        method = LookUpObjectMethod(context, node, className, classHash);
        if (!method) return;
    }
    if (IsPrivate(method) && object != MemberList) [[unlikely]]
        return RefusePrivateMethod(node);
    if (StartRunInPlace<Handle_OBJRUN>(method, object)) return;
    ObjectToBind = object;
    RunProcedureIn(context, method);
    FinishObjectCall(context, node, method);
}

}  // namespace qob
