// Pixel access to brushes: single pixels, the whole brush as a table of
// ARGB numbers and back, and the flood fill.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/numbers.h"
#include "core/pixelformats.h"
#include "core/truth.h"
#include "display/gradientopts.h"
#include "display/positions.h"
#include "imaging/bitmap.h"
#include "imaging/floodfill.h"
#include "imaging/planerect.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "objects/brushgeometry.h"
#include "objects/brushlib.h"
#include "objects/brushpixelcmds.h"
#include "vm/vm.h"

namespace {

constexpr int32_t kTypeMask = 28, kTypeAlphaChannel = 30;

// Locks a colour bitmap for the life of the record.
struct ScopedLock {
    qbBitmapLock lock;
    bool held = false;
    ScopedLock(qbBitmap* bitmap, uint32_t flags) { held = bitmap && LockBitmap(bitmap, flags, &lock) != 0; }
    ~ScopedLock() {
        if (held) UnlockBitmap(&lock);
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    uint8_t* At(int32_t x, int32_t y) const {
        return static_cast<uint8_t*>(lock.pixels) +
               (static_cast<ptrdiff_t>(y) * lock.rowLength + x) * static_cast<ptrdiff_t>(lock.bytesPerPixel);
    }
};

// A coordinate argument: a number or a position constant, resolved as for
// an object of one pixel in the brush.
int PositionArg(ScriptState* L, int idx, int32_t size, bool horizontal, int32_t* out) {
    int32_t v = 0;
    if (int err = BrushIntArg(L, idx, &v)) return err;
    *out = horizontal ? ResolveSpecialX(v, 1, size, 0.0) : ResolveSpecialY(v, 1, size, 0.0);
    return 0;
}

uint32_t ColourArg(ScriptState* L, int idx) { return static_cast<uint32_t>(ColourBits(VmCheckNumber(L, idx))); }

qbBitmapPlane* Plane(qbBitmap* bitmap) { return bitmap && bitmap->plane ? bitmap->plane.get() : nullptr; }

// The colour ($RRGGBB) as the bitmap's pixel value: 4-byte formats with a
// zero alpha byte, 2-byte formats in the low 16 bits.
uint32_t PixelValue(const qbBitmapLock& lock, uint32_t colour) {
    const uint8_t rgb[3] = {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                            static_cast<uint8_t>(colour)};
    uint8_t bytes[4] = {0, 0, 0, 0};
    WritePixelRGB(bytes, static_cast<int>(lock.pixelFormat), rgb);
    if (lock.bytesPerPixel == 2) {
        uint16_t v = 0;
        std::memcpy(&v, bytes, 2);
        return v;
    }
    uint32_t v = 0;
    std::memcpy(&v, bytes, 4);
    return v;
}

}  // namespace

int cmdReadBrushPixel(ScriptState* L) {
    CheckArgCount(L, 3, 3, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, GetObjectIDArg(L, 1), &brush, 0)) return err;
    int32_t x = 0, y = 0;
    if (int err = PositionArg(L, 2, brush->width, true, &x)) return err;
    if (int err = PositionArg(L, 3, brush->height, false, &y)) return err;
    if (x < 0 || y < 0 || x >= brush->width || y >= brush->height || !brush->bitmap) {
        VmPushNumber(L, 4294967295.0);
        VmPushNumber(L, -1);
        return 2;
    }
    VmPushNumber(L, ReadBitmapPixel(brush->bitmap, x, y, false));
    if (brush->mask) {
        VmPushNumber(L, ReadBitmapPixel(brush->mask, x, y, true));
    } else if (const qbBitmapPlane* alpha = Plane(brush->alpha)) {
        VmPushNumber(L, alpha->data[static_cast<size_t>(y) * alpha->rowBytes + static_cast<size_t>(x)]);
    } else {
        VmPushNumber(L, -1);
    }
    return 2;
}

int cmdWriteBrushPixel(ScriptState* L) {
    CheckArgCount(L, 4, 5, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushNoVector, &brush)) return err;
    int32_t x = 0, y = 0;
    if (int err = PositionArg(L, 2, brush->width, true, &x)) return err;
    if (int err = PositionArg(L, 3, brush->height, false, &y)) return err;
    const uint32_t colour = ColourArg(L, 4);
    int32_t alpha = -1;
    if (VmGetTop(L) >= 5 && VmType(L, 5) != kTypeNil) alpha = ColourBits(VmCheckNumber(L, 5));
    if (x < 0 || y < 0 || x >= brush->width || y >= brush->height) return 0;
    WriteBitmapPixel(brush->bitmap, x, y, colour & 0xFFFFFFu, false);
    if (alpha == -1) return 0;
    if (brush->mask) {
        WriteBitmapPixel(brush->mask, x, y, alpha == 0 ? kMaskInvisible : kMaskVisible, true);
    } else if (qbBitmapPlane* plane = Plane(brush->alpha)) {
        plane->data[static_cast<size_t>(y) * plane->rowBytes + static_cast<size_t>(x)] =
            static_cast<uint8_t>(alpha & 0xFF);
    }
    return 0;
}

