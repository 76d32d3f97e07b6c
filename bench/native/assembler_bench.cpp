// bench/native/assembler_bench.cpp
// Assembly speed on a generated program of 10,000+ statements (functions,
// local labels, locals, branches, 1,000 distinct constants) against GNU as
// on the same program in its syntax, whose start-up is cancelled by timing
// it on an empty file too. Both report lines (statements) per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

#include "compiler/compile_messages.h"
#include "compiler/front_end/preprocessor.h"
#include "native/assembler.h"

namespace {

constexpr int kFunctions = 100;
constexpr int kLoopsPerFunction = 10;  // each loop: 10 statements
constexpr int kConstants = 1000;

struct Program {
    std::string ours;
    std::string gnu;
    int statements = 0;
};

void Append(std::string& out, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) out += part;
}

// Function f, loop l: constants are 0x12340001 + k, none of which fits
// the rotated form, so each is a pool word of its own.
Program Generate() {
    Program program;
    int constant = 0;
    auto next = [&constant] { return std::to_string(0x12340001 + (constant++ % kConstants)); };
    for (int f = 0; f < kFunctions; ++f) {
        std::string name = "f";
        name += std::to_string(f);
        Append(program.ours, {"!", name, "(a, b)\nvar x, y\nmov x, a\n"});
        Append(program.gnu, {name, ":\nstmfd sp!, {r12, lr}\nmov r12, sp\nsub sp, r12, #8\nldr r10, [r12, #12]\nstr r10, [r12, #-4]\n"});
        program.statements += 3;
        for (int l = 0; l < kLoopsPerFunction; ++l) {
            std::string label = "l";
            label += std::to_string(l);
            const std::string c1 = next();
            const std::string c2 = next();
            Append(program.ours, {":", label, "\nadd r0, ", c1, "\nsub r1, 3\nmov r2, [r1 + 8]\nmov [sf - 8], r2\nxor r3, ",
                                  c2, "\nmov y, r3\nand r0, 255\ncmp r0, r1\njne ", label, "\njmp ", label, "\n"});
            std::string g;
            Append(g, {name, "_", label});
            Append(program.gnu, {g, ":\nldr r8, =", c1, "\nadd r0, r0, r8\nsub r1, r1, #3\nldr r2, [r1, #8]\nstr r2, [r12, #-8]\n",
                                 "ldr r8, =", c2, "\neor r3, r3, r8\nstr r3, [r12, #-8]\nand r0, r0, #255\ncmp r0, r1\nbne ", g,
                                 "\nb ", g, "\n"});
            program.statements += 10;
        }
        program.ours += "ret\n";
        program.gnu += "mov sp, r12\nldmfd sp!, {r12, pc}\n.ltorg\n";
        program.statements += 1;
    }
    program.ours += ":main\njsr f0(r0, r1)\n";
    program.gnu += "main:\nstmfd sp!, {r0}\nstmfd sp!, {r1}\nmov lr, pc\nbl f0\nadd sp, sp, #8\n";
    program.statements += 1;
    return program;
}

const Program& TheProgram() {
    static const Program program = Generate();
    return program;
}

void BM_AssembleOurs(benchmark::State& state) {
    const Program& program = TheProgram();
    for (auto _ : state) {
        qob::ResetCompileMessages();
        qob::ResetPreprocessor(1);
        const qob::AsmResult result = qob::AssembleSource(1 << 22, program.ours, {});
        if (result.failed) state.SkipWithError(qob::GetCompileMessageState().compileErrors.c_str());
        qob::FreeAsmBlock(result.base);
    }
    state.counters["lines/s"] = benchmark::Counter(program.statements, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AssembleOurs)->UseRealTime()->Unit(benchmark::kMillisecond);  // wall time, as GNU as is timed

double TimeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    return status == 0 ? std::chrono::duration<double>(end - start).count() : -1;
}

// Manual time: as's time on the program minus its time on an empty file.
void BM_AssembleGnuAs(benchmark::State& state) {
    if (std::system("command -v arm-linux-gnueabi-as >/dev/null 2>&1") != 0) {
        state.SkipWithError("arm-linux-gnueabi-as not found (binutils-arm-linux-gnueabi)");
        return;
    }
    const Program& program = TheProgram();
    const std::string source = "/tmp/qob_asm_bench.s";
    const std::string empty = "/tmp/qob_asm_bench_empty.s";
    std::ofstream(source) << ".arm\n.text\n" << program.gnu;
    std::ofstream(empty) << ".arm\n.text\n";
    const std::string as = "arm-linux-gnueabi-as -march=armv4 -EL -o /dev/null ";
    for (auto _ : state) {
        const double whole = TimeCommand(as + source);
        const double startUp = TimeCommand(as + empty);
        if (whole < 0 || startUp < 0) {
            state.SkipWithError("arm-linux-gnueabi-as failed on the generated program");
            return;
        }
        state.SetIterationTime(std::max(whole - startUp, 1e-9));
    }
    std::remove(source.c_str());
    std::remove(empty.c_str());
    state.counters["lines/s"] = benchmark::Counter(program.statements, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AssembleGnuAs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
