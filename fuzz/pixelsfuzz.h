// Shared by the fuzz targets of the pixel kernels and the drawing over a
// display: notes a bitmap's pixels, its mask and alpha planes, and what a
// display of the in-memory backend shows, in the input's answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/bgpics.h"
#include "display/display.h"
#include "fuzznote.h"
#include "imaging/bitmap.h"
#include "platform/null/null_backend.h"

// A colour bitmap's pixels as 0xRRGGBB, so that both pixel formats note
// the same way, or a mask's bits; -1 for none.
inline void FuzzNotePixels(qbBitmap* bitmap, bool isMask) {
    FuzzNoteValue(bitmap ? bitmap->width : -1);
    if (!bitmap) return;
    FuzzNoteValue(bitmap->height);
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x) FuzzNoteValue(ReadBitmapPixel(bitmap, x, y, isMask));
}

// An alpha plane's rows without their padding; -1 for no plane.
inline void FuzzNoteAlpha(const qbBitmap* alpha) {
    const qbBitmapPlane* plane = alpha ? alpha->plane.get() : nullptr;
    FuzzNoteValue(plane ? plane->width : -1);
    if (!plane) return;
    FuzzNoteValue(plane->height);
    for (int32_t y = 0; y < plane->height; ++y)
        FuzzNote(plane->data + static_cast<size_t>(y) * plane->rowBytes, static_cast<size_t>(plane->width));
}

inline void FuzzNoteImages(qbBitmap* bitmap, qbBitmap* mask, qbBitmap* alpha) {
    FuzzNotePixels(bitmap, false);
    FuzzNotePixels(mask, true);
    FuzzNoteAlpha(alpha);
}

// The display's picture and, when it has a window, what the window shows.
inline void FuzzNoteDisplay(const qbDisplay* display) {
    if (display->bgpic) {
        const qbImageTriple& p = display->bgpic->current;
        FuzzNoteImages(p.bitmap, p.mask, p.alpha);
    }
    const null_backend::Surface* s = null_backend::GetSurface(display);
    FuzzNoteValue(s ? s->width : -1);
    if (!s) return;
    FuzzNoteValue(s->height);
    FuzzNote(s->pixels.data(), s->pixels.size() * sizeof(uint32_t));
}
