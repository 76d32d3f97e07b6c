// tests/display/images/image_damage_test.cpp
// Damaged pictures: every prefix of a small file of each format, and single
// bytes of their header fields changed. Each gives nothing, or a surface of
// the size its header declares; nothing is read past the data, and a failed
// decode leaves no surface behind. Sizes past the surfaces' cap are refused
// before anything of that size is allocated.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/images/bmp_decoder.h"
#include "display/images/gif_decoder.h"
#include "display/images/image_decoding.h"
#include "display/images/jpeg_decoder.h"
#include "display/images/png_decoder.h"
#include "image_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocation hooks (GCC ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                                         void (*onFree)(const volatile void*));
#endif

namespace qob {
namespace {

using testing::DecodedSurface;
using testing::ReadSeed;
using testing::RecordingSink;

struct Size {
    int32_t width, height;
};

uint32_t Be16(const std::vector<uint8_t>& b, size_t at) { return uint32_t{b[at]} << 8 | b[at + 1]; }
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) { return Be16(b, at) << 16 | Be16(b, at + 2); }
uint32_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8; }
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

// Where the GIF's first image descriptor starts, or 0.
size_t GifImageDescriptor(const std::vector<uint8_t>& b) {
    if (b.size() < 13) return 0;
    size_t i = 13 + ((b[10] & 0x80) ? size_t(3) << ((b[10] & 7) + 1) : 0);
    while (i + 1 < b.size() && b[i] == 0x21) {
        i += 2;
        while (i < b.size() && b[i] != 0) i += b[i] + 1u;
        ++i;
    }
    return i + 10 <= b.size() && b[i] == 0x2C ? i : 0;
}

// Where the JPEG's marker of that code starts (its FF byte), or 0.
size_t JpegMarker(const std::vector<uint8_t>& b, int code) {
    for (size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF;) {
        if (b[i + 1] == code) return i;
        if (b[i + 1] == 0xDA) break;
        i += 2 + Be16(b, i + 2);
    }
    return 0;
}

// The size the file's header declares, read independently of the decoders;
// nullopt when the header cannot even say.
std::optional<Size> DeclaredSize(const std::vector<uint8_t>& b) {
    switch (DetectImageFormat(b)) {
        case ImageFormat::Png:
            if (b.size() < 24) return std::nullopt;
            return Size{int32_t(Be32(b, 16)), int32_t(Be32(b, 20))};
        case ImageFormat::Bmp: {
            if (b.size() < 26) return std::nullopt;
            if (Le32(b, 14) == 12) return Size{int32_t(Le16(b, 18)), int32_t(Le16(b, 20))};
            const int32_t height = int32_t(Le32(b, 22));
            return Size{int32_t(Le32(b, 18)), height < 0 ? -height : height};
        }
        case ImageFormat::Gif: {
            const size_t image = GifImageDescriptor(b);
            if (image == 0) return std::nullopt;
            return Size{int32_t(std::max(Le16(b, 6), Le16(b, image + 1) + Le16(b, image + 5))),
                        int32_t(std::max(Le16(b, 8), Le16(b, image + 3) + Le16(b, image + 7)))};
        }
        case ImageFormat::Jpeg: {
            size_t frame = JpegMarker(b, 0xC0);
            if (frame == 0) frame = JpegMarker(b, 0xC2);
            if (frame == 0 || frame + 9 > b.size()) return std::nullopt;
            return Size{int32_t(Be16(b, frame + 7)), int32_t(Be16(b, frame + 5))};
        }
        case ImageFormat::Unknown: break;
    }
    return std::nullopt;
}

// Blocks of low memory that making and releasing one surface frees.
uint64_t ReleasesPerSurface() {
    const uint64_t before = platform::CountBlockReleases();
    PixelSurface* surface = NewSurface(3, 2);
    SurfaceRelease(surface);
    platform::FreeBlock(surface);
    return platform::CountBlockReleases() - before;
}

