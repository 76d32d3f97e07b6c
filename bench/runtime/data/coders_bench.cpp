// bench/runtime/data/coders_bench.cpp
// Speed of the three byte coders each way, on text-like and random data.
#include "runtime/data/coders.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string_view>
#include <vector>

namespace qob {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kInputSize = 1 << 20;

enum class Data { Text, Random };

// Source-like text: words of a small vocabulary, spaces and line ends.
Bytes MakeText() {
    static constexpr std::string_view kWords[] = {
        "PROC", "ENDPROC", "FUNC", "RETURN", "IF", "THEN", "ELSE", "ENDIF", "WHILE",
        "WEND", "FOR", "TO", "NEXT", "x$", "y$", "count$", "name$", "=", "+", "-", "(",
        ")", ",", "print", "sprintf", "\"text\"", "0", "1", "42", "3.14", "window"};
    std::mt19937 random(1);
    Bytes bytes;
    while (bytes.size() < kInputSize) {
        const std::string_view word = kWords[random() % std::size(kWords)];
        bytes.insert(bytes.end(), word.begin(), word.end());
        bytes.push_back(random() % 8 == 0 ? '\n' : ' ');
    }
    bytes.resize(kInputSize);
    return bytes;
}

Bytes MakeRandom() {
    std::mt19937 random(2);
    Bytes bytes(kInputSize);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

const Bytes& Input(Data data) {
    static const Bytes text = MakeText();
    static const Bytes random = MakeRandom();
    return data == Data::Text ? text : random;
}

void BM_Compress(benchmark::State& state, CoderMethod method, Data data) {
    const Bytes& input = Input(data);
    Bytes output(CompressBound(method, input.size()));
    size_t length = 0;
    for (auto _ : state) {
        const CoderResult result = Compress(method, input, output);
        if (!result.Ok())
            state.SkipWithError("compression failed");
        length = result.length;
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
    state.counters["ratio"] = static_cast<double>(length) / static_cast<double>(input.size());
}

void BM_Uncompress(benchmark::State& state, CoderMethod method, Data data) {
    const Bytes& input = Input(data);
    Bytes packed(CompressBound(method, input.size()));
    const CoderResult packedResult = Compress(method, input, packed);
    if (!packedResult.Ok()) {
        state.SkipWithError("compression failed");
        return;
    }
    packed.resize(packedResult.length);
    Bytes output(input.size());
    bool ok = true;
    for (auto _ : state) {
        ok &= Uncompress(method, packed, output).Ok();
        benchmark::DoNotOptimize(output.data());
    }
    if (!ok || output != input)
        state.SkipWithError("round trip failed");
    // Measured on the restored bytes, as compression is.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

BENCHMARK_CAPTURE(BM_Compress, rle_text, CoderMethod::Rle, Data::Text);
BENCHMARK_CAPTURE(BM_Compress, rle_random, CoderMethod::Rle, Data::Random);
BENCHMARK_CAPTURE(BM_Compress, prefix_text, CoderMethod::ShannonFano, Data::Text);
BENCHMARK_CAPTURE(BM_Compress, prefix_random, CoderMethod::ShannonFano, Data::Random);
BENCHMARK_CAPTURE(BM_Compress, lz_text, CoderMethod::Lz, Data::Text);
BENCHMARK_CAPTURE(BM_Compress, lz_random, CoderMethod::Lz, Data::Random);
BENCHMARK_CAPTURE(BM_Uncompress, rle_text, CoderMethod::Rle, Data::Text);
BENCHMARK_CAPTURE(BM_Uncompress, rle_random, CoderMethod::Rle, Data::Random);
BENCHMARK_CAPTURE(BM_Uncompress, prefix_text, CoderMethod::ShannonFano, Data::Text);
BENCHMARK_CAPTURE(BM_Uncompress, prefix_random, CoderMethod::ShannonFano, Data::Random);
BENCHMARK_CAPTURE(BM_Uncompress, lz_text, CoderMethod::Lz, Data::Text);
BENCHMARK_CAPTURE(BM_Uncompress, lz_random, CoderMethod::Lz, Data::Random);

}  // namespace
}  // namespace qob
