// The oil-paint window filter: every pixel takes the most frequent
// brightness of the square window around it.
#pragma once

#include <cstdint>

struct qbOilPaintRequest {
    void* pixels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;  // row length in pixels
    uint32_t pixelFormat = 0;
    double radius = 0;  // >= 0
};

// In place. The window is k x k with k from the two-dimensional width rule
// (sigma 0.5); walking it row by row, the pixel whose brightness count first
// rose above every count before it wins, copied as stored. Nothing happens
// when the edge-extended copy cannot be had.
void OilPaint32(const qbOilPaintRequest& request);
void OilPaint16(const qbOilPaintRequest& request);
