// The distortion engine: perspective, arc, polar and barrel maps of a
// bitmap, worked backwards from every destination pixel and sampled at the
// nearest source pixel or with elliptical weighted averaging.
#pragma once

#include <cstdint>

struct qbBitmap;
struct qbResampleFilter;

enum : int32_t {
    kDistortPerspective = 4,
    kDistortArc = 9,
    kDistortPolar = 10,
    kDistortBarrel = 12,
};

struct qbDistortImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t xOffset = 0;
    int32_t yOffset = 0;
    void* pixels = nullptr;
    int32_t modulo = 0;  // row length in pixels
};

struct qbDistortRequest {
    int32_t method = 0;
    int32_t argumentCount = 0;
    const double* arguments = nullptr;
    qbDistortImage source;
    qbDistortImage destination;
    double coefficients[10] = {};
    int32_t outWidth = 0;
    int32_t outHeight = 0;
    int32_t outX = 0;
    int32_t outY = 0;
    bool smooth = false;
    int error = 0;
    const uint8_t* srcMask = nullptr;
    uint8_t* dstMask = nullptr;
    const uint8_t* srcAlpha = nullptr;
    uint8_t* dstAlpha = nullptr;
    int32_t srcMaskRowBytes = 0;
    int32_t dstMaskRowBytes = 0;
    int32_t srcAlphaRowBytes = 0;
    int32_t dstAlphaRowBytes = 0;
    int32_t bytesPerPixel = 4;  // of both bitmaps
    int32_t pixelFormat = 10;   // of the source
    int32_t dstPixelFormat = 10;
    int64_t maxSamples = 0;  // the most samples one smooth pixel summed
};

// Coefficients and output geometry from method, arguments and the source
// size: 0, ERR_WRONGUSAGE for arguments the method rejects, or ERR_BITMAP
// for an output beyond a bitmap's 32-bit sides or pixel count.
int ComputeDistortGeometry(qbDistortRequest* request);

// Maps every destination pixel; the destination and its plane must be
// cleared. filter is needed for the smooth flag only.
void MapDistortPixels(qbDistortRequest* request, qbResampleFilter* filter);

// A new bitmap of the distorted source with exactly one plane: a mask when
// the source has a mask, or when it has no plane and smooth is off; else an
// alpha plane. 0, ERR_WRONGUSAGE, ERR_MEM, ERR_BITMAP, ERR_ALLOCMASK,
// ERR_ALLOCALPHA or ERR_LOCKBMAP; nothing is handed out on an error.
// maxSamples (may be null) receives the most samples one pixel summed.
int DistortBitmap(qbBitmap* source, qbBitmap* sourceMask, qbBitmap* sourceAlpha, int32_t width, int32_t height,
                  int32_t method, int32_t argumentCount, const double* arguments, bool smooth, qbBitmap** newBitmap,
                  qbBitmap** newMask, qbBitmap** newAlpha, int32_t* newWidth, int32_t* newHeight,
                  int64_t* maxSamples = nullptr);
