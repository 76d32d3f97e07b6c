// runtime/app_builtins.cpp
// The application, reflection and thread built-ins, and the script threads'
// handle table.

#include "runtime/app_builtins.h"

#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/memory.h"
#include "platform/message_queue.h"
#include "platform/text_codec.h"
#include "runtime/allocation_tracking.h"
#include "runtime/function_table.h"
#include "runtime/instruction.h"
#include "runtime/interpreter_lock.h"
#include "runtime/list_values.h"
#include "runtime/number_text.h"
#include "runtime/opcodes.h"
#include "runtime/program_context.h"
#include "runtime/value_blocks.h"
#include "runtime/value_stack.h"
#include "runtime/variable_store.h"
#include "runtime/vm.h"
#include "windows/message_loop.h"
#include "windows/window_records.h"

namespace qob {
namespace {

double AddressNumber(const void* address) { return static_cast<double>(reinterpret_cast<uintptr_t>(address)); }

// The live context a number names, or null.
ProgramContext* ContextOf(double number) {
    if (!(number > 0)) return nullptr;
    auto* context = reinterpret_cast<ProgramContext*>(static_cast<uintptr_t>(TruncToInt64(number)));
    return IsLiveContext(context) ? context : nullptr;
}

ProgramContext* PopContext() { return ContextOf(StackEntryNumber(PopStackEntry())); }

// A cell's text as 8-bit text; a number as NumberToString writes it.
std::string CellText(const StackEntry* cell) {
    if (!cell->text) {
        char digits[kNumberTextSize];
        return std::string(digits, FormatNumber(cell->value, digits));
    }
    if (cell->flags & kEntryWide) {
        const auto* units = reinterpret_cast<const uint16_t*>(cell->text);
        return platform::EncodeAnsi(std::span(units, platform::WideTextLength(units)));
    }
    return cell->text;
}

// The list variable a call passed: the record its cell came from, followed
// to the record it stands for.
VariableRecord* ListTarget(const StackEntry* cell) {
    constexpr int kMaxReferenceSteps = 64;
    VariableRecord* variable = cell->variable;
    for (int i = 0; variable && variable->reference && i < kMaxReferenceSteps; ++i) variable = variable->reference;
    return variable;
}

// Makes the variable a list of copies of the names forEach gives, its first
// node current, and pushes their count.
template <typename ForEachName>
void FillNameList(VariableRecord* target, ForEachName&& forEach) {
    ReleaseVariable(CurrentContext, target, false, false);
    target->flags |= kVarList;
    ListNode* first = nullptr;
    ListNode* last = nullptr;
    uint32_t count = 0;
    forEach([&](const char* name) {
        ListNode* node = ListAppend(last);
        if (!node) return;
        node->data = CopyValueText(name);
        if (node->data) node->flags = kVarOwnsData;
        StampListNode(node);
        if (!first) first = node;
        last = node;
        ++count;
    });
    target->currentNode = first;
    if (first) LoadListElement(target);
    PushNumber(count);
}

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

// --- applications ------------------------------------------------------------------

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

void Builtin_findapp() {
    std::string name = CellText(PopStackEntry());
    // A copy is compared: the argument may be a variable's text or a constant of the program.
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const ProgramContext* context = FirstContext; context; context = context->next) {
        if (context->appName && name == context->appName) {
            PushNumber(AddressNumber(context));
            return;
        }
    }
    PushNumber(0);
}

void Builtin_killapp() {
    ProgramContext* context = PopContext();
    if (!context) return;
    // An application with windows is ended by the thread of its first window,
    // when that thread handles the message. A window the window layer no
    // longer knows takes no message: the application ends as one without.
    if (context->windows && platform::PostMessageW(context->windows->window, kEndApplicationMessage, 0,
                                                   reinterpret_cast<platform::LPARAM>(context)))
        return;
    EndApplication(context);
}

void Builtin_freeapp() {
    if (ProgramContext* context = PopContext()) EndApplication(context);
}

void Builtin_appname() {
    const ProgramContext* context = PopContext();
    if (!context) {
        PushNumber(0);
        return;
    }
    // A copy owned by the caller's call depth: the context may end while the value lives.
    const char* name = context->appName ? context->appName : "";
    const size_t length = std::strlen(name) + 1;
    auto* copy = static_cast<char*>(platform::AllocateBlock(length));
    if (!copy) {
        PushNumber(0);
        return;
    }
    std::memcpy(copy, name, length);
    TrackAllocation(CurrentContext, copy, 0, kTrackedBlock);
    PushValue(copy, 0.0, nullptr);
}

void Builtin_appsize() {
    const ProgramContext* context = PopContext();
    PushNumber(context ? context->appSize : 0);
}

void Builtin_appbuffer() {
    const ProgramContext* context = PopContext();
    PushNumber(context ? AddressNumber(context->instructions) : 0);
}

void Builtin_appform() {
    const ProgramContext* context = PopContext();
    PushNumber(context && context->windows ? static_cast<double>(context->windows->window) : 0);
}

void Builtin_appuniqueid() {
    const ProgramContext* context = PopContext();
    PushNumber(context ? static_cast<double>(static_cast<int64_t>(context->uniqueId)) : 0);
}

// --- names ---------------------------------------------------------------------------

void Builtin_functions() {
    const bool all = StackEntryNumber(PopStackEntry()) != 0;
    VariableRecord* target = ListTarget(PopStackEntry());
    if (!target) {
        PushNumber(0);
        return;
    }
    FillNameList(target, [all](auto&& add) {
        for (int i = 0; i < FunctionCount(); ++i) {
            const FunctionRecord* record = FunctionRecordAt(i);
            if (!record || record->name.empty()) continue;
            if (!all && record->declaredNative) continue;
            add(record->name.c_str());
        }
    });
}

void Builtin_variables() {
    const double which = StackEntryNumber(PopStackEntry());
    VariableRecord* target = ListTarget(PopStackEntry());
    if (!target) {
        PushNumber(0);
        return;
    }
    const VariableRecord* list = nullptr;
    if (which == 0) list = LocalVariableList;
    else if (which == 1) list = CurrentContext->globalHead;
    else if (which == 2) list = ConstantList;
    FillNameList(target, [list](auto&& add) {
        for (const VariableRecord* v = list; v; v = v->next)
            if (v->name) add(v->name);
    });
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
