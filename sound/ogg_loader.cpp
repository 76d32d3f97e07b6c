// sound/ogg_loader.cpp
// Ogg Vorbis samples from files and memory blocks: decoded whole into
// 16-bit PCM, or left as a stream that each voice decodes while it plays.
#include <climits>
#include <cstring>
#include <new>
#include <optional>

#include "sound/sound_codes.h"
#include "sound/sound_sample.h"
#include "sound/vorbis_decoder.h"

namespace qob {
namespace {

constexpr int kDecodePiece = 512;  // bytes asked of ov_read at a time
constexpr int kMostHoles = 64;     // gaps in the data skipped before giving up

struct StreamFormat {
    int channels = 0;
    int rate = 0;
    int64_t frames = 0;
};

// The format every link of the stream shares, or a code: -100 for more than
// two channels, a rate of 0, links that differ, or an unknown length.
int ReadStreamFormat(OggVorbis_File& file, StreamFormat& format) {
    const ogg_int64_t total = ov_pcm_total(&file, -1);
    if (total < 0) return kSoundUnknownFormat;
    const long links = ov_streams(&file);
    for (long link = 0; link < links || link == 0; ++link) {
        const vorbis_info* info = ov_info(&file, static_cast<int>(link));
        if (!info || info->channels < 1 || info->channels > 2 || info->rate <= 0 || info->rate > INT_MAX)
            return kSoundUnknownFormat;
        if (link == 0) {
            format.channels = info->channels;
            format.rate = static_cast<int>(info->rate);
        } else if (info->channels != format.channels || info->rate != format.rate) {
            return kSoundUnknownFormat;
        }
    }
    format.frames = total;
    return 0;
}

// Decodes the whole stream into a zeroed block of frames x channels x 2
// bytes; the decode stops at the block's end, and data that ends early
// leaves the rest silent.
int DecodeWhole(OggVorbis_File& file, const StreamFormat& format, std::unique_ptr<uint8_t[]>& out, uint64_t& bytes) {
    bytes = static_cast<uint64_t>(format.frames) * static_cast<uint64_t>(format.channels) * 2;
    if (bytes > kLargestDecodedBytes) return kSoundNoMemory;
    out.reset(new (std::nothrow) uint8_t[bytes]());
    if (!out) return kSoundNoMemory;
    uint64_t position = 0;
    int holes = 0;
    while (position < bytes) {
        const int wanted = static_cast<int>(std::min<uint64_t>(kDecodePiece, bytes - position));
        int link = 0;
        const long got = ov_read(&file, reinterpret_cast<char*>(out.get() + position), wanted, &link);
        if (got == OV_HOLE && ++holes <= kMostHoles) continue;
        if (got <= 0) break;
        position += static_cast<uint64_t>(std::min<long>(got, wanted));
    }
    return 0;
}

// Opens a decoder on the sample's stream and sets the sample from it.
int LoadOggStream(SoundSample& sample, int flags) {
    VorbisDecoder* decoder = OpenVorbisDecoder(sample.stream.get());
    if (!decoder) return kSoundUnknownFormat;
    StreamFormat format;
    int code = ReadStreamFormat(decoder->file, format);
    if (code == 0 && format.frames == 0) code = kSoundUnreadable;
    std::unique_ptr<uint8_t[]> decoded;
    uint64_t bytes = 0;
    if (code == 0 && (flags & kLoadDecodeWhole)) code = DecodeWhole(decoder->file, format, decoded, bytes);
    CloseVorbisDecoder(decoder);
    if (code != 0) return code;

    sample.eightBit = 0;
    sample.stereo = format.channels == 2 ? 1 : 0;
    sample.rate = format.rate;
    sample.length = format.frames;
    sample.frequency = format.rate;
    sample.step = 128;
    if (flags & kLoadDecodeWhole) {
        // The stream and any copy it read are no longer needed.
        sample.stream.reset();
        sample.ownedData = std::move(decoded);
        sample.data = sample.ownedData.get();
        sample.kind = SampleKind::Memory;
    } else {
        sample.kind = SampleKind::Streamed;
    }
    return 0;
}

int Finish(SoundSample& sample, int code) {
    if (code != 0) sample.Clear();
    return code;
}

}  // namespace

int LoadOggFile(SoundSample& sample, std::span<const uint16_t> path, int flags) {
    sample.Clear();
    const std::optional<std::string> hostPath = ResolveSoundPath(path);
    if (!hostPath) return kSoundCannotOpen;
    sample.stream.reset(new (std::nothrow) SwitchingStream);
    if (!sample.stream) return kSoundNoMemory;
    if (!sample.stream->OpenFile(*hostPath)) return Finish(sample, kSoundCannotOpen);
    return Finish(sample, LoadOggStream(sample, flags));
}

int LoadOggMemory(SoundSample& sample, const void* data, size_t size, int flags) {
    sample.Clear();
    if (!data) return kSoundNoMemory;
    sample.stream.reset(new (std::nothrow) SwitchingStream);
    if (!sample.stream || !sample.stream->OpenMemory(data, size)) return Finish(sample, kSoundNoMemory);
    if (const int code = LoadOggStream(sample, flags)) return Finish(sample, code);
    // The private copy is made only once the data proved to be Ogg Vorbis,
    // and only for a stream: a whole decode no longer needs the data.
    if (sample.kind == SampleKind::Streamed && (flags & kLoadCopy)) {
        sample.ownedData.reset(new (std::nothrow) uint8_t[size]);
        if (!sample.ownedData) return Finish(sample, kSoundNoMemory);
        std::memcpy(sample.ownedData.get(), data, size);
        if (!sample.stream->OpenMemory(sample.ownedData.get(), size)) return Finish(sample, kSoundNoMemory);
    }
    return 0;
}

}  // namespace qob
