// tests/fuzz/prefix_decoder_fuzz.cpp
// The prefix-code decoder on its own, over any stream and any output capacity.

#include "decoder_fuzz.h"
#include "runtime/data/prefix_coder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qob::fuzz::DecodeWithCapacity(data, size, [](auto input, auto output) {
        return qob::ShannonFanoUncompress(input, output);
    });
}
