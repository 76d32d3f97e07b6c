// bench/compiler/back_end/backend_bench.cpp
// Speed of the back end on programs of growing size: the linker, the code
// generator and the optimiser, timed apart from the front end. The fitted
// complexity shows whether a stage stays linear in the program's size.
#include <benchmark/benchmark.h>

#include <string>

#include "compiler/back_end/code_generator.h"
#include "compiler/back_end/linker.h"
#include "compiler/class_list.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/front_end/statement_parser.h"
#include "compiler/front_end/token_list.h"
#include "compiler/procedure_table.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "host/builtin_registry.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/procedure_lookup.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

// procedures functions, each with every block statement, each calling the
// one before it (so the linker keeps them all), and a quarter as many procedures
// that nothing calls (so it deletes them).
std::string MakeProgram(int procedures) {
    std::string source;
    for (int i = 0; i < procedures; ++i) {
        const std::string n = std::to_string(i);
        source += "FUNC F" + n + "(A$, B$)\n LOCAL(X$, I$);\n X$ = A$ * 3 + B$ - " + n + ";\n";
        source += " IF (X$ > 10) X$ = X$ - 1; ELSE IF (X$ < 0) X$ = 0; ELSE X$ += 2; END;\n";
        source += " FOR (I$, 1, 3) X$ = X$ + I$; END;\n WHILE (X$ > 100) X$--; IF (X$ == 50) BREAK; END; END;\n";
        source += " CASE (X$)\n 1, 2: X$ = 5;\n DEFAULT: X$ = 6;\n END;\n";
        source += " TRY\n X$ = X$ / 2;\n EXCEPT\n X$ = 0;\n END;\n";
        source += i > 0 ? " RETURN(X$ + F" + std::to_string(i - 1) + "(A$, 1));\n" : " RETURN(X$);\n";
        source += "END;\n";
        if (i % 4 == 0) source += "PROC UNUSED" + n + "\n y$ = 1;\nEND;\n";
    }
    source += "PROC MAIN\n r$ = F" + std::to_string(procedures - 1) + "(1, 2);\nEND;\n";
    return source;
}

// Which stages a run times: none (one walk over the parsed stream, the
// floor every stage pays per token), the linker, the generator, the optimiser.
enum class Stages { Walk, Link, LinkAndGenerate, All };

void RunBackEnd(benchmark::State& state, Stages stages) {
    if (FunctionCount() == 0) RegisterBuiltins();
    const int procedures = static_cast<int>(state.range(0));
    const std::string source = MakeProgram(procedures);
    int64_t nodes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FreeUnitProcedures();
        FreeUnitClasses();
        ResetPreprocessor(1);
        TokenNode* stream = ParseSource("big.qob", 0, PreprocessFile("big.qob", source, nullptr, true, 0));
        ProgramContext* context = CreateProgramContext();
        context->ownsClassRecords = 1;
        context->pool = CreatePool(0x80000);
        CurrentCompilerPool = context->pool;
        state.ResumeTiming();

        if (stages == Stages::Walk) benchmark::DoNotOptimize(TokenListFirst(stream));
        else stream = LinkProgram("big.qob", stream);
        if (stages == Stages::LinkAndGenerate || stages == Stages::All) {
            GeneratedEntry entry;
            CodeGenOptions options;
            options.optimize = stages == Stages::All;
            context->instructions = GenerateCode("big.qob", context, stream, context->procedures,
                                                 context->procedureCount, entry, options);
        }

        state.PauseTiming();
        if (stages == Stages::Walk || stages == Stages::Link) FreeTokenList(stream);
        nodes = RecordListCount(context->instructions);
        EndProgramContext(context);
        CurrentCompilerPool = nullptr;
        state.ResumeTiming();
    }
    state.SetComplexityN(procedures);
    state.counters["nodes"] = static_cast<double>(nodes);
}

void BM_WalkStream(benchmark::State& state) { RunBackEnd(state, Stages::Walk); }
void BM_Link(benchmark::State& state) { RunBackEnd(state, Stages::Link); }
void BM_LinkGenerate(benchmark::State& state) { RunBackEnd(state, Stages::LinkAndGenerate); }
void BM_LinkGenerateOptimize(benchmark::State& state) { RunBackEnd(state, Stages::All); }

BENCHMARK(BM_WalkStream)->RangeMultiplier(2)->Range(256, 2048)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_Link)->RangeMultiplier(2)->Range(256, 2048)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_LinkGenerate)->RangeMultiplier(2)->Range(256, 2048)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_LinkGenerateOptimize)->RangeMultiplier(2)->Range(256, 2048)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
}  // namespace qob
