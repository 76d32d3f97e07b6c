// bench/runtime/vm/script_call_bench.cpp
// The cost of one script procedure call as a compiled program makes it: a
// counting loop whose body calls a procedure of one parameter, a function
// returning its argument, or a method of an object, next to the same loop
// with an empty body. The difference per pass is what one call costs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/builtin_registry.h"
#include "host/compiler_hooks.h"
#include "host/driver.h"
#include "host/startup.h"
#include "platform/message_box.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

constexpr double kPasses = 100'000;

// One program, compiled once; the form its WINMAIN leaves keeps it alive,
// so that its procedures can be run again and again.
struct CallProgram {
    ProgramContext* application = nullptr;
    Instruction* empty = nullptr;      // the loop alone
    Instruction* procedure = nullptr;  // the loop calling STEP(I$)
    Instruction* function = nullptr;   // the loop calling SAME(I$) as a value
    Instruction* method = nullptr;     // the loop calling C.STEP(I$)
};

CallProgram& TheProgram() {
    static CallProgram program = [] {
        CallProgram made;
        static std::FILE* sink = std::tmpfile();
        platform::SetMessageBoxOutput(sink, sink);
        RegisterBuiltins();
        DeclarePredefinedSymbols("", {});
        InstallCompilerHooks();
        const char* source =
            "#CLASS KEEPER\n"
            "PUBLIC(SEEN$);\n"
            "SEEN$ = 0;\n"
            "PUBLIC PROC STEP(N$) END;\n"
            "#ENDCLASS\n"
            "PROC STEP(N$) END;\n"
            "FUNC SAME(N$) RETURN(N$); END;\n"
            "FORCELINK PROC LOOPEMPTY(COUNT$) LOCAL(I$); FOR(I$, 1, COUNT$) END; END;\n"
            "FORCELINK PROC LOOPPROC(COUNT$) LOCAL(I$); FOR(I$, 1, COUNT$) STEP(I$); END; END;\n"
            "FORCELINK PROC LOOPFUNC(COUNT$) LOCAL(I$, X$); FOR(I$, 1, COUNT$) X$ = SAME(I$); END; END;\n"
            "FORCELINK PROC LOOPMETHOD(COUNT$) LOCAL(I$); #OBJECT KEEPER C$; FOR(I$, 1, COUNT$) C.STEP(I$); END; END;\n"
            "FUNC WINMAIN form$ = newform(\"Bench\", \"BenchForm\", 0); RETURN(1); END;\n";
        // Compiled from a program file, as a user starts a program.
        const std::filesystem::path file = std::filesystem::temp_directory_path() / "qob_call_bench.qob";
        std::ofstream(file) << source;
        made.application = CompileAndRun(file.string().c_str(), nullptr, false, 0);
        if (!made.application) return made;
        made.empty = FindProcedureByName(made.application, "LOOPEMPTY");
        made.procedure = FindProcedureByName(made.application, "LOOPPROC");
        made.function = FindProcedureByName(made.application, "LOOPFUNC");
        made.method = FindProcedureByName(made.application, "LOOPMETHOD");
        return made;
    }();
    return program;
}

// Runs one of the loops (range 0: empty, 1: procedure, 2: function, 3:
// method) for kPasses passes per iteration.
void BM_ScriptProcedureCall(benchmark::State& state) {
    CallProgram& program = TheProgram();
    Instruction* const loops[] = {program.empty, program.procedure, program.function, program.method};
    Instruction* const loop = loops[state.range(0)];
    if (!program.application || !loop) {
        state.SkipWithError("the program did not compile");
        return;
    }
    ProgramContext* const application = program.application;
    for (auto _ : state) {
        PushValueTo(application, nullptr, kPasses, nullptr);
        RunProcedureIn(application, loop);
    }
    state.counters["passes"] = benchmark::Counter(kPasses, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["time_per_pass"] =
        benchmark::Counter(kPasses, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScriptProcedureCall)
    ->ArgName("loop_proc_func_method")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qob
