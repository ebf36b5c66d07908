#include "imaging/shadowmask.h"

#include <cmath>
#include <cstring>

#include "core/errcodes.h"
#include "core/pixelbuffer.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/planeblur.h"
#include "imaging/planekernels.h"
#include "imaging/planerect.h"
#include "imaging/runblur.h"

namespace {

constexpr int32_t kCombineShadow = 6;

}  // namespace

int BuildShadowMask(qbBitmap* sourceAlpha, qbBitmap* sourceMask, int32_t x, int32_t y, int32_t width, int32_t height,
                    double radius, double sigma, uint8_t value, bool harden, bool secondPass, qbBitmap** outPlane) {
    *outPlane = nullptr;
    if (width <= 0 || height <= 0) return ERR_COORDSRANGE;
    const qbBitmapPlane* alpha = PlaneOf(sourceAlpha);
    const qbBitmapPlane* mask = alpha ? nullptr : PlaneOf(sourceMask);
    if ((alpha && !RectInside(alpha->width, alpha->height, x, y, width, height)) ||
        (mask && !RectInside(mask->width, mask->height, x, y, width, height)))
        return ERR_COORDSRANGE;
    if (!(radius > 0)) radius = 0;
    // Sizes in 64 bits: a radius of any size must fail here rather than wrap
    // into a small plane that the shape is then written past.
    if (radius > static_cast<double>(INT32_MAX)) return ERR_MEM;
    const int64_t r = static_cast<int64_t>(radius);
    const int64_t w = width + 2 * r;
    const int64_t h = height + 2 * r;
    if (w > INT32_MAX || h > INT32_MAX || static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > GetMaxImagePixels())
        return ERR_MEM;
    BitmapPtr plane(AllocAlphaChannel(static_cast<int32_t>(w), static_cast<int32_t>(h), true, nullptr, 0));
    if (!plane) return ERR_MEM;
    const auto at = static_cast<int32_t>(r);
    if (alpha) {
        CombineAlphaRect(sourceAlpha, x, y, plane.get(), at, at, width, height, kCombineShadow, value);
    } else if (mask) {
        qbBitmapPlane& to = *plane->plane;
        MaskToAlpha(AlphaRows{to.data, static_cast<int32_t>(to.rowBytes), at, at},
                    MaskRows{mask->data, static_cast<int32_t>(mask->rowBytes), x, y}, width, height, value);
    } else {
        FillAlphaRect(plane.get(), at, at, width, height, value);
    }
    qbBitmapPlane& p = *plane->plane;
    const auto pw = static_cast<int32_t>(w);
    const auto ph = static_cast<int32_t>(h);
    // The shape is 0 around the source (and 0 or 255 once hardened): its
    // runs cost the blur far less than the kernel's taps.
    if (int err = BlurRunPlane8(p.data, pw, ph, p.rowBytes, radius, sigma)) return err;
    if (harden) {
        for (int32_t row = 0; row < ph; ++row) {
            uint8_t* line = p.data + static_cast<size_t>(row) * p.rowBytes;
            for (int32_t col = 0; col < pw; ++col)
                if (line[col]) line[col] = 255;
        }
        if (secondPass && alpha)
            if (int err = BlurRunPlane8(p.data, pw, ph, p.rowBytes, radius * 0.5, radius * 0.5 / 3)) return err;
    }
    *outPlane = plane.release();
    return 0;
}
