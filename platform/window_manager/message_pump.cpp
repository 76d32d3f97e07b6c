// platform/window_manager/message_pump.cpp
// Sent and posted messages, the default window procedure, timers, painting
// requests and the waits of GetMessageW under the idle policy.

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/clock.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/shell.h"
#include "platform/window_manager/internal.h"

namespace qob::platform {

using namespace wm;

namespace {

LPARAM PackPoint(int32_t x, int32_t y) {
    return static_cast<LPARAM>(static_cast<uint16_t>(x)) | (static_cast<LPARAM>(static_cast<uint16_t>(y)) << 16);
}

bool InRange(UINT message, UINT first, UINT last) {
    return (first == 0 && last == 0) || (message >= first && message <= last);
}

// A window of the calling thread that needs painting, parents before their
// children, front windows first.
Window* FindWindowToPaint(Window* window, HWND filter, ThreadId thread) {
    if (!(window->style & WS_VISIBLE)) return nullptr;
    if (window->invalid && window->thread == thread && (filter == 0 || filter == window->handle)) return window;
    for (Window* child : window->children)
        if (Window* found = FindWindowToPaint(child, filter, thread)) return found;
    return nullptr;
}

bool TakePaint(MSG* message, HWND filter, UINT first, UINT last) {
    if (!InRange(WM_PAINT, first, last)) return false;
    const ThreadId thread = GetCurrentThreadId();
    for (Window* top : S().topLevels)
        if (Window* window = FindWindowToPaint(top, filter, thread)) {
            *message = MSG{window->handle, WM_PAINT, 0, 0};
            return true;
        }
    return false;
}

bool IsDue(const Timer& timer, uint32_t now) { return static_cast<int32_t>(now - timer.due) >= 0; }

bool TakeTimer(MSG* message, HWND filter, UINT first, UINT last, bool remove) {
    if (!InRange(WM_TIMER, first, last)) return false;
    const ThreadId thread = GetCurrentThreadId();
    const uint32_t now = GetTickCount();
    for (Timer& timer : S().timers) {
        if (timer.thread != thread || !IsDue(timer, now) || (filter != 0 && timer.window != filter)) continue;
        *message = MSG{timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.procedure)};
        if (remove) timer.due = now + timer.interval;
        return true;
    }
    return false;
}

// Milliseconds until the next timer of the thread or the next scheduled
// input falls due; false when there is neither.
bool NextWake(uint32_t* wait) {
    const ThreadId thread = GetCurrentThreadId();
    const uint32_t now = GetTickCount();
    bool found = false;
    uint32_t best = 0;
    for (const Timer& timer : S().timers) {
        if (timer.thread != thread) continue;
        const uint32_t in = IsDue(timer, now) ? 0 : timer.due - now;
        if (!found || in < best) best = in;
        found = true;
    }
    uint32_t at = 0;
    if (NextScheduledInput(&at)) {
        const uint32_t in = static_cast<int32_t>(at - now) <= 0 ? 0 : at - now;
        if (!found || in < best) best = in;
        found = true;
    }
    *wait = best;
    return found;
}

bool Take(MSG* message, HWND filter, UINT first, UINT last, bool remove) {
    if (S().presenter) S().presenter->Poll();
    DeliverDueInput();
    if (PeekQueuedMessage(message, filter, first, last, remove)) {
        if (remove) NoteKeyMessage(message->message, message->wParam);
        return true;
    }
    if (TakePaint(message, filter, first, last)) return true;
    return TakeTimer(message, filter, first, last, remove);
}

struct WaitRequest {
    uint32_t timeoutMs;
};

void WaitNow(void* argument) {
    const uint32_t timeout = static_cast<WaitRequest*>(argument)->timeoutMs;
    if (ScreenPresenter* presenter = S().presenter) presenter->Wait(timeout);
    else WaitForPost(timeout);
}

// Sleeps until a post, the presenter's input or the time is up.
void BlockFor(uint32_t timeoutMs) {
    WaitRequest request{timeoutMs};
    if (WaitWrapper wrapper = S().waitWrapper) wrapper(WaitNow, &request);
    else WaitNow(&request);
}

// IdlePolicy::Close: WM_CLOSE to each visible top-level window of the thread
// that has not had one from here yet, front first. False when there is none.
bool PostIdleClosesNow() {
    const ThreadId thread = GetCurrentThreadId();
    bool posted = false;
    for (Window* window : S().topLevels) {
        if (!(window->style & WS_VISIBLE) || window->shellWindow || window->idleClosed || window->thread != thread)
            continue;
        window->idleClosed = true;
        posted = PostMessageW(window->handle, WM_CLOSE, 0, 0) || posted;
    }
    return posted;
}

// The fill of WM_ERASEBKGND: the class background over the client area.
LRESULT EraseBackground(Window* window, HDC dc) {
    const HBRUSH brush = window->windowClass ? window->windowClass->info.hbrBackground : 0;
    if (!dc || !brush) return 0;
    RECT client{};
    GetClientRect(window->handle, &client);
    FillRect(dc, &client, brush);
    return 1;
}

}  // namespace

