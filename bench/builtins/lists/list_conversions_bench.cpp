// bench/builtins/lists/list_conversions_bench.cpp
// Benchmarks of texts split into lists and lists joined into texts (1 MB),
// and of arrays of 100,000 doubles turned into lists and back.
#include "builtins/lists/container_items.h"
#include "builtins/lists/list_conversions.h"
#include "builtins/texts/text_splitting.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/pool.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <benchmark/benchmark.h>

#include <string>

namespace qob {
namespace {

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
    }
    ~Program() {
        FreeTrackedAllocations(context);
        FreeVariableChain(context, frame, true);
        FreeVariableList(context, frame);
        LocalVariableList = nullptr;
        EndProgramContext(context);
        CurrentContext = nullptr;
    }
    VariableRecord* Variable(const char* name) { return CreateVariable(frame, name, false); }
    ProgramContext* context;
    VariableRecord* frame;
};

// About 1 MB of words of 1 to 9 letters separated by ",".
std::string CommaText() {
    std::string text;
    for (int i = 0; text.size() < (1 << 20); ++i) {
        text.append(static_cast<size_t>(1 + i % 9), static_cast<char>('a' + i % 26));
        text += ',';
    }
    text.pop_back();
    return text;
}

void BM_StrToList1MB(benchmark::State& state) {
    Program program;
    VariableRecord* list = program.Variable("L$");
    const std::string text = CommaText();
    for (auto _ : state) {
        PushValue(text.c_str(), 0.0, nullptr);
        PushValue(",", 0.0, nullptr);
        PushValue(nullptr, 0.0, list);
        Builtin_strtolist();
        benchmark::DoNotOptimize(PopNumber());
        FreeTrackedAllocations(program.context);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StrToList1MB)->Unit(benchmark::kMillisecond);

void BM_ListToStr1MB(benchmark::State& state) {
    Program program;
    VariableRecord* list = program.Variable("L$");
    const std::string text = CommaText();
    PushValue(text.c_str(), 0.0, nullptr);
    PushValue(",", 0.0, nullptr);
    PushValue(nullptr, 0.0, list);
    Builtin_strtolist();
    (void)PopNumber();
    for (auto _ : state) {
        PushValue(nullptr, 0.0, list);
        PushValue(",", 0.0, nullptr);
        PushValue("", 0.0, nullptr);
        PushValue("", 0.0, nullptr);
        Builtin_listtostr();
        benchmark::DoNotOptimize(PopStackEntry()->text);
        FreeTrackedAllocations(program.context);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ListToStr1MB)->Unit(benchmark::kMillisecond);

constexpr uint32_t kElements = 100000;

void BM_ArrayToList100k(benchmark::State& state) {
    Program program;
    VariableRecord* array = program.Variable("A$");
    VariableRecord* list = program.Variable("L$");
    MakeDoubleArray(array, kElements);
    for (auto _ : state) {
        PushValue(nullptr, 0.0, array);
        PushValue(nullptr, 0.0, list);
        Builtin_arraytolist();
        benchmark::DoNotOptimize(PopNumber());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kElements);
}
BENCHMARK(BM_ArrayToList100k)->Unit(benchmark::kMillisecond);

void BM_ListToArray100k(benchmark::State& state) {
    Program program;
    VariableRecord* array = program.Variable("A$");
    VariableRecord* list = program.Variable("L$");
    MakeDoubleArray(array, kElements);
    PushValue(nullptr, 0.0, array);
    PushValue(nullptr, 0.0, list);
    Builtin_arraytolist();
    (void)PopNumber();
    for (auto _ : state) {
        PushValue(nullptr, 0.0, list);
        PushValue(nullptr, 0.0, array);
        Builtin_listtoarray();
        benchmark::DoNotOptimize(PopNumber());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kElements);
}
BENCHMARK(BM_ListToArray100k)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qob
