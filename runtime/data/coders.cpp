// runtime/data/coders.cpp
// Dispatch of the byte coders by method.
#include "runtime/data/coders.h"

#include "runtime/data/lz_coder.h"
#include "runtime/data/prefix_coder.h"
#include "runtime/data/rle_coder.h"

namespace qob {

size_t CompressBound(CoderMethod method, size_t inputLength) {
    switch (method) {
    case CoderMethod::Rle: return RleCompressBound(inputLength);
    case CoderMethod::ShannonFano: return ShannonFanoCompressBound(inputLength);
    case CoderMethod::Lz: return LzCompressBound(inputLength);
    }
    return 0;
}

CoderResult Compress(CoderMethod method, std::span<const uint8_t> input,
                     std::span<uint8_t> output) {
    switch (method) {
    case CoderMethod::Rle: return RleCompress(input, output);
    case CoderMethod::ShannonFano: return ShannonFanoCompress(input, output);
    case CoderMethod::Lz: return LzCompress(input, output);
    }
    return {CoderStatus::UnknownMethod, 0};
}

CoderResult Uncompress(CoderMethod method, std::span<const uint8_t> input,
                       std::span<uint8_t> output) {
    switch (method) {
    case CoderMethod::Rle: return RleUncompress(input, output);
    case CoderMethod::ShannonFano: return ShannonFanoUncompress(input, output);
    case CoderMethod::Lz: return LzUncompress(input, output);
    }
    return {CoderStatus::UnknownMethod, 0};
}

}  // namespace qob