// --- sending and default processing ---------------------------------------------------

LRESULT SendMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = Find(handle);
    return window ? CallProcedure(window, message, wParam, lParam) : 0;
}

LRESULT DefWindowProcW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = Find(handle);
    if (!window) return 0;
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(handle);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        BeginPaint(handle, &paint);
        EndPaint(handle, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return EraseBackground(window, static_cast<HDC>(wParam));
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<const char16_t*>(lParam);
        window->text.clear();
        for (; text && *text; ++text) window->text.push_back(*text);
        if (S().active == handle) RefreshTaskBar();
        if (IsShown(window)) {
            PaintCaption(window);
            MarkScreenDirty();
        }
        return 1;
    }
    case WM_GETTEXT: {
        auto* buffer = reinterpret_cast<char16_t*>(lParam);
        if (!buffer || wParam == 0) return 0;
        const size_t length = std::min(window->text.size(), static_cast<size_t>(wParam) - 1);
        std::copy_n(window->text.data(), length, buffer);
        buffer[length] = 0;
        return static_cast<LRESULT>(length);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(window->text.size());
    case WM_WINDOWPOSCHANGED: {
        const auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!position) return 0;
        if (!(position->flags & SWP_NOSIZE)) {
            RECT client{};
            GetClientRect(handle, &client);
            SendMessageW(handle, WM_SIZE, SIZE_RESTORED, PackPoint(client.right, client.bottom));
        }
        if (!(position->flags & SWP_NOMOVE) && IsWindow(handle))
            SendMessageW(handle, WM_MOVE, 0, PackPoint(window->rect.left, window->rect.top));
        return 0;
    }
    case WM_ACTIVATE:
        if ((wParam & 0xFFFF) != WA_INACTIVE) {
            Window* focus = Find(S().focus);
            if (!focus || TopLevelOf(focus) != window) SetFocus(handle);
        }
        return 0;
    default:
        return 0;
    }
}

// --- taking and dispatching ----------------------------------------------------------------

bool PeekMessageW(MSG* message, HWND filter, UINT first, UINT last, UINT removeFlags) {
    const bool remove = (removeFlags & PM_REMOVE) != 0;
    if (Take(message, filter, first, last, remove)) return true;
    // A program that polls shows what it drew (at most once per refresh).
    if (ScreenPresenter* presenter = S().presenter) presenter->Present();
    if (IsTestClockOn()) {
        // Polling loops see time pass: to the next thing due, else 1 ms.
        // With nothing due ever, a polling loop waits for ever as GetMessageW
        // would: the idle policy Close closes the windows then too.
        uint32_t wait = 0;
        const bool due = NextWake(&wait);
        if (!due && S().idlePolicy == IdlePolicy::Close) PostIdleClosesNow();
        AdvanceTestClock(static_cast<uint64_t>(due && wait > 0 ? wait : 1) * 1'000'000u);
    }
    return false;
}

int GetMessageW(MSG* message, HWND filter, UINT first, UINT last) {
    State& s = S();
    for (;;) {
        if (Take(message, filter, first, last, true)) return message->message == WM_QUIT ? 0 : 1;
        if (s.presenter) s.presenter->Present();
        uint32_t wait = 0;
        if (NextWake(&wait)) {
            if (IsTestClockOn()) AdvanceTestClock(static_cast<uint64_t>(std::max<uint32_t>(wait, 1)) * 1'000'000u);
            else BlockFor(std::max<uint32_t>(wait, 1));
            continue;
        }
        switch (s.idlePolicy) {
        case IdlePolicy::Wait:
            // Under the test clock time passes as for an empty look.
            if (IsTestClockOn()) {
                AdvanceTestClock(1'000'000u);
                BlockFor(10);
            } else {
                BlockFor(1000);
            }
            continue;
        case IdlePolicy::Close:
            if (PostIdleClosesNow()) continue;
            return -1;
        case IdlePolicy::Fail:
            s.idleFailed = true;
            return -1;
        }
    }
}

