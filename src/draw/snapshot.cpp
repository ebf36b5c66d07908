// SaveSnapshot: the display's window as the screen shows it, the display's
// own picture, or its whole monitor, written as an image file.
#include "core/argapi.h"
#include "core/errcodes.h"
#include "core/numbers.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/display.h"
#include "display/imagewriter.h"
#include "draw/graphicsobjects.h"
#include "imaging/bitmap.h"

namespace {

constexpr int32_t kSnapWindow = 0;
constexpr int32_t kSnapDisplay = 1;
constexpr int32_t kSnapDesktop = 2;

// A bitmap the snapshot reads, freed afterwards when it was made for it.
struct SnapSource {
    qbBitmap* bitmap = nullptr;
    BitmapPtr owned;
};

int GrabInto(qbDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height, SnapSource* out) {
    out->owned.reset(GrabDisplayScreen(d, x, y, width, height));
    if (!out->owned) return ERR_BITMAP;
    out->bitmap = out->owned.get();
    return 0;
}

int DisplayPicture(ScriptState* L, qbDisplay* d, SnapSource* out) {
    if (d->softDoubleBuffer || d->hardDoubleBuffer) return ERR_WRONGUSAGE;
    const bool straight = d->output.type == kObjectTypeDisplay && !d->output.selected;
    if (straight && d->bgpic && d->layersEnabled) {
        qbBitmap* composed = nullptr;
        bool owned = false;
        const qbBGPic* b = d->bgpic;
        if (int err = RenderBGPicLayersToBitmap(L, d->bgpic, 0, 0, b->currentWidth, b->currentHeight, &composed,
                                                &owned))
            return err;
        if (owned) out->owned.reset(composed);
        out->bitmap = composed;
        return 0;
    }
    out->bitmap = d->spriteFreeBuffer.get();
    return out->bitmap ? 0 : ERR_CLOSEDDISPLAY;
}

void ReadOptions(ScriptState* L, qbImageSaveOptions* options) {
    if (VmGetTop(L) != 4) return;
    if (VmType(L, 4) == kTypeTable) {
        GetTableFieldInt(L, 4, "quality", &options->quality, nullptr);
        GetTableFieldInt(L, 4, "colors", &options->colors, nullptr);
        GetTableFieldInt(L, 4, "dither", &options->dither, nullptr);
    } else if (VmType(L, 4) == kTypeNumber) {
        options->quality = ClampToInt32(VmToNumber(L, 4));
    }
}

int32_t OptionalInt(ScriptState* L, int idx, int32_t fallback) {
    return VmGetTop(L) >= idx && VmType(L, idx) != kTypeNil ? ClampToInt32(VmCheckNumber(L, idx)) : fallback;
}

}  // namespace

int cmdSaveSnapshot(ScriptState* L) {
    CheckArgCount(L, 1, 4, 0, 0);
    const char* fileName = VmCheckString(L, 1, nullptr);
    const int32_t type = OptionalInt(L, 2, kSnapWindow);
    const int32_t format = OptionalInt(L, 3, kImageFormatBMP);
    qbImageSaveOptions options;
    ReadOptions(L, &options);
    qbDisplay* d = GetCurrentDisplay();
    if (!d) return ERR_FINDDISPLAY;
    SnapSource source;
    int err = 0;
    switch (type) {
    case kSnapWindow:
        if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
        err = GrabInto(d, d->x, d->y, d->width + d->borderWidth, d->height + d->borderHeight, &source);
        break;
    case kSnapDisplay: err = DisplayPicture(L, d, &source); break;
    case kSnapDesktop: {
        int32_t x = 0, y = 0, width = 0, height = 0;
        err = GetDisplayMonitorInfo(d, &x, &y, &width, &height);
        if (!err) err = GrabInto(d, x, y, width, height, &source);
        break;
    }
    default: return ERR_WRONGUSAGE;
    }
    if (err) return err;
    return SaveBitmapImage(format, source.bitmap, source.bitmap->width, source.bitmap->height, fileName, nullptr,
                           kNoKeyColour, nullptr, options, true);
}
