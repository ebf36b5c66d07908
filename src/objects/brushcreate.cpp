// The commands that make and free brushes. A new brush is built in full
// under an automatic id before it takes a numbered id over, so that a
// failed command leaves the brush that had the number as it was.
#include <algorithm>
#include <cmath>

#include "core/argapi.h"
#include "core/errcodes.h"
#include "display/display.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "imaging/shadowmask.h"
#include "objects/adoptid.h"
#include "objects/brushes.h"
#include "objects/brushhardware.h"
#include "objects/brushlib.h"

namespace {

// Colours are $AARRGGBB: a negative number keeps its 32 bits, others clamp.
int ColourArg(ScriptState* L, int idx, uint32_t* out) {
    const double v = VmCheckNumber(L, idx);
    if (!std::isfinite(v)) return ERR_WRONGUSAGE;
    if (v < 0)
        *out = static_cast<uint32_t>(static_cast<int32_t>(std::max(v, -2147483648.0)));
    else
        *out = v >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    return 0;
}

// The command's result: the new automatic id, or nothing for a number.
int Finish(ScriptState* L, qbBrush* made, NewObjectID id) {
    if (int err = AdoptBrushID(L, made, id)) return err;
    return NewObjectResult(L, *made, id);
}

}  // namespace

int cmdCreateBrush(ScriptState* L) {
    CheckArgCount(L, 3, 5, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    int32_t width = 0;
    int32_t height = 0;
    if (int err = BrushIntArg(L, 2, &width)) return err;
    if (int err = BrushIntArg(L, 3, &height)) return err;
    uint32_t colour = 0;
    if (VmGetTop(L) >= 4 && VmType(L, 4) != kTypeNil)
        if (int err = ColourArg(L, 4, &colour)) return err;
    bool withAlpha = false;
    bool withMask = false;
    bool clear = false;
    bool hardware = false;
    int32_t displayId = 0;
    if (VmGetTop(L) >= 5 && VmType(L, 5) != kTypeNil) {
        if (VmType(L, 5) != kTypeTable) return ERR_TABLEORNIL;
        withAlpha = GetTableFieldFlag(L, 5, "alphachannel");
        withMask = GetTableFieldFlag(L, 5, "mask");
        clear = GetTableFieldFlag(L, 5, "clear");
        hardware = GetTableFieldFlag(L, 5, "hardware");
        GetTableFieldInt(L, 5, "display", &displayId, nullptr);
    }
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (withAlpha && withMask) return ERR_WRONGUSAGE;
    qbDisplay* display = nullptr;
    if (int err = ResolveHardwareBrush(&hardware, displayId, &display)) return err;
    qbBrush* made = nullptr;
    if (int err = MakeFilledBrush(width, height, colour, withMask, withAlpha, clear, &made)) return err;
    SetBrushHardware(made, hardware, display);
    return Finish(L, made, id);
}

int MakeFilledBrush(int32_t width, int32_t height, uint32_t colour, bool withMask, bool withAlpha, bool clear,
                    qbBrush** out) {
    BitmapPtr bitmap(AllocBitmap(width, height, 0, nullptr));
    if (!bitmap) return ERR_BITMAP;
    FillBitmapRect(bitmap.get(), 0, 0, width, height, colour & 0x00FFFFFFu);
    BitmapPtr mask;
    BitmapPtr alpha;
    if (withMask) {
        mask.reset(AllocMask(bitmap.get(), width, height, true, nullptr, 0));
        if (!mask) return ERR_ALLOCMASK;
        if (!clear) FillMaskRect(mask.get(), 0, 0, width, height, kMaskVisible);
    } else if (withAlpha) {
        alpha.reset(AllocAlphaChannel(width, height, true, nullptr, 0));
        if (!alpha) return ERR_ALLOCALPHA;
        if (!clear) FillAlphaRect(alpha.get(), 0, 0, width, height, 255);
    }
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, width, height, width, 0, nullptr, bitmap.get(),
                                   withMask ? kCreatedMaskKey : -1, mask.get(), alpha.get(), ObjectID{}, out))
        return err;
    bitmap.release();
    mask.release();
    alpha.release();
    return 0;
}