int WaitForMessage(uint32_t timeoutMs) {
    State& s = S();
    const bool forever = timeoutMs == 0xFFFFFFFFu;
    const uint32_t start = GetTickCount();
    MSG message;
    for (;;) {
        if (Take(&message, 0, 0, 0, false)) return 1;
        const uint32_t elapsed = GetTickCount() - start;
        if (!forever && elapsed >= timeoutMs) return 0;
        if (s.presenter) s.presenter->Present();
        uint32_t wait = forever ? 0xFFFFFFFFu : timeoutMs - elapsed;
        uint32_t wake = 0;
        const bool due = NextWake(&wake);
        if (due) wait = std::min(wait, std::max<uint32_t>(wake, 1));
        if (forever && !due) {
            switch (s.idlePolicy) {
            case IdlePolicy::Wait: wait = 1000; break;
            case IdlePolicy::Close:
                if (PostIdleClosesNow()) continue;
                return -1;
            case IdlePolicy::Fail: s.idleFailed = true; return -1;
            }
        }
        if (IsTestClockOn()) {
            // Time moves to what is due next; a post from another thread
            // still gets its short look.
            AdvanceTestClock(static_cast<uint64_t>(forever && !due ? 1 : wait) * 1'000'000u);
            if (forever && !due) BlockFor(10);
        } else {
            BlockFor(wait);
        }
    }
}

bool TranslateMessage(const MSG* message) {
    if (!message || message->message != WM_KEYDOWN) return false;
    const WPARAM key = message->wParam;
    char16_t typed = 0;
    if (key >= '0' && key <= '9') typed = static_cast<char16_t>(key);
    else if (key >= 'A' && key <= 'Z') typed = static_cast<char16_t>(key - 'A' + 'a');
    else if (key == 0x20 || key == 0x0D || key == 0x08 || key == 0x09 || key == 0x1B) typed = static_cast<char16_t>(key);
    if (!typed) return false;
    return PostMessageFirst(message->hwnd, WM_CHAR, typed, message->lParam);
}

