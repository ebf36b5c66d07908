// One-pixel lines straight into a bitmap's pixels.
#pragma once

#include <cstdint>

struct qbBitmap;

// A line from (x1, y1) to (x2, y2), both ends included, in colour
// (0xRRGGBB) converted to the bitmap's format, cut to the bitmap. Bitmaps
// that cannot be locked, and 3-byte formats, which the blending kernels do
// not address, are left alone.
void DrawBitmapLine(qbBitmap* bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
