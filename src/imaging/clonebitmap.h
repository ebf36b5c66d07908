// A copy of a rectangle of a bitmap with a copy of each plane it has.
#pragma once

#include <cstdint>

struct qbBitmap;

// Copies (x, y, width, height) of the source, its mask and its alpha plane
// (each may be null; what is null is not made) into new objects. The
// rectangle must lie inside each of them. 0, ERR_BITMAP, ERR_ALLOCMASK,
// ERR_ALLOCALPHA, ERR_LOCKBMAP or ERR_COORDSRANGE; nothing is handed out
// on an error.
int CloneBitmapRect(qbBitmap* source, qbBitmap* sourceMask, qbBitmap* sourceAlpha, int32_t x, int32_t y,
                    int32_t width, int32_t height, qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha);
