// bench/sound/sound_mix_bench.cpp
// SoundMix of looping voices (8- and 16-bit, mono and stereo sources, steps
// other than 256) into 44,100 Hz 16-bit stereo; "x_real_time" is the audio
// seconds produced per CPU second.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "sound/sound_mixer.h"

namespace qob {
namespace {

constexpr int kOutputRate = 44100;
constexpr size_t kBufferBytes = kOutputRate / 50 * 4;  // 20 ms of 16-bit stereo

// A device that keeps every buffer, so the device thread never mixes and the
// benchmark alone calls SoundMix.
class HoldingBackend final : public platform::AudioBackend {
public:
    bool Open(const platform::AudioFormat&, platform::AudioDoneCallback, void*) override { return true; }
    void Write(const uint8_t*, size_t) override {}
    void Pause() override {}
    void Restart() override {}
    void Reset() override {}
    void Close() override {}
};

// One second of a tone in the sample's own format.
std::vector<uint8_t> ToneBytes(int rate, bool eightBit, bool stereo, double frequency) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < rate; ++i) {
        const double value = std::sin(2 * M_PI * frequency * i / rate);
        for (int channel = 0; channel < (stereo ? 2 : 1); ++channel) {
            if (eightBit) {
                bytes.push_back(static_cast<uint8_t>(128 + std::lround(100 * value)));
            } else {
                const int16_t sample = static_cast<int16_t>(std::lround(20000 * value));
                const auto* raw = reinterpret_cast<const uint8_t*>(&sample);
                bytes.insert(bytes.end(), raw, raw + 2);
            }
        }
    }
    return bytes;
}

void BM_SoundMixLoopingVoices(benchmark::State& state) {
    const int voiceCount = static_cast<int>(state.range(0));
    WaveOutOptions.settleMilliseconds = 0;
    WaveOutOptions.listDevices = [] {
        platform::AudioDeviceList devices;
        devices.push_back(std::make_unique<HoldingBackend>());
        return devices;
    };
    auto mixer = std::make_unique<SoundMixer>();
    if (SoundOpen(*mixer, kOutputRate, 16, true, 1, voiceCount) != 0) return state.SkipWithError("open failed");

    const int rates[] = {11025, 22050, 32000, 48000};
    std::vector<std::vector<uint8_t>> data;
    data.reserve(voiceCount);
    for (int i = 0; i < voiceCount; ++i) {
        const bool eightBit = i % 2 == 0;
        const bool stereo = (i / 2) % 2 == 0;
        const int rate = rates[i % 4];
        data.push_back(ToneBytes(rate, eightBit, stereo, 220 + 30 * i));
        SoundSample sample;
        sample.data = data.back().data();
        sample.eightBit = eightBit;
        sample.stereo = stereo;
        sample.rate = rate;
        sample.length = rate;
        sample.frequency = rate;
        sample.kind = SampleKind::Memory;
        sample.loop = true;
        sample.SetVolume(16);
        sample.SetPan(i * 16 % 256);
        if (SoundPlaySample(*mixer, sample, kPlayFirstFree) < 0) return state.SkipWithError("play failed");
    }
    std::vector<uint8_t> buffer(kBufferBytes);
    for (auto _ : state) {
        SoundMix(*mixer, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["x_real_time"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 0.02, benchmark::Counter::kIsRate);
    SoundClose(*mixer);
}
BENCHMARK(BM_SoundMixLoopingVoices)->Arg(16)->Arg(64);

}  // namespace
}  // namespace qob
