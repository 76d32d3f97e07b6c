// tests/fuzz/rle_decoder_fuzz.cpp
// The run-length decoder on its own, over any stream and any output capacity.

#include "decoder_fuzz.h"
#include "runtime/data/rle_coder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qob::fuzz::DecodeWithCapacity(data, size, [](auto input, auto output) {
        return qob::RleUncompress(input, output);
    });
}
