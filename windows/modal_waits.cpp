// windows/modal_waits.cpp
// delay and waitforinput on the window manager's blocking wait.

#include "windows/modal_waits.h"

#include "platform/clock.h"
#include "platform/window_manager.h"
#include "runtime/data/number_text.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "windows/forms.h"
#include "windows/game_link.h"
#include "windows/message_loop.h"

namespace qob {
namespace {

constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

bool IsEnding(const ProgramContext* context) { return context == EndingContext || context->endPending; }

// Whether the caller's run must stop waiting: its application is being
// ended (perhaps by a script thread meanwhile) or the run is stopping.
bool MustStopWaiting(const ProgramContext* caller) {
    if (caller && IsLiveContext(caller) && IsEnding(caller)) StopFlag = true;
    return StopFlag;
}

// The wait of delay in whole milliseconds: negative and NaN wait not at all,
// and the longest wait is the tick count's whole range.
uint32_t DelayMilliseconds(double value) {
    if (!(value > 0)) return 0;
    if (value >= 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(value);
}

// Handles every message there is. An empty look moves no time on: the
// wait's own deadline decides how far the test clock goes, so that it
// neither passes the deadline nor meets the idle policy of polling loops.
void PumpPending(const ProgramContext* caller) {
    platform::MSG message;
    while (!MustStopWaiting(caller) && platform::WaitForMessage(0) > 0 && PumpOneMessage(&message)) {
    }
}

// delay(0): the pending messages once, as processmessages handles them.
void PumpOnce(const ProgramContext* caller) {
    platform::MSG message;
    while (!MustStopWaiting(caller) && PumpOneMessage(&message)) {
    }
}

// Keyboard and stylus input (256-264, 512-521): what a late key or tap
// would act on. Posted commands, closes, timers, quits and the end of an
// application stay.
void DiscardPendingInput() {
    platform::MSG message;
    for (uint32_t first : {256u, 512u}) {
        const uint32_t last = first == 256u ? 264u : 521u;
        while (platform::PeekQueuedMessage(&message, 0, first, last, true)) {
        }
    }
}

}  // namespace

uint32_t WaitMilliseconds() {
    const int64_t perMs = platform::QueryPerformanceFrequency() / 1000;
    if (perMs <= 0) return platform::GetTickCount();
    return static_cast<uint32_t>(platform::QueryPerformanceCounter() / perMs);
}

void Builtin_delay() {
    const uint32_t wait = DelayMilliseconds(PopNumber());
    const ProgramContext* caller = CurrentContext;
    const uint32_t start = platform::GetTickCount();
    if (wait == 0) {
        PumpOnce(caller);
        return;
    }
    PumpPending(caller);
    for (;;) {
        if (MustStopWaiting(caller)) return;
        const uint32_t elapsed = platform::GetTickCount() - start;
        if (elapsed >= wait) return;
        if (platform::WaitForMessage(wait - elapsed) > 0) PumpPending(caller);
    }
}

void Builtin_waitforinput() {
    const auto timeout = static_cast<uint32_t>(TruncToInt64(PopNumber()));
    ProgramContext* caller = CurrentContext;
    const int32_t savedDrawMode = *GameLoops.autoDrawMode;
    *GameLoops.autoDrawMode = 2;
    InputWaitTime = timeout;
    const uint32_t start = WaitMilliseconds();
    bool timedOut = false;
    platform::MSG message;
    while (InputWaitTime != 0) {
        // The run is ending: the wait ends as a time-out.
        if (QuitRequested || !FirstContext || !IsLiveContext(caller) || MustStopWaiting(caller)) {
            InputWaitTime = 0;
            timedOut = true;
            break;
        }
        if (platform::WaitForMessage(0) <= 0 || !PumpOneMessage(&message)) {
            const uint32_t elapsed = WaitMilliseconds() - start;
            const uint32_t left = timeout == kNoLimit ? kNoLimit : (elapsed >= timeout ? 0 : timeout - elapsed);
            if (left != 0 && platform::WaitForMessage(left) < 0) {
                // Nothing can ever arrive: no key is coming either.
                InputWaitTime = 0;
                timedOut = true;
                break;
            }
        }
        if (InputWaitTime != kNoLimit && InputWaitTime != 0 && WaitMilliseconds() - start >= timeout) {
            InputWaitTime = 0;
            timedOut = true;
        }
    }
    InputWaitTime = 0;
    *GameLoops.autoDrawMode = savedDrawMode;
    if (IsLiveContext(caller) && CurrentContext == caller) PushNumber(timedOut ? 0 : 1);
    DiscardPendingInput();
}

}  // namespace qob
