// bench/native/arm_bench.cpp
// Running generated code and calling native functions, each beside the
// bare cost it should stay near, measured in the same run:
// - a loop of our assembler's words, in guest instructions per second,
//   against qemu-arm running the same words as a tiny static program (its
//   start-up cancelled by a run of one pass), by wall time (guest_ips) and
//   by processor time (guest_ips_cpu);
// - a call of a block that only returns against a bare engine start and stop;
// - a routine call from ARM code against a stub hook that only returns;
// - a native call with four numbers against four pops, one indirect call and
//   one push.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unicorn/unicorn.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "compiler/compile_messages.h"
#include "native/arm_cpu.h"
#include "native/asm_routines.h"
#include "native/asm_runtime.h"
#include "native/assembler.h"
#include "native/native_calls.h"
#include "platform/memory.h"
#include "runtime/registry/function_table.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace {

using namespace qob;

constexpr uint32_t kLoopPasses = 20'000'000;
constexpr int kLoopWords = 5;  // add, eor, sub, cmp, bne

uint32_t Assemble(const std::string& source) {
    ResetCompileMessages();
    const AsmResult result = AssembleSource(4096, source, {});
    if (result.failed) return 0;
    MarkArmCodeBlock(result.base, 4096);
    return result.base;
}

std::string LoopSource(uint32_t passes) {
    return ":main mov r0, " + std::to_string(passes) +
           " mov r3, 0 :loop add r1, r0 xor r2, r1 sub r0, 1 cmp r0, r3 jne loop";
}

// The loop's five words as our assembler makes them (they follow the 11-word
// entry, the pool load of the count and the mov r3).
std::vector<uint32_t> LoopWords() {
    const uint32_t base = Assemble(LoopSource(kLoopPasses));
    std::vector<uint32_t> words(kLoopWords);
    std::memcpy(words.data(), reinterpret_cast<const void*>(uintptr_t{base} + 4 * 13), 4 * kLoopWords);
    return words;
}

// Processor time of this thread, and of the children waited for so far: on
// a loaded machine wall time mostly measures the waits for a processor, so
// the two loops are also compared by the processor time they took.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_GeneratedLoop(benchmark::State& state) {
    const uint32_t base = Assemble(LoopSource(kLoopPasses));
    double cpuSeconds = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        benchmark::DoNotOptimize(RunArmCode(base, {0, 0, 0, 0}));
        cpuSeconds += ThreadCpuSeconds() - start;
    }
    const double instructions = double{kLoopPasses} * kLoopWords * double(state.iterations());
    state.counters["guest_ips"] = benchmark::Counter(instructions, benchmark::Counter::kIsRate);
    state.counters["guest_ips_cpu"] = instructions / cpuSeconds;
}
// Wall time, as qemu-arm is timed; at least 2 s of it, since a single pass
// measures mostly the machine's load.
BENCHMARK(BM_GeneratedLoop)->UseRealTime()->MinTime(2)->Unit(benchmark::kMillisecond);

// A static ARM program: the count in r0, the same loop words, then exit.
std::string BuildQemuProgram(const std::vector<uint32_t>& words, uint32_t passes) {
    const std::string dir = "/tmp/qob_arm_bench_" + std::to_string(passes);
    std::system(("mkdir -p " + dir).c_str());
    std::ofstream source(dir + "/loop.s");
    source << ".arm\n.global _start\n_start:\nldr r0, =" << passes << "\nmov r1, #0\nmov r2, #0\nmov r3, #0\n";
    for (uint32_t word : words) source << ".word " << word << "\n";
    source << "mov r7, #1\nmov r0, #0\nsvc #0\n.ltorg\n";
    source.close();
    const std::string build = "arm-linux-gnueabi-as -march=armv4 -EL -o " + dir + "/loop.o " + dir +
                              "/loop.s && arm-linux-gnueabi-ld -static -o " + dir + "/loop " + dir + "/loop.o";
    if (std::system(build.c_str()) != 0) return {};
    return dir + "/loop";
}