// Decodes the bytes, held in a block of exactly their size, with
// DecodeImageMemory: nothing, or a surface of the declared size. When
// nothing, the decode got a surface only if a recording run of the same
// bytes saw the size accepted, and then it released it.
void ExpectNothingOrDeclaredSize(const std::vector<uint8_t>& bytes, const std::string& what) {
    SCOPED_TRACE(what);
    const auto copy = std::make_unique<uint8_t[]>(std::max<size_t>(bytes.size(), 1));
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    RecordingSink recording(false);
    const DecodeOutcome outcome = DecodeImage(std::span<const uint8_t>(copy.get(), bytes.size()), recording);
    const uint64_t before = platform::CountBlockReleases();
    DecodedSurface surface(DecodeImageMemory(copy.get(), copy.get() + bytes.size()));
    const uint64_t released = platform::CountBlockReleases() - before;
    EXPECT_EQ(surface ? DecodeOutcome::Decoded : DecodeOutcome::Failed, outcome);
    if (surface) {
        const std::optional<Size> declared = DeclaredSize(bytes);
        ASSERT_TRUE(declared.has_value());
        EXPECT_EQ(surface.Width(), declared->width);
        EXPECT_EQ(surface.Height(), declared->height);
        EXPECT_EQ(surface->colorKey, -1);
        EXPECT_GT(recording.RowsGiven(), 0);
        return;
    }
    static const uint64_t perSurface = ReleasesPerSurface();
    EXPECT_EQ(released, recording.accepted ? perSurface : 0) << "a surface of a failed decode was kept";
}

struct Seed {
    const char* target;
    const char* name;
};

// One small file of each format and the main variants.
constexpr Seed kSeeds[] = {
    {"png_image", "rgb.png"},          {"png_image", "grey2_interlaced.png"}, {"png_image", "palette_trns.png"},
    {"jpeg_image", "baseline420.jpg"}, {"jpeg_image", "progressive422.jpg"},  {"jpeg_image", "ycck.jpg"},
    {"gif_image", "plain.gif"},        {"gif_image", "interlaced_transparent.gif"},
    {"bmp_image", "rgb24.bmp"},        {"bmp_image", "palette8.bmp"},         {"bmp_image", "rgb565.bmp"},
    {"bmp_image", "core4.bmp"},
};

TEST(ImageDamageTest, EveryPrefixGivesNothingOrTheDeclaredSize) {
    for (const Seed& seed : kSeeds) {
        const std::vector<uint8_t> file = ReadSeed(seed.target, seed.name);
        for (size_t length = 0; length <= file.size(); ++length)
            ExpectNothingOrDeclaredSize(std::vector<uint8_t>(file.begin(), file.begin() + ptrdiff_t(length)),
                                        std::string(seed.name) + " cut to " + std::to_string(length));
        DecodedSurface whole(ImageToSurface(file));
        EXPECT_TRUE(whole) << seed.name;
    }
}