int cmdBrushToRGBArray(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    const bool invert = ScriptTruth(L, 2);
    qbBrush* brush = nullptr;
    if (int err = GetBrushRecord(L, GetObjectIDArg(L, 1), &brush, 0)) return err;
    if (!brush->bitmap) return ERR_LOCKBMAP;
    const std::vector<uint32_t> argb = GetBitmapARGB(brush->bitmap, 0, 0, brush->width, brush->height, brush->mask,
                                                     brush->alpha, kNoKeyColour, true, kLockReadOnly);
    if (argb.empty()) return ERR_LOCKBMAP;
    VmPushNewTableSized(L, static_cast<int>(std::min<size_t>(argb.size(), INT32_MAX)), 0);
    for (size_t i = 0; i < argb.size(); ++i) {
        const uint32_t v = invert ? argb[i] ^ 0xFF000000u : argb[i];
        VmPushNumber(L, v);
        VmRawSetIndex(L, -2, static_cast<int>(i));
    }
    return 1;
}

int cmdRGBArrayToBrush(ScriptState* L) {
    CheckArgCount(L, 4, 6, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    VmCheckTable(L, 2);
    int32_t width = 0, height = 0, type = 0;
    if (int err = BrushIntArg(L, 3, &width)) return err;
    if (int err = BrushIntArg(L, 4, &height)) return err;
    if (VmGetTop(L) >= 5 && VmType(L, 5) != kTypeNil)
        if (int err = BrushIntArg(L, 5, &type)) return err;
    const bool invert = ScriptTruth(L, 6);
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    qbBrush* made = nullptr;
    if (int err = MakeFilledBrush(width, height, 0, type == kTypeMask, type == kTypeAlphaChannel, true, &made))
        return err;
    // Built in full under an automatic id; the old brush of the number goes
    // only once this one exists.
    int err = 0;
    {
        ScopedLock locked(made->bitmap, 0);
        qbBitmapPlane* mask = Plane(made->mask);
        qbBitmapPlane* alpha = Plane(made->alpha);
        if (!locked.held) err = ERR_LOCKBMAP;
        const int format = static_cast<int>(locked.lock.pixelFormat);
        for (int32_t y = 0; !err && y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                VmRawGetIndex(L, 2, static_cast<int>(int64_t{y} * width + x));
                const bool present = VmType(L, -1) == kTypeNumber;
                const double n = VmToNumber(L, -1);
                VmSetTop(L, -2);
                if (!present) {
                    err = ERR_NOTENOUGHPIXELS;
                    break;
                }
                const uint32_t v = n <= 0 || std::isnan(n) ? 0u : n >= 4294967295.0 ? 0xFFFFFFFFu
                                                                                     : static_cast<uint32_t>(n);
                const uint8_t rgb[3] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                                        static_cast<uint8_t>(v)};
                WritePixelRGB(locked.At(x, y), format, rgb);
                const uint32_t a = invert ? 255 - (v >> 24) : v >> 24;
                if (mask && a != 0) WriteBitmapPixel(made->mask, x, y, kMaskVisible, true);
                if (alpha) alpha->data[static_cast<size_t>(y) * alpha->rowBytes + static_cast<size_t>(x)] =
                    static_cast<uint8_t>(a);
            }
        }
    }
    if (err) {
        UnlinkAndFreeBrush(L, made);
        return err;
    }
    if (int adoptErr = AdoptBrushID(L, made, id)) return adoptErr;
    return NewObjectResult(L, *made, id);
}

int cmdFloodFill(ScriptState* L) {
    CheckArgCount(L, 5, 5, 0, 0);
    qbBrush* brush = nullptr;
    if (int err = GetBrushToReshape(L, 1, kBrushNoVector, &brush)) return err;
    int32_t x = 0, y = 0;
    if (int err = PositionArg(L, 2, brush->width, true, &x)) return err;
    if (int err = PositionArg(L, 3, brush->height, false, &y)) return err;
    const uint32_t border = ColourArg(L, 4) & 0xFFFFFFu;
    const uint32_t fill = ColourArg(L, 5) & 0xFFFFFFu;
    if (x < 0 || y < 0) return ERR_NEGCOORDS;
    if (x >= brush->width || y >= brush->height) return ERR_COORDSRANGE;
    ScopedLock locked(brush->bitmap, 0);
    if (!locked.held) return ERR_LOCKBMAP;
    const qbBitmapLock& lock = locked.lock;
    if (lock.bytesPerPixel == 4) {
        return FloodFill32({static_cast<uint32_t*>(lock.pixels), lock.rowLength, 0, 0}, brush->width, brush->height,
                           x, y, PixelValue(lock, border), PixelValue(lock, fill), ColourBitsMask32(lock.pixelFormat));
    }
    if (lock.bytesPerPixel == 2) {
        return FloodFill16({static_cast<uint16_t*>(lock.pixels), lock.rowLength, 0, 0}, brush->width, brush->height,
                           x, y, static_cast<uint16_t>(PixelValue(lock, border)),
                           static_cast<uint16_t>(PixelValue(lock, fill)));
    }
    return 0;
}
