// bench/compiler/front_end/preprocessor_bench.cpp
// Speed of the front end's pass over a source text: tokens formed, defines
// expanded and appended to the token list.
#include "compiler/front_end/preprocessor.h"

#include <benchmark/benchmark.h>

#include <string>

#include "compiler/front_end/define_table.h"

namespace qob {
namespace {

// A program of ordinary lines: calls, strings, numbers, comments.
std::string MakeSource(size_t lines, bool withDefines) {
    std::string source;
    if (withDefines) source += "#DEFINE LIMIT 100\n#DEFINE GREETING \"hello\"\n";
    for (size_t i = 0; i < lines; ++i) {
        source += "  total$ = total$ + values$[" + std::to_string(i % 97) + "] * 2.5; // running sum\n";
        source += withDefines ? "  IF (total$ > LIMIT) showmessage(GREETING, \" world\\n\")\n"
                              : "  IF (total$ > 100) showmessage(\"hello\", \" world\\n\")\n";
    }
    return source;
}

void RunPreprocessor(benchmark::State& state, bool withDefines) {
    const std::string source = MakeSource(static_cast<size_t>(state.range(0)), withDefines);
    size_t tokenCount = 0;
    for (auto _ : state) {
        ResetPreprocessor(1);
        TokenNode* last = PreprocessFile(nullptr, source, nullptr, true, 0);
        state.PauseTiming();
        tokenCount = static_cast<size_t>(TokenCountBack(last));
        FreeTokenList(last);
        RemoveDefinesByOwner(kDefineOwnerProgram);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * tokenCount));
}

void BM_PreprocessPlain(benchmark::State& state) { RunPreprocessor(state, false); }
void BM_PreprocessWithDefines(benchmark::State& state) { RunPreprocessor(state, true); }

BENCHMARK(BM_PreprocessPlain)->Arg(100)->Arg(10000);
BENCHMARK(BM_PreprocessWithDefines)->Arg(10000);

}  // namespace
}  // namespace qob
