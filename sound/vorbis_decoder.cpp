// sound/vorbis_decoder.cpp
// Tremor's four stream callbacks and the decoder handle's opening and closing.
#include "sound/vorbis_decoder.h"

#include <cstdio>
#include <limits>
#include <new>

namespace qob {

size_t VorbisReadCallback(void* buffer, size_t elementSize, size_t count, void* handle) {
    auto* decoder = static_cast<VorbisDecoder*>(handle);
    if (!decoder || !decoder->stream || elementSize == 0 || count == 0) return 0;
    SoundStream& stream = *decoder->stream;
    const int64_t size = stream.Size();
    if (decoder->readPosition < 0 || size < 0 || decoder->readPosition > size) return 0;
    const int64_t remembered = stream.Tell();
    if (!stream.Seek(decoder->readPosition, kSeekFromStart)) return 0;
    const size_t wanted = count > std::numeric_limits<size_t>::max() / elementSize ? std::numeric_limits<size_t>::max()
                                                                                   : elementSize * count;
    const size_t read = stream.Read(buffer, wanted);
    decoder->readPosition += static_cast<int64_t>(read);
    if (remembered >= 0) (void)stream.Seek(remembered, kSeekFromStart);
    return read / elementSize;
}

int VorbisSeekCallback(void* handle, ogg_int64_t offset, int origin) {
    auto* decoder = static_cast<VorbisDecoder*>(handle);
    if (!decoder || !decoder->stream) return -1;
    int64_t base;
    switch (origin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = decoder->readPosition; break;
        case SEEK_END: base = decoder->stream->Size(); break;
        default: return -1;
    }
    if (base < 0) return -1;
    if (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) return -1;
    const int64_t target = base + offset;
    if (target < 0) return -1;
    decoder->readPosition = target;
    return 0;
}

int VorbisCloseCallback(void*) { return 0; }

long VorbisTellCallback(void* handle) {
    auto* decoder = static_cast<VorbisDecoder*>(handle);
    return decoder ? static_cast<long>(decoder->readPosition) : -1;
}

VorbisDecoder* OpenVorbisDecoder(SoundStream* stream) {
    if (!stream) return nullptr;
    auto* decoder = new (std::nothrow) VorbisDecoder;
    if (!decoder) return nullptr;
    decoder->stream = stream;
    const ov_callbacks callbacks{VorbisReadCallback, VorbisSeekCallback, VorbisCloseCallback, VorbisTellCallback};
    // On failure Tremor has already cleared the decoder state.
    if (ov_open_callbacks(decoder, &decoder->file, nullptr, 0, callbacks) != 0) {
        delete decoder;
        return nullptr;
    }
    return decoder;
}

void CloseVorbisDecoder(VorbisDecoder* decoder) {
    if (!decoder) return;
    ov_clear(&decoder->file);
    delete decoder;
}

}  // namespace qob
