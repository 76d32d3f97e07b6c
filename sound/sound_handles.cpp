// sound/sound_handles.cpp
// Sound handles: loading into the lowest free object, starting and reaching
// the channel a handle last started, and freeing objects safely while the
// device thread mixes.
#include "sound/sound_handles.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <new>

#include "sound/module_loader.h"
#include "sound/sound_codes.h"
#include "sound/sound_mixer.h"
#include "sound/sound_sample.h"

namespace qob {

struct SoundHandles::Objects {
    std::unique_ptr<SoundSample[]> samples{new SoundSample[kSoundObjects]};
    std::unique_ptr<SoundModule[]> modules{new SoundModule[kSoundObjects]};
    std::array<bool, 2 * kSoundObjects> loaded{};  // by handle
    std::array<SoundPlayState, 2 * kSoundObjects> states{};
};

namespace {

bool IsModuleHandle(int handle) { return handle >= kModuleHandleBase; }

int SampleFlagsOfType(int type) {
    if (type == 2) return kLoadDecodeWhole;
    if (type == 3) return kLoadCopy;
    return 0;
}

}  // namespace

SoundHandles::SoundHandles(SoundMixer& mixer) : mixer_(mixer) {}

SoundHandles::~SoundHandles() { Release(); }

bool SoundHandles::EnsureObjects() {
    if (!objects_) objects_ = new (std::nothrow) Objects;
    return objects_ != nullptr;
}

void SoundHandles::ReleaseObjects() {
    if (!objects_) return;
    // Clearing stops every channel that plays the object before its data goes.
    for (int i = 0; i < kSoundObjects; ++i) {
        objects_->samples[i].Clear();
        ClearModule(objects_->modules[i]);
    }
    objects_->loaded.fill(false);
    objects_->states.fill(SoundPlayState{});
}

void SoundHandles::Release() {
    ReleaseObjects();
    delete objects_;
    objects_ = nullptr;
}

void SoundHandles::Init(int rate, int bits, bool stereo, int musicSlots, int voices) {
    SoundStopAllVoices(mixer_);
    SoundStopAllMusic(mixer_);
    ReleaseObjects();
    (void)SoundOpen(mixer_, rate, bits, stereo, musicSlots, voices);
}

void SoundHandles::Shut() {
    if (objects_) {
        for (SoundPlayState& state : objects_->states) {
            if (state.channelId < 0) continue;
            if (SoundChannel* channel = SoundGetChannel(mixer_, state.channelId)) {
                std::lock_guard guard(LockOf(mixer_));
                channel->Stop();
            }
            state.playing = 0;
        }
    }
    SoundClose(mixer_);
    ReleaseObjects();
}

bool SoundHandles::IsLoaded(int handle) const {
    return objects_ && handle >= 0 && handle < 2 * kSoundObjects && objects_->loaded[static_cast<size_t>(handle)];
}

const SoundPlayState* SoundHandles::PlayState(int handle) const {
    return IsLoaded(handle) ? &objects_->states[static_cast<size_t>(handle)] : nullptr;
}

int SoundHandles::TakeIndex(bool module) {
    if (!EnsureObjects()) return -1;
    const int base = module ? kModuleHandleBase : 0;
    for (int i = 0; i < kSoundObjects; ++i)
        if (!objects_->loaded[static_cast<size_t>(base + i)]) return i;
    return -1;
}

int SoundHandles::Loaded(int index, bool module, int code) {
    if (code < 0) return code;
    const int handle = (module ? kModuleHandleBase : 0) + index;
    objects_->loaded[static_cast<size_t>(handle)] = true;
    objects_->states[static_cast<size_t>(handle)] = SoundPlayState{};
    return handle;
}

int SoundHandles::LoadFile(std::span<const uint16_t> path, int type) {
    const bool module = type != 0 && type != 2 && type != 3;
    const int index = TakeIndex(module);
    if (index < 0) return kSoundUnavailable;
    if (module) return Loaded(index, true, SoundModuleLoadFile(objects_->modules[index], path));
    return Loaded(index, false, SoundSampleLoadFile(objects_->samples[index], path, SampleFlagsOfType(type)));
}

int SoundHandles::LoadMemory(const void* data, size_t size, int type) {
    const bool module = type != 0;
    const int index = TakeIndex(module);
    if (index < 0) return kSoundUnavailable;
    if (module) return Loaded(index, true, SoundModuleLoadMemory(objects_->modules[index], data, size, true));
    return Loaded(index, false, SoundSampleLoadMemory(objects_->samples[index], data, size, kLoadCopy));
}

SoundChannel* SoundHandles::ChannelOf(int handle) {
    const SoundPlayState* state = PlayState(handle);
    if (!state || state->channelId < 0) return nullptr;
    std::lock_guard guard(LockOf(mixer_));
    SoundChannel* channel = SoundGetChannel(mixer_, state->channelId);
    if (!channel) return nullptr;
    if (IsModuleHandle(handle)) {
        if (state->channelId >= mixer_.musicSlotCount) return nullptr;
        const auto* slot = static_cast<MusicChannel*>(channel);
        return slot->module == &objects_->modules[handle - kModuleHandleBase] ? channel : nullptr;
    }
    if (state->channelId < mixer_.musicSlotCount) return nullptr;
    const auto* voice = static_cast<SoundVoice*>(channel);
    return voice->Plays(objects_->samples[handle]) ? channel : nullptr;
}

void SoundHandles::Play(int handle) {
    if (!IsLoaded(handle)) return;
    SoundPlayState& state = objects_->states[static_cast<size_t>(handle)];
    state.channelId = IsModuleHandle(handle)
                          ? SoundPlayModule(mixer_, &objects_->modules[handle - kModuleHandleBase], kPlayFirstFree)
                          : SoundPlaySample(mixer_, objects_->samples[handle], kPlayFirstFree);
    SoundChannel* channel = ChannelOf(handle);
    if (!channel) return;
    if (state.volume == -1) state.volume = channel->volume.load(std::memory_order_relaxed);
    if (state.frequency == -1) state.frequency = channel->frequency.load(std::memory_order_relaxed);
    if (state.pan == -1) state.pan = channel->pan.load(std::memory_order_relaxed);
    if (state.loop == -1) state.loop = channel->loop.load(std::memory_order_relaxed) ? 1 : 0;
    channel->SetVolume(state.volume);
    ChannelSetFrequency(*channel, state.frequency);
    channel->SetPan(state.pan);
    ChannelSetLoop(*channel, state.loop != 0);
    state.playing = 1;
}

void SoundHandles::Stop(int handle) {
    SoundChannel* channel = ChannelOf(handle);
    if (!channel) return;
    {
        std::lock_guard guard(LockOf(mixer_));
        channel->Stop();
    }
    objects_->states[static_cast<size_t>(handle)].playing = 0;
}

void SoundHandles::Pause(int handle) {
    SoundChannel* channel = ChannelOf(handle);
    if (!channel) return;
    ChannelPause(*channel);
    objects_->states[static_cast<size_t>(handle)].playing = 2;
}

void SoundHandles::Resume(int handle) {
    SoundChannel* channel = ChannelOf(handle);
    if (!channel) return;
    ChannelResume(*channel);
    objects_->states[static_cast<size_t>(handle)].playing = 1;
}

int SoundHandles::State(int handle) {
    const SoundPlayState* state = PlayState(handle);
    if (!state) return 0;
    SoundChannel* channel = ChannelOf(handle);
    if (channel && channel->IsPlaying()) return 1;
    return state->playing == 2 ? 2 : 0;
}

int SoundHandles::Volume(int handle) { return ChannelOf(handle) ? objects_->states[static_cast<size_t>(handle)].volume : 0; }
int SoundHandles::Frequency(int handle) { return ChannelOf(handle) ? objects_->states[static_cast<size_t>(handle)].frequency : 0; }
int SoundHandles::Pan(int handle) { return ChannelOf(handle) ? objects_->states[static_cast<size_t>(handle)].pan : 0; }
int SoundHandles::Loop(int handle) { return ChannelOf(handle) ? objects_->states[static_cast<size_t>(handle)].loop : 0; }

void SoundHandles::SetVolume(int handle, int volume) {
    if (!IsLoaded(handle)) return;
    volume = std::clamp(volume, 0, 255);
    if (SoundChannel* channel = ChannelOf(handle)) channel->SetVolume(volume);
    objects_->states[static_cast<size_t>(handle)].volume = volume;
}

void SoundHandles::SetFrequency(int handle, int frequency) {
    SoundChannel* channel = ChannelOf(handle);
    if (!channel) return;
    ChannelSetFrequency(*channel, frequency);
    objects_->states[static_cast<size_t>(handle)].frequency = frequency;
}

void SoundHandles::SetPan(int handle, int pan) {
    SoundChannel* channel = ChannelOf(handle);
    if (!channel) return;
    channel->SetPan(pan);
    objects_->states[static_cast<size_t>(handle)].pan = pan;
}

void SoundHandles::SetLoop(int handle, int loop) {
    SoundChannel* channel = ChannelOf(handle);
    if (!channel) return;
    ChannelSetLoop(*channel, loop != 0);
    objects_->states[static_cast<size_t>(handle)].loop = loop;
}

void SoundHandles::Free(int handle) {
    if (!IsLoaded(handle)) return;
    // Clearing stops every voice or slot that plays the object first.
    if (IsModuleHandle(handle))
        ClearModule(objects_->modules[handle - kModuleHandleBase]);
    else
        objects_->samples[handle].Clear();
    objects_->loaded[static_cast<size_t>(handle)] = false;
    objects_->states[static_cast<size_t>(handle)] = SoundPlayState{};
}

SoundHandles& ProgramSoundHandles() {
    static SoundHandles* handles = new SoundHandles(Mixer);
    return *handles;
}

void ReleaseSoundHandles() { ProgramSoundHandles().Release(); }

}  // namespace qob
