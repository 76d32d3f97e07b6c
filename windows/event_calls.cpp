// windows/event_calls.cpp
// The one call path of window event procedures, DispatchEvent and the event
// built-ins.

#include "windows/event_calls.h"

#include "platform/window_manager.h"
#include "runtime/data/number_text.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/window_records.h"

namespace qob {

int32_t LastEventResult = 1;

namespace {

bool IsParameterNode(const Instruction* node, Opcode opcode, Handler handler) {
    return node && node->opcode == static_cast<uint32_t>(opcode) && node->handler == handler;
}

bool IsAnyParameterNode(const Instruction* node) {
    return node && (node->opcode == static_cast<uint32_t>(Opcode::PARMSPUSHVAR) ||
                    node->opcode == static_cast<uint32_t>(Opcode::PARMSPUSHVARVAR) ||
                    node->opcode == static_cast<uint32_t>(Opcode::NPARMS));
}

// The parameter variable a node bound in the frame, or null when its cache
// names another frame.
VariableRecord* BoundIn(const Instruction* node, const VariableRecord* frame, bool second) {
    const InstructionExtra* extra = node->extra;
    if (!extra) return nullptr;
    return second ? (extra->cachedList2 == frame ? extra->cachedVariable2 : nullptr)
                  : (extra->cachedList == frame ? extra->cachedVariable : nullptr);
}

// The fast path: when the frame the run will take is the one the last
// event run bound, and the procedure's parameters are exactly four plain
// parameter nodes or two fused ones whose variables lie in that frame, the
// values go straight into them. The entry mode that skips those nodes, or 0
// when the values must be pushed.
int32_t WriteParametersDirectly(ProgramContext* context, Instruction* procedure, const double values[4]) {
    if (context->kind != kContextIndependent && context->kind != kContextDetached) return 0;
    InstructionExtra* extra = procedure->extra;
    FrameCacheRecord* free = extra ? extra->freeFrames : nullptr;
    if (!free || !free->frame || extra->cachedVariable != free->frame || free->keptSelf || free->keptName) return 0;
    const VariableRecord* frame = free->frame;
    Instruction* first = procedure->next;
    VariableRecord* targets[4] = {};  // lParam, wParam, message, window
    int32_t mode = 0;
    if (IsParameterNode(first, Opcode::PARMSPUSHVARVAR, Handle_PARMSPUSHVARVAR)) {
        Instruction* second = first->next;
        if (!IsParameterNode(second, Opcode::PARMSPUSHVARVAR, Handle_PARMSPUSHVARVAR) || IsAnyParameterNode(second->next))
            return 0;
        targets[0] = BoundIn(first, frame, true);
        targets[1] = BoundIn(first, frame, false);
        targets[2] = BoundIn(second, frame, true);
        targets[3] = BoundIn(second, frame, false);
        mode = 2;
    } else {
        Instruction* node = first;
        for (int i = 0; i < 4; ++i, node = node->next) {
            if (!IsParameterNode(node, Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR)) return 0;
            targets[i] = BoundIn(node, frame, false);
        }
        if (IsAnyParameterNode(node)) return 0;
        mode = 1;
    }
    for (VariableRecord* target : targets)
        if (!target) return 0;
    // values are window, message, wParam, lParam: the first node takes the last.
    for (int i = 0; i < 4; ++i) SetVariableValue(targets[i], nullptr, values[3 - i], nullptr, 0);
    return mode;
}

bool IsEnding(const ProgramContext* context) { return context->endPending || EndingContext == context; }

}  // namespace

bool IsProcedureStartOf(const ProgramContext* context, const Instruction* node) {
    if (!context || !node) return false;
    for (const Instruction* n = context->instructions; n; n = n->next)
        if (n == node)
            return n->opcode == static_cast<uint32_t>(Opcode::STARTPROC) ||
                   n->opcode == static_cast<uint32_t>(Opcode::STARTPROCUNDEF);
    return false;
}

bool StackEntryIsAbove(const StackEntry* top, const StackEntry* mark) {
    if (top == mark) return false;
    for (const StackEntry* c = top; c; c = c->below)
        if (c == mark) return true;
    return false;
}

int32_t ProcedureParameterCount(const Instruction* procedure) {
    int32_t count = 0;
    for (const Instruction* node = procedure->next; node; node = node->next) {
        if (node->opcode == static_cast<uint32_t>(Opcode::PARMSPUSHVAR)) count += 1;
        else if (node->opcode == static_cast<uint32_t>(Opcode::PARMSPUSHVARVAR)) count += 2;
        else break;
    }
    return count;
}

int32_t RunWindowEventProcedure(ProgramContext* context, Instruction* procedure, int32_t window, int32_t message,
                                int32_t wParam, int32_t lParam) {
    if (!procedure || !IsLiveContext(context) || IsEnding(context)) return 1;
    const double values[4] = {static_cast<double>(window), static_cast<double>(message), static_cast<double>(wParam),
                              static_cast<double>(lParam)};
    StackEntry* const mark = context->stackTop;
    const int32_t savedFrames = context->argumentFrame.count;
    const bool takesList = procedure->next && procedure->next->opcode == static_cast<uint32_t>(Opcode::NPARMS);
    int32_t mode = takesList ? 0 : WriteParametersDirectly(context, procedure, values);
    // The cell a result would lie above: what is left of the pushed values
    // once the parameters have taken theirs.
    StackEntry* resultMark = mark;
    if (mode == 0) {
        // A procedure that takes its arguments as a list closes a frame: it
        // gets its own, not one its caller has open.
        if (takesList && !OpenArgumentFrame(context)) return 1;
        const int32_t parameters = takesList ? 0 : ProcedureParameterCount(procedure);
        for (double value : values) PushValueTo(context, nullptr, value, nullptr);
        // Parameters beyond the four get 0.
        for (int32_t extra = 4; extra < parameters; ++extra) PushValueTo(context, nullptr, 0, nullptr);
        if (!takesList) {
            resultMark = context->stackTop;
            for (int32_t i = 0; i < parameters && resultMark->below; ++i) resultMark = resultMark->below;
        }
    }
    EntryMode = mode;
    RunProcedureIn(context, procedure);
    EntryMode = 0;
    if (!IsLiveContext(context)) return 1;
    if (mode == 0 && procedure->extra) {
        // The frame the run used went back to the head of the cache: the next
        // event may write into its parameters.
        FrameCacheRecord* free = procedure->extra->freeFrames;
        procedure->extra->cachedVariable = free ? free->frame : nullptr;
    }
    int32_t result = 1;
    if (procedure->operand != 0.0 && StackEntryIsAbove(context->stackTop, resultMark))
        result = static_cast<int32_t>(static_cast<uint32_t>(TruncToInt64(StackEntryNumber(context->stackTop))));
    context->stackTop = mark;
    context->argumentFrame.count = savedFrames;
    return result;
}

int32_t RunRecordEvents(uintptr_t window, const WindowRecord* record, ProgramContext* context, uint32_t message,
                        int32_t word, int32_t value) {
    int32_t result = 1;
    if (record && record->eventProcedure) {
        result = RunWindowEventProcedure(ProcedureContextOf(record, context), record->eventProcedure,
                                         static_cast<int32_t>(window), static_cast<int32_t>(message), word, value);
        LastEventResult = result;
    }
    if (EventTable && result != 0) {
        result = DispatchEvent(static_cast<uint32_t>(window), message, word, value);
        LastEventResult = result;
    }
    return result;
}

int32_t CallWindowEvent(uintptr_t window, uint32_t message, int32_t wParam, int32_t lParam) {
    ProgramContext* context = nullptr;
    const WindowRecord* record = FindWindowRecordByHandle(window, &context);
    if (!record || !record->eventProcedure) return 0;
    const int32_t result = RunWindowEventProcedure(ProcedureContextOf(record, context), record->eventProcedure,
                                                   static_cast<int32_t>(window), static_cast<int32_t>(message), wParam,
                                                   lParam);
    LastEventResult = result;
    return result == 0 ? 1 : 0;
}

int32_t InvokeScriptCallback(const EventRecord* record, uint32_t window, uint32_t message, int32_t wParam,
                             int32_t lParam) {
    ProgramContext* owner = record->owner;
    Instruction* procedure = record->procedure;
    return RunWindowEventProcedure(owner, procedure, static_cast<int32_t>(window), static_cast<int32_t>(message),
                                   wParam, lParam);
}

int32_t DispatchEvent(uint32_t window, uint32_t message, int32_t wParam, int32_t lParam) {
    const auto word = static_cast<uint32_t>(wParam);
    if (message == platform::WM_COMMAND) {
        for (const EventRecord* r = EventTable; r; r = r->next)
            if (static_cast<uint32_t>(r->controlId) == (word & 0xFFFF) && r->message == (word >> 16) &&
                platform::GetParent(r->window) == window)
                return InvokeScriptCallback(r, window, message, wParam, lParam);
    } else if (message == platform::WM_NOTIFY && lParam != 0) {
        // lParam is a script-visible NMHDR address; 0 (a forwarded message
        // without one) goes straight to the plain matching.
        const auto* header = reinterpret_cast<const platform::NMHDR*>(static_cast<uintptr_t>(static_cast<uint32_t>(lParam)));
        for (const EventRecord* r = EventTable; r; r = r->next)
            if (r->message == header->code && static_cast<uint32_t>(r->controlId) == header->idFrom &&
                r->window == header->hwndFrom)
                return InvokeScriptCallback(r, window, message, wParam, lParam);
    }
    if (!EventTable) return 1;
    const uint32_t low = word & 0xFFFF;
    for (const EventRecord* r = EventTable; r; r = r->next) {
        if (r->message != message) continue;
        if ((r->controlId == 0 && r->window == window) || (low != 0 && low == static_cast<uint32_t>(r->controlId)))
            return InvokeScriptCallback(r, window, message, wParam, lParam);
    }
    return 1;
}

void Builtin_ADDEVENT() {
    const auto procedure = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    const auto id = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    const auto code = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    const auto window = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    auto* start = reinterpret_cast<Instruction*>(static_cast<uintptr_t>(procedure));
    if (!IsProcedureStartOf(CurrentContext, start)) return;
    (void)AddEventRecord(CurrentContext, window, code, static_cast<int32_t>(id), start);
}

void Builtin_CLEAREVENTS() { RemoveWindowEvents(static_cast<uint32_t>(TruncToInt64(PopNumber()))); }

void Builtin___controltoclipboard() { (void)PopStackEntry(); }

}  // namespace qob
