// bench/platform/memory_bench.cpp
// Speed of the low-memory allocator against the C library's, and of the
// block-size query that guards every copy.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "platform/memory.h"

namespace {

using namespace qob::platform;

// One allocation and its release, of a fixed size.
void BM_AllocateFree(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* block = AllocateBlock(size);
        benchmark::DoNotOptimize(block);
        FreeBlock(block);
    }
}
BENCHMARK(BM_AllocateFree)->Arg(16)->Arg(100)->Arg(4000)->Arg(100000);

void BM_MallocFree(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* block = std::malloc(size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(100)->Arg(4000)->Arg(100000);

// A working set of 4096 blocks of mixed small sizes, one replaced per step,
// as texts of a running program come and go.
template <void* (*Allocate)(size_t), void (*Release)(void*)>
void ChurnMixedSizes(benchmark::State& state) {
    std::mt19937 random(7);
    std::vector<void*> live(4096);
    for (void*& block : live) block = Allocate(random() % 512);
    for (auto _ : state) {
        void*& slot = live[random() % live.size()];
        Release(slot);
        slot = Allocate(random() % 512);
        benchmark::DoNotOptimize(slot);
    }
    for (void* block : live) Release(block);
}
void* OurAllocate(size_t size) { return AllocateBlock(size); }
void OurRelease(void* block) { FreeBlock(block); }
void BM_ChurnMixedSizes(benchmark::State& state) { ChurnMixedSizes<OurAllocate, OurRelease>(state); }
void BM_ChurnMixedSizesMalloc(benchmark::State& state) { ChurnMixedSizes<std::malloc, std::free>(state); }
BENCHMARK(BM_ChurnMixedSizes);
BENCHMARK(BM_ChurnMixedSizesMalloc);

void BM_GetBlockSize(benchmark::State& state) {
    void* block = AllocateBlock(100);
    for (auto _ : state) benchmark::DoNotOptimize(GetBlockSize(block));
    FreeBlock(block);
}
BENCHMARK(BM_GetBlockSize);

void BM_GetBlockSizeUnknown(benchmark::State& state) {
    int onStack = 0;
    for (auto _ : state) benchmark::DoNotOptimize(GetBlockSize(&onStack));
}
BENCHMARK(BM_GetBlockSizeUnknown);

// A context's private heap: made, filled with 1000 records, freed whole.
void BM_HeapLifetime(benchmark::State& state) {
    for (auto _ : state) {
        HeapHandle heap = HeapCreate();
        for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(HeapAlloc(heap, HEAP_ZERO_MEMORY, 40));
        HeapDestroy(heap);
    }
}
BENCHMARK(BM_HeapLifetime);

}  // namespace
