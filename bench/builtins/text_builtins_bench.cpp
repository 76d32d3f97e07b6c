// Benchmarks of the formatted-output and regular-expression built-ins:
// printf with four conversions, a text built by printf in a loop, and a
// search of a literal pattern over 1 MB beside pos of the same text.
#include "builtins/formatting/format_builtins.h"
#include "builtins/regex/regex_builtins.h"
#include "builtins/texts/text_builtins.h"
#include "platform/memory.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/pool.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace qob {
namespace {

// A context with a local frame, running at call depth 1 so that the
// temporaries of each round can be freed as a procedure's are.
class Program {
public:
    Program() {
        context = CreateProgramContext();
        context->kind = kContextIndependent;
        context->quietEnd = 1;
        context->pool = CreatePool(64 * 1024);
        CreateBottomStackEntry(context);
        CurrentContext = context;
        context->globalHead = AllocateVariableRecord(context, false);
        frame = AllocateVariableRecord(context, false);
        LocalVariableList = frame;
        context->callDepth = 1;
    }
    ~Program() {
        FreeTrackedAllocationsFrom(context, 1);
        FreeVariableChain(context, frame, true);
        FreeVariableList(context, frame);
        LocalVariableList = nullptr;
        RegexFree();
        EndProgramContext(context);
        CurrentContext = nullptr;
    }
    void FreeTemporaries() { FreeTrackedAllocationsFrom(context, 1); }

    ProgramContext* context;
    VariableRecord* frame;
};

// 10^5 calls of printf("%d|%s|%8.3f|%x", ...) per iteration.
void BM_PrintfFourConversions(benchmark::State& state) {
    Program program;
    for (auto _ : state) {
        for (int i = 0; i < 100000; ++i) {
            OpenArgumentFrame(program.context);
            PushValue("%d|%s|%8.3f|%x", 0.0, nullptr);
            PushNumber(i);
            PushValue("text", 0.0, nullptr);
            PushNumber(i * 0.25);
            PushNumber(i);
            Builtin_printf();
            benchmark::DoNotOptimize(PopStackEntry()->text);
            if ((i & 1023) == 0) program.FreeTemporaries();
        }
        program.FreeTemporaries();
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_PrintfFourConversions)->Unit(benchmark::kMillisecond);

// s = printf("%s%d,", s, i) for i below the count: the text grows each call.
void BM_PrintfBuildsAText(benchmark::State& state) {
    Program program;
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const char* text = "";
        for (int i = 0; i < count; ++i) {
            OpenArgumentFrame(program.context);
            PushValue("%s%d,", 0.0, nullptr);
            PushValue(text, 0.0, nullptr);
            PushNumber(i);
            Builtin_printf();
            text = PopStackEntry()->text;
        }
        benchmark::DoNotOptimize(text);
        program.FreeTemporaries();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_PrintfBuildsAText)->Arg(1000)->Unit(benchmark::kMillisecond);

// 1 MB of text with the pattern at its end.
char* MakeHaystack() {
    constexpr size_t kSize = 1 << 20;
    auto* text = static_cast<char*>(platform::AllocateBlock(kSize + 1));
    for (size_t i = 0; i < kSize; ++i) text[i] = static_cast<char>('a' + i % 23);
    std::memcpy(text + kSize - 6, "needle", 6);
    text[kSize] = 0;
    return text;
}

void BM_SearchLiteralOverOneMegabyte(benchmark::State& state) {
    Program program;
    char* haystack = MakeHaystack();
    for (auto _ : state) {
        PushValue("needle", 0.0, nullptr);
        PushValue(haystack, 0.0, nullptr);
        PushValue("START$", 0.0, nullptr);
        PushValue("END$", 0.0, nullptr);
        Builtin_search();
        benchmark::DoNotOptimize(PopStackEntry()->value);
        program.FreeTemporaries();
    }
    platform::FreeBlock(haystack);
    state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_SearchLiteralOverOneMegabyte)->Unit(benchmark::kMillisecond);

void BM_PosOverOneMegabyte(benchmark::State& state) {
    Program program;
    char* haystack = MakeHaystack();
    for (auto _ : state) {
        PushValue("needle", 0.0, nullptr);
        PushValue(haystack, 0.0, nullptr);
        Builtin_pos();
        benchmark::DoNotOptimize(PopStackEntry()->value);
        program.FreeTemporaries();
    }
    platform::FreeBlock(haystack);
    state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_PosOverOneMegabyte)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qob
