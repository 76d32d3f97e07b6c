// platform/sdl/sdl_audio.cpp
// SDL2 audio as an output device: SDL's callback copies from the queue of
// written buffers in its own block sizes; a buffer copied out is done.
#include "platform/audio_out.h"

#ifdef QOB_WITH_SDL2

#include <SDL.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace qob::platform {
namespace {

constexpr Uint16 kBlockFrames = 512;

class SdlAudioBackend final : public AudioBackend {
public:
    ~SdlAudioBackend() override { Close(); }

    bool Open(const AudioFormat& format, AudioDoneCallback doneCallback, void* doneContext) override {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
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
        device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);  // no changes allowed
        if (device == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
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
        if (device) SDL_PauseAudioDevice(device, 1);
    }

    void Restart() override {
        {
            std::lock_guard lock(mutex);
            paused = false;
        }
        if (device) SDL_PauseAudioDevice(device, 0);
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
        SDL_CloseAudioDevice(device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
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
