// bench/builtins/files/files_bench.cpp
// Loading every member of a 2,000-member package (whole and lazy), crc32 and
// hash method 9 over 10 MB, and readstring over a 10 MB text file.
#include "builtins/checksums/checksum_builtins.h"
#include "builtins/files/stream_builtins.h"
#include "builtins/packages/package_file.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/memory/pool.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace qob {
namespace {

constexpr size_t kTenMegabytes = 10u << 20;
constexpr int kPackageMembers = 2000;

std::string TemporaryPath(const char* name) { return "/tmp/qob_files_bench_" + std::to_string(getpid()) + name; }

// Text lines of 20 to 99 characters, 10 MB in all.
const std::vector<uint8_t>& TenMegabytesOfLines() {
    static const std::vector<uint8_t> bytes = [] {
        std::mt19937 random(7);
        std::vector<uint8_t> text;
        text.reserve(kTenMegabytes);
        while (text.size() < kTenMegabytes) {
            const size_t length = 20 + random() % 80;
            for (size_t i = 0; i < length; ++i) text.push_back(static_cast<uint8_t>('a' + random() % 26));
            text.push_back('\n');
        }
        text.resize(kTenMegabytes);
        return text;
    }();
    return bytes;
}

// A package of 2,000 members of 1 to 4 KiB each, written once.
const std::string& PackagePath() {
    static const std::string path = [] {
        const std::string file = TemporaryPath(".pkg");
        std::remove(file.c_str());
        Package package;
        if (Package::Open(file, "bench key", false, package) != PackageStatus::Ok) return std::string();
        std::mt19937 random(3);
        for (int i = 0; i < kPackageMembers; ++i) {
            std::vector<uint8_t> bytes(1024 + random() % 3072, static_cast<uint8_t>(i));
            package.Add("member" + std::to_string(i) + ".dat", bytes);
        }
        return package.Save(std::nullopt, std::nullopt) ? file : std::string();
    }();
    return path;
}

void BM_LoadEveryPackageMember(benchmark::State& state) {
    const bool lazy = state.range(0) != 0;
    const std::string& path = PackagePath();
    if (path.empty()) return state.SkipWithError("the package could not be written");
    size_t bytes = 0;
    for (auto _ : state) {
        Package package;
        if (Package::Open(path, "bench key", lazy, package) != PackageStatus::Ok)
            return state.SkipWithError("the package did not open");
        for (int i = 0; i < kPackageMembers; ++i) {
            const PackageMember* member = package.Find("member" + std::to_string(i) + ".dat");
            const auto read = member ? package.Read(*member) : std::nullopt;
            if (!read) return state.SkipWithError("a member was not read");
            bytes += read->size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_LoadEveryPackageMember)->Arg(0)->Arg(1)->ArgName("lazy")->Unit(benchmark::kMillisecond);

void BM_Crc32(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = TenMegabytesOfLines();
    for (auto _ : state) benchmark::DoNotOptimize(Crc32NoFinalXor(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond);

void BM_HashMd5(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = TenMegabytesOfLines();
    for (auto _ : state) benchmark::DoNotOptimize(Md5TailNumber(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_HashMd5)->Unit(benchmark::kMillisecond);

// readstring through its handler, on a context of its own; each line's text
// is freed with the call depth's temporaries.
void BM_Readstring(benchmark::State& state) {
    const std::string path = TemporaryPath(".txt");
    const std::vector<uint8_t>& bytes = TenMegabytesOfLines();
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    ProgramContext* context = CreateProgramContext();
    context->kind = kContextIndependent;
    context->quietEnd = 1;
    context->pool = CreatePool(64 * 1024);
    CreateBottomStackEntry(context);
    CurrentContext = context;
    for (auto _ : state) {
        PushValue(path.c_str(), 0, nullptr);
        PushValue("r", 0, nullptr);
        Builtin_fopen();
        const double handle = PopNumber();
        int64_t lines = 0;
        for (;;) {
            PushValue(nullptr, handle, nullptr);
            Builtin_readstring();
            const StackEntry* line = PopStackEntry();
            if (!line->text) break;
            ++lines;
            FreeTrackedDepths(context, 0);
        }
        PushValue(nullptr, handle, nullptr);
        Builtin_fclose();
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    EndProgramContext(context);
    CurrentContext = nullptr;
    std::remove(path.c_str());
}
BENCHMARK(BM_Readstring)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qob
