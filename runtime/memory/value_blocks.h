// runtime/memory/value_blocks.h
// The blocks that script values own (texts, storage, list nodes, cells): all
// from the low-memory allocator, with exact sizes and validated frees.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// A zero-filled block of exactly size bytes, or null when memory is out.
[[nodiscard]] void* AllocateValueBlock(size_t size);
// Frees a block of the low-memory allocator; null and unknown addresses are
// ignored (every free is validated: a bad one must not abort the process).
void FreeValueBlock(void* block);
// FreeValueBlock of each of count blocks, in order.
void FreeValueBlocks(void* const* blocks, size_t count);
// A block holding a copy of count bytes (count may be 0).
[[nodiscard]] char* CopyValueBlock(const void* bytes, size_t count);
// A terminated copy of a text, measured by its terminator.
[[nodiscard]] char* CopyValueText(const char* text);
// Copy of a block by its size, or by its terminator (a 16-bit one when wide)
// when it is not a block: a borrowed text is never adopted.
[[nodiscard]] char* CopyValueBlockOrText(const void* block, bool wide);
// Bytes of a text including its terminator (8-bit, or 16-bit units when wide).
[[nodiscard]] size_t TextBytes(const void* text, bool wide);

// Blocks of this family alive now, and frees refused because the address was
// no live block (a double free or a foreign pointer): what tests check to see
// that every value is freed exactly once. Blocks handed to a call depth
// (TrackAllocation) are made outside this family.
[[nodiscard]] int64_t LiveValueBlocks();
[[nodiscard]] int64_t RejectedValueBlockFrees();

// Memory tracking of script-made blocks (start-up switch "Y").
void RegisterValueBlock(const void* block);
void UnregisterValueBlock(const void* block);

}  // namespace qob
