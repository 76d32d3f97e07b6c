// compiler/back_end/code_generator.h
// GenerateCode: turns the linked postfix stream of one unit into the
// instruction list the virtual machine runs.
#pragma once

#include <cstdint>
#include <span>

#include "compiler/compile_progress.h"

namespace qob {

struct Instruction;
struct ProcedureRecord;
struct ProgramContext;
struct TokenNode;

struct CodeGenOptions {
    bool optimize = true;          // cleared by the start-up switch "NO"
    // A unit without procedures runs from its first node. Only children and
    // eval texts may do that; a top-level program needs MAIN or WINMAIN.
    bool firstNodeEntry = false;
    CompileProgress progress = nullptr;
};

// What GenerateCode hands back besides the list.
struct GeneratedEntry {
    Instruction* entry = nullptr;  // start of MAIN or WINMAIN (the later one), or the first node
    bool isWinMain = false;
};

// Compiles the stream that ends at lastToken into a new instruction list in
// the context's pool and returns its first node; the tokens are consumed
// (freed) on the way. Procedures are added to procedures (capacity: its
// size) and counted in procedureCount; classes go to the head of the
// context's class list; #RANGECHECK and #EXPLICIT set the context's bytes.
// The entry is also stored in context->entry and context->entryIsWinMain.
// Errors go to ReportCompileMessage; the list is finished in any case.
Instruction* GenerateCode(const char* fileName, ProgramContext* context, TokenNode* lastToken,
                          std::span<ProcedureRecord*> procedures, int32_t& procedureCount, GeneratedEntry& entry,
                          const CodeGenOptions& options = {});

}  // namespace qob
