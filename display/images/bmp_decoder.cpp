// display/images/bmp_decoder.cpp
// The BMP reader: headers checked against the data's end before any pixel is
// read, then whole rows converted one by one.
#include "display/images/bmp_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace qob {
namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;  // 16-bit sizes, 3-byte palette entries

// Compression codes of the information header.
constexpr uint32_t kPlainRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kAlphaBitFields = 6;

uint32_t ReadLe16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
uint32_t ReadLe32(const uint8_t* p) { return ReadLe16(p) | ReadLe16(p + 2) << 16; }

// One colour channel of a bit-field pixel: its mask's position and width,
// and the scale that takes its values to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(uint32_t fieldMask) : mask(fieldMask) {
        if (mask == 0) return;
        shift = std::countr_zero(mask);
        bits = 32 - std::countl_zero(mask >> shift);
    }
    uint32_t Extract(uint32_t pixel) const {
        if (bits == 0) return 0;
        const uint32_t value = (pixel & mask) >> shift;
        if (bits >= 8) return value >> (bits - 8);
        const uint32_t most = (1u << bits) - 1;
        return (value * 255 + most / 2) / most;
    }
};

struct BmpLayout {
    int32_t width = 0;
    int32_t height = 0;        // rows, always positive
    bool topDown = false;
    uint32_t bitsPerPixel = 0;
    uint32_t masks[3] = {0, 0, 0};      // red, green, blue for 16 and 32 bits
    std::array<uint16_t, 256> palette{};  // RGB565 of each index; black past the colours given
    size_t pixelOffset = 0;
    size_t rowStride = 0;  // bytes from one row to the next, padding included
    size_t rowBytes = 0;   // bytes a row's pixels need
    bool runLength = false;  // RLE8 or RLE4: pixelOffset starts the runs
};

// Reads the headers, masks and palette. False for anything we do not read or
// that does not fit in the data.
bool ReadLayout(std::span<const uint8_t> bytes, BmpLayout& layout) {
    const size_t size = bytes.size();
    const uint8_t* data = bytes.data();
    if (size < kFileHeaderBytes + 4) return false;
    const uint32_t headerBytes = ReadLe32(data + kFileHeaderBytes);
    const bool core = headerBytes == kCoreHeaderBytes;
    constexpr uint32_t kInfoSizes[] = {40, 52, 56, 108, 124};
    if (!core && std::find(std::begin(kInfoSizes), std::end(kInfoSizes), headerBytes) == std::end(kInfoSizes))
        return false;
    if (size < kFileHeaderBytes + headerBytes) return false;
    const uint8_t* info = data + kFileHeaderBytes;
    int64_t width, height;
    uint32_t planes, compression = kPlainRgb, colorsUsed = 0;
    if (core) {
        width = ReadLe16(info + 4);
        height = ReadLe16(info + 6);
        planes = ReadLe16(info + 8);
        layout.bitsPerPixel = ReadLe16(info + 10);
    } else {
        width = static_cast<int32_t>(ReadLe32(info + 4));
        height = static_cast<int32_t>(ReadLe32(info + 8));
        planes = ReadLe16(info + 12);
        layout.bitsPerPixel = ReadLe16(info + 14);
        compression = ReadLe32(info + 16);
        colorsUsed = ReadLe32(info + 32);
    }
    if (planes != 1 || width <= 0 || height == 0) return false;
    layout.topDown = height < 0;
    height = height < 0 ? -height : height;
    if (width > INT32_MAX || height > INT32_MAX) return false;
    layout.width = static_cast<int32_t>(width);
    layout.height = static_cast<int32_t>(height);

    const uint32_t bits = layout.bitsPerPixel;
    size_t tableOffset = kFileHeaderBytes + headerBytes;  // masks or palette
    if (bits == 1 || bits == 2 || bits == 4 || bits == 8) {
        // Run-length data is bottom-up only.
        layout.runLength = (bits == 8 && compression == kRle8) || (bits == 4 && compression == kRle4);
        if (compression != kPlainRgb && !(layout.runLength && !layout.topDown)) return false;
        const uint32_t entryBytes = core ? 3 : 4;
        const uint32_t most = 1u << bits;
        const uint32_t count = colorsUsed == 0 || colorsUsed > most ? most : colorsUsed;
        if (tableOffset + size_t{count} * entryBytes > size) return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = data + tableOffset + size_t{i} * entryBytes;  // blue, green, red
            layout.palette[i] = PackRgb565(entry[2], entry[1], entry[0]);
        }
    } else if (bits == 16 || bits == 32) {
        if (compression == kPlainRgb) {
            if (bits == 16) layout.masks[0] = 0x7C00, layout.masks[1] = 0x03E0, layout.masks[2] = 0x001F;
            else layout.masks[0] = 0xFF0000, layout.masks[1] = 0xFF00, layout.masks[2] = 0xFF;
        } else if (compression == kBitFields || compression == kAlphaBitFields) {
            // The masks follow a 40-byte header; longer headers hold them.
            const size_t maskOffset = kFileHeaderBytes + 40;
            if (headerBytes == 40) tableOffset += compression == kAlphaBitFields ? 16 : 12;
            if (maskOffset + 12 > size) return false;
            for (int i = 0; i < 3; ++i) layout.masks[i] = ReadLe32(data + maskOffset + 4 * i);
        } else {
            return false;
        }
    } else if (bits == 24) {
        if (compression != kPlainRgb) return false;
    } else {
        return false;
    }

    layout.pixelOffset = ReadLe32(data + 10);
    const uint64_t rowBits = uint64_t(layout.width) * bits;
    layout.rowBytes = static_cast<size_t>((rowBits + 7) / 8);
    layout.rowStride = static_cast<size_t>((rowBits + 31) / 32 * 4);
    return true;
}

