// platform/handles.cpp
// The handle table: a reserved range below 2 GiB, one byte of address per
// handle, and an array of (kind, object) entries indexed from its start. The
// array is mapped whole and never moves, so look-ups take no lock: the window
// layer's callers are serialised by the interpreter lock, and the table's own
// lock only orders the making of handles between threads.
#include "platform/handles.h"

#include <sys/mman.h>

#include <atomic>
#include <mutex>

#include "platform/memory.h"

namespace qob::platform {

namespace {

// 16 Mi handles: a program that makes a brush per frame at 60 frames a second
// runs for three days before the range is used up.
constexpr size_t kHandleRange = size_t{1} << 24;

struct Entry {
    HandleKind kind;
    void* object;
};

struct HandleTable {
    std::mutex lock;                  // orders NewHandle between threads
    std::atomic<uintptr_t> base = 0;  // first address of the reserved range; 0 until reserved
    Entry* entries = nullptr;         // entries[i] is handle base + 1 + i
    std::atomic<size_t> count = 0;    // entries made so far
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

// Reserves the range on first use. The reservation is never released: handles
// are never reused, so the numbers stay meaningful for the whole process.
bool ReserveRange(HandleTable& table) {
    if (table.base.load(std::memory_order_relaxed) != 0) return true;
    void* range = mmap(nullptr, kHandleRange, PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_32BIT, -1, 0);
    if (range == MAP_FAILED) return false;
    if (reinterpret_cast<uintptr_t>(range) + kHandleRange > kLowMemoryLimit) {
        munmap(range, kHandleRange);
        return false;
    }
    void* entries = mmap(nullptr, kHandleRange * sizeof(Entry), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (entries == MAP_FAILED) {
        munmap(range, kHandleRange);
        return false;
    }
    table.entries = static_cast<Entry*>(entries);
    table.base.store(reinterpret_cast<uintptr_t>(range), std::memory_order_release);
    return true;
}

// The index of a handle's entry, or -1 when the number is no handle made yet.
long IndexOf(const HandleTable& table, uintptr_t number) {
    const uintptr_t base = table.base.load(std::memory_order_acquire);
    if (base == 0 || number <= base || number >= base + kHandleRange) return -1;
    const size_t index = number - base - 1;
    return index < table.count.load(std::memory_order_acquire) ? static_cast<long>(index) : -1;
}

}  // namespace

Handle NewHandle(HandleKind kind, void* object) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    const size_t count = table.count.load(std::memory_order_relaxed);
    if (!ReserveRange(table) || count + 1 >= kHandleRange) return 0;
    table.entries[count] = {kind, object};
    table.count.store(count + 1, std::memory_order_release);
    return table.base.load(std::memory_order_relaxed) + count + 1;
}

void* HandleObject(Handle handle, HandleKind kind) {
    const HandleTable& table = Table();
    const long index = IndexOf(table, handle);
    if (index < 0 || kind == HandleKind::None) return nullptr;
    const Entry& entry = table.entries[static_cast<size_t>(index)];
    return entry.kind == kind ? entry.object : nullptr;
}

HandleKind KindOfHandle(Handle handle) {
    const HandleTable& table = Table();
    const long index = IndexOf(table, handle);
    return index < 0 ? HandleKind::None : table.entries[static_cast<size_t>(index)].kind;
}

void FreeHandle(Handle handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    const long index = IndexOf(table, handle);
    if (index >= 0) table.entries[static_cast<size_t>(index)] = {HandleKind::None, nullptr};
}

bool IsHandleNumber(uintptr_t number) {
    const uintptr_t base = Table().base.load(std::memory_order_acquire);
    return base != 0 && number > base && number < base + kHandleRange;
}

}  // namespace qob::platform
