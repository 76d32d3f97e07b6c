// builtins/compression/compression_builtins.cpp
// The block coders, pools, clipboard and quiet mode as built-ins.
#include "builtins/compression/compression_builtins.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "builtins/files/file_arguments.h"
#include "builtins/handles/handle_table.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/clipboard.h"
#include "platform/memory.h"
#include "runtime/data/coders.h"
#include "runtime/registry/hooks.h"
#include "runtime/vm/switches.h"

namespace qob {
namespace {

// --- coders ---------------------------------------------------------------------------

struct CoderArguments {
    int32_t method;
    std::span<const uint8_t> source;
    std::span<uint8_t> destination;
    int32_t size;
};

// Pops (method, source, destination, size): the source is size bytes, cut
// to its block; fullSource takes its whole block instead (the prefix
// decoder reads as much of it as it needs).
CoderArguments PopCoderArguments(bool fullSource) {
    StackEntry sizeArgument = TakeOperand();
    StackEntry destinationArgument = TakeOperand();
    StackEntry sourceArgument = TakeOperand();
    StackEntry methodArgument = TakeOperand();
    CoderArguments arguments{};
    arguments.method = ArgumentInteger(methodArgument);
    arguments.size = ArgumentInteger(sizeArgument);
    const auto* source = static_cast<const uint8_t*>(AddressArgument(sourceArgument));
    auto* destination = static_cast<uint8_t*>(AddressArgument(destinationArgument));
    const size_t sourceRoom = KnownBlockRoom(source);
    const size_t wanted = arguments.size > 0 ? static_cast<size_t>(arguments.size) : 0;
    arguments.source = {source, fullSource ? sourceRoom : std::min(wanted, sourceRoom)};
    arguments.destination = {destination, KnownBlockRoom(destination)};
    ReleaseOperand(methodArgument);
    ReleaseOperand(sourceArgument);
    ReleaseOperand(destinationArgument);
    ReleaseOperand(sizeArgument);
    return arguments;
}

bool IsCoderMethod(int32_t method) { return method >= 0 && method <= 2; }

// --- pools -----------------------------------------------------------------------------

struct ScriptPoolBlock {
    uint8_t* memory;  // null once released
    uint32_t used;
    uint32_t count;   // live allocations
};

struct ScriptPool {
    uint32_t blockSize = 0;
    std::vector<ScriptPoolBlock> blocks;  // oldest first; the last is current

    ~ScriptPool() {
        for (ScriptPoolBlock& block : blocks) platform::FreeBlock(block.memory);
    }
};

HandleTable<ScriptPool>& Pools() {
    static HandleTable<ScriptPool> table;
    return table;
}

ScriptPool* PopPool() {
    StackEntry handle = TakeOperand();
    ScriptPool* pool = Pools().Find(ArgumentInteger(handle));
    ReleaseOperand(handle);
    return pool;
}

// An allocation of size bytes (a size below 0 or above the block size, or a
// block that cannot be had, gives null).
void* AllocateFromPool(ScriptPool& pool, int64_t size) {
    if (size < 0) return nullptr;
    const uint64_t rounded = (static_cast<uint64_t>(size) + 3) & ~uint64_t{3};
    if (rounded > pool.blockSize) return nullptr;
    ScriptPoolBlock* current = pool.blocks.empty() ? nullptr : &pool.blocks.back();
    if (!current || !current->memory || rounded > pool.blockSize - current->used) {
        auto* memory = static_cast<uint8_t*>(platform::AllocateZeroedBlock(pool.blockSize));
        if (!memory) return nullptr;
        pool.blocks.push_back({memory, 0, 0});
        current = &pool.blocks.back();
    }
    void* allocation = current->memory + current->used;
    current->used += static_cast<uint32_t>(rounded);
    current->count += 1;
    return allocation;
}

// From the current block back: the first block holding the address loses
// one allocation, and its memory when that was its last.
void FreeFromPool(ScriptPool& pool, const uint8_t* address) {
    for (auto block = pool.blocks.rbegin(); block != pool.blocks.rend(); ++block) {
        if (!block->memory || address < block->memory || address >= block->memory + pool.blockSize) continue;
        if (block->count > 0 && --block->count == 0) {
            platform::FreeBlock(block->memory);
            block->memory = nullptr;
        }
        return;
    }
}

}  // namespace

void Builtin_compress() {
    const CoderArguments arguments = PopCoderArguments(false);
    size_t length = 0;
    if (IsCoderMethod(arguments.method) && arguments.destination.data()) {
        const CoderResult result =
            Compress(static_cast<CoderMethod>(arguments.method), arguments.source, arguments.destination);
        if (result.Ok()) length = result.length;
    }
    PushNumberResult(static_cast<double>(length));
}

void Builtin_uncompress() {
    const CoderArguments arguments = PopCoderArguments(true);
    if (!IsCoderMethod(arguments.method) || !arguments.destination.data() || arguments.size == 0) return;
    const auto method = static_cast<CoderMethod>(arguments.method);
    std::span<const uint8_t> source = arguments.source;
    if (method != CoderMethod::ShannonFano) source = source.first(std::min<size_t>(source.size(), std::max(arguments.size, 0)));
    static_cast<void>(Uncompress(method, source, arguments.destination));
}

void Builtin_mmcreate() {
    StackEntry sizeArgument = TakeOperand();
    const int32_t blockSize = ArgumentInteger(sizeArgument);
    ReleaseOperand(sizeArgument);
    int32_t handle = 0;
    if (blockSize >= 0) {
        auto pool = std::make_unique<ScriptPool>();
        pool->blockSize = static_cast<uint32_t>(blockSize);
        handle = Pools().Add(std::move(pool));
    }
    PushNumberResult(handle);
}

void Builtin_mmalloc() {
    StackEntry sizeArgument = TakeOperand();
    ScriptPool* pool = PopPool();
    const int32_t size = ArgumentInteger(sizeArgument);
    ReleaseOperand(sizeArgument);
    void* allocation = pool ? AllocateFromPool(*pool, size) : nullptr;
    PushNumberResult(static_cast<double>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(allocation))));
}

void Builtin_mmfree() {
    StackEntry addressArgument = TakeOperand();
    ScriptPool* pool = PopPool();
    const auto* address = static_cast<const uint8_t*>(AddressArgument(addressArgument));
    ReleaseOperand(addressArgument);
    if (pool && address) FreeFromPool(*pool, address);
}

void Builtin_mmdestroy() {
    StackEntry handle = TakeOperand();
    const std::unique_ptr<ScriptPool> pool = Pools().Remove(ArgumentInteger(handle));
    ReleaseOperand(handle);
}

int64_t CountPoolBlocksWithMemory(int32_t handle) {
    const ScriptPool* pool = Pools().Find(handle);
    if (!pool) return -1;
    return std::count_if(pool->blocks.begin(), pool->blocks.end(),
                         [](const ScriptPoolBlock& block) { return block.memory != nullptr; });
}

void Builtin_getclip() {
    const std::optional<std::string> text = platform::GetClipboardText();
    if (text) PushStringResult(*text);
    else PushNumberResult(0.0);
}

void Builtin_setclip() {
    StackEntry textArgument = TakeOperand();
    platform::SetClipboardText(StringArgument(textArgument));
    ReleaseOperand(textArgument);
}

void Builtin_QuietMode() {
    StackEntry flagArgument = TakeOperand();
    const bool quiet = ArgumentInteger(flagArgument) != 0;
    ReleaseOperand(flagArgument);
    Switches.quiet = quiet;
    Hooks.setQuietMode(quiet);
}

}  // namespace qob
