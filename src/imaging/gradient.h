// The gradient renderer: linear, radial and conical fills of a rectangle of
// a locked pixel buffer, with colours interpolated between colour stops.
#pragma once

#include <cstdint>

#include "core/preproc.h"

// The gradient record as the option parsers fill it and the renderer reads
// it; BGPic fills, display backdrops and applet records share it.
using qbGradient = qbGradientOptions;

enum : int { kGradientLinear = 2, kGradientRadial = 3, kGradientConical = 4 };

// A stop list holds at most this many stops.
constexpr int kMaxGradientStops = 64;

// A rectangle of a buffer to fill; the rectangle's size is also the size the
// geometry is laid out against. The pitch counts pixels, not bytes.
struct qbGradientFill {
    void* pixels = nullptr;
    int32_t bytesPerPixel = 4;
    int32_t pixelFormat = 10;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pitch = 0;
    const qbGradient* gradient = nullptr;
};

// One stop of the table a fill builds: 16.16 position and 16-bit channels.
struct qbGradientStopEntry {
    int32_t position = 0;
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;
};

enum : int32_t { kSpreadPad = 2, kSpreadReflect = 3 };

// The colour interpolator over a stop table; it keeps the two stops around
// the last position and looks again only when a position leaves them.
struct qbGradientWalker {
    uint32_t leftG = 0;
    uint32_t leftRB = 0;
    uint32_t rightG = 0;
    uint32_t rightRB = 0;
    int32_t leftPosition = 0;
    int32_t rightPosition = 0x10000;
    int32_t stepper = 0;
    const qbGradientStopEntry* stops = nullptr;
    int32_t count = 0;
    int32_t spread = kSpreadPad;
    bool reset = true;
};

void InitGradientWalker(qbGradientWalker* walker, const qbGradientStopEntry* stops, int32_t count, int32_t spread);
void ResetGradientWalker(qbGradientWalker* walker, int32_t position);
// 0x00RRGGBB.
uint32_t GradientWalkerPixel32(qbGradientWalker* walker, int32_t position);
uint16_t GradientWalkerPixel16(qbGradientWalker* walker, int32_t position);

// Renders into the rectangle; the caller has locked the buffer. A size of 0
// or less, a pixel size other than 2 or 4, an unknown type or a stop count
// above the limit (or of one) draws nothing. Every 32-bit pixel has alpha 0.
void FillGradientPixels(const qbGradientFill& fill);
// The same, drawing only the part of the rectangle inside the clip window
// [clipX0, clipX1) x [clipY0, clipY1) of buffer coordinates; the geometry is
// still laid out over the whole rectangle.
void FillGradientPixelsClipped(const qbGradientFill& fill, int32_t clipX0, int32_t clipY0, int32_t clipX1,
                               int32_t clipY1);