int cmdCopyBrush(ScriptState* L) {
    CheckArgCount(L, 2, 3, 0, 0);
    const ObjectID sourceId = GetObjectIDArg(L, 1);
    const NewObjectID id = GetNewObjectIDArg(L, 2);
    if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
    if (VmGetTop(L) >= 3 && VmType(L, 3) != kTypeNil && VmType(L, 3) != kTypeTable) return ERR_TABLEORNIL;
    qbAnyBrushRef found(L, sourceId);
    qbTaken<qbBrush> source = nullptr;
    if (int err = found.Take(&source)) return err;
    int32_t wanted = -1;
    int32_t displayId = source->hardware && source->display ? source->display->id : 0;
    if (VmGetTop(L) >= 3 && VmType(L, 3) == kTypeTable) {
        GetTableFieldInt(L, 3, "hardware", &wanted, nullptr);
        GetTableFieldInt(L, 3, "display", &displayId, nullptr);
    }
    if (int err = found.Take(&source)) return err;
    if (source->hardware && wanted == 0) return ERR_WRONGUSAGE;
    bool hardware = source->hardware || wanted > 0;
    qbDisplay* display = nullptr;
    if (int err = ResolveHardwareBrush(&hardware, displayId, &display)) return err;
    qbBrush* made = nullptr;
    if (int err = CopyBrushCore(L, source, &made)) return err;
    SetBrushHardware(made, hardware, display);
    return Finish(L, made, id);
}

namespace {

// CreateShadowBrush and CreateBorderBrush: the source's shape (its alpha
// channel, its mask or its rectangle), blurred, over a rectangle of the
// colour; the colour's alpha byte counts as transparency. A border is the
// shape hardened to full opacity wherever the blur reaches.
int MakeSoftOutlineBrush(ScriptState* L, bool border) {
    CheckArgCount(L, 3, 5, 0, 0);
    const NewObjectID id = GetNewObjectIDArg(L, 1);
    const ObjectID sourceId = GetObjectIDArg(L, 2);
    uint32_t colour = 0;
    if (int err = ColourArg(L, 3, &colour)) return err;
    const double radius = VmOptNumber(L, 4, 5.0);
    const double sigma = VmOptNumber(L, 5, radius / 3);
    if (!std::isfinite(radius) || !std::isfinite(sigma)) return ERR_WRONGUSAGE;
    if (radius < 1.0) return ERR_WRONGUSAGE;
    if (!id.chooseFlag && !sourceId.handle && sourceId.number == id.id) return ERR_WRONGUSAGE;
    qbBrush* source = nullptr;
    if (int err = GetBrushRecord(L, sourceId, &source, 0)) return err;
    const int64_t grow = 2 * static_cast<int64_t>(std::min(radius, 4294967296.0));
    const int64_t width = source->width + grow;
    const int64_t height = source->height + grow;
    if (width > INT32_MAX || height > INT32_MAX) return ERR_BITMAP;
    const auto w = static_cast<int32_t>(width);
    const auto h = static_cast<int32_t>(height);
    BitmapPtr bitmap(AllocBitmap(w, h, 0, nullptr));
    if (!bitmap) return ERR_BITMAP;
    FillBitmapRect(bitmap.get(), 0, 0, w, h, colour & 0x00FFFFFFu);
    BitmapPtr alpha;
    if (!border || source->alpha || source->mask) {
        qbBitmap* plane = nullptr;
        if (int err = BuildShadowMask(source->alpha, source->mask, 0, 0, source->width, source->height, radius, sigma,
                                      static_cast<uint8_t>(255 - (colour >> 24)), border, radius >= 4.0, &plane))
            return err == ERR_COORDSRANGE ? ERR_MEM : err;
        alpha.reset(plane);
    }
    qbBrush* made = nullptr;
    if (int err = AllocBrushRecord(NewObjectID{0, 1}, kBrushPixels, w, h, w, 0, nullptr, bitmap.get(), -1, nullptr,
                                   alpha.get(), ObjectID{}, &made))
        return err;
    bitmap.release();
    alpha.release();
    return Finish(L, made, id);
}

}  // namespace

int cmdCreateShadowBrush(ScriptState* L) { return MakeSoftOutlineBrush(L, false); }

int cmdCreateBorderBrush(ScriptState* L) { return MakeSoftOutlineBrush(L, true); }

int cmdFreeBrush(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeBrushObject(L, GetObjectIDArg(L, 1), true);
}
