// runtime/vm/script_threads.cpp
// Script procedures on threads of their own, the handle table of those
// threads, and the end of an application that may still be running.

#include "runtime/vm/script_threads.h"

#include <pthread.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>

#include "runtime/data/number_text.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/interpreter_lock.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

// --- script threads ----------------------------------------------------------------

struct ScriptThreadRecord {
    ProgramContext* context;
    uint64_t contextId;       // tells the context from a new one at the same address
    Instruction* procedure;
    int32_t parameter;
};

std::mutex gThreadsLock;
std::map<uint32_t, pthread_t> gThreads;  // handle -> thread, until joined
uint32_t gNextThreadHandle = 1;

// Runs of each context on script threads (under the interpreter lock). The
// context's call depth cannot tell: it is one counter for every thread, and
// a run that returns puts back the depth it found, whatever runs of other
// threads went on meanwhile.
std::map<const ProgramContext*, int32_t> gScriptThreadRuns;

// Whether the node is the start of a procedure of the context's program.
bool IsProcedureStart(const ProgramContext* context, const Instruction* node) {
    if (!node) return false;
    for (const Instruction* n = context->instructions; n; n = n->next)
        if (n == node)
            return n->opcode == static_cast<uint32_t>(Opcode::STARTPROC) ||
                   n->opcode == static_cast<uint32_t>(Opcode::STARTPROCUNDEF);
    return false;
}

// Whether the stack top lies above the cell (the run left values there).
bool IsAbove(const StackEntry* top, const StackEntry* cell) {
    if (top == cell) return false;
    for (const StackEntry* c = top; c; c = c->below)
        if (c == cell) return true;
    return false;
}

// Runs the procedure with the parameter pushed in an argument frame; the
// exit code is the value it leaves, else 0. The value stack is left as it
// was found.
uint32_t RunScriptThread(const ScriptThreadRecord& record) {
    ProgramContext* context = record.context;
    if (!IsLiveContext(context) || context->uniqueId != record.contextId ||
        !IsProcedureStart(context, record.procedure))
        return 0;
    StackEntry* savedTop = context->stackTop;
    const int32_t savedFrames = context->argumentFrame.count;
    if (!OpenArgumentFrame(context)) return 0;
    PushValueTo(context, nullptr, record.parameter, nullptr);
    ++gScriptThreadRuns[context];
    RunProcedureIn(context, record.procedure);
    if (--gScriptThreadRuns[context] == 0) gScriptThreadRuns.erase(context);
    if (!IsLiveContext(context)) return 0;
    context->argumentFrame.count = savedFrames;
    if (!IsAbove(context->stackTop, savedTop)) return 0;
    const double value = StackEntryNumber(PopStackEntryFrom(context));
    while (IsAbove(context->stackTop, savedTop)) PopStackEntryFrom(context);
    return static_cast<uint32_t>(TruncToInt64(value));
}

void* ScriptThreadProc(void* argument) {
    const std::unique_ptr<ScriptThreadRecord> record(static_cast<ScriptThreadRecord*>(argument));
    uint32_t exitCode = 0;
    {
        InterpreterLockGuard lock;
        exitCode = RunScriptThread(*record);
    }
    return reinterpret_cast<void*>(static_cast<uintptr_t>(exitCode));
}

// A new thread with at least the minimum stack, or 0.
uint32_t StartScriptThread(ScriptThreadRecord* record, double stackSize) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    const int64_t requested = TruncToInt64(stackSize);
    size_t size = requested > static_cast<int64_t>(kMinScriptThreadStack) ? static_cast<size_t>(requested)
                                                                           : kMinScriptThreadStack;
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size = (size + page - 1) / page * page;
    pthread_attr_setstacksize(&attributes, size);
    std::lock_guard guard(gThreadsLock);
    pthread_t thread;
    const int result = pthread_create(&thread, &attributes, ScriptThreadProc, record);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete record;
        return 0;
    }
    const uint32_t handle = gNextThreadHandle++;
    gThreads.emplace(handle, thread);
    return handle;
}

}  // namespace

void EndApplication(ProgramContext* context) {
    // A run of the application on this or another thread (this very call may
    // be one) would go on in freed instructions: such a context stops the way
    // EXIT stops it, and whoever started its outermost run ends it when that
    // run returns.
    if (context->callDepth > 0 || context == CurrentContext || HasScriptThreadRuns(context)) {
        // The ending context is one slot; each pending end keeps its own
        // mark, so a later end does not make this one forgotten.
        context->endPending = 1;
        EndingContext = context;
        if (context == CurrentContext) StopFlag = true;
        return;
    }
    EndProgramContext(context);
}

// --- threads --------------------------------------------------------------------------

void Builtin_createthread() {
    PopStackEntry();  // the fifth value: not used
    PopStackEntry();  // creation flags: a suspended start has no counterpart here
    const auto parameter = static_cast<int32_t>(TruncToInt64(StackEntryNumber(PopStackEntry())));
    const double procedure = StackEntryNumber(PopStackEntry());
    const double stackSize = StackEntryNumber(PopStackEntry());
    ProgramContext* context = CurrentContext;
    auto* start = procedure > 0 ? reinterpret_cast<Instruction*>(static_cast<uintptr_t>(TruncToInt64(procedure))) : nullptr;
    if (!context || !IsProcedureStart(context, start)) {
        PushNumber(0);
        return;
    }
    auto* record = new ScriptThreadRecord{context, context->uniqueId, start, parameter};
    PushNumber(StartScriptThread(record, stackSize));
}

bool HasScriptThreadRuns(const ProgramContext* context) { return gScriptThreadRuns.contains(context); }

std::optional<uint32_t> JoinScriptThread(double handle) {
    pthread_t thread;
    {
        std::lock_guard guard(gThreadsLock);
        const auto found = handle > 0 && handle < 4294967296.0 ? gThreads.find(static_cast<uint32_t>(handle)) : gThreads.end();
        if (found == gThreads.end()) return std::nullopt;
        thread = found->second;
        gThreads.erase(found);
    }
    void* result = nullptr;
    {
        InterpreterUnlockScope unlocked;
        pthread_join(thread, &result);
    }
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result));
}

}  // namespace qob
