// display/dib_pixel_buffer.cpp
// Making and destroying DIB-section pixel buffers.
#include "display/dib_pixel_buffer.h"

#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob {

DibPixelBuffer* DibPixelBuffer::Create(int32_t width, int32_t height) {
    if (width < 1 || height < 1) return nullptr;
    const int64_t pitch = ComputePitch(width);
    if (pitch * height > kMaxPixelBufferBytes) return nullptr;
    platform::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(platform::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // rows top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 16;
    info.bmiHeader.biCompression = platform::BI_BITFIELDS;
    info.bmiHeader.biSizeImage = static_cast<uint32_t>(int64_t{width} * height * 2);
    info.bmiColors[0] = 0xF800;
    info.bmiColors[1] = 0x07E0;
    info.bmiColors[2] = 0x001F;
    void* bits = nullptr;
    const platform::HBITMAP bitmap = platform::CreateDIBSection(0, &info, platform::DIB_RGB_COLORS, &bits, 0, 0);
    if (bitmap == 0 || bits == nullptr) {
        if (bitmap) platform::DeleteObject(bitmap);
        return nullptr;
    }
    auto* buffer = new (std::nothrow)
        DibPixelBuffer(width, height, static_cast<int32_t>(pitch), static_cast<uint8_t*>(bits));
    if (buffer == nullptr) {
        platform::DeleteObject(bitmap);
        return nullptr;
    }
    buffer->bitmap = bitmap;
    const platform::HDC screen = platform::GetDC(0);
    buffer->dc = platform::CreateCompatibleDC(screen);
    if (screen) platform::ReleaseDC(0, screen);
    if (buffer->dc == 0 || platform::SelectObject(buffer->dc, bitmap) == 0) {
        delete buffer;
        return nullptr;
    }
    return buffer;
}

DibPixelBuffer::~DibPixelBuffer() {
    if (dc) platform::DeleteDC(dc);
    if (bitmap) platform::DeleteObject(bitmap);
}

}  // namespace qob
