// platform/audio_out.h
// The sound output service: a back end that plays (or records) whole PCM
// buffers in the order they were written and reports each one done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qob::platform {

// Interleaved PCM: 8-bit unsigned or 16-bit signed little-endian samples.
struct AudioFormat {
    int rate = 0;      // frames per second
    int bits = 16;     // 8 or 16
    int channels = 1;  // 1 or 2

    int FrameBytes() const { return channels * (bits / 8); }
};

// Called once for every buffer the back end has finished with, in the order
// the buffers were written, from any thread the back end chooses. It must not
// call back into the back end.
using AudioDoneCallback = void (*)(void* context);

// One output device. The caller keeps a written buffer unchanged until the
// back end reports it done; Reset and Close drop what is still queued without
// reporting it. A back end starts paused after Open.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // Opens the device with exactly this format; false when it refuses.
    [[nodiscard]] virtual bool Open(const AudioFormat& format, AudioDoneCallback done, void* context) = 0;
    virtual void Write(const uint8_t* data, size_t bytes) = 0;
    virtual void Pause() = 0;
    virtual void Restart() = 0;
    virtual void Reset() = 0;
    virtual void Close() = 0;
};

using AudioDeviceList = std::vector<std::unique_ptr<AudioBackend>>;

// A back end that takes each buffer at the format's real-time pace by the
// platform clock, multiplied by pace (0: as soon as it is written). With a
// recording path it appends every finished buffer to that WAVE file and keeps
// the header's sizes current after each one.
std::unique_ptr<AudioBackend> MakePacedAudioBackend(double pace, std::string recordingPath = {});

// SDL2 audio on the default output device; null when this build has no SDL2.
std::unique_ptr<AudioBackend> MakeSdlAudioBackend();

// The devices to try, first to last, as QOB_AUDIO chooses: unset (or any
// other value), SDL2 and then the silent paced back end; "none", the silent
// one; "record:<file.wav>", the recorder. QOB_AUDIO_PACE sets the pace of the
// silent back end and of the recorder (default 1, real time).
AudioDeviceList ListAudioDevices();

}  // namespace qob::platform
