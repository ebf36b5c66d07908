// Bitmap scaling over the scaling kernel: lock, describe the planes, scale.
// The kernel reads planes from their first column, so the planes of a
// rectangle that does not start at the origin are first copied out.
#include "imaging/scalebitmap.h"

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/bitmappixels.h"
#include "imaging/clonebitmap.h"
#include "imaging/planerect.h"
#include "imaging/scale.h"

namespace {

// The alpha plane alone, as the kernel would scale it beside pixels.
void ScaleAlphaOnly(const qbBitmapPlane& from, int32_t width, int32_t height, qbBitmapPlane& to, int32_t newWidth,
                    int32_t newHeight) {
    const uint64_t sx = ScaleStep(width, newWidth);
    const uint64_t sy = ScaleStep(height, newHeight);
    for (int32_t row = 0; row < newHeight; ++row) {
        const uint8_t* in = from.data + static_cast<size_t>(ScaleIndex(sy, row)) * from.rowBytes;
        uint8_t* out = to.data + static_cast<size_t>(row) * to.rowBytes;
        for (int32_t col = 0; col < newWidth; ++col) out[col] = in[ScaleIndex(sx, col)];
    }
}

// Scales `req`'s pixels from (x, y) of `source` to (dx, dy) of `target`;
// the sizes and any planes are already in `req`.
int ScalePixelsBetween(qbBitmap* source, int32_t x, int32_t y, qbBitmap* target, int32_t dx, int32_t dy,
                       ScaleRequest& req) {
    qbBitmapLock from;
    if (LockBitmap(source, kLockReadOnly, &from) == 0) return ERR_LOCKBMAP;
    qbBitmapLock to;
    if (LockBitmap(target, 0, &to) == 0) {
        UnlockBitmap(&from);
        return ERR_LOCKBMAP;
    }
    int err = 0;
    if (from.bytesPerPixel != to.bytesPerPixel || int64_t{to.width} < int64_t{dx} + req.dstWidth ||
        int64_t{to.height} < int64_t{dy} + req.dstHeight) {
        err = ERR_BITMAP;
    } else {
        req.srcPixels = static_cast<const uint8_t*>(from.pixels) +
                        (static_cast<size_t>(y) * from.rowLength + x) * from.bytesPerPixel;
        req.srcRowLength = from.rowLength;
        req.dstPixels = static_cast<uint8_t*>(to.pixels) +
                        (static_cast<size_t>(dy) * to.rowLength + dx) * to.bytesPerPixel;
        req.dstRowLength = to.rowLength;
        req.bytesPerPixel = static_cast<int32_t>(to.bytesPerPixel);
        req.pixelFormat = static_cast<int32_t>(to.pixelFormat);
        ScalePixelBuffer(req);
    }
    UnlockBitmap(&to);
    UnlockBitmap(&from);
    return err;
}

}  // namespace

