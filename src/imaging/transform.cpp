// The affine sampling kernel. Every destination pixel is sampled at its
// centre mapped back into the source: sampling at corners would shift a
// mirrored or half-turned picture by one pixel, duplicating one column and
// losing another. Centre sampling keeps the identity, the quarter turns, the
// flips and the integer scalings exact.
#include "imaging/transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/bitmappixels.h"
#include "imaging/geometry.h"
#include "imaging/kernelisa.h"
#include "imaging/planerect.h"
#include "imaging/transformrows.h"

namespace {

constexpr double kEpsilon = 1e-10;

struct Inverse {
    double a, b, c, d, tx, ty;
};

bool Invert(const double m[6], Inverse* out) {
    for (int i = 0; i < 6; ++i)
        if (!std::isfinite(m[i])) return false;
    const double det = m[0] * m[3] - m[2] * m[1];
    if (!std::isfinite(det) || std::fabs(det) < 1e-300) return false;
    Inverse v;
    v.a = m[3] / det;
    v.b = -m[1] / det;
    v.c = -m[2] / det;
    v.d = m[0] / det;
    v.tx = -(v.a * m[4] + v.c * m[5]);
    v.ty = -(v.b * m[4] + v.d * m[5]);
    for (double e : {v.a, v.b, v.c, v.d, v.tx, v.ty})
        if (!std::isfinite(e)) return false;
    *out = v;
    return true;
}

// Narrows [lo, hi] (destination columns, hi inclusive) to the columns whose
// centre X + 1/2 maps to slope * (X + 1/2) + offset inside [0, limit).
void NarrowSpan(double slope, double offset, int32_t limit, double* lo, double* hi) {
    if (slope > kEpsilon) {
        *lo = std::max(*lo, std::ceil(-offset / slope - 0.5 - kEpsilon));
        *hi = std::min(*hi, std::ceil((limit - offset) / slope - 0.5 - kEpsilon) - 1);
    } else if (slope < -kEpsilon) {
        *lo = std::max(*lo, std::floor((limit - offset) / slope - 0.5 + kEpsilon) + 1);
        *hi = std::min(*hi, std::floor(-offset / slope - 0.5 + kEpsilon));
    } else if (offset < 0 || offset >= limit) {
        *hi = *lo - 1;
    }
}

int32_t ClampIndex(double v, int32_t size) {
    if (!(v > 0)) return 0;
    if (v >= size - 1) return size - 1;
    return static_cast<int32_t>(v);
}

bool MaskBit(const qbTransformRequest& r, int32_t x, int32_t y) {
    const int32_t bit = x + r.srcMaskBitOffset;
    return (r.srcMask[static_cast<size_t>(y) * r.srcMaskRowBytes + (bit >> 3)] & (0x80 >> (bit & 7))) != 0;
}

void SetMaskBit(const qbTransformRequest& r, int32_t x, int32_t y, bool on) {
    uint8_t& byte = r.dstMask[static_cast<size_t>(y) * r.dstMaskRowBytes + (x >> 3)];
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    byte = on ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
}

const uint8_t* SourcePixel(const qbTransformRequest& r, int32_t x, int32_t y) {
    return static_cast<const uint8_t*>(r.srcPixels) +
           (static_cast<size_t>(y) * r.srcRowLength + x) * static_cast<size_t>(r.bytesPerPixel);
}

uint8_t* DestinationPixel(const qbTransformRequest& r, int32_t x, int32_t y) {
    return static_cast<uint8_t*>(r.dstPixels) +
           (static_cast<size_t>(y) * r.dstRowLength + x) * static_cast<size_t>(r.bytesPerPixel);
}

void ReadPixelRGBAt(const qbTransformRequest& r, int32_t x, int32_t y, uint8_t rgb[3]) {
    ReadPixelRGB(SourcePixel(r, x, y), r.srcFormat, rgb);
}

void WritePixelRGBAt(const qbTransformRequest& r, int32_t x, int32_t y, const uint8_t rgb[3]) {
    WritePixelRGB(DestinationPixel(r, x, y), r.dstFormat, rgb);
}

void SampleNearest(const qbTransformRequest& r, int32_t X, int32_t Y, double sx, double sy) {
    const int32_t ix = ClampIndex(std::floor(sx), r.srcWidth);
    const int32_t iy = ClampIndex(std::floor(sy), r.srcHeight);
    if (r.srcPixels && r.dstPixels && (r.bytesPerPixel == 2 || r.bytesPerPixel == 4))
        std::memcpy(DestinationPixel(r, X, Y), SourcePixel(r, ix, iy), static_cast<size_t>(r.bytesPerPixel));
    if (r.srcMask) {
        if (r.dstMask) SetMaskBit(r, X, Y, MaskBit(r, ix, iy));
    } else if (r.srcAlpha) {
        if (r.dstAlpha)
            r.dstAlpha[static_cast<size_t>(Y) * r.dstAlphaRowBytes + X] =
                r.srcAlpha[static_cast<size_t>(iy) * r.srcAlphaRowBytes + ix];
    } else if (r.dstMask) {
        SetMaskBit(r, X, Y, true);
    }
}

// Bilinear over the four pixels around the centre position; samples beyond
// the edges repeat the last row or column.
void SampleSmooth(const qbTransformRequest& r, int32_t X, int32_t Y, double sx, double sy) {
    const double u = sx - 0.5;
    const double v = sy - 0.5;
    const double fu = std::floor(u);
    const double fv = std::floor(v);
    const double fx = u - fu;
    const double fy = v - fv;
    const int32_t xs[2] = {ClampIndex(fu, r.srcWidth), ClampIndex(fu + 1, r.srcWidth)};
    const int32_t ys[2] = {ClampIndex(fv, r.srcHeight), ClampIndex(fv + 1, r.srcHeight)};
    const bool colour = r.srcPixels && r.dstPixels;
    uint8_t rgba[4][4] = {};
    bool opaque[4] = {true, true, true, true};
    int firstOpaque = 0;
    if (r.srcAlpha) {
        for (int i = 0; i < 4; ++i)
            rgba[i][3] = r.srcAlpha[static_cast<size_t>(ys[i >> 1]) * r.srcAlphaRowBytes + xs[i & 1]];
    } else if (r.srcMask) {
        firstOpaque = -1;
        for (int i = 0; i < 4; ++i) {
            opaque[i] = MaskBit(r, xs[i & 1], ys[i >> 1]);
            if (opaque[i] && firstOpaque < 0) firstOpaque = i;
        }
        if (firstOpaque < 0) {
            if (r.dstMask) SetMaskBit(r, X, Y, false);
            return;
        }
    }
    if (colour) {
        for (int i = 0; i < 4; ++i)
            if (opaque[i]) ReadPixelRGBAt(r, xs[i & 1], ys[i >> 1], rgba[i]);
        for (int i = 0; i < 4; ++i)
            if (!opaque[i]) std::memcpy(rgba[i], rgba[firstOpaque], 3);
    }
    uint8_t out[4];
    for (int ch = 0; ch < 4; ++ch) {
        const double top = rgba[0][ch] * (1 - fx) + rgba[1][ch] * fx;
        const double bottom = rgba[2][ch] * (1 - fx) + rgba[3][ch] * fx;
        out[ch] = static_cast<uint8_t>(std::min(255.0, top * (1 - fy) + bottom * fy + 0.5));
    }
    if (colour) WritePixelRGBAt(r, X, Y, out);
    const int32_t ix = ClampIndex(std::floor(sx), r.srcWidth);
    const int32_t iy = ClampIndex(std::floor(sy), r.srcHeight);
    if (r.srcMask) {
        if (r.dstMask) SetMaskBit(r, X, Y, MaskBit(r, ix, iy));
    } else if (r.srcAlpha) {
        if (r.dstAlpha) r.dstAlpha[static_cast<size_t>(Y) * r.dstAlphaRowBytes + X] = out[3];
    } else if (r.dstMask) {
        SetMaskBit(r, X, Y, true);
    }
}

// Rows of 0xAARRGGBB pixels on both sides with no mask to read, the case
// nearly every turn and scale of a brush is: the same sums as the sampling
// functions above without their per-pixel format and plane dispatch, so the
// results are identical.
bool PlainRowsPossible(const qbTransformRequest& r) {
    return r.srcPixels && r.dstPixels && r.bytesPerPixel == 4 && r.srcFormat == kFormatARGB &&
           r.dstFormat == kFormatARGB && !r.srcMask;
}

void SetMaskSpan(const qbTransformRequest& r, int32_t Y, int32_t x0, int32_t x1) {
    uint8_t* row = r.dstMask + static_cast<size_t>(Y) * r.dstMaskRowBytes;
    int32_t x = x0;
    for (; x <= x1 && (x & 7); ++x) row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
    if (x + 7 <= x1) {
        const int32_t whole = (x1 + 1 - x) >> 3;
        std::memset(row + (x >> 3), 0xFF, static_cast<size_t>(whole));
        x += whole * 8;
    }
    for (; x <= x1; ++x) row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
}

const uint32_t* SourceRow32(const qbTransformRequest& r, int32_t y) {
    return static_cast<const uint32_t*>(r.srcPixels) + static_cast<size_t>(y) * r.srcRowLength;
}

TransformRow RowOf(const qbTransformRequest& r, const Inverse& inv, int32_t Y, double cy, int32_t x0, int32_t x1) {
    TransformRow row;
    row.req = &r;
    row.a = inv.a;
    row.b = inv.b;
    // c * cy is the same product for the whole row; the sums keep their order.
    row.rowX = inv.c * cy;
    row.rowY = inv.d * cy;
    row.tx = inv.tx;
    row.ty = inv.ty;
    row.out = static_cast<uint32_t*>(r.dstPixels) + static_cast<size_t>(Y) * r.dstRowLength;
    row.alphaOut = r.srcAlpha && r.dstAlpha ? r.dstAlpha + static_cast<size_t>(Y) * r.dstAlphaRowBytes : nullptr;
    row.x0 = x0;
    row.x1 = x1;
    return row;
}

// Columns from..x1 of the row. ClampIndex of a position is ClampIndex of its
// floor (both are 0 below 1), so no floor is taken.
void NearestRow(const qbTransformRequest& r, const TransformRow& row, int32_t from) {
    for (int32_t X = from; X <= row.x1; ++X) {
        const double cx = X + 0.5;
        const double sx = row.a * cx + row.rowX + row.tx;
        const double sy = row.b * cx + row.rowY + row.ty;
        const int32_t ix = ClampIndex(sx, r.srcWidth);
        const int32_t iy = ClampIndex(sy, r.srcHeight);
        row.out[X] = SourceRow32(r, iy)[ix];
        if (row.alphaOut) row.alphaOut[X] = r.srcAlpha[static_cast<size_t>(iy) * r.srcAlphaRowBytes + ix];
    }
}

// floor of a position on the source (well inside 64 bits), without the
// library call the baseline instruction set needs for std::floor.
double Floor(double v) {
    const double t = static_cast<double>(static_cast<int64_t>(v));
    return t > v ? t - 1 : t;
}

[[maybe_unused]] uint8_t Bilinear(double c0, double c1, double c2, double c3, double fx, double fy) {
    const double top = c0 * (1 - fx) + c1 * fx;
    const double bottom = c2 * (1 - fx) + c3 * fx;
    return static_cast<uint8_t>(std::min(255.0, top * (1 - fy) + bottom * fy + 0.5));
}

// The four channels of four 0xAARRGGBB samples blended as Bilinear does,
// two channels a step in double lanes: the same products and sums in the
// same order, so the same bytes.
uint32_t BlendFour(const uint32_t p[4], double fx, double fy) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128d low[4], high[4];
    for (int i = 0; i < 4; ++i) {
        __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p[i])), zero);
        v = _mm_unpacklo_epi16(v, zero);
        low[i] = _mm_cvtepi32_pd(v);                            // blue, green
        high[i] = _mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xEE));  // red, alpha
    }
    const __m128d wx0 = _mm_set1_pd(1 - fx), wx1 = _mm_set1_pd(fx);
    const __m128d wy0 = _mm_set1_pd(1 - fy), wy1 = _mm_set1_pd(fy);
    const __m128d half = _mm_set1_pd(0.5), most = _mm_set1_pd(255.0);
    auto blend = [&](const __m128d c[4]) {
        const __m128d upper = _mm_add_pd(_mm_mul_pd(c[0], wx0), _mm_mul_pd(c[1], wx1));
        const __m128d lower = _mm_add_pd(_mm_mul_pd(c[2], wx0), _mm_mul_pd(c[3], wx1));
        const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_mul_pd(upper, wy0), _mm_mul_pd(lower, wy1)), half);
        return _mm_cvttpd_epi32(_mm_min_pd(sum, most));
    };
    const __m128i channels = _mm_unpacklo_epi64(blend(low), blend(high));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(channels, channels), zero);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
