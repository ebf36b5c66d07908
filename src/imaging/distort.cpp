// Mapping the destination pixels of a distortion back into the source, and
// DistortBitmap, which makes the new bitmap and its one plane around it.
#include "imaging/distort.h"

#include <cmath>
#include <cstring>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/bitmappixels.h"
#include "imaging/planerect.h"
#include "imaging/resample.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEpsilon = 0.000001;

double RoundHalfAway(double t) { return t >= 0 ? std::trunc(t + 0.5) : std::trunc(t - 0.5); }

struct SourcePoint {
    double x = 0, y = 0;
    double d[4] = {};  // dUx, dUy, dVx, dVy
    bool covered = true;
};

// The source point of destination point (x, y) and, when smooth, its
// derivatives.
SourcePoint MapPoint(const qbDistortRequest& q, double x, double y, bool derivatives) {
    const double* c = q.coefficients;
    SourcePoint s;
    switch (q.method) {
        case kDistortPerspective: {
            const double w = c[6] * x + c[7] * y + 1;
            double validity = w * c[8] >= 0 ? 1 : 0;
            if (std::fabs(c[6]) > std::fabs(c[7]) && std::fabs(c[6]) > 2 * std::fabs(w))
                validity = 0.5 - w * c[8] / c[6];
            else if (std::fabs(c[7]) >= std::fabs(c[6]) && std::fabs(c[7]) > 2 * std::fabs(w))
                validity = 0.5 - w * c[8] / c[7];
            if (!(validity > 0)) {
                s.covered = false;
                return s;
            }
            const double p = c[0] * x + c[1] * y + c[2];
            const double r = c[3] * x + c[4] * y + c[5];
            s.x = p / w;
            s.y = r / w;
            if (derivatives) {
                const double inv = 1 / w;
                const double inv2 = inv * inv;
                s.d[0] = (c[0] * w - c[6] * p) * inv2;
                s.d[1] = (c[1] * w - c[7] * p) * inv2;
                s.d[2] = (c[3] * w - c[6] * r) * inv2;
                s.d[3] = (c[4] * w - c[7] * r) * inv2;
            }
            break;
        }
        case kDistortArc: {
            double t = (std::atan2(y, x) - c[0]) / (2 * kPi);
            t -= RoundHalfAway(t);
            const double r = std::hypot(x, y);
            s.x = t * c[1] + c[4] + 0.5;
            s.y = (c[2] - r) * c[3];
            if (derivatives) {
                s.d[0] = r > kEpsilon ? c[1] / (2 * kPi * r) : 2.0 * q.outWidth;
                s.d[3] = c[3];
            }
            break;
        }
        case kDistortPolar: {
            const double dx = x - c[2], dy = y - c[3];
            double t = (std::atan2(dx, dy) - (c[4] + c[5]) / 2) / (2 * kPi);
            t -= RoundHalfAway(t);
            const double r = std::hypot(dx, dy);
            s.x = t * 2 * kPi * c[6] + q.source.width / 2.0;
            s.y = (r - c[1]) * c[7];
            if (derivatives) {
                s.d[0] = r > kEpsilon ? c[6] / (2 * kPi * r) : 2.0 * q.outWidth;
                s.d[3] = c[7];
            }
            break;
        }
        default: {
            const double dx = x - c[8], dy = y - c[9];
            const double r = std::sqrt(dx * dx + dy * dy);
            if (r > kEpsilon) {
                const double fx = ((c[0] * r + c[1]) * r + c[2]) * r + c[3];
                const double fy = ((c[4] * r + c[5]) * r + c[6]) * r + c[7];
                s.x = fx * dx + c[8];
                s.y = fy * dy + c[9];
                if (derivatives) {
                    const double gx = ((3 * c[0] * r + 2 * c[1]) * r + c[2]) / r;
                    const double gy = ((3 * c[4] * r + 2 * c[5]) * r + c[6]) / r;
                    s.d[0] = gx * dx * dx + fx;
                    s.d[1] = gx * dx * dy;
                    s.d[2] = gy * dx * dy;
                    s.d[3] = gy * dy * dy + fy;
                }
            } else {
                s.x = c[8];
                s.y = c[9];
                s.d[0] = c[3];
                s.d[3] = c[7];
            }
            break;
        }
    }
    // A point at infinity (w = 0) or a zero radius difference gives no
    // usable position; such a pixel stays uncovered rather than reach an
    // integer conversion.
    bool finite = std::isfinite(s.x) && std::isfinite(s.y);
    if (derivatives)
        for (double d : s.d) finite = finite && std::isfinite(d);
    if (!finite) s.covered = false;
    return s;
}

