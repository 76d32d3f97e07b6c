// builtins/files/stream_builtins.h
// Stdio streams for programs: handles from a table of open streams, reads and
// writes of blocks, positions, and line-oriented text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// Open streams (tests).
[[nodiscard]] size_t CountOpenStreams();

// A handle that is not in the table makes each built-in fail as its C
// routine does: fclose and fseek do nothing, feof and ferror give 1, fflush,
// fgetpos, fsetpos and ftell -1, fread and fwrite 0, readstring 0.

// (path, mode): a handle, or 0. "t" in the mode is accepted and ignored;
// directories are refused.
void Builtin_fopen();
void Builtin_fclose();
void Builtin_feof();
void Builtin_ferror();
void Builtin_fflush();
// (handle, position variable): 0, the variable set to the position; -1 when
// the position cannot be taken or does not fit 32 bits.
void Builtin_fgetpos();
void Builtin_fsetpos();
// (buffer, size, count, handle): items moved. The transfer is computed in 64
// bits and cut to the buffer's block when the buffer starts one; a negative
// size (fread) or count (fwrite) fails.
void Builtin_fread();
void Builtin_fwrite();
void Builtin_fseek();  // pushes nothing
void Builtin_ftell();
// (handle, text): the text and "\n".
void Builtin_writestring();
// (handle): the next line without its line end, or 0 at the end. A stream
// opened without "b" also drops the CR of a CRLF.
void Builtin_readstring();

}  // namespace qob
