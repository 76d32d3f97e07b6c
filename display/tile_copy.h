// display/tile_copy.h
// Copies for the rotation driver: the block copy for rows and whole frames,
// the routines that turn one 16 x 16 tile, and the copy of a rectangle of
// the frame buffer from the upright view by a quarter, half or three
// quarters turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "display/pixel_buffer.h"
#include "display/rect.h"

namespace qob {

constexpr int32_t kTileSize = 16;

// Copies bytes in wide bursts; the addresses need no alignment.
void BlockCopy(void* to, const void* from, size_t bytes);

// Turns one 16 x 16 tile: from points at the source tile's top-left pixel,
// to at the destination's. The tile is turned in registers and written in
// whole words of several pixels through unaligned stores, so that frame
// buffers aligned to 2 bytes only are served too.
using TileTurner = void (*)(const uint8_t* from, int32_t fromPitch, uint8_t* to, int32_t toPitch);

// The tile routines for r = 1, 2, 3 (index r - 1). Both sets give the same
// pixels; the plain one turns the tile as 8 x 8 transposes of vector lanes,
// the cache-ordered one reads each source row once, in order, into a block
// held locally before it writes any destination row.
struct TileSet {
    TileTurner turn[3];
};
[[nodiscard]] const TileSet& PlainTileSet();  // with 256-bit vectors where the processor has them
[[nodiscard]] const TileSet& CacheOrderedTileSet();

// Every set this processor can run (the plain set in each of its forms), so
// that tests hold each of them to the same pixels.
[[nodiscard]] std::vector<const TileSet*> TileSetsOfThisProcessor();

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
