// tests/fuzz/bmp_image_fuzz.cpp
// A BMP file's bytes through its decoder, then through ImageToSurface (see
// image_fuzz.h).

#include "display/images/bmp_decoder.h"
#include "fuzz_support.h"
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qob::fuzz::FuzzImageDecoder(data, size, qob::DecodeBmp);
}