#else
    uint32_t word = 0;
    for (int shift = 24; shift >= 0; shift -= 8)
        word |= uint32_t{Bilinear((p[0] >> shift) & 0xFF, (p[1] >> shift) & 0xFF, (p[2] >> shift) & 0xFF,
                                  (p[3] >> shift) & 0xFF, fx, fy)}
                << shift;
    return word;
#endif
}

void SmoothRow(const qbTransformRequest& r, const TransformRow& row, int32_t from) {
    for (int32_t X = from; X <= row.x1; ++X) {
        const double cx = X + 0.5;
        const double u = row.a * cx + row.rowX + row.tx - 0.5;
        const double v = row.b * cx + row.rowY + row.ty - 0.5;
        const double fu = Floor(u);
        const double fv = Floor(v);
        const double fx = u - fu;
        const double fy = v - fv;
        const int32_t xa = ClampIndex(fu, r.srcWidth), xb = ClampIndex(fu + 1, r.srcWidth);
        const int32_t ya = ClampIndex(fv, r.srcHeight), yb = ClampIndex(fv + 1, r.srcHeight);
        const uint32_t* top = SourceRow32(r, ya);
        const uint32_t* bottom = SourceRow32(r, yb);
        // The top byte of each sample carries its alpha (0 without a plane):
        // the four channels blend together as red, green, blue and alpha.
        uint32_t p[4] = {top[xa] & 0xFFFFFFu, top[xb] & 0xFFFFFFu, bottom[xa] & 0xFFFFFFu, bottom[xb] & 0xFFFFFFu};
        if (row.alphaOut) {
            const uint8_t* a0 = r.srcAlpha + static_cast<size_t>(ya) * r.srcAlphaRowBytes;
            const uint8_t* a1 = r.srcAlpha + static_cast<size_t>(yb) * r.srcAlphaRowBytes;
            p[0] |= uint32_t{a0[xa]} << 24;
            p[1] |= uint32_t{a0[xb]} << 24;
            p[2] |= uint32_t{a1[xa]} << 24;
            p[3] |= uint32_t{a1[xb]} << 24;
        }
        const uint32_t blended = BlendFour(p, fx, fy);
        row.out[X] = blended & 0xFFFFFFu;
        if (row.alphaOut) row.alphaOut[X] = static_cast<uint8_t>(blended >> 24);
    }
}

