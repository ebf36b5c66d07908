// Kernels that feed or consume the 8-bit alpha and 1-bit mask planes: ARGB
// import, alpha-channel drawing, plane fills and conversions, alpha
// combination, clip-region combination and the blended-pixel plotter. They
// share the raw-row records and the blend rule of kernels.h, and each
// production kernel has a scalar reference (suffix Ref) it must match bit
// for bit. None of them allocates.
#pragma once

#include <cstdint>

#include "imaging/kernels.h"

// A read-only ARGB buffer; pixel (x, y) is pixels[y * rowLength + x].
struct ArgbRows {
    const uint32_t* pixels = nullptr;
    int32_t rowLength = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// ---- ARGB import ----------------------------------------------------------
// Format 10 takes the words as they are; 11-13 move all four bytes, alpha
// included, since an import is a copy rather than a computed colour.
uint32_t ImportPixel32(uint32_t format, uint32_t argb);
void ImportARGB32(PixelRows32 dst, ArgbRows src, int32_t width, int32_t height,
                  uint32_t format);
void ImportARGB32Ref(PixelRows32 dst, ArgbRows src, int32_t width, int32_t height,
                     uint32_t format);
// Formats 0-7: each pixel narrowed to RGB565 (top bits), then to the format.
void ImportARGB16(PixelRows16 dst, ArgbRows src, int32_t width, int32_t height, int format);
void ImportARGB16Ref(PixelRows16 dst, ArgbRows src, int32_t width, int32_t height,
                     int format);

// ---- ARGB export: the reverse, to 0x00RRGGBB (alpha 0, as every computed
// colour); 2-byte pixels widen through RGB565 with zero low bits.
void ExportARGB32(uint32_t* out, int32_t outRowLength, PixelRows32 src, int32_t width,
                  int32_t height, uint32_t format);
void ExportARGB32Ref(uint32_t* out, int32_t outRowLength, PixelRows32 src, int32_t width,
                     int32_t height, uint32_t format);
void ExportARGB16(uint32_t* out, int32_t outRowLength, PixelRows16 src, int32_t width,
                  int32_t height, int format);
void ExportARGB16Ref(uint32_t* out, int32_t outRowLength, PixelRows16 src, int32_t width,
                     int32_t height, int format);

// ---- alpha from ARGB: the top byte of each pixel -------------------------
void AlphaFromARGB(AlphaRows dst, ArgbRows src, int32_t width, int32_t height);
void AlphaFromARGBRef(AlphaRows dst, ArgbRows src, int32_t width, int32_t height);

// ---- plane fills and conversions -----------------------------------------
void FillAlphaPlane(AlphaRows dst, int32_t width, int32_t height, uint8_t value);
void FillAlphaPlaneRef(AlphaRows dst, int32_t width, int32_t height, uint8_t value);
// value where the mask bit is set, other bytes left.
void StampMaskIntoAlpha(AlphaRows dst, MaskRows mask, int32_t width, int32_t height,
                        uint8_t value);
void StampMaskIntoAlphaRef(AlphaRows dst, MaskRows mask, int32_t width, int32_t height,
                           uint8_t value);
// value where the mask bit is set, 0 elsewhere.
void MaskToAlpha(AlphaRows dst, MaskRows mask, int32_t width, int32_t height, uint8_t value);
void MaskToAlphaRef(AlphaRows dst, MaskRows mask, int32_t width, int32_t height,
                    uint8_t value);
// Source bit = (alpha byte == 255); mode 0/2 copy, 1 inverse, 3 xor, 5 or,
// 4 (and any other) leaves the mask.
void AlphaToMask(MaskRows dst, AlphaRows src, int32_t width, int32_t height, int32_t mode);
void AlphaToMaskRef(MaskRows dst, AlphaRows src, int32_t width, int32_t height,
                    int32_t mode);
// dst = src * level / 255; src and dst may be the same plane.
void MultiplyAlpha(AlphaRows dst, AlphaRows src, int32_t width, int32_t height,
                   uint32_t level);
void MultiplyAlphaRef(AlphaRows dst, AlphaRows src, int32_t width, int32_t height,
                      uint32_t level);

// ---- alpha combine: the ten modes of CombineAlphaRect --------------------
void CombineAlpha(AlphaRows dst, AlphaRows src, int32_t width, int32_t height, int32_t mode,
                  uint32_t value);
void CombineAlphaRef(AlphaRows dst, AlphaRows src, int32_t width, int32_t height,
                     int32_t mode, uint32_t value);

// ---- clip combination ------------------------------------------------------
// out bit = clip bit AND source bit; a source without data counts as fully
// set, because an unmasked source covers its whole rectangle.
void ClipCombineMask(MaskRows out, MaskRows src, MaskRows clip, int32_t width, int32_t height);
void ClipCombineMaskRef(MaskRows out, MaskRows src, MaskRows clip, int32_t width,
                        int32_t height);
// out byte = source byte where the clip bit is set, else 0.
void ClipCombineAlpha(AlphaRows out, AlphaRows src, MaskRows clip, int32_t width,
                      int32_t height);
void ClipCombineAlphaRef(AlphaRows out, AlphaRows src, MaskRows clip, int32_t width,
                         int32_t height);

// ---- alpha channel draw ----------------------------------------------------
// 16-bit coverage map; only the low byte of each entry is used.
struct CoverageRows16 {
    const uint16_t* data = nullptr;
    int32_t rowLength = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// The modes of BltAlphaChannel: 1 blend, 4 blend on a 0-64 scale, 2 blend
// and update the destination alpha, 3 as 2 with the weight from `coverage`
// and always the colour, anything else stores where the weight is not 0.
// The colour is ARGB for the 4-byte twin (stored converted; format 10 keeps
// its alpha byte as given) and a pixel of the buffer's layout for the
// 2-byte twin. Modes 2 and 3 without destination alpha data blend as mode 1,
// since there is no destination opacity to weigh against.
struct AlphaDrawParams {
    int32_t mode = 1;
    uint32_t colour = 0;
    uint32_t intensity = 255;
    AlphaRows alpha;          // the weights, addressed at the source position
    CoverageRows16 coverage;  // the weights of mode 3
    AlphaRows destAlpha;      // d of modes 2 and 3
};
// Mode 1 on one row of ARGB pixels (format 10) with the colour and no
// source: weight 0 keeps the pixel, 255 stores argb, others blend.
void ColourThroughWeightsWith(KernelIsa isa, uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb);
inline void ColourThroughWeights(uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb) {
    ColourThroughWeightsWith(BestKernelIsa(), d, w, width, argb);
}
void ColourThroughWeightsRef(uint32_t* d, const uint8_t* w, int32_t width, uint32_t argb);
// `src` (may be null) replaces the colour by its pixel at the weight's position.
void AlphaChannelDraw32(PixelRows32 dst, const PixelRows32* src, const AlphaDrawParams& p,
                        int32_t width, int32_t height, uint32_t format);
void AlphaChannelDraw32Ref(PixelRows32 dst, const PixelRows32* src, const AlphaDrawParams& p,
                           int32_t width, int32_t height, uint32_t format);
void AlphaChannelDraw16(PixelRows16 dst, const PixelRows16* src, const AlphaDrawParams& p,
                        int32_t width, int32_t height, Layout16 layout);
void AlphaChannelDraw16Ref(PixelRows16 dst, const PixelRows16* src, const AlphaDrawParams& p,
                           int32_t width, int32_t height, Layout16 layout);

// ---- blended pixel and coverage plot --------------------------------------
// A drawing context over a buffer of 2- or 4-byte pixels. The colour is ARGB
// for 4-byte pixels and a pixel of `layout` for 2-byte ones; the mask (data
// may be null) is addressed at the pixel's own position.
struct BlendContext {
    void* pixels = nullptr;
    int32_t rowLength = 0;
    int32_t bytesPerPixel = 4;
    uint32_t format = 10;
    Layout16 layout = Layout16::RGB565;
    FillClip clip;
    MaskRows mask;
    uint32_t colour = 0;
    uint32_t coverage = 255;
    uint32_t alpha = 255;
    int32_t lineWidth = 1;
};

// Weight = coverage * alpha / 255: 0 leaves, 255 stores the colour,
// otherwise the blend rule.
void PlotBlendedPixel(const BlendContext& ctx, int32_t x, int32_t y);

// For every non-zero byte of the coverage map (its byte (i, j) belongs to
// pixel (x + i, y + j)), the blended pixel with alpha = byte * alpha / 255.
void PlotCoverageMask(const BlendContext& ctx, const uint8_t* coverage, int32_t rowBytes,
                  int32_t x, int32_t y, int32_t width, int32_t height);
void PlotCoverageMaskRef(const BlendContext& ctx, const uint8_t* coverage, int32_t rowBytes,
                     int32_t x, int32_t y, int32_t width, int32_t height);

// A one-pixel anti-aliased line from (x1, y1) to (x2, y2), both ends
// included: the minor coordinate steps in 16.16 fixed point along the major
// axis, and each step plots the two pixels that straddle it through
// PlotBlendedPixel, the far one with the fraction as coverage and the near
// one with its complement. The context's own coverage is ignored.
void DrawAntialiasedLine(const BlendContext& ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// ---- the names the frame and save code use for two of the kernels above -----
// The top byte of each ARGB pixel into an 8-bit plane.
inline void ExtractAlphaPlane(const uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, uint8_t* plane,
                              int32_t planePitch) {
    AlphaFromARGB({plane, planePitch, 0, 0}, {pixels, pitch, 0, 0}, width, height);
}
// A rectangle of 2- or 4-byte pixels into width x height ARGB words without
// gaps. Every 16-bit format widens through RGB565, so a caller's buffer is
// never left unwritten; 3-byte pixels and unknown formats write nothing.
inline void ReadPixelsAsARGB(const void* pixels, uint32_t* out, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t pitch, int32_t bytesPerPixel, int32_t format) {
    if (width <= 0 || height <= 0) return;
    if (bytesPerPixel == 4 && format >= 10 && format <= 13)
        ExportARGB32(out, width, {static_cast<uint32_t*>(const_cast<void*>(pixels)), pitch, x, y}, width, height,
                     static_cast<uint32_t>(format));
    else if (bytesPerPixel == 2 && format >= 0 && format <= 7)
        ExportARGB16(out, width, {static_cast<uint16_t*>(const_cast<void*>(pixels)), pitch, x, y}, width, height,
                     format);
}
