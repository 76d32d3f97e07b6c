// platform/huge_pages.cpp
// Huge-page advice and mappings for large memory that is filled soon after
// it is made.
#include "platform/huge_pages.h"

#include <linux/futex.h>
#include <malloc.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace qob::platform {

void AdviseHugePages(void* start, size_t length) {
    const auto from = reinterpret_cast<uintptr_t>(start);
    const uintptr_t first = (from + kHugePageSize - 1) & ~(kHugePageSize - 1);
    const uintptr_t end = (from + length) & ~(kHugePageSize - 1);
    if (end > first) (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

void* MapHugePageStretch(size_t length) {
    // A mapping one huge page longer than asked holds an aligned stretch of
    // the length; the rest on either side goes back at once.
    const size_t mapped = length + kHugePageSize;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const auto from = reinterpret_cast<uintptr_t>(p);
    const uintptr_t start = (from + kHugePageSize - 1) & ~(kHugePageSize - 1);
    if (start > from) (void)munmap(p, start - from);
    const uintptr_t tail = from + mapped - (start + length);
    if (tail > 0) (void)munmap(reinterpret_cast<void*>(start + length), tail);
    (void)madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

void UnmapHugePageStretch(void* start, size_t length) {
    if (start != nullptr) (void)munmap(start, length);
}

// The helper thread is made by clone alone, not as a library thread: the
// process stays single-threaded as far as the C library knows, so its
// allocator and ours keep their lock-free paths. The helper therefore shares
// the caller's thread-local storage and must not touch it: it makes system
// calls directly (no errno), reads and writes through compiler builtins only,
// and is left out of the sanitizers' instrumentation (whose run-time keeps
// per-thread state).
#if defined(__x86_64__) && defined(__linux__)
#define QOB_BACKGROUND_PREFAULT 1
#endif

struct BackgroundPrefault::Job {
    char* start;
    size_t length;
    size_t allowed = 0;  // the helper reads it, the owner raises it (atomic builtins)
    bool stop = false;   // likewise
    // The helper's thread id while it runs: the kernel clears it and wakes a
    // waiter when the helper has ended.
    pid_t thread = 0;
    void* stack = nullptr;
};

namespace {

#ifdef QOB_BACKGROUND_PREFAULT
constexpr size_t kPrefaultStackSize = 64 << 10;
constexpr size_t kSmallPage = 4096;
constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE, not in every header

#define QOB_HELPER_CODE [[gnu::always_inline, gnu::no_sanitize("address", "undefined")]] inline

QOB_HELPER_CODE long DirectSyscall(long number, long a = 0, long b = 0, long c = 0) {
    long result;
    asm volatile("syscall" : "=a"(result) : "a"(number), "D"(a), "S"(b), "d"(c) : "rcx", "r11", "memory");
    return result;
}

// Each step makes at most one huge page's worth present.
[[gnu::no_sanitize("address", "undefined")]] int PrefaultMain(void* argument) {
    auto* job = static_cast<BackgroundPrefault::Job*>(argument);
    size_t done = 0;
    bool populate = true;
    while (done < job->length && !__atomic_load_n(&job->stop, __ATOMIC_ACQUIRE)) {
        const size_t allowed = __atomic_load_n(&job->allowed, __ATOMIC_ACQUIRE) & ~(kSmallPage - 1);
        if (allowed <= done) {
            DirectSyscall(SYS_sched_yield);
            continue;
        }
        size_t step = kHugePageSize - done % kHugePageSize;
        if (step > allowed - done) step = allowed - done;
        char* const from = job->start + done;
        if (populate && DirectSyscall(SYS_madvise, reinterpret_cast<long>(from), static_cast<long>(step),
                                      kPopulateWrite) == -EINVAL)
            populate = false;  // a kernel without it: each page is touched instead
        if (!populate)
            for (size_t at = 0; at < step; at += kSmallPage)
                __atomic_fetch_or(from + at, 0, __ATOMIC_RELAXED);  // the same byte, written whole
        done += step;
    }
    return 0;
}
#endif

}  // namespace

BackgroundPrefault::BackgroundPrefault([[maybe_unused]] void* start, [[maybe_unused]] size_t length) {
#ifdef QOB_BACKGROUND_PREFAULT
    const auto from = reinterpret_cast<uintptr_t>(start);
    if (!start || length == 0 || from % kSmallPage != 0) return;
    void* stack = mmap(nullptr, kPrefaultStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                       -1, 0);
    if (stack == MAP_FAILED) return;
    auto* made = new Job{static_cast<char*>(start), length};
    made->stack = stack;
    // No signal is ever delivered to the helper: it starts with all blocked.
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    constexpr int kFlags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM |
                           CLONE_PARENT_SETTID | CLONE_CHILD_CLEARTID;
    const int id = clone(PrefaultMain, static_cast<char*>(stack) + kPrefaultStackSize, kFlags, made, &made->thread,
                         nullptr, &made->thread);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (id <= 0) {
        munmap(stack, kPrefaultStackSize);
        delete made;
        return;
    }
    job = made;
#endif
}

BackgroundPrefault::~BackgroundPrefault() { Stop(); }

void BackgroundPrefault::Allow([[maybe_unused]] size_t bytes) {
#ifdef QOB_BACKGROUND_PREFAULT
    if (job) __atomic_store_n(&job->allowed, std::min(bytes, job->length), __ATOMIC_RELEASE);
#endif
}

void BackgroundPrefault::Stop() {
#ifdef QOB_BACKGROUND_PREFAULT
    if (!job) return;
    __atomic_store_n(&job->stop, true, __ATOMIC_RELEASE);
    for (pid_t id; (id = __atomic_load_n(&job->thread, __ATOMIC_ACQUIRE)) != 0;)
        syscall(SYS_futex, &job->thread, FUTEX_WAIT, id, nullptr, nullptr, 0);
    munmap(job->stack, kPrefaultStackSize);
    delete job;
    job = nullptr;
#endif
}

void PrepareCHeap() {
#if !defined(__SANITIZE_ADDRESS__)
    // A compile's large blocks (lists of nodes, the compiled image and its
    // coded form) are made and dropped a few times over; from the heap they
    // reuse pages already faulted in.
    constexpr int kLargestFromHeap = 256 << 20;
    constexpr int kGrowthStep = 64 << 20;
    constexpr int kKeptOnRelease = 128 << 20;
    mallopt(M_MMAP_THRESHOLD, kLargestFromHeap);
    mallopt(M_TRIM_THRESHOLD, kKeptOnRelease);
    mallopt(M_TOP_PAD, kGrowthStep);
    // A block the heap cannot give from what it has makes it grow now, by the
    // step; given back, the stretch stays the heap's.
    void* const before = sbrk(0);
    if (void* block = std::malloc(kHugePageSize)) {
        std::free(block);
        void* const after = sbrk(0);
        if (before != reinterpret_cast<void*>(-1) && after > before)
            AdviseHugePages(before, static_cast<char*>(after) - static_cast<char*>(before));
    }
#endif
}

}  // namespace qob::platform