// How many rows the data holds whole (the last one may lack its padding).
int32_t CountWholeRows(const BmpLayout& layout, size_t size) {
    if (layout.pixelOffset > size || size - layout.pixelOffset < layout.rowBytes) return 0;
    const size_t rows = (size - layout.pixelOffset - layout.rowBytes) / layout.rowStride + 1;
    return static_cast<int32_t>(std::min<size_t>(rows, size_t(layout.height)));
}

void ConvertIndexRow(const BmpLayout& layout, const uint8_t* source, uint16_t* row) {
    const uint32_t bits = layout.bitsPerPixel;
    if (bits == 8) {
        for (int32_t x = 0; x < layout.width; ++x) row[x] = layout.palette[source[x]];
        return;
    }
    const uint32_t perByte = 8 / bits, indexMask = (1u << bits) - 1;
    for (int32_t x = 0; x < layout.width; ++x) {
        const uint32_t slot = uint32_t(x) % perByte;  // leftmost pixel in the high bits
        row[x] = layout.palette[(source[x / perByte] >> (8 - bits * (slot + 1))) & indexMask];
    }
}

void ConvertFieldRow(const BmpLayout& layout, const Channel (&channels)[3], const uint8_t* source, uint16_t* row) {
    const bool wide = layout.bitsPerPixel == 32;
    for (int32_t x = 0; x < layout.width; ++x) {
        const uint32_t pixel = wide ? ReadLe32(source + 4 * x) : ReadLe16(source + 2 * x);
        row[x] = PackRgb565(channels[0].Extract(pixel), channels[1].Extract(pixel), channels[2].Extract(pixel));
    }
}

void Convert565Row(const uint8_t* source, uint16_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x) row[x] = static_cast<uint16_t>(ReadLe16(source + 2 * x));
}

void ConvertBgrxRow(const uint8_t* source, uint16_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, source += 4) row[x] = PackRgb565(source[2], source[1], source[0]);
}

