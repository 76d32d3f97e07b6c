// bench/sound/module_render_bench.cpp
// Rendering whole modules through SoundMix at 22,050 Hz, 16-bit mono (the
// nearest sample, as the mixer always does): the modules named by
// QOB_BENCH_MODULES (separated by ':'), else the game modules of the
// tecnoballz-data package when it is installed, else a module written here.
// "x_real_time" is the seconds of song rendered per CPU second;
// bench/sound/compare_module_render.sh sets it beside openmpt123's.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "sound/module_loader.h"
#include "sound/sound_mixer.h"

namespace qob {
namespace {

constexpr int kOutputRate = 22050;
constexpr size_t kBufferBytes = kOutputRate / 50 * 2;  // 20 ms of 16-bit mono
constexpr int kLongestSong = 20 * 60 * 50;              // buffers: 20 minutes

class HoldingBackend final : public platform::AudioBackend {
public:
    bool Open(const platform::AudioFormat&, platform::AudioDoneCallback, void*) override { return true; }
    void Write(const uint8_t*, size_t) override {}
    void Pause() override {}
    void Restart() override {}
    void Reset() override {}
    void Close() override {}
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Four tracks, 64 rows of notes with arpeggio, slides and vibrato over a
// looping 512-byte sample.
std::vector<uint8_t> WrittenModule() {
    std::vector<uint8_t> bytes(1084 + 1024 + 512, 0);
    bytes[42] = 1;  // 256 words
    bytes[45] = 48;
    bytes[49] = 255;  // loop of 255 words from 0
    bytes[950] = 1;
    bytes[951] = 127;
    bytes[1080] = 'M', bytes[1081] = '.', bytes[1082] = 'K', bytes[1083] = '.';
    const int periods[] = {428, 381, 339, 320, 285, 254, 226, 214};
    const int effects[] = {0x037, 0x102, 0x202, 0x448, 0xA01, 0x000, 0x647, 0x000};
    for (int row = 0; row < 64; ++row)
        for (int track = 0; track < 4; ++track) {
            uint8_t* cell = &bytes[1084 + (row * 4 + track) * 4];
            const int period = periods[(row + 3 * track) % 8];
            const int effect = effects[(row + track) % 8];
            cell[0] = static_cast<uint8_t>(period >> 8);
            cell[1] = static_cast<uint8_t>(period & 0xFF);
            cell[2] = static_cast<uint8_t>(0x10 | (effect >> 8));
            cell[3] = static_cast<uint8_t>(effect & 0xFF);
        }
    for (int i = 0; i < 512; ++i) bytes[1084 + 1024 + i] = static_cast<uint8_t>((i * 9) & 0xFF);
    return bytes;
}

struct BenchModule {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<BenchModule> Modules() {
    std::vector<BenchModule> modules;
    std::vector<std::string> paths;
    if (const char* named = std::getenv("QOB_BENCH_MODULES")) {
        std::string list = named;
        for (size_t start = 0; start <= list.size();) {
            const size_t end = std::min(list.find(':', start), list.size());
            if (end > start) paths.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    } else {
        std::error_code ignored;
        const std::filesystem::path folder = "/usr/share/games/tecnoballz/musics";
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
            if (entry.path().extension() == ".mod") paths.push_back(entry.path().string());
        std::sort(paths.begin(), paths.end());
    }
    for (const std::string& path : paths) modules.push_back({std::filesystem::path(path).filename().string(), ReadFile(path)});
    if (modules.empty()) modules.push_back({"written", WrittenModule()});
    return modules;
}

void RenderModule(benchmark::State& state, const BenchModule& source) {
    WaveOutOptions.settleMilliseconds = 0;
    WaveOutOptions.listDevices = [] {
        platform::AudioDeviceList devices;
        devices.push_back(std::make_unique<HoldingBackend>());
        return devices;
    };
    auto mixer = std::make_unique<SoundMixer>();
    if (SoundOpen(*mixer, kOutputRate, 16, false, 1, 8) != 0) return state.SkipWithError("open failed");
    SoundModule module;
    if (SoundModuleLoadMemory(module, source.bytes.data(), source.bytes.size(), false) != 0) {
        SoundClose(*mixer);
        return state.SkipWithError("not a module the player reads");
    }
    std::vector<uint8_t> buffer(kBufferBytes);
    int64_t buffers = 0;
    for (auto _ : state) {
        if (SoundPlayModule(*mixer, &module, kPlayFirstFree) != 0) return state.SkipWithError("play failed");
        for (int i = 0; i < kLongestSong && SoundCountPlayingMusic(*mixer) > 0; ++i, ++buffers) {
            SoundMix(*mixer, buffer.data(), buffer.size());
            benchmark::DoNotOptimize(buffer.data());
        }
        SoundStopAllMusic(*mixer);
    }
    state.counters["song_seconds"] = static_cast<double>(buffers) * 0.02 / static_cast<double>(state.iterations());
    state.counters["x_real_time"] = benchmark::Counter(static_cast<double>(buffers) * 0.02, benchmark::Counter::kIsRate);
    ClearModule(module);
    SoundClose(*mixer);
}

const bool kRegistered = [] {
    static const std::vector<BenchModule> modules = Modules();
    for (const BenchModule& module : modules)
        benchmark::RegisterBenchmark(("BM_ModuleRender/" + module.name).c_str(),
                                     [&module](benchmark::State& state) { RenderModule(state, module); })
            ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
}  // namespace qob
