// Bitmap scaling over the scaling kernel: lock, describe the planes, scale.
#include "imaging/scalebitmap.h"

#include "core/errcodes.h"
#include "display/bitmap.h"
#include "display/scale.h"

namespace {

const qbBitmapPlane* PlaneOf(const qbBitmap* bitmap) { return bitmap && bitmap->plane ? bitmap->plane.get() : nullptr; }

}  // namespace

int ScaleBitmap(qbBitmap* source, qbBitmap* mask, qbBitmap* alpha, qbBitmap* destination, int32_t width,
                int32_t height, int32_t newWidth, int32_t newHeight, bool smooth, qbBitmap** outBitmap,
                qbBitmap** outMask, qbBitmap** outAlpha) {
    if (outBitmap) *outBitmap = nullptr;
    if (outMask) *outMask = nullptr;
    if (outAlpha) *outAlpha = nullptr;
    if (!source || width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0) return ERR_BITMAP;
    BitmapPtr made;
    qbBitmap* target = destination;
    if (!target) {
        made.reset(AllocBitmap(newWidth, newHeight, 0, nullptr));
        if (!made) return ERR_BITMAP;
        target = made.get();
    }
    const qbBitmapPlane* srcMask = PlaneOf(mask);
    const qbBitmapPlane* srcAlpha = PlaneOf(alpha);
    BitmapPtr newMask;
    BitmapPtr newAlpha;
    if (srcMask && outMask) {
        newMask.reset(AllocMask(target, newWidth, newHeight, true, nullptr, 0));
        if (!newMask) return ERR_ALLOCMASK;
    }
    if (srcAlpha && outAlpha) {
        newAlpha.reset(AllocAlphaChannel(newWidth, newHeight, true, nullptr, 0));
        if (!newAlpha) return ERR_ALLOCALPHA;
    }
    qbBitmapLock from;
    if (LockBitmap(source, kLockReadOnly, &from) == 0) return ERR_BITMAP;
    qbBitmapLock to;
    if (LockBitmap(target, 0, &to) == 0) {
        UnlockBitmap(&from);
        return ERR_BITMAP;
    }
    int err = 0;
    if (from.bytesPerPixel != to.bytesPerPixel || to.width < newWidth || to.height < newHeight) {
        err = ERR_BITMAP;
    } else {
        ScaleRequest req;
        req.srcPixels = from.pixels;
        req.srcWidth = width;
        req.srcHeight = height;
        req.srcRowLength = from.rowLength;
        req.dstPixels = to.pixels;
        req.dstWidth = newWidth;
        req.dstHeight = newHeight;
        req.dstRowLength = to.rowLength;
        req.bytesPerPixel = static_cast<int32_t>(to.bytesPerPixel);
        req.pixelFormat = static_cast<int32_t>(to.pixelFormat);
        req.smooth = smooth;
        if (newMask) {
            req.srcMask = srcMask->data;
            req.srcMaskRowBytes = static_cast<int32_t>(srcMask->rowBytes);
            req.dstMask = newMask->plane->data;
            req.dstMaskRowBytes = static_cast<int32_t>(newMask->plane->rowBytes);
        }
        if (newAlpha) {
            req.srcAlpha = srcAlpha->data;
            req.srcAlphaRowBytes = static_cast<int32_t>(srcAlpha->rowBytes);
            req.dstAlpha = newAlpha->plane->data;
            req.dstAlphaRowBytes = static_cast<int32_t>(newAlpha->plane->rowBytes);
        }
        ScalePixelBuffer(req);
    }
    UnlockBitmap(&to);
    UnlockBitmap(&from);
    if (err) return err;
    if (outBitmap) *outBitmap = made ? made.release() : target;
    if (outMask) *outMask = newMask.release();
    if (outAlpha) *outAlpha = newAlpha.release();
    return 0;
}
