// A brush's transparency planes: a 1-bit mask or an 8-bit alpha channel,
// never both. The commands here build, drop, invert and convert them.
#include <cstddef>
#include <cstring>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/pixelformats.h"
#include "display/gradientopts.h"
#include "imaging/bitmap.h"
#include "objects/brushes.h"
#include "objects/brushgeometry.h"
#include "objects/brushlib.h"
#include "objects/brushpixelcmds.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kPlanesNone = -1, kTypeMask = 28, kTypeAlphaChannel = 30;

qbBitmapPlane* Plane(qbBitmap* bitmap) { return bitmap && bitmap->plane ? bitmap->plane.get() : nullptr; }

int PlaneBrush(ScriptState* L, qbBrush** out) {
    CheckArgCount(L, 1, 1, 0, 0);
    return GetBrushToReshape(L, 1, kBrushNoVector, out);
}

void DropMask(qbBrush* brush) {
    FreeMask(brush->mask);
    brush->mask = nullptr;
}

void DropAlpha(qbBrush* brush) {
    FreeAlphaChannel(brush->alpha);
    brush->alpha = nullptr;
}

// Every byte of every row, the padding past the last pixel included, so
// that inverting twice gives back the plane exactly.
void InvertPlane(qbBitmap* bitmap) {
    qbBitmapPlane* plane = Plane(bitmap);
    uint8_t* p = plane->data;
    const size_t n = static_cast<size_t>(plane->rowBytes) * static_cast<size_t>(plane->height);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

// A mask that hides every pixel of the key colour, compared as the pixel
// format holds it (a 16-bit bitmap matches the colour narrowed as it would
// be stored).
int MaskOfKey(qbBrush* brush, uint32_t key, qbBitmap** out) {
    BitmapPtr mask(AllocMask(brush->bitmap, brush->width, brush->height, true, nullptr, 0));
    if (!mask) return ERR_MEM;
    qbBitmapLock lock;
    if (LockBitmap(brush->bitmap, kLockReadOnly, &lock) == 0) return ERR_LOCKBMAP;
    const int format = static_cast<int>(lock.pixelFormat);
    const uint8_t keyRgb[3] = {static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8),
                               static_cast<uint8_t>(key)};
    uint8_t stored[4] = {0, 0, 0, 0};
    uint8_t narrowed[3];
    WritePixelRGB(stored, format, keyRgb);
    ReadPixelRGB(stored, format, narrowed);
    for (int32_t y = 0; y < brush->height; ++y) {
        const auto* row = static_cast<const uint8_t*>(lock.pixels) +
                          static_cast<ptrdiff_t>(y) * lock.rowLength * static_cast<ptrdiff_t>(lock.bytesPerPixel);
        for (int32_t x = 0; x < brush->width; ++x) {
            uint8_t rgb[3];
            ReadPixelRGB(row + static_cast<ptrdiff_t>(x) * lock.bytesPerPixel, format, rgb);
            if (std::memcmp(rgb, narrowed, 3) != 0) WriteBitmapPixel(mask.get(), x, y, kMaskVisible, true);
        }
    }
    UnlockBitmap(&lock);
    *out = mask.release();
    return 0;
}

}  // namespace

int cmdSetBrushTransparency(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const int32_t colour = ColourBits(VmCheckNumber(L, 2));
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushNoVector, &brush)) return err;
    qbBitmap* mask = nullptr;
    if (colour != -1)
        if (int err = MaskOfKey(brush, static_cast<uint32_t>(colour) & 0xFFFFFFu, &mask)) return err;
    DropMask(brush);
    DropAlpha(brush);
    brush->mask = mask;
    brush->transparentColour = colour == -1 ? -1 : colour & 0xFFFFFF;
    return 0;
}

int cmdDeleteMask(ScriptState* L) {
    qbBrush* brush = nullptr;
    if (int err = PlaneBrush(L, &brush)) return err;
    DropMask(brush);
    brush->transparentColour = -1;
    return 0;
}

int cmdDeleteAlphaChannel(ScriptState* L) {
    qbBrush* brush = nullptr;
    if (int err = PlaneBrush(L, &brush)) return err;
    DropAlpha(brush);
    return 0;
}

int cmdInvertMask(ScriptState* L) {
    qbBrush* brush = nullptr;
    if (int err = PlaneBrush(L, &brush)) return err;
    if (!Plane(brush->mask)) return ERR_WRONGUSAGE;
    InvertPlane(brush->mask);
    return 0;
}

int cmdInvertAlphaChannel(ScriptState* L) {
    qbBrush* brush = nullptr;
    if (int err = PlaneBrush(L, &brush)) return err;
    if (!Plane(brush->alpha)) return ERR_WRONGUSAGE;
    InvertPlane(brush->alpha);
    return 0;
}

int cmdChangeBrushTransparency(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    int32_t type = 0;
    if (int err = BrushIntArg(L, 2, &type)) return err;
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushNoVector, &brush)) return err;
    const int32_t w = brush->width, h = brush->height;
    switch (type) {
        case kTypeMask: {
            if (brush->mask) return 0;
            BitmapPtr mask(AllocMask(brush->bitmap, w, h, true, nullptr, 0));
            if (!mask) return ERR_ALLOCMASK;
            const qbBitmapPlane* alpha = Plane(brush->alpha);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    if (!alpha || alpha->data[static_cast<size_t>(y) * alpha->rowBytes + static_cast<size_t>(x)] > 0)
                        WriteBitmapPixel(mask.get(), x, y, kMaskVisible, true);
            DropAlpha(brush);
            brush->mask = mask.release();
            return 0;
        }
        case kTypeAlphaChannel: {
            if (brush->alpha) return 0;
            BitmapPtr alpha(AllocAlphaChannel(w, h, true, nullptr, 0));
            if (!alpha) return ERR_ALLOCALPHA;
            qbBitmapPlane& plane = *alpha->plane;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    plane.data[static_cast<size_t>(y) * plane.rowBytes + static_cast<size_t>(x)] =
                        !brush->mask || ReadBitmapPixel(brush->mask, x, y, true) ? 255 : 0;
            DropMask(brush);
            brush->transparentColour = -1;
            brush->alpha = alpha.release();
            return 0;
        }
        case kPlanesNone:
            DropMask(brush);
            DropAlpha(brush);
            brush->transparentColour = -1;
            return 0;
        default: return ERR_WRONGUSAGE;
    }
}

int GetBrushDimensions(ScriptState* L, int32_t id, qbBitmap** bitmap, qbBitmap** mask, qbBitmap** alpha,
                       int32_t* width, int32_t* height) {
    qbBrush* brush = nullptr;
    if (GetBrushRecord(L, ObjectID{id, nullptr}, &brush, kBrushNoVector | kBrushHardwareToo) != 0) return 0;
    if (bitmap) *bitmap = brush->bitmap;
    if (mask) *mask = brush->mask;
    if (alpha) *alpha = brush->alpha;
    if (width) *width = brush->width;
    if (height) *height = brush->height;
    return 1;
}