struct RunSeconds {
    double wall = -1;
    double cpu = -1;
};

RunSeconds SecondsToRun(const std::string& program) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ChildrenCpuSeconds();
    if (std::system(("qemu-arm " + program).c_str()) != 0) return {};
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            ChildrenCpuSeconds() - cpuStart};
}

void BM_QemuArmSameWords(benchmark::State& state) {
    const std::vector<uint32_t> words = LoopWords();
    const std::string full = BuildQemuProgram(words, kLoopPasses);
    const std::string empty = BuildQemuProgram(words, 1);
    if (full.empty() || empty.empty() || std::system("command -v qemu-arm >/dev/null") != 0) {
        state.SkipWithError("arm-linux-gnueabi-as/ld or qemu-arm missing (scripts/install-deps)");
        return;
    }
    double loopSeconds = 0, loopCpuSeconds = 0;
    for (auto _ : state) {
        const RunSeconds fullRun = SecondsToRun(full), emptyRun = SecondsToRun(empty);
        const double seconds = fullRun.wall - emptyRun.wall;
        loopSeconds += seconds;
        loopCpuSeconds += fullRun.cpu - emptyRun.cpu;
        state.SetIterationTime(seconds);
    }
    const double instructions = double{kLoopPasses} * kLoopWords * double(state.iterations());
    state.counters["guest_ips"] = instructions / loopSeconds;
    state.counters["guest_ips_cpu"] = instructions / loopCpuSeconds;
}
BENCHMARK(BM_QemuArmSameWords)->UseManualTime()->MinTime(2)->Unit(benchmark::kMillisecond);

// callasm's run of a block that only returns (entry sequence and return),
// against the bare engine start and stop of the same block.
void BM_CallBlockThatReturns(benchmark::State& state) {
    const uint32_t base = Assemble(":main");
    for (auto _ : state) benchmark::DoNotOptimize(RunAsmBlock(base));
}
BENCHMARK(BM_CallBlockThatReturns);

// The engine's own part of the above: no routine dispatcher or debug frames.
void BM_RunArmCodeThatReturns(benchmark::State& state) {
    const uint32_t base = Assemble(":main");
    for (auto _ : state) benchmark::DoNotOptimize(RunArmCode(base, {0, 0, 0, 0}));
}
BENCHMARK(BM_RunArmCodeThatReturns);

void BM_BareEngineStartStop(benchmark::State& state) {
    const uint32_t base = Assemble(":main");
    uc_engine* uc = nullptr;
    uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc);
    uc_ctl_set_cpu_model(uc, UC_CPU_ARM_SA1110);
    uc_mem_map_ptr(uc, base, 4096, UC_PROT_READ | UC_PROT_EXEC, reinterpret_cast<void*>(uintptr_t{base}));
    void* stackBlock = platform::AllocateZeroedBlock(3 * 4096);
    const auto stackPage = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(stackBlock) + 4095) & ~uintptr_t{4095});
    uc_mem_map_ptr(uc, stackPage, 8192, UC_PROT_READ | UC_PROT_WRITE, reinterpret_cast<void*>(uintptr_t{stackPage}));
    const uint32_t stop = 0x3000;
    uc_mem_map(uc, stop, 4096, UC_PROT_READ | UC_PROT_EXEC);
    for (auto _ : state) {
        const uint32_t sp = stackPage + 8192;
        uc_reg_write(uc, UC_ARM_REG_SP, &sp);
        uc_reg_write(uc, UC_ARM_REG_LR, &stop);
        benchmark::DoNotOptimize(uc_emu_start(uc, base, stop, 0, 0));
    }
    uc_close(uc);
    platform::FreeBlock(stackBlock);
}
BENCHMARK(BM_BareEngineStartStop);

// A loop of routine calls from ARM code: r3 holds the slot, r0 the passes.
// stmfd sp!, {lr} / mov r4, r0 / loop: mov lr, pc; mov pc, r3; subs r4, r4, #1; bne loop / ldmfd sp!, {pc}
const std::vector<uint32_t> kCallLoop = {0xE92D4000u, 0xE1A04000u, 0xE1A0E00Fu, 0xE1A0F003u,
                                         0xE2544001u, 0x1AFFFFFBu, 0xE8BD8000u};