inline void SetBit(uint8_t* row, int32_t x) { row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80 >> (x & 7))); }
inline bool GetBit(const uint8_t* row, int32_t x) { return (row[x >> 3] & (0x80 >> (x & 7))) != 0; }

void CopyNearest(const qbDistortRequest& q, int32_t i, int32_t j, int32_t sx, int32_t sy) {
    const int32_t bpp = q.bytesPerPixel;
    if (q.source.pixels && q.destination.pixels) {
        const uint8_t* from = static_cast<const uint8_t*>(q.source.pixels) +
                              (static_cast<size_t>(sy) * q.source.modulo + sx) * bpp;
        uint8_t* to = static_cast<uint8_t*>(q.destination.pixels) +
                      (static_cast<size_t>(j) * q.destination.modulo + i) * bpp;
        if (q.pixelFormat == q.dstPixelFormat) {
            std::memcpy(to, from, static_cast<size_t>(bpp));
        } else {
            uint8_t rgb[3];
            ReadPixelRGB(from, q.pixelFormat, rgb);
            WritePixelRGB(to, q.dstPixelFormat, rgb);
        }
    }
    if (q.dstMask) {
        const bool on = !q.srcMask || GetBit(q.srcMask + static_cast<size_t>(sy) * q.srcMaskRowBytes, sx);
        if (on) SetBit(q.dstMask + static_cast<size_t>(j) * q.dstMaskRowBytes, i);
    }
    if (q.dstAlpha)
        q.dstAlpha[static_cast<size_t>(j) * q.dstAlphaRowBytes + i] =
            q.srcAlpha ? q.srcAlpha[static_cast<size_t>(sy) * q.srcAlphaRowBytes + sx] : 255;
}

void WriteResampled(const qbDistortRequest& q, int32_t i, int32_t j, const qbResampleColour& colour) {
    if (q.destination.pixels) {
        uint8_t* to = static_cast<uint8_t*>(q.destination.pixels) +
                      (static_cast<size_t>(j) * q.destination.modulo + i) * q.bytesPerPixel;
        const uint8_t rgb[3] = {colour.red, colour.green, colour.blue};
        WritePixelRGB(to, q.dstPixelFormat, rgb);
    }
    if (q.dstAlpha) q.dstAlpha[static_cast<size_t>(j) * q.dstAlphaRowBytes + i] = colour.alpha;
    if (q.dstMask && colour.alpha != 0) SetBit(q.dstMask + static_cast<size_t>(j) * q.dstMaskRowBytes, i);
}

}  // namespace

void MapDistortPixels(qbDistortRequest* q, qbResampleFilter* filter) {
    const bool smooth = q->smooth && filter;
    q->maxSamples = 0;
    for (int32_t j = 0; j < q->outHeight; ++j) {
        const double y = j + static_cast<double>(q->outY) + 0.5;
        for (int32_t i = 0; i < q->outWidth; ++i) {
            const double x = i + static_cast<double>(q->outX) + 0.5;
            const SourcePoint s = MapPoint(*q, x, y, smooth);
            if (!s.covered) continue;
            const double px = s.x - 0.5, py = s.y - 0.5;
            if (smooth) {
                SetResampleEllipse(filter, s.d[0], s.d[1], s.d[2], s.d[3]);
                qbResampleColour colour;
                const bool covered = ResamplePixel(filter, px, py, &colour);
                if (filter->lastSamples > q->maxSamples) q->maxSamples = filter->lastSamples;
                if (covered) WriteResampled(*q, i, j, colour);
                continue;
            }
            // Truncation, not floor: a position in (-1, 0) reads pixel 0.
            if (!(px > -1 && py > -1 && px < q->source.width && py < q->source.height)) continue;
            CopyNearest(*q, i, j, static_cast<int32_t>(px), static_cast<int32_t>(py));
        }
    }
}