// PNG chunks carry a CRC over their type and data: after a change inside a
// chunk, the chunk's CRC is made right again, so that the change reaches the
// decoder rather than the CRC check.
void FixPngCrc(std::vector<uint8_t>& b, size_t chunk) {
    const uint32_t length = Be32(b, chunk);
    if (chunk + 12 + length > b.size()) return;
    const uint32_t crc = uint32_t(crc32(0, &b[chunk + 4], length + 4));
    for (int i = 0; i < 4; ++i) b[chunk + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
}

// The chunk of that type, or 0.
size_t PngChunk(const std::vector<uint8_t>& b, const char* type) {
    for (size_t i = 8; i + 12 <= b.size(); i += 12 + Be32(b, i))
        if (std::memcmp(&b[i + 4], type, 4) == 0) return i;
    return 0;
}

// The header fields of one file: byte ranges, by position.
struct Field {
    const char* name;
    size_t offset;  // from the anchor
    size_t length;
};

struct DamagedFile {
    Seed seed;
    std::vector<Field> fields;
    // Where the offsets count from, in the unchanged file; and the PNG chunk
    // whose CRC to mend (npos: none).
    size_t (*anchor)(const std::vector<uint8_t>&);
    bool pngChunk;
};

size_t AtStart(const std::vector<uint8_t>&) { return 0; }
size_t AtIhdr(const std::vector<uint8_t>& b) { return PngChunk(b, "IHDR"); }
size_t AtPlte(const std::vector<uint8_t>& b) { return PngChunk(b, "PLTE"); }
size_t AtTrns(const std::vector<uint8_t>& b) { return PngChunk(b, "tRNS"); }
size_t AtSof(const std::vector<uint8_t>& b) { return JpegMarker(b, 0xC0) ? JpegMarker(b, 0xC0) : JpegMarker(b, 0xC2); }
size_t AtDht(const std::vector<uint8_t>& b) { return JpegMarker(b, 0xC4); }
size_t AtDqt(const std::vector<uint8_t>& b) { return JpegMarker(b, 0xDB); }
size_t AtSos(const std::vector<uint8_t>& b) { return JpegMarker(b, 0xDA); }
size_t AtGifImage(const std::vector<uint8_t>& b) { return GifImageDescriptor(b); }

std::vector<DamagedFile> DamagedFiles() {
    return {
        {{"png_image", "rgb.png"},
         {{"length", 0, 4}, {"width", 8, 4}, {"height", 12, 4}, {"depth", 16, 1}, {"colour type", 17, 1},
          {"compression", 18, 1}, {"filter", 19, 1}, {"interlace", 20, 1}},
         AtIhdr, true},
        {{"png_image", "grey2_interlaced.png"},
         {{"width", 8, 4}, {"height", 12, 4}, {"depth", 16, 1}, {"colour type", 17, 1}, {"interlace", 20, 1}},
         AtIhdr, true},
        {{"png_image", "palette_trns.png"}, {{"palette length", 0, 4}, {"first entry", 8, 3}}, AtPlte, true},
        {{"png_image", "palette_trns.png"}, {{"tRNS length", 0, 4}, {"first alpha", 8, 2}}, AtTrns, true},
        {{"jpeg_image", "baseline420.jpg"},
         {{"length", 2, 2}, {"precision", 4, 1}, {"height", 5, 2}, {"width", 7, 2}, {"components", 9, 1},
          {"first id", 10, 1}, {"first sampling", 11, 1}, {"first table", 12, 1}, {"second sampling", 14, 1}},
         AtSof, false},
        {{"jpeg_image", "baseline420.jpg"}, {{"length", 2, 2}, {"class and id", 4, 1}, {"counts", 5, 16}}, AtDht, false},
        {{"jpeg_image", "baseline420.jpg"}, {{"length", 2, 2}, {"precision and id", 4, 1}}, AtDqt, false},
        {{"jpeg_image", "baseline420.jpg"},
         {{"length", 2, 2}, {"components", 4, 1}, {"first id", 5, 1}, {"first tables", 6, 1}, {"spectral", 11, 3}},
         AtSos, false},
        {{"jpeg_image", "progressive422.jpg"},
         {{"height", 5, 2}, {"width", 7, 2}, {"components", 9, 1}, {"first sampling", 11, 1}}, AtSof, false},
        {{"jpeg_image", "progressive422.jpg"},
         {{"components", 4, 1}, {"spectral start", 7, 1}, {"spectral end", 8, 1}, {"approximation", 9, 1}}, AtSos, false},
        {{"jpeg_image", "ycck.jpg"}, {{"components", 9, 1}, {"fourth sampling", 20, 1}}, AtSof, false},
        {{"gif_image", "plain.gif"},
         {{"version", 3, 3}, {"screen width", 6, 2}, {"screen height", 8, 2}, {"flags and table size", 10, 1},
          {"background", 11, 1}, {"aspect", 12, 1}},
         AtStart, false},
        {{"gif_image", "plain.gif"},
         {{"left", 1, 2}, {"top", 3, 2}, {"width", 5, 2}, {"height", 7, 2}, {"flags", 9, 1}, {"code size", 10, 1},
          {"first block length", 11, 1}},
         AtGifImage, false},
        {{"gif_image", "interlaced_transparent.gif"},
         {{"width", 5, 2}, {"height", 7, 2}, {"flags", 9, 1}, {"code size", 10, 1}}, AtGifImage, false},
        {{"bmp_image", "rgb24.bmp"},
         {{"pixel offset", 10, 4}, {"header size", 14, 4}, {"width", 18, 4}, {"height", 22, 4}, {"planes", 26, 2},
          {"bits", 28, 2}, {"compression", 30, 4}, {"image size", 34, 4}, {"colours used", 46, 4}},
         AtStart, false},
        {{"bmp_image", "palette8.bmp"},
         {{"pixel offset", 10, 4}, {"bits", 28, 2}, {"colours used", 46, 4}, {"first entry", 54, 4}}, AtStart, false},
        {{"bmp_image", "rgb565.bmp"},
         {{"header size", 14, 4}, {"bits", 28, 2}, {"compression", 30, 4}, {"red mask", 54, 4}, {"green mask", 58, 4},
          {"blue mask", 62, 4}},
         AtStart, false},
        {{"bmp_image", "core4.bmp"}, {{"header size", 14, 4}, {"width", 18, 2}, {"height", 20, 2}, {"bits", 24, 2}},
         AtStart, false},
    };
}

TEST(ImageDamageTest, ChangedHeaderBytesGiveNothingOrTheDeclaredSize) {
    for (const DamagedFile& damaged : DamagedFiles()) {
        const std::vector<uint8_t> file = ReadSeed(damaged.seed.target, damaged.seed.name);
        const size_t anchor = damaged.anchor(file);
        ASSERT_TRUE(anchor != 0 || damaged.anchor == AtStart) << damaged.seed.name;
        for (const Field& field : damaged.fields) {
            for (size_t i = 0; i < field.length; ++i) {
                const size_t at = anchor + field.offset + i;
                ASSERT_LT(at, file.size()) << damaged.seed.name << " " << field.name;
                const uint8_t values[] = {0x00, 0x01, 0x02, 0x7F, 0x80, 0xFF, uint8_t(file[at] + 1),
                                          uint8_t(file[at] - 1), uint8_t(file[at] ^ 0x40)};
                for (const uint8_t value : values) {
                    if (value == file[at]) continue;
                    std::vector<uint8_t> changed = file;
                    changed[at] = value;
                    if (damaged.pngChunk) FixPngCrc(changed, anchor);
                    ExpectNothingOrDeclaredSize(changed, std::string(damaged.seed.name) + " " + field.name + " byte " +
                                                             std::to_string(i) + " = " + std::to_string(value));
                }
            }
        }
    }
}

// The largest single allocation of the C heap while it is being watched
// (sanitizer builds only; their allocator offers the hook).
std::atomic<size_t> largestAllocation{0};
std::atomic<bool> watching{false};
#if defined(__SANITIZE_ADDRESS__)
void OnMalloc(const volatile void*, size_t size) {
    if (!watching.load(std::memory_order_relaxed)) return;
    size_t seen = largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {}
}
void OnFree(const volatile void*) {}
#endif

// Each format's seed with its header declaring 20000 x 20000 pixels (800 MB
// of surface, past the 256 MB cap), and 65535 x 65535 for GIF (whose pitch x
// height passes 32 bits).
std::vector<std::pair<std::string, std::vector<uint8_t>>> OversizedFiles() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    std::vector<uint8_t> png = ReadSeed("png_image", "rgb.png");
    const size_t ihdr = PngChunk(png, "IHDR");
    for (size_t at : {ihdr + 8, ihdr + 12}) png[at] = 0, png[at + 1] = 0, png[at + 2] = 0x4E, png[at + 3] = 0x20;
    FixPngCrc(png, ihdr);
    files.emplace_back("png", png);
    for (const char* name : {"baseline420.jpg", "progressive422.jpg"}) {
        std::vector<uint8_t> jpeg = ReadSeed("jpeg_image", name);
        const size_t sof = AtSof(jpeg);
        for (size_t at : {sof + 5, sof + 7}) jpeg[at] = 0x4E, jpeg[at + 1] = 0x20;
        files.emplace_back(name, jpeg);
    }
    std::vector<uint8_t> gif = ReadSeed("gif_image", "plain.gif");
    const size_t image = GifImageDescriptor(gif);
    for (size_t at : {size_t(6), size_t(8), image + 5, image + 7}) gif[at] = 0xFF, gif[at + 1] = 0xFF;
    files.emplace_back("gif", gif);
    std::vector<uint8_t> bmp = ReadSeed("bmp_image", "rgb24.bmp");
    for (size_t at : {size_t(18), size_t(22)}) bmp[at] = 0x20, bmp[at + 1] = 0x4E, bmp[at + 2] = 0, bmp[at + 3] = 0;
    files.emplace_back("bmp", bmp);
    return files;
}

