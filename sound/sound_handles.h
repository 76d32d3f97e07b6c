// sound/sound_handles.h
// The numeric sound handles of programs: 1,024 samples (handles 0 to 1,023)
// and 1,024 modules (handles 1,024 to 2,047), the play state of each handle,
// and the operations that the sound built-ins run on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qob {

class SoundMixer;
class SoundChannel;
struct SoundSample;
struct SoundModule;

constexpr int kSoundObjects = 1024;       // of each kind
constexpr int kModuleHandleBase = 1024;   // module i has handle 1,024 + i
constexpr int kNoSoundHandle = -1;

// What a handle last started. A stored value of -1 means "the sound's own".
struct SoundPlayState {
    int32_t channelId = -1;  // a negative id (none, or a failed play's code) is no channel
    int32_t volume = -1;
    int32_t frequency = -1;
    int32_t pan = -1;
    int32_t loop = -1;
    uint16_t playing = 0;  // 0 stopped, 1 playing, 2 paused by PauseSound
};

// A handle is its object's index for good: loads take the lowest free index
// of their kind, and freeing a handle stops what plays its object, releases
// the object and frees the index. A handle acts on its channel only while
// that channel still holds the handle's object; a handle that names no
// loaded object does nothing, and its queries give 0.
class SoundHandles {
public:
    explicit SoundHandles(SoundMixer& mixer);
    ~SoundHandles();
    SoundHandles(const SoundHandles&) = delete;
    SoundHandles& operator=(const SoundHandles&) = delete;

    // Stops every channel, releases every loaded object, opens the mixer
    // (its code is not reported: a failed open leaves it closed, and loads
    // still work) and forgets every handle.
    void Init(int rate, int bits, bool stereo, int musicSlots, int voices);
    // Stops the handles' channels, closes the mixer, then releases the objects.
    void Shut();
    // Releases every object after the mixer's device thread has stopped.
    void Release();

    // Each returns the new handle, or the loader's negative code (-1000 when
    // every object of the kind is loaded). Type 0: a sample, as it is; 2: a
    // sample, Ogg Vorbis decoded whole; 3: a sample kept as a copy; any
    // other: a module.
    int LoadFile(std::span<const uint16_t> path, int type);
    // Type 0: a sample (its data copied); any other: a module (copied).
    int LoadMemory(const void* data, size_t size, int type);

    void Play(int handle);
    void Stop(int handle);
    void Pause(int handle);
    void Resume(int handle);
    [[nodiscard]] int State(int handle);  // 1 playing, 2 paused, else 0
    [[nodiscard]] int Volume(int handle);
    [[nodiscard]] int Frequency(int handle);
    [[nodiscard]] int Pan(int handle);
    [[nodiscard]] int Loop(int handle);
    void SetVolume(int handle, int volume);  // clamped to 0..255, stored also without a channel
    void SetFrequency(int handle, int frequency);
    void SetPan(int handle, int pan);
    void SetLoop(int handle, int loop);
    void Free(int handle);

    // Whether the handle names a loaded object, and its play state (null
    // when it names none).
    [[nodiscard]] bool IsLoaded(int handle) const;
    [[nodiscard]] const SoundPlayState* PlayState(int handle) const;
    [[nodiscard]] SoundMixer& MixerOf() { return mixer_; }

private:
    struct Objects;
    bool EnsureObjects();
    // The channel that still plays the handle's object, or null.
    SoundChannel* ChannelOf(int handle);
    int TakeIndex(bool module);
    int Loaded(int index, bool module, int code);
    void ReleaseObjects();

    SoundMixer& mixer_;
    Objects* objects_ = nullptr;
};

// The handles of the sound built-ins, over the process's mixer; made on
// first use and never destroyed (ReleaseSoundHandles frees what they hold).
SoundHandles& ProgramSoundHandles();
// At runtime shutdown, after the mixer has closed.
void ReleaseSoundHandles();

}  // namespace qob
