// platform/message_queue.cpp
// The queues, the window-to-thread table and the thread numbers share one lock;
// a thread's queue is dropped by a thread-local record when the thread ends.

#include "platform/message_queue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "platform/clock.h"

namespace qob::platform {
namespace {

struct Queue {
    std::deque<MSG> messages;
    bool quitPosted = false;
    int quitCode = 0;
};

struct SharedQueues {
    std::mutex lock;
    std::condition_variable posted;  // a post, a quit request or a wake-up
    uint64_t wakeCount = 0;
    std::unordered_map<ThreadId, Queue> queues;
    std::unordered_map<HWND, ThreadId> windows;
    std::atomic<ThreadId> lastThreadId{0};
};

// Never destroyed: threads that end during the process's own exit still find
// it when their queues are dropped.
SharedQueues& Shared() {
    static SharedQueues* shared = new SharedQueues;
    return *shared;
}

// The calling thread's number; its destructor drops the thread's queue and
// forgets the thread's windows.
struct ThreadQueueOwner {
    ThreadId id = 0;
    ~ThreadQueueOwner() {
        if (id == 0) return;
        SharedQueues& shared = Shared();
        std::lock_guard guard(shared.lock);
        shared.queues.erase(id);
        std::erase_if(shared.windows, [this](const auto& entry) { return entry.second == id; });
    }
};

thread_local ThreadQueueOwner tOwner;

std::atomic<void (*)()> gPostWakeHook{nullptr};

void CallPostWakeHook() {
    if (void (*hook)() = gPostWakeHook.load(std::memory_order_acquire)) hook();
}

}  // namespace

ThreadId GetCurrentThreadId() {
    if (tOwner.id != 0) return tOwner.id;
    SharedQueues& shared = Shared();
    const ThreadId id = shared.lastThreadId.fetch_add(1) + 1;
    {
        std::lock_guard guard(shared.lock);
        shared.queues.try_emplace(id);
    }
    tOwner.id = id;
    return id;
}

void BindWindowToThread(HWND window) {
    const ThreadId thread = GetCurrentThreadId();
    SharedQueues& shared = Shared();
    std::lock_guard guard(shared.lock);
    shared.windows[window] = thread;
}

void UnbindWindow(HWND window) {
    SharedQueues& shared = Shared();
    std::lock_guard guard(shared.lock);
    shared.windows.erase(window);
}

namespace {

bool Post(HWND window, const MSG& message, bool first) {
    const ThreadId self = GetCurrentThreadId();
    SharedQueues& shared = Shared();
    std::lock_guard guard(shared.lock);
    ThreadId thread = self;
    if (window != 0) {
        const auto found = shared.windows.find(window);
        if (found == shared.windows.end()) return false;
        thread = found->second;
    }
    const auto queue = shared.queues.find(thread);
    if (queue == shared.queues.end()) return false;
    if (first) queue->second.messages.push_front(message);
    else queue->second.messages.push_back(message);
    shared.posted.notify_all();
    return true;
}

}  // namespace

bool PostMessageW(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    const bool posted = Post(window, MSG{window, message, wParam, lParam}, false);
    if (posted) CallPostWakeHook();
    return posted;
}

bool PostMessageFirst(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    const bool posted = Post(window, MSG{window, message, wParam, lParam}, true);
    if (posted) CallPostWakeHook();
    return posted;
}

void PostQuitMessage(int exitCode) {
    const ThreadId self = GetCurrentThreadId();
    SharedQueues& shared = Shared();
    std::lock_guard guard(shared.lock);
    Queue& queue = shared.queues[self];
    queue.quitPosted = true;
    queue.quitCode = exitCode;
    shared.posted.notify_all();
}

bool PeekMessageW(MSG* message, uint32_t removeFlags) {
    const ThreadId self = GetCurrentThreadId();
    SharedQueues& shared = Shared();
    std::lock_guard guard(shared.lock);
    Queue& queue = shared.queues[self];
    const bool remove = (removeFlags & PM_REMOVE) != 0;
    if (!queue.messages.empty()) {
        *message = queue.messages.front();
        if (remove) queue.messages.pop_front();
        return true;
    }
    if (!queue.quitPosted) return false;
    *message = MSG{0, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0};
    if (remove) queue.quitPosted = false;
    return true;
}

bool PeekQueuedMessage(MSG* message, HWND window, uint32_t first, uint32_t last, bool remove) {
    const ThreadId self = GetCurrentThreadId();
    SharedQueues& shared = Shared();
    std::lock_guard guard(shared.lock);
    Queue& queue = shared.queues[self];
    const bool anyNumber = first == 0 && last == 0;
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (window != 0 && it->hwnd != window) continue;
        if (!anyNumber && (it->message < first || it->message > last)) continue;
        *message = *it;
        if (remove) queue.messages.erase(it);
        return true;
    }
    const bool quitWanted = anyNumber || (WM_QUIT >= first && WM_QUIT <= last);
    if (!queue.quitPosted || !quitWanted) return false;
    *message = MSG{0, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0};
    if (remove) queue.quitPosted = false;
    return true;
}

int GetMessageTimeout(MSG* message, uint32_t timeoutMs) {
    const uint32_t start = GetTickCount();
    for (;;) {
        if (PeekMessageW(message, PM_REMOVE)) return message->message == WM_QUIT ? 0 : 1;
        if (GetTickCount() - start >= timeoutMs) return -1;
        Sleep(1);
    }
}

bool WaitForPost(uint32_t timeoutMs) {
    const ThreadId self = GetCurrentThreadId();
    SharedQueues& shared = Shared();
    std::unique_lock guard(shared.lock);
    const uint64_t wakes = shared.wakeCount;
    auto holdsSomething = [&] {
        const Queue& queue = shared.queues[self];
        return !queue.messages.empty() || queue.quitPosted;
    };
    shared.posted.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return holdsSomething() || shared.wakeCount != wakes; });
    return holdsSomething();
}

void WakeQueueWaiters() {
    SharedQueues& shared = Shared();
    {
        std::lock_guard guard(shared.lock);
        ++shared.wakeCount;
        shared.posted.notify_all();
    }
    CallPostWakeHook();
}

void SetPostWakeHook(void (*hook)()) { gPostWakeHook.store(hook, std::memory_order_release); }

}  // namespace qob::platform