TEST(ImageDamageTest, SizesPastTheCapAreRefusedBeforeAnyAllocationOfThatSize) {
#if defined(__SANITIZE_ADDRESS__)
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    EXPECT_TRUE(installed);
#endif
    for (const auto& [name, bytes] : OversizedFiles()) {
        SCOPED_TRACE(name);
        const std::optional<Size> declared = DeclaredSize(bytes);
        ASSERT_TRUE(declared.has_value());
        EXPECT_GT(ComputePitch(declared->width) * declared->height, kMaxPixelBufferBytes);
        RecordingSink recording(false);
        largestAllocation = 0;
        watching = true;
        EXPECT_EQ(DecodeImage(bytes, recording), DecodeOutcome::Failed);
        DecodedSurface surface(ImageToSurface(bytes));
        watching = false;
        EXPECT_FALSE(surface);
        // The decoder stopped at the size (or, for BMP, when the data
        // could not hold a row of it): no row, and no allocation that grows
        // with the picture.
        EXPECT_LE(recording.starts, 1);
        if (recording.starts == 1) {
            EXPECT_EQ(recording.width, declared->width);
            EXPECT_EQ(recording.height, declared->height);
        }
        EXPECT_EQ(recording.RowsGiven(), 0);
        EXPECT_LT(largestAllocation.load(), size_t{1} << 20);
    }
}

