// display/images/jpeg_decoder.cpp
// libjpeg over a bounded source. libjpeg's errors leave through the error
// manager's longjmp back to the setjmp in ReadPicture, so no function between
// them keeps an object with a destructor, and everything that changes after
// the setjmp lives in the JpegDecode record of the caller.
#include "display/images/jpeg_decoder.h"

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>

namespace qob {
namespace {

struct JpegDecode {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_source_mgr source;
    std::jmp_buf exit;
    const uint8_t* end;     // of the data
    ImageSink* sink;
    uint8_t* scratch;       // one output row (malloc)
    // Where the data ran out: the scan, and the iMCU row it was reading.
    bool ranOut;
    int cutScan;
    JDIMENSION cutRow;
    bool decoded;           // rows reached the sink
};

JpegDecode& DecodeOf(j_common_ptr info) { return *static_cast<JpegDecode*>(info->client_data); }

[[noreturn]] void OnJpegError(j_common_ptr info) { std::longjmp(DecodeOf(info).exit, 1); }

// Warnings (damaged data that the decoder reads past) and traces are not shown.
void OnJpegMessage(j_common_ptr, int) {}
void OnJpegOutput(j_common_ptr) {}

void OnSourceStart(j_decompress_ptr) {}
void OnSourceEnd(j_decompress_ptr) {}

// Past the end the decoder is given an end-of-image marker, as often as it
// asks: it then fills what is missing with nothing and finishes. The first
// time notes where the data ran out. A file that lacks only its final marker
// runs out after its last row and loses nothing.
boolean FillSource(j_decompress_ptr info) {
    static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
    JpegDecode& decode = DecodeOf(reinterpret_cast<j_common_ptr>(info));
    if (!decode.ranOut) {
        decode.ranOut = true;
        decode.cutScan = info->input_scan_number;
        decode.cutRow = info->input_iMCU_row;
    }
    info->src->next_input_byte = kEndOfImage;
    info->src->bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void SkipSource(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr& source = *info->src;
    if (size_t(count) <= source.bytes_in_buffer) {
        source.next_input_byte += count;
        source.bytes_in_buffer -= size_t(count);
    } else {
        // Past the data, or past the marker given after it: the next read
        // finds the end.
        source.next_input_byte += source.bytes_in_buffer;
        source.bytes_in_buffer = 0;
    }
}

// The rows to decode: all of them, unless the data ran out while the first
// scan was read, when rows below the iMCU row it was reading had no data.
JDIMENSION RowsWithData(const JpegDecode& decode) {
    const JDIMENSION height = decode.info.output_height;
    if (!decode.ranOut || decode.cutScan > 1) return height;
    const JDIMENSION rowsPerImcu = JDIMENSION(decode.info.max_v_samp_factor) * DCTSIZE;
    const uint64_t rows = (uint64_t{decode.cutRow} + 1) * rowsPerImcu;
    return rows < height ? JDIMENSION(rows) : height;
}

void ConvertRow(const JpegDecode& decode, const uint8_t* source, uint16_t* row) {
    const int32_t width = int32_t(decode.info.output_width);
    if (decode.info.out_color_space != JCS_CMYK) {
        ConvertRgbRow(source, row, width);
        return;
    }
    // Files with the Adobe marker store CMYK inverted (0 is full ink).
    const bool inverted = decode.info.saw_Adobe_marker;
    for (int32_t x = 0; x < width; ++x, source += 4) {
        const uint32_t flip = inverted ? 0 : 255;
        const uint32_t keep = source[3] ^ flip;  // 255 - black
        row[x] = PackRgb565(OverBlack(source[0] ^ flip, keep), OverBlack(source[1] ^ flip, keep),
                            OverBlack(source[2] ^ flip, keep));
    }
}

// Header, sink, colour space, scratch and start; false when there is no
// image data, the picture is refused or no memory is left.
bool Prepare(JpegDecode* decode) {
    jpeg_decompress_struct& info = decode->info;
    jpeg_read_header(&info, TRUE);
    // The header is read up to the first scan: data that ran out in it, or
    // ends with it, has no row.
    if (decode->ranOut || info.src->bytes_in_buffer == 0) return false;
    if (info.image_width > INT32_MAX || info.image_height > INT32_MAX ||
        !decode->sink->Start(int32_t(info.image_width), int32_t(info.image_height))) {
        return false;
    }
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    decode->scratch = static_cast<uint8_t*>(std::malloc(size_t(info.image_width) * (cmyk ? 4 : 3)));
    if (decode->scratch == nullptr) return false;
    jpeg_start_decompress(&info);
    return true;
}

void ReadPicture(JpegDecode* decode) {
    if (setjmp(decode->exit) != 0) return;
    jpeg_decompress_struct& info = decode->info;
    if (!Prepare(decode)) return;
    JSAMPROW row = decode->scratch;
    while (info.output_scanline < RowsWithData(*decode)) {
        const JDIMENSION y = info.output_scanline;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) return;
        ConvertRow(*decode, decode->scratch, decode->sink->Row(int32_t(y)));
        decode->decoded = true;
    }
}

}  // namespace

bool IsJpegSignature(std::span<const uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

DecodeOutcome DecodeJpeg(std::span<const uint8_t> bytes, ImageSink& sink) {
    if (!IsJpegSignature(bytes)) return DecodeOutcome::Failed;
    auto* decode = static_cast<JpegDecode*>(std::calloc(1, sizeof(JpegDecode)));
    if (decode == nullptr) return DecodeOutcome::Failed;
    decode->end = bytes.data() + bytes.size();
    decode->sink = &sink;
    decode->info.err = jpeg_std_error(&decode->errors);
    decode->errors.error_exit = OnJpegError;
    decode->errors.emit_message = OnJpegMessage;
    decode->errors.output_message = OnJpegOutput;
    decode->info.client_data = decode;
    bool created = false;
    if (setjmp(decode->exit) == 0) {
        jpeg_create_decompress(&decode->info);
        created = true;
    }
    if (created) {
        decode->source = jpeg_source_mgr{bytes.data(), bytes.size(), OnSourceStart, FillSource, SkipSource,
                                         jpeg_resync_to_restart, OnSourceEnd};
        decode->info.src = &decode->source;
        ReadPicture(decode);
        jpeg_destroy_decompress(&decode->info);
    }
    const bool decoded = decode->decoded;
    std::free(decode->scratch);
    std::free(decode);
    return decoded ? DecodeOutcome::Decoded : DecodeOutcome::Failed;
}

}  // namespace qob
