// builtins/compression/compression_builtins.h
// compress and uncompress over memory given by address, the programs' memory
// pools, the text clipboard and quiet mode.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// (method, source, destination, size): the compressed length, or 0 when the
// method is unknown or the output does not fit the destination. The source
// is read for size bytes, cut to its block; the destination takes what its
// block holds. Memory that starts no runtime block has no known room and
// takes nothing.
void Builtin_compress();
// (method, source, destination, size): methods 0 and 2 decode size bytes of
// stream; method 1 decodes as many bytes as the destination block holds (a
// larger block than the data decodes until the stream ends) and needs only
// a size that is not 0. A stream that says more than the destination holds
// stops at its end.
void Builtin_uncompress();

// Pools: handles from a table of live pools. Allocations round up to 4
// bytes and come from blocks of the pool's block size, front to back; a
// block is freed whole once its last allocation is.
void Builtin_mmcreate();   // (block size): a handle, or 0 for a negative size
void Builtin_mmalloc();    // (pool, size): an address, or 0
void Builtin_mmfree();     // (pool, address)
void Builtin_mmdestroy();  // (pool)

// Live blocks of a pool's chain that still hold memory (tests); -1 for a
// handle that is not live.
[[nodiscard]] int64_t CountPoolBlocksWithMemory(int32_t pool);

// getclip: a copy of the clipboard's text, or 0; setclip (text).
void Builtin_getclip();
void Builtin_setclip();

// (flag): quiet mode on (non-zero) or off.
void Builtin_QuietMode();

}  // namespace qob
