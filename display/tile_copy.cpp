// display/tile_copy.cpp
// The block copy, both tile sets and the rotated rectangle copy.
#include "display/tile_copy.h"

#include <cstring>

#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#define QOB_WIDE_TILES 1
#endif

namespace qob {
namespace {


void StorePair(uint8_t* to, uint16_t first, uint16_t second) {
    const uint32_t word = uint32_t(first) | (uint32_t(second) << 16);
    std::memcpy(to, &word, 4);
}

// Source pixel (column, row) of the tile for destination pixel (i, j).
template <int R>
constexpr void SourceOf(int i, int j, int& column, int& row) {
    if constexpr (R == 1) {
        column = j;
        row = kTileSize - 1 - i;
    } else if constexpr (R == 2) {
        column = kTileSize - 1 - i;
        row = kTileSize - 1 - j;
    } else {
        column = kTileSize - 1 - j;
        row = i;
    }
}

#if defined(__SSE2__)

// Plain set: the tile is turned in registers, as four 8 x 8 transposes of
// 16-bit lanes (a half turn reverses each row instead), and written a row of
// 16 pixels at a time.
void Transpose8(__m128i rows[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(rows[0], rows[1]), a1 = _mm_unpackhi_epi16(rows[0], rows[1]);
    const __m128i a2 = _mm_unpacklo_epi16(rows[2], rows[3]), a3 = _mm_unpackhi_epi16(rows[2], rows[3]);
    const __m128i a4 = _mm_unpacklo_epi16(rows[4], rows[5]), a5 = _mm_unpackhi_epi16(rows[4], rows[5]);
    const __m128i a6 = _mm_unpacklo_epi16(rows[6], rows[7]), a7 = _mm_unpackhi_epi16(rows[6], rows[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    rows[0] = _mm_unpacklo_epi64(b0, b4);
    rows[1] = _mm_unpackhi_epi64(b0, b4);
    rows[2] = _mm_unpacklo_epi64(b1, b5);
    rows[3] = _mm_unpackhi_epi64(b1, b5);
    rows[4] = _mm_unpacklo_epi64(b2, b6);
    rows[5] = _mm_unpackhi_epi64(b2, b6);
    rows[6] = _mm_unpacklo_epi64(b3, b7);
    rows[7] = _mm_unpackhi_epi64(b3, b7);
}

__m128i Load(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
void Store(uint8_t* at, __m128i value) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), value); }

__m128i Reverse8(__m128i value) {
    value = _mm_shuffle_epi32(value, _MM_SHUFFLE(1, 0, 3, 2));
    value = _mm_shufflelo_epi16(value, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm_shufflehi_epi16(value, _MM_SHUFFLE(0, 1, 2, 3));
}

// Quarter turns: the transpose of the tile read with its rows in reverse
// order (r = 1), or written with its rows in reverse order (r = 3).
template <int R>
void TurnTilePlain(const uint8_t* from, int32_t fromPitch, uint8_t* to, int32_t toPitch) {
    if constexpr (R == 2) {
        for (int j = 0; j < kTileSize; ++j) {
            const uint8_t* in = from + int64_t(kTileSize - 1 - j) * fromPitch;
            uint8_t* out = to + int64_t(j) * toPitch;
            const __m128i left = Load(in), right = Load(in + 16);
            Store(out, Reverse8(right));
            Store(out + 16, Reverse8(left));
        }
    } else {
        __m128i block[2][2][8];  // [block row][block column][row]
        for (int row = 0; row < kTileSize; ++row) {
            const int sourceRow = R == 1 ? kTileSize - 1 - row : row;
            const uint8_t* in = from + int64_t(sourceRow) * fromPitch;
            block[row / 8][0][row % 8] = Load(in);
            block[row / 8][1][row % 8] = Load(in + 16);
        }
        for (auto& blockRow : block)
            for (auto& quarter : blockRow) Transpose8(quarter);
        // The transposed tile's row t is quarter (t / 8, *) of the source's
        // block column t / 8.
        for (int t = 0; t < kTileSize; ++t) {
            const int destinationRow = R == 1 ? t : kTileSize - 1 - t;
            uint8_t* out = to + int64_t(destinationRow) * toPitch;
            Store(out, block[0][t / 8][t % 8]);
            Store(out + 16, block[1][t / 8][t % 8]);
        }
    }
}

#if defined(QOB_WIDE_TILES)

// The same turns on processors with 256-bit vectors: each 128-bit half of a
// register runs its own 8 x 8 transpose, so two run at once, and the halves
// are then paired into whole destination rows; a half turn reverses a whole
// row with one byte shuffle and one swap of halves.
#define QOB_WIDE __attribute__((target("avx2")))

QOB_WIDE inline void Transpose8Wide(__m256i rows[8]) {
    const __m256i a0 = _mm256_unpacklo_epi16(rows[0], rows[1]), a1 = _mm256_unpackhi_epi16(rows[0], rows[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(rows[2], rows[3]), a3 = _mm256_unpackhi_epi16(rows[2], rows[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(rows[4], rows[5]), a5 = _mm256_unpackhi_epi16(rows[4], rows[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(rows[6], rows[7]), a7 = _mm256_unpackhi_epi16(rows[6], rows[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    rows[0] = _mm256_unpacklo_epi64(b0, b4);
    rows[1] = _mm256_unpackhi_epi64(b0, b4);
    rows[2] = _mm256_unpacklo_epi64(b1, b5);
    rows[3] = _mm256_unpackhi_epi64(b1, b5);
    rows[4] = _mm256_unpacklo_epi64(b2, b6);
    rows[5] = _mm256_unpackhi_epi64(b2, b6);
    rows[6] = _mm256_unpacklo_epi64(b3, b7);
    rows[7] = _mm256_unpackhi_epi64(b3, b7);
}

template <int R>
QOB_WIDE void TurnTileWide(const uint8_t* from, int32_t fromPitch, uint8_t* to, int32_t toPitch) {
    if constexpr (R == 2) {
        const __m256i reverse = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13,
                                                 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        for (int j = 0; j < kTileSize; ++j) {
            const __m256i row = _mm256_loadu_si256(
                reinterpret_cast<const __m256i*>(from + int64_t(kTileSize - 1 - j) * fromPitch));
            const __m256i turned = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(row, reverse), _MM_SHUFFLE(1, 0, 3, 2));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + int64_t(j) * toPitch), turned);
        }
    } else {
        __m256i upper[8], lower[8];  // source rows 0-7 and 8-15 (reversed first for r = 1)
        for (int row = 0; row < kTileSize; ++row) {
            const int sourceRow = R == 1 ? kTileSize - 1 - row : row;
            const __m256i value =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + int64_t(sourceRow) * fromPitch));
            (row < 8 ? upper[row] : lower[row - 8]) = value;
        }
        Transpose8Wide(upper);
        Transpose8Wide(lower);
        for (int t = 0; t < 8; ++t) {
            const __m256i first = _mm256_permute2x128_si256(upper[t], lower[t], 0x20);   // transposed row t
            const __m256i second = _mm256_permute2x128_si256(upper[t], lower[t], 0x31);  // transposed row 8 + t
            const int firstRow = R == 1 ? t : kTileSize - 1 - t;
            const int secondRow = R == 1 ? 8 + t : 7 - t;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + int64_t(firstRow) * toPitch), first);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + int64_t(secondRow) * toPitch), second);
        }
    }
}

#endif

#else

uint16_t LoadPixel(const uint8_t* row, int64_t x) {
    uint16_t pixel;
    std::memcpy(&pixel, row + 2 * x, 2);
    return pixel;
}

// Plain set: each destination row gathers its pixels straight from the source.
template <int R>
void TurnTilePlain(const uint8_t* from, int32_t fromPitch, uint8_t* to, int32_t toPitch) {
    for (int j = 0; j < kTileSize; ++j) {
        uint8_t* out = to + int64_t(j) * toPitch;
        for (int i = 0; i < kTileSize; i += 2) {
            int c0, r0, c1, r1;
            SourceOf<R>(i, j, c0, r0);
            SourceOf<R>(i + 1, j, c1, r1);
            StorePair(out + 2 * i, LoadPixel(from + int64_t(r0) * fromPitch, c0),
                      LoadPixel(from + int64_t(r1) * fromPitch, c1));
        }
    }
}

#endif

// Cache-ordered set: the source tile is read row by row, in memory order,
// into a block held locally, and the destination rows are written from it.
template <int R>
void TurnTileCacheOrdered(const uint8_t* from, int32_t fromPitch, uint8_t* to, int32_t toPitch) {
    uint16_t tile[kTileSize][kTileSize];
    for (int row = 0; row < kTileSize; ++row) std::memcpy(tile[row], from + int64_t(row) * fromPitch, 2 * kTileSize);
    for (int j = 0; j < kTileSize; ++j) {
        uint8_t* out = to + int64_t(j) * toPitch;
        for (int i = 0; i < kTileSize; i += 2) {
            int c0, r0, c1, r1;
            SourceOf<R>(i, j, c0, r0);
            SourceOf<R>(i + 1, j, c1, r1);
            StorePair(out + 2 * i, tile[r0][c0], tile[r1][c1]);
        }
    }
}

constexpr TileSet kPlainTiles{{&TurnTilePlain<1>, &TurnTilePlain<2>, &TurnTilePlain<3>}};
#if defined(QOB_WIDE_TILES)
constexpr TileSet kWideTiles{{&TurnTileWide<1>, &TurnTileWide<2>, &TurnTileWide<3>}};
#endif
constexpr TileSet kCacheOrderedTiles{{&TurnTileCacheOrdered<1>, &TurnTileCacheOrdered<2>, &TurnTileCacheOrdered<3>}};

void CopyRows(const PixelBuffer& view, PixelBuffer& frame, const Rect& rect) {
    const size_t bytes = size_t(rect.right - rect.left) * 2;
    for (int64_t y = rect.top; y < rect.bottom; ++y)
        BlockCopy(frame.bits + y * frame.pitch + 2 * int64_t(rect.left),
                  view.bits + y * view.pitch + 2 * int64_t(rect.left), bytes);
}

// The view's top-left pixel of the tile that a whole frame-buffer tile at
// (x, y) shows.
Point TileSource(int32_t r, int32_t x, int32_t y, int32_t viewWidth, int32_t viewHeight) {
    switch (r) {
        case 1: return Point{y, viewHeight - x - kTileSize};
        case 2: return Point{viewWidth - x - kTileSize, viewHeight - y - kTileSize};
        default: return Point{viewWidth - y - kTileSize, x};
    }
}

void CopyTile(int32_t r, const PixelBuffer& view, PixelBuffer& frame, const Rect& tile, const TileSet& tiles) {
    if (tile.right - tile.left == kTileSize && tile.bottom - tile.top == kTileSize) {
        const Point source = TileSource(r, tile.left, tile.top, view.width, view.height);
        tiles.turn[r - 1](view.bits + int64_t(source.y) * view.pitch + 2 * int64_t(source.x), view.pitch,
                          frame.bits + int64_t(tile.top) * frame.pitch + 2 * int64_t(tile.left), frame.pitch);
        return;
    }
    for (int32_t y = tile.top; y < tile.bottom; ++y) {
        uint8_t* out = frame.bits + int64_t(y) * frame.pitch;
        for (int32_t x = tile.left; x < tile.right; ++x) {
            const Point at = MapToView(r, x, y, view.width, view.height);
            std::memcpy(out + 2 * int64_t(x), view.bits + int64_t(at.y) * view.pitch + 2 * int64_t(at.x), 2);
        }
    }
}

Rect TileAt(const Rect& rect, int32_t x, int32_t y) {
    return Rect{x, y, x + kTileSize < rect.right ? x + kTileSize : rect.right,
                y + kTileSize < rect.bottom ? y + kTileSize : rect.bottom};
}

}  // namespace

// The C library's copy moves wide bursts (32 bytes and more at a time) at
// any alignment, which is what rows and whole frames want.
void BlockCopy(void* to, const void* from, size_t bytes) { std::memcpy(to, from, bytes); }

const TileSet& PlainTileSet() {
#if defined(QOB_WIDE_TILES)
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) return kWideTiles;
#endif
    return kPlainTiles;
}

std::vector<const TileSet*> TileSetsOfThisProcessor() {
    std::vector<const TileSet*> sets{&kPlainTiles, &kCacheOrderedTiles};
#if defined(QOB_WIDE_TILES)
    if (__builtin_cpu_supports("avx2")) sets.push_back(&kWideTiles);
#endif
    return sets;
}
const TileSet& CacheOrderedTileSet() { return kCacheOrderedTiles; }

Point MapToView(int32_t r, int32_t x, int32_t y, int32_t viewWidth, int32_t viewHeight) {
    switch (r) {
        case 1: return Point{y, viewHeight - 1 - x};
        case 2: return Point{viewWidth - 1 - x, viewHeight - 1 - y};
        case 3: return Point{viewWidth - 1 - y, x};
        default: return Point{x, y};
    }
}

void CopyRotatedRect(int32_t r, const PixelBuffer& view, PixelBuffer& frame, const Rect& rect, TileWalk walk,
                     const TileSet& tiles) {
    if (IsRectEmpty(rect)) return;
    if (r == 0) {
        CopyRows(view, frame, rect);
        return;
    }
    if (walk == TileWalk::Columns) {
        for (int32_t x = rect.left; x < rect.right; x += kTileSize)
            for (int32_t y = rect.top; y < rect.bottom; y += kTileSize) CopyTile(r, view, frame, TileAt(rect, x, y), tiles);
    } else {
        for (int32_t y = rect.top; y < rect.bottom; y += kTileSize)
            for (int32_t x = rect.left; x < rect.right; x += kTileSize) CopyTile(r, view, frame, TileAt(rect, x, y), tiles);
    }
}

}  // namespace qob
