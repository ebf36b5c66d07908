// A bitmap's pixels as ARGB words, and masks made from a key colour.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"

// The rectangle (x, y, width, height) of the bitmap as width x height ARGB
// words, top row first, whatever the bitmap's pixel format (16-, 24- and
// 32-bit formats convert; the alpha byte is 0); parts outside the bitmap
// read as 0. flag (may be null) receives the bitmap's video state word. A
// bitmap that the display adapter owns is read through the adapter. 0,
// ERR_MEM (sizes not positive or too large), ERR_LOCKBMAP or
// ERR_READVIDEOPIXELS; *out is empty on an error.
int ReadBitmapPixels(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* flag,
                     std::vector<uint32_t>* out);

// A new mask of width x height with a bit set for every pixel of the
// bitmap that differs from keyColour ($RRGGBB, converted to the bitmap's
// format first; alpha bytes never count). Null when the bitmap cannot be
// locked, the size leaves the bitmap or the mask cannot be made.
qbBitmap* BuildColorMask(qbBitmap* bitmap, int32_t width, int32_t height, uint32_t keyColor);

// For a bitmap whose pixels the display adapter keeps (they cannot be locked
// here): a plain bitmap of the same size with those pixels, read through the
// adapter, for the operations that work on locked pixels. *out stays null
// for any other bitmap. With alpha, the pixels' alpha bytes as a plane when
// the adapter's pixels carry alpha. 0, ERR_MEM, ERR_READVIDEOPIXELS,
// ERR_WRONGUSAGE (alpha in a format without it), ERR_ALLOCALPHA or
// ERR_BITMAP.
int PlainCopyOfAdapterBitmap(qbBitmap* bitmap, BitmapPtr* out, BitmapPtr* alpha = nullptr);
