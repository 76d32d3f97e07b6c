// host/run_builtins.h
// The built-ins that start, evaluate, compile or declare further code while a
// program runs, and the three routines they share.
#pragma once

#include <cstdint>

namespace qob {

struct ProgramContext;

// Runs a program file (resolved as FindCompiledFile does) as an independent
// application with the loader program; without such a file, fileOnly shows
// the "Run error" box, otherwise the argument runs as source text.
ProgramContext* RunFileOrSource(const char* nameOrText, bool fileOnly);

// The same with a parent mode and without the loader program.
ProgramContext* RunFileOrSourceEx(const char* nameOrText, bool fileOnly, int64_t parentMode);

// Compiles without running. A "*.qob" file's stale compiled file is deleted
// first, so a compile with errors leaves none behind.
void CompileFile(const char* nameOrText, bool makeMode);

// While a compile is under way (the loader's UPDATE runs) these refuse:
// they take their arguments and push 0 (nothing for compile and makeexe).
void Builtin_run();        // run(name or text): context handle or 0
void Builtin_runex();      // as run, with range checking during the call
void Builtin_runfile();    // runfile(name): also the RUNFILE opcode, whose text names the file
void Builtin_runfileex();  // as runfile, with range checking during the call
// eval(text, parent mode, end flag). Texts compiled for a child (any mode but
// 0) are expression lists: items separated by ";" or ",", whose values stay
// on the stack, e.g. eval("a$ = 2 * 3; b$ = a$ + 1", -2, 1).
void Builtin_eval();
void Builtin_compile();    // compile(name or text)
void Builtin_makeexe();    // makeexe(program, executable name, kind): a make-mode compile
// import(function, library, export name, argument count, result kind, UTF-16
// flag, call kind): the seven values the program pushed before the call.
void Builtin_import();

}  // namespace qob
