// bench/runtime/vm/vm_bench.cpp
// The machine's cost per node and per call: a 10-million-pass loop of
// hand-built nodes, recursive Fibonacci, and the same calls while many
// tracked allocations of outer depths stay alive.

#include <benchmark/benchmark.h>

#include <string>

#include "platform/memory.h"
#include "runtime/memory/allocation_tracking.h"
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

constexpr int64_t kLoopPasses = 10'000'000;
int64_t gPassesLeft = 0;

// Pushes 1 while passes are left (and counts one down), else 0.
void CountDown() { PushValue(nullptr, gPassesLeft-- > 0 ? 1.0 : 0.0, nullptr); }

void Subtract() {
    const double right = PopNumber();
    const double left = PopNumber();
    PushValue(nullptr, left - right, nullptr);
}
void Add() {
    const double right = PopNumber();
    const double left = PopNumber();
    PushValue(nullptr, left + right, nullptr);
}
void Less() {
    const double right = PopNumber();
    const double left = PopNumber();
    PushValue(nullptr, left < right ? 1.0 : 0.0, nullptr);
}

// A context with one program, built node by node.
class Program {
public:
    Program() {
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
    }
    ~Program() {
        EndProgramContext(context);
        CurrentContext = nullptr;
        LocalVariableList = nullptr;
    }
    Instruction* Emit(Opcode opcode, Handler handler, const char* text = nullptr, double operand = 0.0,
                      Instruction* target = nullptr) {
        cursor = EmitInstruction(cursor, handler, text, operand, target, static_cast<uint32_t>(opcode), nullptr, 0, 0);
        return cursor;
    }

    // WHILE CountDown(): nopCount NOP nodes, PUSHINT, STACKDROP: END.
    Instruction* DispatchLoop(int nopCount, int* nodesPerPass) {
        Instruction* start = Emit(Opcode::STARTPROC, NopHandler, "0000LOOP");
        Instruction* init = Emit(Opcode::INITWHILE, Handle_INITWHILE);
        Emit(Opcode::INTERNALCALL, CountDown);
        Instruction* test = Emit(Opcode::WHILE, ConditionalJumpHandler);
        for (int i = 0; i < nopCount; ++i) Emit(Opcode::INTERNALCALL, NopHandler);
        Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 7.0);
        Emit(Opcode::STACKDROP, Builtin_dropstack);
        Instruction* back = Emit(Opcode::BRANCH, Handle_BRANCH, nullptr, 0.0, init);
        SetJumpTarget(context->pool, test, back);
        Emit(Opcode::ENDLOOP, Handle_ENDLOOP);
        Emit(Opcode::ENDPROC, Handle_ENDPROC);
        *nodesPerPass = 5 + nopCount;
        return start;
    }

    // FIB(N$) = N$ < 2 ? N$ : FIB(N$ - 1) + FIB(N$ - 2), with the fused
    // argument frame steps the optimiser would leave.
    Instruction* Fibonacci() {
        Instruction* start = Emit(Opcode::STARTPROC, NopHandler, "0000FIB(1,1)", 1.0);
        Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "N$");
        Emit(Opcode::PUSHVAR, Handle_PUSHVAR, "N$");
        Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, 2.0);
        Emit(Opcode::INTERNALCALL, Less);
        Instruction* test = Emit(Opcode::IF, ConditionalJumpHandler);
        Emit(Opcode::SAVESP, Builtin___savesp);
        Emit(Opcode::PUSHVAR, Handle_PUSHVAR, "N$");
        Instruction* early = Emit(Opcode::RETURN, Handle_RETURN);
        SetJumpTarget(context->pool, test, early);
        Emit(Opcode::SAVESP, Builtin___savesp);
        for (double minus : {1.0, 2.0}) {
            Emit(Opcode::SAVESP, Builtin___savesp);
            Emit(Opcode::PUSHVAR, Handle_PUSHVAR, "N$");
            Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, minus);
            Emit(Opcode::INTERNALCALL, Subtract);
            Emit(Opcode::CALL, RunProcedure, "FIB(1,1)", 0.0, start);
            Emit(Opcode::DROPFCTSTACK, Builtin___dropfctstack, nullptr, 1.0);
        }
        Emit(Opcode::INTERNALCALL, Add);
        Emit(Opcode::RETURN, Handle_RETURN);
        Emit(Opcode::ENDPROC, Handle_ENDPROC);
        return start;
    }

    double Call(Instruction* procedure, double argument) {
        OpenArgumentFrame(context);
        PushValue(nullptr, argument, nullptr);
        RunProcedureIn(context, procedure);
        DropFunctionStack(1);
        return PopNumber();
    }

    ProgramContext* context = nullptr;
    Instruction* cursor = nullptr;
};

void BM_DispatchLoop(benchmark::State& state) {
    Program program;
    int nodesPerPass = 0;
    Instruction* loop = program.DispatchLoop(static_cast<int>(state.range(0)), &nodesPerPass);
    for (auto _ : state) {
        gPassesLeft = kLoopPasses;
        RunProcedureIn(program.context, loop);
    }
    const double nodes = static_cast<double>(kLoopPasses) * nodesPerPass;
    state.counters["time_per_node"] =
        benchmark::Counter(nodes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DispatchLoop)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);

// fib(n) makes 2 * fib(n + 1) - 1 calls.
int64_t FibonacciCalls(int n) {
    int64_t a = 0, b = 1;
    for (int i = 0; i < n + 1; ++i) {
        const int64_t next = a + b;
        a = b;
        b = next;
    }
    return 2 * a - 1;
}

// Calls per second of recursive Fibonacci; the argument is the number of
// tracked blocks kept alive at the outer depth during the calls.
void BM_FibonacciCalls(benchmark::State& state) {
    Program program;
    Instruction* fibonacci = program.Fibonacci();
    for (int64_t i = 0; i < state.range(0); ++i)
        TrackAllocation(program.context, platform::AllocateBlock(16), 0, kTrackedBlock);
    constexpr int kN = 24;
    for (auto _ : state) benchmark::DoNotOptimize(program.Call(fibonacci, kN));
    state.counters["calls"] = benchmark::Counter(static_cast<double>(FibonacciCalls(kN)),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FibonacciCalls)->Arg(0)->Arg(100'000)->Unit(benchmark::kMillisecond);

// Every call leaves a tracked block (a number formatted as text) to its own
// depth, while many blocks of the outer depth stay alive.
void TextOfTop() { benchmark::DoNotOptimize(StackEntryString(CurrentContext->stackTop)); }

void BM_CallsMakingTemporaries(benchmark::State& state) {
    Program program;
    Instruction* start = program.Emit(Opcode::STARTPROC, NopHandler, "0000TEMP(1,0)");
    program.Emit(Opcode::INTERNALCALL, TextOfTop);
    program.Emit(Opcode::STACKDROP, Builtin_dropstack);
    program.Emit(Opcode::ENDPROC, Handle_ENDPROC);
    for (int64_t i = 0; i < state.range(0); ++i)
        TrackAllocation(program.context, platform::AllocateBlock(16), 0, kTrackedBlock);
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            PushValue(nullptr, i, nullptr);
            RunProcedureIn(program.context, start);
        }
    }
    state.counters["calls"] = benchmark::Counter(1000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CallsMakingTemporaries)->Arg(0)->Arg(100'000);

}  // namespace
}  // namespace qob