// Runs of RLE8 (one index a pixel) or RLE4 (two a byte, high nibble first),
// rows bottom-up: {count, index} repeats the index (or the index pair)
// count times; {0, 0} ends the row, {0, 1} the picture, {0, 2, dx, dy}
// moves right and up, {0, n} is followed by n plain indexes padded to a
// whole 16-bit word. Pixels past the row's end are dropped; pixels skipped
// or never reached stay black. Data that ends early keeps what it gave.
// False when no pixel was given at all.
bool DecodeRunLength(std::span<const uint8_t> bytes, const BmpLayout& layout, ImageSink& sink) {
    const uint8_t* data = bytes.data();
    const size_t size = bytes.size();
    const bool rle8 = layout.bitsPerPixel == 8;
    const int64_t width = layout.width;
    size_t pos = layout.pixelOffset;
    int64_t x = 0, line = 0;  // line 0 is the bottom row
    uint16_t* row = nullptr;
    bool anyRow = false;
    auto put = [&](uint32_t index) {
        if (x < width) {
            if (row == nullptr) {
                anyRow = true;
                row = sink.Row(static_cast<int32_t>(layout.height - 1 - line));
                std::fill_n(row, layout.width, uint16_t{0});
            }
            row[x] = layout.palette[index];
        }
        ++x;
    };
    while (pos + 2 <= size && line < layout.height) {
        const uint32_t count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (uint32_t i = 0; i < count && x < width; ++i) put(rle8 ? value : i % 2 == 0 ? value >> 4 : value & 0xF);
        } else if (value == 0) {
            ++line;
            x = 0;
            row = nullptr;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (pos + 2 > size) break;
            x = std::min<int64_t>(x + data[pos], width);
            if (data[pos + 1] != 0) {
                line += data[pos + 1];
                row = nullptr;
            }
            pos += 2;
        } else {
            const size_t indexBytes = rle8 ? value : (value + 1) / 2;
            const size_t available = std::min(indexBytes, size - pos);
            for (uint32_t i = 0; i < value && x < width; ++i) {
                const size_t at = rle8 ? i : i / 2;
                if (at >= available) break;
                put(rle8 ? data[pos + at] : i % 2 == 0 ? data[pos + at] >> 4 : data[pos + at] & 0xF);
            }
            if (available < indexBytes) break;
            pos += (indexBytes + 1) & ~size_t{1};
        }
    }
    return anyRow;
}

}  // namespace

bool IsBmpSignature(std::span<const uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

DecodeOutcome DecodeBmp(std::span<const uint8_t> bytes, ImageSink& sink) {
    BmpLayout layout;
    if (!IsBmpSignature(bytes) || !ReadLayout(bytes, layout)) return DecodeOutcome::Failed;
    if (layout.runLength) {
        if (layout.pixelOffset >= bytes.size() || !sink.Start(layout.width, layout.height))
            return DecodeOutcome::Failed;
        return DecodeRunLength(bytes, layout, sink) ? DecodeOutcome::Decoded : DecodeOutcome::Failed;
    }
    const int32_t rows = CountWholeRows(layout, bytes.size());
    if (rows == 0 || !sink.Start(layout.width, layout.height)) return DecodeOutcome::Failed;

    const Channel channels[3] = {Channel(layout.masks[0]), Channel(layout.masks[1]), Channel(layout.masks[2])};
    const uint32_t bits = layout.bitsPerPixel;
    const bool is565 = bits == 16 && layout.masks[0] == 0xF800 && layout.masks[1] == 0x07E0 && layout.masks[2] == 0x001F;
    const bool isBgrx = bits == 32 && layout.masks[0] == 0xFF0000 && layout.masks[1] == 0xFF00 && layout.masks[2] == 0xFF;
    for (int32_t i = 0; i < rows; ++i) {
        const uint8_t* source = bytes.data() + layout.pixelOffset + size_t(i) * layout.rowStride;
        uint16_t* row = sink.Row(layout.topDown ? i : layout.height - 1 - i);
        if (bits <= 8) ConvertIndexRow(layout, source, row);
        else if (bits == 24) ConvertBgrRow(source, row, layout.width);
        else if (is565) Convert565Row(source, row, layout.width);
        else if (isBgrx) ConvertBgrxRow(source, row, layout.width);
        else ConvertFieldRow(layout, channels, source, row);
    }
    return DecodeOutcome::Decoded;
}

}  // namespace qob