int ScaleBitmap(qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, int32_t x, int32_t y, qbBitmap* destination,
                int32_t width, int32_t height, int32_t newWidth, int32_t newHeight, bool smooth,
                qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha) {
    if (outBitmap) *outBitmap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (newWidth < 1 || newHeight < 1) return 0;
    if (width <= 0 || height <= 0 || x < 0 || y < 0) return ERR_COORDSRANGE;
    if (!source && destination) return ERR_BITMAP;
    BitmapPtr plainSource;
    if (int err = PlainCopyOfAdapterBitmap(source, &plainSource)) return err;
    if (plainSource) source = plainSource.get();
    const bool wantMask = PlaneOf(mask) && outMask && !destination;
    const bool wantAlpha = PlaneOf(alpha) && outAlpha && !destination;
    if ((source && !RectInside(source->width, source->height, x, y, width, height)) ||
        (wantMask && !RectInside(PlaneOf(mask)->width, PlaneOf(mask)->height, x, y, width, height)) ||
        (wantAlpha && !RectInside(PlaneOf(alpha)->width, PlaneOf(alpha)->height, x, y, width, height)))
        return ERR_COORDSRANGE;
    BitmapPtr cutMask;
    BitmapPtr cutAlpha;
    if ((x || y) && (wantMask || wantAlpha)) {
        qbBitmap* none = nullptr;
        qbBitmap* m = nullptr;
        qbBitmap* a = nullptr;
        if (int err = CloneBitmapRect(nullptr, wantMask ? mask : nullptr, wantAlpha ? alpha : nullptr, x, y, width,
                                      height, &none, &m, &a))
            return err;
        cutMask.reset(m);
        cutAlpha.reset(a);
    }
    const qbBitmapPlane* srcMask = wantMask ? PlaneOf(cutMask ? cutMask.get() : mask) : nullptr;
    const qbBitmapPlane* srcAlpha = wantAlpha ? PlaneOf(cutAlpha ? cutAlpha.get() : alpha) : nullptr;

    BitmapPtr made;
    qbBitmap* target = destination;
    if (!target && source) {
        made.reset(AllocBitmap(newWidth, newHeight, 0, nullptr));
        if (!made) return ERR_BITMAP;
        target = made.get();
    }
    BitmapPtr newMask;
    BitmapPtr newAlpha;
    if (srcMask) {
        newMask.reset(AllocMask(target, newWidth, newHeight, true, nullptr, 0));
        if (!newMask) return ERR_ALLOCMASK;
    }
    if (srcAlpha) {
        newAlpha.reset(AllocAlphaChannel(newWidth, newHeight, true, nullptr, 0));
        if (!newAlpha) return ERR_ALLOCALPHA;
    }
    ScaleRequest req;
    req.srcWidth = width;
    req.srcHeight = height;
    req.dstWidth = newWidth;
    req.dstHeight = newHeight;
    req.smooth = smooth;
    if (newMask) {
        req.srcMask = srcMask->data;
        req.srcMaskRowBytes = static_cast<int32_t>(srcMask->rowBytes);
        req.dstMask = newMask->plane->data;
        req.dstMaskRowBytes = static_cast<int32_t>(newMask->plane->rowBytes);
    }
    if (!source) {
        // Planes only: the mask through the kernel's mask pass, the alpha here.
        req.maskOnly = true;
        req.smooth = false;
        if (newMask) ScalePixelBuffer(req);
        if (newAlpha) ScaleAlphaOnly(*srcAlpha, width, height, *newAlpha->plane, newWidth, newHeight);
    } else {
        if (newAlpha) {
            req.srcAlpha = srcAlpha->data;
            req.srcAlphaRowBytes = static_cast<int32_t>(srcAlpha->rowBytes);
            req.dstAlpha = newAlpha->plane->data;
            req.dstAlphaRowBytes = static_cast<int32_t>(newAlpha->plane->rowBytes);
        }
        if (int err = ScalePixelsBetween(source, x, y, target, 0, 0, req)) return err;
    }
    if (outBitmap) *outBitmap = made ? made.release() : target;
    if (outMask) *outMask = newMask.release();
    if (outAlpha) *outAlpha = newAlpha.release();
    return 0;
}

int ScaleBitmapAt(qbBitmap* source, int32_t x, int32_t y, int32_t width, int32_t height, qbBitmap* destination,
                  int32_t dx, int32_t dy, int32_t newWidth, int32_t newHeight) {
    if (newWidth < 1 || newHeight < 1) return 0;
    if (!source || !destination) return ERR_BITMAP;
    if (width <= 0 || height <= 0 || !RectInside(source->width, source->height, x, y, width, height) ||
        !RectInside(destination->width, destination->height, dx, dy, newWidth, newHeight))
        return ERR_COORDSRANGE;
    BitmapPtr plainSource;
    if (int err = PlainCopyOfAdapterBitmap(source, &plainSource)) return err;
    if (plainSource) source = plainSource.get();
    ScaleRequest req;
    req.srcWidth = width;
    req.srcHeight = height;
    req.dstWidth = newWidth;
    req.dstHeight = newHeight;
    return ScalePixelsBetween(source, x, y, destination, dx, dy, req);
}
