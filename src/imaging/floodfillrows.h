// The flood fill's two walks share one view of the pixels. The scan-line
// walk follows the area run by run and suits most fills; a long narrow
// area makes it step down columns a row (and a page) at a time, and there
// the fill hands its pending runs to a walk in row order, which labels the
// runs of every row it needs and then paints the ones joined to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/kernelisa.h"

template <class Pixel>
struct FloodSurface {
    Pixel* pixels;
    int32_t rowLength;
    int32_t width;
    int32_t height;
    Pixel mask, border, fill;

    Pixel* Row(int32_t y) const { return pixels + static_cast<ptrdiff_t>(y) * rowLength; }
    bool IsBorder(Pixel p) const { return (p & mask) == border; }
    bool IsFill(Pixel p) const { return (p & mask) == fill; }
    bool IsOpen(Pixel p) const { return !IsBorder(p) && !IsFill(p); }
    void Paint(Pixel* p) const { *p = static_cast<Pixel>((*p & ~mask) | fill); }
};

// A stretch of row y still to scan: every open pixel in it (neither border
// nor fill colour) starts a run to paint. The row it came from is
// y - direction.
struct FloodPending {
    int32_t left, right;
    int32_t y;
    int32_t direction;
};

// Finishes a fill whose painted runs are all of the fill colour and whose
// every unexplored edge lies in `pending`: paints the runs of open pixels
// joined, through open pixels, to an open pixel of a pending stretch. The
// rows it reads reach from the pending ones as far as anything joined to
// them does. False, with nothing painted, where the scan-line walk must go
// on instead: a run of non-border pixels mixing the fill colour with other
// colours (that walk paints such a run when it meets one of its other
// pixels, but never starts one from a pixel of the fill colour, so joins
// through it go one way only), or memory that runs out.
bool FillInRowOrder(const FloodSurface<uint32_t>& s, const std::vector<FloodPending>& pending, KernelIsa isa);
bool FillInRowOrder(const FloodSurface<uint16_t>& s, const std::vector<FloodPending>& pending, KernelIsa isa);
