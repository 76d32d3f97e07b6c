// tests/fuzz/sound_sample_fuzz.cpp
// A sound file's bytes (RIFF WAVE with PCM or MS ADPCM, Ogg Vorbis) through
// the sample loaders: from memory decoded whole, copied and streamed, from a
// file, and a streamed sound's voice refilled and seeked to its end.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sound/sound_sample.h"
#include "sound/sound_voice.h"
#include "sound/vorbis_decoder.h"

namespace {

using namespace qob;

// A whole decode of a stream that claims a great length fills its block
// with zeros; the fuzzer skips those, the loader's limit is tested elsewhere.
constexpr int64_t kLargestFuzzedBytes = 16 << 20;
constexpr int kMostRefills = 4096;

// Reads every frame that each buffer of the voice offers, so that the
// sanitizer sees any read outside the buffer.
unsigned DrainVoice(SoundVoice& voice, int64_t seek) {
    unsigned sum = 0;
    const uint64_t frameBytes = voice.stereo ? 4 : 2;
    if (voice.Refill(seek) != 0) return sum;
    for (int i = 0; i < kMostRefills; ++i) {
        for (uint64_t p = voice.bufferPosition; p < voice.bufferEnd; p += 256) sum += voice.data[(p >> 8) * frameBytes];
        voice.playedPosition += voice.bufferEnd - voice.bufferPosition;
        voice.bufferPosition = voice.bufferEnd;
        if (voice.Refill(kRefillNoSeek) != 0) break;
    }
    return sum;
}

unsigned PlayStreamed(const SoundSample& sample) {
    SoundVoice voice;
    voice.kind = SampleKind::Streamed;
    voice.eightBit = 0;
    voice.stereo = sample.stereo;
    voice.length = static_cast<uint64_t>(sample.length) << 8;
    voice.streamBuffer.reset(new uint8_t[kStreamBufferBytes]);
    voice.decoder = OpenVorbisDecoder(sample.stream.get());
    if (!voice.decoder) return 0;
    unsigned sum = DrainVoice(voice, 0);
    sum += DrainVoice(voice, static_cast<int64_t>(voice.length / 2));
    return sum;
}

// The file that each input is written to for the file reader, removed when
// the process ends.
struct ScratchFile {
    ScratchFile() {
        char name[] = "/tmp/qob-sound-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path = name;
    }
    ~ScratchFile() { unlink(path.c_str()); }
    std::string path;
};

const std::string& FilePath() {
    static const ScratchFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the block is seen.
    const std::vector<uint8_t> block(data, data + size);
    const void* bytes = block.empty() ? static_cast<const void*>(data) : block.data();
    unsigned sum = 0;
    SoundSample streamed;
    if (SoundSampleLoadMemory(streamed, bytes, size, 0) == 0) {
        if (streamed.kind == SampleKind::Streamed) {
            sum += PlayStreamed(streamed);
            const int64_t wholeBytes = streamed.length * (streamed.stereo ? 4 : 2);
            if (wholeBytes <= kLargestFuzzedBytes) {
                SoundSample whole;
                if (SoundSampleLoadMemory(whole, bytes, size, kLoadDecodeWhole | kLoadCopy) == 0)
                    sum += whole.data[static_cast<size_t>(wholeBytes) - 1];
            }
        } else {
            const size_t frameBytes = (streamed.eightBit ? 1u : 2u) * (streamed.stereo ? 2u : 1u);
            sum += streamed.data[static_cast<size_t>(streamed.length) * frameBytes - 1];
            SoundSample copied;
            if (SoundSampleLoadMemory(copied, bytes, size, kLoadCopy) == 0) sum += copied.data[0];
        }
    }
    if (std::FILE* file = std::fopen(FilePath().c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
        std::vector<uint16_t> path(FilePath().begin(), FilePath().end());
        SoundSample fromFile;
        if (LoadWaveFile(fromFile, path, 0) == 0) sum += fromFile.data[0];
    }
    return static_cast<int>(sum & 0);
}
