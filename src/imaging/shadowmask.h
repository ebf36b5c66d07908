// The soft alpha shape behind shadows and borders of brushes and layers.
#pragma once

#include <cstdint>

struct qbBitmap;

// A new alpha plane of (width + 2r) x (height + 2r), r = trunc(radius)
// (NaN and negative radii count as 0), holding the shape of the rectangle
// (x, y, width, height) at (r, r) and blurred with radius and sigma:
// - the shape is value where sourceAlpha (when given) is not 0, else value
//   where sourceMask (when given) is set, else a solid rectangle of value;
// - harden: every non-zero byte after the blur becomes 255, and with
//   secondPass a shape taken from an alpha plane is blurred once more with
//   radius / 2 and sigma radius / 6, which rounds the hardened edge off.
// The rectangle must lie inside the plane it is taken from. 0 with
// *outPlane the caller's, or ERR_MEM (the size overflows or the plane or the
// blur cannot be had) or ERR_COORDSRANGE; *outPlane is null on an error.
int BuildShadowMask(qbBitmap* sourceAlpha, qbBitmap* sourceMask, int32_t x, int32_t y, int32_t width, int32_t height,
                    double radius, double sigma, uint8_t value, bool harden, bool secondPass, qbBitmap** outPlane);
