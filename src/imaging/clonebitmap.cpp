// Plain copies of bitmap rectangles, as made before an object that a layer
// shows is changed.
#include "imaging/clonebitmap.h"

#include <cstring>

#include "core/errcodes.h"
#include "imaging/bitmap.h"
#include "imaging/bitmappixels.h"
#include "imaging/blit.h"
#include "imaging/planerect.h"

namespace {

constexpr int kMaskCopy = 2;

}  // namespace

int CloneBitmapRect(qbBitmap* source, qbBitmap* sourceMask, qbBitmap* sourceAlpha, int32_t x, int32_t y,
                    int32_t width, int32_t height, qbBitmap** outBitmap, qbBitmap** outMask, qbBitmap** outAlpha) {
    *outBitmap = nullptr;
    *outMask = nullptr;
    *outAlpha = nullptr;
    if (width <= 0 || height <= 0) return ERR_COORDSRANGE;
    BitmapPtr plainSource;
    if (int err = PlainCopyOfAdapterBitmap(source, &plainSource)) return err;
    if (plainSource) source = plainSource.get();
    const qbBitmapPlane* alphaPlane = sourceAlpha ? sourceAlpha->plane.get() : nullptr;
    const qbBitmapPlane* maskPlane = sourceMask ? sourceMask->plane.get() : nullptr;
    if ((source && !RectInside(source->width, source->height, x, y, width, height)) ||
        (alphaPlane && !RectInside(alphaPlane->width, alphaPlane->height, x, y, width, height)) ||
        (maskPlane && !RectInside(maskPlane->width, maskPlane->height, x, y, width, height)))
        return ERR_COORDSRANGE;
    BitmapPtr bitmap;
    if (source) {
        bitmap.reset(AllocBitmap(width, height, 0, nullptr));
        if (!bitmap) return ERR_BITMAP;
        qbBitmapLock probe;
        if (LockBitmap(source, kLockReadOnly, &probe) == 0) return ERR_LOCKBMAP;
        UnlockBitmap(&probe);
        CopyBitmapRect(source, x, y, bitmap.get(), 0, 0, width, height);
    }
    BitmapPtr mask;
    if (maskPlane) {
        mask.reset(AllocMask(bitmap.get(), width, height, true, nullptr, 0));
        if (!mask) return ERR_ALLOCMASK;
        BlitMaskRect(sourceMask, x, y, mask.get(), 0, 0, width, height, kMaskCopy, nullptr, 0);
    }
    BitmapPtr alpha;
    if (alphaPlane) {
        alpha.reset(AllocAlphaChannel(width, height, false, nullptr, 0));
        if (!alpha) return ERR_ALLOCALPHA;
        const qbBitmapPlane& to = *alpha->plane;
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(to.data + static_cast<size_t>(row) * to.rowBytes,
                        alphaPlane->data + static_cast<size_t>(y + row) * alphaPlane->rowBytes + x,
                        static_cast<size_t>(width));
    }
    *outBitmap = bitmap.release();
    *outMask = mask.release();
    *outAlpha = alpha.release();
    return 0;
}
