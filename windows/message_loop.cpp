// windows/message_loop.cpp
// The message loop and the pumping built-ins. Waits sleep on the platform
// clock with the interpreter lock released, so script threads run meanwhile.

#include "windows/message_loop.h"

#include <algorithm>
#include <vector>

#include "platform/clock.h"
#include "platform/controls/accelerators.h"
#include "platform/window_manager.h"
#include "runtime/vm/interpreter_lock.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/script_threads.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/window_records.h"

namespace qob {

bool QuitRequested = false;

namespace {

// How long the loop waits for a message before it looks at the contexts
// again: a script thread may end an application meanwhile, or return from
// the last run of one that is ending.
constexpr uint32_t kLoopWaitMilliseconds = 10;

bool AnyContextHasWindow() {
    for (const ProgramContext* context = FirstContext; context; context = context->next)
        if (context->windows) return true;
    return false;
}

bool IsEndPending(const ProgramContext* context) { return context == EndingContext || context->endPending; }

// Whether an application was told to end while its code ran and a run of it
// has not returned yet. The loop runs no script code itself, so such a run
// is a script thread's (the call depth cannot tell: threads share it).
bool IsEndWaitingForRuns() {
    for (const ProgramContext* context = FirstContext; context; context = context->next)
        if (IsEndPending(context) && HasScriptThreadRuns(context)) return true;
    return false;
}

// Ends the applications that were told to end while their code ran, once no
// run of theirs is left (the last run may have been an event procedure or a
// script thread, with no driver waiting to end it).
void FinishPendingEnds() {
    for (ProgramContext* context = FirstContext; context;) {
        ProgramContext* next = context->next;
        if (IsEndPending(context) && !HasScriptThreadRuns(context)) {
            if (EndingContext == context) EndingContext = nullptr;
            context->endPending = 0;  // a context that cannot end is not met again
            StopFlag = false;
            EndProgramContext(context);
            next = FirstContext;  // an end may take other contexts with it
        }
        context = next;
    }
    if (EndingContext && !IsLiveContext(EndingContext)) EndingContext = nullptr;
}

// Whether the caller's run must stop waiting: its application is being ended
// (perhaps by a script thread while this one slept) or the run is stopping.
bool MustStopWaiting(const ProgramContext* caller) {
    if (caller && IsEndPending(caller)) StopFlag = true;
    return StopFlag;
}

// The idle policy gave up: every application left ends (those whose code
// runs, when their runs return).
void EndEveryApplication() {
    std::vector<ProgramContext*> contexts;
    for (ProgramContext* context = FirstContext; context; context = context->next) contexts.push_back(context);
    for (ProgramContext* context : contexts)
        if (IsLiveContext(context) && !IsEndPending(context)) EndApplication(context);
}

}  // namespace

void DispatchAppMessage(const platform::MSG& message) {
    // The accelerator table of the message's own window applies: a form's
    // table does not act on keys sent to one of its controls (the focus).
    if (message.message == platform::WM_KEYDOWN || message.message == platform::WM_CHAR) {
        const WindowRecord* record = FindWindowRecordByHandle(message.hwnd, nullptr);
        if (record && record->accelerators &&
            platform::TranslateAcceleratorW(message.hwnd, record->accelerators, &message))
            return;
    }
    platform::TranslateMessage(&message);
    platform::DispatchMessageW(&message);
    if (message.message != kEndApplicationMessage) return;
    // Anyone can post this number, and two can be queued for one context: only
    // a context of the list is ended, and one whose code runs ends when its
    // outermost run returns.
    auto* context = reinterpret_cast<ProgramContext*>(message.lParam);
    if (!IsLiveContext(context)) return;
    EndApplication(context);
}

int PumpOneMessage(platform::MSG* message) {
    if (!platform::PeekMessageW(message, 0, 0, 0, platform::PM_REMOVE)) return 0;
    DispatchAppMessage(*message);
    return 1;
}

void MessageLoop() {
    for (;;) {
        FinishPendingEnds();
        if (!FirstContext) {
            QuitRequested = true;
            return;
        }
        if (QuitRequested) return;
        platform::MSG message;
        // Without a window nothing can post to this thread any more (a script
        // thread's killapp ends a windowless application itself); only runs
        // that must stop before their application ends are waited for.
        if (!AnyContextHasWindow() && !IsEndWaitingForRuns() &&
            !platform::PeekQueuedMessage(&message, 0, 0, 0, false)) {
            QuitRequested = true;
            return;
        }
        if (IsEndWaitingForRuns()) {
            // A script thread's run must return first; nothing posts when it does.
            int got = 0;
            {
                InterpreterUnlockScope unlocked;
                got = platform::GetMessageTimeout(&message, kLoopWaitMilliseconds);
            }
            if (got > 0) DispatchAppMessage(message);
            continue;
        }
        const int got = platform::GetMessageW(&message, 0, 0, 0);
        if (got > 0) {
            DispatchAppMessage(message);
        } else if (got < 0) {
            // Nothing can arrive any more: the idle policy closed what it
            // could (or fails); what is left of the programs ends now.
            if (platform::GetIdlePolicy() == platform::IdlePolicy::Fail) {
                QuitRequested = true;
                return;
            }
            EndEveryApplication();
        }
    }
}

void Builtin_handlemessage() {
    platform::MSG message;
    (void)PumpOneMessage(&message);
}

void Builtin_processmessages() {
    const ProgramContext* caller = CurrentContext;
    platform::MSG message;
    while (!MustStopWaiting(caller) && PumpOneMessage(&message)) {
    }
}

}  // namespace qob
