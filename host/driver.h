// host/driver.h
// CompileAndRun: the one road from a program file, a source text or a
// compiled image to a running application, and the flags that steer it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qob {

struct ProgramContext;

// Parent modes: 0 an independent application; -4 a child with its own stack
// and variables; -1, -2 and -3 children sharing the caller's value stack and
// global variables (the caller's current list, its global list, or a new
// list of their own); any other value is the address of the head of a
// variable list the child uses, on the caller's stack.

// While set, a top-level run first runs the loader program "LOAD.QOB" of the
// application directory. Start-up and the run built-ins set it around a call.
extern bool LoaderFlag;

// Compiles the file (or, without one, the source text) or loads its current
// compiled file, then runs MAIN or WINMAIN (a child without either runs from
// its first node). Returns the context while it lives on (a WINMAIN program
// that keeps windows, or a child), else null.
ProgramContext* CompileAndRun(const char* fileName, const char* sourceText, bool compileOnly, int64_t parentMode);

// Loads and runs a compiled file's bytes carried inside the executable at
// executablePath, as an independent application.
ProgramContext* RunCompiledImage(std::span<const uint8_t> image, const char* executablePath);

// True while a compile or load is under way: script code that its progress
// reports run (the loader's UPDATE) must not start another.
[[nodiscard]] bool IsCompileInProgress();

// The compiled file of a program file: the extension of its file-name part
// replaced by ".qoc", or ".qoc" appended when it has none.
[[nodiscard]] std::string CompiledFileNameFor(std::string_view fileName);

// Independent runs whose program did not compile (or load), counted for the
// process's exit status.
[[nodiscard]] int FailedCompileCount();

}  // namespace qob
