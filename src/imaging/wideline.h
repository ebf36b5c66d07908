// Straight lines of a given width: one span perpendicular to the major axis
// at every step of the line, each pixel through PlotBlendedPixel.
#pragma once

#include <cstdint>

#include "imaging/planekernels.h"

// A line of the context's line width (below 1 counts as 1) from (x1, y1) to
// (x2, y2), both ends included. Spans are width / sin or width / cos of the
// line's angle long, centred on the Bresenham path; the same pixels whichever
// end comes first. Spans and steps outside the clip rectangle are left out,
// so a huge width or a far end costs no more than what is visible.
void DrawWideLine(const BlendContext& ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// The one-pixel line over the same context.
inline void DrawPixelLine(BlendContext ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    ctx.lineWidth = 1;
    DrawWideLine(ctx, x1, y1, x2, y2);
}
