// Many rectangles of one picture copied a row at a time: each row is
// visited once and every rectangle's span in it copied, so that a frame of
// thin columns costs about its pixels and not a row's set-up per column.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/platform_types.h"

// Calls copy(x, y, width) for the span of every rectangle in each row y,
// rows from top to bottom, rectangles in list order within a row. The
// rectangles must be clipped already (width and height of 1 or more).
template <class Copy>
void ForEachRectRow(const qbWindowRect* rects, int count, Copy copy) {
    if (count < 1) return;
    int top = rects[0].y, bottom = rects[0].y + rects[0].height;
    for (int i = 1; i < count; ++i) {
        top = std::min(top, rects[i].y);
        bottom = std::max(bottom, rects[i].y + rects[i].height);
    }
    for (int y = top; y < bottom; ++y)
        for (int i = 0; i < count; ++i) {
            const qbWindowRect& r = rects[i];
            if (y >= r.y && y - r.y < r.height) copy(r.x, y, r.width);
        }
}
