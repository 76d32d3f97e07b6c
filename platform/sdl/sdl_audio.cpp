// platform/sdl/sdl_audio.cpp
// SDL2 audio as an output device: SDL's callback copies from the queue of
// written buffers in its own block sizes; a buffer copied out is done. SDL is
// loaded when the device is first opened, not linked: linking it would load
// its fifty libraries at every start of every program.
#include "platform/audio_out.h"

#ifdef QOB_WITH_SDL2

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <type_traits>

namespace qob::platform {
namespace {

constexpr Uint16 kBlockFrames = 512;

// The few SDL calls the back end makes, found in the library once.
struct SdlCalls {
    decltype(&SDL_InitSubSystem) initSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) quitSubSystem = nullptr;
    decltype(&SDL_OpenAudioDevice) openAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) pauseAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) closeAudioDevice = nullptr;
};

// The calls, or null when the library or one of them cannot be found (the
// device then does not open). The library stays loaded for the process.
const SdlCalls* LoadSdl() {
    static const SdlCalls* loaded = [] () -> const SdlCalls* {
        void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        static SdlCalls calls;
        auto find = [library](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(library, name));
            return slot != nullptr;
        };
        const bool found = find(calls.initSubSystem, "SDL_InitSubSystem") &&
                           find(calls.quitSubSystem, "SDL_QuitSubSystem") &&
                           find(calls.openAudioDevice, "SDL_OpenAudioDevice") &&
                           find(calls.pauseAudioDevice, "SDL_PauseAudioDevice") &&
                           find(calls.closeAudioDevice, "SDL_CloseAudioDevice");
        return found ? &calls : nullptr;
    }();
    return loaded;
}

class SdlAudioBackend final : public AudioBackend {
public:
    ~SdlAudioBackend() override { Close(); }

    bool Open(const AudioFormat& format, AudioDoneCallback doneCallback, void* doneContext) override {
        sdl = LoadSdl();
        if (!sdl || sdl->initSubSystem(SDL_INIT_AUDIO) != 0) return false;
        SDL_AudioSpec wanted{};
        wanted.freq = format.rate;
        wanted.format = format.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
        wanted.channels = static_cast<Uint8>(format.channels);
        wanted.samples = kBlockFrames;
        wanted.callback = [](void* self, Uint8* stream, int length) {
            static_cast<SdlAudioBackend*>(self)->CopyOut(stream, static_cast<size_t>(length));
        };
        wanted.userdata = this;
        done = doneCallback;
        context = doneContext;
        silence = format.bits == 8 ? 0x80 : 0;
        paused = true;
        closing = false;
        SDL_AudioSpec obtained{};
        device = sdl->openAudioDevice(nullptr, 0, &wanted, &obtained, 0);  // no changes allowed
        if (device == 0) {
            sdl->quitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        return true;
    }

    void Write(const uint8_t* data, size_t bytes) override {
        std::lock_guard lock(mutex);
        queue.push_back({data, bytes});
        arrived.notify_one();
    }

    void Pause() override {
        {
            std::lock_guard lock(mutex);
            paused = true;
            arrived.notify_one();
        }
        if (device) sdl->pauseAudioDevice(device, 1);
    }

    void Restart() override {
        {
            std::lock_guard lock(mutex);
            paused = false;
        }
        if (device) sdl->pauseAudioDevice(device, 0);
    }

    void Reset() override {
        std::lock_guard lock(mutex);
        queue.clear();
        headOffset = 0;
    }

    void Close() override {
        if (!device) return;
        {
            std::lock_guard lock(mutex);
            closing = true;
            queue.clear();
            arrived.notify_one();
        }
        sdl->closeAudioDevice(device);
        sdl->quitSubSystem(SDL_INIT_AUDIO);
        device = 0;
    }

private:
    struct Buffer {
        const uint8_t* data;
        size_t bytes;
    };

    // SDL's thread asks for length bytes. While the device runs, a queue that
    // has run dry is waited for rather than padded, so that what is heard is
    // exactly what was written; pausing or closing ends the wait with silence.
    void CopyOut(uint8_t* stream, size_t length) {
        std::unique_lock lock(mutex);
        while (length > 0) {
            if (queue.empty()) {
                if (paused || closing) break;
                arrived.wait(lock);
                continue;
            }
            const Buffer& head = queue.front();
            const size_t count = std::min(length, head.bytes - headOffset);
            std::memcpy(stream, head.data + headOffset, count);
            stream += count;
            length -= count;
            headOffset += count;
            if (headOffset == head.bytes) {
                queue.pop_front();
                headOffset = 0;
                done(context);
            }
        }
        std::memset(stream, silence, length);
    }

    const SdlCalls* sdl = nullptr;
    SDL_AudioDeviceID device = 0;
    AudioDoneCallback done = nullptr;
    void* context = nullptr;
    uint8_t silence = 0;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Buffer> queue;
    size_t headOffset = 0;
    bool paused = true;
    bool closing = false;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeSdlAudioBackend() { return std::make_unique<SdlAudioBackend>(); }

}  // namespace qob::platform

#else

namespace qob::platform {

std::unique_ptr<AudioBackend> MakeSdlAudioBackend() { return nullptr; }

}  // namespace qob::platform

#endif
