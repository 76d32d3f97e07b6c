// bench/builtins/structures/element_access_bench.cpp
// Element access as array loops do it: 10^6 reads and writes of a dim
// array through OFFSET2 (indexes in a frame) and OFFSET2_2 (a constant
// index), field access of an array of structures through OFFSET2_1, and
// peek/poke in a loop; each reports how often the node's variable cache hit.

#include <benchmark/benchmark.h>

#include "builtins/memory/raw_memory.h"
#include "builtins/operators/operator_values.h"
#include "builtins/structures/element_access.h"
#include "builtins/structures/structure_builtins.h"
#include "runtime/memory/pool.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

constexpr int64_t kAccesses = 1'000'000;
constexpr int kElements = 1000;

// A context with an array A$ of kElements doubles and an array of
// structures P$ (fields X, -8 and N), and nodes naming them.
class Fixture {
public:
    Fixture() {
        context = CreateProgramContext();
        context->kind = kContextIndependent;
        context->quietEnd = 1;
        context->pool = CreatePool(1 << 20);
        CreateBottomStackEntry(context);
        context->globalHead = AllocateVariableRecord(context, false);
        CurrentContext = context;
        LocalVariableList = context->globalHead;
        CurrentCompilerPool = context->pool;
        cursor = EmitInstruction(nullptr, NopHandler, "bench", 0, nullptr, 0, nullptr, 0, 0);
        context->instructions = cursor;
        Run(Builtin_dim, {"A$"}, {kElements});
        OpenArgumentFrame(context);
        PushValue("P$", 0.0, nullptr);
        PushValue("X", 0.0, nullptr);
        PushValue(nullptr, -8, nullptr);
        PushValue("N", 0.0, nullptr);
        Builtin_struct();
        Run(Builtin_tdim, {"P$"}, {kElements});
    }
    ~Fixture() {
        EndProgramContext(context);
        CurrentContext = nullptr;
        LocalVariableList = nullptr;
    }
    // A framed call with texts then numbers as its arguments.
    void Run(Handler handler, std::initializer_list<const char*> texts, std::initializer_list<double> numbers) {
        OpenArgumentFrame(context);
        for (const char* text : texts) PushValue(text, 0.0, nullptr);
        for (double number : numbers) PushValue(nullptr, number, nullptr);
        handler();
    }
    Instruction* Node(Opcode opcode, Handler handler, const char* name, double operand = 0.0) {
        cursor = EmitInstruction(cursor, handler, name, operand, nullptr, static_cast<uint32_t>(opcode), nullptr, 0, 0);
        AllocateInstructionExtra(context->pool, cursor);
        return cursor;
    }
    ProgramContext* context = nullptr;
    Instruction* cursor = nullptr;
};

bool CacheInForce(const Instruction* node) { return node->extra && IsCachedListInForce(node->extra->cachedList); }

void Report(benchmark::State& state, int64_t hits) {
    state.counters["accesses"] = benchmark::Counter(static_cast<double>(kAccesses), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["cache_hits"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
}

// Reads and writes through the entry an access leaves, as "=" does.
void ReadOrWrite(bool write, double value) {
    const StackEntry* entry = PopStackEntry();
    if (write) SetVariableValue(entry->variable, nullptr, value, EntryField(*entry), 0);
    else benchmark::DoNotOptimize(entry->value);
}

void BM_Offset2Frame(benchmark::State& state) {
    Fixture fixture;
    Instruction* node = fixture.Node(Opcode::OFFSET2, Handle_OFFSET2, "A$");
    const bool write = state.range(0) != 0;
    int64_t hits = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < kAccesses; ++i) {
            CurrentInstruction = node;
            hits += CacheInForce(node);
            OpenArgumentFrame(fixture.context);
            PushValue(nullptr, static_cast<double>(i % kElements), nullptr);
            Handle_OFFSET2();
            ReadOrWrite(write, 1.0);
        }
    }
    Report(state, hits);
}
BENCHMARK(BM_Offset2Frame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Offset2Constant(benchmark::State& state) {
    Fixture fixture;
    Instruction* node = fixture.Node(Opcode::OFFSET2_2, Handle_OFFSET2_2, "A$", 17.0);
    const bool write = state.range(0) != 0;
    int64_t hits = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < kAccesses; ++i) {
            CurrentInstruction = node;
            hits += CacheInForce(node);
            Handle_OFFSET2_2();
            ReadOrWrite(write, 2.0);
        }
    }
    Report(state, hits);
}
BENCHMARK(BM_Offset2Constant)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FieldOffset2One(benchmark::State& state) {
    Fixture fixture;
    Instruction* node = fixture.Node(Opcode::OFFSET2_1, Handle_OFFSET2_1, "P.X$");
    const bool write = state.range(0) != 0;
    int64_t hits = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < kAccesses; ++i) {
            CurrentInstruction = node;
            hits += CacheInForce(node);
            PushValue(nullptr, static_cast<double>(i % kElements), nullptr);
            Handle_OFFSET2_1();
            ReadOrWrite(write, 3.0);
        }
    }
    Report(state, hits);
}
BENCHMARK(BM_FieldOffset2One)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PeekPoke(benchmark::State& state) {
    Fixture fixture;
    CurrentContext = fixture.context;
    OpenArgumentFrame(fixture.context);
    PushValue(nullptr, 1024, nullptr);
    Builtin_malloc();
    const double block = PopNumber();
    for (auto _ : state) {
        for (int64_t i = 0; i < kAccesses; ++i) {
            const double address = block + static_cast<double>((i * 8) % 1024);
            PushValue(nullptr, address, nullptr);
            PushValue(nullptr, static_cast<double>(i), nullptr);
            PushValue(nullptr, -4, nullptr);
            Builtin_poke();
            PushValue(nullptr, address, nullptr);
            PushValue(nullptr, -4, nullptr);
            Builtin_peek();
            benchmark::DoNotOptimize(PopNumber());
        }
    }
    state.counters["accesses"] = benchmark::Counter(static_cast<double>(2 * kAccesses), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PeekPoke)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qob
