// Checks shared by the bitmap operations that work on a rectangle of a
// bitmap and of its mask or alpha plane.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"

// The plane a mask or alpha bitmap carries, or null.
inline const qbBitmapPlane* PlaneOf(const qbBitmap* bitmap) {
    return bitmap && bitmap->plane ? bitmap->plane.get() : nullptr;
}

// Whether (x, y, width, height) lies inside a w x h area. The sums are
// 64-bit so that a huge width or height cannot wrap round into range.
inline bool RectInside(int32_t w, int32_t h, int32_t x, int32_t y, int32_t width, int32_t height) {
    return x >= 0 && y >= 0 && int64_t{x} + width <= w && int64_t{y} + height <= h;
}
