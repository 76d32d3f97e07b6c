// display/pixel_buffer.h
// A block of RGB565 pixels in rows top-down: its size, row pitch and bits, made
// from the low-memory allocator so that programs can hold its address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace qob {

// The most bytes one buffer may hold. Sizes come from scripts and image
// headers; anything larger is refused rather than wrapped.
constexpr int64_t kMaxPixelBufferBytes = int64_t{256} << 20;

// Bytes per row of a buffer the library makes: two per pixel, rounded up so
// that every row starts on a 4-byte boundary. Computed in 64 bits.
[[nodiscard]] constexpr int64_t ComputePitch(int64_t width) { return (2 * width + 3) & ~int64_t{3}; }

// Buffers the library makes own their bits; a buffer over memory that belongs
// to someone else (a device frame buffer, a view into a larger picture) does
// not, and may carry any pitch. Records live in low memory as well; destroy a
// buffer with `delete`, which frees owned bits.
class PixelBuffer {
public:
    PixelBuffer(int32_t width, int32_t height, int32_t pitch, uint8_t* bits, bool ownsBits)
        : width(width), height(height), pitch(pitch), bits(bits), ownsBits(ownsBits) {}
    virtual ~PixelBuffer();
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* record) noexcept;
    static void operator delete(void* record, const std::nothrow_t&) noexcept;

    int32_t width;
    int32_t height;
    int32_t pitch;   // bytes from one row to the next
    uint8_t* bits;   // pixel (0, 0)
    bool ownsBits;   // the destructor frees bits
};

// A new buffer of that size with the library's pitch; the pixels are not
// cleared. Null when width or height is negative, when the pitch or the whole
// size exceeds kMaxPixelBufferBytes, or when memory ran out (nothing stays
// allocated then). A zero width or height gives a valid empty buffer.
[[nodiscard]] PixelBuffer* CreatePixelBuffer(int32_t width, int32_t height);

// The row and the pixel at a position; the caller has checked the bounds.
[[nodiscard]] inline uint16_t* PixelRow(const PixelBuffer& buffer, int64_t y) {
    return reinterpret_cast<uint16_t*>(buffer.bits + buffer.pitch * y);
}
[[nodiscard]] inline uint16_t* PixelAt(const PixelBuffer& buffer, int64_t x, int64_t y) {
    return PixelRow(buffer, y) + x;
}

}  // namespace qob
