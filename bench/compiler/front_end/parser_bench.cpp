// bench/compiler/front_end/parser_bench.cpp
// Speed of the parser alone: a preprocessed token list of a generated program
// to the postfix stream, timed apart from the stages before and after it.
#include <benchmark/benchmark.h>

#include <string>

#include "compiler/class_list.h"
#include "compiler/front_end/preprocessor.h"
#include "compiler/front_end/statement_parser.h"
#include "compiler/front_end/token_list.h"
#include "compiler/procedure_table.h"
#include "runtime/registry/function_table.h"
#include "host/builtin_registry.h"

namespace qob {
namespace {

// procedures functions with the statements of the compile benchmark's program.
std::string MakeProgram(int procedures) {
    std::string source;
    for (int i = 0; i < procedures; ++i) {
        const std::string n = std::to_string(i);
        source += "FUNC F" + n + "(A$, B$)\n LOCAL(X$, Y$, I$);\n X$ = (A$ * 3 + B$) MOD 1000;\n";
        source += " Y$ = (B$ + " + n + ") MOD 997;\n IF(X$ > Y$)\n X$ = X$ - Y$;\n ELSE\n X$ = Y$ - X$ + 7;\n END;\n";
        source += " FOR(I$, 1, 3)\n Y$ = (Y$ * 7 + I$ + X$) MOD 1009;\n END;\n";
        source += " WHILE(X$ > 100)\n X$ = X$ - 100;\n END;\n";
        source += " CASE(X$ MOD 4)\n 0: Y$ = Y$ + 1;\n 1: Y$ = Y$ + 2;\n DEFAULT: Y$ = Y$ + 3;\n END;\n";
        source += " REPEAT\n Y$ = Y$ + 5;\n UNTIL(Y$ MOD 2 == 0);\n";
        source += " IF(X$ == 7 AND Y$ > 10)\n Y$ = Y$ - 10;\n END;\n RETURN((X$ + Y$ * 2) MOD 10007);\nEND;\n";
    }
    source += "PROC MAIN\n r$ = F" + std::to_string(procedures - 1) + "(1, 2);\nEND;\n";
    return source;
}

void BM_Parse(benchmark::State& state) {
    if (FunctionCount() == 0) RegisterBuiltins();
    const std::string source = MakeProgram(static_cast<int>(state.range(0)));
    int64_t tokens = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FreeUnitProcedures();
        FreeUnitClasses();
        ResetPreprocessor(1);
        TokenNode* input = PreprocessFile("big.qob", source, nullptr, true, 0);
        tokens = TokenCountBack(input);
        state.ResumeTiming();

        TokenNode* stream = ParseSource("big.qob", 0, input);

        state.PauseTiming();
        benchmark::DoNotOptimize(stream);
        FreeTokenList(stream);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * tokens);
    state.SetComplexityN(state.range(0));
    FreeUnitProcedures();
    FreeUnitClasses();
}
BENCHMARK(BM_Parse)->RangeMultiplier(4)->Range(64, 1024)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
}  // namespace qob
