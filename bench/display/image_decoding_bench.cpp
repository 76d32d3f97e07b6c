// bench/display/image_decoding_bench.cpp
// Decoding 1280 x 720 pictures into surfaces against a peer in the same run:
// a PNG and a JPEG against the same library decoding the same bytes into its
// own RGB rows, and a 24-bit BMP against memcpy over its pixel bytes. Every
// benchmark counts the picture's RGB bytes (width x height x 3) as processed,
// so the bytes per second of each pair compare directly.
#include <benchmark/benchmark.h>

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <png.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "display/images/image_decoding.h"
#include "platform/memory.h"

namespace {

using namespace qob;

constexpr int32_t kWidth = 1280;
constexpr int32_t kHeight = 720;
constexpr int64_t kRgbBytes = int64_t{kWidth} * kHeight * 3;

// Gradients, sharp-edged blocks and a little noise: something between a
// drawing and a photograph for the coders.
std::vector<uint8_t> MakeRgb() {
    std::vector<uint8_t> rgb(static_cast<size_t>(kRgbBytes));
    uint32_t noise = 12345;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245 + 12345;
            uint8_t* p = &rgb[size_t(y * kWidth + x) * 3];
            const bool block = (x / 64 + y / 48) % 3 == 0;
            p[0] = uint8_t(x * 255 / kWidth);
            p[1] = uint8_t(block ? 220 : y * 255 / kHeight);
            p[2] = uint8_t(((x ^ y) & 0x80 ? 200 : 40) + (noise >> 28));
        }
    return rgb;
}

void AppendPngBytes(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < kHeight; ++y) png_write_row(png, &rgb[size_t(y) * kWidth * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    for (int32_t y = 0; y < kHeight; ++y) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[size_t(y) * kWidth * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// 24-bit, bottom-up; 1280 x 3 bytes a row needs no padding.
std::vector<uint8_t> EncodeBmp(const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out(54, 0);
    auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out[at + size_t(i)] = uint8_t(value >> (8 * i));
    };
    out[0] = 'B', out[1] = 'M';
    put(2, uint32_t(54 + kRgbBytes), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, kWidth, 4);
    put(22, kHeight, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int32_t y = kHeight - 1; y >= 0; --y)
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t* p = &rgb[size_t(y * kWidth + x) * 3];
            out.insert(out.end(), {p[2], p[1], p[0]});
        }
    return out;
}

const std::vector<uint8_t>& Rgb() {
    static const std::vector<uint8_t> rgb = MakeRgb();
    return rgb;
}

void DecodeToSurface(benchmark::State& state, const std::vector<uint8_t>& file) {
    for (auto _ : state) {
        PixelSurface* surface = ImageToSurface(file);
        if (surface == nullptr) {
            state.SkipWithError("decoding failed");
            return;
        }
        benchmark::DoNotOptimize(surface->buffer->bits);
        SurfaceRelease(surface);
        platform::FreeBlock(surface);
    }
    state.SetBytesProcessed(state.iterations() * kRgbBytes);
}

void BM_PngToSurface(benchmark::State& state) {
    static const std::vector<uint8_t> png = EncodePng(Rgb());
    DecodeToSurface(state, png);
}
BENCHMARK(BM_PngToSurface);

struct PngReader {
    const uint8_t* next;
};
void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
    auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
    std::memcpy(out, reader->next, length);
    reader->next += length;
}

// The peer: libpng's own rows of RGB bytes.
void BM_LibpngToRgbRows(benchmark::State& state) {
    static const std::vector<uint8_t> png = EncodePng(Rgb());
    std::vector<uint8_t> rows(static_cast<size_t>(kRgbBytes));
    for (auto _ : state) {
        PngReader reader{png.data()};
        png_structp decoder = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(decoder);
        png_set_read_fn(decoder, &reader, ReadFromMemory);
        png_read_info(decoder, info);
        for (int32_t y = 0; y < kHeight; ++y) png_read_row(decoder, &rows[size_t(y) * kWidth * 3], nullptr);
        png_destroy_read_struct(&decoder, &info, nullptr);
        benchmark::DoNotOptimize(rows.data());
    }
    state.SetBytesProcessed(state.iterations() * kRgbBytes);
}
BENCHMARK(BM_LibpngToRgbRows);

void BM_JpegToSurface(benchmark::State& state) {
    static const std::vector<uint8_t> jpeg = EncodeJpeg(Rgb());
    DecodeToSurface(state, jpeg);
}
BENCHMARK(BM_JpegToSurface);

// The peer: libjpeg's own rows of RGB bytes, as many a call as it offers.
void BM_LibjpegToRgbRows(benchmark::State& state) {
    static const std::vector<uint8_t> jpeg = EncodeJpeg(Rgb());
    std::vector<uint8_t> rows(static_cast<size_t>(kRgbBytes));
    std::vector<JSAMPROW> pointers(kHeight);
    for (int32_t y = 0; y < kHeight; ++y) pointers[size_t(y)] = &rows[size_t(y) * kWidth * 3];
    for (auto _ : state) {
        jpeg_decompress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, jpeg.data(), jpeg.size());
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height)
            jpeg_read_scanlines(&info, &pointers[info.output_scanline], info.output_height - info.output_scanline);
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(rows.data());
    }
    state.SetBytesProcessed(state.iterations() * kRgbBytes);
}
BENCHMARK(BM_LibjpegToRgbRows);

void BM_Bmp24ToSurface(benchmark::State& state) {
    static const std::vector<uint8_t> bmp = EncodeBmp(Rgb());
    DecodeToSurface(state, bmp);
}
BENCHMARK(BM_Bmp24ToSurface);

// The peer: memcpy over the file's pixel bytes.
void BM_MemcpyBmpPixels(benchmark::State& state) {
    static const std::vector<uint8_t> bmp = EncodeBmp(Rgb());
    std::vector<uint8_t> copy(static_cast<size_t>(kRgbBytes));
    for (auto _ : state) {
        std::memcpy(copy.data(), bmp.data() + 54, size_t(kRgbBytes));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kRgbBytes);
}
BENCHMARK(BM_MemcpyBmpPixels);

}  // namespace
