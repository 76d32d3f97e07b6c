// display/images/image_resource.cpp
// Resource bytes to surfaces, and device bitmaps to surfaces.
#include "display/images/image_resource.h"

#include <cstring>
#include <vector>

#include "display/images/image_decoding.h"
#include "platform/gdi.h"
#include "platform/memory.h"

namespace qob {
namespace {

uint32_t ReadLe32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint32_t ReadLe16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }

void FreeSurface(PixelSurface* surface) {
    SurfaceRelease(surface);
    platform::FreeBlock(surface);
}

// The information header of a packed DIB: where its pixels start when a
// 14-byte file header is put in front (past the header and the masks or
// palette that follow it). False when the header cannot be read or the
// picture is larger than a device bitmap can be.
bool ReadPackedHeader(const uint8_t* bytes, size_t size, uint64_t* offset) {
    if (size < 16) return false;
    const uint32_t headerBytes = ReadLe32(bytes);
    uint64_t tableBytes = 0;
    int64_t width, height;
    if (headerBytes == 12) {
        const uint32_t bits = ReadLe16(bytes + 10);
        if (bits <= 8) tableBytes = 3u << bits;
        width = ReadLe16(bytes + 4);
        height = ReadLe16(bytes + 6);
    } else if (headerBytes >= 40 && size >= 40) {
        const uint32_t bits = ReadLe16(bytes + 14), compression = ReadLe32(bytes + 16), used = ReadLe32(bytes + 32);
        if (bits <= 8) tableBytes = 4 * uint64_t(used != 0 && used < (1u << bits) ? used : 1u << bits);
        else if (headerBytes == 40 && compression == 3) tableBytes = 12;
        else if (headerBytes == 40 && compression == 6) tableBytes = 16;
        width = int32_t(ReadLe32(bytes + 4));
        height = int32_t(ReadLe32(bytes + 8));
    } else {
        return false;
    }
    // Larger pictures are refused before anything of their size is decoded.
    if (height < 0) height = -height;
    if (width > platform::kMaxBitmapSide || height > platform::kMaxBitmapSide) return false;
    *offset = 14 + uint64_t{headerBytes} + tableBytes;
    return *offset <= 14 + uint64_t{size};
}

// A packed DIB as a BMP file, the file header in front; a BMP file as it
// is. Empty when ReadPackedHeader refuses its header.
std::vector<uint8_t> AsBmpFile(const uint8_t* bytes, size_t size) {
    uint64_t offset = 0;
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        if (size < 14 || !ReadPackedHeader(bytes + 14, size - 14, &offset)) return {};
        return std::vector<uint8_t>(bytes, bytes + size);
    }
    if (!ReadPackedHeader(bytes, size, &offset)) return {};
    const uint64_t total = 14 + uint64_t{size};
    if (total > UINT32_MAX) return {};
    std::vector<uint8_t> file(14);
    file[0] = 'B';
    file[1] = 'M';
    for (int i = 0; i < 4; ++i) file[2 + i] = uint8_t(total >> (8 * i)), file[10 + i] = uint8_t(offset >> (8 * i));
    file.insert(file.end(), bytes, bytes + size);
    return file;
}

}  // namespace

// A failure at any step, before any pixel arrived, gives null and leaves
// nothing behind.
PixelSurface* BitmapToSurface(uintptr_t bitmap) {
    platform::BITMAP description{};
    if (platform::GetObjectW(bitmap, sizeof description, &description) != int(sizeof description)) return nullptr;
    if (description.bmWidth < 1 || description.bmHeight < 1) return nullptr;
    PixelSurface* surface = NewSurface(description.bmWidth, description.bmHeight);
    if (surface == nullptr) return nullptr;
    const uintptr_t dc = SurfaceGetDC(surface, 1);
    if (dc == 0) {
        FreeSurface(surface);
        return nullptr;
    }
    const platform::HDC memory = platform::CreateCompatibleDC(0);
    const bool copied = memory != 0 && platform::SelectObject(memory, bitmap) != 0 &&
                        platform::BitBlt(dc, 0, 0, description.bmWidth, description.bmHeight, memory, 0, 0,
                                         platform::SRCCOPY);
    if (memory != 0) platform::DeleteDC(memory);
    SurfaceReleaseDC(surface, dc);
    if (!copied) {
        FreeSurface(surface);
        return nullptr;
    }
    return surface;
}

uintptr_t LoadBitmapResource(const void* module, platform::ResourceText name) {
    const platform::ResourceHandle resource = platform::FindResourceW(module, name, kBitmapResource);
    if (resource == nullptr) return 0;
    const auto* bytes = static_cast<const uint8_t*>(platform::LockResource(platform::LoadResource(module, resource)));
    if (bytes == nullptr) return 0;
    return DeviceBitmapFromBytes(std::span(bytes, platform::SizeofResource(module, resource)));
}

uintptr_t DeviceBitmapFromBytes(std::span<const uint8_t> bytes) {
    const std::vector<uint8_t> file = AsBmpFile(bytes.data(), bytes.size());
    if (DetectImageFormat(file) != ImageFormat::Bmp) return 0;
    PixelSurface* picture = ImageToSurface(file);
    if (picture == nullptr) return 0;
    const int32_t width = picture->buffer->width, height = picture->buffer->height;
    uintptr_t bitmap = platform::CreateCompatibleBitmap(0, width, height);
    const uintptr_t dc = bitmap != 0 ? SurfaceGetDC(picture, 0) : 0;
    const platform::HDC memory = dc != 0 ? platform::CreateCompatibleDC(0) : 0;
    const bool copied = memory != 0 && platform::SelectObject(memory, bitmap) != 0 &&
                        platform::BitBlt(memory, 0, 0, width, height, dc, 0, 0, platform::SRCCOPY);
    if (memory != 0) platform::DeleteDC(memory);
    if (dc != 0) SurfaceReleaseDC(picture, dc);
    FreeSurface(picture);
    if (!copied && bitmap != 0) {
        platform::DeleteObject(bitmap);
        bitmap = 0;
    }
    return bitmap;
}

PixelSurface* LoadImageResource(platform::ResourceText name, platform::ResourceText type, const void* module) {
    if (type != kBitmapResource) {
        const platform::ResourceHandle resource = platform::FindResourceW(module, name, type);
        if (resource != nullptr) {
            const auto* bytes =
                static_cast<const uint8_t*>(platform::LockResource(platform::LoadResource(module, resource)));
            if (bytes == nullptr) return nullptr;
            return DecodeImageMemory(bytes, bytes + platform::SizeofResource(module, resource));
        }
    }
    // The bitmap way: a bitmap resource of that name, if any.
    const uintptr_t bitmap = LoadBitmapResource(module, name);
    if (bitmap == 0) return nullptr;
    PixelSurface* surface = BitmapToSurface(bitmap);
    platform::DeleteObject(bitmap);
    return surface;
}

}  // namespace qob