constexpr uint32_t kCalls = 100'000;

uint32_t PlaceWords(const std::vector<uint32_t>& words) {
    static const uint32_t base = [] {
        ResetCompileMessages();
        const AsmResult result = AssembleSource(4096, ":main", {});
        return result.base;
    }();
    UnmarkArmCodeBlock(base);
    std::memcpy(reinterpret_cast<void*>(uintptr_t{base}), words.data(), words.size() * 4);
    MarkArmCodeBlock(base, 4096);
    return base;
}

void BM_RoutineCallFromArm(benchmark::State& state) {
    const uint32_t base = PlaceWords(kCallLoop);
    SetArmRoutineDispatcher(DispatchAsmRoutine);
    const uint32_t slot = AsmRoutineSlotAddress(AsmRoutine::AsmShiftLeft);
    for (auto _ : state) benchmark::DoNotOptimize(RunArmCode(base, {kCalls, 1, 0, slot}));
    state.SetItemsProcessed(state.iterations() * kCalls);
}
BENCHMARK(BM_RoutineCallFromArm)->Unit(benchmark::kMillisecond);

void BM_StubHookThatOnlyReturns(benchmark::State& state) {
    const uint32_t base = PlaceWords(kCallLoop);
    SetArmRoutineDispatcher([](ArmCall&) {});
    const uint32_t slot = AsmRoutineSlotAddress(AsmRoutine::AsmShiftLeft);
    for (auto _ : state) benchmark::DoNotOptimize(RunArmCode(base, {kCalls, 1, 0, slot}));
    state.SetItemsProcessed(state.iterations() * kCalls);
}
BENCHMARK(BM_StubHookThatOnlyReturns)->Unit(benchmark::kMillisecond);

// Native calls: a program context and a declared function of four words.
extern "C" [[gnu::noinline]] intptr_t AddFour(intptr_t a, intptr_t b, intptr_t c, intptr_t d) { return a + b + c + d; }

struct CallSetup {
    CallSetup() {
        context = CreateProgramContext();
        context->kind = kContextIndependent;
        CreateBottomStackEntry(context);
        CurrentContext = context;
        index = DeclareDllFunction("BenchAddFour", "AddFour", "none.dll", 4, true, false, true);
        FunctionRecordAt(index)->functionEntry = reinterpret_cast<void*>(&AddFour);
    }
    ProgramContext* context;
    int index;
};

CallSetup& Setup() {
    static CallSetup setup;
    return setup;
}

void BM_NativeCallFourNumbers(benchmark::State& state) {
    CallSetup& setup = Setup();
    for (auto _ : state) {
        for (int i = 1; i <= 4; ++i) PushValue(nullptr, i, nullptr, 0);
        CallNativeFunction(setup.index, 4, true);
        benchmark::DoNotOptimize(PopNumber());
    }
}
BENCHMARK(BM_NativeCallFourNumbers);

void BM_FourPopsIndirectCallPush(benchmark::State& state) {
    Setup();
    intptr_t (*volatile function)(intptr_t, intptr_t, intptr_t, intptr_t) = AddFour;
    for (auto _ : state) {
        for (int i = 1; i <= 4; ++i) PushValue(nullptr, i, nullptr, 0);
        const auto d = static_cast<intptr_t>(PopNumber());
        const auto c = static_cast<intptr_t>(PopNumber());
        const auto b = static_cast<intptr_t>(PopNumber());
        const auto a = static_cast<intptr_t>(PopNumber());
        PushValue(nullptr, static_cast<double>(static_cast<int32_t>(function(a, b, c, d))), nullptr, 0);
        benchmark::DoNotOptimize(PopNumber());
    }
}
BENCHMARK(BM_FourPopsIndirectCallPush);

}  // namespace
