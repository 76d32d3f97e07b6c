// display/images/image_decoding.cpp
// Telling formats apart, and the sink that makes the new surface.
#include "display/images/image_decoding.h"

#include <cassert>
#include <cstring>
#include <vector>

#include "display/images/bmp_decoder.h"
#include "display/images/gif_decoder.h"
#include "display/images/jpeg_decoder.h"
#include "display/images/png_decoder.h"
#include "platform/memory.h"

namespace qob {
namespace {

// Makes the surface when the decoder announces the size, and keeps track of
// the rows handed out, so that the rest can be cleared at the end (a new
// buffer's pixels are not cleared, and clearing every row first would cost
// a pass over the whole picture). Owns the surface until Take.
class SurfaceSink final : public ImageSink {
public:
    SurfaceSink() = default;
    SurfaceSink(const SurfaceSink&) = delete;
    SurfaceSink& operator=(const SurfaceSink&) = delete;
    ~SurfaceSink() override { ReleaseSurface(); }

    bool Start(int32_t width, int32_t height) override {
        assert(surface == nullptr);
        // The cap is the pixel buffers' own; tested here first so that a
        // size from a damaged header never reaches any allocation.
        if (width <= 0 || height <= 0) return false;
        if (ComputePitch(width) * height > kMaxPixelBufferBytes) return false;
        surface = NewSurface(width, height);
        if (surface == nullptr) return false;
        rowsGiven.assign(static_cast<size_t>(height), false);
        return true;
    }

    uint16_t* Row(int32_t y) override {
        assert(surface != nullptr && y >= 0 && y < surface->buffer->height);
        rowCount += !rowsGiven[static_cast<size_t>(y)];
        rowsGiven[static_cast<size_t>(y)] = true;
        return PixelRow(*surface->buffer, y);
    }

    // The finished surface, its rows never handed out cleared to black.
    // Null (and the surface released) when no picture was started or no
    // row was handed out: nothing was decoded.
    PixelSurface* Take() {
        if (surface == nullptr || rowCount == 0) return nullptr;
        PixelBuffer& buffer = *surface->buffer;
        for (int32_t y = 0; y < buffer.height; ++y)
            if (!rowsGiven[static_cast<size_t>(y)]) std::memset(PixelRow(buffer, y), 0, size_t(buffer.width) * 2);
        PixelSurface* taken = surface;
        surface = nullptr;
        return taken;
    }

private:
    void ReleaseSurface() {
        if (surface == nullptr) return;
        SurfaceRelease(surface);
        platform::FreeBlock(surface);
        surface = nullptr;
    }

    PixelSurface* surface = nullptr;
    std::vector<bool> rowsGiven;
    int32_t rowCount = 0;  // rows handed out at least once
};

}  // namespace

ImageFormat DetectImageFormat(std::span<const uint8_t> bytes) {
    if (IsPngSignature(bytes)) return ImageFormat::Png;
    if (IsJpegSignature(bytes)) return ImageFormat::Jpeg;
    if (IsGifSignature(bytes)) return ImageFormat::Gif;
    if (IsBmpSignature(bytes)) return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

DecodeOutcome DecodeImage(std::span<const uint8_t> bytes, ImageSink& sink) {
    switch (DetectImageFormat(bytes)) {
        case ImageFormat::Png: return DecodePng(bytes, sink);
        case ImageFormat::Jpeg: return DecodeJpeg(bytes, sink);
        case ImageFormat::Gif: return DecodeGif(bytes, sink);
        case ImageFormat::Bmp: return DecodeBmp(bytes, sink);
        case ImageFormat::Unknown: break;
    }
    return DecodeOutcome::Failed;
}

PixelSurface* ImageToSurface(std::span<const uint8_t> bytes) {
    SurfaceSink sink;
    if (DecodeImage(bytes, sink) != DecodeOutcome::Decoded) return nullptr;
    return sink.Take();
}

PixelSurface* DecodeImageMemory(const void* start, const void* end) {
    if (start == nullptr || end == nullptr || end < start) return nullptr;
    const auto* first = static_cast<const uint8_t*>(start);
    return ImageToSurface(std::span(first, static_cast<const uint8_t*>(end)));
}

}  // namespace qob
