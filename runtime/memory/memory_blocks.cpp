// runtime/memory/memory_blocks.cpp
// A doubly linked list, newest first, under one lock: script threads
// allocate too.
#include "runtime/memory/memory_blocks.h"

#include <cstring>
#include <mutex>

#include "platform/memory.h"
#include "runtime/data/hash.h"

namespace qob {

bool MemoryTracking = false;

namespace {

std::mutex gBlocksLock;
MemoryBlockRecord* gNewest = nullptr;
NameSource gApplicationName = nullptr;
NameSource gRoutineName = nullptr;

const char* Ask(NameSource source) { return source != nullptr ? source() : nullptr; }

}  // namespace

MemoryBlockRecord* RegisterMemoryBlock(const char* sourceName, uint32_t line, void* block, uint32_t size) {
    auto* record = new MemoryBlockRecord{};
    record->block = block;
    record->size = size != 0 ? size : static_cast<uint32_t>(platform::GetBlockSize(block));
    if (sourceName == nullptr) sourceName = Ask(gApplicationName);
    record->sourceName = sourceName != nullptr ? sourceName : "";
    record->sourceHash = HashName(record->sourceName.data(), record->sourceName.size());
    if (const char* routine = Ask(gRoutineName)) record->routineName = routine;
    record->line = line;

    std::lock_guard guard(gBlocksLock);
    record->older = gNewest;
    if (gNewest != nullptr) gNewest->newer = record;
    gNewest = record;
    return record;
}

void UnregisterMemoryBlock(void* block) {
    std::lock_guard guard(gBlocksLock);
    for (MemoryBlockRecord* record = gNewest; record != nullptr; record = record->older) {
        if (record->block != block) continue;
        if (record->newer != nullptr) record->newer->older = record->older;
        else gNewest = record->older;
        if (record->older != nullptr) record->older->newer = record->newer;
        delete record;
        return;
    }
}

MemoryBlockRecord* GetNewestMemoryBlock() {
    std::lock_guard guard(gBlocksLock);
    return gNewest;
}

void SetMemoryBlockNameSources(NameSource applicationName, NameSource routineName) {
    gApplicationName = applicationName;
    gRoutineName = routineName;
}

}  // namespace qob
