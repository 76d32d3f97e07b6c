// platform/message_queue.h
// The window manager's message queues: one per thread, filled by posts to a
// window's thread or to the calling thread, emptied in order, with a quit request.
#pragma once

#include <cstdint>

namespace qob::platform {

using HWND = uintptr_t;  // a window handle, as programs hold it in a number
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

// One queued message. A message posted with no window is a thread message.
struct MSG {
    HWND hwnd;
    uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr uint32_t WM_QUIT = 0x0012;

// PeekMessageW: leave the message in the queue, or take it out.
constexpr uint32_t PM_NOREMOVE = 0;
constexpr uint32_t PM_REMOVE = 1;

// A number per thread, from 1, never given to another thread. A thread gets
// its queue when it first posts, peeks or asks for its number, and loses it
// (with what is still in it) when it ends.
using ThreadId = uint32_t;
[[nodiscard]] ThreadId GetCurrentThreadId();

// A window belongs to the thread that made it: messages posted to it go to
// that thread's queue. The window manager records each window it makes with
// the calling thread, and forgets it when the window is destroyed or its
// thread ends.
void BindWindowToThread(HWND window);
void UnbindWindow(HWND window);

// Appends a message to the queue of the window's thread; a window of 0 posts
// a thread message to the calling thread. False when the window is not known
// (never made, destroyed, or its thread has ended): nothing is queued.
[[nodiscard]] bool PostMessageW(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// As PostMessageW, with the message put before every message waiting (a
// character that a key press produced comes before the key's release).
[[nodiscard]] bool PostMessageFirst(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// Asks the calling thread's queue to deliver WM_QUIT (wParam the exit code)
// once every message posted before it has been taken out.
void PostQuitMessage(int exitCode);

// Copies the oldest message of the calling thread's queue (any window, and
// thread messages) and, with PM_REMOVE, takes it out. False when the queue
// is empty.
[[nodiscard]] bool PeekMessageW(MSG* message, uint32_t removeFlags);

// As PeekMessageW, taking the oldest message of the window (0: any, with
// thread messages) whose number lies in first..last (both 0: any number).
[[nodiscard]] bool PeekQueuedMessage(MSG* message, HWND window, uint32_t first, uint32_t last, bool remove);

// Takes out the oldest message, waiting up to timeoutMs milliseconds for one
// on the platform clock: 1 for a message, 0 for WM_QUIT (taken out too), -1
// when the time passed with none. The wait sleeps a millisecond between looks
// (under the test clock it advances the clock instead), so a caller that
// holds a lock other threads need releases it around the call.
[[nodiscard]] int GetMessageTimeout(MSG* message, uint32_t timeoutMs);

// Sleeps until the calling thread's queue holds a message (or a quit
// request), WakeQueueWaiters is called, or timeoutMs milliseconds have
// passed on the monotonic clock. True when the queue holds something.
bool WaitForPost(uint32_t timeoutMs);
// Wakes every thread sleeping in WaitForPost (input that is not a post).
void WakeQueueWaiters();
// Called after every post and wake-up, outside the queues' lock (a screen
// window that waits for its own events as well); null for none.
void SetPostWakeHook(void (*hook)());

}  // namespace qob::platform
