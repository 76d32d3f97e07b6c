// bench/runtime/data/hash_bench.cpp
// Speed of HashName, the hash behind every symbol lookup, over name-sized
// and longer texts.
#include "runtime/data/hash.h"

#include <benchmark/benchmark.h>

#include <string>

namespace qob {
namespace {

void BM_HashName(benchmark::State& state) {
    const size_t length = static_cast<size_t>(state.range(0));
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text.push_back(static_cast<char>('A' + i % 26));
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        benchmark::DoNotOptimize(HashName(text.data(), text.size()));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

// Variable and procedure names are mostly 2 to 16 characters.
BENCHMARK(BM_HashName)->Arg(2)->Arg(8)->Arg(16)->Arg(64)->Arg(4096);

}  // namespace
}  // namespace qob