// The vector loop takes the leading columns it covers where the processor
// has AVX2; the baseline loop does the rest.
void PlainRow(const qbTransformRequest& r, const Inverse& inv, KernelIsa isa, int32_t Y, double cy, int32_t x0,
              int32_t x1) {
    const TransformRow row = RowOf(r, inv, Y, cy, x0, x1);
    const bool wide = UsableIsa(isa) == KernelIsa::Avx2;
    if (r.smooth)
        SmoothRow(r, row, wide ? SmoothRowAvx2(row) : x0);
    else
        NearestRow(r, row, wide ? NearestRowAvx2(row) : x0);
    if (!r.srcAlpha && r.dstMask) SetMaskSpan(r, Y, x0, x1);
}

// Clears destination columns from..to of row Y (to inclusive).
void ClearColumns(const qbTransformRequest& r, int32_t Y, int32_t from, int32_t to) {
    if (from > to) return;
    std::memset(DestinationPixel(r, from, Y), 0, static_cast<size_t>(to - from + 1) * r.bytesPerPixel);
}

}  // namespace

void TransformPixels(const qbTransformRequest& req) { TransformPixelsWith(req, BestKernelIsa()); }

void TransformPixelsWith(const qbTransformRequest& req, KernelIsa isa) {
    const bool clear = req.clearUncovered && req.srcPixels && req.dstPixels;
    Inverse inv;
    if (req.srcWidth <= 0 || req.srcHeight <= 0 || req.dstWidth <= 0 || req.dstHeight <= 0 ||
        !Invert(req.matrix, &inv)) {
        for (int32_t Y = 0; clear && Y < req.dstHeight; ++Y) ClearColumns(req, Y, 0, req.dstWidth - 1);
        return;
    }
    const bool plainRows = PlainRowsPossible(req);
    for (int32_t Y = 0; Y < req.dstHeight; ++Y) {
        const double cy = Y + 0.5;
        double lo = 0;
        double hi = req.dstWidth - 1;
        NarrowSpan(inv.a, inv.c * cy + inv.tx, req.srcWidth, &lo, &hi);
        NarrowSpan(inv.b, inv.d * cy + inv.ty, req.srcHeight, &lo, &hi);
        if (lo > hi) {
            if (clear) ClearColumns(req, Y, 0, req.dstWidth - 1);
            continue;
        }
        const int32_t x0 = static_cast<int32_t>(lo);
        const int32_t x1 = static_cast<int32_t>(hi);
        if (plainRows) {
            // Every column of the span is written, so only the rest is cleared.
            if (clear) {
                ClearColumns(req, Y, 0, x0 - 1);
                ClearColumns(req, Y, x1 + 1, req.dstWidth - 1);
            }
            PlainRow(req, inv, isa, Y, cy, x0, x1);
            continue;
        }
        // A smooth sample whose four neighbours are all masked out writes no colour.
        if (clear) ClearColumns(req, Y, 0, req.dstWidth - 1);
        for (int32_t X = x0; X <= x1; ++X) {
            const double cx = X + 0.5;
            const double sx = inv.a * cx + inv.c * cy + inv.tx;
            const double sy = inv.b * cx + inv.d * cy + inv.ty;
            if (req.smooth)
                SampleSmooth(req, X, Y, sx, sy);
            else
                SampleNearest(req, X, Y, sx, sy);
        }
    }
}