// A picture whose data fails before its first row is no picture, not a
// black surface of its size: a PNG whose compressed data does not start as
// such, a JPEG whose scan names a Huffman table it lacks, a GIF whose code
// size is past 12 bits, and a BMP whose pixels lie past its end.
TEST(ImageDamageTest, DataThatFailsBeforeTheFirstRowGivesNothing) {
    std::vector<uint8_t> png = ReadSeed("png_image", "rgb.png");
    const size_t idat = PngChunk(png, "IDAT");
    png[idat + 8] = 0xFF, png[idat + 9] = 0xFF;  // no zlib header
    FixPngCrc(png, idat);
    std::vector<uint8_t> jpeg = ReadSeed("jpeg_image", "baseline420.jpg");
    jpeg[AtSos(jpeg) + 6] = 0x33;  // the first component's tables: DC 3, AC 3
    std::vector<uint8_t> gif = ReadSeed("gif_image", "plain.gif");
    gif[GifImageDescriptor(gif) + 10] = 13;
    std::vector<uint8_t> bmp = ReadSeed("bmp_image", "rgb24.bmp");
    bmp[12] = 0x01;  // the pixel offset moves 16 MiB on
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {{"png", png}, {"jpeg", jpeg}, {"gif", gif}, {"bmp", bmp}};
    for (const auto& [name, bytes] : cases) {
        ASSERT_TRUE(DeclaredSize(bytes).has_value()) << name;
        EXPECT_FALSE(DecodedSurface(ImageToSurface(bytes))) << name;
        ExpectNothingOrDeclaredSize(bytes, name);
    }
}

// A sink that refuses the picture stops every decoder before its first row.
TEST(ImageDamageTest, ARefusedPictureStopsTheDecoder) {
    using Decoder = DecodeOutcome (*)(std::span<const uint8_t>, ImageSink&);
    const std::pair<Seed, Decoder> cases[] = {
        {{"png_image", "rgb.png"}, DecodePng},          {{"png_image", "grey2_interlaced.png"}, DecodePng},
        {{"jpeg_image", "baseline420.jpg"}, DecodeJpeg}, {{"jpeg_image", "progressive422.jpg"}, DecodeJpeg},
        {{"gif_image", "plain.gif"}, DecodeGif},         {{"bmp_image", "rgb24.bmp"}, DecodeBmp},
    };
    for (const auto& [seed, decode] : cases) {
        RecordingSink sink;
        sink.refuseAll = true;
        EXPECT_EQ(decode(ReadSeed(seed.target, seed.name), sink), DecodeOutcome::Failed) << seed.name;
        EXPECT_EQ(sink.starts, 1) << seed.name;
        EXPECT_EQ(sink.RowsGiven(), 0) << seed.name;
    }
}

}  // namespace
}  // namespace qob
