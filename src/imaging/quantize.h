// The colour quantiser: any pixel buffer to at most 256 colours, a palette
// of $RRGGBB words and one index byte per pixel. A buffer with no more
// distinct pixel values than asked for keeps its colours exactly; otherwise
// median cut over a 5-6-5 bit histogram picks the colours, optionally with
// serpentine Floyd-Steinberg dithering.
#pragma once

#include <cstdint>

inline constexpr uint32_t kNoTransparentColour = 0xFFFFFFFFu;

// pixels: rows of `pitch` pixels of `format` (0-13, bytesPerPixel 2, 3 or
// 4); indices: width x height bytes, rows packed; palette: 256 entries.
// *count holds the number of colours wanted on entry (cut to 1..256, or
// 1..255 with reserve) and the palette size on return. A transparent
// colour gets the last entry; reserve (without one) adds a black last
// entry. Returns 1, or 0 when memory ran out (the outputs are then not
// valid).
int QuantizePixels(const void* pixels, int format, int bytesPerPixel, int32_t width, int32_t height, int32_t pitch,
                   uint8_t* indices, uint32_t* palette, int32_t* count, uint32_t transparentColour, bool reserve,
                   bool dither, int32_t* transparentIndex = nullptr);