LRESULT DispatchMessageW(const MSG* message) {
    if (!message) return 0;
    if (message->message == WM_TIMER && message->lParam != 0) {
        // Only a timer procedure that a live timer names runs: anyone can
        // post WM_TIMER with any number in lParam.
        for (const Timer& timer : S().timers)
            if (timer.window == message->hwnd && timer.id == message->wParam &&
                reinterpret_cast<LPARAM>(timer.procedure) == message->lParam) {
                const TIMERPROC procedure = timer.procedure;
                procedure(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
                return 0;
            }
        return 0;
    }
    Window* window = Find(message->hwnd);
    if (!window) return 0;
    const LRESULT result = CallProcedure(window, message->message, message->wParam, message->lParam);
    if (message->message == WM_PAINT)
        if (Window* still = Find(message->hwnd); still && still->invalid) ValidateRect(message->hwnd, nullptr);
    return result;
}

// --- timers ------------------------------------------------------------------------------------

uintptr_t SetTimer(HWND handle, uintptr_t id, UINT milliseconds, TIMERPROC procedure) {
    State& s = S();
    if (handle != 0 && !IsWindow(handle)) return 0;
    if (handle == 0) id = s.nextThreadTimerId++;
    const uint32_t due = GetTickCount() + milliseconds;
    for (Timer& timer : s.timers)
        if (timer.window == handle && timer.id == id) {
            timer = Timer{handle, id, milliseconds, due, procedure, timer.thread};
            return id;
        }
    const ThreadId thread = handle ? Find(handle)->thread : GetCurrentThreadId();
    s.timers.push_back(Timer{handle, id, milliseconds, due, procedure, thread});
    WakeQueueWaiters();
    return handle ? (id ? id : 1) : id;
}

bool KillTimer(HWND handle, uintptr_t id) {
    return std::erase_if(S().timers, [&](const Timer& t) { return t.window == handle && t.id == id; }) > 0;
}

// --- painting requests --------------------------------------------------------------------------

bool InvalidateRect(HWND handle, const RECT* rect, bool erase) {
    Window* window = Find(handle);
    if (!window) return false;
    RECT client{};
    GetClientRect(handle, &client);
    const RECT area = rect ? Intersect(*rect, client) : client;
    if (RectIsEmpty(area)) return true;
    window->update = window->invalid ? Union(window->update, area) : area;
    window->invalid = true;
    window->erase = window->erase || erase;
    WakeQueueWaiters();
    return true;
}

bool ValidateRect(HWND handle, const RECT* rect) {
    Window* window = Find(handle);
    if (!window) return false;
    if (!rect) {
        window->invalid = false;
        window->erase = false;
        window->update = RECT{};
        return true;
    }
    // The update region is one rectangle: it shrinks only where a side is covered whole.
    RECT& update = window->update;
    if (rect->left <= update.left && rect->right >= update.right) {
        if (rect->top <= update.top && rect->bottom > update.top) update.top = std::min(rect->bottom, update.bottom);
        if (rect->bottom >= update.bottom && rect->top < update.bottom) update.bottom = std::max(rect->top, update.top);
    }
    if (rect->top <= update.top && rect->bottom >= update.bottom) {
        if (rect->left <= update.left && rect->right > update.left) update.left = std::min(rect->right, update.right);
        if (rect->right >= update.right && rect->left < update.right) update.right = std::max(rect->left, update.left);
    }
    if (RectIsEmpty(update)) {
        window->invalid = false;
        window->erase = false;
        update = RECT{};
    }
    return true;
}

bool UpdateWindow(HWND handle) {
    Window* window = Find(handle);
    if (!window) return false;
    if (window->invalid && IsShown(window)) {
        CallProcedure(window, WM_PAINT, 0, 0);
        if (Window* still = Find(handle); still && still->invalid) ValidateRect(handle, nullptr);
    }
    return true;
}

bool GetUpdateRect(HWND handle, RECT* rect, bool) {
    Window* window = Find(handle);
    if (!window) return false;
    if (rect) *rect = window->invalid ? window->update : RECT{};
    return window->invalid;
}

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
    Window* window = Find(handle);
    if (!window || !paint) return 0;
    RECT client{};
    GetClientRect(handle, &client);
    const RECT area = window->invalid ? window->update : RECT{};
    const bool erase = window->erase;
    ValidateRect(handle, nullptr);
    PaintCaption(window);
    *paint = PAINTSTRUCT{0, 0, area};
    DrawTarget target;
    if (!GetWindowDrawTarget(handle, false, &target)) {
        paint->fErase = erase ? 1 : 0;
        return 0;
    }
    // Only the update area may be touched.
    const RECT surfaceArea{area.left + target.origin.x, area.top + target.origin.y, area.right + target.origin.x,
                           area.bottom + target.origin.y};
    target.clip = Intersect(target.clip, surfaceArea);
    paint->hdc = CreateTargetDC(target);
    if (erase && paint->hdc) paint->fErase = SendMessageW(handle, WM_ERASEBKGND, paint->hdc, 0) ? 0 : 1;
    return paint->hdc;
}

bool EndPaint(HWND handle, const PAINTSTRUCT* paint) {
    if (paint && paint->hdc) DeleteTargetDC(paint->hdc);
    if (Window* window = Find(handle); window && IsShown(window)) MarkScreenDirty();
    return true;
}

HDC GetDC(HWND handle) {
    DrawTarget target;
    return GetWindowDrawTarget(handle, false, &target) ? CreateTargetDC(target) : 0;
}

HDC GetWindowDC(HWND handle) {
    DrawTarget target;
    return GetWindowDrawTarget(handle, true, &target) ? CreateTargetDC(target) : 0;
}

int ReleaseDC(HWND handle, HDC dc) {
    if (!dc) return 0;
    DeleteTargetDC(dc);
    if (Window* window = Find(handle); window && IsShown(window)) MarkScreenDirty();
    return 1;
}

void NoteWindowDrawn(HWND handle) {
    if (Window* window = Find(handle); window && IsShown(window)) MarkScreenDirty();
}

// --- policy and wrappers ---------------------------------------------------------------------

void SetIdlePolicy(IdlePolicy policy) { S().idlePolicy = policy; }

bool CloseVisibleWindows() { return PostIdleClosesNow(); }

IdlePolicy GetIdlePolicy() { return S().idlePolicy; }

bool TakeIdleFailure() { return std::exchange(S().idleFailed, false); }

void SetWaitWrapper(WaitWrapper wrapper) { S().waitWrapper = wrapper; }

void SetScreenPresenter(ScreenPresenter* presenter) { S().presenter = presenter; }

}  // namespace qob::platform
