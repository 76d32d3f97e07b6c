// display/bitmap_file.cpp
// The ".bmp" writer.
#include "display/bitmap_file.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"

namespace qob {
namespace {

constexpr uint32_t kHeaderBytes = 66;

void PutLittleEndian(std::vector<uint8_t>& bytes, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> MakeHeader(uint32_t width, uint32_t height, uint32_t rowBytes) {
    std::vector<uint8_t> header;
    header.reserve(kHeaderBytes);
    const uint32_t imageBytes = rowBytes * height;
    header.push_back('B');
    header.push_back('M');
    PutLittleEndian(header, kHeaderBytes + imageBytes, 4);  // file size
    PutLittleEndian(header, 0, 4);                          // two reserved words
    PutLittleEndian(header, kHeaderBytes, 4);               // offset of the pixels
    PutLittleEndian(header, 40, 4);                         // information header size
    PutLittleEndian(header, width, 4);
    PutLittleEndian(header, height, 4);                     // positive: rows bottom-up
    PutLittleEndian(header, 1, 2);                          // planes
    PutLittleEndian(header, 16, 2);                         // bits per pixel
    PutLittleEndian(header, 3, 4);                          // BI_BITFIELDS
    PutLittleEndian(header, imageBytes, 4);
    for (int i = 0; i < 4; ++i) PutLittleEndian(header, 0, 4);  // resolutions, colours used and important
    PutLittleEndian(header, 0xF800, 4);
    PutLittleEndian(header, 0x07E0, 4);
    PutLittleEndian(header, 0x001F, 4);
    return header;
}

bool WriteBytes(std::FILE* file, const std::vector<uint8_t>& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool WriteBitmap(std::FILE* file, const PixelBuffer& buffer) {
    const uint32_t width = static_cast<uint32_t>(buffer.width), height = static_cast<uint32_t>(buffer.height);
    const uint32_t rowBytes = (2 * width + 3) & ~3u;
    if (!WriteBytes(file, MakeHeader(width, height, rowBytes))) return false;
    std::vector<uint8_t> row(rowBytes, 0);  // the padding stays zero
    for (int64_t y = int64_t{buffer.height} - 1; y >= 0; --y) {
        const uint16_t* pixels = PixelRow(buffer, y);
        for (uint32_t x = 0; x < width; ++x) {
            row[2 * x] = static_cast<uint8_t>(pixels[x]);
            row[2 * x + 1] = static_cast<uint8_t>(pixels[x] >> 8);
        }
        if (!WriteBytes(file, row)) return false;
    }
    return true;
}

}  // namespace

int SaveSurfaceBitmap(const PixelSurface* surface, const char* name) {
    if (surface == nullptr || name == nullptr || surface->buffer == nullptr) return 0;
    std::string path = std::string(name) + ".bmp";
    if (!platform::IsAbsolutePath(path)) path = platform::GetApplicationDirectory() + path;
    std::FILE* file = platform::OpenFile(path, "wb");
    if (file == nullptr) return 0;
    const bool written = WriteBitmap(file, *surface->buffer);
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return 1;
    (void)platform::DeleteFile(path);
    return 0;
}

}  // namespace qob
