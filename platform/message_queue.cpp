// platform/message_queue.cpp
// The queues, the window-to-thread table and the thread numbers share one lock;
// a thread's queue is dropped by a thread-local record when the thread ends.

#include "platform/message_queue.h"

#include <atomic>
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

bool PostMessageW(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
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
    queue->second.messages.push_back(MSG{window, message, wParam, lParam});
    return true;
}

void PostQuitMessage(int exitCode) {
    const ThreadId self = GetCurrentThreadId();
    SharedQueues& shared = Shared();
    std::lock_guard guard(shared.lock);
    Queue& queue = shared.queues[self];
    queue.quitPosted = true;
    queue.quitCode = exitCode;
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

int GetMessageTimeout(MSG* message, uint32_t timeoutMs) {
    const uint32_t start = GetTickCount();
    for (;;) {
        if (PeekMessageW(message, PM_REMOVE)) return message->message == WM_QUIT ? 0 : 1;
        if (GetTickCount() - start >= timeoutMs) return -1;
        Sleep(1);
    }
}

}  // namespace qob::platform
