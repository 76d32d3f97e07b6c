// tests/fuzz/lz_decoder_fuzz.cpp
// The LZ decoder on its own, over any stream and any output capacity.

#include "decoder_fuzz.h"
#include "runtime/data/lz_coder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qob::fuzz::DecodeWithCapacity(data, size, [](auto input, auto output) {
        return qob::LzUncompress(input, output);
    });
}
