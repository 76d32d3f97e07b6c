// display/images/png_decoder.cpp
// libpng over a bounded reader. libpng reports errors by longjmp back to the
// setjmp in ReadPicture, so no function between them keeps an object with a
// destructor, and everything that changes after the setjmp lives in the
// PngDecode record of the caller.
#include "display/images/png_decoder.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace qob {
namespace {

constexpr size_t kImageDataPiece = 256;

struct PngDecode {
    const uint8_t* next;   // the bounded reader: [next, end)
    const uint8_t* end;
    ImageSink* sink;
    png_structp png;
    png_infop info;
    uint8_t* scratch;      // one row, or the whole picture when interlaced (malloc)
    size_t rowBytes;       // of the scratch rows: 3 or 4 bytes a pixel
    int32_t width;
    int32_t height;
    bool alpha;            // the rows are RGBA
    int passes;            // 7 when interlaced, else 1
    bool interlaced;
    bool rowRead;          // png_read_row has given at least one row
    bool decoded;          // rows reached the sink
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void OnPngWarning(png_structp, png_const_charp) {}

// Reading past the end is an error (the picture was cut short).
void ReadPngBytes(png_structp png, png_bytep out, size_t length) {
    auto* decode = static_cast<PngDecode*>(png_get_io_ptr(png));
    if (length > size_t(decode->end - decode->next)) png_error(png, "read past the end of the data");
    std::memcpy(out, decode->next, length);
    decode->next += length;
}

// The transformations that leave 8-bit RGB, or RGBA when the picture has
// transparency.
void SetTransformations(png_structp png, png_infop info) {
    png_set_expand(png);
    png_set_palette_to_rgb(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
}

void ConvertRow(const PngDecode& decode, const uint8_t* source, int32_t y) {
    uint16_t* row = decode.sink->Row(y);
    if (decode.alpha)
        ConvertRgbaRow(source, row, decode.width);
    else
        ConvertRgbRow(source, row, decode.width);
}

// Header, sink, transformations and scratch; false when the picture is
// refused or no memory is left.
bool PrepareRows(PngDecode* decode) {
    png_read_info(decode->png, decode->info);
    const png_uint_32 width = png_get_image_width(decode->png, decode->info);
    const png_uint_32 height = png_get_image_height(decode->png, decode->info);
    if (width > INT32_MAX || height > INT32_MAX) return false;
    decode->width = static_cast<int32_t>(width);
    decode->height = static_cast<int32_t>(height);
    if (!decode->sink->Start(decode->width, decode->height)) return false;
    SetTransformations(decode->png, decode->info);
    decode->passes = png_set_interlace_handling(decode->png);
    decode->interlaced = decode->passes > 1;
    png_read_update_info(decode->png, decode->info);
    decode->rowBytes = png_get_rowbytes(decode->png, decode->info);
    decode->alpha = png_get_channels(decode->png, decode->info) == 4;
    decode->scratch = static_cast<uint8_t*>(std::calloc(decode->interlaced ? height : 1, decode->rowBytes));
    return decode->scratch != nullptr;
}

// Rows go straight through one scratch row. An interlaced picture builds up
// over its passes in a whole-picture scratch area, zero at first, which
// reaches the sink at the end, or when an error cuts the passes short after
// some row was read.
void ReadPicture(PngDecode* decode) {
    if (setjmp(png_jmpbuf(decode->png)) == 0) {
        if (!PrepareRows(decode)) return;
        for (int pass = 0; pass < decode->passes; ++pass) {
            for (int32_t y = 0; y < decode->height; ++y) {
                uint8_t* row = decode->interlaced ? decode->scratch + size_t(y) * decode->rowBytes : decode->scratch;
                png_read_row(decode->png, row, nullptr);
                decode->rowRead = true;
                if (decode->interlaced) continue;
                ConvertRow(*decode, row, y);
                decode->decoded = true;
            }
        }
    }
    if (!decode->interlaced || !decode->rowRead) return;
    for (int32_t y = 0; y < decode->height; ++y) ConvertRow(*decode, decode->scratch + size_t(y) * decode->rowBytes, y);
    decode->decoded = true;
}

}  // namespace

bool IsPngSignature(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
}

DecodeOutcome DecodePng(std::span<const uint8_t> bytes, ImageSink& sink) {
    if (!IsPngSignature(bytes)) return DecodeOutcome::Failed;
    PngDecode decode{};
    decode.next = bytes.data();
    decode.end = bytes.data() + bytes.size();
    decode.sink = &sink;
    decode.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (decode.png == nullptr) return DecodeOutcome::Failed;
    decode.info = png_create_info_struct(decode.png);
    if (decode.info != nullptr) {
        png_set_read_fn(decode.png, &decode, ReadPngBytes);
        // Image data is taken in small pieces, so that a picture cut short
        // keeps the rows before the cut (a piece that cannot be read whole
        // is lost with its rows).
        png_set_compression_buffer_size(decode.png, kImageDataPiece);
        ReadPicture(&decode);
    }
    png_destroy_read_struct(&decode.png, decode.info ? &decode.info : nullptr, nullptr);
    std::free(decode.scratch);
    return decode.decoded ? DecodeOutcome::Decoded : DecodeOutcome::Failed;
}

}  // namespace qob
