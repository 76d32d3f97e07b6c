// tests/fuzz/module_file_fuzz.cpp
// A tracker module's bytes through the module loader, from memory in place
// and copied; every sample the layout places is read whole, so that the
// sanitizer sees any byte outside the data. A module that loads is then
// played through the mixer with its ticks made short, so that its rows and
// effects run within a few thousand frames.

#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "sound/module_loader.h"
#include "sound/sound_mixer.h"

namespace {

// A device that keeps every buffer: only the fuzzer calls SoundMix.
class HoldingBackend final : public qob::platform::AudioBackend {
public:
    bool Open(const qob::platform::AudioFormat&, qob::platform::AudioDoneCallback, void*) override { return true; }
    void Write(const uint8_t*, size_t) override {}
    void Pause() override {}
    void Restart() override {}
    void Reset() override {}
    void Close() override {}
};

qob::SoundMixer& FuzzMixer() {
    static qob::SoundMixer* mixer = [] {
        using namespace qob;
        WaveOutOptions.settleMilliseconds = 0;
        WaveOutOptions.listDevices = [] {
            platform::AudioDeviceList devices;
            devices.push_back(std::make_unique<HoldingBackend>());
            return devices;
        };
        auto* opened = new SoundMixer;
        (void)SoundOpen(*opened, 8000, 16, false, 1, 8);
        return opened;
    }();
    return *mixer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qob;
    // An exact-size copy, so that a read past the block is seen.
    const std::vector<uint8_t> block(data, data + size);
    const uint8_t* bytes = block.empty() ? data : block.data();
    unsigned sum = 0;
    ModuleLayout layout;
    if (ReadModuleLayout({bytes, size}, layout) == 0) {
        for (const ModuleSampleInfo& sample : layout.samples) {
            for (uint32_t i = 0; i < sample.length; ++i) sum += bytes[sample.offset + i];
            if (sample.loopLength > 0) sum += bytes[sample.offset + sample.loopStart + sample.loopLength - 1];
        }
        for (size_t i = layout.sampleDataStart; i < layout.size; ++i) sum += bytes[i];
    }
    SoundModule module;
    if (SoundModuleLoadMemory(module, bytes, size, true) == 0) {
        sum += module.data[module.size - 1];
        module.SetLoop((size & 1) != 0);
        SoundMixer& mixer = FuzzMixer();
        const int slot = SoundPlayModule(mixer, &module, kPlayFirstFree);
        if (slot >= 0) {
            // Two frames a tick at 8,000 Hz: some 150 rows in 2,048 frames.
            ChannelSetFrequency(mixer.musicSlots[slot], 44100 * 100);
            std::vector<uint8_t> out(4096);
            SoundMix(mixer, out.data(), out.size());
            sum += out[out.size() - 1];
        }
        ClearModule(module);  // stops the slot before the data goes
    }
    return static_cast<int>(sum & 0);
}
