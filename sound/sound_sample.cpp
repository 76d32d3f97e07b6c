// sound/sound_sample.cpp
// The sample's life (moves, clearing, the frequency setter) and the loaders
// that try each format in turn.
#include "sound/sound_sample.h"

#include <utility>

#include "platform/resources.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"

namespace qob {

SoundSample::SoundSample(SoundSample&& other) noexcept { TakeFrom(other); }

SoundSample& SoundSample::operator=(SoundSample&& other) noexcept {
    if (this != &other) {
        Clear();
        TakeFrom(other);
    }
    return *this;
}

SoundSample::~SoundSample() { Clear(); }

void SoundSample::TakeFrom(SoundSample& other) {
    static_cast<SampleSettings&>(*this) = other;
    ownedData = std::move(other.ownedData);
    stream = std::move(other.stream);
    other.Clear();
}

void SoundSample::Clear() {
    // Only what this sample frees is taken from the voices: data lent by the
    // caller stays the caller's to free.
    if (ownedData || stream) SoundStopVoicesOf(ownedData.get(), stream.get());
    stream.reset();
    ownedData.reset();
    static_cast<SampleSettings&>(*this) = SampleSettings{};
}

void SoundSample::SetFrequency(int newFrequency) {
    frequency = newFrequency;
    if (rate > 0) step = static_cast<int>(((static_cast<int64_t>(newFrequency) << 16) / rate) >> 9);
}

int SoundSampleLoadFile(SoundSample& sample, std::span<const uint16_t> path, int flags) {
    if (LoadOggFile(sample, path, flags) == 0) return 0;
    return LoadWaveFile(sample, path, flags);
}

int SoundSampleLoadMemory(SoundSample& sample, const void* data, size_t size, int flags) {
    if (LoadOggMemory(sample, data, size, flags) == 0) return 0;
    return LoadWaveMemory(sample, data, size, flags);
}

int SoundSampleLoadResource(SoundSample& sample, const void* module, int resourceId, int flags) {
    sample.Clear();
    static const uint16_t kWave[] = {'W', 'A', 'V', 'E', 0};
    if (resourceId < 0 || resourceId > 0xFFFF) return kSoundCannotOpen;
    const platform::ResourceHandle found =
        platform::FindResourceW(module, platform::MakeIntResource(static_cast<uint16_t>(resourceId)), kWave);
    if (!found) return kSoundCannotOpen;
    const void* bytes = platform::LockResource(platform::LoadResource(module, found));
    return SoundSampleLoadMemory(sample, bytes, platform::SizeofResource(module, found), flags);
}

}  // namespace qob
