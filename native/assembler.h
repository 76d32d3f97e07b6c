// native/assembler.h
// AssembleCode: assembler source, already split into compiler tokens, to
// the ARM words of a page-aligned low-memory code block, with its value
// pool, its diagnostics and, after "#DEASM", a listing.
#pragma once

#include <cstdint>
#include <string_view>

namespace qob {

struct TokenNode;

struct AsmOptions {
    bool debugMode = false;             // per-statement debugger hook and debug frames
    bool profiling = false;             // per-statement profiler stamp
    const char* sourceFile = nullptr;   // the calling procedure's file, for the hooks
    int32_t lineOffset = 0;             // the calling procedure's first line, for the debugger hook
    bool listing = false;               // list every word
    void (*listingSink)(const char* line) = nullptr;  // null: the run-time log
};

// What one assembly gives: the block's base address (0 when no block could
// be made) and whether any error was reported, in which case the block must
// not be run.
struct AsmResult {
    uint32_t base = 0;
    bool failed = true;
    uint32_t codeBytes = 0;   // the code, up to the value pool
    uint32_t totalBytes = 0;  // the code and the pool
};

// Assembles the tokens from first on into a new block of size bytes.
// Every diagnostic goes to ReportCompileMessage; the walk goes on to the last
// token, so one run reports every error. The block and its texts live until
// FreeAsmBlock.
[[nodiscard]] AsmResult AssembleCode(int32_t size, const TokenNode* first, const AsmOptions& options);

// Tokenizes source in assembler mode (as an unnamed file) and assembles it;
// the tokens and the defines the source made are released afterwards. The
// listing is on when the source holds "#DEASM" or options ask for it.
[[nodiscard]] AsmResult AssembleSource(int32_t size, std::string_view source, AsmOptions options);

// Releases a block made by AssembleCode and the texts it owns.
void FreeAsmBlock(uint32_t base);
// Releases the block alone; its texts are the caller's to release first.
void FreeAsmBlockMemory(uint32_t base);
// Whether base is a live block made by AssembleCode.
[[nodiscard]] bool IsAsmBlock(uint32_t base);

// The 32 bits of a number as the assembler reads immediates: modulo 2^32.
[[nodiscard]] uint32_t NumberToWord32(double value);

}  // namespace qob