int DistortBitmap(qbBitmap* source, qbBitmap* sourceMask, qbBitmap* sourceAlpha, int32_t width, int32_t height,
                  int32_t method, int32_t argumentCount, const double* arguments, bool smooth, qbBitmap** newBitmap,
                  qbBitmap** newMask, qbBitmap** newAlpha, int32_t* newWidth, int32_t* newHeight,
                  int64_t* maxSamples) {
    *newBitmap = nullptr;
    *newMask = nullptr;
    *newAlpha = nullptr;
    if (!source) return ERR_WRONGUSAGE;
    qbDistortRequest q;
    q.method = method;
    q.argumentCount = argumentCount;
    q.arguments = arguments;
    q.source.width = width;
    q.source.height = height;
    q.smooth = smooth;
    if (int err = ComputeDistortGeometry(&q)) return err;

    BitmapPtr plainSource;
    if (int err = PlainCopyOfAdapterBitmap(source, &plainSource)) return err;
    if (plainSource) source = plainSource.get();
    const qbBitmapPlane* maskPlane = PlaneOf(sourceMask);
    const qbBitmapPlane* alphaPlane = PlaneOf(sourceAlpha);
    if (!RectInside(source->width, source->height, 0, 0, width, height) ||
        (maskPlane && !RectInside(maskPlane->width, maskPlane->height, 0, 0, width, height)) ||
        (alphaPlane && !RectInside(alphaPlane->width, alphaPlane->height, 0, 0, width, height)))
        return ERR_COORDSRANGE;

    BitmapPtr bitmap(AllocBitmap(q.outWidth, q.outHeight, 0, nullptr));
    if (!bitmap) return ERR_BITMAP;
    const bool wantMask = maskPlane || (!alphaPlane && !smooth);
    BitmapPtr plane(wantMask ? AllocMask(bitmap.get(), q.outWidth, q.outHeight, true, nullptr, 0)
                             : AllocAlphaChannel(q.outWidth, q.outHeight, true, nullptr, 0));
    if (!plane) return wantMask ? ERR_ALLOCMASK : ERR_ALLOCALPHA;

    std::unique_ptr<qbResampleFilter> filter;
    qbBitmapLock from, to;
    if (LockBitmap(source, kLockReadOnly, &from) == 0) return ERR_LOCKBMAP;
    if (LockBitmap(bitmap.get(), 0, &to) == 0) {
        UnlockBitmap(&from);
        return ERR_LOCKBMAP;
    }
    q.source.pixels = from.pixels;
    q.source.modulo = from.rowLength;
    q.destination = {q.outWidth, q.outHeight, q.outX, q.outY, to.pixels, to.rowLength};
    q.bytesPerPixel = static_cast<int32_t>(from.bytesPerPixel);
    q.pixelFormat = static_cast<int32_t>(from.pixelFormat);
    q.dstPixelFormat = static_cast<int32_t>(to.pixelFormat);
    if (from.bytesPerPixel != to.bytesPerPixel) {
        // Pixel sizes that differ are not copied; the planes still are.
        q.source.pixels = nullptr;
        q.destination.pixels = nullptr;
    }
    for (int32_t row = 0; row < q.outHeight; ++row)
        std::memset(static_cast<uint8_t*>(to.pixels) + static_cast<size_t>(row) * to.rowLength * to.bytesPerPixel, 0,
                    static_cast<size_t>(q.outWidth) * to.bytesPerPixel);
    if (maskPlane) {
        q.srcMask = maskPlane->data;
        q.srcMaskRowBytes = static_cast<int32_t>(maskPlane->rowBytes);
    }
    if (alphaPlane) {
        q.srcAlpha = alphaPlane->data;
        q.srcAlphaRowBytes = static_cast<int32_t>(alphaPlane->rowBytes);
    }
    if (wantMask) {
        q.dstMask = plane->plane->data;
        q.dstMaskRowBytes = static_cast<int32_t>(plane->plane->rowBytes);
    } else {
        q.dstAlpha = plane->plane->data;
        q.dstAlphaRowBytes = static_cast<int32_t>(plane->plane->rowBytes);
    }
    int err = 0;
    if (smooth) {
        qbResampleSource rs;
        rs.width = width;
        rs.height = height;
        rs.pixels = static_cast<const uint8_t*>(q.source.pixels);
        rs.modulo = q.source.modulo;
        rs.bytesPerPixel = q.bytesPerPixel;
        rs.pixelFormat = q.pixelFormat;
        rs.mask = q.srcMask;
        rs.maskRowBytes = q.srcMaskRowBytes;
        rs.alpha = q.srcAlpha;
        rs.alphaRowBytes = q.srcAlphaRowBytes;
        err = CreateResampleFilter(rs, &filter);
    }
    if (!err) MapDistortPixels(&q, filter.get());
    UnlockBitmap(&to);
    UnlockBitmap(&from);
    if (err) return err;
    if (maxSamples) *maxSamples = q.maxSamples;
    *newWidth = q.outWidth;
    *newHeight = q.outHeight;
    *newBitmap = bitmap.release();
    if (wantMask)
        *newMask = plane.release();
    else
        *newAlpha = plane.release();
    return 0;
}
