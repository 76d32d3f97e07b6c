// runtime/memory/memory_blocks.h
// The memory-block registry: while memory tracking is on, the blocks made for
// script values, with where they were made, for the profiler's memory report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qob {

// Set by the memory-tracking switch of the command line. Callers register
// and unregister blocks only while it is on and a current instruction exists.
extern bool MemoryTracking;

struct MemoryBlockRecord {
    std::string sourceName;                 // the caller's source file, else the application's name
    uint32_t sourceHash;                    // HashName of sourceName
    std::optional<std::string> routineName; // the routine running when the block was registered
    uint32_t line;
    void* block;
    uint32_t size;  // as given, or the block's size when 0 was given
    MemoryBlockRecord* older;
    MemoryBlockRecord* newer;
};

// Records a block (the same block may be recorded more than once) and
// returns the record, now the newest of the list.
MemoryBlockRecord* RegisterMemoryBlock(const char* sourceName, uint32_t line, void* block, uint32_t size);

// Removes the newest record of the block; a block without one is ignored.
void UnregisterMemoryBlock(void* block);

// The newest record (follow older to walk the list), or null.
[[nodiscard]] MemoryBlockRecord* GetNewestMemoryBlock();

// Where records take the running application's name (for callers that give
// no source name) and the current routine's name from; the virtual machine
// installs them. Either may be null or answer null.
using NameSource = const char* (*)();
void SetMemoryBlockNameSources(NameSource applicationName, NameSource routineName);

}  // namespace qob
