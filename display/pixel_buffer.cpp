// display/pixel_buffer.cpp
// Making and destroying pixel buffers in low memory.
#include "display/pixel_buffer.h"

#include "platform/memory.h"

namespace qob {

PixelBuffer::~PixelBuffer() {
    if (ownsBits) platform::FreeBlock(bits);
}

void* PixelBuffer::operator new(size_t size, const std::nothrow_t&) noexcept { return platform::AllocateBlock(size); }

void PixelBuffer::operator delete(void* record) noexcept { platform::FreeBlock(record); }

void PixelBuffer::operator delete(void* record, const std::nothrow_t&) noexcept { platform::FreeBlock(record); }

PixelBuffer* CreatePixelBuffer(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return nullptr;
    const int64_t pitch = ComputePitch(width);
    if (pitch > kMaxPixelBufferBytes || pitch * height > kMaxPixelBufferBytes) return nullptr;
    auto* bits = static_cast<uint8_t*>(platform::AllocateBlock(static_cast<size_t>(pitch * height)));
    if (bits == nullptr) return nullptr;
    auto* buffer = new (std::nothrow) PixelBuffer(width, height, static_cast<int32_t>(pitch), bits, true);
    if (buffer == nullptr) platform::FreeBlock(bits);
    return buffer;
}

}  // namespace qob
