// sound/wave_loader.cpp
// RIFF WAVE samples from files and memory blocks: 8- and 16-bit PCM, and
// MS ADPCM decoded into 16-bit PCM at load.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <optional>

#include "sound/ms_adpcm.h"
#include "sound/sound_codes.h"
#include "sound/sound_sample.h"

namespace qob {
namespace {

constexpr size_t kFormatBytesRead = 80;  // of the format chunk, as the file reader takes it
constexpr uint64_t kFormatChunkData = 20;  // where the format chunk's data starts
constexpr size_t kMemoryFixedFields = 36;  // the memory reader's header, up to the bits field

inline uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline int ReadU16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// A chunk id is four printable ASCII characters.
bool IsChunkId(const uint8_t* id) {
    return std::all_of(id, id + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// Where the chunk header after a chunk lies whose data ends at end. RIFF pads
// a chunk of odd size with one byte, but some writers leave the pad out: the
// unpadded position is taken when only there a chunk id follows.
template <typename ReadAt>
uint64_t NextChunk(uint64_t end, uint64_t size, ReadAt& readAt) {
    if ((size & 1) == 0) return end;
    uint8_t id[4];
    if (readAt(end + 1, id, 4) && IsChunkId(id)) return end + 1;
    if (readAt(end, id, 4) && IsChunkId(id)) return end;
    return end + 1;
}

struct DataChunk {
    uint64_t start = 0;  // of the data
    uint64_t size = 0;   // as the header gives it
};

// Walks chunk headers from position until "data". Every step moves on by at
// least a header, and a header that cannot be read whole ends the walk.
template <typename ReadAt>
std::optional<DataChunk> FindDataChunk(uint64_t position, ReadAt& readAt) {
    for (;;) {
        uint8_t header[8];
        if (!readAt(position, header, 8)) return std::nullopt;
        const uint64_t size = ReadU32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) return DataChunk{position + 8, size};
        position = NextChunk(position + 8 + size, size, readAt);
    }
}

// -100 unless bits are 4, 8 or 16 and channels 1 or 2.
int CheckBitsAndChannels(int bits, int channels) {
    if (bits != 4 && bits != 8 && bits != 16) return kSoundUnknownFormat;
    if (channels != 1 && channels != 2) return kSoundUnknownFormat;
    return 0;
}

// A rate of 0 would leave a voice a step of 0 that never ends.
bool IsPlayableRate(uint32_t rate) { return rate > 0 && rate <= INT_MAX; }

// The PCM of 4-bit data: MS ADPCM decoded into a new block, or a code.
int DecodeAdpcmData(std::span<const uint8_t> format, std::span<const uint8_t> data, std::unique_ptr<uint8_t[]>& out,
                    uint64_t& outBytes) {
    const std::optional<AdpcmFormat> adpcm = ReadAdpcmFormat(format);
    if (!adpcm) return kSoundUnknownFormat;
    outBytes = AdpcmDecodedBytes(*adpcm, data.size());
    if (outBytes == 0) return kSoundUnknownFormat;
    out.reset(new (std::nothrow) uint8_t[outBytes]);
    if (!out) return kSoundUnknownFormat;
    if (!DecodeAdpcm(*adpcm, data, out.get())) {
        out.reset();
        return kSoundUnknownFormat;
    }
    return 0;
}

// Sets the sample for PCM data of these bits (8 or 16) and channels; -300
// when the data holds no whole frame.
int FinishSample(SoundSample& sample, const uint8_t* data, uint64_t bytes, int bits, int channels, uint32_t rate) {
    const int64_t frames = static_cast<int64_t>(bytes / static_cast<uint64_t>((bits == 8 ? 1 : 2) * channels));
    if (frames == 0) return kSoundUnreadable;
    sample.data = data;
    sample.eightBit = bits == 8 ? 1 : 0;
    sample.stereo = channels == 2 ? 1 : 0;
    sample.rate = static_cast<int>(rate);
    sample.length = frames;
    sample.frequency = sample.rate;
    sample.step = 128;
    sample.kind = SampleKind::Memory;
    return 0;
}

// Fails with a code, leaving the sample empty.
int Fail(SoundSample& sample, int code) {
    sample.Clear();
    return code;
}

int LoadWaveStream(SoundSample& sample, SoundStream& stream) {
    if (!stream.Seek(12, kSeekFromStart)) return kSoundUnreadable;
    uint8_t header[8];
    if (stream.Read(header, 8) != 8 || std::memcmp(header, "fmt ", 4) != 0) return kSoundUnreadable;
    const uint64_t formatSize = ReadU32(header + 4);
    // A format chunk shorter than 80 bytes is read whole; a short read is an
    // error only when the chunk itself is cut off.
    uint8_t format[kFormatBytesRead] = {};
    const size_t formatRead = static_cast<size_t>(std::min<uint64_t>(kFormatBytesRead, formatSize));
    if (stream.Read(format, formatRead) != formatRead) return kSoundUnreadable;
    const int bits = ReadU16(format + 14);
    const int channels = ReadU16(format + 2);
    if (const int code = CheckBitsAndChannels(bits, channels)) return code;

    auto readAt = [&stream](uint64_t position, uint8_t* buffer, size_t count) {
        return stream.Seek(static_cast<int64_t>(position), kSeekFromStart) && stream.Read(buffer, count) == count;
    };
    const std::optional<DataChunk> chunk = FindDataChunk(NextChunk(kFormatChunkData + formatSize, formatSize, readAt), readAt);
    if (!chunk) return kSoundUnreadable;
    const int64_t fileSize = stream.Size();
    const uint64_t left = fileSize > 0 && static_cast<uint64_t>(fileSize) > chunk->start ? static_cast<uint64_t>(fileSize) - chunk->start : 0;
    const uint64_t bytes = std::min(chunk->size, left);
    if (bytes == 0) return kSoundUnreadable;
    const uint32_t rate = ReadU32(format + 4);
    if (!IsPlayableRate(rate)) return kSoundUnknownFormat;

    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[bytes]);
    if (!block) return kSoundNoMemory;
    if (!stream.Seek(static_cast<int64_t>(chunk->start), kSeekFromStart) || stream.Read(block.get(), bytes) != bytes)
        return kSoundUnreadable;

    if (bits == 4) {
        std::unique_ptr<uint8_t[]> decoded;
        uint64_t decodedBytes = 0;
        if (const int code = DecodeAdpcmData({format, formatRead}, {block.get(), bytes}, decoded, decodedBytes)) return code;
        block = std::move(decoded);
        if (const int code = FinishSample(sample, block.get(), decodedBytes, 16, channels, rate)) return code;
    } else if (const int code = FinishSample(sample, block.get(), bytes, bits, channels, rate)) {
        return code;
    }
    sample.ownedData = std::move(block);
    return 0;
}

}  // namespace

int LoadWaveFile(SoundSample& sample, std::span<const uint16_t> path, int) {
    sample.Clear();
    const std::optional<std::string> hostPath = ResolveSoundPath(path);
    if (!hostPath) return kSoundCannotOpen;
    SwitchingStream stream;
    if (!stream.OpenFile(*hostPath)) return kSoundCannotOpen;
    const int code = LoadWaveStream(sample, stream);
    return code == 0 ? 0 : Fail(sample, code);
}

// The memory reader takes its fields at fixed offsets of the block; every
// read is bounded by the block's size.
int LoadWaveMemory(SoundSample& sample, const void* data, size_t size, int flags) {
    sample.Clear();
    if (!data) return kSoundNoMemory;
    const auto* block = static_cast<const uint8_t*>(data);
    if (size < kMemoryFixedFields || std::memcmp(block + 12, "fmt ", 4) != 0) return kSoundUnreadable;
    const uint64_t formatSize = ReadU32(block + 16);
    const int bits = ReadU16(block + 34);
    const int channels = ReadU16(block + 22);
    if (const int code = CheckBitsAndChannels(bits, channels)) return code;

    auto readAt = [block, size](uint64_t position, uint8_t* buffer, size_t count) {
        if (position > size || count > size - position) return false;
        std::memcpy(buffer, block + position, count);
        return true;
    };
    const std::optional<DataChunk> chunk = FindDataChunk(NextChunk(kFormatChunkData + formatSize, formatSize, readAt), readAt);
    if (!chunk) return kSoundUnreadable;
    const uint64_t bytes = std::min<uint64_t>(chunk->size, size - chunk->start);
    if (bytes == 0) return kSoundUnreadable;
    const uint32_t rate = ReadU32(block + 24);
    if (!IsPlayableRate(rate)) return kSoundUnknownFormat;
    const uint8_t* pcm = block + chunk->start;

    if (bits == 4) {
        const size_t formatBytes = static_cast<size_t>(std::min<uint64_t>(formatSize, size - kFormatChunkData));
        std::unique_ptr<uint8_t[]> decoded;
        uint64_t decodedBytes = 0;
        if (const int code = DecodeAdpcmData({block + kFormatChunkData, formatBytes}, {pcm, bytes}, decoded, decodedBytes))
            return Fail(sample, code);
        if (const int code = FinishSample(sample, decoded.get(), decodedBytes, 16, channels, rate)) return Fail(sample, code);
        sample.ownedData = std::move(decoded);
        return 0;
    }
    std::unique_ptr<uint8_t[]> copy;
    if (flags & kLoadCopy) {
        copy.reset(new (std::nothrow) uint8_t[bytes]);
        if (!copy) return kSoundNoMemory;
        std::memcpy(copy.get(), pcm, bytes);
        pcm = copy.get();
    }
    if (const int code = FinishSample(sample, pcm, bytes, bits, channels, rate)) return Fail(sample, code);
    sample.ownedData = std::move(copy);
    return 0;
}

}  // namespace qob
