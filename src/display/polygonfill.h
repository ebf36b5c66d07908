// Scan conversion of closed integer polygons into 1-bit mask planes (most
// significant bit first), for the masks of polygon shapes and of rotated
// clip regions.
#pragma once

#include <cstdint>

struct qbBitmap;

struct qbPolygonPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Sets the bits of the polygon's interior on a plane of width x height
// pixels; bits outside it stay as they are. Points may lie outside the
// plane: scan lines and spans are cut to it, and the bits that remain are
// those the whole polygon would set. intersections holds at least count
// values.
void FillPolygonBytes(uint8_t* data, uint32_t rowBytes, int32_t width, int32_t height, int32_t* intersections,
                      const qbPolygonPoint* points, int32_t count);

// The same over a mask plane; work may be null (a buffer is then made).
void FillPolygonMask(qbBitmap* mask, const qbPolygonPoint* points, int32_t count, int32_t* work);
