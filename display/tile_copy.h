// display/tile_copy.h
// Copies for the rotation driver: the block copy for rows and whole frames,
// the routines that turn one 16 x 16 tile, and the copy of a rectangle of
// the frame buffer from the upright view by a quarter, half or three
// quarters turn.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/pixel_buffer.h"
#include "display/rect.h"

namespace qob {

constexpr int32_t kTileSize = 16;

// Copies bytes in 32-byte bursts; the addresses need no alignment.
void BlockCopy(void* to, const void* from, size_t bytes);

// Turns one 16 x 16 tile: from points at the source tile's top-left pixel,
// to at the destination's. Writes 32-bit words (two pixels each), eight per
// destination row, through unaligned stores.
using TileTurner = void (*)(const uint8_t* from, int32_t fromPitch, uint8_t* to, int32_t toPitch);

// The tile routines for r = 1, 2, 3 (index r - 1). Both sets give the same
// pixels; the cache-ordered one reads each source row once, in order.
struct TileSet {
    TileTurner turn[3];
};
[[nodiscard]] const TileSet& PlainTileSet();
[[nodiscard]] const TileSet& CacheOrderedTileSet();

// The view pixel that the frame buffer's pixel (x, y) shows under rotation r,
// for a view of width x height.
[[nodiscard]] Point MapToView(int32_t r, int32_t x, int32_t y, int32_t viewWidth, int32_t viewHeight);

// How the tiles of a rectangle are visited: down each tile column first, or
// along each tile row first.
enum class TileWalk { Columns, Rows };

// Copies the rectangle (frame-buffer coordinates, inside the frame buffer)
// from the view by the mapping of rotation r. Whole 16 x 16 tiles (at
// multiples of 16 from the rectangle's corner) are turned by the set's
// routine; the parts of partial tiles pixel by pixel. r = 0 copies rows.
void CopyRotatedRect(int32_t r, const PixelBuffer& view, PixelBuffer& frame, const Rect& rect, TileWalk walk,
                     const TileSet& tiles);

}  // namespace qob
