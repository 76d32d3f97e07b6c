// sound/vorbis_decoder.h
// The Ogg Vorbis decoder handle: Tremor's decoder state over a SoundStream,
// with a read position of its own so that several decoders share a stream.
#pragma once

#include <tremor/ivorbisfile.h>

#include <cstddef>
#include <cstdint>

#include "sound/sound_stream.h"

namespace qob {

struct VorbisDecoder {
    OggVorbis_File file;
    int64_t readPosition = 0;       // the decoder's own offset in the stream
    SoundStream* stream = nullptr;  // the sample's; not owned
};

// Tremor's callbacks over a decoder handle. The read callback leaves the
// stream's own position as it found it, so every read must happen under the
// one lock that all users of the stream hold (the device lock).
size_t VorbisReadCallback(void* buffer, size_t elementSize, size_t count, void* handle);
// C library origins (SEEK_SET, SEEK_CUR, SEEK_END with the offset added to
// the size); 0, or -1 for another origin or a position below 0.
int VorbisSeekCallback(void* handle, ogg_int64_t offset, int origin);
int VorbisCloseCallback(void* handle);  // 0: the stream belongs to the sample
long VorbisTellCallback(void* handle);

// A decoder opened on the stream, or null when the data is not Ogg Vorbis or
// memory runs out.
[[nodiscard]] VorbisDecoder* OpenVorbisDecoder(SoundStream* stream);
// ov_clear and free; a null decoder is ignored.
void CloseVorbisDecoder(VorbisDecoder* decoder);

}  // namespace qob
