// Pixel transfers over one request record: the plain copy, the copy through
// an 8-bit mask and the blend that weighs the source's alpha against the
// destination's own, by pixel size; and the blend of one bitmap into another
// that has an alpha plane, which a selected target with planes draws through.
#pragma once

#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/kernelisa.h"

// Both pixel buffers share the format. The mask is the source's alpha
// channel (one byte per pixel, addressed at mask x and y); the destination
// alpha plane is read, never written.
struct qbPixelTransferRequest {
    const void* source = nullptr;
    int32_t srcX = 0;
    int32_t srcY = 0;
    int32_t maskX = 0;
    int32_t maskY = 0;
    int32_t srcPitch = 0;  // in pixels
    void* destination = nullptr;
    int32_t dstX = 0;
    int32_t dstY = 0;
    int32_t dstPitch = 0;  // in pixels
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* mask = nullptr;
    const uint8_t* destAlpha = nullptr;
    int32_t maskPitch = 0;       // in bytes
    int32_t destAlphaPitch = 0;  // in bytes
    int32_t format = 10;
};

// The source pixel where the mask byte is not 0.
void CopyMasked32(const qbPixelTransferRequest& r);
void CopyMasked16(const qbPixelTransferRequest& r);

// With a the mask byte and da the destination's alpha: 255 copies, 0
// leaves, otherwise o = min((da (255 - a) + 255 a + 127) / 255, 255),
// w = (da (255 - a) + 127) / 255 and each channel becomes
// min((s a + d w + 127) / o, 255). The 16-bit twin works on RGB565 channels.
void BlendAlpha32(const qbPixelTransferRequest& r);
void BlendAlpha16(const qbPixelTransferRequest& r);
// BlendAlpha32 through the rows of one instruction set (the widest the
// processor has, where it lacks that one); with AVX2, also through AVX-512
// rows where the processor has them and avx512 allows.
void BlendAlpha32With(KernelIsa isa, const qbPixelTransferRequest& r, bool avx512 = true);
// The same with a division per channel, for holding the two above to.
void BlendAlpha32Ref(const qbPixelTransferRequest& r);
void BlendAlpha16Ref(const qbPixelTransferRequest& r);

enum : int32_t {
    kConvertCopy = 0,
    kConvertMasked = 1,
    kConvertBlend = 2,
};
// The transfer of a mode for 2- or 4-byte pixels; false (and nothing done)
// for any other size or mode. The mask position is taken to be the source's.
bool RunPixelConverter(qbPixelTransferRequest r, int32_t bytesPerPixel, int32_t mode);

// Blends a rectangle of source through its alpha plane into a destination
// whose own alpha plane weighs against it (a transparent destination takes
// the source colour whole). Bitmaps whose pixels a display adapter keeps,
// or that differ in format, take the plain alpha blend instead.
void BlendBitmapRectOverAlpha(qbBitmap* source, int32_t sx, int32_t sy, qbBitmap* alpha, qbBitmap* destination,
                              int32_t dx, int32_t dy, qbBitmap* destinationAlpha, int32_t width, int32_t height);
