// display/images/gif_decoder.cpp
// giflib over a bounded reader: the records up to the first image, then its
// lines. giflib reports errors by its results, not by jumps.
#include "display/images/gif_decoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace qob {
namespace {

struct GifSource {
    const uint8_t* next;
    const uint8_t* end;
};

// Gives what is left when asked for more; giflib takes a short read as an error.
int ReadGifBytes(GifFileType* gif, GifByteType* out, int length) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    const size_t count = std::min(size_t(std::max(length, 0)), size_t(source->end - source->next));
    std::memcpy(out, source->next, count);
    source->next += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// Skips records up to the first image's descriptor, keeping the transparent
// index of the graphic control block that comes last before it (-1: none).
bool FindFirstImage(GifFileType* gif, int& transparent) {
    transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return DGifGetImageDesc(gif) != GIF_ERROR;
        if (type != EXTENSION_RECORD_TYPE) return false;  // the end, with no image
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
            GraphicsControlBlock control;
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) transparent = control.TransparentColor;
        }
        while (block != nullptr)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
}

// RGB565 of every index: the image's own colour table, else the screen's;
// black past its end and for the transparent index.
std::array<uint16_t, 256> MakePalette(const GifFileType& gif, int transparent) {
    std::array<uint16_t, 256> palette{};
    const ColorMapObject* map = gif.Image.ColorMap ? gif.Image.ColorMap : gif.SColorMap;
    if (map != nullptr)
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
            palette[size_t(i)] = PackRgb565(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    if (transparent >= 0 && transparent < 256) palette[size_t(transparent)] = 0;
    return palette;
}

// The picture row that the n-th line of an interlaced image fills: rows 0, 8,
// 16, ... first, then 4, 12, ..., then 2, 6, ..., then the odd rows.
int32_t InterlacedRow(int32_t line, int32_t height) {
    constexpr int32_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int32_t count = height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
        if (line < count) return kStart[pass] + line * kStep[pass];
        line -= count;
    }
    return height;  // not reached for line < height
}

}  // namespace

bool IsGifSignature(std::span<const uint8_t> bytes) {
    return bytes.size() >= 6 && (std::memcmp(bytes.data(), "GIF87a", 6) == 0 || std::memcmp(bytes.data(), "GIF89a", 6) == 0);
}

DecodeOutcome DecodeGif(std::span<const uint8_t> bytes, ImageSink& sink) {
    if (!IsGifSignature(bytes)) return DecodeOutcome::Failed;
    GifSource source{bytes.data(), bytes.data() + bytes.size()};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadGifBytes, &error));
    int transparent;
    if (gif == nullptr || !FindFirstImage(gif.get(), transparent)) return DecodeOutcome::Failed;

    const GifImageDesc& image = gif->Image;
    const int32_t width = std::max<int32_t>(gif->SWidth, image.Left + image.Width);
    const int32_t height = std::max<int32_t>(gif->SHeight, image.Top + image.Height);
    if (image.Width <= 0 || image.Height <= 0 || !sink.Start(width, height)) return DecodeOutcome::Failed;
    const std::array<uint16_t, 256> palette = MakePalette(*gif, transparent);
    std::vector<GifPixelType> line(size_t(image.Width));
    bool decoded = false;
    for (int32_t n = 0; n < image.Height; ++n) {
        if (DGifGetLine(gif.get(), line.data(), image.Width) == GIF_ERROR) break;
        const int32_t y = image.Top + (image.Interlace ? InterlacedRow(n, image.Height) : n);
        uint16_t* row = sink.Row(y);
        std::fill(row, row + width, uint16_t{0});
        for (int32_t x = 0; x < image.Width; ++x) row[image.Left + x] = palette[line[size_t(x)]];
        decoded = true;
    }
    return decoded ? DecodeOutcome::Decoded : DecodeOutcome::Failed;
}

}  // namespace qob
