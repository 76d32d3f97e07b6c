// tests/fuzz/module_file_fuzz.cpp
// A tracker module's bytes through the module loader, from memory in place
// and copied; every sample the layout places is read whole, so that the
// sanitizer sees any byte outside the data.

#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "sound/module_loader.h"

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
    if (SoundModuleLoadMemory(module, bytes, size, true) == 0) sum += module.data[module.size - 1];
    return static_cast<int>(sum & 0);
}
