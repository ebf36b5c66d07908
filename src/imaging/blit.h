// Drawing one bitmap onto another: fills, opaque, masked and alpha copies,
// tiling, glyph masks, alpha-channel drawing and alpha-plane combination.
// Each operation goes the blit route when one is installed and takes it (a
// display adapter that draws that kind itself or owns the destination), else
// to the pixel kernels.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/kernels.h"

struct qbGradientOptions;

// A clip region as the blits see it: a rectangle and an optional 1-bit mask
// of the rectangle's size.
struct qbClipRegion {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    qbBitmap* mask = nullptr;
};

// What a display adapter takes over while it is installed; fill and copy
// answer true when the adapter has done the work. Copy kinds: 0 opaque,
// 1 masked (plane is the mask), 2 alpha (plane is the alpha channel).
struct qbBlitRoute {
    bool (*fill)(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
    bool (*copy)(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, qbBitmap* plane, int kind);
    // Whether the adapter keeps the bitmap's pixels, which are then read
    // through readPixels as width x height ARGB values (0 or an error code),
    // with their alpha bytes when alpha is not null and the pixels have any
    // (else alpha is left empty).
    bool (*ownsPixels)(const qbBitmap* bitmap);
    int (*readPixels)(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
                      std::vector<uint8_t>* alpha);
};
// Null removes the route.
void SetBlitRoute(const qbBlitRoute* route);
const qbBlitRoute* GetBlitRoute();

// The rows of a plane bitmap addressed at (x, y); no data for a null plane.
MaskRows MaskRowsOf(const qbBitmap* mask, int32_t x, int32_t y);
AlphaRows AlphaRowsOf(const qbBitmap* alpha, int32_t x, int32_t y);

void FillBitmapRect(qbBitmap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
void CopyBitmapRect(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                    int32_t width, int32_t height);
// Only where the source's mask bit (at the source position) is set.
void CopyBitmapRectMasked(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                          int32_t width, int32_t height, qbBitmap* mask);
// Blended through the source's alpha plane.
void CopyBitmapRectAlpha(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                         int32_t width, int32_t height, qbBitmap* alpha);

// Fills a rectangle with repeats of a tile; the start offset names the tile
// pixel at the rectangle's top left (negative offsets wrap).
void TileBitmapRect(qbBitmap* destination, int32_t x, int32_t y, int32_t width, int32_t height, qbBitmap* tile,
                    int32_t startX, int32_t startY, int32_t tileWidth, int32_t tileHeight);
// The same over raw 32-bit buffers: the destination holds just the
// rectangle (row length = width), the tile has its own row length.
void TileRawRect(uint32_t* destination, int32_t width, int32_t height, const uint32_t* tile, int32_t startX,
                 int32_t startY, int32_t tileWidth, int32_t tileHeight, int32_t tileRowLength);

// One colour where the mask bits are set; maskData (when given) replaces the
// mask plane's rows.
void DrawMaskInColor(qbBitmap* destination, int32_t x, int32_t y, qbBitmap* mask, int32_t mx, int32_t my,
                     int32_t width, int32_t height, uint32_t colour, const uint8_t* maskData, int32_t maskRowBytes);

struct qbAlphaChannelBlit {
    qbBitmap* alpha = nullptr;  // the weights
    int32_t srcX = 0;
    int32_t srcY = 0;
    qbBitmap* destination = nullptr;
    int32_t dstX = 0;
    int32_t dstY = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t colour = 0;
    int32_t mode = 1;
    qbBitmap* destinationAlpha = nullptr;
    uint32_t intensity = 255;
    const uint16_t* coverage = nullptr;
    int32_t coverageRowLength = 0;
    qbBitmap* sourceColour = nullptr;
    const uint8_t* alphaData = nullptr;  // replaces the plane's rows when given
    int32_t alphaRowBytes = 0;
};
void BltAlphaChannel(const qbAlphaChannelBlit& blit);
// Clips against the plane sizes first.
void BltAlphaChannelClipped(qbAlphaChannelBlit blit, int32_t srcWidth, int32_t srcHeight, int32_t dstWidth,
                            int32_t dstHeight);

// The ten alpha-combination modes between two alpha planes.
void CombineAlphaRect(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                      int32_t width, int32_t height, int32_t mode, uint32_t value);
void CombineAlphaRectClipped(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* destination, int32_t dx, int32_t dy,
                             int32_t width, int32_t height, int32_t mode, uint32_t value, int32_t srcWidth,
                             int32_t srcHeight, int32_t dstWidth, int32_t dstHeight);

// Renders a gradient laid out over the rectangle into the part of it that
// lies on the bitmap. ERR_WRONGUSAGE for a stop list of one or of more than
// the limit, ERR_LOCKBMAP when the pixels cannot be reached.
int DrawGradient(qbBitmap* destination, int32_t x, int32_t y, int32_t width, int32_t height,
                 const qbGradientOptions* gradient);
