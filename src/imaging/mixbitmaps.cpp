#include "imaging/mixbitmaps.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/kernels.h"
#include "imaging/planekernels.h"
#include "imaging/planerect.h"

namespace {

bool Swapped16(int format) {
    return format == kFormatRGB555Swapped || format == kFormatBGR555Swapped || format == kFormatRGB565Swapped ||
           format == kFormatBGR565Swapped;
}

Layout16 FormatLayout16(int format) {
    return format >= kFormatRGB565 && format <= kFormatBGR565Swapped ? Layout16::RGB565 : Layout16::RGB555;
}

// Byte-swapped pixels hold no channel in whole bits of the word: the
// rectangle is mixed as RGB565 and put back in the format.
void Mix16Swapped(PixelRows16 dst, PixelRows16 src, MaskRows mask, int32_t width, int32_t height, int format,
                  uint32_t weight) {
    std::vector<uint16_t> d(static_cast<size_t>(width) * static_cast<size_t>(height)), s(d.size());
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i) {
            const size_t k = static_cast<size_t>(j) * static_cast<size_t>(width) + static_cast<size_t>(i);
            d[k] = Pixel16ToRGB565(format, dst.pixels[static_cast<ptrdiff_t>(dst.y + j) * dst.rowLength + dst.x + i]);
            s[k] = Pixel16ToRGB565(format, src.pixels[static_cast<ptrdiff_t>(src.y + j) * src.rowLength + src.x + i]);
        }
    Mix16({d.data(), width, 0, 0}, {s.data(), width, 0, 0}, mask, width, height, Layout16::RGB565, weight);
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            dst.pixels[static_cast<ptrdiff_t>(dst.y + j) * dst.rowLength + dst.x + i] =
                RGB565ToPixel16(format, d[static_cast<size_t>(j) * static_cast<size_t>(width) + static_cast<size_t>(i)]);
}

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
        const auto format = static_cast<int>(to.pixelFormat);
        const PixelRows16 dst{static_cast<uint16_t*>(to.pixels), to.rowLength, destX, destY};
        const PixelRows16 src{static_cast<uint16_t*>(from.pixels), from.rowLength, sourceX, sourceY};
        if (Swapped16(format)) Mix16Swapped(dst, src, bits, width, height, format, weight);
        else Mix16(dst, src, bits, width, height, FormatLayout16(format), weight);
    }
    UnlockBitmap(&to);
    UnlockBitmap(&from);
    return 0;
}
