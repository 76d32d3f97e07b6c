// sound/module_loader.cpp
// Reading a tracker module's layout and loading modules. Every size the
// header gives is held against the bytes present, so that neither the loader
// nor the device thread reads past a module's data.
#include "sound/module_loader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "platform/resources.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"
#include "sound/sound_stream.h"

namespace qob {
namespace {

constexpr size_t kSampleHeaders = 20;   // the first sample header
constexpr size_t kSampleHeaderBytes = 30;
constexpr size_t kSongLengthAt = 950;
constexpr size_t kRestartOrderAt = 951;
constexpr size_t kOrdersAt = 952;
constexpr size_t kTagAt = 1080;
constexpr size_t kCellBytes = 4;

inline uint32_t ReadBigEndian16(const uint8_t* p) { return static_cast<uint32_t>(p[0] << 8 | p[1]); }
inline bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

int HighestOrder(const uint8_t* orders, int count) {
    int highest = 0;
    for (int i = 0; i < count; ++i) highest = std::max<int>(highest, orders[i]);
    return highest;
}

// Bytes of pattern data for a pattern count.
uint64_t PatternBytes(int patterns, int channels) {
    return static_cast<uint64_t>(patterns) * kModuleRowsPerPattern * static_cast<uint64_t>(channels) * kCellBytes;
}

uint64_t DeclaredSampleBytes(const uint8_t* header) {
    uint64_t total = 0;
    for (int s = 0; s < kModuleSampleCount; ++s)
        total += uint64_t{2} * ReadBigEndian16(header + kSampleHeaders + kSampleHeaderBytes * s + 22);
    return total;
}

// The samples in order after the patterns, each cut to the bytes present.
void PlaceSamples(const uint8_t* bytes, size_t size, ModuleLayout& layout) {
    size_t offset = layout.sampleDataStart;
    layout.size = offset;
    for (int s = 0; s < kModuleSampleCount; ++s) {
        const uint8_t* header = bytes + kSampleHeaders + kSampleHeaderBytes * s;
        ModuleSampleInfo& sample = layout.samples[s];
        const uint32_t declared = 2 * ReadBigEndian16(header + 22);
        const size_t present = offset < size ? size - offset : 0;
        sample.offset = std::min(offset, size);  // an absent sample is empty, at the end
        sample.length = static_cast<uint32_t>(std::min<size_t>(declared, present));
        sample.finetune = header[24] & 0x0F;
        sample.volume = header[25];
        const uint32_t loopStart = 2 * ReadBigEndian16(header + 26);
        const uint32_t loopWords = ReadBigEndian16(header + 28);
        // A loop of one word is the format's "no loop".
        if (loopWords > 1 && loopStart < sample.length) {
            sample.loopStart = loopStart;
            sample.loopLength = std::min(2 * loopWords, sample.length - loopStart);
        }
        offset += declared;
        if (sample.length > 0) layout.size = std::max(layout.size, sample.offset + sample.length);
    }
}

// Stops the slots that play the module on every mixer.
void StopSlotsOf(const SoundModule& module) { SoundStopMusicOf(&module); }

int Fail(SoundModule& module, int code) {
    ClearModule(module);
    return code;
}

}  // namespace

int ModuleChannelCount(const uint8_t* tag) {
    if (tag[0] == 'M' && tag[2] == 'K') return 4;
    if (tag[1] != 'C' && tag[2] != 'C') return 0;
    if (!IsDigit(tag[0])) return 0;
    if (IsDigit(tag[1])) return (tag[0] - '0') * 10 + (tag[1] - '0');
    return tag[0] - '0';
}

int ReadModuleLayout(std::span<const uint8_t> bytes, ModuleLayout& layout) {
    layout = ModuleLayout{};
    if (bytes.size() < kModuleHeaderBytes) return kSoundUnknownFormat;
    const uint8_t* data = bytes.data();
    layout.channels = ModuleChannelCount(data + kTagAt);
    if (layout.channels == 0) return kSoundUnknownFormat;
    layout.songLength = std::min<int>(data[kSongLengthAt], kModuleOrderCount);
    const int restart = data[kRestartOrderAt];
    layout.restartOrder = restart == 127 || restart >= layout.songLength ? 0 : restart;

    const uint64_t sampleBytes = DeclaredSampleBytes(data);
    const int allOrders = HighestOrder(data + kOrdersAt, kModuleOrderCount) + 1;
    const int songOrders = HighestOrder(data + kOrdersAt, layout.songLength) + 1;
    const bool allFit = kModuleHeaderBytes + PatternBytes(allOrders, layout.channels) + sampleBytes <= bytes.size();
    layout.patternCount = allFit ? allOrders : songOrders;
    const uint64_t patternEnd = kModuleHeaderBytes + PatternBytes(layout.patternCount, layout.channels);
    if (patternEnd > bytes.size()) return kSoundUnknownFormat;
    layout.sampleDataStart = static_cast<size_t>(patternEnd);
    PlaceSamples(data, bytes.size(), layout);
    return 0;
}

void ClearModule(SoundModule& module) {
    if (module.data) StopSlotsOf(module);
    module.ownedData.reset();
    module.data = nullptr;
    module.volume = 64;
    module.loop = false;
    module.pan = 255;
    module.rate = 44100;
    module.frequency = 44100;
    module.step = 0;
    module.ownsData = false;
    module.size = 0;
    module.channelCount = 0;
}

int SoundModuleLoadMemory(SoundModule& module, const void* data, size_t size, bool copy) {
    ClearModule(module);
    if (!data) return kSoundNoMemory;
    ModuleLayout layout;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (const int code = ReadModuleLayout({bytes, size}, layout)) return code;
    if (copy) {
        module.ownedData.reset(new (std::nothrow) uint8_t[layout.size]);
        if (!module.ownedData) return kSoundNoMemory;
        std::memcpy(module.ownedData.get(), bytes, layout.size);
        module.ownsData = true;
        bytes = module.ownedData.get();
    }
    module.data = bytes;
    module.size = layout.size;
    module.channelCount = layout.channels;
    return 0;
}

int SoundModuleLoadFile(SoundModule& module, std::span<const uint16_t> path) {
    ClearModule(module);
    const std::optional<std::string> hostPath = ResolveSoundPath(path);
    if (!hostPath) return kSoundCannotOpen;
    FileStream stream;
    if (!stream.Open(*hostPath)) return kSoundCannotOpen;
    const int64_t size = stream.Size();
    if (size <= 0) return kSoundUnreadable;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (!bytes) return kSoundNoMemory;
    if (stream.Read(bytes.get(), static_cast<size_t>(size)) != static_cast<size_t>(size)) return kSoundUnreadable;
    ModuleLayout layout;
    if (const int code = ReadModuleLayout({bytes.get(), static_cast<size_t>(size)}, layout)) return Fail(module, code);
    module.ownedData = std::move(bytes);
    module.ownsData = true;
    module.data = module.ownedData.get();
    module.size = layout.size;
    module.channelCount = layout.channels;
    return 0;
}

int SoundModuleLoadResource(SoundModule& module, const void* instance, int resourceId, bool copy) {
    ClearModule(module);
    static const uint16_t kModuleType[] = {'P', 'T', 'M', 'O', 'D', 0};
    if (resourceId < 0 || resourceId > 0xFFFF) return kSoundCannotOpen;
    const platform::ResourceHandle found =
        platform::FindResourceW(instance, platform::MakeIntResource(static_cast<uint16_t>(resourceId)), kModuleType);
    if (!found) return kSoundCannotOpen;
    const void* bytes = platform::LockResource(platform::LoadResource(instance, found));
    return SoundModuleLoadMemory(module, bytes, platform::SizeofResource(instance, found), copy);
}

}  // namespace qob
