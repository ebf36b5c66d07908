// Mixing one bitmap into another with a weight.
#pragma once

#include <cstdint>

struct qbBitmap;

// Blends the rectangle (sourceX, sourceY, width, height) of source into
// destination at (destX, destY), with level (clamped to 0..255) as the
// source's weight: 255 puts the source there, 0 keeps the destination to
// within a step per channel (blends shift by 8 bits rather than divide by
// 255, and results are truncated: any level lands less than two steps from
// the exact mix).
// - sourceAlpha given: its first alphaWidth x alphaHeight bytes, each
//   multiplied by level / 255, weigh every pixel (the plane is read at the
//   source position, and must cover the source rectangle);
// - else sourceMask given: only pixels whose bit (at the source position)
//   is set are mixed.
// Both rectangles must lie inside their bitmaps. Bitmaps of different or
// other than 2- and 4-byte pixels are left alone. 0, ERR_COORDSRANGE,
// ERR_ALLOCALPHA or ERR_LOCKBMAP; the destination is unchanged on an error.
int MixBitmaps(qbBitmap* destination, qbBitmap* source, qbBitmap* sourceMask, int32_t destX, int32_t destY,
               int32_t sourceX, int32_t sourceY, int32_t width, int32_t height, int32_t level,
               qbBitmap* sourceAlpha, int32_t alphaWidth, int32_t alphaHeight);
