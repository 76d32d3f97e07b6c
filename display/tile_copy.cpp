// display/tile_copy.cpp
// The block copy, both tile sets and the rotated rectangle copy.
#include "display/tile_copy.h"

#include <cstring>

namespace qob {
namespace {

constexpr size_t kBurstBytes = 32;

uint16_t LoadPixel(const uint8_t* row, int64_t x) {
    uint16_t pixel;
    std::memcpy(&pixel, row + 2 * x, 2);
    return pixel;
}

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

void BlockCopy(void* to, const void* from, size_t bytes) {
    auto* out = static_cast<uint8_t*>(to);
    const auto* in = static_cast<const uint8_t*>(from);
    for (; bytes >= kBurstBytes; bytes -= kBurstBytes, out += kBurstBytes, in += kBurstBytes)
        std::memcpy(out, in, kBurstBytes);
    std::memcpy(out, in, bytes);
}

const TileSet& PlainTileSet() { return kPlainTiles; }
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
