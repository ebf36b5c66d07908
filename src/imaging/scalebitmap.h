// Scaling a rectangle of a bitmap, with its mask and alpha plane when given,
// into a bitmap of another size.
#pragma once

#include <cstdint>

struct qbBitmap;

// Scales (x, y, width, height) of source (and of mask and alpha when given)
// to newWidth x newHeight: into destination when it is given (it must be at
// least that large and share the source's pixel size; no planes are made
// then), else into a new bitmap with a new plane for each plane the source
// has and the caller asks for. The source may be null: then only the planes
// are scaled. A new width or height below 1 succeeds with nothing made.
// 0, ERR_BITMAP, ERR_ALLOCMASK, ERR_ALLOCALPHA, ERR_LOCKBMAP or
// ERR_COORDSRANGE (the rectangle leaves the source or a plane); nothing is
// handed out on an error.
int ScaleBitmap(qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, int32_t x, int32_t y, qbBitmap* destination,
                int32_t width, int32_t height, int32_t newWidth, int32_t newHeight, bool smooth,
                qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha);

// Scales the pixels of (x, y, width, height) of source to newWidth x
// newHeight straight into (dx, dy) of destination, which keeps everything
// else it holds: no picture of the new size is made and copied. Planes are
// not touched. Both must share the pixel size and the rectangles must lie
// inside them. A new width or height below 1 succeeds with nothing drawn.
// 0, ERR_BITMAP, ERR_LOCKBMAP or ERR_COORDSRANGE.
int ScaleBitmapAt(qbBitmap* source, int32_t x, int32_t y, int32_t width, int32_t height, qbBitmap* destination,
                  int32_t dx, int32_t dy, int32_t newWidth, int32_t newHeight);
