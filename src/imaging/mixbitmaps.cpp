#include "imaging/mixbitmaps.h"

#include <algorithm>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/kernels.h"
#include "imaging/planekernels.h"
#include "imaging/planerect.h"

namespace {

// Weights through a scaled copy of the source's alpha plane.
int MixThroughAlpha(qbBitmap* destination, qbBitmap* source, const qbBitmapPlane& alpha, int32_t destX,
                    int32_t destY, int32_t sourceX, int32_t sourceY, int32_t width, int32_t height, uint32_t level,
                    int32_t alphaWidth, int32_t alphaHeight) {
    if (alphaWidth > alpha.width || alphaHeight > alpha.height ||
        !RectInside(alphaWidth, alphaHeight, sourceX, sourceY, width, height))
        return ERR_COORDSRANGE;
    BitmapPtr weights(AllocAlphaChannel(alphaWidth, alphaHeight, false, nullptr, 0));
    if (!weights) return ERR_ALLOCALPHA;
    qbBitmapPlane& to = *weights->plane;
    MultiplyAlpha(AlphaRows{to.data, static_cast<int32_t>(to.rowBytes), 0, 0},
                  AlphaRows{alpha.data, static_cast<int32_t>(alpha.rowBytes), 0, 0}, alphaWidth, alphaHeight, level);
    qbBitmapLock probe;
    if (LockBitmap(source, kLockReadOnly, &probe) == 0) return ERR_LOCKBMAP;
    UnlockBitmap(&probe);
    if (LockBitmap(destination, 0, &probe) == 0) return ERR_LOCKBMAP;
    UnlockBitmap(&probe);
    CopyBitmapRectAlpha(source, sourceX, sourceY, destination, destX, destY, width, height, weights.get());
    return 0;
}

}  // namespace

int MixBitmaps(qbBitmap* destination, qbBitmap* source, qbBitmap* sourceMask, int32_t destX, int32_t destY,
               int32_t sourceX, int32_t sourceY, int32_t width, int32_t height, int32_t level,
               qbBitmap* sourceAlpha, int32_t alphaWidth, int32_t alphaHeight) {
    if (!destination || !source) return ERR_BITMAP;
    if (width <= 0 || height <= 0) return 0;
    if (!RectInside(source->width, source->height, sourceX, sourceY, width, height) ||
        !RectInside(destination->width, destination->height, destX, destY, width, height))
        return ERR_COORDSRANGE;
    const auto weight = static_cast<uint32_t>(std::clamp(level, 0, 255));
    if (const qbBitmapPlane* alpha = PlaneOf(sourceAlpha))
        return MixThroughAlpha(destination, source, *alpha, destX, destY, sourceX, sourceY, width, height, weight,
                               alphaWidth, alphaHeight);
    const qbBitmapPlane* mask = PlaneOf(sourceMask);
    if (mask && !RectInside(mask->width, mask->height, sourceX, sourceY, width, height)) return ERR_COORDSRANGE;
    const MaskRows bits = mask ? MaskRows{mask->data, static_cast<int32_t>(mask->rowBytes), sourceX, sourceY}
                               : MaskRows{};
    qbBitmapLock from;
    if (LockBitmap(source, kLockReadOnly, &from) == 0) return ERR_LOCKBMAP;
    qbBitmapLock to;
    if (LockBitmap(destination, 0, &to) == 0) {
        UnlockBitmap(&from);
        return ERR_LOCKBMAP;
    }
    if (from.bytesPerPixel == 4 && to.bytesPerPixel == 4) {
        Mix32({static_cast<uint32_t*>(to.pixels), to.rowLength, destX, destY},
              {static_cast<uint32_t*>(from.pixels), from.rowLength, sourceX, sourceY}, bits, width, height,
              to.pixelFormat, weight);
    } else if (from.bytesPerPixel == 2 && to.bytesPerPixel == 2) {
        Mix16({static_cast<uint16_t*>(to.pixels), to.rowLength, destX, destY},
              {static_cast<uint16_t*>(from.pixels), from.rowLength, sourceX, sourceY}, bits, width, height,
              Layout16OfFormat(static_cast<int>(to.pixelFormat)), weight);
    }
    UnlockBitmap(&to);
    UnlockBitmap(&from);
    return 0;
}
