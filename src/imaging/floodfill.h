// Boundary flood fill on locked 2- and 4-byte pixels: the 4-connected area
// around a seed that pixels of a border colour enclose takes the fill
// colour. Pending runs live on a heap stack, so a maze-like area of any
// size costs memory in proportion to its open run ends, never call depth.
#pragma once

#include <cstdint>

#include "imaging/kernelisa.h"
#include "imaging/kernels.h"

// The bits of a 4-byte pixel that hold its colour: the low 24 for the ARGB
// and ABGR formats, the high 24 for BGRA and RGBA.
uint32_t ColourBitsMask32(uint32_t format);

// Fills the seed's row left and right up to the border, then every run of
// the rows above and below that starts at a pixel neither border nor fill
// colour, and so on. Pixels compare under compareMask (a pixel's other bits,
// its alpha byte, stay as they were). A seed on a border pixel or outside
// width x height fills nothing. ERR_MEM when the run stack cannot grow (the
// fill then stops part way), else 0.
int FloodFill32(PixelRows32 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t border, uint32_t fill,
                uint32_t compareMask);
int FloodFill16(PixelRows16 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint16_t border, uint16_t fill);

// The same fills with the point where a long scan-line walk turns to row
// order given, and the widest instruction set the row-order pass may use:
// the walk turns once its work passes scanBudget (0: at its first stretch,
// INT64_MAX: never); a negative budget is the fills' own choice, weighed
// against what a row-order pass over the rows reached would cost. Both
// walks and every set give the same pixels; tests hold them to each other
// here.
int FloodFill32With(KernelIsa isa, int64_t scanBudget, PixelRows32 rows, int32_t width, int32_t height, int32_t x,
                    int32_t y, uint32_t border, uint32_t fill, uint32_t compareMask);
int FloodFill16With(KernelIsa isa, int64_t scanBudget, PixelRows16 rows, int32_t width, int32_t height, int32_t x,
                    int32_t y, uint16_t border, uint16_t fill);

// Plain reference: the 4-connected area of pixels other than the border
// colour that holds the seed, by a breadth-first walk. It equals the scan
// fill whenever no pixel of that area had the fill colour before.
int FloodFill32Ref(PixelRows32 rows, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t border,
                   uint32_t fill, uint32_t compareMask);