void GetTransformedBounds(const double matrix[4], int32_t width, int32_t height, int32_t* newWidth,
                          int32_t* newHeight, double* minX, double* minY) {
    const double corners[4][2] = {{0, 0}, {double(width), 0}, {double(width), double(height)}, {0, double(height)}};
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (int i = 0; i < 4; ++i) {
        const double x = matrix[0] * corners[i][0] + matrix[2] * corners[i][1];
        const double y = matrix[1] * corners[i][0] + matrix[3] * corners[i][1];
        if (i == 0 || x < x0) x0 = x;
        if (i == 0 || x > x1) x1 = x;
        if (i == 0 || y < y0) y0 = y;
        if (i == 0 || y > y1) y1 = y;
    }
    const bool finite = std::isfinite(x0) && std::isfinite(x1) && std::isfinite(y0) && std::isfinite(y1);
    if (newWidth) *newWidth = finite ? ClampToInt32(std::ceil(x1 - x0 - 0.5)) : 0;
    if (newHeight) *newHeight = finite ? ClampToInt32(std::ceil(y1 - y0 - 0.5)) : 0;
    if (minX) *minX = finite ? x0 : 0;
    if (minY) *minY = finite ? y0 : 0;
}

int TransformBitmap(qbBitmap* source, qbBitmap* sourceMask, qbBitmap* sourceAlpha, int32_t x, int32_t y,
                    int32_t width, int32_t height, const double matrix[4], bool smooth, qbBitmap** outBitmap,
                    qbBitmap** outMask, qbBitmap** outAlpha, int32_t* outWidth, int32_t* outHeight) {
    if (outBitmap) *outBitmap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (width <= 0 || height <= 0 || x < 0 || y < 0) return ERR_COORDSRANGE;
    BitmapPtr plainSource;
    if (int err = PlainCopyOfAdapterBitmap(source, &plainSource)) return err;
    if (plainSource) source = plainSource.get();
    const qbBitmapPlane* alphaPlane = sourceAlpha && sourceAlpha->plane ? sourceAlpha->plane.get() : nullptr;
    const qbBitmapPlane* maskPlane =
        !alphaPlane && sourceMask && sourceMask->plane ? sourceMask->plane.get() : nullptr;
    // The rectangle must lie inside every plane it is read from.
    if ((source && !RectInside(source->width, source->height, x, y, width, height)) ||
        (alphaPlane && !RectInside(alphaPlane->width, alphaPlane->height, x, y, width, height)) ||
        (maskPlane && !RectInside(maskPlane->width, maskPlane->height, x, y, width, height)))
        return ERR_COORDSRANGE;
    int32_t newWidth = 0;
    int32_t newHeight = 0;
    double minX = 0;
    double minY = 0;
    GetTransformedBounds(matrix, width, height, &newWidth, &newHeight, &minX, &minY);
    newWidth = std::max(newWidth, 1);
    newHeight = std::max(newHeight, 1);
    BitmapPtr bitmap;
    if (source) {
        bitmap.reset(AllocBitmap(newWidth, newHeight, 0, nullptr));
        if (!bitmap) return ERR_BITMAP;
    }
    BitmapPtr plane;
    if (alphaPlane) {
        plane.reset(AllocAlphaChannel(newWidth, newHeight, true, nullptr, 0));
        if (!plane) return ERR_ALLOCALPHA;
    } else {
        plane.reset(AllocMask(bitmap.get(), newWidth, newHeight, true, nullptr, 0));
        if (!plane) return ERR_ALLOCMASK;
    }
    qbTransformRequest req;
    req.srcWidth = width;
    req.srcHeight = height;
    req.dstWidth = newWidth;
    req.dstHeight = newHeight;
    req.matrix[0] = matrix[0];
    req.matrix[1] = matrix[1];
    req.matrix[2] = matrix[2];
    req.matrix[3] = matrix[3];
    req.matrix[4] = -minX;
    req.matrix[5] = -minY;
    req.smooth = smooth;
    if (alphaPlane) {
        req.srcAlpha = alphaPlane->data + static_cast<size_t>(y) * alphaPlane->rowBytes + x;
        req.srcAlphaRowBytes = static_cast<int32_t>(alphaPlane->rowBytes);
        req.dstAlpha = plane->plane->data;
        req.dstAlphaRowBytes = static_cast<int32_t>(plane->plane->rowBytes);
    } else {
        if (maskPlane) {
            req.srcMask = maskPlane->data + static_cast<size_t>(y) * maskPlane->rowBytes;
            req.srcMaskRowBytes = static_cast<int32_t>(maskPlane->rowBytes);
            req.srcMaskBitOffset = x;
        }
        req.dstMask = plane->plane->data;
        req.dstMaskRowBytes = static_cast<int32_t>(plane->plane->rowBytes);
    }
    qbBitmapLock from;
    qbBitmapLock to;
    if (source) {
        if (LockBitmap(source, kLockReadOnly, &from) == 0) return ERR_LOCKBMAP;
        if (LockBitmap(bitmap.get(), 0, &to) == 0) {
            UnlockBitmap(&from);
            return ERR_LOCKBMAP;
        }
        if (from.bytesPerPixel == to.bytesPerPixel && (to.bytesPerPixel == 2 || to.bytesPerPixel == 4)) {
            req.bytesPerPixel = static_cast<int32_t>(from.bytesPerPixel);
            req.srcPixels = static_cast<const uint8_t*>(from.pixels) +
                            (static_cast<size_t>(y) * from.rowLength + x) * from.bytesPerPixel;
            req.srcRowLength = from.rowLength;
            req.srcFormat = static_cast<int32_t>(from.pixelFormat);
            req.dstPixels = to.pixels;
            req.dstRowLength = to.rowLength;
            req.dstFormat = static_cast<int32_t>(to.pixelFormat);
            // The parts of the new bitmap that no source pixel covers read as
            // 0; the kernel clears them, so the covered ones are written once.
            req.clearUncovered = true;
        }
    }
    TransformPixels(req);
    if (source) {
        UnlockBitmap(&to);
        UnlockBitmap(&from);
    }
    if (outWidth) *outWidth = newWidth;
    if (outHeight) *outHeight = newHeight;
    if (outBitmap) *outBitmap = bitmap.release();
    if (alphaPlane) {
        if (outAlpha) *outAlpha = plane.release();
    } else if (outMask) {
        *outMask = plane.release();
    }
    return 0;
}
