// runtime/memory/value_blocks.cpp
// Value blocks: allocation below 2 GiB, validated frees, copies by size or terminator.
#include "runtime/memory/value_blocks.h"

#include "platform/memory.h"
#include "runtime/memory/memory_blocks.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/vm.h"

#include <sys/single_threaded.h>

#include <atomic>
#include <cstring>

namespace qob {

namespace {

std::atomic<int64_t> LiveBlocks{0};
std::atomic<int64_t> RejectedFrees{0};

// Moves a counter by delta. While the process has one thread a plain read and
// write do: a locked add costs more than the rest of a list node's free, and
// the library's flag turns false before a second thread starts, never back.
void AddToCount(std::atomic<int64_t>& counter, int64_t delta) {
    if (__libc_single_threaded)
        counter.store(counter.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
    else
        counter.fetch_add(delta, std::memory_order_relaxed);
}

// Value blocks have a heap of their own, so the count of live ones is not
// disturbed by blocks of other heaps that values also hold and free. It is
// made on first use; every block made or freed after that reads it from a
// plain pointer, without the guarded start-up test of a local static.
std::atomic<platform::HeapHandle> MadeValueHeap{nullptr};

[[gnu::noinline]] platform::HeapHandle MakeValueHeap() {
    static const platform::HeapHandle heap = platform::HeapCreate();
    MadeValueHeap.store(heap, std::memory_order_release);
    return heap;
}

platform::HeapHandle ValueHeap() {
    const platform::HeapHandle heap = MadeValueHeap.load(std::memory_order_acquire);
    return heap ? heap : MakeValueHeap();
}

void* AllocateCounted(uint32_t flags, size_t size) {
    void* block = platform::HeapAlloc(ValueHeap(), flags, size);
    if (block)
        AddToCount(LiveBlocks, 1);
    return block;
}

}  // namespace

void* AllocateValueBlock(size_t size) {
    return AllocateCounted(platform::HEAP_ZERO_MEMORY, size);
}

void FreeValueBlock(void* block) {
    if (!block)
        return;
    const platform::HeapHandle heap = platform::FreeBlockOfAnyHeap(block);
    if (!heap) {
        AddToCount(RejectedFrees, 1);
        return;
    }
    if (heap == ValueHeap())
        AddToCount(LiveBlocks, -1);
}

void FreeValueBlocks(void* const* blocks, size_t count) {
    // Runs of this family's blocks go in one call; any other goes the
    // general way.
    size_t i = 0;
    while (i < count) {
        const size_t freed = platform::HeapFreeRun(ValueHeap(), blocks + i, count - i);
        AddToCount(LiveBlocks, -static_cast<int64_t>(freed));
        i += freed;
        if (i < count)
            FreeValueBlock(blocks[i++]);
    }
}

int64_t LiveValueBlocks() {
    return LiveBlocks.load(std::memory_order_relaxed);
}

int64_t RejectedValueBlockFrees() {
    return RejectedFrees.load(std::memory_order_relaxed);
}

char* CopyValueBlock(const void* bytes, size_t count) {
    auto* copy = static_cast<char*>(AllocateCounted(0, count));
    if (!copy)
        return nullptr;
    if (count)
        std::memcpy(copy, bytes, count);
    return copy;
}

size_t TextBytes(const void* text, bool wide) {
    if (!text)
        return 0;
    if (!wide)
        return std::strlen(static_cast<const char*>(text)) + 1;
    const auto* units = static_cast<const unsigned char*>(text);
    size_t n = 0;
    while (units[n] || units[n + 1])
        n += 2;
    return n + 2;
}

char* CopyValueText(const char* text) {
    return text ? CopyValueBlock(text, TextBytes(text, false)) : nullptr;
}

char* CopyValueBlockOrText(const void* block, bool wide) {
    if (!block)
        return nullptr;
    size_t size = platform::GetBlockSize(block);
    return CopyValueBlock(block, size ? size : TextBytes(block, wide));
}

}  // namespace qob

namespace qob {

// Only while tracking is on and code runs: blocks made outside running code
// (start-up, tests) have no source position to report.
void RegisterValueBlock(const void* block) {
    if (!MemoryTracking || !block || !CurrentInstruction)
        return;
    const InstructionExtra* extra = CurrentInstruction->extra;
    RegisterMemoryBlock(extra ? extra->sourceFile : nullptr, extra ? static_cast<uint32_t>(extra->line) : 0,
                        const_cast<void*>(block), 0);
}

void UnregisterValueBlock(const void* block) {
    if (MemoryTracking && block && CurrentInstruction)
        UnregisterMemoryBlock(const_cast<void*>(block));
}

}  // namespace qob
