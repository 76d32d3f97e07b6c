// bench/sound/sample_decode_bench.cpp
// Loading long sounds: MS ADPCM decoded at load and Ogg Vorbis decoded whole,
// beside the same decodes by ffmpeg and oggdec. A peer's time is its time on
// the long file minus its time on a file of one block, which cancels its
// start-up. Times are processor time (ours in this process, the peers' in
// their child processes), so that other load on the machine does not count;
// "x_real_time" is the audio seconds decoded per processor second.

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sound/sound_sample.h"

namespace qob {
namespace {

constexpr int kRate = 44100;
constexpr int kLongSeconds = 60;

struct Files {
    std::string folder;
    std::string adpcmLong, adpcmShort, oggLong, oggShort;
    std::string adpcmBytes, oggBytes;  // the long files' content
    bool ready = false;
};

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Stereo sound of noise and a sweep, made once by sox, ffmpeg and oggenc.
const Files& TestFiles() {
    static Files files = [] {
        Files f;
        char name[] = "/tmp/qob-sound-bench-XXXXXX";
        if (!mkdtemp(name)) return f;
        f.folder = name;
        auto make = [&f](const std::string& stem, double seconds) {
            const std::string pcm = f.folder + "/" + stem + "-pcm.wav";
            const std::string synth = "sox -n -r " + std::to_string(kRate) + " -c 2 -b 16 " + pcm + " synth " +
                                      std::to_string(seconds) + " sine 100-8000 pinknoise vol 0.8";
            return Run(synth) && Run("ffmpeg -y -i " + pcm + " -c:a adpcm_ms " + f.folder + "/" + stem + "-adpcm.wav") &&
                   Run("oggenc -Q -o " + f.folder + "/" + stem + ".ogg " + pcm);
        };
        if (!make("long", kLongSeconds) || !make("short", 0.01)) return f;
        f.adpcmLong = f.folder + "/long-adpcm.wav";
        f.adpcmShort = f.folder + "/short-adpcm.wav";
        f.oggLong = f.folder + "/long.ogg";
        f.oggShort = f.folder + "/short.ogg";
        f.adpcmBytes = ReadAll(f.adpcmLong);
        f.oggBytes = ReadAll(f.oggLong);
        f.ready = true;
        return f;
    }();
    return files;
}

struct RemoveFiles {
    ~RemoveFiles() {
        std::error_code ignored;
        if (!TestFiles().folder.empty()) std::filesystem::remove_all(TestFiles().folder, ignored);
    }
} removeFiles;

void Load(benchmark::State& state, const std::string& bytes, int flags) {
    int64_t frames = 0;
    for (auto _ : state) {
        SoundSample sample;
        if (SoundSampleLoadMemory(sample, bytes.data(), bytes.size(), flags) != 0) {
            state.SkipWithError("load failed");
            return;
        }
        frames = sample.length;
        benchmark::DoNotOptimize(sample.data);
    }
    state.counters["x_real_time"] =
        benchmark::Counter(static_cast<double>(frames) / kRate, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_AdpcmLoad(benchmark::State& state) {
    if (!TestFiles().ready) return state.SkipWithError("sox, ffmpeg and oggenc are needed");
    Load(state, TestFiles().adpcmBytes, 0);
}
BENCHMARK(BM_AdpcmLoad)->Unit(benchmark::kMillisecond);

void BM_OggDecodeWhole(benchmark::State& state) {
    if (!TestFiles().ready) return state.SkipWithError("sox, ffmpeg and oggenc are needed");
    Load(state, TestFiles().oggBytes, kLoadDecodeWhole);
}
BENCHMARK(BM_OggDecodeWhole)->Unit(benchmark::kMillisecond);

double ChildSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The processor time of a command and its children.
double Seconds(const std::string& command) {
    const double start = ChildSeconds();
    Run(command);
    return ChildSeconds() - start;
}

// A peer's decode: the long file's time minus the short file's.
void Peer(benchmark::State& state, const std::string& longCommand, const std::string& shortCommand) {
    for (auto _ : state) state.SetIterationTime(std::max(0.0, Seconds(longCommand) - Seconds(shortCommand)));
    state.counters["x_real_time"] =
        benchmark::Counter(kLongSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_AdpcmFfmpeg(benchmark::State& state) {
    if (!TestFiles().ready) return state.SkipWithError("sox, ffmpeg and oggenc are needed");
    const auto command = [](const std::string& file) { return "ffmpeg -v quiet -threads 1 -i " + file + " -f null -"; };
    Peer(state, command(TestFiles().adpcmLong), command(TestFiles().adpcmShort));
}
BENCHMARK(BM_AdpcmFfmpeg)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_OggOggdec(benchmark::State& state) {
    if (!TestFiles().ready) return state.SkipWithError("sox, ffmpeg and oggenc are needed");
    const auto command = [](const std::string& file) { return "oggdec -Q -b 16 -o /dev/null " + file; };
    Peer(state, command(TestFiles().oggLong), command(TestFiles().oggShort));
}
BENCHMARK(BM_OggOggdec)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qob
