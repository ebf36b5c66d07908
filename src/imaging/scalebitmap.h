// Scaling a bitmap, with its mask and alpha plane when given, into a bitmap
// of another size.
#pragma once

#include <cstdint>

struct qbBitmap;

// Scales width x height of source (and of mask and alpha when given) to
// newWidth x newHeight: into destination when it is given (it must be at
// least that large and share the source's pixel size), else into a new
// bitmap. Outputs the caller does not want may be null; new planes are made
// only for planes the source has. 0, ERR_BITMAP, ERR_ALLOCMASK or
// ERR_ALLOCALPHA; nothing is handed out on an error.
int ScaleBitmap(qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, qbBitmap* destination, int32_t width,
                int32_t height, int32_t newWidth, int32_t newHeight, bool smooth, qbBitmap** outBitmap,
                qbBitmap** outMask, qbBitmap** outAlpha);
